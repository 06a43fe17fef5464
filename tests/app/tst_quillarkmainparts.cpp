// Pieces of the main window that need no live gateway (nobody listens on the
// projects' port): what is read from a project file, batched writes and their
// failures, the side tools and the database size limit.
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "device/nodedevice.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QtTest>

using TestSupport::shownMessages;
using TestSupport::sqlRows;

class tst_QuillarkMainParts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void projectFileValues_data();
    void projectFileValues();
    void batchesAndFailedWrites_data();
    void batchesAndFailedWrites();
    void sideTools_data();
    void sideTools();
    void recordingStopsAtSizeLimit();

private:
    QString loadProject(QuillarkMain &w, const QString &name, int connections = 1);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    TestSupport::DeadPort m_dead;
    quint16 m_deadPort = 0;
};

void tst_QuillarkMainParts::initTestCase()
{
    QVERIFY(m_settingsDir.isValid() && m_dir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
    m_deadPort = m_dead.port();
}

void tst_QuillarkMainParts::init()
{
    dataIntervalMs = 10000;
    InsertSerialData::clearQueue();
    QuillarkMain::criticalBox = nullptr;
    QuillarkMain::exitProgram = nullptr;
    // Rows a test leaves unwritten are dropped at Close without a question.
    QuillarkMain::unwrittenRowsQuestion = [](QWidget *, const QString &) {
        return QuillarkMain::UnwrittenRowsChoice::Discard;
    };
}

QString tst_QuillarkMainParts::loadProject(QuillarkMain &w, const QString &name, int connections)
{
    const QString path = m_dir.filePath(name + QStringLiteral(".qlk"));
    QFile::remove(path);
    QFile::remove(m_dir.filePath(name + QStringLiteral(".dat")));
    if (!TestSupport::writeProject(path, 1000, QVector<quint16>(connections, m_deadPort)))
        return QString();
    emit w.m_projectMain->projectLoaded(path);
    return path;
}

void tst_QuillarkMainParts::projectFileValues_data()
{
    QTest::addColumn<QVariant>("interval");     // "DataInterval" stored; invalid: none
    QTest::addColumn<QVariant>("databaseName"); // "databaseName" stored; invalid: none
    QTest::addColumn<int>("folderLength");      // of the project's absolute folder
    QTest::addColumn<int>("used");              // the data interval in use
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("database"); // beside the project; empty: cannot be opened

    QTest::newRow("1 sec") << QVariant(1000) << QVariant("a.dat") << 40 << 1000 << "1 sec"
                           << "a.dat";
    QTest::newRow("5 sec") << QVariant(5000) << QVariant("a.dat") << 40 << 5000 << "5 sec"
                           << "a.dat";
    QTest::newRow("1 min") << QVariant(60000) << QVariant("a.dat") << 40 << 60000 << "1 min"
                           << "a.dat";
    QTest::newRow("5 min") << QVariant(300000) << QVariant("a.dat") << 41 << 300000 << "5 min"
                           << "a.dat";
    QTest::newRow("10 min") << QVariant(600000) << QVariant("a.dat") << 60 << 600000 << "10 min"
                            << "a.dat";
    // A missing or unknown interval would poll as fast as the loop turns: the default is used.
    QTest::newRow("no interval") << QVariant() << QVariant("a.dat") << 40 << 10000 << "10 sec"
                                 << "a.dat";
    QTest::newRow("interval 0") << QVariant(0) << QVariant("a.dat") << 40 << 10000 << "10 sec"
                                << "a.dat";
    QTest::newRow("interval 1234") << QVariant(1234) << QVariant("a.dat") << 40 << 10000 << "10 sec"
                                   << "a.dat";
    QTest::newRow("interval text")
        << QVariant("fast") << QVariant("a.dat") << 40 << 10000 << "10 sec"
        << "a.dat";
    // The database stays beside the project whatever the file says.
    QTest::newRow("database ../") << QVariant(1000) << QVariant("../escape.dat") << 40 << 1000
                                  << "1 sec"
                                  << "escape.dat";
    QTest::newRow("database absolute")
        << QVariant(1000) << QVariant("/tmp/x/abs.dat") << 40 << 1000 << "1 sec"
        << "abs.dat";
    QTest::newRow("no database name") << QVariant(1000) << QVariant() << 40 << 1000 << "1 sec"
                                      << "place.dat";
    QTest::newRow("database ..") << QVariant(1000) << QVariant("..") << 40 << 1000 << "1 sec"
                                 << "place.dat";
    QTest::newRow("database is a folder")
        << QVariant(1000) << QVariant("folder.dat") << 40 << 1000 << "1 sec"
        << "";
}

void tst_QuillarkMainParts::projectFileValues()
{
    QFETCH(QVariant, interval);
    QFETCH(QVariant, databaseName);
    QFETCH(int, folderLength);
    QFETCH(int, used);
    QFETCH(QString, label);
    QFETCH(QString, database);

    QTemporaryDir outer;
    const QString folder =
        outer.path() + '/' + QString(folderLength - outer.path().size() - 1, 'x');
    const QString path = folder + QStringLiteral("/place.qlk");
    QVERIFY(QDir().mkpath(folder) && TestSupport::writeProject(path, 1000, {m_deadPort}));
    {
        QSettings s(path, QSettings::IniFormat);
        interval.isValid() ? s.setValue("DataInterval", interval) : s.remove("DataInterval");
        databaseName.isValid() ? s.setValue("databaseName", databaseName)
                               : s.remove("databaseName");
    }
    if (database.isEmpty())
        QVERIFY(QDir(folder).mkdir(databaseName.toString()));
    QString box;
    int exitCode = -1;
    QuillarkMain::criticalBox = [&](const QString &title, const QString &text) {
        box = title + '|' + text;
    };
    QuillarkMain::exitProgram = [&](int code) { exitCode = code; };

    QuillarkMain w;
    w.show();
    emit w.m_projectMain->projectLoaded(path);
    if (database.isEmpty()) {
        QCOMPARE(box, QStringLiteral("ERROR|Create database error!\nExit program."));
        QCOMPARE(exitCode, 0);
        QVERIFY(!w.isVisible() && !w.m_insertSerialData && !w.m_projectCenter &&
                !w.m_deviceTimer->isActive());
        return;
    }
    QVERIFY(box.isEmpty() && w.m_projectCenter);
    QCOMPARE(w.m_deviceTimer->interval(), used);
    QVERIFY(w.m_deviceTimer->isActive());
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), "Interval : " + label);
    QCOMPARE(w.findChild<QLabel *>("label_projectname")->text(),
             folderLength <= 40 ? path : folder.left(40) + QStringLiteral(".../place.qlk"));
    QCOMPARE(w.m_insertSerialData->databasePath(), folder + '/' + database);
    QVERIFY(QFileInfo::exists(folder + '/' + database) &&
            !QFileInfo::exists(outer.filePath("escape.dat")));
    w.menuAction("actionClose")->trigger();
    QCOMPARE(dataIntervalMs, 10000);
}

void tst_QuillarkMainParts::batchesAndFailedWrites_data()
{
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("batch");
    QTest::newRow("one connection: 8 rows") << 1 << 8;
    QTest::newRow("two connections: 16 rows") << 2 << 16;
}

void tst_QuillarkMainParts::batchesAndFailedWrites()
{
    QFETCH(int, connections);
    QFETCH(int, batch);
    QuillarkMain w;
    loadProject(w, QStringLiteral("batch"), connections);
    QVERIFY(w.m_insertSerialData);
    const QString db = w.m_insertSerialData->databasePath();
    w.slotStartRecord();
    InsertSerialData::clearQueue(); // the start's no-value rows
    auto append = [](int rows) {
        for (int i = 0; i < rows; ++i)
            InsertSerialData::appendRecord(
                {QStringLiteral("QB0000000000000000"), 1.5, NoValue, quint32(1700000000 + i)});
    };
    append(batch - 1);
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QCOMPARE(int(InsertSerialData::pendingCount()), batch - 1);
    append(1);
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QCOMPARE(int(InsertSerialData::pendingCount()), 0);
    QCOMPARE(sqlRows(db, "select count(*) from fennolink where channel2 is null")
                 .value(0)
                 .value(0)
                 .toInt(),
             batch);

    // Another program takes the table away: the rows are kept, the user is told once.
    sqlRows(db, "drop table fennolink");
    for (int round = 0; round < 4; ++round) {
        append(batch);
        w.writeDb();
        w.m_insertSerialData->finishWrites();
    }
    QVERIFY(w.m_insertSerialData->lastWriteFailed());
    QCOMPARE(int(InsertSerialData::pendingCount()), 4 * batch);
    QCOMPARE(shownMessages(&w).filter(QStringLiteral("WARNING|")).size(), 1);

    // Once writing works again, everything kept is written.
    sqlRows(db, "create table fennolink (id integer primary key autoincrement, serialno "
                "varchar(18) not null, "
                "channel1 double, channel2 double, pointDate integer)");
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QVERIFY(!w.m_insertSerialData->lastWriteFailed());
    QCOMPARE(InsertSerialData::pendingCount(), 0);
    QCOMPARE(sqlRows(db, "select count(*) from fennolink").value(0).value(0).toInt(), 4 * batch);
    // ...and a later failure is told again.
    sqlRows(db, "drop table fennolink");
    append(batch);
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QCOMPARE(shownMessages(&w).filter(QStringLiteral("WARNING|")).size(), 2);
    w.slotStopRecord();
    w.menuAction("actionClose")->trigger();
}

void tst_QuillarkMainParts::sideTools_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("starts");     // the program could be started
    QTest::addColumn<QString>("message"); // "title|text"; "-": the data file is gone
    QTest::newRow("viewer") << "actionDataViewer" << true << "";
    QTest::newRow("weekly report") << "actionWeeklyReport" << true << "";
    QTest::newRow("HACCP report") << "actionHaccpReport" << true << "";
    QTest::newRow("report fails") << "actionDailyReport" << false
                                  << "ERROR|Please check the DavavoZurer execution file.";
    QTest::newRow("no data file") << "actionDataViewer" << true << "-";
}

void tst_QuillarkMainParts::sideTools()
{
    QFETCH(QString, entry);
    QFETCH(bool, starts);
    QFETCH(QString, message);
    QStringList started;
    QuillarkMain::startDetached = [&](const QString &program, const QStringList &arguments) {
        started << program << arguments;
        return starts;
    };
    QuillarkMain w;
    const QString path =
        loadProject(w, QStringLiteral("my tools")); // one argument despite the space
    w.m_projectCenter->setRecordTimes("2026-01-02 03:04:05", "2026-01-02 04:05:06");
    if (message == "-") {
        const QString db = w.m_insertSerialData->databasePath();
        w.deleteInsertSerialData();
        QVERIFY(QFile::remove(db));
    }
    w.menuAction(entry)->trigger();
    QuillarkMain::startDetached = [](const QString &p, const QStringList &a) {
        return QProcess::startDetached(p, a);
    };
    if (message == "-") {
        QVERIFY(started.isEmpty());
        QCOMPARE(shownMessages(&w), QStringList{"WARNING|There is no data file."});
        return;
    }
    QCOMPARE(shownMessages(&w), message.isEmpty() ? QStringList() : QStringList{message});
    QStringList expected{entry == "actionDataViewer" ? "RideZodazo" : "DavavoZurer"};
    if (entry == "actionWeeklyReport")
        expected << "--kind"
                 << "weekly";
    else if (entry == "actionHaccpReport")
        expected << "--kind"
                 << "haccp";
    QCOMPARE(started, expected << "'" + path + "'");
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_stop_time").toString(),
             "2026-01-02 04:05:06");
}

void tst_QuillarkMainParts::recordingStopsAtSizeLimit()
{
    // 3.9 GiB is 4187593113.6 bytes; a sparse file stands in for a full database.
    for (const qint64 size : {Q_INT64_C(4187593113), Q_INT64_C(4187593114)}) {
        QuillarkMain w;
        const QString path = loadProject(w, QStringLiteral("huge"));
        w.slotStartRecord();
        w.slotStdTimer(); // the end time is known from the next tick on
        const QString db = w.m_insertSerialData->databasePath();
        w.deleteInsertSerialData();
        QFile f(db);
        QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(size));
        w.slotStdTimer();
        const bool stops = size > 4187593113;
        QCOMPARE(w.m_bIsRecordStart, !stops);
        QCOMPARE(w.menuAction("actionClose")->isEnabled(), stops);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_stop_time").isValid(), stops);
        w.slotStopRecord();
        f.remove();
    }
}

QTEST_MAIN(tst_QuillarkMainParts)
#include "tst_quillarkmainparts.moc"
