// The journal of a record file and its alarm events, on real files: a
// recording with an alarm that is acknowledged and verified, then changed by
// the sqlite3 program in every way the journal must notice.
#include "projectfixture.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "record/recordcontext.h"
#include "record/recordreader.h"
#include "recordfixture.h"

#include <QtTest>

#include <sqlite3.h>

#include <limits>

namespace
{

const qint64 kHour0 = 1699999200; // the start of an hour
const QString kDevice = "QR0000000000000001";

// One sample of channel 1, with the alarm as the node judges it (10 to 30).
void sample(qint64 time, double value)
{
    InsertSerialData::appendRecord({kDevice, value, NoValue, quint32(time)});
    AlarmTracker::noteSample(kDevice, 1, value, value < 10 || value > 30, 10, 30, time);
}

// Samples every minute from `from` for `minutes`, out of range in [alarmFrom, alarmTo).
void samples(qint64 from, int minutes, int alarmFrom = -1, int alarmTo = -1)
{
    for (int m = 0; m < minutes; ++m)
        sample(from + 60 * m, m >= alarmFrom && m < alarmTo ? 30.5 + m : 20.25);
}

QVector<RecordAlarmEvent> eventsOf(const QString &path, qint64 from = 0, qint64 to = 1LL << 40,
                                   const QStringList &serials = {})
{
    RecordReader reader;
    if (!reader.open(path))
        return {};
    return RecordContext(reader).alarmEvents(from, to, serials);
}

RecordJournalVerdict verdictOf(const QString &path)
{
    RecordReader reader;
    if (!reader.open(path))
        return {};
    return RecordContext(reader).verifyJournal();
}

} // namespace

class tst_RecordJournal : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void recordedEvent();
    void tampering_data();
    void tampering();
    void oldFileGetsAJournal();
    void acknowledgementWhileLocked();
    void sealsMatchTheFile_data();
    void sealsMatchTheFile();
    void manyHoursCheckedInHalves_data();
    void manyHoursCheckedInHalves();

private:
    QTemporaryDir m_dir;
    QString m_recording;
};

void tst_RecordJournal::init()
{
    InsertSerialData::clearQueue();
    InsertSerialData::clearContextQueue();
    AlarmTracker::reset();
}

// Three hours, an excursion in the first, the clock back into the second
// hour for ten minutes, then the fourth hour (not complete, so not sealed).
void tst_RecordJournal::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_recording = m_dir.filePath("recording.dat");
    init();
    InsertSerialData db(m_recording, "journal");
    QVERIFY(db.createConnection());
    samples(kHour0, 180, 30, 40);
    samples(kHour0 + 3600 + 30, 10);
    samples(kHour0 + 3 * 3600, 5);
    AlarmTracker::closeAll(kHour0 + 3 * 3600 + 300);
    QVERIFY(db.insertNow());
    const QVector<RecordAlarmEvent> events = eventsOf(m_recording);
    QCOMPARE(events.size(), 1);
    AlarmTracker::acknowledge(events[0].token, "<b>Ann</b>", "Door closed", kHour0 + 4000);
    AlarmTracker::verify(events[0].token, "Bob", "Checked", kHour0 + 5000);
    QVERIFY(db.insertNow());
    QCOMPARE(InsertSerialData::pendingContextCount(), 0);
}

void tst_RecordJournal::recordedEvent()
{
    const QVector<RecordAlarmEvent> events = eventsOf(m_recording);
    QCOMPARE(events.size(), 1);
    const RecordAlarmEvent &e = events[0];
    QCOMPARE(e.serialNo, kDevice);
    QCOMPARE(e.channel, 1);
    QVERIFY(e.high);
    QCOMPARE(e.limit, 30.0);
    QCOMPARE(e.start, kHour0 + 30 * 60);
    QCOMPARE(e.end, kHour0 + 40 * 60); // the first sample back inside
    QCOMPARE(e.worst, 30.5 + 39);
    QCOMPARE(e.ackBy, QString("<b>Ann</b>"));
    QCOMPARE(e.action, QString("Door closed"));
    QCOMPARE(e.verifiedBy, QString("Bob"));
    QCOMPARE(e.verifiedAt, kHour0 + 5000);
    // Filters: another device, a period before the event.
    QVERIFY(eventsOf(m_recording, 0, 1LL << 40, {"other"}).isEmpty());
    QVERIFY(eventsOf(m_recording, 0, kHour0 + 29 * 60).isEmpty());
    QCOMPARE(eventsOf(m_recording, kHour0 + 35 * 60, kHour0 + 36 * 60).size(), 1);
}

void tst_RecordJournal::tampering_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("where");
    const int altered = int(RecordJournalVerdict::State::Altered);
    const int broken = int(RecordJournalVerdict::State::Broken);
    QTest::newRow("untouched") << QString() << int(RecordJournalVerdict::State::Intact)
                               << QString();
    QTest::newRow("sample changed")
        << "update fennolink set channel1 = 20.26 where id = 70" << altered
        << "hour 2023-11-14 23:00 UTC (rows 61 to 120): rows changed";
    QTest::newRow("sample time changed")
        << "update fennolink set pointDate = pointDate + 1 where id = 3" << altered
        << "(rows 1 to 60): rows changed";
    QTest::newRow("sample deleted")
        << "delete from fennolink where id = 130" << altered << "(rows 121 to 180): 1 rows deleted";
    QTest::newRow("sample inserted") << "delete from fennolink where id = 5; insert into fennolink "
                                        "values (5, 'x', 1, 1, 1); insert into fennolink values "
                                        "(500, 'x', 1, 1, 1)"
                                     << altered << "(rows 1 to 60): rows changed";
    QTest::newRow("unsealed hour changed") << "update fennolink set channel1 = 1 where id = 192"
                                           << int(RecordJournalVerdict::State::Intact) << QString();
    QTest::newRow("event changed") << "update qk_alarm_events set worst = 31" << altered
                                   << "qk_alarm_events row 1 was changed";
    QTest::newRow("acknowledgement deleted")
        << "delete from qk_alarm_acks" << altered << "qk_alarm_acks row 1 was deleted";
    QTest::newRow("verification added")
        << "insert into qk_alarm_verifications (event_token, "
           "verified_by, verified_at, remark) values (1, 'Eve', 1, '')"
        << altered << "qk_alarm_verifications row 2 was added by another program";
    QTest::newRow("journal entry changed") << "update qk_journal set content = 'x' where seq = 2"
                                           << altered << "journal entry 2 (#hour) was changed";
    QTest::newRow("journal entry deleted")
        << "delete from qk_journal where seq = 3" << altered << "journal entry 3 was deleted";
    QTest::newRow("journal dropped")
        << "drop table qk_journal" << broken << "the journal table is missing";
    QTest::newRow("alarm table dropped")
        << "drop table qk_alarm_acks" << broken << "the table qk_alarm_acks is missing";
    QTest::newRow("event table damaged")
        << "drop table qk_alarm_events; create table qk_alarm_events (x)" << altered
        << "qk_alarm_events row 1 was deleted";
}

void tst_RecordJournal::tampering()
{
    QFETCH(QString, sql);
    QFETCH(int, state);
    QFETCH(QString, where);
    const QString path = m_dir.filePath(QStringLiteral("%1.dat").arg(QTest::currentDataTag()));
    QFile::remove(path);
    QVERIFY(QFile::copy(m_recording, path));
    if (!sql.isEmpty())
        QVERIFY(TestSupport::sqliteCli(path, sql));
    const RecordJournalVerdict verdict = verdictOf(path);
    QCOMPARE(int(verdict.state), state);
    QVERIFY2(verdict.where.contains(where), qPrintable(verdict.text()));
    if (verdict.state == RecordJournalVerdict::State::Intact) {
        QCOMPARE(verdict.hours, 4); // three hours, and the second again after the clock went back
        QCOMPARE(verdict.text(), QString("record intact"));
    }
    // Whatever was done to the journal, the samples read as before.
    RecordReader reader;
    QVERIFY(reader.open(path));
    QVERIFY(reader.countIds(1, 200) >= 194);
    eventsOf(path);
}

void tst_RecordJournal::oldFileGetsAJournal()
{
    const QString path = m_dir.filePath("old.dat");
    QVERIFY(TestSupport::appendRecordRows(path,
                                          {{kDevice, 1, 2, kHour0}, {kDevice, 3, 4, kHour0 + 60}}));
    QCOMPARE(verdictOf(path).state, RecordJournalVerdict::State::NoJournal);
    QVERIFY(eventsOf(path).isEmpty());
    {
        InsertSerialData db(path, "old");
        QVERIFY(db.createConnection());
        samples(kHour0 + 120, 60);
        QVERIFY(db.insertNow());
    }
    // The rows before the journal are not covered; the hour after them is.
    const RecordJournalVerdict verdict = verdictOf(path);
    QCOMPARE(verdict.state, RecordJournalVerdict::State::Intact);
    QCOMPARE(verdict.hours, 1);
    QVERIFY(TestSupport::sqliteCli(path, "update fennolink set channel1 = 9 where id = 1"));
    QCOMPARE(verdictOf(path).state, RecordJournalVerdict::State::Intact);
    QCOMPARE(TestSupport::sqlTexts(path, QString("select content from qk_journal where seq = 1")),
             QStringList{"samples after id 2"});
}

void tst_RecordJournal::acknowledgementWhileLocked()
{
    const QString path = m_dir.filePath("locked.dat");
    InsertSerialData db(path, "locked");
    QVERIFY(db.createConnection());
    samples(kHour0, 3, 1, 3); // an event left open
    QVERIFY(db.insertNow());
    const QVector<RecordAlarmEvent> open = AlarmTracker::openEvents();
    QCOMPARE(open.size(), 1);
    QVERIFY(!AlarmTracker::isSilenced(kDevice, 1));

    // Another program holds the file while the person acknowledges.
    sqlite3 *other = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    AlarmTracker::acknowledge(open[0].token, "Ann", "Fixed", kHour0 + 200);
    QVERIFY(AlarmTracker::isSilenced(kDevice, 1));
    QVERIFY(!db.insertNow());
    QCOMPARE(InsertSerialData::pendingContextCount(), 1);
    QVector<RecordAlarmEvent> shown = AlarmTracker::openEvents();
    QCOMPARE(shown.value(0).ackBy, QString("Ann"));

    // Free again: the acknowledgement goes in with the next write.
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    QVERIFY(db.insertNow());
    QCOMPARE(InsertSerialData::pendingContextCount(), 0);
    const QVector<RecordAlarmEvent> events = eventsOf(path);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].ackBy, QString("Ann"));
    QVERIFY(events[0].isOpen());
    QCOMPARE(verdictOf(path).state, RecordJournalVerdict::State::Intact);

    // The program ends with the event open: the next opening closes it at
    // the file's last sample.
    AlarmTracker::reset();
    InsertSerialData again(path, "again");
    QVERIFY(again.createConnection());
    QCOMPARE(eventsOf(path).value(0).end, kHour0 + 120);
    QCOMPARE(verdictOf(path).state, RecordJournalVerdict::State::Intact);
}

// The writer hashes an hour's rows as they go in: its seals must match what
// the file gives back, whatever the values, however the rows were batched,
// and with rows of another program between two batches; a row another
// program changes before its hour is sealed is found.
void tst_RecordJournal::sealsMatchTheFile_data()
{
    QTest::addColumn<QVector<double>>("values");
    QTest::addColumn<int>("batches");
    QTest::addColumn<QString>("between"); // run after each batch of the first 90 minutes
    QTest::addColumn<bool>("intact");
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("stored as integers, nan, -0, inf")
        << QVector<double>{20, -0.0, qQNaN(), inf, -inf, 1e300, 0.1} << 1 << QString() << true;
    QTest::newRow("many batches") << QVector<double>{20.25, 21} << 7 << QString() << true;
    QTest::newRow("another writer between")
        << QVector<double>{20.25} << 3
        << "insert into fennolink (serialno, channel1, channel2, pointDate) values ('other', 1, "
           "2, (select max(pointDate) from fennolink))"
        << true;
    QTest::newRow("a row changed before its seal")
        << QVector<double>{20.25} << 3 << "update fennolink set channel1 = 99 where id = 2"
        << false;
}

void tst_RecordJournal::sealsMatchTheFile()
{
    QFETCH(QVector<double>, values);
    QFETCH(int, batches);
    QFETCH(QString, between);
    QFETCH(bool, intact);
    const QString path =
        m_dir.filePath(QStringLiteral("seals-%1.dat").arg(QTest::currentDataTag()));
    InsertSerialData db(path, QStringLiteral("seals"));
    QVERIFY(db.createConnection());
    // Three hours of a sample a minute and one of the fourth hour.
    const int minutes = 181;
    for (int m = 0; m < minutes; ++m) {
        InsertSerialData::appendRecord({kDevice, values[m % values.size()],
                                        values[(m + 1) % values.size()], quint32(kHour0 + 60 * m)});
        if ((m + 1) % (minutes / batches + 1) != 0 && m + 1 < minutes)
            continue;
        QVERIFY(db.insertNow());
        if (!between.isEmpty() && m < 90)
            QVERIFY(TestSupport::sqliteCli(path, between));
    }
    const RecordJournalVerdict verdict = verdictOf(path);
    QVERIFY2((verdict.state == RecordJournalVerdict::State::Intact) == intact,
             qPrintable(verdict.text()));
    if (intact)
        QCOMPARE(verdict.hours, 3);
}

// Fifty sealed hours are read in two halves at once: the first place is the
// one a pass in order finds, wherever the halves meet.
void tst_RecordJournal::manyHoursCheckedInHalves_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("where");
    QTest::newRow("intact") << QString() << QString();
    QTest::newRow("later half") << "update fennolink set channel1 = 1 where id = 241"
                                << "hour 2023-11-16 14:00 UTC (rows 241 to 246): rows changed";
    QTest::newRow("both halves") << "update fennolink set channel1 = 1 where id in (31, 241)"
                                 << "hour 2023-11-15 03:00 UTC (rows 31 to 36): rows changed";
}

void tst_RecordJournal::manyHoursCheckedInHalves()
{
    QFETCH(QString, sql);
    QFETCH(QString, where);
    static QString recording;
    if (recording.isEmpty()) {
        recording = m_dir.filePath(QStringLiteral("fifty.dat"));
        InsertSerialData db(recording, QStringLiteral("fifty"));
        QVERIFY(db.createConnection());
        for (int m = 0; m <= 50 * 60; m += 10)
            sample(kHour0 + 60 * m, 20.25);
        QVERIFY(db.insertNow());
    }
    const QString path =
        m_dir.filePath(QStringLiteral("fifty-%1.dat").arg(QTest::currentDataTag()));
    QVERIFY(QFile::copy(recording, path));
    if (!sql.isEmpty())
        QVERIFY(TestSupport::sqliteCli(path, sql));
    const RecordJournalVerdict verdict = verdictOf(path);
    QCOMPARE(verdict.where, where);
    if (where.isEmpty())
        QCOMPARE(verdict.hours, 50);
}

QTEST_MAIN(tst_RecordJournal)
#include "tst_recordjournal.moc"
