#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QVBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include "app/messagedialog.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "project/projectmanager.h"
#include "project/treemodel.h"

Q_DECLARE_METATYPE(QList<ConfiguredDevice *>)

namespace {
const QString kDefaultAddress = QStringLiteral("192.168.1.2:502");
const QString kAddressMessage = QStringLiteral("ERROR|IP Address & Port Number format is not valid.\nPlease retry.");
const QString kStartMessage = QStringLiteral("ERROR|The maximum value of the start address is 106.");
const QString kNoDeviceMessage = QStringLiteral("INFORMATION|You must select at least one device.\nPlease retry.");
}

class tst_ProjectManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void form();
    void addressCheck_data();
    void addressCheck();
    void addDevices_numbering();
    void fourteenthDeviceFitsFifteenthRemoved();
    void startAddress_cascade();
    void startAddress_cascadeRemovesDevicesAboveLimit();
    void startAddress_belowMinimum();
    void startAddress_firstAboveLimit();
    void connectionCellsOutsideColumns();
    void deviceRow_modelPickedIsEmptied();
    void id_rules();
    void buttons_atEightConnections();
    void buttons_atSixteenDevices();
    void selectionLabels();
    void delete_askedAndRenumbered();
    void confirm_empty();
    void confirm_invalidAddressEmitsNothing();
    void confirm_buildsPollersAndNodes();
    void loadDeviceList_fillsTree();
    void loadDeviceList_capsAtSixteenDevices();
    void interval_menuAndLock();
    void messages_reachTheUser();
    void screenshot();

private:
    QTreeView *view() const { return m_editor->findChild<QTreeView *>("treeView"); }
    QPushButton *button(const char *name) const { return m_editor->findChild<QPushButton *>(name); }
    QString label(const char *name) const { return m_editor->findChild<QLabel *>(name)->text(); }
    QModelIndex conn(int row, int column = 0) const { return m_model->index(row, column); }
    QModelIndex dev(int connection, int row, int column) const
    {
        return m_model->index(row, column, m_model->index(connection, 0));
    }
    void select(const QModelIndex &index)
    {
        view()->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void addConnection() { QTest::mouseClick(button("pushButton_add_top"), Qt::LeftButton); }
    void addDevices(int connection, int count)
    {
        for (int i = 0; i < count; ++i) {
            select(conn(connection));
            QTest::mouseClick(button("pushButton_add_child"), Qt::LeftButton);
        }
        settle();
    }
    // Devices pushed above the last start address are removed one event-loop
    // turn later, one after the other.
    static void settle()
    {
        for (int i = 0; i < 2 * ProjectManager::kMaxDevices; ++i)
            QCoreApplication::processEvents();
    }
    QList<int> startAddresses(int connection) const
    {
        QList<int> out;
        for (int r = 0; r < m_model->rowCount(conn(connection)); ++r)
            out << dev(connection, r, 2).data().toInt();
        return out;
    }

    ProjectManager *m_editor = nullptr;
    TreeModel *m_model = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
    QStringList m_messages;
    QMessageBox::StandardButton m_answer = QMessageBox::No;
    int m_questions = 0;
};

void tst_ProjectManager::initTestCase()
{
    qRegisterMetaType<QList<ConfiguredDevice *>>();
    ProjectManager::messageHook = [this](QWidget *parent, const QString &title, const QString &text) {
        QCOMPARE(parent, m_editor);
        m_messages << title + QLatin1Char('|') + text;
    };
    ProjectManager::questionHook = [this](QWidget *, const QString &title, const QString &text) {
        ++m_questions;
        [&] {
            QCOMPARE(title, QStringLiteral("Question"));
            QCOMPARE(text, QStringLiteral("Erasing the device may result in loss of data.\n Are you sure?"));
        }();
        return m_answer;
    };
}

void tst_ProjectManager::init()
{
    dataIntervalMs = kDefaultDataIntervalMs;
    m_messages.clear();
    m_questions = 0;
    m_answer = QMessageBox::No;
    m_editor = new ProjectManager;
    m_model = m_editor->model();
    m_tester = new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_editor->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_editor));
}

void tst_ProjectManager::cleanup()
{
    delete m_tester;
    delete m_editor;
    m_editor = nullptr;
}

void tst_ProjectManager::form()
{
    QCOMPARE(m_editor->windowTitle(), QStringLiteral("ProjectManager"));
    QCOMPARE(m_model->columnCount(), 8);
    QCOMPARE(m_model->headerData(0, Qt::Horizontal).toString(), QStringLiteral("   IP Address:PORT   "));
    QCOMPARE(m_model->headerData(2, Qt::Horizontal).toString(), QStringLiteral("   Start Address(16bit)   "));
    QCOMPARE(m_model->headerData(7, Qt::Horizontal).toString(), QString());
    QCOMPARE(label("label"), QStringLiteral("Only Support 16bit Holding Register Read. 32bit Float value. "));
    QCOMPARE(label("label_interval"), QStringLiteral("10 sec"));
    QVERIFY(view()->alternatingRowColors());
    QCOMPARE(button("pushButton_add_top")->text(), QStringLiteral("ADD Connection"));
    QVERIFY(button("pushButton_add_top")->isEnabled());
    QVERIFY(!button("pushButton_add_child")->isEnabled());
    QCOMPARE(button("pushButton_add_child")->text(), QString());
    QVERIFY(!button("pushButton_del")->isEnabled());
    QCOMPARE(m_editor->findChild<QToolButton *>("btn_confirm")->toolTip(), QStringLiteral("Create Project"));
    QCOMPARE(m_editor->findChild<QToolButton *>("btn_timeInterval")->toolTip(), QStringLiteral("Change time Interval"));

    addConnection();
    QCOMPARE(conn(0).data().toString(), kDefaultAddress);
    QCOMPARE(conn(0, 1).data().toString(), QStringLiteral("QA100"));
    QCOMPARE(view()->currentIndex(), conn(0));
    QVERIFY(button("pushButton_add_child")->isEnabled());
    QCOMPARE(button("pushButton_add_child")->text(), QStringLiteral("ADD Device"));
    QVERIFY(button("pushButton_del")->isEnabled());
    QVERIFY(m_messages.isEmpty());
}

void tst_ProjectManager::addressCheck_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("kept");
    QTest::newRow("ip and port") << "10.0.0.5:502" << true;
    QTest::newRow("port zero") << "10.0.0.5:0" << true;
    QTest::newRow("highest registered port") << "10.0.0.5:49151" << true;
    QTest::newRow("ipv6") << "[::1]:502" << true;
    QTest::newRow("no port") << "10.0.0.5" << false;
    QTest::newRow("host name") << "gateway.local:502" << false;
    QTest::newRow("dynamic port") << "10.0.0.5:50000" << false;
    QTest::newRow("port beyond 16 bit") << "10.0.0.5:70000" << false;
    QTest::newRow("negative port") << "10.0.0.5:-1" << false;
    QTest::newRow("garbage") << "::::" << false;
}

void tst_ProjectManager::addressCheck()
{
    QFETCH(QString, entry);
    QFETCH(bool, kept);
    addConnection();
    QVERIFY(m_model->setData(conn(0), entry));
    QCOMPARE(conn(0).data().toString(), kept ? entry : kDefaultAddress);
    QCOMPARE(m_messages, kept ? QStringList() : QStringList{kAddressMessage});
    QCOMPARE(ProjectManager::parseAddress(entry), kept);
}

void tst_ProjectManager::addDevices_numbering()
{
    addConnection();
    addDevices(0, 3);
    QCOMPARE(startAddresses(0), (QList<int>{0, 8, 16}));
    QSet<QString> ids;
    for (int r = 0; r < 3; ++r) {
        QCOMPARE(dev(0, r, 4).data().toString(), QStringLiteral("DEVICE%1").arg(r + 1));
        QCOMPARE(dev(0, r, 5).data().toString(), QStringLiteral("CH1"));
        QCOMPARE(dev(0, r, 6).data().toString(), QStringLiteral("CH2"));
        QCOMPARE(dev(0, r, 3).data().toString().size(), 18);
        QVERIFY(!dev(0, r, 0).data().toString().size());
        QVERIFY(!dev(0, r, 1).data().toString().size());
        ids << dev(0, r, 3).data().toString();
    }
    QCOMPARE(ids.size(), 3);
    QVERIFY(view()->isExpanded(conn(0)));
    QVERIFY(m_messages.isEmpty());
}

void tst_ProjectManager::fourteenthDeviceFitsFifteenthRemoved()
{
    addConnection();
    addDevices(0, 14);
    QCOMPARE(m_model->rowCount(conn(0)), 14);
    QCOMPARE(dev(0, 13, 2).data().toInt(), 104);
    QVERIFY(m_messages.isEmpty());
    addDevices(0, 1);
    QCOMPARE(m_model->rowCount(conn(0)), 14);
    QCOMPARE(m_messages, QStringList{kStartMessage});
    QCOMPARE(dev(0, 13, 2).data().toInt(), 104);
}

void tst_ProjectManager::startAddress_cascade()
{
    addConnection();
    addDevices(0, 5);
    QVERIFY(m_model->setData(dev(0, 1, 2), 50));
    settle();
    QCOMPARE(startAddresses(0), (QList<int>{0, 50, 58, 66, 74}));
    QVERIFY(m_messages.isEmpty());
}

void tst_ProjectManager::startAddress_cascadeRemovesDevicesAboveLimit()
{
    addConnection();
    addDevices(0, 14);
    QVERIFY(m_model->setData(dev(0, 1, 2), 50));
    settle();
    QCOMPARE(startAddresses(0), (QList<int>{0, 50, 58, 66, 74, 82, 90, 98, 106}));
    QVERIFY(!m_messages.isEmpty());
    QCOMPARE(QSet<QString>(m_messages.begin(), m_messages.end()), QSet<QString>{kStartMessage});
    // The names of the devices that stayed are untouched.
    QCOMPARE(dev(0, 8, 4).data().toString(), QStringLiteral("DEVICE9"));
}

void tst_ProjectManager::startAddress_belowMinimum()
{
    addConnection();
    addDevices(0, 3);
    QVERIFY(m_model->setData(dev(0, 1, 2), 3));
    QCOMPARE(startAddresses(0), (QList<int>{0, 8, 16}));
    QVERIFY(m_model->setData(dev(0, 2, 2), QStringLiteral("abc")));
    QCOMPARE(dev(0, 2, 2).data().toString(), QStringLiteral("16"));
    QVERIFY(m_messages.isEmpty());
}

void tst_ProjectManager::startAddress_firstAboveLimit()
{
    addConnection();
    addDevices(0, 2);
    QVERIFY(m_model->setData(dev(0, 0, 2), 110));
    settle();
    QCOMPARE(dev(0, 0, 2).data().toString(), QStringLiteral("0"));
    QCOMPARE(m_model->rowCount(conn(0)), 2);
    QCOMPARE(startAddresses(0), (QList<int>{0, 8}));
    QCOMPARE(m_messages, QStringList{kStartMessage});
}

void tst_ProjectManager::connectionCellsOutsideColumns()
{
    addConnection();
    addDevices(0, 1);
    for (int column = 2; column < 8; ++column) {
        QVERIFY(m_model->setData(conn(0, column), QStringLiteral("x")));
        QCOMPARE(conn(0, column).data().toString(), QString());
    }
    QVERIFY(m_model->setData(conn(0, 1), QStringLiteral("QB200")));
    QCOMPARE(conn(0, 1).data().toString(), QStringLiteral("QB200"));
    for (int column : {0, 1, 7}) {
        QVERIFY(m_model->setData(dev(0, 0, column), QStringLiteral("x")));
        QCOMPARE(dev(0, 0, column).data().toString(), QString());
    }
    QVERIFY(m_model->setData(dev(0, 0, 4), QStringLiteral("Cold store")));
    QCOMPARE(dev(0, 0, 4).data().toString(), QStringLiteral("Cold store"));
}

void tst_ProjectManager::deviceRow_modelPickedIsEmptied()
{
    addConnection();
    addDevices(0, 1);
    const QModelIndex cell = dev(0, 0, 1);
    view()->setCurrentIndex(cell);
    view()->edit(cell);
    auto *combo = view()->viewport()->findChild<QComboBox *>();
    QVERIFY(combo);
    combo->setCurrentIndex(1);
    QCOMPARE(cell.data().toString(), QString());
    QCOMPARE(conn(0, 1).data().toString(), QStringLiteral("QA100"));
}

void tst_ProjectManager::id_rules()
{
    addConnection();
    addDevices(0, 1);
    const QModelIndex id = dev(0, 0, 3);
    QVERIFY(m_model->setData(id, QStringLiteral("ABCDEFGHIJKLMNOPQRST")));
    QCOMPARE(id.data().toString(), QStringLiteral("ABCDEFGHIJKLMNOPQR"));
    QVERIFY(m_model->setData(id, QStringLiteral("short")));
    QCOMPARE(id.data().toString(), QStringLiteral("short"));
    QVERIFY(m_model->setData(id, QStringLiteral("   ")));
    QCOMPARE(id.data().toString(), QString(18, QLatin1Char('0')));

    // An ID emptied outright raises no check; confirmation still never hands
    // out a blank device number.
    QVERIFY(m_model->setData(id, QString()));
    QCOMPARE(id.data().toString(), QString());
    QSignalSpy confirmed(m_editor, &ProjectManager::projectListConfirm);
    m_editor->slotProjectListConfirm();
    QCOMPARE(confirmed.count(), 1);
    const auto devices = confirmed.at(0).at(0).value<QList<ConfiguredDevice *>>();
    QCOMPARE(devices.at(0)->nodeList().at(0)->deviceNumber(), QString(18, QLatin1Char('0')));
    qDeleteAll(devices);
}

void tst_ProjectManager::buttons_atEightConnections()
{
    for (int i = 0; i < 7; ++i)
        addConnection();
    QVERIFY(button("pushButton_add_top")->isEnabled());
    addConnection();
    QCOMPARE(m_model->rowCount(), 8);
    QVERIFY(!button("pushButton_add_top")->isEnabled());
    QCOMPARE(button("pushButton_add_top")->text(), QString());
    QVERIFY(button("pushButton_add_top")->icon().isNull());
    m_editor->slotProjectAddConnection();
    QCOMPARE(m_model->rowCount(), 8);
    // Deleting one opens the way again.
    m_answer = QMessageBox::Yes;
    select(conn(7));
    QTest::mouseClick(button("pushButton_del"), Qt::LeftButton);
    QCOMPARE(m_model->rowCount(), 7);
    QVERIFY(button("pushButton_add_top")->isEnabled());
    QCOMPARE(button("pushButton_add_top")->text(), QStringLiteral("ADD Connection"));
}

void tst_ProjectManager::buttons_atSixteenDevices()
{
    addConnection();
    addConnection();
    addDevices(0, 10);
    addDevices(1, 5);
    select(conn(1));
    QVERIFY(button("pushButton_add_child")->isEnabled());
    addDevices(1, 1);
    QCOMPARE(m_model->rowCount(conn(1)), 6);
    for (int c = 0; c < 2; ++c) {
        select(conn(c));
        QVERIFY(!button("pushButton_add_child")->isEnabled());
        QCOMPARE(button("pushButton_add_child")->text(), QString());
    }
    m_editor->slotProjectAddDevice();
    QCOMPARE(m_model->rowCount(conn(0)) + m_model->rowCount(conn(1)), 16);
    // A device row never offers "ADD Device".
    select(dev(0, 0, 0));
    QVERIFY(!button("pushButton_add_child")->isEnabled());
}

void tst_ProjectManager::selectionLabels()
{
    addConnection();
    addConnection();
    addDevices(1, 3);
    QTest::mouseClick(view()->viewport(), Qt::LeftButton, {}, view()->visualRect(dev(1, 2, 0)).center());
    QCOMPARE(view()->currentIndex().row(), 2);
    QCOMPARE(label("label_selected_top"), QStringLiteral("[2] 192.168.1.2:502"));
    QCOMPARE(label("label_selected_bottom"), QStringLiteral("[3] DEVICE3"));
    select(conn(0));
    QCOMPARE(label("label_selected_top"), QStringLiteral("[1] 192.168.1.2:502"));
    QCOMPARE(label("label_selected_bottom"), QString());
    view()->selectionModel()->clear();
    QCOMPARE(label("label_selected_top"), QString());
    QVERIFY(!button("pushButton_del")->isEnabled());
}

void tst_ProjectManager::delete_askedAndRenumbered()
{
    addConnection();
    addDevices(0, 4);
    select(dev(0, 0, 0));
    m_answer = QMessageBox::No;
    QTest::mouseClick(button("pushButton_del"), Qt::LeftButton);
    QCOMPARE(m_questions, 1);
    QCOMPARE(m_model->rowCount(conn(0)), 4);

    m_answer = QMessageBox::Yes;
    QTest::mouseClick(button("pushButton_del"), Qt::LeftButton);
    QCOMPARE(m_questions, 2);
    QCOMPARE(startAddresses(0), (QList<int>{0, 8, 16}));
    QCOMPARE(dev(0, 0, 4).data().toString(), QStringLiteral("DEVICE2"));

    select(dev(0, 1, 0));
    QTest::mouseClick(button("pushButton_del"), Qt::LeftButton);
    QCOMPARE(startAddresses(0), (QList<int>{0, 8}));
    QCOMPARE(dev(0, 1, 4).data().toString(), QStringLiteral("DEVICE4"));

    select(conn(0));
    QTest::mouseClick(button("pushButton_del"), Qt::LeftButton);
    QCOMPARE(m_model->rowCount(), 0);
    QVERIFY(m_messages.isEmpty());
}

void tst_ProjectManager::confirm_empty()
{
    QSignalSpy confirmed(m_editor, &ProjectManager::projectListConfirm);
    QTest::mouseClick(m_editor->findChild<QToolButton *>("btn_confirm"), Qt::LeftButton);
    QVERIFY(m_messages.isEmpty()); // no connection at all: nothing happens
    addConnection();
    QTest::mouseClick(m_editor->findChild<QToolButton *>("btn_confirm"), Qt::LeftButton);
    QCOMPARE(m_messages, QStringList{kNoDeviceMessage});
    QCOMPARE(confirmed.count(), 0);
}

void tst_ProjectManager::confirm_invalidAddressEmitsNothing()
{
    addConnection();
    addDevices(0, 1);
    addConnection();
    addDevices(1, 1);
    // Only reachable by bypassing the cell check (as a file from elsewhere could).
    QSignalBlocker blocker(m_model);
    m_model->setData(conn(1), QStringLiteral("not-an-ip:502"));
    blocker.unblock();
    QSignalSpy confirmed(m_editor, &ProjectManager::projectListConfirm);
    m_editor->slotProjectListConfirm();
    QCOMPARE(confirmed.count(), 0);
    QCOMPARE(m_messages, QStringList{kAddressMessage});
}

void tst_ProjectManager::confirm_buildsPollersAndNodes()
{
    addConnection();
    addConnection();
    addConnection();
    QVERIFY(m_model->setData(conn(0), QStringLiteral("10.0.0.5:1502")));
    QVERIFY(m_model->setData(conn(0, 1), QStringLiteral("QB200")));
    addDevices(0, 2);
    addDevices(2, 1);
    QVERIFY(m_model->setData(dev(0, 1, 2), 40));
    QVERIFY(m_model->setData(dev(0, 1, 5), QStringLiteral("Temp")));
    const QString id = dev(2, 0, 3).data().toString();

    QSignalSpy confirmed(m_editor, &ProjectManager::projectListConfirm);
    QTest::mouseClick(m_editor->findChild<QToolButton *>("btn_confirm"), Qt::LeftButton);
    QCOMPARE(confirmed.count(), 1);
    QVERIFY(m_editor->isVisible()); // the editor does not close itself
    const auto devices = confirmed.at(0).at(0).value<QList<ConfiguredDevice *>>();
    QCOMPARE(devices.size(), 2); // the middle connection has no device
    QCOMPARE(devices.at(0)->ipAddress(), QStringLiteral("10.0.0.5"));
    QCOMPARE(devices.at(0)->port(), quint16(1502));
    QCOMPARE(devices.at(0)->model(), QStringLiteral("QB200"));
    QCOMPARE(devices.at(0)->parent(), nullptr);
    const auto nodes = devices.at(0)->nodeList();
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(nodes.at(1)->startAddress, 40);
    QCOMPARE(nodes.at(1)->registerCount, 8);
    QCOMPARE(nodes.at(1)->deviceName(), QStringLiteral("DEVICE2"));
    QCOMPARE(nodes.at(1)->ch1Name(), QStringLiteral("Temp"));
    QCOMPARE(nodes.at(1)->ch2Name(), QStringLiteral("CH2"));
    QCOMPARE(nodes.at(1)->parent(), devices.at(0));
    QCOMPARE(devices.at(1)->ipAddress(), QStringLiteral("192.168.1.2"));
    QCOMPARE(devices.at(1)->port(), quint16(502));
    QCOMPARE(devices.at(1)->nodeList().at(0)->deviceNumber(), id);
    qDeleteAll(devices);
}

void tst_ProjectManager::loadDeviceList_fillsTree()
{
    QList<ConfiguredDevice *> devices;
    for (int c = 0; c < 2; ++c) {
        auto *device = new ConfiguredDevice;
        device->setDeviceInfo(QStringLiteral("127.0.0.%1").arg(c + 1), quint16(1502 + c));
        device->setModel(c ? QStringLiteral("QB200") : QStringLiteral("QA100"));
        for (int n = 0; n < 2 + c; ++n) {
            auto *node = new NodeDevice(QStringLiteral("SN%1-%2").arg(c).arg(n), device);
            node->startAddress = n * 16;
            node->setNames(QStringLiteral("Room %1").arg(n), QStringLiteral("T"), QStringLiteral("H"));
            device->addNode(node);
        }
        devices << device;
    }
    m_editor->setIntervalDisabled(true);
    m_editor->loadDeviceList(devices);
    QCOMPARE(m_model->rowCount(), 2);
    QCOMPARE(conn(1).data().toString(), QStringLiteral("127.0.0.2:1503"));
    QCOMPARE(conn(1, 1).data().toString(), QStringLiteral("QB200"));
    QCOMPARE(startAddresses(1), (QList<int>{0, 16, 32}));
    QCOMPARE(dev(1, 2, 3).data().toString(), QStringLiteral("SN1-2"));
    QCOMPARE(dev(1, 2, 4).data().toString(), QStringLiteral("Room 2"));
    QCOMPARE(dev(1, 2, 5).data().toString(), QStringLiteral("T"));
    QCOMPARE(dev(1, 2, 6).data().toString(), QStringLiteral("H"));
    QVERIFY(view()->isExpanded(conn(0)) && view()->isExpanded(conn(1)));
    QVERIFY(m_messages.isEmpty());

    // Confirming hands back fresh objects describing the same list.
    QSignalSpy confirmed(m_editor, &ProjectManager::projectListConfirm);
    m_editor->slotProjectListConfirm();
    const auto again = confirmed.at(0).at(0).value<QList<ConfiguredDevice *>>();
    QCOMPARE(again.size(), 2);
    QCOMPARE(again.at(1)->nodeList().at(2)->startAddress, 32);
    QCOMPARE(again.at(1)->nodeList().at(2)->deviceNumber(), QStringLiteral("SN1-2"));
    qDeleteAll(again);
    qDeleteAll(devices);
}

void tst_ProjectManager::loadDeviceList_capsAtSixteenDevices()
{
    QList<ConfiguredDevice *> devices;
    for (int c = 0; c < 10; ++c) {
        auto *device = new ConfiguredDevice;
        device->setDeviceInfo(QStringLiteral("10.0.0.%1").arg(c + 1), 502);
        for (int n = 0; n < 7; ++n) {
            auto *node = new NodeDevice(QStringLiteral("%1").arg(n, 18, 10, QLatin1Char('0')), device);
            node->startAddress = n * 8;
            device->addNode(node);
        }
        devices << device;
    }
    devices.insert(1, nullptr);
    m_editor->loadDeviceList(devices);
    int total = 0;
    for (int c = 0; c < m_model->rowCount(); ++c)
        total += m_model->rowCount(conn(c));
    QCOMPARE(total, 16);
    QCOMPARE(m_model->rowCount(), 3);
    select(conn(0));
    QVERIFY(!button("pushButton_add_child")->isEnabled());
    qDeleteAll(devices);
}

void tst_ProjectManager::interval_menuAndLock()
{
    QMenu *menu = m_editor->intervalMenu();
    QCOMPARE(menu->title(), QStringLiteral("Interval"));
    const auto actions = menu->actions();
    QCOMPARE(actions.size(), 6);
    const QStringList texts = {"1 sec", "5 sec", "10 sec", "1 min", "5 min", "10 min"};
    const QList<int> values = {1000, 5000, 10000, 60000, 300000, 600000};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(actions.at(i)->text(), texts.at(i));
        QCOMPARE(actions.at(i)->data().toInt(), values.at(i));
        QVERIFY(actions.at(i)->isCheckable());
        QCOMPARE(actions.at(i)->isChecked(), i == 2);
    }
    QTest::mouseClick(m_editor->findChild<QToolButton *>("btn_timeInterval"), Qt::LeftButton);
    QVERIFY(menu->isVisible());
    actions.at(4)->trigger();
    QCOMPARE(dataIntervalMs, 300000);
    QCOMPARE(label("label_interval"), QStringLiteral("5 min"));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(actions.at(i)->isChecked(), i == 4);
    menu->hide();

    m_editor->setIntervalDisabled(true);
    QVERIFY(!m_editor->findChild<QToolButton *>("btn_timeInterval")->isEnabled());
    QVERIFY(!menu->isEnabled());
    m_editor->setIntervalDisabled(false);
    QVERIFY(m_editor->findChild<QToolButton *>("btn_timeInterval")->isEnabled());

    // A value outside the table checks nothing and shows no text.
    dataIntervalMs = 2000;
    ProjectManager other;
    for (QAction *action : other.intervalMenu()->actions())
        QVERIFY(!action->isChecked());
    QCOMPARE(other.findChild<QLabel *>("label_interval")->text(), QString());
    dataIntervalMs = kDefaultDataIntervalMs;
}

void tst_ProjectManager::messages_reachTheUser()
{
    // Without the test seam a message is the program's own non-blocking dialog.
    const ProjectManager::MessageHook saved = ProjectManager::messageHook;
    ProjectManager::messageHook = nullptr;
    addConnection();
    QVERIFY(m_model->setData(conn(0), QStringLiteral("10.0.0.5")));
    ProjectManager::messageHook = saved;
    const auto dialogs = m_editor->findChildren<MessageDialog *>();
    QCOMPARE(dialogs.size(), 1);
    QVERIFY(dialogs.at(0)->isVisible());
    QCOMPARE(dialogs.at(0)->findChild<QGroupBox *>("groupBox_message")->title(), QStringLiteral("ERROR"));
    QCOMPARE(conn(0).data().toString(), kDefaultAddress);
}

// Two connections, five devices, the second device selected: the picture is
// saved when QK_SCREENSHOT_DIR names a folder.
void tst_ProjectManager::screenshot()
{
    addConnection();
    addConnection();
    QVERIFY(m_model->setData(conn(1), QStringLiteral("10.0.0.5:1502")));
    QVERIFY(m_model->setData(conn(1, 1), QStringLiteral("QB200")));
    addDevices(0, 3);
    addDevices(1, 2);
    QVERIFY(m_model->setData(dev(0, 1, 4), QStringLiteral("Freezer 2")));
    select(dev(0, 1, 0));
    // Shown as in the main window: on its dark central frame.
    QFrame frame;
    frame.setObjectName(QStringLiteral("centralFrame"));
    frame.setStyleSheet(QStringLiteral("QFrame#centralFrame { background-color: qlineargradient(spread:pad, "
        "x1:0, y1:0, x2:0, y2:1, stop:0 rgba(49, 49, 49, 255), stop:1 rgba(73, 73, 73, 255)); }"));
    auto *layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_editor);
    frame.resize(1000, 420);
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    const QPixmap picture = frame.grab();
    m_editor->setParent(nullptr);
    QVERIFY(!picture.isNull());
    const QString dir = qEnvironmentVariable("QK_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(picture.save(dir + QStringLiteral("/projectmanager.png")));
}

QTEST_MAIN(tst_ProjectManager)
#include "tst_projectmanager.moc"
