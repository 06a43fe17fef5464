#pragma once

#include "record/recordcontext.h"

#include <QByteArray>
#include <QString>
#include <QVector>

struct sqlite3;

// How far the time order of a file's rows is known: every place where time
// goes back among the rows with id <= checkedId is known.
struct RecordTimeOrderState {
    qint64 checkedId = 0; // 0: nothing known yet
    qint64 lastTime = 0;  // time of the row at checkedId
    qint64 newest = 0;    // newest time of the rows up to checkedId
};

// Where time goes back in a record file: a step is a row older than the row
// before it (by id), so that the rows between two steps are in time order
// and a time is found among them by a binary search over id.
//
// The writer keeps the steps in the file as it writes (qk_time_steps, with
// qk_time_order saying how far they are known) and derives them once for
// rows written before (old recorders, other programs). A file that does not
// keep them (read-only, or never opened by a recorder that does) has them
// derived once by its reader and kept in the user's cache, under a key made
// from the file's content, not its path (a copy finds the same entry);
// later opens go on from the last id checked.
class RecordTimeOrder
{
public:
    // Rows read per step of a derivation.
    static constexpr qint64 kChunkRows = 200000;

    // Takes the next row (ids ascending, above state.checkedId); true with
    // *step filled when the row is older than the row before it.
    static bool feed(RecordTimeOrderState &state, qint64 id, qint64 time, RecordTimeStep *step)
    {
        const bool back = state.checkedId > 0 && time < state.lastTime;
        if (back) {
            step->id = id;
            step->time = time;
            step->previousTime = state.newest;
        }
        if (state.checkedId == 0 || time > state.newest)
            state.newest = time;
        state.checkedId = id;
        state.lastTime = time;
        return back;
    }

    // Reads the rows with state.checkedId < id <= upToId (at most maxRows
    // when positive) and appends their steps. False on a read error.
    static bool derive(sqlite3 *db, RecordTimeOrderState &state, QVector<RecordTimeStep> *steps,
                       qint64 upToId, qint64 maxRows, QString *error);

    // What the file keeps; false when it keeps nothing (old or foreign file,
    // or damaged tables). `steps` may be null.
    static bool loadKept(sqlite3 *db, RecordTimeOrderState *state, QVector<RecordTimeStep> *steps);
    // Adds steps and moves the file's mark, inside the caller's transaction.
    static bool storeKept(sqlite3 *db, const RecordTimeOrderState &state,
                          const QVector<RecordTimeStep> &steps, QString *error);

    // The user's cache for files that keep nothing (or less than the cache).
    // load: true when an entry matches this file's content and goes further
    // than *state (then *state and *steps are replaced).
    static bool loadCached(sqlite3 *db, RecordTimeOrderState *state,
                           QVector<RecordTimeStep> *steps);
    static void storeCached(sqlite3 *db, const RecordTimeOrderState &state,
                            const QVector<RecordTimeStep> &steps);
    // The cache file for the file open on `db`; empty for an empty table.
    static QString cacheFile(sqlite3 *db);

    // First and last time of the recording from its first and last rows and
    // its steps (a step back may go before the first row; the newest time
    // before a step may lie after the last row).
    static void bounds(qint64 firstRowTime, qint64 lastRowTime,
                       const QVector<RecordTimeStep> &steps, qint64 *first, qint64 *last);
};
