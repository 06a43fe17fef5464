#include "record/recordorderkeeper.h"

#include "common/common.h"
#include "record/insertserialdata.h"

#include <sqlite3.h>

#include <chrono>

namespace
{

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The last id of the samples (0 for none); false when it cannot be read.
bool lastRowId(sqlite3 *db, qint64 *id)
{
    sqlite3_stmt *statement = nullptr;
    const bool ok = sqlite3_prepare_v2(db, "select max(id) from fennolink", -1, &statement,
                                       nullptr) == SQLITE_OK &&
                    sqlite3_step(statement) == SQLITE_ROW;
    *id = ok ? sqlite3_column_int64(statement, 0) : 0;
    sqlite3_finalize(statement);
    return ok;
}

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The mark saying how far the time order is known is moved at most this
// often (and at once when time went back): a writer that dies leaves the
// rows after it to be read again, a few seconds' worth.
constexpr qint64 kOrderMarkMs = 10000;
// A gap of other writers' rows read at once in a write; a larger one is
// read in the writer's idle time.
constexpr qint64 kGapRowsAtOnce = 50000;

} // namespace

void RecordOrderKeeper::start(sqlite3 *db, bool context)
{
    qint64 lastId = 0;
    lastRowId(db, &lastId);
    m_pending = context && m_order.checkedId < lastId;
    m_storedAt = steadyMs();
}

bool RecordOrderKeeper::follow(sqlite3 *db, const SerialRecord *rows, int count, qint64 firstId)
{
    if (m_pending)
        return true;
    if (firstId - 1 > m_order.checkedId) {
        // Rows of another writer since the last batch: read them now when
        // few, else in the idle time (the rows of this batch with them).
        if (firstId - 1 - m_order.checkedId > kGapRowsAtOnce) {
            m_pending = true;
            return true;
        }
        QString error;
        if (!RecordTimeOrder::derive(db, m_order, &m_newSteps, firstId - 1, 0, &error))
            return false;
    }
    RecordTimeStep step;
    for (int i = 0; i < count; ++i) {
        if (RecordTimeOrder::feed(m_order, firstId + i, qint64(rows[i].pointDate), &step))
            m_newSteps.append(step);
    }
    return true;
}

bool RecordOrderKeeper::store(sqlite3 *db, bool force)
{
    const qint64 now = steadyMs();
    if (!force && m_newSteps.isEmpty() && now - m_storedAt < kOrderMarkMs)
        return true;
    QString error;
    if (!RecordTimeOrder::storeKept(db, m_order, m_newSteps, &error))
        return false;
    m_storedAt = now;
    return true;
}

void RecordOrderKeeper::storeMark(sqlite3 *db)
{
    if (!exec(db, "BEGIN IMMEDIATE"))
        return;
    if (store(db, true) && exec(db, "COMMIT"))
        m_newSteps.clear();
    else
        exec(db, "ROLLBACK");
}

RecordOrderKeeper::Step RecordOrderKeeper::deriveStep(sqlite3 *db)
{
    if (!db || !m_pending)
        return Step::Progressed;
    QString error;
    QVector<RecordTimeStep> steps;
    RecordTimeOrderState order = m_order;
    qint64 lastId = 0;
    const bool ok =
        exec(db, "BEGIN IMMEDIATE") && lastRowId(db, &lastId) &&
        RecordTimeOrder::derive(db, order, &steps, lastId, RecordTimeOrder::kChunkRows, &error) &&
        RecordTimeOrder::storeKept(db, order, steps, &error) && exec(db, "COMMIT");
    if (!ok) {
        exec(db, "ROLLBACK");
        // A lock held by another program: tried again at the next idle time.
        const int code = sqlite3_errcode(db) & 0xff;
        return code == SQLITE_BUSY || code == SQLITE_LOCKED ? Step::Locked : Step::Failed;
    }
    m_order = order;
    m_storedAt = steadyMs();
    if (m_order.checkedId < lastId)
        return Step::Progressed;
    m_pending = false;
    qCDebug(lcRecord).noquote() << "InsertSerialData : time order known up to id" << lastId;
    if (m_notify)
        m_notify();
    return Step::Progressed;
}
