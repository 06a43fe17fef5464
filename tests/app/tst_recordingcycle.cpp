// The recording cycle of the main window against real record files: what is
// read from the project file, batches and failed writes, rows that wait, a
// backlog after a failure, rows that cannot be written when the project
// closes, a full queue, the size limit, a database file deleted while
// recording, the recording period of a file whose clock went back and the
// side tools. Nobody listens on the projects' port; rows are queued as the
// nodes would.
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "device/nodedevice.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "recordfixture.h"
#include "testsupport.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QLabel>
#include <QSettings>
#include <QtTest>

#include <sqlite3.h>

using TestSupport::shownMessages;
using TestSupport::sqlRows;

namespace
{

void append(int rows, quint32 firstTime = 1700000000)
{
    for (int i = 0; i < rows; ++i)
        InsertSerialData::appendRecord(
            {"QR0000000000000001", double(float(i * 0.25)), NoValue, firstTime + quint32(i)});
}

int rowCount(const QString &database, const char *where = "1")
{
    return TestSupport::sqlTexts(database, "select count(*) from fennolink where " + QString(where))
        .value(0)
        .toInt();
}

// Makes every insert fail until dropped again.
void refuseInserts(const QString &database, bool refuse)
{
    sqlRows(database, refuse ? "create trigger refuse before insert on fennolink begin "
                               "select raise(abort, 'refused by test'); end"
                             : "drop trigger refuse");
}

} // namespace

class tst_RecordingCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void projectFileValues_data();
    void projectFileValues();
    void batchesAndFailureNotices_data();
    void batchesAndFailureNotices();
    void stopAfterFailureDrainsInSlices();
    void unwrittenRowsAtClose_data();
    void unwrittenRowsAtClose();
    void droppedRowsAreTold();
    void sizeLimit_data();
    void sizeLimit();
    void databaseDeletedWhileRecording();
    void recordTimesWhereClockWentBack();
    void sideTools_data();
    void sideTools();
    void lockedDatabaseAtOpen_data();
    void lockedDatabaseAtOpen();

private:
    // Loads a project with `connections` connections; the database beside it
    // is kept when `keepDatabase`, else started afresh. Returns the database path.
    QString loadProject(QuillarkMain &w, const QString &name, bool keepDatabase = false,
                        int connections = 1);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    TestSupport::DeadPort m_dead;
};

void tst_RecordingCycle::initTestCase()
{
    QVERIFY(m_settingsDir.isValid() && m_dir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
}

void tst_RecordingCycle::init()
{
    dataIntervalMs = 10000;
    InsertSerialData::clearQueue();
    QuillarkMain::unwrittenRowsQuestion = [](QWidget *, const QString &) {
        return QuillarkMain::UnwrittenRowsChoice::Discard;
    };
    QuillarkMain::unwrittenRowsFile = [](QWidget *, const QString &) { return QString(); };
    QuillarkMain::criticalBox = nullptr;
    QuillarkMain::exitProgram = nullptr;
}

void tst_RecordingCycle::cleanup()
{
    InsertSerialData::setQueueLimit(InsertSerialData::kDefaultQueueLimit);
}

QString tst_RecordingCycle::loadProject(QuillarkMain &w, const QString &name, bool keepDatabase,
                                        int connections)
{
    const QString path = m_dir.filePath(name + ".qlk");
    const QString database = m_dir.filePath(name + ".dat");
    QFile::remove(path);
    if (!keepDatabase)
        QFile::remove(database);
    if (!TestSupport::writeProject(path, 10000, QVector<quint16>(connections, m_dead.port())))
        return QString();
    emit w.m_projectMain->projectLoaded(path);
    return w.m_insertSerialData ? w.m_insertSerialData->databasePath() : QString();
}

void tst_RecordingCycle::projectFileValues_data()
{
    QTest::addColumn<int>("interval");          // "DataInterval" stored
    QTest::addColumn<QString>("label");         // shown for it
    QTest::addColumn<QVariant>("databaseName"); // "databaseName" stored; invalid: none
    QTest::addColumn<int>("folderLength");      // of the project's absolute folder
    QTest::addColumn<QString>("database");      // beside the project; empty: cannot be opened

    QTest::newRow("10 min") << 600000 << "10 min" << QVariant("a.dat") << 60 << "a.dat";
    // The database stays beside the project whatever the file says.
    QTest::newRow("database ../") << 1000 << "1 sec" << QVariant("../escape.dat") << 40
                                  << "escape.dat";
    QTest::newRow("no database name") << 1000 << "1 sec" << QVariant() << 40 << "place.dat";
    QTest::newRow("database is a folder") << 1000 << "1 sec" << QVariant("folder.dat") << 40 << "";
}

void tst_RecordingCycle::projectFileValues()
{
    QFETCH(int, interval);
    QFETCH(QVariant, databaseName);
    QFETCH(int, folderLength);
    QFETCH(QString, label);
    QFETCH(QString, database);

    QTemporaryDir outer;
    const QString folder =
        outer.path() + '/' + QString(folderLength - outer.path().size() - 1, 'x');
    const QString path = folder + "/place.qlk";
    QVERIFY(QDir().mkpath(folder) && TestSupport::writeProject(path, 1000, {m_dead.port()}));
    {
        QSettings s(path, QSettings::IniFormat);
        s.setValue("DataInterval", interval);
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
        QCOMPARE(box, "ERROR|Create database error!\nExit program.");
        QCOMPARE(exitCode, 0);
        QVERIFY(!w.isVisible() && !w.m_insertSerialData && !w.m_projectCenter &&
                !w.m_deviceTimer->isActive());
        return;
    }
    QVERIFY(box.isEmpty() && w.m_projectCenter);
    QCOMPARE(w.m_deviceTimer->interval(), interval);
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), "Interval : " + label);
    QCOMPARE(w.findChild<QLabel *>("label_projectname")->text(),
             folderLength <= 40 ? path : folder.left(40) + ".../place.qlk");
    QCOMPARE(w.m_insertSerialData->databasePath(), folder + '/' + database);
    QVERIFY(QFileInfo::exists(folder + '/' + database) &&
            !QFileInfo::exists(outer.filePath("escape.dat")));
}

void tst_RecordingCycle::batchesAndFailureNotices_data()
{
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("batch");
    QTest::newRow("one connection: 8 rows") << 1 << 8;
    QTest::newRow("two connections: 16 rows") << 2 << 16;
}

// Rows go in batches of 8 per connection; a slow interval fills no batch for
// minutes, so rows that have waited a few seconds are written whatever their
// number. A failing write is told once, and told again only after writing has
// worked in between.
void tst_RecordingCycle::batchesAndFailureNotices()
{
    QFETCH(int, connections);
    QFETCH(int, batch);
    QuillarkMain w;
    const QString database = loadProject(w, "batch", false, connections);
    w.slotStartRecord();
    InsertSerialData::clearQueue(); // the start's no-value rows
    quint32 time = 1700000000;
    auto write = [&](int rows) {
        append(rows, time);
        time += quint32(rows);
        w.writeDb();
        w.m_insertSerialData->finishWrites();
    };
    auto notices = [&] { return shownMessages(&w).filter("WARNING|").size(); };
    write(2);
    QCOMPARE(int(InsertSerialData::pendingCount()), 2);
    QTRY_COMPARE_WITH_TIMEOUT(rowCount(database), 2, 15000); // by the database timer
    write(batch - 1);
    QCOMPARE(int(InsertSerialData::pendingCount()), batch - 1);
    write(1);
    QCOMPARE(rowCount(database), batch + 2); // the batch filled: all written

    refuseInserts(database, true);
    for (int round = 0; round < 3; ++round)
        write(batch);
    QCOMPARE(notices(), 1);
    // The record bar says so for as long as it lasts; the warning stays.
    auto *bar = w.m_projectCenter->findChild<QLabel *>("label_record_bytes");
    w.slotStdTimer();
    QCOMPARE(bar->text(), QStringLiteral("NOT WRITTEN (write error): %1 rows wait").arg(3 * batch));
    QVERIFY(bar->toolTip().contains("refused by test"));
    if (connections == 1) {
        QTest::qWait(kMessageAutoCloseMs + 500);
        QVERIFY(w.findChild<MessageDialog *>("writeFailedMessage"));
    }
    refuseInserts(database, false);
    write(0);
    QCOMPARE(int(InsertSerialData::pendingCount()), 0);
    QVERIFY(!bar->text().startsWith("NOT WRITTEN"));
    refuseInserts(database, true);
    write(batch);
    QCOMPARE(notices(), 2);
    refuseInserts(database, false);
    w.slotStopRecord();
    QTRY_COMPARE(rowCount(database, "pointDate - 1700000000 = id - 1"), 5 * batch + 2); // in order
}

// Stop after a long failure: the backlog goes in capped slices over the
// next ticks, never in one long write, and the timer stops once it is out.
void tst_RecordingCycle::stopAfterFailureDrainsInSlices()
{
    QuillarkMain w;
    const QString database = loadProject(w, "backlog");
    w.slotStartRecord();
    InsertSerialData::clearQueue();
    refuseInserts(database, true);
    append(25000);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept"));
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QCOMPARE(int(InsertSerialData::pendingCount()), 25000);
    refuseInserts(database, false);

    w.slotStopRecord();
    const qsizetype waiting = InsertSerialData::pendingCount();
    w.m_insertSerialData->finishWrites();
    QVERIFY(InsertSerialData::pendingCount() > 0);
    QCOMPARE(rowCount(database), int(waiting - InsertSerialData::pendingCount()));
    QVERIFY(rowCount(database) <= 10000);
    QVERIFY(w.m_dbTimer->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(int(InsertSerialData::pendingCount()), 0, 20000);
    QTRY_VERIFY(!w.m_dbTimer->isActive());
    QCOMPARE(rowCount(database), int(waiting));
    QCOMPARE(rowCount(database, "pointDate - 1700000000 = id - 1"), 25000); // in order
}

void tst_RecordingCycle::unwrittenRowsAtClose_data()
{
    QTest::addColumn<QString>("choice");
    QTest::newRow("retry") << "retry";
    QTest::newRow("save to another file") << "save";
    QTest::newRow("discard") << "discard";
    QTest::newRow("save fails, then discard") << "save fails";
    // Told to end (SIGTERM) while the question is open: it is answered first.
    QTest::newRow("told to end meanwhile, retry") << "end meanwhile";
    // The display went away: nobody to ask, the rows go into a file beside.
    QTest::newRow("nobody left to ask") << "unattended";
}

// Rows the file will not take when the project closes are never dropped
// silently: the user hears how many and why, and retries, saves them into
// another file or discards them.
void tst_RecordingCycle::unwrittenRowsAtClose()
{
    QFETCH(QString, choice);
    const QString saved = m_dir.filePath(QStringLiteral("saved-%1.dat").arg(choice));
    QuillarkMain w;
    const QString database = loadProject(w, "closing");
    w.slotStartRecord();
    InsertSerialData::clearQueue();
    refuseInserts(database, true);
    append(40);
    w.slotStopRecord();
    const int rows = int(InsertSerialData::pendingCount());
    QVERIFY(rows >= 40);
    // An acknowledgement typed meanwhile waits with them.
    AlarmTracker::acknowledge(7, "Ann", "Door shut", 1700000000);

    QStringList questions;
    QuillarkMain::unwrittenRowsQuestion = [&](QWidget *, const QString &text) {
        questions << text;
        if (questions.size() == 1 && choice == "end meanwhile")
            w.endOnSignal(15);
        if (questions.size() == 1 && (choice == "retry" || choice == "end meanwhile")) {
            refuseInserts(database, false); // the disk was freed meanwhile
            return QuillarkMain::UnwrittenRowsChoice::Retry;
        }
        return choice == "save" || (choice == "save fails" && questions.size() == 1)
                   ? QuillarkMain::UnwrittenRowsChoice::SaveToFile
                   : QuillarkMain::UnwrittenRowsChoice::Discard;
    };
    QString suggested;
    QuillarkMain::unwrittenRowsFile = [&](QWidget *, const QString &path) {
        suggested = path;
        return choice == "save fails" ? m_dir.filePath("no-folder/saved.dat") : saved;
    };
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be written to"));
    if (choice == "unattended") {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QuillarkMain : ending"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("saved to .*closing-unwritten-"));
        w.endUnattended("as the display went away");
        QVERIFY(questions.isEmpty());
        const QStringList beside =
            QDir(m_dir.path()).entryList({"closing-unwritten-*.dat"}, QDir::Files);
        QCOMPARE(beside.size(), 1);
        QCOMPARE(rowCount(m_dir.filePath(beside.at(0))), rows);
        QCOMPARE(rowCount(database), 0);
        return;
    }
    if (choice == "end meanwhile")
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QuillarkMain : ending"));
    w.menuAction("actionClose")->trigger();
    if (choice == "end meanwhile")
        QTRY_VERIFY(w.m_ending); // once the question was answered

    // A failed save is told in the next question, not hidden behind it.
    QCOMPARE(questions.size(), choice == "save fails" ? 2 : 1);
    QVERIFY2(questions.at(0).startsWith(QString::number(rows) +
                                        " recorded rows and 1 alarm entries (acknowledgements, "
                                        "verifications, events) cannot be written"),
             qPrintable(questions.at(0)));
    if (choice == "save fails")
        QVERIFY2(questions.at(1).startsWith("The rows could not be saved to\n" +
                                            m_dir.filePath("no-folder/saved.dat")),
                 qPrintable(questions.at(1)));
    QVERIFY(questions.at(0).contains("refused by test"));
    QCOMPARE(int(InsertSerialData::pendingCount()), 0);
    QCOMPARE(int(InsertSerialData::pendingContextCount()), 0);
    QCOMPARE(rowCount(database), choice == "retry" || choice == "end meanwhile" ? rows : 0);
    const QString kept = choice == "save" ? saved : database;
    QCOMPARE(sqlRows(kept, "select ack_by from qk_alarm_acks").size(),
             choice == "discard" || choice == "save fails" ? 0 : 1);
    if (choice == "save") {
        QVERIFY(suggested.startsWith(m_dir.filePath("closing-unwritten-")));
        QCOMPARE(rowCount(saved), rows);
        QCOMPARE(shownMessages(&w).filter("INFORMATION|").size(), 1);
    }
}

void tst_RecordingCycle::droppedRowsAreTold()
{
    QuillarkMain w;
    loadProject(w, "dropping");
    InsertSerialData::clearQueue();
    InsertSerialData::setQueueLimit(10);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("row queue full"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("recorded rows dropped"));
    append(15);
    w.slotStdTimer();
    const QStringList told = shownMessages(&w).filter("WARNING|");
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.at(0).contains("5 recorded rows were dropped"), qPrintable(told.at(0)));
    w.slotStdTimer(); // told once
    QCOMPARE(shownMessages(&w).filter("WARNING|").size(), 1);
}

void tst_RecordingCycle::sizeLimit_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("stops");
    // 3.9 GiB is 4187593113.6 bytes.
    QTest::newRow("just below") << Q_INT64_C(4187593113) << false;
    QTest::newRow("reached") << Q_INT64_C(4187593114) << true;
}

// Recording stops at 3.9 GiB with a message that stays until dismissed, a
// warning in the log, a note on the record bar and the stop time in the
// project. A sparse file stands in for a full database.
void tst_RecordingCycle::sizeLimit()
{
    QFETCH(qint64, size);
    QFETCH(bool, stops);
    QuillarkMain w;
    const QString database = loadProject(w, "full");
    w.slotStartRecord();
    w.slotStdTimer(); // the end time is known from the next tick on
    w.deleteInsertSerialData();
    QFile f(database);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(size));
    if (stops)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("database size limit reached"));
    w.slotStdTimer();
    QCOMPARE(w.m_bIsRecordStart, !stops);
    QCOMPARE(w.menuAction("actionClose")->isEnabled(), stops);
    QCOMPARE(
        QSettings(m_dir.filePath("full.qlk"), QSettings::IniFormat).contains("record_stop_time"),
        stops);
    auto *message = w.findChild<MessageDialog *>("databaseFullMessage");
    QCOMPARE(message && message->isVisible(), stops);
    if (stops) {
        QVERIFY(shownMessages(&w)
                    .filter("WARNING|Recording has stopped")
                    .value(0)
                    .contains("create a new one"));
        QCOMPARE(w.m_projectCenter->findChild<QLabel *>("label_record_bytes")->text(),
                 "Database full");
        QTest::qWait(kMessageAutoCloseMs + 300);
        QVERIFY(message->isVisible());
    }
    w.slotStopRecord();
    f.remove();
}

// The database file deleted while recording: the user is told (that the rows
// go into a new file at the same path is the record tests').
void tst_RecordingCycle::databaseDeletedWhileRecording()
{
    QuillarkMain w;
    const QString database = loadProject(w, "deleted");
    w.slotStartRecord();
    QVERIFY(QFile::remove(database));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("recording goes on into a new file"));
    w.slotStdTimer();
    QTRY_COMPARE(shownMessages(&w).filter("WARNING|The database file").size(), 1);
    w.slotStopRecord();
}

// Opening reads the first and last rows only; where the clock went back the
// earliest and latest times follow from a scan off the window's thread.
void tst_RecordingCycle::recordTimesWhereClockWentBack()
{
    const QString database = m_dir.filePath("clock.dat");
    {
        InsertSerialData db(database, "prepare");
        QVERIFY(db.createConnection());
        append(5000, 1700003600);
        append(1, 1700000000); // the clock went back an hour
        append(10, 1700010000);
        QVERIFY(db.insertNow());
    }
    const auto text = [](qint64 t) {
        return QDateTime::fromSecsSinceEpoch(t).toString("yyyy-MM-dd hh:mm:ss");
    };
    QuillarkMain w;
    loadProject(w, "clock", true);
    QVERIFY(w.m_projectCenter);
    QCOMPARE(w.m_projectCenter->recordEndTime(), text(1700010009));
    QTRY_COMPARE(w.m_projectCenter->recordStartTime(), text(1700000000));
    QCOMPARE(w.m_projectCenter->recordEndTime(), text(1700010009));
}

void tst_RecordingCycle::sideTools_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("starts");         // the program could be started
    QTest::addColumn<QStringList>("started"); // program and options; none: the data file is gone
    QTest::addColumn<QString>("message");     // "title|text"
    QTest::newRow("viewer") << "actionDataViewer" << true << QStringList{"RideZodazo"} << "";
    QTest::newRow("weekly report")
        << "actionWeeklyReport" << true << QStringList{"DavavoZurer", "--kind", "weekly"} << "";
    QTest::newRow("report fails") << "actionDailyReport" << false << QStringList{"DavavoZurer"}
                                  << "ERROR|Please check the DavavoZurer execution file.";
    QTest::newRow("no data file") << "actionDataViewer" << true << QStringList()
                                  << "WARNING|There is no data file.";
}

void tst_RecordingCycle::sideTools()
{
    QFETCH(QString, entry);
    QFETCH(bool, starts);
    QFETCH(QStringList, started);
    QFETCH(QString, message);
    QStringList calls;
    QuillarkMain::startDetached = [&](const QString &program, const QStringList &arguments) {
        calls << program << arguments;
        return starts;
    };
    QuillarkMain w;
    loadProject(w, "my tools"); // one argument despite the space
    const QString path = m_dir.filePath("my tools.qlk");
    w.m_projectCenter->setRecordTimes("2026-01-02 03:04:05", "2026-01-02 04:05:06");
    if (started.isEmpty()) {
        const QString db = w.m_insertSerialData->databasePath();
        w.deleteInsertSerialData();
        QVERIFY(QFile::remove(db));
    }
    w.menuAction(entry)->trigger();
    QuillarkMain::startDetached = [](const QString &p, const QStringList &a) {
        return QProcess::startDetached(p, a);
    };
    QCOMPARE(shownMessages(&w), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(calls, started.isEmpty() ? started : started << "'" + path + "'");
    if (!started.isEmpty())
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_stop_time").toString(),
                 "2026-01-02 04:05:06");
}

// A database file another program holds locked when the project opens: the
// project opens without recording and the file is tried again for a while;
// recording works once the lock is gone. A lock that stays leaves the project
// running without recording, said until dismissed. Never an exit.
void tst_RecordingCycle::lockedDatabaseAtOpen_data()
{
    QTest::addColumn<bool>("released");
    QTest::newRow("lock released") << true;
    QTest::newRow("lock kept") << false;
}

void tst_RecordingCycle::lockedDatabaseAtOpen()
{
    QFETCH(bool, released);
    const QString path = m_dir.filePath(QTest::currentDataTag() + QString(".qlk")); // one per row
    const QString db = TestSupport::databaseOf(path);
    QVERIFY(TestSupport::writeProject(path, 1000, {m_dead.port()}));
    QVERIFY(TestSupport::appendRecordRows(db, {{"X", 1, 1, 1000}}, false));
    sqlite3 *holder = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(db).constData(), &holder), SQLITE_OK);
    QCOMPARE(sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
    int exitCode = -1;
    QuillarkMain::exitProgram = [&](int code) { exitCode = code; };
    QuillarkMain::databaseRetryMs = 100;
    QuillarkMain::databaseRetries = 4;
    QuillarkMain w;
    w.show();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("locked by another program"));
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.m_projectCenter && !w.m_insertSerialData);
    QVERIFY(shownMessages(&w).filter("is locked by another program").size() == 1);
    w.slotStartRecord(); // refused, said why
    QVERIFY(!w.m_bIsRecordStart);
    QVERIFY(!shownMessages(&w).filter("Recording is not possible").isEmpty());
    if (released) {
        QCOMPARE(sqlite3_exec(holder, "commit", nullptr, nullptr, nullptr), SQLITE_OK);
        QTRY_VERIFY(w.m_insertSerialData);
        w.slotStartRecord();
        QVERIFY(w.m_bIsRecordStart);
        w.slotStopRecord();
    } else {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("still unusable"));
        QTRY_VERIFY(!shownMessages(&w).filter("keeps it locked").isEmpty());
        QVERIFY(!w.m_insertSerialData && w.m_projectCenter);
    }
    sqlite3_close(holder);
    QCOMPARE(exitCode, -1);
    QuillarkMain::databaseRetryMs = 2000;
    QuillarkMain::databaseRetries = 15;
    w.menuAction("actionClose")->trigger();
}

QTEST_MAIN(tst_RecordingCycle)
#include "tst_recordingcycle.moc"
