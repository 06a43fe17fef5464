#include "viewfixture.h"

#include "common/common.h"
#include "device/networksettingdialog.h"
#include "device/sensingoptiondialog.h"
#include "view/chartview.h"
#include "view/dashboard.h"
#include "view/dashboarddeviceitem.h"
#include "view/projectcenter.h"
#include "view/projectlist.h"
#include "view/valuestyle.h"

#include <QAbstractItemModelTester>
#include <QCommandLinkButton>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

using namespace ViewFixture;

namespace
{

struct Open {
    Project project;
    ProjectCenter center{"/tmp/projects/Cold Store.qlk"};

    explicit Open(int devices = 3)
    {
        project.addConnection("127.0.0.1", devices, true, 5020);
        center.setDeviceList(project.devices);
        center.resize(1010, 464);
        center.show();
    }
    ~Open() { project.unlinkViews(); }
    NodeDevice *node(int i) const { return project.nodes().at(i); }
    DashBoardDeviceItem *tile(int i) const { return center.dashBoard()->tiles().at(i); }
    void click(QWidget *parent, const char *name)
    {
        QTest::mouseClick(child<QWidget>(parent, name), Qt::LeftButton);
    }
};

} // namespace

class TstProjectCenter : public QObject
{
    Q_OBJECT

private slots:
    // The size turns red at 3 GiB; starting to record again keeps the first start time.
    void sizeAndStartTime()
    {
        Open open(1);
        QLabel *size = label(&open.center, "label_record_bytes");
        for (const qint64 bytes : {5242880LL, 3221225471LL, 3221225472LL}) {
            open.center.setDatabaseSize(bytes);
            QCOMPARE(size->text(), bytes == 5242880 ? "Database 5.00MB" : "Database 3072.00MB");
            QCOMPARE(size->styleSheet(), bytes < 3221225472LL ? ProjectCenter::kStyleIdle
                                                              : ProjectCenter::kStyleSizeLimit);
        }
        open.center.setRecordTimes("2020-05-05 10:00:00", "2020-05-05 11:00:00");
        open.center.setRecordState(true);
        QCOMPARE(open.center.recordStartTime(), "2020-05-05 10:00:00");
    }

    // The list shows the nodes in project order, by name or else number, with
    // the icons their pollers' connection events give; long names are elided.
    void listEntriesIconsAndLongNames()
    {
        Project project;
        ConfiguredDevice *first = project.addConnection("127.0.0.1", 2, false);
        ConfiguredDevice *second = project.addConnection("127.0.0.2", 1);
        const QString longName(500, QLatin1Char('M'));
        project.nodes().at(2)->setNames(longName, "a", "b");
        ProjectCenter center(QStringLiteral("/tmp/%1.qlk").arg(longName));
        auto *list = child<QListWidget>(&center, "list_project");
        QAbstractItemModelTester tester(list->model(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        center.setDeviceList(project.devices);
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(0)->text(), project.nodes().at(0)->deviceNumber());
        QCOMPARE(list->item(2)->text(), longName);
        auto shownConnected = [&](int row) {
            return list->item(row)->data(Qt::UserRole + 1).toBool();
        };
        const qint64 disconnectedKey = list->item(0)->icon().cacheKey();
        first->deviceConnected();
        QVERIFY(shownConnected(0) && shownConnected(1) && !shownConnected(2));
        QVERIFY(list->item(0)->icon().cacheKey() != disconnectedKey);
        second->deviceConnected();
        first->deviceDisconnected();
        QVERIFY(!shownConnected(0) && shownConnected(2));
        QCOMPARE(list->item(0)->icon().cacheKey(), disconnectedKey);

        QVERIFY(center.projectList()->minimumSizeHint().width() < 200);
        center.resize(1010, 464);
        center.show();
        QVERIFY(QTest::qWaitForWindowExposed(&center));
        QVERIFY(
            child<QCommandLinkButton>(&center, "button_project")->text().endsWith(QChar(0x2026)));
        project.unlinkViews();
    }

    // A tile or a list entry shows its node's chart, the project button the
    // dashboard. Clicking the node on show again keeps its chart; a node
    // bound again shows its whole history, also what came while another was on show.
    // The two dialogs open for the device on show only; confirming the sensing
    // options updates the list and the tiles and asks for the project file.
    void clicksSwitchViewsAndOpenDialogs()
    {
        Open open;
        open.center.slotPopupSensingOption(); // nothing on show yet
        open.center.slotNetworkSetting();
        QVERIFY(open.center.findChildren<QDialog *>().isEmpty());
        open.project.devices.first()->deviceConnected();
        feed(open.node(0), "1.00", "2.00");
        QTest::mouseClick(open.tile(2), Qt::LeftButton);
        QVERIFY(open.center.chartView()->isVisible() && !open.center.dashBoard()->isVisible());
        QCOMPARE(open.node(1)->chartView(), open.center.chartView());
        auto *list = child<QListWidget>(&open.center, "list_project");
        QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(1)});

        open.click(&open.center, "button_project");
        QVERIFY(open.center.dashBoard()->isVisible() && !open.center.chartView()->isVisible());
        QCOMPARE(open.node(1)->chartView(), nullptr);
        QVERIFY(list->selectedItems().isEmpty());

        QTest::mouseClick(open.tile(2), Qt::LeftButton);
        QVERIFY(open.center.chartView()->isVisible());
        QCOMPARE(open.center.chartView()->boundNode(), open.node(1));
        QCOMPARE(open.node(1)->chartView(), open.center.chartView());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(0)).center());
        QCOMPARE(open.center.chartView()->boundNode(), open.node(0));

        // Mark the view's data; clearing and binding again would overwrite it.
        double times[240], ch1[240], ch2[240];
        open.node(0)->history(times, ch1, ch2);
        ch1[239] = 123.0;
        open.center.chartView()->setDeviceData(times, ch1, ch2, "123.00", "2.00");
        open.center.slotDeviceClicked(open.node(0));
        QCOMPARE(open.center.chartView()->values1Data()[239], 123.0);

        open.center.slotDeviceClicked(open.node(2));
        QCOMPARE(open.node(0)->chartView(), nullptr);
        QCOMPARE(open.center.chartView()->values1Data()[239], NoValue);
        feed(open.node(0), "7.00", "2.00");
        QCOMPARE(open.center.chartView()->values1Data()[239], NoValue); // not on show
        open.center.slotDeviceClicked(open.node(0));
        QCOMPARE(open.center.chartView()->values1Data()[239], 7.0);
        QCOMPARE(open.center.chartView()->values1Data()[238], 1.0);

        feed(open.node(0), "50.00", "2.00");
        open.click(open.center.chartView(), "btn_network");
        QPointer<NetworkSettingDialog> network = open.center.findChild<NetworkSettingDialog *>();
        QVERIFY(network && network->isVisible());
        QCOMPARE(label(network, "label_ipaddr")->text(), "127.0.0.1");
        QCOMPARE(label(network, "label_port")->text(), "5020");
        open.click(network, "pushButton_close");
        QTRY_VERIFY(network.isNull());

        QVERIFY(!open.node(0)->alarm1());
        QSignalSpy update(&open.center, &ProjectCenter::updateProjectFile);
        open.click(open.center.chartView(), "btn_setting");
        auto *dialog = open.center.findChild<SensingOptionDialog *>();
        QVERIFY(dialog);
        QCOMPARE(label(dialog, "label_serialnumber")->text(), open.node(0)->deviceNumber());
        child<QLineEdit>(dialog, "lineEdit_devicename")->setText("Renamed");
        child<QDoubleSpinBox>(dialog, "doubleSpinBox_max_ch1")->setValue(40);
        open.click(dialog, "pushButton_confirm");
        QCOMPARE(update.count(), 1);
        QCOMPARE(list->item(0)->text(), "Renamed");
        open.center.slotDashboardClicked();
        QCOMPARE(child<QFrame>(open.tile(0), "frame_value")->styleSheet(), ValueStyle::kAlarm);
    }

    void emptyProjectWorks()
    {
        ProjectCenter center("empty.qlk");
        center.setDeviceList({});
        center.show();
        center.setEmptyCellsVisible(false);
        center.slotPopupSensingOption();
        center.slotDeviceClicked(nullptr);
        QVERIFY(center.isDashboardShown());
    }
};

QTEST_MAIN(TstProjectCenter)
#include "tst_projectcenter.moc"
