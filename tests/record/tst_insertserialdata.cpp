#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QtTest>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <cstdio>
#include <cmath>

namespace {

// The killed writer: rounds of start, write, kill; every fourth batch large,
// so that a kill often lands inside a long write.
constexpr int kKillRounds = 10;
constexpr int kLargeBatch = 20000;

// Reads the file through a connection of its own, as another program would;
// each row as its values joined by spaces (NULL for null).
QStringList readRows(const QString &path, const QString &sql)
{
    static int serial = 0;
    const QString name = QStringLiteral("reader%1").arg(++serial);
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QSqlQuery query(db);
        if (!db.open() || !query.exec(sql))
            qWarning() << "reader failed:" << sql << query.lastError().text();
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < query.record().count(); ++i)
                values << (query.value(i).isNull() ? QStringLiteral("NULL") : query.value(i).toString());
            rows << values.join(QLatin1Char(' '));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

QString readValue(const QString &path, const QString &sql)
{
    return readRows(path, sql).value(0);
}

SerialRecord row(const QString &serial, double ch1, double ch2, quint32 time)
{
    SerialRecord r;
    r.serialNo = serial;
    r.channel1 = ch1;
    r.channel2 = ch2;
    r.pointDate = time;
    return r;
}

// Child mode: records batches into the file given and reports each
// committed batch on stdout until it is killed.
int recordChild(const QString &path, int firstBatch)
{
    InsertSerialData db(path, QStringLiteral("child"));
    if (!db.createConnection())
        return 2;
    for (int batch = firstBatch;; ++batch) {
        const int size = batch % 4 == 3 ? kLargeBatch : 16;
        for (int i = 0; i < size; ++i)
            InsertSerialData::appendRecord(row(QStringLiteral("kill"), i * 0.5, -i, quint32(batch)));
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

    // The table other programs read, in a file with a write-ahead log. Every
    // queued row is stored as queued: bound values (quotes stay text),
    // identical rows all kept, channels rounded to 6 significant digits,
    // NoValue and NaN as NULL, times beyond 31 bits.
    void storedRows()
    {
        InsertSerialData db(m_path, QStringLiteral("rows"));
        QVERIFY(db.createConnection());
        QString sql = readValue(m_path, "select sql from sqlite_master where name='fennolink'");
        QCOMPARE(sql.replace(0, 12, QStringLiteral("create table")),
                 QStringLiteral("create table fennolink (\t\tid integer primary key autoincrement,\t\tserialno "
                                "varchar(18) not null, \t\tchannel1 float, channel2 float, \t\tpointDate integer "
                                "not null\t\t)"));
        QCOMPARE(readValue(m_path, "PRAGMA journal_mode"), QStringLiteral("wal"));

        const QString evil = QStringLiteral("10'01\"'); drop table fennolink; --");
        InsertSerialData::appendRecord(row(evil, 1234567.89, NoValue, 100));
        InsertSerialData::appendRecord(row("O'Brien", double(21.53f), std::nan(""), 101));
        for (int i = 0; i < 3; ++i)
            InsertSerialData::appendRecord(row("same", -1, 45.25, 102));
        InsertSerialData::appendRecord(row(QString(), -0.000123456789, 30, 4000000000u));
        QVERIFY(db.insertNow());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        QCOMPARE(readRows(m_path, "select serialno, channel1, channel2, pointDate from fennolink order by id"),
                 (QStringList{evil + " 1234570 NULL 100", "O'Brien 21.53 NULL 101", "same -1 45.25 102",
                              "same -1 45.25 102", "same -1 45.25 102", " -0.000123457 30 4000000000"}));
        QCOMPARE(db.startDateTime(), 100);
        QCOMPARE(db.endDateTime(), 4000000000LL);
    }

    // Rows queued while nothing is open wait for the database; an empty table
    // has no times.
    void timesAndClosedDatabase()
    {
        InsertSerialData db(m_path, QStringLiteral("times"));
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
    }

    // A batch above the variable limit of any SQLite build (999 in old builds,
    // 32766 in new ones; 4 a row) that fails (another program holds the write
    // lock, or its third statement is refused) leaves nothing in the file,
    // stays queued, is reported once and is written whole, in order, next time.
    void failedBatchKeptAndRetried_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::newRow("locked") << true;
        QTest::newRow("third statement refused") << false;
    }
    void failedBatchKeptAndRetried()
    {
        QFETCH(bool, locked);
        InsertSerialData db(m_path, QStringLiteral("retry"));
        QVERIFY(db.createConnection());
        QSignalSpy failed(&db, &InsertSerialData::writeFailed);
        QSignalSpy recovered(&db, &InsertSerialData::writeRecovered);
        const int count = 20000;
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(m_path);
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(locked ? q.exec("BEGIN IMMEDIATE")
                           : q.exec(QStringLiteral("create trigger refuse before insert on fennolink when "
                                                   "new.pointDate = %1 begin select raise(abort, 'refused'); end")
                                        .arg(2 * InsertSerialData::kRowsPerStatement + 5)));
            for (int round = 1; round <= 2; ++round) {
                for (int i = round == 1 ? 0 : count; i < count + (round == 1 ? 0 : 5); ++i)
                    InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept"));
                QVERIFY(!db.insertNow());
                QCOMPARE(InsertSerialData::pendingCount(), qsizetype(round == 1 ? count : count + 5));
                QVERIFY(db.lastWriteFailed());
                QCOMPARE(failed.count(), 1); // said once
            }
            QVERIFY(q.exec(locked ? "ROLLBACK" : "drop trigger refuse"));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        // The backlog drains in capped slices, oldest first.
        QVERIFY(db.insertNow(7000));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(count + 5 - 7000));
        QVERIFY(db.insertNow());
        QVERIFY(!db.lastWriteFailed());
        QCOMPARE(recovered.count(), 1);
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where pointDate = id - 1 and serialno = "
                                   "pointDate and channel1 = pointDate"),
                 QString::number(count + 5));
    }

    void boundedQueueDropsOldest()
    {
        InsertSerialData::setQueueLimit(10);
        const qint64 droppedBefore = InsertSerialData::droppedCount();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("row queue full"));
        for (int i = 0; i < 15; ++i)
            InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
        QCOMPARE(InsertSerialData::droppedCount() - droppedBefore, 5);
        InsertSerialData db(m_path, QStringLiteral("bounded"));
        QVERIFY(db.createConnection());
        QVERIFY(db.insertNow());
        QCOMPARE(readRows(m_path, "select min(serialno + 0), max(serialno + 0), count(*) from fennolink"),
                 QStringList{"5 14 10"});
    }

    // A second createConnection() on an open object, and other objects on the
    // same connection name: the connection lives until its last user is gone,
    // and reopening a file keeps its rows. An unopenable path leaves nothing open.
    void secondConnection()
    {
        InsertSerialData db(m_path, QStringLiteral("twice"));
        QVERIFY(db.createConnection());
        QVERIFY(db.createConnection());
        {
            InsertSerialData other(m_path, QStringLiteral("twice"));
            QVERIFY(other.createConnection());
            InsertSerialData unopened(m_path, QStringLiteral("twice"));
        }
        QVERIFY(QSqlDatabase::contains(db.connectionName()));
        InsertSerialData::appendRecord(row("1", 1, 1, 1));
        QVERIFY(db.insertNow());
        InsertSerialData again(m_path, QStringLiteral("again"));
        QVERIFY(again.createConnection());
        QCOMPARE(again.endDateTime(), 1);

        InsertSerialData bad(m_dir.filePath(QStringLiteral("missing/folder/x.dat")), QStringLiteral("bad"));
        QVERIFY(!bad.createConnection());
        QVERIFY(!QSqlDatabase::contains(bad.connectionName()));
        QVERIFY(!bad.createConnection());

        // Rows an object's file will not take are gone with it (quietly: its
        // listeners may be going away too), never left for the next project.
        const qint64 droppedBefore = InsertSerialData::droppedCount();
        QObject listener;
        bool told = false;
        {
            InsertSerialData closing(m_path, QStringLiteral("closing"));
            QVERIFY(closing.createConnection());
            connect(&closing, &InsertSerialData::writeFailed, &listener, [&told] { told = true; });
            readRows(m_path, "drop table fennolink");
            InsertSerialData::appendRecord(row("2", 2, 2, 2));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept"));
            QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("1 rows could not be written"));
        }
        QVERIFY(!told);
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        QCOMPARE(InsertSerialData::droppedCount() - droppedBefore, 1);
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
                        {QStringLiteral("--record-child"), m_path, QString::number(nextBatch)});
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
                    QVERIFY2(child.waitForReadyRead(30000), qPrintable(child.readAllStandardError()));
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

        QCOMPARE(readValue(m_path, "PRAGMA integrity_check"), QStringLiteral("ok"));
        QMap<int, int> stored;
        for (const QString &r : readRows(m_path, "select pointDate, count(*) from fennolink group by pointDate"))
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
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.record.debug=false"));
    if (child)
        return recordChild(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    tst_InsertSerialData test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_insertserialdata.moc"
