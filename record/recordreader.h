#pragma once

#include "record/recordreaderorder.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// One row of the table "fennolink" as read back. A NULL channel reads as
// NoValue; a row whose two channels are NULL marks a gap (written at Stop
// and when a connection is lost).
struct RecordRow {
    qint64 id = 0;
    QByteArray serialNo;
    double channel1 = 0;
    double channel2 = 0;
    qint64 pointDate = 0; // seconds since 1970-01-01 00:00 UTC
};

// A row in the compact form a long pass hands on: the device is its place in
// the numbers the pass asked for (-1 for any other); NULL reads as NoValue.
struct RecordSample {
    qint64 pointDate = 0;
    double channel1 = 0;
    double channel2 = 0;
    int serial = -1;
};

// Reads a record database without ever writing it: the one reader shared by
// the data viewer, the daily report and the forwarder.
//
// The file is opened read-only through SQLite's C interface, so it may be
// read while the recorder writes into it (write-ahead log readers never block
// the writer, and the reader sees each committed transaction whole).
//
// Rows are written in time order, except where the clock went back. The
// places where it did (time steps) are kept in the file by the recorder as it
// writes (see RecordTimeOrder); for files that do not keep them they are
// derived once and kept in the user's cache. Between two steps the rows are
// in time order, so a time range is found by a binary search over `id` in
// each stretch (a few B-tree lookups, whatever the size of the file).
class RecordReader
{
public:
    enum class Status {
        Ok,
        NoFile,        // nothing at the path
        NotRecordFile, // a SQLite file without the table "fennolink", or no SQLite file at all
        Locked,        // another program holds the file exclusively
        Damaged,       // the file is corrupt
        Error,         // anything else (see errorText())
    };

    RecordReader() = default;
    ~RecordReader();
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    // Opens `path` read-only; false with status() and errorText() set on failure.
    bool open(const QString &path);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    Status status() const { return m_status; }
    // A short sentence for the user, in English.
    QString errorText() const { return m_errorText; }
    QString path() const { return m_path; }

    // Smallest and largest id; 0 on an empty table.
    qint64 minId();
    qint64 maxId();

    // The newest row's id and pointDate (id 0 on an empty table); false on
    // an error (errorText()).
    bool newestRow(qint64 *id, qint64 *time);
    // pointDate of the row `id`; false when there is no such row.
    bool rowTime(qint64 id, qint64 *time);

    // First and last pointDate of the recording (the first and last row by
    // id when the rows are in time order, else min/max). False on an empty
    // table or an error.
    bool timeBounds(qint64 *first, qint64 *last);

    // Whether pointDate never decreases with id. Taken from the steps the
    // file keeps; rows past them (an old recorder's, or the last seconds of
    // a live one) are read once and the outcome kept in the user's cache.
    // setTimeOrdered() forces an answer (a caller that knows better);
    // resumeTimeOrder() drops it again and takes what a caller checked
    // itself where the file and the cache know less.
    bool timeOrdered();
    void setTimeOrdered(bool ordered);

    // Every place where time goes back, by id; false when the rows could
    // not be read. With deriveMissing false nothing is read beyond the steps
    // the file or the cache keep (the answer may then be incomplete:
    // *complete tells).
    bool timeSteps(QVector<RecordTimeStep> *steps, bool deriveMissing = true,
                   bool *complete = nullptr);
    // Whether the file itself keeps its time steps (written by a recorder
    // that does).
    bool keepsTimeSteps();

    // How far the time order is known (kept for callers that used to keep it
    // themselves; the reader now finds it in the file or the cache).
    using TimeOrderState = RecordReaderOrder::State;
    TimeOrderState timeOrderState() const;
    void resumeTimeOrder(const TimeOrderState &state);

    // The ids [*firstId, *lastId] of the rows with from <= pointDate <= to,
    // found by binary search over id. False when no row lies in the range.
    // Only exact when the rows are in time order.
    bool idRangeForTime(qint64 from, qint64 to, qint64 *firstId, qint64 *lastId);

    // Calls `visit` for every row with from <= pointDate <= to, oldest first
    // (in id order), restricted to `serials` unless it is empty. Returns false
    // on an error (errorText()) or when `visit` returned false (cancelled).
    // Uses idRangeForTime() when the rows are in time order; where the clock
    // went back, a search over the ordered rows before the step and a scan of
    // the rows after it.
    bool forEachRowInTime(qint64 from, qint64 to, const QStringList &serials,
                          const std::function<bool(const RecordRow &)> &visit);

    // The rows of forEachRowInTime() for every device, handed to `visit` in
    // blocks of up to `blockSize` (which it may empty or keep), each row
    // naming its device by its place in `serials`: no allocation per row.
    bool forEachSampleInTime(qint64 from, qint64 to, const QVector<QByteArray> &serials,
                             const std::function<bool(QVector<RecordSample> &)> &visit,
                             int blockSize = 2048);

    // Like forEachSampleInTime() for the rows with firstId <= id <= lastId.
    bool forEachSampleInIds(qint64 firstId, qint64 lastId, const QVector<QByteArray> &serials,
                            const std::function<bool(QVector<RecordSample> &)> &visit,
                            int blockSize = 2048);

    // Calls `visit` for up to `limit` rows (all when limit <= 0) with
    // id > afterId, in id order. Returns the number of rows visited, or -1 on
    // an error.
    qint64 forEachRowAfterId(qint64 afterId, qint64 limit,
                             const std::function<bool(const RecordRow &)> &visit);

    // Like idRangeForTime(), searching only the rows with id <= maxSearchId.
    bool idRangeForTimeUpTo(qint64 from, qint64 to, qint64 maxSearchId, qint64 *firstId,
                            qint64 *lastId);
    // Like idRangeForTime(), searching only the rows with lowId <= id <= highId.
    bool idRangeForTimeIn(qint64 from, qint64 to, qint64 lowId, qint64 highId, qint64 *firstId,
                          qint64 *lastId);

    // Number of rows with id in [firstId, lastId].
    qint64 countIds(qint64 firstId, qint64 lastId);

    // The device numbers among the first and the last `rows` rows (by id), in
    // the order first seen: every device a recording polls shows up in its
    // first and last cycles, without reading the whole table.
    QStringList serialNumbersAtEnds(int rows);

    // The open connection, for readers that need a query of their own.
    sqlite3 *handle() const { return m_db; }

private:
    bool fail(int code, const QString &what);
    qint64 singleValue(const char *sql, qint64 bind = 0, bool hasBind = false, bool *ok = nullptr);
    // pointDate of the first row with id >= `id`; false past the end.
    bool timeAtOrAfter(qint64 id, qint64 *rowId, qint64 *time);
    bool scan(sqlite3_stmt *statement, const QStringList &serials,
              const std::function<bool(const RecordRow &)> &visit, qint64 *visited);
    bool scanSamples(sqlite3_stmt *statement, const QVector<QByteArray> &serials,
                     const std::function<bool(QVector<RecordSample> &)> &visit, int blockSize);
    // Runs `scanOne` on a statement over the rows with from <= pointDate <= to
    // (once per stretch of rows in time order), in id order.
    bool scanInTime(qint64 from, qint64 to, const std::function<bool(sqlite3_stmt *)> &scanOne);

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_probe = nullptr;
    QString m_path;
    Status m_status = Status::Ok;
    QString m_errorText;
    bool ensureOrder(bool deriveMissing);

    RecordReaderOrder m_order;
};
