#pragma once

#include "record/recordtimeorder.h"

#include <QVector>

#include <atomic>
#include <functional>

struct sqlite3;
struct SerialRecord;

// The writer's side of a file's time order: where time goes back among the
// rows it inserts, found as they go in and stored in the same transaction,
// and the rows written before the file kept its order, read a step at a time
// in the writer's idle time. Used on the writer's connection only, except
// isPending(), which any thread may ask.
class RecordOrderKeeper
{
public:
    using Notify = std::function<void()>;

    // What a batch that is rolled back goes back to.
    struct Mark {
        RecordTimeOrderState order;
        bool pending = false;
    };

    // The outcome of one step of reading old rows.
    enum class Step {
        Progressed, // read (or nothing to read)
        Locked,     // another program held a lock: tried again later
        Failed,     // the context tables cannot be used
    };

    // Forgets the order of the file before (a file is being opened).
    void clear()
    {
        m_order = RecordTimeOrderState();
        m_newSteps.clear();
    }
    // Takes how far the file knows its order; false when it keeps nothing.
    bool loadKept(sqlite3 *db) { return RecordTimeOrder::loadKept(db, &m_order, nullptr); }
    // After opening: rows beyond the order known are still to be read when
    // the file keeps its context.
    void start(sqlite3 *db, bool context);
    // Nothing more is read for the order (the file keeps its samples only).
    void stop() { m_pending = false; }

    // True while rows written before are still to be read for the order.
    bool isPending() const { return m_pending.load(); }
    // Called on the writer thread when that reading is done.
    void setNotify(Notify notify) { m_notify = std::move(notify); }

    // Time order of `count` rows just inserted, ids from firstId on; false
    // when the rows of another writer before them could not be read.
    bool follow(sqlite3 *db, const SerialRecord *rows, int count, qint64 firstId);
    // Stores the steps found and moves the mark (at most every few seconds
    // unless `force` or steps were found), in the caller's transaction.
    bool store(sqlite3 *db, bool force);
    Mark mark() const { return {m_order, m_pending.load()}; }
    // The batch was rolled back: its steps go, the state before it returns.
    void rollBack(const Mark &mark)
    {
        m_order = mark.order;
        m_pending = mark.pending;
        m_newSteps.clear();
    }
    // The batch went in with its steps.
    void committed() { m_newSteps.clear(); }
    // Stores the mark as far as known in a transaction of its own (the
    // writer stops).
    void storeMark(sqlite3 *db);

    // One step of reading old rows for their time order, in a transaction
    // of its own.
    Step deriveStep(sqlite3 *db);

private:
    // Known up to m_order.checkedId; steps found in the current batch wait
    // in m_newSteps until its commit.
    RecordTimeOrderState m_order;
    QVector<RecordTimeStep> m_newSteps;
    qint64 m_storedAt = 0; // steady ms of the last mark written
    std::atomic<bool> m_pending{false};
    Notify m_notify;
};
