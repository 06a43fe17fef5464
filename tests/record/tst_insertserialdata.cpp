#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "record/recordcontext.h"
#include "record/recordreader.h"
#include "record/recordschema.h"
#include "recordfixture.h"
#include "testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstdio>

namespace
{

// The killed writer: rounds of start, write, kill; every fourth batch large,
// so that a kill often lands inside a long write.
constexpr int kKillRounds = 10;
constexpr int kLargeBatch = 20000;

// Reads the file through a connection of its own, as another program would.
const auto readRows = &TestSupport::sqlTexts;

QString readValue(const QString &path, const QString &sql)
{
    return readRows(path, sql).value(0);
}

SerialRecord row(const QString &serial, double ch1, double ch2, quint32 time)
{
    return {serial, ch1, ch2, time};
}

// Child mode: records batches into the file given and reports each
// committed batch on stdout until it is killed.
int recordChild(const QString &path, int firstBatch)
{
    InsertSerialData db(path, "child");
    if (!db.createConnection())
        return 2;
    for (int batch = firstBatch;; ++batch) {
        const int size = batch % 4 == 3 ? kLargeBatch : 16;
        for (int i = 0; i < size; ++i)
            InsertSerialData::appendRecord(row("kill", i * 0.5, -i, quint32(batch)));
        if (db.insertNow()) {
            std::printf("committed %d %d\n", batch, size);
            std::fflush(stdout);
        }
    }
}

} // namespace

class tst_InsertSerialData : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_path;
    int m_fileNumber = 0;

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("rec%1.dat").arg(++m_fileNumber));
        InsertSerialData::clearQueue();
        InsertSerialData::setQueueLimit(InsertSerialData::kDefaultQueueLimit);
    }

    // The table other programs read, in a file with a write-ahead log and
    // pages of 4096 bytes. Every queued row is stored as queued: bound values
    // (quotes stay text), identical rows all kept, NoValue and NaN as NULL,
    // times beyond 31 bits, and each reading exactly as the gateway sent it:
    // the float32 value reads back unchanged, with no rounding to 6 digits.
    void storedRows()
    {
        InsertSerialData db(m_path, "rows");
        QVERIFY(db.createConnection());
        QString sql = readValue(m_path, "select sql from sqlite_master where name='fennolink'");
        QCOMPARE(sql.replace(0, 12, QString("create table")),
                 QString::fromLatin1(RecordSchema::fennolinkStatement()));
        QCOMPARE(readValue(m_path, "PRAGMA journal_mode"), QString("wal"));
        QCOMPARE(readValue(m_path, "PRAGMA page_size"), QString("4096"));

        const QString evil = "10'01\"'); drop table fennolink; --";
        const float readings[] = {12345.67f,        1234567.0f,    21.53f,
                                  -0.000123456789f, 3.4028235e38f, 1e-45f};
        for (int i = 0; i < 6; ++i)
            InsertSerialData::appendRecord(
                row(QStringLiteral("f%1").arg(i), double(readings[i]), NoValue, 10 + i));
        InsertSerialData::appendRecord(row(evil, 1, NoValue, 100));
        InsertSerialData::appendRecord(row("O'Brien", std::nan(""), 2, 101));
        for (int i = 0; i < 3; ++i)
            InsertSerialData::appendRecord(row("same", -1, 45.25, 102));
        InsertSerialData::appendRecord(row(QString(), 0, 30, 4000000000u));
        QVERIFY(db.insertNow());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));

        RecordReader reader;
        QVERIFY(reader.open(m_path));
        QVector<RecordRow> rows;
        QCOMPARE(reader.forEachRowAfterId(0, 0,
                                          [&rows](const RecordRow &r) {
                                              rows << r;
                                              return true;
                                          }),
                 12);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(rows[i].channel1, double(readings[i])); // exact, not merely close
            QCOMPARE(float(rows[i].channel1), readings[i]);
            QCOMPARE(rows[i].channel2, NoValue);
        }
        QCOMPARE(rows[6].serialNo, evil.toUtf8());
        QCOMPARE(rows[7].channel1, NoValue);
        QCOMPARE(
            readRows(m_path,
                     "select serialno, channel1, channel2, pointDate from fennolink where id > 8"),
            (QStringList{"same -1 45.25 102", "same -1 45.25 102", "same -1 45.25 102",
                         " 0 30 4000000000"}));
        QCOMPARE(db.startDateTime(), 10);
        QCOMPARE(db.endDateTime(), 4000000000LL);
    }

    // Rows queued while nothing is open wait for the database; an empty table
    // has no times. Where the clock went back is kept as rows are written, so
    // the first and last times are known at once from a handful of rows.
    void recordTimes()
    {
        InsertSerialData db(m_path, "times");
        InsertSerialData::appendRecord(row("1", 1, 1, 1700000050));
        QVERIFY(!db.insertNow());
        QCOMPARE(db.startDateTime(), 0);
        QVERIFY(db.createConnection());
        QCOMPARE(db.startDateTime(), 0);
        QCOMPARE(db.endDateTime(), 0);
        InsertSerialData::appendRecord(row("2", NoValue, NoValue, 1700000000));
        QVERIFY(db.insertNow());
        QCOMPARE(db.startDateTime(), 1700000000);
        QCOMPARE(db.endDateTime(), 1700000050);
        for (int i = 0; i < 20000; ++i)
            InsertSerialData::appendRecord(row("3", i, i, quint32(1700000100 + i)));
        InsertSerialData::appendRecord(row("4", 0, 0, 1800000000));
        InsertSerialData::appendRecord(row("4", 0, 0, 1700001000));
        QVERIFY(db.insertNow());
        QCOMPARE(db.startDateTime(), 1700000000);
        QCOMPARE(db.endDateTime(), 1800000000);
        QVERIFY(!db.timeBoundsPending());

        RecordReader reader;
        QVERIFY(reader.open(m_path));
        RecordContext context(reader);
        QVERIFY(context.hasTimeSteps());
        QCOMPARE(context.schemaVersion(), RecordSchema::currentVersion());
        const QVector<RecordTimeStep> steps = context.timeSteps();
        QCOMPARE(steps.size(), 2);
        QCOMPARE(QVector<qint64>({steps[0].id, steps[0].time, steps[0].previousTime}),
                 QVector<qint64>({2, 1700000000, 1700000050}));
        QCOMPARE(QVector<qint64>({steps[1].id, steps[1].time, steps[1].previousTime}),
                 QVector<qint64>({20004, 1700001000, 1800000000}));
        QCOMPARE(context.timeSteps(3, 20003).size(), 0);
        QVector<qint64> found;
        QVERIFY(
            reader.forEachRowInTime(1700000000, 1700001000, {"2", "4"}, [&](const RecordRow &r) {
                found.append(r.id);
                return true;
            }));
        QCOMPARE(found, QVector<qint64>({2, 20004}));
    }

    // The settings in force go in with the rows: every device at each start
    // of recording and each change; read back as they held at any time.
    void settingsInForce()
    {
        const auto entry = [](qint64 from, const QString &serial, double low, double high) {
            RecordDeviceSettings s;
            s.validFrom = from;
            s.intervalMs = 60000;
            s.serialNo = serial;
            s.deviceName = QStringLiteral("<b>%1</b>").arg(serial);
            s.ch1Low = low;
            s.ch1High = high;
            return s;
        };
        InsertSerialData db(m_path, "settings");
        QVERIFY(db.createConnection());
        db.recordSettings({entry(1000, "A", 0, 30), entry(1000, "B", 5, 6)});
        InsertSerialData::appendRecord(row("A", 1, 1, 1000));
        QVERIFY(db.insertNow());
        db.recordSettings({entry(2000, "A", 2, 25), entry(2000, "B", 5, 6)});
        QCOMPARE(db.pendingSettings(), qsizetype(2));
        QVERIFY(db.insertNow()); // settings alone go in too
        QCOMPARE(db.pendingSettings(), qsizetype(0));

        RecordReader reader;
        QVERIFY(reader.open(m_path));
        RecordContext context(reader);
        QVERIFY(context.hasSettings());
        QCOMPARE(context.settingsBetween(1500, 2500).size(), 4);
        // Before the first, at the start, during, changed, later: device:low-high, ...; interval.
        QStringList held;
        for (qint64 time : {999, 1000, 1500, 2000, 9000}) {
            QStringList devices;
            for (const RecordDeviceSettings &s : context.settingsAt(time)) {
                devices << QString("%1:%2-%3;%4")
                               .arg(s.serialNo)
                               .arg(s.ch1Low)
                               .arg(s.ch1High)
                               .arg(s.intervalMs);
                QCOMPARE(s.deviceName, "<b>" + s.serialNo + "</b>");
            }
            held << devices.join(',');
        }
        QCOMPARE(held, (QStringList{"", "A:0-30;60000,B:5-6;60000", "A:0-30;60000,B:5-6;60000",
                                    "A:2-25;60000,B:5-6;60000", "A:2-25;60000,B:5-6;60000"}));
    }

    // A file an old recorder wrote (samples only, the clock went back in
    // it) is taken over: the writer reads its rows once in its idle time and
    // keeps what it found; a plain query on "fennolink" still reads it all.
    // A file of a newer program (a higher version) is written as it is.
    void oldFileTakenOver()
    {
        QVector<TestSupport::RecordRow> rows;
        for (int i = 0; i < 3000; ++i)
            rows.append({"old", double(i), 0, 1000 + i - (i >= 2000 ? 2500 : 0)});
        QVERIFY(TestSupport::appendRecordRows(m_path, rows));
        {
            InsertSerialData db(m_path, "old");
            QVERIFY(db.createConnection());
            QTRY_VERIFY(!db.timeBoundsPending());
            QCOMPARE(db.startDateTime(), 500);
            QCOMPARE(db.endDateTime(), 2999);
            InsertSerialData::appendRecord(row("new", 1, 1, 3000));
            QVERIFY(db.insertNow());
        }
        QCOMPARE(readRows(m_path, "select count(*), max(pointDate) from fennolink"),
                 QStringList{"3001 3000"});
        RecordReader reader;
        QVERIFY(reader.open(m_path));
        QVERIFY(reader.keepsTimeSteps());
        QVector<RecordTimeStep> steps;
        bool complete = false;
        QVERIFY(reader.timeSteps(&steps, false, &complete));
        QVERIFY(complete);
        QCOMPARE(steps.size(), 1);
        QCOMPARE(steps[0].id, qint64(2001));

        TestSupport::sqlRows(m_path, "PRAGMA user_version = 99");
        InsertSerialData newer(m_path, "newer");
        QVERIFY(newer.createConnection());
        InsertSerialData::appendRecord(row("new", 2, 2, 3001));
        QVERIFY(newer.insertNow());
        QCOMPARE(readValue(m_path, "PRAGMA user_version"), QString("99"));
    }

    // A batch above the variable limit of any SQLite build (999 in old builds,
    // 32766 in new ones; 4 a row) that fails (another program holds the write
    // lock, or its third statement is refused) leaves nothing in the file,
    // stays queued, is reported once and is written whole, in order, next
    // time. The caller is never held up: the write waits for the lock in the
    // writer's thread while the caller goes on.
    void failedBatchKeptAndRetried_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("locked") << true;
        QTest::newRow("third statement refused") << false;
    }
    void failedBatchKeptAndRetried()
    {
        QFETCH(bool, locked);
        InsertSerialData db(m_path, "retry");
        QVERIFY(db.createConnection());
        QSignalSpy failed(&db, &InsertSerialData::writeFailed);
        QSignalSpy recovered(&db, &InsertSerialData::writeRecovered);
        const int count = 20000;
        {
            sqlite3 *other = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(m_path).constData(), &other), SQLITE_OK);
            const QByteArray hold =
                locked ? QByteArray("BEGIN IMMEDIATE")
                       : QByteArray("create trigger refuse before insert on fennolink when "
                                    "new.pointDate = ") +
                             QByteArray::number(2 * InsertSerialData::kRowsPerStatement + 5) +
                             " begin select raise(abort, 'refused'); end";
            QCOMPARE(sqlite3_exec(other, hold.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            for (int round = 1; round <= 2; ++round) {
                for (int i = round == 1 ? 0 : count; i < count + (round == 1 ? 0 : 5); ++i)
                    InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept"));
                if (locked) {
                    // Handed over; the writer waits for the lock meanwhile.
                    QVERIFY(db.writeQueued());
                    QVERIFY(db.isWriting());
                    QVERIFY(db.writeQueued()); // one batch at a time
                    QCOMPARE(InsertSerialData::pendingCount(),
                             qsizetype(round == 1 ? count : count + 5));
                    QTRY_VERIFY(!db.isWriting());
                } else {
                    QVERIFY(!db.insertNow());
                }
                QCOMPARE(InsertSerialData::pendingCount(),
                         qsizetype(round == 1 ? count : count + 5));
                QVERIFY(db.lastWriteFailed());
                QCOMPARE(failed.count(), 1); // said once
            }
            QCOMPARE(sqlite3_exec(other, locked ? "ROLLBACK" : "drop trigger refuse", nullptr,
                                  nullptr, nullptr),
                     SQLITE_OK);
            sqlite3_close(other);
        }
        // The backlog drains in capped slices, oldest first.
        QVERIFY(db.insertNow(7000));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(count + 5 - 7000));
        QVERIFY(db.insertNow());
        QVERIFY(!db.lastWriteFailed());
        QCOMPARE(recovered.count(), 1);
        QCOMPARE(readValue(m_path,
                           "select count(*) from fennolink where pointDate = id - 1 and serialno = "
                           "pointDate and channel1 = pointDate"),
                 QString::number(count + 5));
    }

    // A full queue drops its oldest rows and counts them (for the window to
    // tell); rows kept for the writer count as waiting.
    void boundedQueueDropsOldest()
    {
        InsertSerialData::setQueueLimit(10);
        const qint64 droppedBefore = InsertSerialData::droppedCount();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("row queue full"));
        for (int i = 0; i < 15; ++i)
            InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
        QCOMPARE(InsertSerialData::droppedCount() - droppedBefore, 5);
        InsertSerialData db(m_path, "bounded");
        QVERIFY(db.createConnection());
        QVERIFY(db.insertNow());
        QCOMPARE(readRows(m_path,
                          "select min(serialno + 0), max(serialno + 0), count(*) from fennolink"),
                 QStringList{"5 14 10"});
    }

    // The database file deleted, moved away or replaced by another file while
    // rows go in: noticed at the next look (or write), told once, and the
    // rows from then on go into a new file at the path; a file put in its
    // place is moved aside, never written into.
    void fileDeletedOrReplaced_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("deleted") << "deleted";
        QTest::newRow("moved away") << "moved";
        QTest::newRow("replaced") << "replaced";
    }
    void fileDeletedOrReplaced()
    {
        QFETCH(QString, how);
        const QString other = m_dir.filePath(QStringLiteral("other%1.dat").arg(m_fileNumber));
        const QString moved = m_path + ".moved";
        {
            InsertSerialData stranger(other, "stranger");
            QVERIFY(stranger.createConnection());
            InsertSerialData::appendRecord(row("stranger", 1, 1, 1));
            QVERIFY(stranger.insertNow());
        }
        InsertSerialData db(m_path, "replaced");
        QVERIFY(db.createConnection());
        QSignalSpy recreated(&db, &InsertSerialData::databaseRecreated);
        InsertSerialData::appendRecord(row("old", 1, 1, 1));
        QVERIFY(db.insertNow());
        db.checkFile();
        QVERIFY(!db.isWriting()); // nothing to do while the file is in place

        if (how == "deleted")
            QVERIFY(QFile::remove(m_path));
        else if (how == "moved")
            QVERIFY(QFile::rename(m_path, moved));
        else
            QVERIFY(::rename(QFile::encodeName(other).constData(),
                             QFile::encodeName(m_path).constData()) == 0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("recording goes on into a new file"));
        if (how == "deleted") {
            db.checkFile();
            QTRY_COMPARE(recreated.count(), 1);
        }
        for (int i = 0; i < 5; ++i)
            InsertSerialData::appendRecord(row("new", i, i, quint32(10 + i)));
        QVERIFY(db.insertNow());
        QCOMPARE(recreated.count(), 1);
        QVERIFY(!recreated.at(0).at(0).toString().isEmpty());
        QVERIFY(QFile::exists(m_path));
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where serialno = 'new'"),
                 QString("5"));
        // A row the old file held only in its log (the file went before the
        // next checkpoint) is written into the new file again.
        const int oldInNew =
            readValue(m_path, "select count(*) from fennolink where serialno = 'old'").toInt();
        QVERIFY(oldInNew <= 1);
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where serialno = 'stranger'"),
                 QString("0"));
        if (how == "moved")
            QCOMPARE(readRows(moved, "select serialno from fennolink").size() + oldInNew, 1);
        if (how == "replaced") {
            const QStringList aside =
                QDir(m_dir.path()).entryList({QFileInfo(m_path).fileName() + ".replaced-*"});
            QCOMPARE(aside.size(), 1);
            QCOMPARE(readRows(m_dir.filePath(aside.at(0)), "select serialno from fennolink"),
                     QStringList{"stranger"});
            QVERIFY(recreated.at(0).at(0).toString().contains(aside.at(0)));
        }
    }

    // Rows the project's file will not take can be saved into another file
    // of the same table; a save that fails keeps them all queued.
    void savedToAnotherFile()
    {
        for (int i = 0; i < 300; ++i)
            InsertSerialData::appendRecord(row("s", i, NoValue, quint32(100 + i)));
        QString error;
        QVERIFY(!InsertSerialData::saveQueueTo(m_dir.filePath("no/such/folder.dat"), &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(300));
        // A disk that takes no more bytes: the attempt leaves no empty file.
        const QString full = m_dir.filePath(QStringLiteral("full%1.dat").arg(m_fileNumber));
        {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit old;
            QVERIFY(::getrlimit(RLIMIT_FSIZE, &old) == 0);
            struct rlimit none = old;
            none.rlim_cur = 0;
            QVERIFY(::setrlimit(RLIMIT_FSIZE, &none) == 0);
            const bool ok = InsertSerialData::saveQueueTo(full, &error);
            ::setrlimit(RLIMIT_FSIZE, &old);
            QVERIFY(!ok);
        }
        QVERIFY(!error.isEmpty());
        QVERIFY(!QFile::exists(full));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(300));
        const QString saved = m_dir.filePath(QStringLiteral("saved%1.dat").arg(m_fileNumber));
        QVERIFY2(InsertSerialData::saveQueueTo(saved, &error), qPrintable(error));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        QCOMPARE(readRows(saved, "select count(*), min(pointDate), max(pointDate) from fennolink"),
                 QStringList{"300 100 399"});
    }

    // Shortly after a write the database file alone (without its log) holds
    // every row: a copy of it taken then misses nothing.
    void copyOfFileAloneHoldsRows()
    {
        InsertSerialData db(m_path, "copy");
        QVERIFY(db.createConnection());
        for (int batch = 0; batch < 50; ++batch) {
            for (int i = 0; i < 16; ++i)
                InsertSerialData::appendRecord(row("c", i, i, quint32(batch)));
            QVERIFY(db.insertNow());
        }
        const QString copy = m_path + ".copy";
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QFile::remove(copy);
                return QFile::copy(m_path, copy) &&
                       readValue(copy, "select count(*) from fennolink") == "800";
            }(),
            10000);
    }

    // A program killed (SIGKILL) mid-recording leaves a file that passes the
    // integrity check and holds every batch committed before the kill, whole.
    void killedWhileRecording()
    {
        QMap<int, int> committed; // batch -> rows
        int nextBatch = 0;
        for (int round = 0; round < kKillRounds; ++round) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {"--record-child", m_path, QString::number(nextBatch)});
            QVERIFY(child.waitForStarted());
            const auto take = [&](const QByteArray &line) {
                const QList<QByteArray> parts = line.trimmed().split(' ');
                if (parts.size() == 3)
                    committed.insert(parts[1].toInt(), parts[2].toInt());
            };
            for (int seen = 0, want = 2 + (round * 7) % 9; seen < want;) {
                if (child.canReadLine()) {
                    take(child.readLine());
                    ++seen;
                } else {
                    QVERIFY2(child.waitForReadyRead(30000),
                             qPrintable(child.readAllStandardError()));
                }
            }
            QThread::usleep(unsigned(QRandomGenerator::global()->bounded(20000)));
            child.kill();
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            for (const QByteArray &line : child.readAllStandardOutput().split('\n'))
                take(line); // lines already on their way before the kill
            nextBatch = committed.lastKey() + 100;
        }

        QCOMPARE(readValue(m_path, "PRAGMA integrity_check"), QString("ok"));
        QMap<int, int> stored;
        for (const QString &r :
             readRows(m_path, "select pointDate, count(*) from fennolink group by pointDate"))
            stored.insert(r.section(' ', 0, 0).toInt(), r.section(' ', 1, 1).toInt());
        for (auto it = committed.cbegin(); it != committed.cend(); ++it)
            QCOMPARE(stored.value(it.key()), it.value());
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            QCOMPARE(it.value(), it.key() % 4 == 3 ? kLargeBatch : 16); // never half a batch
    }
};

int main(int argc, char **argv)
{
    const bool child = argc == 4 && qstrcmp(argv[1], "--record-child") == 0;
    if (!child)
        TestSupport::isolateSettings();
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules("quillark.record.debug=false");
    if (child)
        return recordChild(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    tst_InsertSerialData test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_insertserialdata.moc"
