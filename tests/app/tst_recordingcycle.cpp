// The recording cycle of the main window against real record files: rows
// that wait, a backlog after a failure, rows that cannot be written when the
// project closes, a full queue, the size limit, a database file deleted
// while recording and the recording period of a file whose clock went back.
// Nobody listens on the projects' port; rows are queued as the nodes would.
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "device/nodedevice.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "record/recordreader.h"
#include "testsupport.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QLabel>
#include <QtTest>

using TestSupport::shownMessages;
using TestSupport::sqlRows;

namespace
{

void append(int rows, quint32 firstTime = 1700000000)
{
    for (int i = 0; i < rows; ++i)
        InsertSerialData::appendRecord({QStringLiteral("QR0000000000000001"),
                                        double(float(i * 0.25)), NoValue, firstTime + quint32(i)});
}

int rowCount(const QString &database, const char *where = "1")
{
    return sqlRows(
               database,
               QStringLiteral("select count(*) from fennolink where %1").arg(QLatin1String(where)))
        .value(0)
        .value(0)
        .toInt();
}

// Makes every insert fail until dropped again.
void refuseInserts(const QString &database, bool refuse)
{
    sqlRows(database, refuse
                          ? QStringLiteral("create trigger refuse before insert on fennolink begin "
                                           "select raise(abort, 'refused by test'); end")
                          : QStringLiteral("drop trigger refuse"));
}

} // namespace

class tst_RecordingCycle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void fewRowsWrittenAfterSeconds();
    void stopAfterFailureDrainsInSlices();
    void unwrittenRowsAtClose_data();
    void unwrittenRowsAtClose();
    void droppedRowsAreTold();
    void sizeLimitIsTold();
    void databaseDeletedWhileRecording();
    void recordTimesWhereClockWentBack();

private:
    // Loads a project with one connection; the database beside it is kept
    // when `keepDatabase`, else started afresh. Returns the database path.
    QString loadProject(QuillarkMain &w, const QString &name, bool keepDatabase = false);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    TestSupport::DeadPort m_dead;
    quint16 m_deadPort = 0;
    QStringList m_questions;
};

void tst_RecordingCycle::initTestCase()
{
    QVERIFY(m_settingsDir.isValid() && m_dir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
    m_deadPort = m_dead.port();
}

void tst_RecordingCycle::init()
{
    dataIntervalMs = 10000;
    InsertSerialData::clearQueue();
    m_questions.clear();
    QuillarkMain::unwrittenRowsQuestion = [this](QWidget *, const QString &text) {
        m_questions << text;
        return QuillarkMain::UnwrittenRowsChoice::Discard;
    };
    QuillarkMain::unwrittenRowsFile = [](QWidget *, const QString &) { return QString(); };
}

void tst_RecordingCycle::cleanup()
{
    InsertSerialData::setQueueLimit(InsertSerialData::kDefaultQueueLimit);
}

QString tst_RecordingCycle::loadProject(QuillarkMain &w, const QString &name, bool keepDatabase)
{
    const QString path = m_dir.filePath(name + QStringLiteral(".qlk"));
    const QString database = m_dir.filePath(name + QStringLiteral(".dat"));
    QFile::remove(path);
    if (!keepDatabase)
        QFile::remove(database);
    if (!TestSupport::writeProject(path, 10000, {m_deadPort}))
        return QString();
    emit w.m_projectMain->projectLoaded(path);
    return w.m_insertSerialData ? w.m_insertSerialData->databasePath() : QString();
}

// A slow interval fills no batch for minutes: rows that have waited a few
// seconds are written whatever their number, while fresh ones still wait
// for a batch.
void tst_RecordingCycle::fewRowsWrittenAfterSeconds()
{
    QuillarkMain w;
    const QString database = loadProject(w, QStringLiteral("slow"));
    QVERIFY(!database.isEmpty());
    w.slotStartRecord();
    InsertSerialData::clearQueue();
    append(2);
    w.writeDb();
    QVERIFY(!w.m_insertSerialData->isWriting());
    QCOMPARE(int(InsertSerialData::pendingCount()), 2);
    // The database timer writes them within seconds.
    QTRY_COMPARE_WITH_TIMEOUT(rowCount(database), 2, 15000);
    QTRY_COMPARE(int(InsertSerialData::pendingCount()), 0);
    append(3, 1700000100);
    w.writeDb();
    QCOMPARE(int(InsertSerialData::pendingCount()), 3);
    w.slotStopRecord();
    QTRY_COMPARE(int(InsertSerialData::pendingCount()), 0);
    QTRY_VERIFY(!w.m_dbTimer->isActive());
    QCOMPARE(rowCount(database, "channel1 is not null"), 5);
}

// Stop after a long failure: the backlog goes in capped slices over the
// next ticks, never in one long write, and the timer stops once it is out.
void tst_RecordingCycle::stopAfterFailureDrainsInSlices()
{
    QuillarkMain w;
    const QString database = loadProject(w, QStringLiteral("backlog"));
    w.slotStartRecord();
    InsertSerialData::clearQueue();
    refuseInserts(database, true);
    append(25000);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept"));
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QVERIFY(w.m_insertSerialData->lastWriteFailed());
    QCOMPARE(int(InsertSerialData::pendingCount()), 25000);
    refuseInserts(database, false);

    w.slotStopRecord();
    const qsizetype waiting = InsertSerialData::pendingCount();
    QVERIFY(w.m_insertSerialData->isWriting());
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
}

// Rows the file will not take when the project closes are never dropped
// silently: the user hears how many and why, and retries, saves them into
// another file the shared reader opens, or discards them.
void tst_RecordingCycle::unwrittenRowsAtClose()
{
    QFETCH(QString, choice);
    const QString saved = m_dir.filePath(QStringLiteral("saved-%1.dat").arg(choice));
    QuillarkMain w;
    const QString database = loadProject(w, QStringLiteral("closing"));
    w.slotStartRecord();
    InsertSerialData::clearQueue();
    refuseInserts(database, true);
    append(40);
    w.slotStopRecord();
    const int rows = int(InsertSerialData::pendingCount());
    QVERIFY(rows >= 40);
    // An acknowledgement typed meanwhile waits with them.
    AlarmTracker::acknowledge(7, QStringLiteral("Ann"), QStringLiteral("Door shut"), 1700000000);

    int asked = 0;
    QuillarkMain::unwrittenRowsQuestion = [&](QWidget *, const QString &text) {
        m_questions << text;
        if (++asked == 1 && choice == "retry") {
            refuseInserts(database, false); // the disk was freed meanwhile
            return QuillarkMain::UnwrittenRowsChoice::Retry;
        }
        return choice == "save" ? QuillarkMain::UnwrittenRowsChoice::SaveToFile
                                : QuillarkMain::UnwrittenRowsChoice::Discard;
    };
    QString suggested;
    QuillarkMain::unwrittenRowsFile = [&](QWidget *, const QString &path) {
        suggested = path;
        return saved;
    };
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot be written to"));
    w.menuAction("actionClose")->trigger();

    QCOMPARE(m_questions.size(), 1);
    QVERIFY2(m_questions.at(0).startsWith(QString::number(rows) +
                                          " recorded rows and 1 alarm entries (acknowledgements, "
                                          "verifications, events) cannot be written"),
             qPrintable(m_questions.at(0)));
    QVERIFY(m_questions.at(0).contains("refused by test"));
    QCOMPARE(int(InsertSerialData::pendingCount()), 0);
    QCOMPARE(int(InsertSerialData::pendingContextCount()), 0);
    QCOMPARE(rowCount(database), choice == "retry" ? rows : 0);
    const QString kept = choice == "save" ? saved : database;
    QCOMPARE(sqlRows(kept, QStringLiteral("select ack_by from qk_alarm_acks")).size(),
             choice == "discard" ? 0 : 1);
    if (choice == "save") {
        QVERIFY(suggested.startsWith(m_dir.filePath(QStringLiteral("closing-unwritten-"))));
        RecordReader reader;
        QVERIFY(reader.open(saved));
        QCOMPARE(int(reader.countIds(reader.minId(), reader.maxId())), rows);
        QCOMPARE(shownMessages(&w).filter("INFORMATION|").size(), 1);
    }
}

void tst_RecordingCycle::droppedRowsAreTold()
{
    QuillarkMain w;
    loadProject(w, QStringLiteral("dropping"));
    InsertSerialData::clearQueue();
    InsertSerialData::setQueueLimit(10);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("row queue full"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("recorded rows dropped"));
    append(15);
    w.slotStdTimer();
    const QStringList told = shownMessages(&w).filter(QStringLiteral("WARNING|"));
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.at(0).contains("5 recorded rows were dropped"), qPrintable(told.at(0)));
    w.slotStdTimer(); // told once
    QCOMPARE(shownMessages(&w).filter(QStringLiteral("WARNING|")).size(), 1);
}

// Recording stops at 3.9 GiB with a message that stays until dismissed, a
// warning in the log and a note on the record bar. A sparse file stands in
// for a full database.
void tst_RecordingCycle::sizeLimitIsTold()
{
    QuillarkMain w;
    const QString database = loadProject(w, QStringLiteral("full"));
    w.slotStartRecord();
    w.slotStdTimer(); // the end time is known from the next tick on
    w.deleteInsertSerialData();
    QFile f(database);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.resize(Q_INT64_C(4187593114)));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("database size limit reached"));
    w.slotStdTimer();
    QVERIFY(!w.m_bIsRecordStart);
    auto *message = w.findChild<MessageDialog *>(QStringLiteral("databaseFullMessage"));
    QVERIFY(message && message->isVisible());
    QVERIFY(shownMessages(&w)
                .filter("WARNING|Recording has stopped")
                .value(0)
                .contains("create a new one"));
    QCOMPARE(w.m_projectCenter->findChild<QLabel *>("label_record_bytes")->text(),
             QStringLiteral("Database full"));
    QTest::qWait(kMessageAutoCloseMs + 300);
    QVERIFY(message->isVisible());
    f.remove();
}

// The database file deleted while recording: the user is told, and the
// rows from then on go into a new file at the same path.
void tst_RecordingCycle::databaseDeletedWhileRecording()
{
    QuillarkMain w;
    const QString database = loadProject(w, QStringLiteral("deleted"));
    w.slotStartRecord();
    InsertSerialData::clearQueue();
    append(8);
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QCOMPARE(rowCount(database), 8);
    QVERIFY(QFile::remove(database));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("recording goes on into a new file"));
    w.slotStdTimer();
    QTRY_COMPARE(shownMessages(&w).filter(QStringLiteral("WARNING|The database file")).size(), 1);
    QVERIFY(QFile::exists(database));
    append(8, 1700000100);
    w.writeDb();
    w.m_insertSerialData->finishWrites();
    QCOMPARE(rowCount(database, "pointDate >= 1700000100"), 8);
    w.slotStopRecord();
}

// Opening reads the first and last rows only; where the clock went back the
// earliest and latest times follow from a scan off the window's thread.
void tst_RecordingCycle::recordTimesWhereClockWentBack()
{
    const QString database = m_dir.filePath(QStringLiteral("clock.dat"));
    QFile::remove(database);
    {
        InsertSerialData db(database, QStringLiteral("prepare"));
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
    loadProject(w, QStringLiteral("clock"), true);
    QVERIFY(w.m_projectCenter);
    QCOMPARE(w.m_projectCenter->recordEndTime(), text(1700010009));
    QTRY_COMPARE(w.m_projectCenter->recordStartTime(), text(1700000000));
    QCOMPARE(w.m_projectCenter->recordEndTime(), text(1700010009));
}

QTEST_MAIN(tst_RecordingCycle)
#include "tst_recordingcycle.moc"
