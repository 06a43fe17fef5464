#include "../view/viewfixture.h"

#include "device/sensingoptiondialog.h"
#include "projectfixture.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

using namespace ViewFixture;

namespace
{

const char *const kRanges[] = {"doubleSpinBox_min_ch1", "doubleSpinBox_max_ch1",
                               "doubleSpinBox_min_ch2", "doubleSpinBox_max_ch2"};

} // namespace

class TstSensingOptionDialog : public QObject
{
    Q_OBJECT

    Project m_project;
    NodeDevice *m_node = nullptr;
    QPointer<SensingOptionDialog> m_dialog;

    SensingOptionDialog *open()
    {
        m_dialog = new SensingOptionDialog(m_node);
        m_dialog->show();
        return m_dialog;
    }
    void confirm()
    {
        QTest::mouseClick(child<QWidget>(m_dialog, "pushButton_confirm"), Qt::LeftButton);
    }
    QComboBox *unit(const char *name) { return child<QComboBox>(m_dialog, name); }

private slots:
    void init()
    {
        m_project = Project();
        m_project.addConnection(QStringLiteral("127.0.0.1"), 1);
        m_node = m_project.nodes().first();
    }
    void cleanup() { delete m_dialog; } // a dialog that stays open

    // Alarm ranges can be edited only while connected; confirming writes
    // names, units and ranges.
    void confirmWritesNode_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::newRow("connected") << true;
        QTest::newRow("disconnected") << false;
    }
    void confirmWritesNode()
    {
        QFETCH(bool, connected);
        if (connected)
            m_project.devices.first()->deviceConnected();
        m_node->setUnits(2, 3);
        m_node->setAlarmRange(1.5f, 2.5f, -3.25f, 4.0f);
        QSignalSpy spy(open(), &SensingOptionDialog::sensingConfirm);
        QCOMPARE(unit("comboBox_unit_ch1")->currentData().toInt(), 2);
        QCOMPARE(child<QDoubleSpinBox>(m_dialog, "doubleSpinBox_min_ch2")->value(), -3.25);
        const double values[] = {10.1, 30, 20, 80};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(child<QDoubleSpinBox>(m_dialog, kRanges[i])->isEnabled(), connected);
            if (connected)
                child<QDoubleSpinBox>(m_dialog, kRanges[i])->setValue(values[i]);
        }
        child<QLineEdit>(m_dialog, "lineEdit_devicename")->setText(QStringLiteral("Cold room"));
        unit("comboBox_unit_ch1")->setCurrentIndex(1);
        confirm();
        QCOMPARE(spy.count(), 1);
        QCOMPARE(m_node->deviceName(), QStringLiteral("Cold room"));
        QCOMPARE(m_node->ch1Unit(), 1);
        QCOMPARE(m_node->alarmRange(), connected ? (QVector<float>{10.1f, 30.0f, 20.0f, 80.0f})
                                                 : (QVector<float>{1.5f, 2.5f, -3.25f, 4.0f}));
        QTRY_VERIFY(m_dialog.isNull());
    }

    void customUnitItem()
    {
        m_node->setUnits(4, 0);
        m_node->setCustomUnits(QStringLiteral("ppm"), QString());
        open();
        // The custom code opens with an editable box showing the node's text.
        QVERIFY(unit("comboBox_unit_ch1")->isEditable());
        QCOMPARE(unit("comboBox_unit_ch1")->currentText(), QStringLiteral("ppm"));
        QCOMPARE(unit("comboBox_unit_ch2")->itemText(4), QStringLiteral("Custom"));
        QVERIFY(!unit("comboBox_unit_ch2")->isEditable());
        unit("comboBox_unit_ch2")->setCurrentIndex(4);
        QVERIFY(unit("comboBox_unit_ch2")->isEditable());
        unit("comboBox_unit_ch2")->setCurrentIndex(1);
        unit("comboBox_unit_ch1")->lineEdit()->selectAll();
        QTest::keyClicks(unit("comboBox_unit_ch1")->lineEdit(), QStringLiteral("kilopascals-x"));
        confirm();
        QCOMPARE(m_node->ch1Unit(), 4);
        QCOMPARE(m_node->ch1CustomUnit(), QStringLiteral("kilopascals")); // at most 11 characters
        QCOMPARE(m_node->ch2Unit(), 1);
        QCOMPARE(m_node->ch2CustomUnit(), QString());
    }

    void validation_data()
    {
        QTest::addColumn<QStringList>("names"); // device, channel 1, channel 2
        QTest::addColumn<QString>("ranges");
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty") << QStringList{"", "", ""} << "5 4 5 4"
                                   << "Enter the Device Name.";
        QTest::newRow("channel 1") << QStringList{"d", "", ""} << "0 0 0 0"
                                   << "Enter the Channel-1 Name.";
        QTest::newRow("channel 2") << QStringList{"d", "a", ""} << "0 0 0 0"
                                   << "Enter the Channel-2 Name.";
        // A minimum above the maximum would switch the alarm off unnoticed.
        QTest::newRow("channel 1 range") << QStringList{"d", "a", "b"} << "5 4.99 0 0"
                                         << "The Channel-1 alarm minimum is above its maximum.";
        QTest::newRow("channel 2 range") << QStringList{"d", "a", "b"} << "4 5 -1 -2"
                                         << "The Channel-2 alarm minimum is above its maximum.";
    }
    void validation()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, ranges);
        QFETCH(QString, message);
        const QString oldName = m_node->deviceName();
        m_project.devices.first()->deviceConnected();
        QSignalSpy spy(open(), &SensingOptionDialog::sensingConfirm);
        const QStringList limits = ranges.split(QLatin1Char(' '));
        for (int i = 0; i < 4; ++i)
            child<QDoubleSpinBox>(m_dialog, kRanges[i])->setValue(limits[i].toDouble());
        for (const char *name : {"lineEdit_devicename", "lineEdit_ch1name", "lineEdit_ch2name"})
            child<QLineEdit>(m_dialog, name)->setText(names.takeFirst());
        confirm();
        QCoreApplication::processEvents();
        QVERIFY(m_dialog && m_dialog->isVisible());
        QCOMPARE(spy.count(), 0);
        QCOMPARE(TestSupport::shownMessages(m_dialog), QStringList{"INFORMATION|" + message});
        QCOMPARE(m_node->deviceName(), oldName);
    }
};

QTEST_MAIN(TstSensingOptionDialog)
#include "tst_sensingoptiondialog.moc"
