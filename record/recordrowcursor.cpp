#include "record/recordrowcursor.h"

#include "record/recordreader.h"

RecordRowCursor::RecordRowCursor(const RecordReader &reader) : m_db(reader.handle()) {}

bool RecordRowCursor::use(SqlStatement &statement, const char *sql)
{
    m_row = nullptr;
    m_failed = false;
    if (!m_db || (!statement.isValid() && !statement.prepare(m_db, sql))) {
        m_failed = true;
        return false;
    }
    statement.reset();
    m_row = statement.handle();
    return true;
}

bool RecordRowCursor::selectIds(qint64 afterId, qint64 upToId, qint64 limit)
{
    if (!use(m_byIds, "select id, serialno, channel1, channel2, pointDate from fennolink "
                      "where id > ?1 and id <= ?2 order by id limit ?3"))
        return false;
    m_byIds.bind(1, afterId);
    m_byIds.bind(2, upToId);
    m_byIds.bind(3, limit > 0 ? limit : qint64(-1));
    return true;
}

bool RecordRowCursor::selectIdsInTime(qint64 firstId, qint64 lastId, qint64 from, qint64 to)
{
    if (!use(m_byIdsInTime,
             "select id, serialno, channel1, channel2, pointDate from fennolink "
             "where id between ?1 and ?2 and pointDate between ?3 and ?4 order by id"))
        return false;
    m_byIdsInTime.bind(1, firstId);
    m_byIdsInTime.bind(2, lastId);
    m_byIdsInTime.bind(3, from);
    m_byIdsInTime.bind(4, to);
    return true;
}

QString RecordRowCursor::errorText() const
{
    return m_db ? QString::fromUtf8(sqlite3_errmsg(m_db))
                : QStringLiteral("The record database is not open.");
}
