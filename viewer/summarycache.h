#pragma once

#include "record/recordreader.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

// A summary of a record database per device channel, per minute and per
// hour: extremes with their times, sum, count, first and last sample time.
// Wide time ranges are drawn and measured from it instead of the rows.
//
// It is built once from all rows and then only from the rows added since
// (by id), and kept in a cache file of the viewer's own in the user's cache
// folder, named after the database's path. The file is only ever a copy:
// deleting it is always safe, and one that no longer fits the database (a
// file recorded anew) is rebuilt.
class SummaryCache
{
public:
    enum Level { Minute = 60, Hour = 3600 };

    struct Bucket {
        float min = 0;
        float max = 0;
        double sum = 0;
        quint32 count = 0;
        // Seconds from the bucket's start.
        quint16 first = 0;
        quint16 last = 0;
        quint16 minAt = 0;
        quint16 maxAt = 0;
        quint8 flags = 0; // kHasGap: a row without a value lies in it
    };
    static constexpr quint8 kHasGap = 1;

    explicit SummaryCache(const QString &databasePath);
    ~SummaryCache();

    // Where the cache of this database lives (in QStandardPaths::CacheLocation).
    static QString cacheFileFor(const QString &databasePath);
    QString cacheFilePath() const { return m_cacheFile; }

    // Reads the cache file and checks that it still fits the open database;
    // false (and an empty summary) when there is none or it does not fit.
    bool load(RecordReader &reader);
    // Writes the cache file whole (never half: a temporary file is renamed).
    bool save() const;
    void clear();

    // Adds up to maxRows rows after lastId() (all when maxRows <= 0). Returns
    // the number of rows added, or -1 on a read error.
    qint64 update(RecordReader &reader, qint64 maxRows);
    // Builds the summary anew from the rows with id <= upToId, reading id
    // ranges on several threads, each through a connection of its own.
    // Adds the rows read to *progress as it goes and stops early once
    // *cancel is set. Returns the rows read, or -1 (and *error) on failure
    // or when cancelled.
    qint64 build(qint64 upToId, int threads, std::atomic<qint64> *progress,
                 const std::atomic<bool> *cancel, QString *error);
    qint64 lastId() const { return m_lastId; }
    qint64 rowsSeen() const { return m_rows; }
    // The time order of the rows read so far, to hand to the reader.
    RecordReader::TimeOrderState timeOrder() const { return m_order; }

    // Calls visit(bucketStart, bucket) for the series' non-empty buckets of
    // the level whose start lies in [from, to], in time order.
    void forEachBucket(const QString &serial, int channel, Level level, qint64 from, qint64 to,
                       const std::function<void(qint64, const Bucket &)> &visit) const;

    // The first and last sample time of the rows read so far, whatever their
    // order; false when there are none.
    bool timeBounds(qint64 *first, qint64 *last) const;
    // The device numbers seen in the rows read so far, in the order first seen.
    QStringList serials() const;

    // Memory held by the summary, in bytes.
    qint64 memoryBytes() const;

private:
    struct DayBlock {
        Bucket minutes[1440];
        Bucket hours[24];
    };
    // Blocks read from the cache file stay in its (private, copy-on-write)
    // mapping: only the pages a picture touches are ever read in.
    struct BlockDeleter {
        bool owned = true;
        void operator()(DayBlock *block) const
        {
            if (owned)
                delete block;
        }
    };
    using BlockPtr = std::unique_ptr<DayBlock, BlockDeleter>;
    static BlockPtr newBlock() { return BlockPtr(new DayBlock()); }
    struct Series {
        QByteArray serial;
        int channel = 1;
        std::map<qint64, BlockPtr> days;
        qint64 cachedDay = 0;
        DayBlock *cachedBlock = nullptr;
    };
    // Index of the device's channel 1 series; channel 2 follows it.
    int seriesIndex(const char *serial, int length);
    DayBlock *blockFor(Series &series, qint64 day);
    // Hours are made from the minutes of their day, once a day is left.
    static void finishHours(DayBlock &block);
    void finishAllHours();
    void addValue(Series &series, qint64 time, double value, bool isNull);
    qint64 scan(RecordReader &reader, qint64 afterId, qint64 upToId, qint64 maxRows,
                std::atomic<qint64> *progress, const std::atomic<bool> *cancel);
    // Joins a summary of the rows that follow this one's (by id); empties it.
    void append(SummaryCache &later);
    static void joinBucket(Bucket &into, const Bucket &later);
    const Series *findSeries(const QString &serial, int channel) const;

    QString m_databasePath;
    QString m_cacheFile;
    // The mapped cache file; declared before the series so that it outlives them.
    std::unique_ptr<QFile> m_mapFile;
    uchar *m_map = nullptr;
    std::vector<std::unique_ptr<Series>> m_series;
    int m_hint = 0;
    qint64 m_lastId = 0;
    qint64 m_lastTime = 0;
    QByteArray m_lastSerial;
    qint64 m_rows = 0;
    qint64 m_firstTime = 0; // of the first row read
    RecordReader::TimeOrderState m_order;
};
