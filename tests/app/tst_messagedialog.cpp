#include "app/messagedialog.h"
#include "testsupport.h"

#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QtTest>

class tst_MessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void showsTitleAndText_data();
    void showsTitleAndText();
    void closesItselfAndStaysClosedAfterClose();
};

void tst_MessageDialog::showsTitleAndText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<int>("blocks");

    QTest::newRow("one line") << "Unable to open the project file."
                              << "Unable to open the project file." << 1;
    QTest::newRow("line breaks")
        << "\"abcdefghijklmnopq.qlk\" is too long.\nPlease retry.\nMax Length is 20 charactors."
        << "\"abcdefghijklmnopq.qlk\" is too long.\nPlease retry.\nMax Length is 20 charactors." << 3;
    QTest::newRow("rich text") << "<b>Bold</b> text" << "Bold text" << 1;
}

void tst_MessageDialog::showsTitleAndText()
{
    QFETCH(QString, message);
    QFETCH(QString, plain);
    QFETCH(int, blocks);

    QWidget parent;
    showMessage(&parent, QStringLiteral("WARNING"), message);
    auto *dialog = parent.findChild<MessageDialog *>();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->isModal());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Quillark Lite Modbus"));
    QCOMPARE(dialog->findChild<QGroupBox *>("groupBox_message")->title(), QStringLiteral("WARNING"));
    auto *browser = dialog->findChild<QTextBrowser *>("textBrowser");
    QCOMPARE(browser->toPlainText(), plain);
    QCOMPARE(browser->document()->blockCount(), blocks);
    QCOMPARE(dialog->findChild<QPushButton *>("pushButton_close")->text(), QStringLiteral("CLOSE"));
    dialog->close();
}

void tst_MessageDialog::closesItselfAndStaysClosedAfterClose()
{
    QWidget parent;
    showMessage(&parent, QStringLiteral("ERROR"), QStringLiteral("closed by hand"));
    QPointer<MessageDialog> byHand = parent.findChild<MessageDialog *>();
    QVERIFY(byHand);
    showMessage(&parent, QStringLiteral("ERROR"), QStringLiteral("left alone"));
    QPointer<MessageDialog> leftAlone;
    for (MessageDialog *d : parent.findChildren<MessageDialog *>()) {
        if (d != byHand)
            leftAlone = d;
    }
    QVERIFY(leftAlone);
    QVERIFY(leftAlone->isVisible());

    QTest::mouseClick(byHand->findChild<QPushButton *>("pushButton_close"), Qt::LeftButton);
    QTRY_VERIFY(!byHand || !byHand->isVisible());

    // The untouched one goes by itself; by then the first one's timer has
    // fired as well and must not have brought it back.
    QVERIFY(QTest::qWaitFor([&]() { return !leftAlone || !leftAlone->isVisible(); }, 6000));
    QVERIFY(!byHand || !byHand->isVisible());
    // Closed messages do not pile up under their parent.
    QTRY_COMPARE(parent.findChildren<MessageDialog *>().size(), 0);
}

QTEST_MAIN(tst_MessageDialog)
#include "tst_messagedialog.moc"
