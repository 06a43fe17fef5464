#include "viewfixture.h"

#include "common/common.h"
#include "view/valuestyle.h"

#include "common/common.h"
#include "device/networksettingdialog.h"
#include "device/sensingoptiondialog.h"
#include "view/chartview.h"
#include "view/dashboard.h"
#include "view/dashboarddeviceitem.h"
#include "view/projectcenter.h"
#include "view/projectlist.h"

#include <QCommandLinkButton>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace ViewFixture;

class TstProjectCenter : public QObject
{
    Q_OBJECT

private:
    static QLabel *label(ProjectCenter &center, const char *name) { return child<QLabel>(&center, name); }

    struct Open
    {
        Project project;
        ProjectCenter center{QStringLiteral("/tmp/projects/Cold Store.qlk")};

        explicit Open(int devices = 3)
        {
            project.addConnection(QStringLiteral("127.0.0.1"), devices);
            center.setDeviceList(project.devices);
            center.resize(1010, 464);
            center.show();
        }
        ~Open() { project.unlinkViews(); }
    };

private slots:
    void initTestCase() { qRegisterMetaType<NodeDevice *>(); }
    void buildsViews();
    void databaseSize_data();
    void databaseSize();
    void recordBar();
    void recordButton();
    void tileDashboardTileReopensChart();
    void secondClickKeepsChart();
    void listClickSwitchesAndSelects();
    void nullClickIgnored();
    void dialogsOnlyForShownDevice();
    void sensingConfirmUpdatesViews();
    void emptyProjectWorks();
};

void TstProjectCenter::buildsViews()
{
    Open open;
    QCOMPARE(open.center.projectName(), QStringLiteral("Cold Store"));
    QCOMPARE(child<QCommandLinkButton>(&open.center, "button_project")->text(), QStringLiteral("Cold Store"));
    QVERIFY(open.center.isDashboardShown());
    QVERIFY(open.center.dashBoard()->isVisible());
    QVERIFY(!open.center.chartView()->isVisible());
    QCOMPARE(open.center.dashBoard()->tiles().size(), 6);
    QCOMPARE(child<QListWidget>(&open.center, "list_project")->count(), 3);
    for (const char *name : {"label_record_starttime", "label_to", "label_record_endtime", "label_record_bytes"})
        QVERIFY(label(open.center, name)->text().isEmpty());
    // Handing over the same list again adds nothing.
    open.center.setDeviceList(open.project.devices);
    QCOMPARE(open.center.dashBoard()->tiles().size(), 6);
}

void TstProjectCenter::databaseSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("red");
    QTest::newRow("empty") << qint64(0) << "Database 0.00MB" << false;
    QTest::newRow("5 MB") << qint64(5242880) << "Database 5.00MB" << false;
    QTest::newRow("rounding") << qint64(1572863) << "Database 1.50MB" << false;
    QTest::newRow("below 3 GiB") << qint64(3221225471) << "Database 3072.00MB" << false;
    QTest::newRow("3 GiB") << qint64(3221225472) << "Database 3072.00MB" << true;
    QTest::newRow("4 GiB") << qint64(4294967296) << "Database 4096.00MB" << true;
}

void TstProjectCenter::databaseSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QFETCH(bool, red);
    Open open(1);
    open.center.setDatabaseSize(bytes);
    QCOMPARE(label(open.center, "label_record_bytes")->text(), text);
    QCOMPARE(label(open.center, "label_record_bytes")->styleSheet(),
             red ? ProjectCenter::kStyleSizeLimit : ProjectCenter::kStyleIdle);
    QCOMPARE(ProjectCenter::kStyleSizeLimit, QStringLiteral("color:rgb(230,80,80);background-color:transparent;"));
    QCOMPARE(ProjectCenter::kStyleIdle, QStringLiteral("color:rgb(192,192,192);background-color:transparent;"));
}

void TstProjectCenter::recordBar()
{
    Open open(1);
    open.center.setRecordState(true);
    const QString start = open.center.recordStartTime();
    QVERIFY(QDateTime::fromString(start, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    QCOMPARE(label(open.center, "label_to")->text(), QStringLiteral("~"));
    for (const char *name : {"label_record_starttime", "label_to", "label_record_endtime"})
        QCOMPARE(label(open.center, name)->styleSheet(), ProjectCenter::kStyleRecording);
    open.center.setRecordEndTime(QStringLiteral("2030-01-01 00:00:01"));
    QCOMPARE(open.center.recordEndTime(), QStringLiteral("2030-01-01 00:00:01"));

    open.center.setRecordState(false);
    QVERIFY(label(open.center, "label_to")->text().isEmpty());
    QVERIFY(QDateTime::fromString(open.center.recordEndTime(), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    QVERIFY(open.center.recordEndTime() != QStringLiteral("2030-01-01 00:00:01"));
    for (const char *name : {"label_record_starttime", "label_to", "label_record_endtime"})
        QCOMPARE(label(open.center, name)->styleSheet(), ProjectCenter::kStyleIdle);

    // Starting again keeps the first start time.
    open.center.setRecordTimes(QStringLiteral("2020-05-05 10:00:00"), QStringLiteral("2020-05-05 11:00:00"));
    open.center.setRecordState(true);
    QCOMPARE(open.center.recordStartTime(), QStringLiteral("2020-05-05 10:00:00"));
    open.center.setRecordState(false);
    open.center.setRecordState(true);
    QCOMPARE(open.center.recordStartTime(), QStringLiteral("2020-05-05 10:00:00"));
}

void TstProjectCenter::recordButton()
{
    Open open(1);
    QSignalSpy spy(&open.center, &ProjectCenter::clickRecord);
    QTest::mouseClick(child<QToolButton>(&open.center, "btn_record"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(child<QToolButton>(&open.center, "btn_record")->toolTip(), QStringLiteral("Record current data"));
}

void TstProjectCenter::tileDashboardTileReopensChart()
{
    Open open;
    NodeDevice *second = open.project.nodes().at(1);
    DashBoardDeviceItem *tile = open.center.dashBoard()->tiles().at(2);
    QTest::mouseClick(tile, Qt::LeftButton);
    QVERIFY(!open.center.isDashboardShown());
    QVERIFY(open.center.chartView()->isVisible());
    QVERIFY(!open.center.dashBoard()->isVisible());
    QCOMPARE(open.center.currentNode(), second);
    QCOMPARE(open.center.chartView()->boundNode(), second);
    QCOMPARE(second->chartView(), open.center.chartView());

    QTest::mouseClick(child<QCommandLinkButton>(&open.center, "button_project"), Qt::LeftButton);
    QVERIFY(open.center.isDashboardShown());
    QVERIFY(open.center.dashBoard()->isVisible());
    QVERIFY(!open.center.chartView()->isVisible());
    QCOMPARE(second->chartView(), nullptr);
    QCOMPARE(open.center.chartView()->boundNode(), nullptr);
    QCOMPARE(open.center.currentNode(), second);

    QTest::mouseClick(open.center.dashBoard()->tiles().at(2), Qt::LeftButton);
    QVERIFY(open.center.chartView()->isVisible());
    QCOMPARE(open.center.chartView()->boundNode(), second);
    QCOMPARE(second->chartView(), open.center.chartView());
}

void TstProjectCenter::secondClickKeepsChart()
{
    Open open;
    NodeDevice *node = open.project.nodes().first();
    open.project.devices.first()->deviceConnected();
    feed(node, QStringLiteral("1.00"), QStringLiteral("2.00"));
    open.center.slotDeviceClicked(node);
    // Mark the view's data; clearing and binding again would overwrite it.
    double times[240], ch1[240], ch2[240];
    node->history(times, ch1, ch2);
    ch1[239] = 123.0;
    open.center.chartView()->setDeviceData(times, ch1, ch2, QStringLiteral("123.00"), QStringLiteral("2.00"));
    open.center.slotDeviceClicked(node);
    QCOMPARE(open.center.chartView()->values1Data()[239], 123.0);
    QTest::mouseClick(open.center.dashBoard()->tiles().at(1), Qt::LeftButton); // hidden: no effect
    QCOMPARE(open.center.chartView()->values1Data()[239], 123.0);

    // Another device switches the link over.
    NodeDevice *other = open.project.nodes().at(2);
    open.center.slotDeviceClicked(other);
    QCOMPARE(node->chartView(), nullptr);
    QCOMPARE(other->chartView(), open.center.chartView());
    QCOMPARE(open.center.chartView()->values1Data()[239], NoValue);
}

void TstProjectCenter::listClickSwitchesAndSelects()
{
    Open open;
    auto *list = child<QListWidget>(&open.center, "list_project");
    QTest::mouseClick(open.center.dashBoard()->tiles().at(5), Qt::LeftButton);
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(2)});
    const QRect rect = list->visualItemRect(list->item(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QCOMPARE(open.center.currentNode(), open.project.nodes().first());
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(0)});
    QTest::mouseClick(child<QCommandLinkButton>(&open.center, "button_project"), Qt::LeftButton);
    QVERIFY(list->selectedItems().isEmpty());
    QVERIFY(open.center.isDashboardShown());
}

void TstProjectCenter::nullClickIgnored()
{
    Open open;
    open.center.slotDeviceClicked(nullptr);
    QVERIFY(open.center.isDashboardShown());
    QCOMPARE(open.center.currentNode(), nullptr);
}

void TstProjectCenter::dialogsOnlyForShownDevice()
{
    Open open;
    open.center.slotPopupSensingOption();
    open.center.slotNetworkSetting();
    QVERIFY(open.center.findChildren<QDialog *>().isEmpty());

    open.center.slotDeviceClicked(open.project.nodes().at(1));
    QTest::mouseClick(child<QPushButton>(open.center.chartView(), "btn_network"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(open.center.chartView(), "btn_setting"), Qt::LeftButton);
    auto *network = open.center.findChild<NetworkSettingDialog *>();
    auto *sensing = open.center.findChild<SensingOptionDialog *>();
    QVERIFY(network);
    QVERIFY(sensing);
    QVERIFY(network->isVisible());
    QCOMPARE(child<QLabel>(sensing, "label_serialnumber")->text(), open.project.nodes().at(1)->deviceNumber());
    delete network;
    delete sensing;
}

void TstProjectCenter::sensingConfirmUpdatesViews()
{
    Open open;
    NodeDevice *node = open.project.nodes().first();
    open.project.devices.first()->deviceConnected();
    feed(node, QStringLiteral("50.00"), QStringLiteral("2.00"));
    QVERIFY(!node->alarm1());
    open.center.slotDeviceClicked(node);
    QSignalSpy update(&open.center, &ProjectCenter::updateProjectFile);
    open.center.slotPopupSensingOption();
    auto *dialog = open.center.findChild<SensingOptionDialog *>();
    QVERIFY(dialog);
    child<QLineEdit>(dialog, "lineEdit_devicename")->setText(QStringLiteral("Renamed"));
    child<QDoubleSpinBox>(dialog, "doubleSpinBox_min_ch1")->setValue(0);
    child<QDoubleSpinBox>(dialog, "doubleSpinBox_max_ch1")->setValue(40);
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QCOMPARE(update.count(), 1);
    QVERIFY(node->alarm1());
    QCOMPARE(child<QListWidget>(&open.center, "list_project")->item(0)->text(), QStringLiteral("Renamed"));
    // Back on the dashboard the tiles show the new name and the alarm.
    open.center.slotDashboardClicked();
    QCOMPARE(child<QFrame>(open.center.dashBoard()->tiles().at(0), "frame_value")->styleSheet(),
             ValueStyle::kAlarm);
}

void TstProjectCenter::emptyProjectWorks()
{
    ProjectCenter center(QStringLiteral("empty.qlk"));
    center.setDeviceList({});
    center.show();
    center.setEmptyCellsVisible(false);
    center.setEmptyCellsVisible(true);
    center.slotDashboardClicked();
    center.slotPopupSensingOption();
    center.setDatabaseSize(0);
    QVERIFY(center.isDashboardShown());
    QCOMPARE(center.projectName(), QStringLiteral("empty"));
}

QTEST_MAIN(TstProjectCenter)
#include "tst_projectcenter.moc"
