#include "common/messagedialog.h"
#include "testsupport.h"

#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QtTest>

class tst_MessageDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void closesItselfAndStaysClosedAfterClose();
};

void tst_MessageDialog::closesItselfAndStaysClosedAfterClose()
{
    QWidget parent;
    showMessage(&parent, QStringLiteral("ERROR"), QStringLiteral("closed by hand"));
    QPointer<MessageDialog> byHand = parent.findChild<MessageDialog *>();
    QVERIFY(byHand);
    showMessage(&parent, QStringLiteral("WARNING"), QStringLiteral("line one\nline two"));
    QPointer<MessageDialog> leftAlone = parent.findChildren<MessageDialog *>().last();
    QVERIFY(leftAlone != byHand && leftAlone->isVisible() && leftAlone->isModal());
    QCOMPARE(leftAlone->findChild<QGroupBox *>("groupBox_message")->title(),
             QStringLiteral("WARNING"));
    QCOMPARE(leftAlone->findChild<QTextBrowser *>("textBrowser")->toPlainText(),
             QStringLiteral("line one\nline two"));

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
