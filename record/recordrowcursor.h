#pragma once

#include "record/sqlstatement.h"

#include <QString>

#include <sqlite3.h>

class RecordReader;

// Walks over rows of the table "fennolink" in id order, one row at a time,
// for long passes that look at each row where it lies: nothing is copied,
// allocated or called back per row. The statements are prepared the first
// time they are needed and kept, so a pass in slices (a select per slice)
// prepares them once. The row accessors are only valid after next()
// returned true, and until it is called again.
class RecordRowCursor
{
public:
    explicit RecordRowCursor(const RecordReader &reader);
    RecordRowCursor(const RecordRowCursor &) = delete;
    RecordRowCursor &operator=(const RecordRowCursor &) = delete;

    // The rows with afterId < id <= upToId, at most `limit` of them (all
    // when limit <= 0). False (errorText()) when the query cannot be made.
    bool selectIds(qint64 afterId, qint64 upToId, qint64 limit = 0);
    // The rows with firstId <= id <= lastId and from <= pointDate <= to.
    bool selectIdsInTime(qint64 firstId, qint64 lastId, qint64 from, qint64 to);

    // Moves to the next row; false past the last one or on a read error
    // (failed(), errorText()), which a select that could not be made is too.
    bool next()
    {
        const int rc = sqlite3_step(m_row);
        m_failed = rc != SQLITE_ROW && rc != SQLITE_DONE;
        return rc == SQLITE_ROW;
    }
    bool failed() const { return m_failed; }
    QString errorText() const;

    qint64 id() const { return sqlite3_column_int64(m_row, 0); }
    // The device number: its bytes (nullptr for NULL) and their count.
    const char *serial() const
    {
        return reinterpret_cast<const char *>(sqlite3_column_text(m_row, 1));
    }
    int serialLength() const { return sqlite3_column_bytes(m_row, 1); }
    bool serialIsNull() const { return sqlite3_column_type(m_row, 1) == SQLITE_NULL; }
    // Channel 1 or 2; NULL where the row has no value.
    bool channelIsNull(int channel) const
    {
        return sqlite3_column_type(m_row, channel + 1) == SQLITE_NULL;
    }
    double channel(int channel) const { return sqlite3_column_double(m_row, channel + 1); }
    qint64 pointDate() const { return sqlite3_column_int64(m_row, 4); }

private:
    bool use(SqlStatement &statement, const char *sql);

    sqlite3 *m_db;
    SqlStatement m_byIds;
    SqlStatement m_byIdsInTime;
    sqlite3_stmt *m_row = nullptr;
    bool m_failed = false;
};
