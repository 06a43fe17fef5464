#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QtTest>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

// The killed writer: rounds of start, write, kill; every fourth batch large,
// so that a kill often lands inside a long write.
constexpr int kKillRounds = 24;
constexpr int kLargeBatch = 20000;

// Reads the file through a connection of its own, as another program would.
QVector<QVariantList> readRows(const QString &path, const QString &sql)
{
    static int serial = 0;
    const QString name = QStringLiteral("reader%1").arg(++serial);
    QVector<QVariantList> rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            qWarning() << "reader cannot open" << path << db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(sql))
                qWarning() << "reader query failed" << sql << query.lastError().text();
            while (query.next()) {
                QVariantList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row << query.value(i);
                rows << row;
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

QVariant readValue(const QString &path, const QString &sql)
{
    const auto rows = readRows(path, sql);
    return rows.isEmpty() || rows.first().isEmpty() ? QVariant() : rows.first().first();
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
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.record.debug=false"));
    InsertSerialData db(path, QStringLiteral("child"));
    if (!db.createConnection())
        return 2;
    for (int batch = firstBatch;; ++batch) {
        const int size = batch % 4 == 3 ? kLargeBatch : 16;
        const QString serial = QStringLiteral("kill-%1").arg(batch);
        for (int i = 0; i < size; ++i)
            InsertSerialData::appendRecord(row(serial, i * 0.5, -i, quint32(batch)));
        if (db.insertNow()) {
            std::printf("committed %d %d\n", batch, size);
            std::fflush(stdout);
        } else {
            InsertSerialData::clearQueue();
        }
    }
}

} // namespace

class tst_InsertSerialData : public QObject
{
    Q_OBJECT
private:
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

    void newFileSchemaAndSettings()
    {
        InsertSerialData db(m_path, QStringLiteral("schema"));
        QVERIFY(!db.isOpened());
        QVERIFY(db.createConnection());
        QVERIFY(db.isOpened());
        // SQLite keeps the statement as given, apart from the leading keywords.
        QString sql = readValue(m_path, "select sql from sqlite_master where name='fennolink'").toString();
        QVERIFY(sql.startsWith(QLatin1String("CREATE TABLE ")));
        QCOMPARE(sql.replace(0, 12, QStringLiteral("create table")),
                 QStringLiteral("create table fennolink (\t\tid integer primary key autoincrement,\t\tserialno "
                                "varchar(18) not null, \t\tchannel1 float, channel2 float, \t\tpointDate integer "
                                "not null\t\t)"));
        QCOMPARE(readValue(m_path, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        QCOMPARE(readValue(m_path, "PRAGMA page_size").toInt(), 4096);
        QCOMPARE(InsertSerialData::queueLimit(), qsizetype(1382400));
    }

    void storedValues_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QVariant>("stored");
        const QVariant null;
        QTest::newRow("no value") << NoValue << null;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << null;
        QTest::newRow("six digits") << 1234567.89 << QVariant(1234570.0);
        QTest::newRow("float reading") << double(21.53f) << QVariant(21.53);
        QTest::newRow("small negative") << -0.000123456789 << QVariant(-0.000123457);
        QTest::newRow("whole") << 30.0 << QVariant(30.0);
        QTest::newRow("quarter") << 45.25 << QVariant(45.25);
        QTest::newRow("minus one") << -1.0 << QVariant(-1.0);
    }
    void storedValues()
    {
        QFETCH(double, value);
        QFETCH(QVariant, stored);
        InsertSerialData db(m_path, QStringLiteral("values"));
        QVERIFY(db.createConnection());
        InsertSerialData::appendRecord(row("1001", value, NoValue, 1600000000));
        InsertSerialData::appendRecord(row("1002", 7.0, value, 1600000001));
        QVERIFY(db.insertNow());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        const auto rows = readRows(m_path, "select serialno, channel1, channel2, pointDate from fennolink order by id");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][0].toString(), QStringLiteral("1001"));
        QVERIFY(rows[0][2].isNull());
        QCOMPARE(rows[0][3].toLongLong(), 1600000000LL);
        QCOMPARE(rows[1][1].toDouble(), 7.0);
        for (const QVariant &v : {rows[0][1], rows[1][2]}) {
            QCOMPARE(v.isNull(), stored.isNull());
            if (!stored.isNull())
                QCOMPARE(v.toDouble(), stored.toDouble()); // exact: the same double as the 6-digit text
        }
        // What a row with values looks like as text, as it always did.
        if (!stored.isNull())
            QCOMPARE(QString::number(rows[0][1].toDouble(), 'g', 6), QString::number(value, 'g', 6));
    }

    void deviceNumberWithQuotes()
    {
        const QString evil = QStringLiteral("10'01\"'); drop table fennolink; --");
        InsertSerialData db(m_path, QStringLiteral("quotes"));
        QVERIFY(db.createConnection());
        InsertSerialData::appendRecord(row(evil, 1.0, 2.0, 100));
        InsertSerialData::appendRecord(row(QStringLiteral("O'Brien"), 3.0, 4.0, 101));
        QVERIFY(db.insertNow());
        const auto rows = readRows(m_path, "select serialno from fennolink order by id");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][0].toString(), evil);
        QCOMPARE(rows[1][0].toString(), QStringLiteral("O'Brien"));
    }

    void identicalRowsAllStoredInOrder()
    {
        InsertSerialData db(m_path, QStringLiteral("same"));
        QVERIFY(db.createConnection());
        for (int i = 0; i < 3; ++i)
            InsertSerialData::appendRecord(row("1001", 21.5, NoValue, 1600000000));
        InsertSerialData::appendRecord(row("1000", 1, 1, 1599999999));
        QVERIFY(db.insertNow());
        const auto rows = readRows(m_path, "select serialno, pointDate from fennolink order by id");
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows[3][0].toString(), QStringLiteral("1000"));
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where serialno='1001' and channel1=21.5 "
                                   "and channel2 is null")
                     .toInt(),
                 3);
    }

    void failedBatchKeptAndRetried()
    {
        InsertSerialData db(m_path, QStringLiteral("retry"));
        QVERIFY(db.createConnection());
        QSignalSpy failed(&db, &InsertSerialData::writeFailed);
        QSignalSpy recovered(&db, &InsertSerialData::writeRecovered);

        // Another program holds the write lock.
        const QString lockName = QStringLiteral("locker");
        {
            QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), lockName);
            locker.setDatabaseName(m_path);
            QVERIFY(locker.open());
            QSqlQuery lock(locker);
            QVERIFY2(lock.exec("BEGIN IMMEDIATE"), qPrintable(lock.lastError().text()));

            for (int i = 0; i < 20; ++i)
                InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
            QVERIFY(!db.insertNow());
            QCOMPARE(InsertSerialData::pendingCount(), qsizetype(20));
            QVERIFY(db.lastWriteFailed());
            QVERIFY(!db.lastWriteError().isEmpty());
            QCOMPARE(failed.count(), 1);

            // More rows arrive; the next try fails too but says so only once.
            for (int i = 20; i < 25; ++i)
                InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
            QVERIFY(!db.insertNow());
            QCOMPARE(InsertSerialData::pendingCount(), qsizetype(25));
            QCOMPARE(failed.count(), 1);
            QVERIFY(lock.exec("ROLLBACK"));
        }
        QSqlDatabase::removeDatabase(lockName);

        QVERIFY(db.insertNow());
        QVERIFY(!db.lastWriteFailed());
        QCOMPARE(recovered.count(), 1);
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        const auto rows = readRows(m_path, "select serialno from fennolink order by id");
        QCOMPARE(rows.size(), 25);
        for (int i = 0; i < 25; ++i)
            QCOMPARE(rows[i][0].toString(), QString::number(i));
    }

    void failureInLaterStatementKeepsWholeBatch()
    {
        InsertSerialData db(m_path, QStringLiteral("midway"));
        QVERIFY(db.createConnection());
        // Make the third statement of the batch fail.
        const int count = 3 * InsertSerialData::kRowsPerStatement;
        const quint32 bad = quint32(2 * InsertSerialData::kRowsPerStatement + 5);
        QVERIFY(readRows(m_path, QStringLiteral("create trigger refuse before insert on fennolink when new.pointDate = %1 "
                                                "begin select raise(abort, 'refused'); end")
                                     .arg(bad))
                    .isEmpty());
        for (int i = 0; i < count; ++i)
            InsertSerialData::appendRecord(row(QStringLiteral("n"), i, i, quint32(i)));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept.*refused"));
        QVERIFY(!db.insertNow());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(count));
        QCOMPARE(readValue(m_path, "select count(*) from fennolink").toInt(), 0);

        readRows(m_path, "drop trigger refuse");
        QVERIFY(db.insertNow());
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where pointDate = id - 1").toInt(), count);
    }

    void rowWithoutDeviceNumber()
    {
        InsertSerialData db(m_path, QStringLiteral("nonumber"));
        QVERIFY(db.createConnection());
        InsertSerialData::appendRecord(SerialRecord());
        InsertSerialData::appendRecord(row("after", 1, 1, 2));
        QVERIFY(db.insertNow());
        const auto rows = readRows(m_path, "select serialno, channel1, pointDate from fennolink order by id");
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0][0].toString(), QString());
        QVERIFY(!rows[0][0].isNull());
        QVERIFY(rows[0][1].isNull());
        QCOMPARE(rows[1][0].toString(), QStringLiteral("after"));
    }

    void notOpenedKeepsRows()
    {
        InsertSerialData db(m_path, QStringLiteral("closed"));
        InsertSerialData::appendRecord(row("1", 1, 1, 1));
        QVERIFY(!db.insertNow());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(1));
        // Rows queued while nothing was open go to the next open database.
        QVERIFY(db.createConnection());
        QVERIFY(db.insertNow());
        QCOMPARE(readValue(m_path, "select count(*) from fennolink").toInt(), 1);
    }

    void timesOfEmptyAndFilledTable()
    {
        InsertSerialData db(m_path, QStringLiteral("times"));
        QCOMPARE(db.startDateTime(), 0); // not connected
        QVERIFY(db.createConnection());
        QCOMPARE(db.startDateTime(), 0);
        QCOMPARE(db.endDateTime(), 0);
        InsertSerialData::appendRecord(row("1", 1, 1, 1700000050));
        InsertSerialData::appendRecord(row("1", 1, 1, 4000000000u)); // beyond signed 32 bits
        InsertSerialData::appendRecord(row("2", NoValue, NoValue, 1700000000));
        QVERIFY(db.insertNow());
        QCOMPARE(db.startDateTime(), 1700000000);
        QCOMPARE(db.endDateTime(), 4000000000LL);
    }

    void secondConnection()
    {
        InsertSerialData db(m_path, QStringLiteral("twice"));
        QVERIFY(db.createConnection());
        QVERIFY(db.createConnection());
        QVERIFY(db.isOpened());
        InsertSerialData other(m_path, QStringLiteral("twice"));
        QVERIFY(other.createConnection());
        QVERIFY(other.isOpened());
        {
            // The connection lives until its last user is gone.
            InsertSerialData third(m_path, QStringLiteral("twice"));
            QVERIFY(third.createConnection());
        }
        QVERIFY(QSqlDatabase::contains(db.connectionName()));
        {
            // An object that never opened leaves the others' connection alone.
            InsertSerialData unopened(m_path, QStringLiteral("twice"));
        }
        QVERIFY(QSqlDatabase::contains(db.connectionName()));

        // Reopening a file that already has rows keeps them.
        InsertSerialData::appendRecord(row("1", 1, 1, 1));
        QVERIFY(db.insertNow());
        InsertSerialData again(m_path, QStringLiteral("again"));
        QVERIFY(again.createConnection());
        QCOMPARE(again.endDateTime(), 1);
    }

    void olderFileInUseByReader()
    {
        // A file written without a log, which another program is reading
        // just when recording opens it: the log cannot be switched on now.
        {
            QSqlDatabase old = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("old"));
            old.setDatabaseName(m_path);
            QVERIFY(old.open());
            QSqlQuery q(old);
            QVERIFY(q.exec("PRAGMA journal_mode = DELETE"));
            QVERIFY(q.exec("create table fennolink (id integer primary key autoincrement, serialno varchar(18) "
                           "not null, channel1 float, channel2 float, pointDate integer not null)"));
            QVERIFY(q.exec("insert into fennolink (serialno, channel1, channel2, pointDate) values ('a', 1, 2, 5)"));
            QVERIFY(q.exec("BEGIN"));
            QVERIFY(q.exec("select * from fennolink"));
            QVERIFY(q.next()); // holds a read lock until the end of the transaction

            InsertSerialData db(m_path, QStringLiteral("older"));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write-ahead log not available"));
            QVERIFY(db.createConnection());
            InsertSerialData::appendRecord(row("b", 3, 4, 6));
            // The reader still holds the file: the write waits for the next try.
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("write failed, rows kept"));
            QVERIFY(!db.insertNow());
            QCOMPARE(InsertSerialData::pendingCount(), qsizetype(1));
            q.finish();
            QVERIFY(q.exec("COMMIT"));
            QVERIFY(db.insertNow());
        }
        QSqlDatabase::removeDatabase(QStringLiteral("old"));
        QCOMPARE(readValue(m_path, "select count(*) from fennolink").toInt(), 2);
        QCOMPARE(readValue(m_path, "PRAGMA journal_mode").toString(), QStringLiteral("delete"));

        // Opened again with nobody else in it, the file gets its log.
        InsertSerialData again(m_path, QStringLiteral("older2"));
        QVERIFY(again.createConnection());
        QCOMPARE(readValue(m_path, "PRAGMA journal_mode").toString(), QStringLiteral("wal"));
        QCOMPARE(again.endDateTime(), 6);
    }

    void unopenableFile()
    {
        const QString bad = m_dir.filePath(QStringLiteral("missing/folder/x.dat"));
        InsertSerialData db(bad, QStringLiteral("bad"));
        QVERIFY(!db.createConnection());
        QVERIFY(!db.isOpened());
        // A failed attempt leaves nothing behind that would pass for open.
        QVERIFY(!QSqlDatabase::contains(db.connectionName()));
        QVERIFY(!db.createConnection());
        QVERIFY(!db.isOpened());
    }

    void batchAboveVariableLimit()
    {
        InsertSerialData db(m_path, QStringLiteral("large"));
        QVERIFY(db.createConnection());
        // More rows than the variable limit of any SQLite build allows in
        // one statement (999 in old builds, 32766 in new ones) at 4 a row.
        const int count = 20000;
        for (int i = 0; i < count; ++i)
            InsertSerialData::appendRecord(row(QStringLiteral("d%1").arg(i % 16), i, NoValue, quint32(i)));
        QVERIFY(db.insertNow());
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        QCOMPARE(readValue(m_path, "select count(*) from fennolink").toInt(), count);
        // Queue order is kept: ids and times rise together.
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where pointDate != id - 1").toInt(), 0);
        QCOMPARE(readValue(m_path, "select count(*) from fennolink where channel1 != pointDate").toInt(), 0);
    }

    void boundedQueueDropsOldest()
    {
        InsertSerialData::setQueueLimit(10);
        const qint64 droppedBefore = InsertSerialData::droppedCount();
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("row queue full"));
        for (int i = 0; i < 15; ++i)
            InsertSerialData::appendRecord(row(QString::number(i), i, i, quint32(i)));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(10));
        QCOMPARE(InsertSerialData::droppedCount() - droppedBefore, 5);

        InsertSerialData db(m_path, QStringLiteral("bounded"));
        QVERIFY(db.createConnection());
        QVERIFY(db.insertNow());
        const auto rows = readRows(m_path, "select serialno from fennolink order by id");
        QCOMPARE(rows.size(), 10);
        QCOMPARE(rows.first()[0].toString(), QStringLiteral("5"));
        QCOMPARE(rows.last()[0].toString(), QStringLiteral("14"));
    }

    void killedWhileRecording()
    {
        QMap<int, int> committed; // batch -> rows
        int nextBatch = 0;
        for (int round = 0; round < kKillRounds; ++round) {
            QProcess child;
            child.setProcessChannelMode(QProcess::SeparateChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--record-child"), m_path, QString::number(nextBatch)});
            QVERIFY(child.waitForStarted());
            // Let it write a while (a different number of batches each
            // round), then kill it without warning.
            const int want = 2 + (round * 7) % 9;
            int seen = 0;
            while (seen < want) {
                if (!child.canReadLine()) {
                    QVERIFY2(child.waitForReadyRead(30000), qPrintable(child.readAllStandardError()));
                    continue;
                }
                const QList<QByteArray> parts = child.readLine().trimmed().split(' ');
                QCOMPARE(parts.size(), 3);
                committed.insert(parts[1].toInt(), parts[2].toInt());
                ++seen;
            }
            // Land the kill at varying points of the write cycle.
            QThread::usleep(unsigned(QRandomGenerator::global()->bounded(20000)));
            child.kill();
            QVERIFY(child.waitForFinished(30000));
            QCOMPARE(child.exitStatus(), QProcess::CrashExit);
            // Lines that were already on their way before the kill count too.
            for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> parts = line.trimmed().split(' ');
                if (parts.size() == 3)
                    committed.insert(parts[1].toInt(), parts[2].toInt());
            }
            nextBatch = committed.lastKey() + 100;
        }

        QCOMPARE(readValue(m_path, "PRAGMA integrity_check").toString(), QStringLiteral("ok"));
        QMap<int, int> stored;
        for (const auto &r : readRows(m_path, "select pointDate, count(*) from fennolink group by pointDate"))
            stored.insert(r[0].toInt(), r[1].toInt());
        for (auto it = committed.cbegin(); it != committed.cend(); ++it)
            QCOMPARE(stored.value(it.key()), it.value());
        // No batch is ever half there.
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            QCOMPARE(it.value(), it.key() % 4 == 3 ? kLargeBatch : 16);
    }
};

int main(int argc, char **argv)
{
    if (argc == 4 && qstrcmp(argv[1], "--record-child") == 0) {
        QCoreApplication app(argc, argv);
        return recordChild(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    }
    TestSupport::isolateSettings();
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.record.debug=false"));
    tst_InsertSerialData test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_insertserialdata.moc"
