#include "record/recordreaderorder.h"

#include <limits>

void RecordReaderOrder::clear()
{
    m_timeOrdered = -1;
    m_orderLoaded = false;
    m_keepsSteps = false;
    m_known = RecordTimeOrderState();
    m_steps.clear();
}

RecordReaderOrder::Outcome RecordReaderOrder::ensure(sqlite3 *db, qint64 lastId, bool deriveMissing,
                                                     QString *error)
{
    if (!m_orderLoaded) {
        m_keepsSteps = RecordTimeOrder::loadKept(db, &m_known, &m_steps);
        if (!m_keepsSteps) {
            m_known = RecordTimeOrderState();
            m_steps.clear();
        }
        m_orderLoaded = true;
    }
    if (m_known.checkedId >= lastId)
        return Outcome::Known;
    // Past what the file keeps: what an earlier reader of the same rows
    // found, then the rows themselves, once.
    RecordTimeOrder::loadCached(db, &m_known, &m_steps);
    if (m_known.checkedId >= lastId || !deriveMissing)
        return m_known.checkedId >= lastId ? Outcome::Known : Outcome::Partial;
    const qint64 before = m_known.checkedId;
    RecordTimeOrderState known = m_known;
    QVector<RecordTimeStep> steps = m_steps;
    if (!RecordTimeOrder::derive(db, known, &steps, lastId, 0, error))
        return Outcome::Failed;
    m_known = known;
    m_steps = std::move(steps);
    if (m_known.checkedId - before >= 1000)
        RecordTimeOrder::storeCached(db, m_known, m_steps);
    return Outcome::Known;
}

QVector<std::pair<qint64, qint64>> RecordReaderOrder::stretches() const
{
    // Stretches of rows in time order, each searched by id.
    QVector<std::pair<qint64, qint64>> stretches;
    const qint64 highest = std::numeric_limits<qint64>::max();
    if (m_timeOrdered == 1) {
        stretches.append({0, highest});
    } else if (m_timeOrdered == 0) {
        stretches.clear(); // said to be out of order: every row is looked at
    } else {
        qint64 begin = 0;
        for (const RecordTimeStep &step : qAsConst(m_steps)) {
            stretches.append({begin, step.id - 1});
            begin = step.id;
        }
        stretches.append({begin, highest});
    }
    return stretches;
}

RecordReaderOrder::State RecordReaderOrder::state() const
{
    State state;
    state.checkedId = m_known.checkedId;
    state.lastTime = m_known.lastTime;
    state.broken = !m_steps.isEmpty();
    state.orderedUpTo = state.broken ? m_steps.first().id - 1 : m_known.checkedId;
    return state;
}

void RecordReaderOrder::resume(const State &state)
{
    // What the caller checked itself counts where the file and the cache
    // know less: rows in order up to its checked id; where it saw time go
    // back it does not know every step, so the rows are looked at one by one.
    if (m_known.checkedId >= state.checkedId || !m_steps.isEmpty())
        return;
    if (state.broken) {
        m_timeOrdered = 0;
        return;
    }
    m_known.checkedId = state.checkedId;
    m_known.lastTime = state.lastTime;
    m_known.newest = state.lastTime;
}
