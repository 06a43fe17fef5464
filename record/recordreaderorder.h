#pragma once

#include "record/recordtimeorder.h"

#include <QString>
#include <QVector>

#include <utility>

struct sqlite3;

// The reader's side of a file's time order: the steps the file keeps, what
// an earlier reader of the same rows found (kept in the user's cache), the
// rows past both, read once, and an answer a caller forced. Holds no
// connection: the reader hands it its own.
class RecordReaderOrder
{
public:
    // How far the time order is known (kept for callers that used to keep it
    // themselves; the reader now finds it in the file or the cache).
    struct State {
        qint64 checkedId = 0;   // rows with id <= checkedId were checked
        qint64 lastTime = 0;    // pointDate of the row at checkedId (when checkedId > 0)
        qint64 orderedUpTo = 0; // rows with id <= orderedUpTo are in time order
        bool broken = false;    // a row after orderedUpTo went back in time
    };

    // What ensure() found.
    enum class Outcome {
        Known,   // every step up to the last row is known
        Partial, // rows past what the file and the cache keep were not read
        Failed,  // the rows could not be read (*error)
    };

    // Forgets what was known of the file before (a file is being opened).
    void clear();
    // Makes the steps known up to `lastId`, the last row of the table: from
    // the file, the cache, and with deriveMissing from the rows themselves.
    Outcome ensure(sqlite3 *db, qint64 lastId, bool deriveMissing, QString *error);

    // Whether what the file keeps was read since clear().
    bool isLoaded() const { return m_orderLoaded; }
    // Whether the file itself keeps its steps.
    bool keepsSteps() const { return m_keepsSteps; }
    const QVector<RecordTimeStep> &steps() const { return m_steps; }

    // -1 from the steps, 0 no, 1 yes (set by the caller).
    int forced() const { return m_timeOrdered; }
    void force(int ordered) { m_timeOrdered = ordered; }

    // Stretches [first id, last id] of rows in time order, each searched by
    // id; none when the rows are said to be out of order. Between the steps
    // as far as known (the reader makes them known first).
    QVector<std::pair<qint64, qint64>> stretches() const;

    State state() const;
    // Takes what a caller checked itself (after ensure() without deriving).
    void resume(const State &state);

private:
    int m_timeOrdered = -1; // -1 from the steps, 0 no, 1 yes (set by the caller)
    bool m_orderLoaded = false;
    bool m_keepsSteps = false;
    RecordTimeOrderState m_known;
    QVector<RecordTimeStep> m_steps;
};
