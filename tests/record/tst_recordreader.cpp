#include "projectfixture.h"
#include "record/recordreader.h"
#include "recordfixture.h"
#include "testsupport.h"

#include "common/common.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sqlite3.h>

using TestSupport::appendRecordRows;
using TestSupport::kNoReading;
using TestSupport::polls;
using TestSupport::Row;

class tst_RecordReader : public QObject
{
    Q_OBJECT

private:
    // Ids of the rows with from <= pointDate <= to, found the slow way.
    static QVector<qint64> bruteIds(const QString &path, qint64 from, qint64 to)
    {
        QVector<qint64> ids;
        for (const QVariantList &row : TestSupport::sqlRows(
                 path, QStringLiteral(
                           "select id from fennolink where pointDate between %1 and %2 order by id")
                           .arg(from)
                           .arg(to)))
            ids.append(row.at(0).toLongLong());
        return ids;
    }
    static QVector<qint64> readerIds(RecordReader &reader, qint64 from, qint64 to,
                                     const QStringList &serials = {})
    {
        QVector<qint64> ids;
        const bool ok = reader.forEachRowInTime(from, to, serials, [&](const RecordRow &row) {
            ids.append(row.id);
            return true;
        });
        if (!ok)
            ids.append(-1);
        return ids;
    }
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath("clock.dat");
        // 100 polls of two devices every 10 s, one NULL row, then the clock
        // steps back by 490 s and 20 more polls follow.
        QVector<Row> rows = polls({"A", "B"}, 1000, 100, 10, [](int d, int c, qint64 t) {
            return t == 1500 && d == 0 ? kNoReading
                                       : double(d * 100 + c * 10) + double(t - 1000) / 10;
        });
        QVERIFY(appendRecordRows(m_path, rows));
    }

    void errorsHaveAStatus_data()
    {
        QTest::addColumn<int>("status"); // the row's name says what lies at the path
        QTest::newRow("missing") << int(RecordReader::Status::NoFile);
        QTest::newRow("folder") << int(RecordReader::Status::NotRecordFile);
        QTest::newRow("text file") << int(RecordReader::Status::NotRecordFile);
        QTest::newRow("other database") << int(RecordReader::Status::NotRecordFile);
        QTest::newRow("damaged") << int(RecordReader::Status::Damaged);
        QTest::newRow("locked") << int(RecordReader::Status::Locked);
    }
    void errorsHaveAStatus()
    {
        QFETCH(int, status);
        const QString kind = QTest::currentDataTag();
        QTemporaryDir dir;
        QString path = dir.filePath(kind + ".dat");
        sqlite3 *holder = nullptr;
        if (kind == "folder") {
            QDir().mkpath(path);
        } else if (kind == "text file") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, 'x'));
        } else if (kind == "other database") {
            TestSupport::sqlRows(path, "create table other (x integer)");
        } else if (kind == "damaged" || kind == "locked") {
            QVERIFY(appendRecordRows(path, polls({"A"}, 0, kind == "damaged" ? 2000 : 10, 1,
                                                 [](int, int, qint64 t) { return double(t); })));
        }
        if (kind == "damaged") {
            // Back to a rollback journal so that the file stands alone.
            TestSupport::sqlRows(path, "PRAGMA journal_mode = DELETE");
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(100); // the schema page, past the header
            f.write(QByteArray(3900, '\x5a'));
        } else if (kind == "locked") {
            sqlite3_open(QFile::encodeName(path).constData(), &holder);
            sqlite3_exec(holder, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);
            sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE", nullptr, nullptr, nullptr);
            QCOMPARE(sqlite3_exec(holder, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
        }
        RecordReader reader;
        const bool opened = reader.open(path);
        if (holder) {
            sqlite3_exec(holder, "rollback", nullptr, nullptr, nullptr);
            sqlite3_close(holder);
        }
        QVERIFY(!opened);
        QCOMPARE(int(reader.status()), status);
        QVERIFY(!reader.errorText().isEmpty());
        QVERIFY(!reader.isOpen());
    }

    // Rows in time order are found by id; where the clock stepped back the
    // reader still finds every row of a range, checking only new rows.
    void clockStepBack_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::newRow("all") << qint64(0) << qint64(5000);
        QTest::newRow("across the step") << qint64(1400) << qint64(1600);
        QTest::newRow("one second") << qint64(1500) << qint64(1500);
        QTest::newRow("before everything") << qint64(0) << qint64(999);
        QTest::newRow("after everything") << qint64(1995) << qint64(3000);
        QTest::newRow("end of the repeat") << qint64(1690) << qint64(1700);
        QTest::newRow("between polls") << qint64(1001) << qint64(1009);
    }
    void clockStepBack()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QTemporaryDir dir;
        const QString path = dir.filePath("step.dat");
        QVERIFY(QFile::copy(m_path, path));

        RecordReader reader;
        QVERIFY(reader.open(path));
        QVERIFY(reader.timeOrdered());
        QCOMPARE(readerIds(reader, from, to), bruteIds(path, from, to));
        int seen = 0; // a visitor that says stop ends the walk
        QVERIFY(
            !reader.forEachRowInTime(0, 5000, {}, [&](const RecordRow &) { return ++seen < 3; }));
        QCOMPARE(seen, 3);
        qint64 first = 0;
        qint64 last = 0;
        QVERIFY(reader.timeBounds(&first, &last));
        QCOMPARE(first, qint64(1000));
        QCOMPARE(last, qint64(1990));

        // The recording goes on after the clock went back, while the reader is open.
        QVERIFY(appendRecordRows(path, polls({"A", "B"}, 1500, 20, 10, [](int d, int c, qint64 t) {
                                     return double(d * 1000 + c) + double(t);
                                 })));
        QVERIFY(!reader.timeOrdered());
        const RecordReader::TimeOrderState state = reader.timeOrderState();
        QVERIFY(state.broken);
        QCOMPARE(state.orderedUpTo, qint64(200));
        QCOMPARE(readerIds(reader, from, to), bruteIds(path, from, to));
        QVERIFY(reader.timeBounds(&first, &last));
        QCOMPARE(first, qint64(1000));
        QCOMPARE(last, qint64(1990));

        // A reader that resumes from a kept state finds the same rows.
        RecordReader resumed;
        QVERIFY(resumed.open(path));
        resumed.resumeTimeOrder(state);
        QVERIFY(!resumed.timeOrdered());
        // Device B is written second in every poll: its rows have even ids.
        QVector<qint64> expected = bruteIds(path, from, to);
        expected.erase(
            std::remove_if(expected.begin(), expected.end(), [](qint64 id) { return id % 2 != 0; }),
            expected.end());
        QCOMPARE(readerIds(resumed, from, to, {"B"}), expected);
    }

    // A file that does not keep its time order (an old recorder's, read
    // only) has it found once and kept in the user's cache under its content,
    // not its path: a copy finds it and only the rows added since are read.
    void orderCachedByContent()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("grow.dat");
        QVERIFY(appendRecordRows(
            path, polls({"A", "B"}, 1000, 600, 10, [](int, int, qint64 t) { return double(t); })));
        {
            RecordReader first;
            QVERIFY(first.open(path));
            QVERIFY(first.timeOrdered());
            QVERIFY(!first.keepsTimeSteps());
        }
        const QString copy = dir.filePath("copy.dat");
        QVERIFY(QFile::copy(path, copy));
        QVERIFY(appendRecordRows(copy, {{"A", 1, 2, 6995}, {"B", 1, 2, 6980}}));
        RecordReader second;
        QVERIFY(second.open(copy));
        QVector<RecordTimeStep> steps;
        bool complete = true;
        QVERIFY(second.timeSteps(&steps, false, &complete));
        QVERIFY(!complete); // the two new rows are not known yet
        QCOMPARE(second.timeOrderState().checkedId, qint64(1200));
        QVERIFY(!second.timeOrdered());
        QCOMPARE(second.timeOrderState().orderedUpTo, qint64(1201));
        QVERIFY(second.timeSteps(&steps));
        QCOMPARE(steps.size(), 1);
        QCOMPARE(steps[0].id, qint64(1202));
        QCOMPARE(steps[0].previousTime, qint64(6995));
    }
};

QTEST_GUILESS_MAIN(tst_RecordReader)
#include "tst_recordreader.moc"
