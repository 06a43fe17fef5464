#include "viewer/summarycache.h"

#include "record/recordreader.h"
#include "recordfixture.h"
#include "testsupport.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace TestSupport;

namespace
{

const QStringList kSerials = {"S1", "S2", "S3"};

double value(int device, int channel, qint64 t)
{
    if (device == 1 && t % 977 == 0)
        return kNoReading;
    return std::sin(double(t) / 300.0 + device) * 10 + channel * 20 + (t % 613 == 0 ? 80 : 0);
}

// Sums joined from parts add up in another order: compare them to fewer digits.
QString describe(const SummaryCache &cache, SummaryCache::Level level, int sumDigits = 17)
{
    QString text;
    for (const QString &serial : kSerials) {
        for (int channel = 1; channel <= 2; ++channel) {
            cache.forEachBucket(serial, channel, level, 0, 10000000,
                                [&](qint64 start, const SummaryCache::Bucket &b) {
                                    text +=
                                        QStringLiteral("%1/%2@%3 %4 %5 %6 %7 %8 %9 %10 %11 %12\n")
                                            .arg(serial)
                                            .arg(channel)
                                            .arg(start)
                                            .arg(double(b.min))
                                            .arg(double(b.max))
                                            .arg(b.sum, 0, 'g', sumDigits)
                                            .arg(b.count)
                                            .arg(b.first)
                                            .arg(b.last)
                                            .arg(b.minAt)
                                            .arg(b.maxAt)
                                            .arg(b.flags);
                                });
        }
    }
    return text;
}

} // namespace

class tst_SummaryCache : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        TestSupport::isolateSettings();
    }

    // Built in slices while the file grows (with a clock step back), the
    // summary equals one built at once from the finished file (that its
    // figures are those of the rows is checked through the range loader).
    void incrementalEqualsFullBuild()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("grow.dat"));
        QVERIFY(appendRecordRows(path, polls(kSerials, 100000, 4000, 1, value)));

        RecordReader reader;
        QVERIFY(reader.open(path));
        SummaryCache incremental(path);
        QCOMPARE(incremental.update(reader, 7777), qint64(7777));
        QVERIFY(incremental.update(reader, 0) > 0);
        QVERIFY(appendRecordRows(path, polls(kSerials, 104000, 3000, 1, value)));
        QVERIFY(
            appendRecordRows(path, polls(kSerials, 103500, 200, 1, value))); // the clock went back
        while (incremental.update(reader, 5000) > 0) {
        }
        QVERIFY(incremental.timeOrder().broken);
        QCOMPARE(incremental.timeOrder().orderedUpTo, qint64(7000 * 3));

        SummaryCache full(path);
        QCOMPARE(full.update(reader, 0), qint64(7200 * 3));
        QCOMPARE(describe(incremental, SummaryCache::Minute), describe(full, SummaryCache::Minute));
        QCOMPARE(describe(incremental, SummaryCache::Hour), describe(full, SummaryCache::Hour));

        // Built on several threads, joined in id order, it is the same; with
        // 36 parts one join falls right where the clock went back.
        for (int threads : {2, 3, 36}) {
            SummaryCache parallel(path);
            std::atomic<qint64> progress{0};
            std::atomic<bool> cancel{false};
            QCOMPARE(parallel.build(reader.maxId(), threads, &progress, &cancel, nullptr),
                     qint64(7200 * 3));
            QCOMPARE(progress.load(), qint64(7200 * 3));
            QCOMPARE(describe(parallel, SummaryCache::Minute, 12),
                     describe(full, SummaryCache::Minute, 12));
            QCOMPARE(describe(parallel, SummaryCache::Hour, 12),
                     describe(full, SummaryCache::Hour, 12));
            QCOMPARE(parallel.lastId(), full.lastId());
            QCOMPARE(parallel.rowsSeen(), full.rowsSeen());
            QCOMPARE(parallel.timeOrder().broken, true);
            QCOMPARE(parallel.timeOrder().orderedUpTo, qint64(7000 * 3));
            QCOMPARE(parallel.timeOrder().lastTime, full.timeOrder().lastTime);
            cancel = true;
            QCOMPARE(parallel.build(reader.maxId(), threads, &progress, &cancel, nullptr),
                     qint64(-1));
        }
    }

    // The cache file comes back whole; one that no longer fits the database
    // (recorded anew at the same path) or is damaged is not used.
    void cacheFileRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("cache.dat"));
        QVERIFY(appendRecordRows(path, polls(kSerials, 200000, 1800, 1, value)));
        RecordReader reader;
        QVERIFY(reader.open(path));
        SummaryCache built(path);
        QVERIFY(built.update(reader, 0) > 0);
        QVERIFY(built.save());
        QVERIFY(QFileInfo::exists(built.cacheFilePath()));
        QVERIFY(built.cacheFilePath().startsWith(
            QStandardPaths::writableLocation(QStandardPaths::CacheLocation)));

        SummaryCache loaded(path);
        QVERIFY(loaded.load(reader));
        QCOMPARE(loaded.lastId(), built.lastId());
        QCOMPARE(describe(loaded, SummaryCache::Minute), describe(built, SummaryCache::Minute));
        // New rows after loading are added from the last id on.
        QVERIFY(appendRecordRows(path, polls(kSerials, 201800, 60, 1, value)));
        QCOMPARE(loaded.update(reader, 0), qint64(180));

        // Recorded anew: the last row the cache saw is gone or different.
        reader.close();
        QVERIFY(QFile::remove(path));
        QVERIFY(appendRecordRows(path, polls(kSerials, 500000, 10, 1, value)));
        QVERIFY(reader.open(path));
        SummaryCache stale(path);
        QVERIFY(!stale.load(reader));
        QCOMPARE(stale.lastId(), qint64(0));

        // A damaged cache file is ignored.
        QFile file(built.cacheFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100, '\x01'));
        file.close();
        SummaryCache damaged(path);
        QVERIFY(!damaged.load(reader));
    }
};

QTEST_GUILESS_MAIN(tst_SummaryCache)
#include "tst_summarycache.moc"
