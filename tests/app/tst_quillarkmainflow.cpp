// The main window driven end to end through its start screen against Modbus
// gateways on loopback: load, live values, recording with SQL checks of the
// rows, close, the recent projects, new projects, Add/Delete and the alarm.
#include "app/messagedialog.h"
#include "app/projectfile.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "gatewaysimulator.h"
#include "loopbackpeers.h"
#include "project/projectmanager.h"
#include "project/treemodel.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"
#include "view/dashboarddeviceitem.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QToolButton>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

struct Row
{
    QString serial;
    QVariant ch1, ch2;
    qint64 pointDate;
};

QList<Row> readRows(const QString &databasePath)
{
    QList<Row> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(databasePath);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select serialno, channel1, channel2, pointDate from fennolink order by id"));
            while (q.next())
                rows << Row{q.value(0).toString(), q.value(1), q.value(2), q.value(3).toLongLong()};
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
    return rows;
}

QVector<quint16> block(float ch1, float ch2, qint32 lqi, qint32 battery)
{
    quint32 b1, b2;
    std::memcpy(&b1, &ch1, 4);
    std::memcpy(&b2, &ch2, 4);
    QVector<quint16> r;
    for (quint32 w : {b1, b2, quint32(lqi), quint32(battery)})
        r << quint16(w & 0xFFFF) << quint16(w >> 16);
    return r;
}

} // namespace

class tst_QuillarkMainFlow : public QObject
{
    Q_OBJECT

public:
    // Shared with the pymodbus variant: load, record, stop, check the rows.
    void recordFlow(quint16 port, float ch1a, float ch2a, float ch1b, float ch2b, bool simulatorValuesFrozen);

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void loadRecordStopAgainstSimulator();
    void loadRecordStopAgainstPymodbus();
    void recentProjectsAndNewProject();
    void unconfirmedProjectRefusedOnLoad();
    void addDeleteRebuildsPollers();
    void alarmFlagDrivesPlayer();

private:
    ProjectMain *startScreen(QuillarkMain &w) { return w.m_projectMain; }
    QString projectPath(const QString &name) { return m_dir->filePath(name + QStringLiteral(".qlk")); }
    QStringList recentList();
    static QString messageTitle(QWidget *parent, QString *text = nullptr);

    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_settingsDir;
};

void tst_QuillarkMainFlow::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
}

void tst_QuillarkMainFlow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("QuillarkLite"),
              QStringLiteral("Quillark Lite Modbus"))
        .clear();
    dataIntervalMs = 10000;
    InsertSerialData::clearQueue();
}

void tst_QuillarkMainFlow::cleanup()
{
    m_dir.reset();
}

QStringList tst_QuillarkMainFlow::recentList()
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("QuillarkLite"),
                QStringLiteral("Quillark Lite Modbus"));
    s.beginGroup(QStringLiteral("RecentProjects"));
    return s.value(QStringLiteral("list")).toStringList();
}

QString tst_QuillarkMainFlow::messageTitle(QWidget *parent, QString *text)
{
    const QList<MessageDialog *> dialogs = parent->findChildren<MessageDialog *>();
    if (dialogs.isEmpty())
        return QString();
    if (text)
        *text = dialogs.last()->findChild<QTextBrowser *>()->toPlainText();
    return dialogs.last()->findChild<QGroupBox *>()->title();
}

void tst_QuillarkMainFlow::recordFlow(quint16 port, float ch1a, float ch2a, float ch1b, float ch2b,
                                      bool simulatorValuesFrozen)
{
    Q_UNUSED(simulatorValuesFrozen)
    TestSupport::FixtureConnection c;
    c.port = port;
    c.nodes = TestSupport::fixtureNodes(2, QStringLiteral("QF00000000000000"));
    const QString path = projectPath(QStringLiteral("flow"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));

    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    emit startScreen(w)->projectLoaded(path);

    QVERIFY(w.m_projectCenter);
    QVERIFY(w.projectOpen);
    QCOMPARE(dataIntervalMs, 1000);
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), QStringLiteral("Interval : 1 sec"));
    QVERIFY(w.findChild<QLabel *>("label_projectname")->text().endsWith(QStringLiteral("/flow.qlk")));
    QVERIFY(w.m_deviceTimer->isActive());
    QCOMPARE(w.m_deviceTimer->interval(), 1000);
    QVERIFY(w.m_insertSerialData && w.m_insertSerialData->isOpened());
    QVERIFY(QFileInfo::exists(m_dir->filePath("flow.dat")));
    QCOMPARE(recentList(), QStringList{"flow"});
    for (const char *name : {"actionAddDelete", "actionClose", "actionRefreshDevices", "actionDataViewer",
                             "actionExpansionMode"})
        QVERIFY2(w.menuAction(name)->isEnabled(), name);

    // Live values reach the nodes and their dashboard tiles.
    QCOMPARE(w.m_deviceList.size(), 1);
    const QList<NodeDevice *> nodes = w.m_deviceList.first()->nodeList();
    QCOMPARE(nodes.size(), 2);
    const QString a1 = QString::number(ch1a, 'f', 2), a2 = QString::number(ch2a, 'f', 2);
    QTRY_COMPARE_WITH_TIMEOUT(nodes[0]->ch1Text(), a1, 10000);
    QCOMPARE(nodes[0]->ch2Text(), a2);
    QTRY_COMPARE(nodes[1]->ch1Text(), QString::number(ch1b, 'f', 2));
    QVERIFY(nodes[0]->ch1Tile() && nodes[0]->ch2Tile());
    QTRY_COMPARE(nodes[0]->ch1Tile()->findChild<QLabel *>("label_number")->text(), a1);
    QCOMPARE(nodes[0]->ch2Tile()->findChild<QLabel *>("label_number")->text(), a2);

    // Record through the centre's button for a few intervals.
    auto *record = w.m_projectCenter->findChild<QToolButton *>("btn_record");
    QVERIFY(record);
    record->click();
    QVERIFY(w.m_bIsRecordStart);
    QVERIFY(w.m_dbTimer->isActive());
    QCOMPARE(w.m_dbTimer->interval(), 1500);
    for (NodeDevice *node : nodes)
        QVERIFY(node->record());
    QVERIFY(!w.menuAction("actionExit")->isEnabled());
    QVERIFY(!w.menuAction("actionClose")->isEnabled());
    QVERIFY(!w.menuAction("actionAddDelete")->isEnabled());
    const QString startText = w.m_projectCenter->recordStartTime();
    QVERIFY(!startText.isEmpty());
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_start_time").toString(), startText);

    // The window refuses to close while recording.
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());

    // Batches are written while recording (8 rows with one connection).
    QTRY_VERIFY_WITH_TIMEOUT(readRows(m_dir->filePath("flow.dat")).size() >= 8, 15000);

    const qint64 lastPoll = w.m_deviceList.first()->lastPollTime().toSecsSinceEpoch();
    record->click();
    QVERIFY(!w.m_bIsRecordStart);
    QVERIFY(!w.m_dbTimer->isActive());
    QCOMPARE(InsertSerialData::pendingCount(), 0);
    QVERIFY(w.menuAction("actionExit")->isEnabled());
    const QString stopText = w.m_projectCenter->recordEndTime();
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_stop_time").toString(), stopText);

    const QList<Row> rows = readRows(m_dir->filePath("flow.dat"));
    for (int n = 0; n < 2; ++n) {
        QList<Row> mine;
        for (const Row &r : rows) {
            if (r.serial == nodes[n]->deviceNumber())
                mine << r;
        }
        QVERIFY2(mine.size() >= 5, qPrintable(QString::number(mine.size())));
        // Every row but the last holds the gateway's values.
        for (int i = 0; i + 1 < mine.size(); ++i) {
            QCOMPARE(mine[i].ch1.toDouble(), double(n == 0 ? ch1a : ch1b));
            QCOMPARE(mine[i].ch2.toDouble(), double(n == 0 ? ch2a : ch2b));
            QVERIFY(mine[i].pointDate >= QDateTime::fromString(startText, "yyyy-MM-dd hh:mm:ss").toSecsSinceEpoch());
        }
        // The last is the gap marker: no values, one interval after the last poll.
        QVERIFY(mine.last().ch1.isNull());
        QVERIFY(mine.last().ch2.isNull());
        QCOMPARE(mine.last().pointDate, lastPoll + 1);
    }
    const int rowCount = rows.size();

    // A second recording keeps the first start time.
    QTest::qWait(1100);
    record->click();
    QCOMPARE(w.m_projectCenter->recordStartTime(), startText);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_start_time").toString(), startText);
    QTest::qWait(1500);
    record->click();
    QVERIFY(readRows(m_dir->filePath("flow.dat")).size() > rowCount);

    // Close: the start screen is back and everything of the project is gone.
    w.menuAction("actionClose")->trigger();
    QVERIFY(!w.m_projectCenter);
    QVERIFY(startScreen(w));
    QVERIFY(!w.projectOpen);
    QVERIFY(!w.m_insertSerialData);
    QVERIFY(w.m_deviceList.isEmpty());
    QVERIFY(!w.m_deviceTimer->isActive());
    QCOMPARE(dataIntervalMs, 10000);
    QVERIFY(w.findChild<QLabel *>("label_interval")->text().isEmpty());
    QVERIFY(w.findChild<QLabel *>("label_projectname")->text().isEmpty());
    for (const char *name : {"actionAddDelete", "actionClose", "actionRefreshDevices", "actionDataViewer",
                             "actionExpansionMode"})
        QVERIFY2(!w.menuAction(name)->isEnabled(), name);
    QVERIFY(w.close());
}

void tst_QuillarkMainFlow::loadRecordStopAgainstSimulator()
{
    GatewaySimulator::Options options;
    options.port = 0;
    options.devices = 2;
    options.updateMs = 0;
    GatewaySimulator sim(options);
    QVERIFY(sim.start());
    sim.setFrozen(true);
    sim.setDeviceValues(0, 21.5f, 48.25f, 200, 90);
    sim.setDeviceValues(1, -3.75f, 61.5f, 180, 80);
    recordFlow(sim.serverPort(), 21.5f, 48.25f, -3.75f, 61.5f, true);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(sim.requestCount() >= 5);
}

void tst_QuillarkMainFlow::loadRecordStopAgainstPymodbus()
{
    TestSupport::PymodbusServer server;
    const QString why = server.start(block(18.25f, 40.5f, 170, 70) + block(25.0f, 33.75f, 160, 60));
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    recordFlow(server.port(), 18.25f, 40.5f, 25.0f, 33.75f, true);
}

void tst_QuillarkMainFlow::recentProjectsAndNewProject()
{
    TestSupport::FixtureConnection c;
    c.port = TestSupport::freeLoopbackPort(); // nobody listens: values stay empty
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QR00000000000000"));
    const QString first = projectPath(QStringLiteral("first"));
    const QString second = projectPath(QStringLiteral("second"));
    QVERIFY(TestSupport::writeProject(first, 5000, {c}));
    QVERIFY(TestSupport::writeProject(second, 60000, {c}));

    QuillarkMain w;
    emit startScreen(w)->projectLoaded(first);
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), QStringLiteral("Interval : 5 sec"));
    w.menuAction("actionClose")->trigger();
    emit startScreen(w)->projectLoaded(second);
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), QStringLiteral("Interval : 1 min"));
    w.menuAction("actionClose")->trigger();
    QCOMPARE(recentList(), (QStringList{"second", "first"}));

    // Opening a known project again leaves the list as it is.
    emit startScreen(w)->projectLoaded(first);
    w.menuAction("actionClose")->trigger();
    QCOMPARE(recentList(), (QStringList{"second", "first"}));
    QCOMPARE(w.m_recentList, (QStringList{"second", "first"}));

    // A new project: start screen -> editor -> centre, and it heads the list.
    QCOMPARE(dataIntervalMs, 10000);
    const QString fresh = projectPath(QStringLiteral("fresh"));
    { QFile f(fresh); QVERIFY(f.open(QIODevice::WriteOnly)); }
    emit startScreen(w)->projectCreated(fresh);
    QVERIFY(!startScreen(w));
    QVERIFY(w.m_projectManager);
    QVERIFY(!w.projectOpen);
    QVERIFY(w.menuAction("actionClose")->isEnabled());
    QVERIFY(!w.menuAction("actionAddDelete")->isEnabled());
    QVERIFY(!w.menuAction("actionDataViewer")->isEnabled());
    {
        QSettings s(fresh, QSettings::IniFormat);
        QCOMPARE(s.value("projectName").toString(), QStringLiteral("fresh"));
        QCOMPARE(s.value("DataInterval").toInt(), 10000);
        QCOMPARE(s.value("databaseName").toString(), QStringLiteral("fresh.dat"));
        QVERIFY(!s.contains("DeviceList"));
    }

    // Confirm a device list as the editor does.
    QVector<ProjectFile::Connection> entries(1);
    entries[0].ipAddress = QStringLiteral("127.0.0.1");
    entries[0].port = c.port;
    entries[0].model = QStringLiteral("QA100");
    ProjectFile::Node node;
    node.deviceNumber = QStringLiteral("QN0000000000000001");
    node.deviceName = QStringLiteral("Fridge");
    entries[0].nodes << node;
    emit w.m_projectManager->projectListConfirm(ProjectFile::build(entries));
    QTRY_VERIFY(!w.m_projectManager);
    QVERIFY(w.m_projectCenter);
    QVERIFY(w.projectOpen);
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), QStringLiteral("Interval : 10 sec"));
    QCOMPARE(recentList(), (QStringList{"fresh", "second", "first"}));
    QList<ConfiguredDevice *> reread;
    QVERIFY(ProjectFile::read(fresh, &reread));
    QCOMPARE(reread.size(), 1);
    QCOMPARE(reread.first()->nodeList().first()->deviceName(), QStringLiteral("Fridge"));
    qDeleteAll(reread);

    // A recent entry whose file vanished is dropped by the next window.
    w.menuAction("actionClose")->trigger();
    QVERIFY(QFile::remove(second));
    QuillarkMain next;
    QCOMPARE(next.m_recentList, (QStringList{"fresh", "first"}));
    QVERIFY(!next.m_recentMap.contains("second"));
}

void tst_QuillarkMainFlow::unconfirmedProjectRefusedOnLoad()
{
    QuillarkMain w;
    const QString path = projectPath(QStringLiteral("draft"));
    { QFile f(path); QVERIFY(f.open(QIODevice::WriteOnly)); }
    emit startScreen(w)->projectCreated(path);
    QVERIFY(w.m_projectManager);
    w.menuAction("actionClose")->trigger();
    QVERIFY(!w.m_projectManager || QTest::qWaitFor([&] { return !w.m_projectManager; }));
    QVERIFY(startScreen(w));

    ProjectMain *screen = startScreen(w);
    emit screen->projectLoaded(path);
    QCOMPARE(startScreen(w), screen);
    QVERIFY(!w.m_projectCenter);
    QVERIFY(!w.projectOpen);
    QString text;
    QCOMPARE(messageTitle(&w, &text), QStringLiteral("ERROR"));
    QCOMPARE(text, QStringLiteral("There is no device information!"));
    QCOMPARE(recentList(), QStringList());
}

void tst_QuillarkMainFlow::addDeleteRebuildsPollers()
{
    GatewaySimulator::Options options;
    options.port = 0;
    options.devices = 3;
    GatewaySimulator sim(options);
    QVERIFY(sim.start());
    TestSupport::FixtureConnection c;
    c.port = sim.serverPort();
    c.nodes = TestSupport::fixtureNodes(2, QStringLiteral("QA00000000000000"));
    const QString path = projectPath(QStringLiteral("edit"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));

    QuillarkMain w;
    emit startScreen(w)->projectLoaded(path);
    QTRY_VERIFY(w.m_deviceList.first()->isConnected());
    ConfiguredDevice *old = w.m_deviceList.first();

    w.menuAction("actionRefreshDevices")->trigger();
    QVERIFY(old->isRefreshPending());

    w.menuAction("actionAddDelete")->trigger();
    QVERIFY(!w.m_projectCenter);
    QVERIFY(w.m_projectManager);
    QVERIFY(!w.projectOpen);
    QVERIFY(!w.m_deviceTimer->isActive());
    QVERIFY(!w.m_insertSerialData);
    QVERIFY(w.menuAction("actionClose")->isEnabled());
    QVERIFY(!w.menuAction("actionAddDelete")->isEnabled());
    QCOMPARE(w.m_projectManager->model()->rowCount(w.m_projectManager->model()->index(0, 0)), 2);

    // Confirming in the editor brings the project back with its new pollers.
    QPointer<ConfiguredDevice> oldGuard(old);
    w.m_projectManager->slotProjectListConfirm();
    QTRY_VERIFY(!w.m_projectManager);
    QVERIFY(w.m_projectCenter);
    QVERIFY(w.projectOpen);
    QVERIFY(w.m_deviceTimer->isActive());
    QCOMPARE(w.m_deviceList.size(), 1);
    QCOMPARE(w.m_deviceList.first()->nodeList().size(), 2);
    if (w.m_deviceList.first() != old)
        QVERIFY(!oldGuard);
    QTRY_VERIFY(!w.m_deviceList.first()->nodeList().first()->ch1Text().isEmpty());
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("DataInterval").toInt(), 1000);
}

void tst_QuillarkMainFlow::alarmFlagDrivesPlayer()
{
    GatewaySimulator::Options options;
    options.port = 0;
    options.devices = 1;
    options.updateMs = 0;
    GatewaySimulator sim(options);
    QVERIFY(sim.start());
    sim.setFrozen(true);
    sim.setDeviceValues(0, 20.0f, 50.0f, 200, 90);

    TestSupport::FixtureConnection c;
    c.port = sim.serverPort();
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QL00000000000000"));
    c.nodes[0].ch1Min = 10;
    c.nodes[0].ch1Max = 30;
    const QString path = projectPath(QStringLiteral("alarm"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));

    QuillarkMain w;
    emit startScreen(w)->projectLoaded(path);
    NodeDevice *node = w.m_deviceList.first()->nodeList().first();
    QTRY_COMPARE(node->ch1Text(), QStringLiteral("20.00"));
    QTest::qWait(1100);
    QVERIFY(!w.alarmPlaying);

    // Out of range: the next poll sets the flag, the next second starts the player.
    sim.setDeviceValues(0, 35.0f, 50.0f, 200, 90);
    QTRY_VERIFY_WITH_TIMEOUT(node->alarm1(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(w.alarmPlaying, 3000);
    QVERIFY(w.m_player->state() == QMediaPlayer::PlayingState || w.m_player->error() != QMediaPlayer::NoError
            || w.m_player->mediaStatus() != QMediaPlayer::NoMedia);

    // Back in range: the player stops within about a second.
    sim.setDeviceValues(0, 25.0f, 50.0f, 200, 90);
    QTRY_VERIFY_WITH_TIMEOUT(!node->alarm1(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!w.alarmPlaying, 2500);
    QCOMPARE(w.m_player->state(), QMediaPlayer::StoppedState);
}

QTEST_MAIN(tst_QuillarkMainFlow)
#include "tst_quillarkmainflow.moc"
