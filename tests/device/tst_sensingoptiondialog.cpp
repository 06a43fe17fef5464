#include "../view/viewfixture.h"

#include "app/messagedialog.h"
#include "device/sensingoptiondialog.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QTextBrowser>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace ViewFixture;

class TstSensingOptionDialog : public QObject
{
    Q_OBJECT

private:
    // Texts and titles of the message dialogs shown over `dialog` so far.
    static QStringList shownMessages(QWidget *dialog)
    {
        QStringList texts;
        for (MessageDialog *message : dialog->findChildren<MessageDialog *>()) {
            for (QTextBrowser *text : message->findChildren<QTextBrowser *>())
                texts << text->toPlainText();
            for (QGroupBox *box : message->findChildren<QGroupBox *>())
                texts << QStringLiteral("title:") + box->title();
        }
        return texts;
    }

private slots:
    void fillsFromNode();
    void alarmRangesEditableOnlyWhileConnected();
    void customUnitItem();
    void customUnitPolicy();
    void validation_data();
    void validation();
    void confirmWritesNode();
    void disconnectedConfirmKeepsRanges();
    void rejectDeletes();
};

void TstSensingOptionDialog::fillsFromNode()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    node->setNames(QStringLiteral("Freezer"), QStringLiteral("Air"), QStringLiteral("Door"));
    node->setUnits(2, 3);
    node->setAlarmRange(-30.5f, -10.25f, 0.0f, 1.0f);
    auto *dialog = new SensingOptionDialog(node);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Quillark Lite Modbus"));
    QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
    QCOMPARE(child<QLabel>(dialog, "label_serialnumber")->text(), node->deviceNumber());
    QCOMPARE(child<QLineEdit>(dialog, "lineEdit_devicename")->text(), QStringLiteral("Freezer"));
    QCOMPARE(child<QLineEdit>(dialog, "lineEdit_ch1name")->text(), QStringLiteral("Air"));
    QCOMPARE(child<QLineEdit>(dialog, "lineEdit_ch2name")->text(), QStringLiteral("Door"));
    auto *unit1 = child<QComboBox>(dialog, "comboBox_unit_ch1");
    QCOMPARE(unit1->count(), 5);
    const QStringList texts{QStringLiteral("Undefined"), QStringLiteral("Temperature(C)"),
                            QStringLiteral("Temperature(F)"), QStringLiteral("Humidity"), QStringLiteral("Custom")};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(unit1->itemText(i), texts.at(i));
        QCOMPARE(unit1->itemData(i).toInt(), i);
    }
    QCOMPARE(unit1->currentData().toInt(), 2);
    QCOMPARE(child<QComboBox>(dialog, "comboBox_unit_ch2")->currentData().toInt(), 3);
    QCOMPARE(child<QDoubleSpinBox>(dialog, "doubleSpinBox_min_ch1")->value(), -30.5);
    QCOMPARE(child<QDoubleSpinBox>(dialog, "doubleSpinBox_max_ch1")->value(), -10.25);
    QCOMPARE(child<QDoubleSpinBox>(dialog, "doubleSpinBox_max_ch2")->value(), 1.0);
    QCOMPARE(child<QDoubleSpinBox>(dialog, "doubleSpinBox_min_ch1")->minimum(), -10000000.0);
    QCOMPARE(child<QDoubleSpinBox>(dialog, "doubleSpinBox_min_ch1")->decimals(), 2);
    delete dialog;
}

void TstSensingOptionDialog::alarmRangesEditableOnlyWhileConnected()
{
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 1);
    QScopedPointer<SensingOptionDialog> offline(new SensingOptionDialog(device->nodeList().first()));
    for (const char *name : {"doubleSpinBox_min_ch1", "doubleSpinBox_max_ch1", "doubleSpinBox_min_ch2", "doubleSpinBox_max_ch2"})
        QVERIFY(!child<QDoubleSpinBox>(offline.data(), name)->isEnabled());
    device->deviceConnected();
    QScopedPointer<SensingOptionDialog> online(new SensingOptionDialog(device->nodeList().first()));
    for (const char *name : {"doubleSpinBox_min_ch1", "doubleSpinBox_max_ch1", "doubleSpinBox_min_ch2", "doubleSpinBox_max_ch2"})
        QVERIFY(child<QDoubleSpinBox>(online.data(), name)->isEnabled());
}

void TstSensingOptionDialog::customUnitItem()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    node->setUnits(4, 0);
    node->setCustomUnits(QStringLiteral("ppm"), QString());
    QScopedPointer<SensingOptionDialog> dialog(new SensingOptionDialog(node));
    auto *unit1 = child<QComboBox>(dialog.data(), "comboBox_unit_ch1");
    auto *unit2 = child<QComboBox>(dialog.data(), "comboBox_unit_ch2");
    QCOMPARE(unit1->itemText(4), QStringLiteral("ppm"));
    QCOMPARE(unit2->itemText(4), QStringLiteral("Custom"));
    // A node with the custom code opens with an editable box.
    QVERIFY(unit1->isEditable());
    QCOMPARE(unit1->currentText(), QStringLiteral("ppm"));
    QVERIFY(!unit2->isEditable());
}

void TstSensingOptionDialog::customUnitPolicy()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    auto *dialog = new SensingOptionDialog(node);
    QPointer<SensingOptionDialog> guard(dialog);
    dialog->show();
    auto *unit1 = child<QComboBox>(dialog, "comboBox_unit_ch1");
    auto *unit2 = child<QComboBox>(dialog, "comboBox_unit_ch2");
    unit1->setCurrentIndex(4);
    QVERIFY(unit1->isEditable());
    QCOMPARE(unit1->lineEdit()->maxLength(), 11);
    unit1->lineEdit()->selectAll();
    QTest::keyClicks(unit1->lineEdit(), QStringLiteral("kilopascals-x"));
    QCOMPARE(unit1->currentText(), QStringLiteral("kilopascals"));

    unit2->setCurrentIndex(4);
    QVERIFY(unit2->isEditable());
    unit2->setCurrentIndex(1);
    QVERIFY(!unit2->isEditable());

    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QCOMPARE(node->ch1Unit(), 4);
    QCOMPARE(node->ch1CustomUnit(), QStringLiteral("kilopascals"));
    QCOMPARE(node->ch2Unit(), 1);
    QCOMPARE(node->ch2CustomUnit(), QString());
    QTRY_VERIFY(guard.isNull());
}

void TstSensingOptionDialog::validation_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("ch1");
    QTest::addColumn<QString>("ch2");
    QTest::addColumn<QString>("message");
    QTest::newRow("all empty") << "" << "" << "" << "Enter the Device Name.";
    QTest::newRow("device") << "" << "a" << "b" << "Enter the Device Name.";
    QTest::newRow("channel 1") << "d" << "" << "" << "Enter the Channel-1 Name.";
    QTest::newRow("channel 2") << "d" << "a" << "" << "Enter the Channel-2 Name.";
}

void TstSensingOptionDialog::validation()
{
    QFETCH(QString, device);
    QFETCH(QString, ch1);
    QFETCH(QString, ch2);
    QFETCH(QString, message);
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    const QString oldName = node->deviceName();
    auto *dialog = new SensingOptionDialog(node);
    QPointer<SensingOptionDialog> guard(dialog);
    dialog->show();
    QSignalSpy spy(dialog, &SensingOptionDialog::sensingConfirm);
    child<QLineEdit>(dialog, "lineEdit_devicename")->setText(device);
    child<QLineEdit>(dialog, "lineEdit_ch1name")->setText(ch1);
    child<QLineEdit>(dialog, "lineEdit_ch2name")->setText(ch2);
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QCoreApplication::processEvents();
    QVERIFY(!guard.isNull());
    QVERIFY(dialog->isVisible());
    QCOMPARE(spy.count(), 0);
    QCOMPARE(shownMessages(dialog).filter(QStringLiteral("Enter the")), QStringList{message});
    QVERIFY(shownMessages(dialog).contains(QStringLiteral("title:INFORMATION")));
    QCOMPARE(node->deviceName(), oldName);
    QCOMPARE(child<QLineEdit>(dialog, "lineEdit_ch1name")->text(), ch1);
    delete dialog;
}

void TstSensingOptionDialog::confirmWritesNode()
{
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 1);
    device->deviceConnected();
    NodeDevice *node = project.nodes().first();
    auto *dialog = new SensingOptionDialog(node);
    QPointer<SensingOptionDialog> guard(dialog);
    QSignalSpy spy(dialog, &SensingOptionDialog::sensingConfirm);
    dialog->show();
    child<QLineEdit>(dialog, "lineEdit_devicename")->setText(QStringLiteral("Cold room"));
    child<QLineEdit>(dialog, "lineEdit_ch1name")->setText(QStringLiteral("Air"));
    child<QLineEdit>(dialog, "lineEdit_ch2name")->setText(QStringLiteral("Humidity"));
    child<QComboBox>(dialog, "comboBox_unit_ch1")->setCurrentIndex(1);
    child<QComboBox>(dialog, "comboBox_unit_ch2")->setCurrentIndex(3);
    child<QDoubleSpinBox>(dialog, "doubleSpinBox_min_ch1")->setValue(10.1);
    child<QDoubleSpinBox>(dialog, "doubleSpinBox_max_ch1")->setValue(30);
    // No check that the minimum is below the maximum.
    child<QDoubleSpinBox>(dialog, "doubleSpinBox_min_ch2")->setValue(80);
    child<QDoubleSpinBox>(dialog, "doubleSpinBox_max_ch2")->setValue(20);
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(dialog->result(), int(QDialog::Accepted));
    QCOMPARE(node->deviceName(), QStringLiteral("Cold room"));
    QCOMPARE(node->ch1Name(), QStringLiteral("Air"));
    QCOMPARE(node->ch2Name(), QStringLiteral("Humidity"));
    QCOMPARE(node->ch1Unit(), 1);
    QCOMPARE(node->ch2Unit(), 3);
    QCOMPARE(node->alarmRange(), (QVector<float>{10.1f, 30.0f, 80.0f, 20.0f}));
    QTRY_VERIFY(guard.isNull());
}

void TstSensingOptionDialog::disconnectedConfirmKeepsRanges()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    node->setAlarmRange(1.5f, 2.5f, -3.25f, 4.0f);
    auto *dialog = new SensingOptionDialog(node);
    dialog->show();
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QCOMPARE(node->alarmRange(), (QVector<float>{1.5f, 2.5f, -3.25f, 4.0f}));
}

void TstSensingOptionDialog::rejectDeletes()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    const QString name = node->deviceName();
    auto *dialog = new SensingOptionDialog(node);
    QPointer<SensingOptionDialog> guard(dialog);
    dialog->show();
    child<QLineEdit>(dialog, "lineEdit_devicename")->setText(QStringLiteral("changed"));
    dialog->slotReject();
    QTRY_VERIFY(guard.isNull());
    QCOMPARE(node->deviceName(), name);

    // Escape ends the dialog too, without leaving it behind.
    dialog = new SensingOptionDialog(node);
    guard = dialog;
    dialog->show();
    QTest::keyClick(dialog, Qt::Key_Escape);
    QTRY_VERIFY(guard.isNull());
}

QTEST_MAIN(TstSensingOptionDialog)
#include "tst_sensingoptiondialog.moc"
