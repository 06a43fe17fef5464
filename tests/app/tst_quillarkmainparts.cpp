// Pieces of the main window that need no live gateway: the data interval
// read from a project, batch thresholds, a failing database, the fatal
// database box, the side tools, the alarm loop and the recent-project store.
#include "app/messagedialog.h"
#include "app/projectfile.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"
#include "view/dashboard.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

class tst_QuillarkMainParts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void dataIntervalFromFile_data();
    void dataIntervalFromFile();
    void batchThreshold_data();
    void batchThreshold();
    void failedWritesWarnOnce();
    void databaseThatCannotBeOpened();
    void sideTools_data();
    void sideTools();
    void sideToolWithoutDataFile();
    void alarmLoopIsPaced();
    void recentProjectsPrunedAtStart();
    void stdTimerWithoutProject();
    void demoProject();
    void recordingStopsAtSizeLimit_data();
    void recordingStopsAtSizeLimit();
    void projectFolderCutInStatusStrip_data();
    void projectFolderCutInStatusStrip();
    void databaseStaysBesideProject_data();
    void expansionModeHidesEmptyCells();
    void databaseStaysBesideProject();

private:
    QString loadProject(QuillarkMain &w, const QString &name, int connections, int interval = 1000);
    static QList<MessageDialog *> messages(QWidget *w, const QString &title);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    quint16 m_deadPort = 0;
};

void tst_QuillarkMainParts::initTestCase()
{
    QVERIFY(m_settingsDir.isValid() && m_dir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
    m_deadPort = TestSupport::freeLoopbackPort();
}

void tst_QuillarkMainParts::init()
{
    dataIntervalMs = 10000;
    InsertSerialData::clearQueue();
    QuillarkMain::criticalBox = nullptr;
    QuillarkMain::exitProgram = nullptr;
}

QList<MessageDialog *> tst_QuillarkMainParts::messages(QWidget *w, const QString &title)
{
    QList<MessageDialog *> out;
    for (MessageDialog *d : w->findChildren<MessageDialog *>()) {
        if (d->findChild<QGroupBox *>()->title() == title)
            out << d;
    }
    return out;
}

// A project whose gateways do not answer (nobody listens on the port).
QString tst_QuillarkMainParts::loadProject(QuillarkMain &w, const QString &name, int connections, int interval)
{
    QVector<TestSupport::FixtureConnection> list;
    for (int i = 0; i < connections; ++i) {
        TestSupport::FixtureConnection c;
        c.port = m_deadPort;
        c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QP0000000000000%1").arg(i));
        list << c;
    }
    const QString path = m_dir.filePath(name + QStringLiteral(".qlk"));
    QFile::remove(path);
    if (!TestSupport::writeProject(path, interval, list))
        return QString();
    emit w.m_projectMain->projectLoaded(path);
    return path;
}

void tst_QuillarkMainParts::dataIntervalFromFile_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("used");
    QTest::addColumn<QString>("label");
    QTest::newRow("1 sec") << QVariant(1000) << 1000 << "Interval : 1 sec";
    QTest::newRow("5 min") << QVariant(300000) << 300000 << "Interval : 5 min";
    QTest::newRow("10 min") << QVariant(600000) << 600000 << "Interval : 10 min";
    QTest::newRow("missing") << QVariant() << 10000 << "Interval : 10 sec";
    QTest::newRow("zero") << QVariant(0) << 10000 << "Interval : 10 sec";
    QTest::newRow("unknown") << QVariant(1234) << 10000 << "Interval : 10 sec";
    QTest::newRow("text") << QVariant("fast") << 10000 << "Interval : 10 sec";
}

void tst_QuillarkMainParts::dataIntervalFromFile()
{
    QFETCH(QVariant, stored);
    QFETCH(int, used);
    QFETCH(QString, label);

    QuillarkMain w;
    const QString path = m_dir.filePath(QStringLiteral("interval.qlk"));
    QFile::remove(path);
    TestSupport::FixtureConnection c;
    c.port = m_deadPort;
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QI00000000000000"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));
    {
        QSettings s(path, QSettings::IniFormat);
        if (stored.isValid())
            s.setValue("DataInterval", stored);
        else
            s.remove("DataInterval");
    }
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.m_projectCenter);
    QCOMPARE(dataIntervalMs, used);
    QCOMPARE(w.m_deviceTimer->interval(), used);
    QVERIFY(w.m_deviceTimer->isActive());
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), label);
    w.menuAction("actionClose")->trigger();
    QCOMPARE(dataIntervalMs, 10000);
}

void tst_QuillarkMainParts::batchThreshold_data()
{
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("threshold");
    QTest::newRow("one connection") << 1 << 8;
    QTest::newRow("two connections") << 2 << 16;
    QTest::newRow("eight connections") << 8 << 16;
}

void tst_QuillarkMainParts::batchThreshold()
{
    QFETCH(int, connections);
    QFETCH(int, threshold);

    QuillarkMain w;
    const QString path = loadProject(w, QStringLiteral("batch"), connections);
    QVERIFY(w.m_insertSerialData);
    const QString db = w.m_insertSerialData->databasePath();
    for (int i = 0; i < threshold - 1; ++i)
        InsertSerialData::appendRecord({QStringLiteral("QB0000000000000000"), 1.5, 2.5, quint32(1700000000 + i)});
    w.writeDb();
    QCOMPARE(int(InsertSerialData::pendingCount()), threshold - 1);
    InsertSerialData::appendRecord({QStringLiteral("QB0000000000000000"), 1.5, NoValue, 1700000100});
    w.writeDb();
    QCOMPARE(int(InsertSerialData::pendingCount()), 0);
    w.menuAction("actionClose")->trigger();

    QSqlDatabase check = QSqlDatabase::addDatabase("QSQLITE", "batch");
    check.setDatabaseName(db);
    QVERIFY(check.open());
    QSqlQuery q(check);
    QVERIFY(q.exec("select count(*), sum(channel2 is null) from fennolink"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), threshold);
    QCOMPARE(q.value(1).toInt(), 1);
    q.finish();
    QVERIFY(q.exec("delete from fennolink"));
    check.close();
    check = QSqlDatabase();
    QSqlDatabase::removeDatabase("batch");
    Q_UNUSED(path)
}

void tst_QuillarkMainParts::failedWritesWarnOnce()
{
    QuillarkMain w;
    loadProject(w, QStringLiteral("failing"), 1);
    QVERIFY(w.m_insertSerialData);
    const QString db = w.m_insertSerialData->databasePath();
    w.slotStartRecord();

    // Another program takes the table away: every batch now fails.
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "vandal");
        other.setDatabaseName(db);
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec("drop table fennolink"));
    }
    QSqlDatabase::removeDatabase("vandal");

    for (int round = 0; round < 4; ++round) {
        for (int i = 0; i < 8; ++i)
            InsertSerialData::appendRecord({QStringLiteral("QW0000000000000000"), 1, 2, quint32(1700000000 + i)});
        w.writeDb();
    }
    QVERIFY(w.m_insertSerialData->lastWriteFailed());
    QVERIFY(InsertSerialData::pendingCount() >= 32); // kept for the next attempt
    QCOMPARE(messages(&w, "WARNING").size(), 1);

    // Writing works again (table back): the next failure is reported again.
    {
        QSqlDatabase other = QSqlDatabase::addDatabase("QSQLITE", "mend");
        other.setDatabaseName(db);
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY(q.exec("create table fennolink (id integer primary key autoincrement, serialno varchar(18) "
                       "not null, channel1 double, channel2 double, pointDate integer)"));
    }
    QSqlDatabase::removeDatabase("mend");
    w.writeDb();
    QVERIFY(!w.m_insertSerialData->lastWriteFailed());
    QCOMPARE(InsertSerialData::pendingCount(), 0);
    w.slotStopRecord();
    w.menuAction("actionClose")->trigger();
}

void tst_QuillarkMainParts::databaseThatCannotBeOpened()
{
    QString boxTitle, boxText;
    int exitCode = -1;
    QuillarkMain::criticalBox = [&](const QString &t, const QString &x) {
        boxTitle = t;
        boxText = x;
    };
    QuillarkMain::exitProgram = [&](int code) { exitCode = code; };

    QuillarkMain w;
    w.show();
    const QString path = m_dir.filePath(QStringLiteral("nodb.qlk"));
    TestSupport::FixtureConnection c;
    c.port = m_deadPort;
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QD00000000000000"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));
    // The database name names a folder: SQLite cannot open it.
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("nodb.dat")));

    emit w.m_projectMain->projectLoaded(path);
    QCOMPARE(boxTitle, QStringLiteral("ERROR"));
    QCOMPARE(boxText, QStringLiteral("Create database error!\nExit program."));
    QCOMPARE(exitCode, 0);
    QVERIFY(!w.isVisible());
    QVERIFY(!w.m_insertSerialData);
    QVERIFY(!w.m_projectCenter);
    QVERIFY(!w.m_deviceTimer->isActive());
}

void tst_QuillarkMainParts::sideTools_data()
{
    QTest::addColumn<bool>("daily");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("program");
    QTest::newRow("viewer") << false << true << "RideZodazo";
    QTest::newRow("report") << true << true << "DavavoZurer";
    QTest::newRow("viewer missing") << false << false << "RideZodazo";
    QTest::newRow("report missing") << true << false << "DavavoZurer";
}

void tst_QuillarkMainParts::sideTools()
{
    QFETCH(bool, daily);
    QFETCH(bool, starts);
    QFETCH(QString, program);

    QString gotProgram;
    QStringList gotArguments;
    QuillarkMain::startDetached = [&](const QString &p, const QStringList &a) {
        gotProgram = p;
        gotArguments = a;
        return starts;
    };
    QuillarkMain w;
    // A folder with a space: the path must still arrive as one argument.
    QVERIFY(QDir(m_dir.path()).mkpath("my data"));
    const QString path = m_dir.filePath(QStringLiteral("my data/tools.qlk"));
    TestSupport::FixtureConnection c;
    c.port = m_deadPort;
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QT00000000000000"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.m_projectCenter);
    w.m_projectCenter->setRecordTimes("2026-01-02 03:04:05", "2026-01-02 04:05:06");

    w.menuAction(daily ? "actionDailyReport" : "actionDataViewer")->trigger();
    QuillarkMain::startDetached = [](const QString &p, const QStringList &a) { return QProcess::startDetached(p, a); };

    QCOMPARE(gotProgram, program);
    QCOMPARE(gotArguments, QStringList{"'" + QFileInfo(path).absoluteFilePath() + "'"});
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_stop_time").toString(),
             QStringLiteral("2026-01-02 04:05:06"));
    if (starts) {
        QVERIFY(w.findChildren<MessageDialog *>().isEmpty());
    } else {
        const QList<MessageDialog *> errors = messages(&w, "ERROR");
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.first()->findChild<QTextBrowser *>()->toPlainText(),
                 QStringLiteral("Please check the %1 execution file.").arg(program));
    }
    w.menuAction("actionClose")->trigger();
}

void tst_QuillarkMainParts::sideToolWithoutDataFile()
{
    int started = 0;
    QuillarkMain::startDetached = [&](const QString &, const QStringList &) { return ++started, true; };
    QuillarkMain w;
    const QString path = loadProject(w, QStringLiteral("nodata"), 1);
    // The database went away after the project was opened.
    const QString db = w.m_insertSerialData->databasePath();
    w.deleteInsertSerialData();
    QVERIFY(QFile::remove(db));
    QFile::remove(db + "-wal");
    QFile::remove(db + "-shm");
    w.menuAction("actionDataViewer")->trigger();
    w.menuAction("actionDailyReport")->trigger();
    QuillarkMain::startDetached = [](const QString &p, const QStringList &a) { return QProcess::startDetached(p, a); };
    QCOMPARE(started, 0);
    const QList<MessageDialog *> warnings = messages(&w, "WARNING");
    QCOMPARE(warnings.size(), 2);
    QCOMPARE(warnings.first()->findChild<QTextBrowser *>()->toPlainText(), QStringLiteral("There is no data file."));
    QVERIFY(!QSettings(path, QSettings::IniFormat).contains("record_stop_time"));
}

void tst_QuillarkMainParts::alarmLoopIsPaced()
{
    QuillarkMain w;
    w.slotAlarmAudioPlay();
    QVERIFY(w.alarmPlaying);
    // Without a sound device the back end may refuse to play; the flag is what counts.
    qInfo() << "player:" << w.m_player->state() << w.m_player->mediaStatus() << w.m_player->error();
    QVERIFY(w.m_player->state() == QMediaPlayer::PlayingState || w.m_player->error() != QMediaPlayer::NoError);

    // An audio stack that ends the media at once: a burst of end-of-media
    // reports restarts the sound once, the next restart waits its turn.
    for (int i = 0; i < 200; ++i)
        w.slotPlayerStatusChanged(QMediaPlayer::EndOfMedia);
    QVERIFY(w.m_alarmRestarts <= 1);
    const int afterBurst = w.m_alarmRestarts;
    QVERIFY(w.m_alarmRestartTimer->isActive() || afterBurst == 1);
    QTest::qWait(QuillarkMain::kAlarmRestartMinMs + 200);
    for (int i = 0; i < 200; ++i)
        w.slotPlayerStatusChanged(QMediaPlayer::EndOfMedia);
    QVERIFY(w.m_alarmRestarts <= afterBurst + 2);
    QVERIFY(w.m_alarmRestarts >= 1);

    // Other states are ignored; once stopped, nothing restarts the sound.
    const int before = w.m_alarmRestarts;
    w.slotPlayerStatusChanged(QMediaPlayer::LoadedMedia);
    w.slotAlarmAudioStop();
    QVERIFY(!w.alarmPlaying);
    QVERIFY(!w.m_alarmRestartTimer->isActive());
    w.slotPlayerStatusChanged(QMediaPlayer::EndOfMedia);
    QTest::qWait(QuillarkMain::kAlarmRestartMinMs + 100);
    QCOMPARE(w.m_alarmRestarts, before);
    QCOMPARE(w.m_player->state(), QMediaPlayer::StoppedState);
}

void tst_QuillarkMainParts::recentProjectsPrunedAtStart()
{
    const QString kept = m_dir.filePath("kept.qlk");
    { QFile f(kept); QVERIFY(f.open(QIODevice::WriteOnly)); }
    {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, "QuillarkLite", "Quillark Lite Modbus");
        s.clear();
        s.beginGroup("RecentProjects");
        s.setValue("list", QStringList{"gone", "kept"});
        QVariantHash map;
        map["gone"] = m_dir.filePath("gone.qlk");
        map["kept"] = kept;
        s.setValue("projects", map);
    }
    QuillarkMain w;
    QCOMPARE(w.m_recentList, QStringList{"kept"});
    QCOMPARE(w.m_recentMap.keys(), QStringList{"kept"});
    // The start screen lists only what is left.
    auto *list = w.m_projectMain->findChild<QListWidget *>();
    QVERIFY(list);
    QCOMPARE(list->count(), 1);
    // Written back only at the next save.
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "QuillarkLite", "Quillark Lite Modbus");
    QCOMPARE(s.value("RecentProjects/list").toStringList(), (QStringList{"gone", "kept"}));
}

void tst_QuillarkMainParts::stdTimerWithoutProject()
{
    QuillarkMain w;
    w.slotStdTimer();
    const QString clock = w.findChild<QLabel *>("label_datetime")->text();
    QVERIFY(QDateTime::fromString(clock, "yyyy-MM-dd HH:mm:ss").isValid());
    QVERIFY(!w.alarmPlaying);
    QVERIFY(!w.m_projectCenter);
}

void tst_QuillarkMainParts::demoProject()
{
    // The shipped demo points at the two development gateways.
    const QString path = TestSupport::sourceDir() + QStringLiteral("/examples/demo.qlk");
    QList<ConfiguredDevice *> devices;
    QVERIFY(ProjectFile::read(path, &devices));
    QCOMPARE(ProjectFile::dataInterval(path), 1000);
    QCOMPARE(ProjectFile::databaseName(path), QStringLiteral("demo.dat"));
    QCOMPARE(devices.size(), 2);
    QSet<QString> names, numbers;
    int narrow = 0;
    for (int c = 0; c < devices.size(); ++c) {
        QCOMPARE(devices[c]->ipAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(int(devices[c]->port()), 1502 + c);
        for (NodeDevice *node : devices[c]->nodeList()) {
            names << node->deviceName();
            numbers << node->deviceNumber();
            QCOMPARE(node->deviceNumber().size(), 18);
            if (node->ch1Max() - node->ch1Min() <= 5)
                ++narrow;
        }
    }
    qDeleteAll(devices);
    QCOMPARE(names.size(), 16);
    QCOMPARE(numbers.size(), 16);
    QCOMPARE(narrow, 1);
}

void tst_QuillarkMainParts::recordingStopsAtSizeLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("stops");
    // 3.9 GiB is 4187593113.6 bytes.
    QTest::newRow("below") << Q_INT64_C(4187593113) << false;
    QTest::newRow("at") << Q_INT64_C(4187593114) << true;
}

void tst_QuillarkMainParts::recordingStopsAtSizeLimit()
{
    QFETCH(qint64, size);
    QFETCH(bool, stops);

    QuillarkMain w;
    const QString path = loadProject(w, QStringLiteral("huge"), 1);
    QVERIFY(w.m_projectCenter);
    w.slotStartRecord();
    w.slotStdTimer(); // fills the end time
    QVERIFY(w.m_bIsRecordStart);

    // A sparse file of the given size stands in for a full database.
    const QString db = w.m_insertSerialData->databasePath();
    w.deleteInsertSerialData();
    {
        QFile f(db);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(size));
    }
    w.slotStdTimer();
    QCOMPARE(!w.m_bIsRecordStart, stops);
    QCOMPARE(w.menuAction("actionClose")->isEnabled(), stops);
    if (stops)
        QVERIFY(!QSettings(path, QSettings::IniFormat).value("record_stop_time").toString().isEmpty());
    w.slotStopRecord();
    w.menuAction("actionClose")->trigger();
    QFile::remove(db);
}

void tst_QuillarkMainParts::projectFolderCutInStatusStrip_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("40 characters") << 40;
    QTest::newRow("41 characters") << 41;
    QTest::newRow("60 characters") << 60;
}

void tst_QuillarkMainParts::projectFolderCutInStatusStrip()
{
    QFETCH(int, length);

    // A folder whose absolute path has exactly `length` characters.
    const QString base = m_dir.filePath(QStringLiteral("d"));
    QVERIFY(base.size() < length - 1);
    const QString folder = base + QString(length - base.size(), QLatin1Char('x'));
    QCOMPARE(folder.size(), length);
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/strip.qlk");
    TestSupport::FixtureConnection c;
    c.port = m_deadPort;
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QS00000000000000"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));

    QuillarkMain w;
    emit w.m_projectMain->projectLoaded(path);
    const QString shown = w.findChild<QLabel *>("label_projectname")->text();
    if (length <= 40)
        QCOMPARE(shown, folder + QStringLiteral("/strip.qlk"));
    else
        QCOMPARE(shown, folder.left(40) + QStringLiteral(".../strip.qlk"));
    w.menuAction("actionClose")->trigger();
}

void tst_QuillarkMainParts::databaseStaysBesideProject_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QString>("used");
    QTest::newRow("plain") << QVariant("beside.dat") << "beside.dat";
    QTest::newRow("parent folder") << QVariant("../escape.dat") << "escape.dat";
    QTest::newRow("absolute") << QVariant("/tmp/elsewhere/abs.dat") << "abs.dat";
    QTest::newRow("missing") << QVariant() << "place.dat";
    QTest::newRow("empty") << QVariant("") << "place.dat";
    QTest::newRow("dot dot") << QVariant("..") << "place.dat";
}

void tst_QuillarkMainParts::databaseStaysBesideProject()
{
    QFETCH(QVariant, stored);
    QFETCH(QString, used);

    QTemporaryDir outer;
    QVERIFY(QDir(outer.path()).mkpath("inner"));
    const QString path = outer.filePath("inner/place.qlk");
    TestSupport::FixtureConnection c;
    c.port = m_deadPort;
    c.nodes = TestSupport::fixtureNodes(1, QStringLiteral("QN00000000000000"));
    QVERIFY(TestSupport::writeProject(path, 1000, {c}));
    {
        QSettings s(path, QSettings::IniFormat);
        if (stored.isValid())
            s.setValue("databaseName", stored);
        else
            s.remove("databaseName");
    }
    QuillarkMain::criticalBox = [](const QString &, const QString &) { QFAIL("database refused"); };
    QuillarkMain w;
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.m_insertSerialData);
    QCOMPARE(w.m_insertSerialData->databasePath(), outer.filePath("inner/" + used));
    QVERIFY(QFileInfo::exists(outer.filePath("inner/" + used)));
    QVERIFY(!QFileInfo::exists(outer.filePath("escape.dat")));
    w.menuAction("actionClose")->trigger();
}

void tst_QuillarkMainParts::expansionModeHidesEmptyCells()
{
    QuillarkMain w;
    w.show();
    loadProject(w, QStringLiteral("expand"), 1);
    QVERIFY(w.m_projectCenter);
    auto *grid = w.m_projectCenter->dashBoard()->findChild<QGridLayout *>("gridLayout_2");
    QVERIFY(grid);
    auto hiddenCells = [&] {
        int hidden = 0;
        for (int i = 0; i < grid->count(); ++i) {
            if (grid->itemAt(i)->widget() && grid->itemAt(i)->widget()->isHidden())
                ++hidden;
        }
        return hidden;
    };
    QCOMPARE(hiddenCells(), 0);
    QAction *expansion = w.menuAction("actionExpansionMode");
    expansion->trigger();
    QVERIFY(expansion->isChecked());
    QCOMPARE(hiddenCells(), grid->count() - 2); // one device: two tiles stay
    expansion->trigger();
    QCOMPARE(hiddenCells(), 0);

    expansion->trigger();
    w.menuAction("actionClose")->trigger();
    QVERIFY(!expansion->isChecked());
    QVERIFY(!expansion->isEnabled());
}

QTEST_MAIN(tst_QuillarkMainParts)
#include "tst_quillarkmainparts.moc"
