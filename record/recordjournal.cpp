#include "record/recordjournal.h"

#include "common/common.h"
#include "record/insertserialdata.h"
#include "record/rowdigest.h"
#include "record/sha256.h"
#include "record/sqlstatement.h"

#include <QList>

#include <sqlite3.h>

#include <cstring>
#include <vector>

namespace
{

qint64 hourOf(qint64 time)
{
    return time >= 0 ? time / 3600 : (time - 3599) / 3600;
}

} // namespace

bool RecordJournal::createTables(sqlite3 *db, QString *error)
{
    // Tables dropped by hand come back empty, so that alarms are kept again;
    // the check still finds the rows the journal names and the file lacks.
    if (!SqlStatement::exec(db, kTablesSql, error))
        return false;
    SqlStatement any(db, "select 1 from qk_journal limit 1");
    const int rc = any.step();
    any.finish();
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE) {
        if (error)
            *error = any.errorText();
        return false;
    }
    // The samples already in the file were written before the journal: it
    // covers the rows after them.
    SqlStatement last(db, "select coalesce(max(id), 0) from fennolink");
    const qint64 lastId = last.step() == SQLITE_ROW ? last.int64(0) : 0;
    last.finish();
    const QByteArray content = "samples after id " + QByteArray::number(lastId);
    SqlStatement insert(db, "insert into qk_journal (seq, tbl, row_id, content, hash) values "
                            "(1, ?1, ?2, ?3, ?4)");
    insert.bind(1, QByteArray(kStartEntry));
    insert.bind(2, lastId);
    insert.bind(3, content);
    insert.bind(4, chainHash(QByteArray(), 1, kStartEntry, lastId, content));
    return insert.run(error);
}

QByteArray RecordJournal::rowContent(sqlite3_stmt *statement)
{
    QByteArray out;
    const int columns = sqlite3_column_count(statement);
    for (int i = 0; i < columns; ++i) {
        out += sqlite3_column_name(statement, i);
        out += '=';
        switch (sqlite3_column_type(statement, i)) {
        case SQLITE_NULL: out += 'n'; break;
        case SQLITE_INTEGER:
            out += 'i' + QByteArray::number(sqlite3_column_int64(statement, i));
            break;
        case SQLITE_FLOAT:
            out += 'f' + QByteArray::number(sqlite3_column_double(statement, i), 'g', 17);
            break;
        case SQLITE_TEXT: {
            const char *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
            const int size = sqlite3_column_bytes(statement, i);
            out += 't' + QByteArray::number(size) + ':';
            out.append(text, size);
            break;
        }
        default: {
            const char *blob = static_cast<const char *>(sqlite3_column_blob(statement, i));
            const int size = sqlite3_column_bytes(statement, i);
            out += 'b' + QByteArray(blob, size).toHex();
            break;
        }
        }
        out += ';';
    }
    return out;
}

QByteArray RecordJournal::chainHash(const QByteArray &previous, qint64 seq, const QByteArray &table,
                                    qint64 rowId, const QByteArray &content)
{
    Sha256 hash;
    hash.addData(previous.isEmpty() ? QByteArray(64, '0') : previous);
    hash.addData("\n" + QByteArray::number(seq) + "\n" + table + "\n" + QByteArray::number(rowId) +
                 "\n");
    hash.addData(content);
    return hash.result().toHex();
}

// Adds one link to the chain: the next sequence number, hashed over the
// newest link before it.
bool RecordJournal::appendLink(sqlite3 *db, const char *table, qint64 rowId,
                               const QByteArray &content, QString *error)
{
    SqlStatement last(db, "select seq, hash from qk_journal order by seq desc limit 1");
    qint64 seq = 1;
    QByteArray previous;
    if (last.step() == SQLITE_ROW) {
        seq = last.int64(0) + 1;
        previous = last.bytes(1);
    }
    last.finish();
    SqlStatement insert(db, "insert into qk_journal (seq, tbl, row_id, content, hash) values "
                            "(?1, ?2, ?3, ?4, ?5)");
    insert.bind(1, seq);
    insert.bind(2, QByteArray(table));
    insert.bind(3, rowId);
    insert.bind(4, content);
    insert.bind(5, chainHash(previous, seq, table, rowId, content));
    return insert.run(error);
}

bool RecordJournal::appendRow(sqlite3 *db, const char *table, qint64 rowId, QString *error)
{
    const QByteArray select = QByteArray("select * from \"") + table + "\" where rowid = ?1";
    SqlStatement row(db, select.constData());
    row.bind(1, rowId);
    if (row.step() != SQLITE_ROW) {
        if (error)
            *error = QStringLiteral("%1 row %2 not found: %3")
                         .arg(QString::fromUtf8(table))
                         .arg(rowId)
                         .arg(row.errorText());
        return false;
    }
    const QByteArray content = rowContent(row.handle());
    row.finish();

    return appendLink(db, table, rowId, content, error);
}

bool RecordJournal::hourDigest(sqlite3 *db, qint64 firstId, qint64 lastId, qint64 *rows,
                               QByteArray *digest, QString *error)
{
    SqlStatement select(db, "select id, serialno, channel1, channel2, pointDate from fennolink "
                            "where id between ?1 and ?2 order by id");
    select.bind(1, firstId);
    select.bind(2, lastId);
    RowDigest hash;
    int rc;
    sqlite3_stmt *statement = select.handle();
    while ((rc = select.step()) == SQLITE_ROW) {
        // Each column with its type: a value stored as an integer and one
        // stored as a real differ, as do NULL and an empty text.
        for (int i = 0; i < 5; ++i) {
            const int type = sqlite3_column_type(statement, i);
            if (type == SQLITE_INTEGER)
                hash.addInteger(sqlite3_column_int64(statement, i));
            else if (type == SQLITE_FLOAT)
                hash.addStoredReal(sqlite3_column_double(statement, i));
            else if (type == SQLITE_NULL)
                hash.addNull();
            else
                hash.addBytes(char(type),
                              static_cast<const char *>(sqlite3_column_blob(statement, i)),
                              sqlite3_column_bytes(statement, i));
        }
        hash.endRow();
    }
    if (rc != SQLITE_DONE) {
        if (error)
            *error = select.errorText();
        return false;
    }
    *rows = hash.rows();
    *digest = hash.hexResult();
    return true;
}

void RecordJournal::follow(qint64 id, const SerialRecord &row, const QByteArray &serial)
{
    RowDigest &hash = *m_running;
    hash.addInteger(id);
    hash.addBytes(SQLITE_TEXT, serial.constData(), serial.size());
    for (double value : {row.channel1, row.channel2}) {
        if (value == NoValue)
            hash.addNull();
        else
            hash.addReal(value);
    }
    hash.addInteger(qint64(row.pointDate));
    hash.endRow();
    m_runningNext = id + 1;
}

QByteArray RecordJournal::hourContent(qint64 firstId, qint64 lastId, qint64 rows,
                                      const QByteArray &digest)
{
    return "ids " + QByteArray::number(firstId) + '-' + QByteArray::number(lastId) + " rows " +
           QByteArray::number(rows) + " sha256 " + digest;
}

bool RecordJournal::parseHour(const QByteArray &content, qint64 *firstId, qint64 *lastId,
                              qint64 *rows, QByteArray *digest)
{
    const QList<QByteArray> parts = content.split(' ');
    if (parts.size() != 6 || parts[0] != "ids" || parts[2] != "rows" || parts[4] != "sha256")
        return false;
    const QList<QByteArray> ids = parts[1].split('-');
    bool ok1 = false, ok2 = false, ok3 = false;
    if (ids.size() == 2) {
        *firstId = ids[0].toLongLong(&ok1);
        *lastId = ids[1].toLongLong(&ok2);
    }
    *rows = parts[3].toLongLong(&ok3);
    *digest = parts[5];
    return ok1 && ok2 && ok3;
}

void RecordJournal::attach(sqlite3 *db)
{
    QString error;
    bool ok = SqlStatement::exec(db, "BEGIN IMMEDIATE", &error);
    ok = ok && createTables(db, &error) && closeStale(db, &error);
    if (ok) {
        ok = SqlStatement::exec(db, "COMMIT", &error);
    } else {
        qCWarning(lcRecord).noquote()
            << "RecordJournal : the journal tables cannot be prepared:" << error;
        SqlStatement::exec(db, "ROLLBACK", nullptr);
    }
    load(db);
}

void RecordJournal::load(sqlite3 *db)
{
    m_usable = false;
    m_segmentHour = -1;
    m_running.reset();
    SqlStatement marker(db, "select tbl, row_id, content from qk_journal where tbl in "
                            "('#start', '#hour') order by seq desc limit 1");
    if (marker.step() != SQLITE_ROW) {
        if (!m_warned)
            qCWarning(lcRecord).noquote() << "RecordJournal::load : the journal cannot be read; "
                                             "samples are written without it:"
                                          << marker.errorText();
        m_warned = true;
        return;
    }
    if (marker.bytes(0) == kStartEntry) {
        m_segmentFirst = marker.int64(1) + 1;
    } else {
        qint64 first = 0, last = 0, rows = 0;
        QByteArray digest;
        if (!parseHour(marker.bytes(2), &first, &last, &rows, &digest)) {
            qCWarning(lcRecord).noquote() << "RecordJournal::load : the last hour seal is damaged";
            return;
        }
        m_segmentFirst = last + 1;
    }
    marker.finish();
    m_warned = false;
    SqlStatement next(db, "select pointDate from fennolink where id >= ?1 order by id limit 1");
    next.bind(1, m_segmentFirst);
    if (next.step() == SQLITE_ROW)
        m_segmentHour = hourOf(next.int64(0));
    next.finish();
    // Rows already unsealed were not seen here: their hour is read back.
    if (m_segmentHour < 0)
        restartRunning(m_segmentFirst);
    m_usable = true;
}

bool RecordJournal::closeStale(sqlite3 *db, QString *error)
{
    SqlStatement open(db, "select id from qk_alarm_events where end_time is null");
    QList<qint64> ids;
    while (open.step() == SQLITE_ROW)
        ids << open.int64(0);
    open.finish();
    if (ids.isEmpty())
        return true;
    // Nobody saw these events end: they count as ended with the last
    // sample the file holds.
    for (qint64 id : qAsConst(ids)) {
        SqlStatement close(db,
                           "update qk_alarm_events set end_time = max(start_time, coalesce((select "
                           "pointDate from fennolink order by id desc limit 1), start_time)) "
                           "where id = ?1");
        close.bind(1, id);
        if (!close.run(error) || !appendRow(db, "qk_alarm_events", id, error))
            return false;
    }
    qCInfo(lcRecord).noquote() << "RecordJournal : closed" << ids.size()
                               << "alarm events left open by an earlier run";
    return true;
}

bool RecordJournal::seal(sqlite3 *db, qint64 lastId, QString *error)
{
    if (lastId < m_segmentFirst)
        return true;
    qint64 rows = 0;
    QByteArray digest;
    if (m_running && m_runningNext == lastId + 1) {
        rows = m_running->rows();
        digest = m_running->hexResult();
        m_running.reset();
    } else if (!hourDigest(db, m_segmentFirst, lastId, &rows, &digest, error)) {
        return false;
    }
    const QByteArray content = hourContent(m_segmentFirst, lastId, rows, digest);
    // The hour's rows are the row: its content is the seal itself.
    if (!appendLink(db, kHourEntry, m_segmentHour * 3600, content, error))
        return false;
    m_segmentFirst = lastId + 1;
    return true;
}

bool RecordJournal::applyOp(sqlite3 *db, const RecordContextOp &op, QString *error)
{
    using Kind = RecordContextOp::Kind;
    const char *table = "qk_alarm_events";
    SqlStatement statement;
    switch (op.kind) {
    case Kind::EventOpen:
        statement.prepare(db,
                          "insert or ignore into qk_alarm_events (token, serialno, channel, high, "
                          "limit_value, start_time, worst) values (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
        statement.bind(2, op.serialNo.toUtf8());
        statement.bind(3, qint64(op.channel));
        statement.bind(4, qint64(op.high ? 1 : 0));
        statement.bind(5, op.limit);
        statement.bind(6, op.time);
        statement.bind(7, op.worst);
        break;
    case Kind::EventUpdate:
        statement.prepare(db, "update qk_alarm_events set worst = ?7 where token = ?1");
        statement.bind(7, op.worst);
        break;
    case Kind::EventClose:
        statement.prepare(db,
                          "update qk_alarm_events set worst = ?7, end_time = ?6 where token = ?1");
        statement.bind(6, op.time);
        statement.bind(7, op.worst);
        break;
    case Kind::Acknowledge:
    case Kind::Verify:
        table = op.kind == Kind::Acknowledge ? "qk_alarm_acks" : "qk_alarm_verifications";
        statement.prepare(db,
                          op.kind == Kind::Acknowledge
                              ? "insert into qk_alarm_acks (event_token, ack_by, ack_at, action) "
                                "values (?1, ?2, ?3, ?4)"
                              : "insert into qk_alarm_verifications (event_token, verified_by, "
                                "verified_at, remark) values (?1, ?2, ?3, ?4)");
        statement.bind(2, op.person.toUtf8());
        statement.bind(3, op.time);
        statement.bind(4, op.text.toUtf8());
        break;
    }
    statement.bind(1, op.token);
    if (!statement.run(error))
        return false;
    if (sqlite3_changes(db) == 0)
        return true; // an event written before (a retried batch) or not in this file
    qint64 rowId = sqlite3_last_insert_rowid(db);
    if (op.kind == Kind::EventUpdate || op.kind == Kind::EventClose) {
        SqlStatement find(db, "select id from qk_alarm_events where token = ?1");
        find.bind(1, op.token);
        if (find.step() != SQLITE_ROW)
            return true;
        rowId = find.int64(0);
    }
    return appendRow(db, table, rowId, error);
}

bool RecordJournal::afterInsert(sqlite3 *db, const std::vector<SerialRecord> &rows, qint64 lastId,
                                const std::vector<RecordContextOp> *ops,
                                const std::vector<const QByteArray *> &serials)
{
    if (!m_usable)
        load(db);
    if (!m_usable)
        return false;
    // The ids of one batch follow each other: the writer holds the file.
    const qint64 firstId = lastId - qint64(rows.size()) + 1;
    if (m_running && firstId != m_runningNext)
        m_running.reset(); // rows of another program in between
    // Most batches neither end an hour nor carry alarm changes: nothing to
    // write, and no savepoint to pay for.
    if (!ops || ops->empty()) {
        bool sameHour = m_segmentHour >= 0;
        for (size_t i = 0; sameHour && i < rows.size(); ++i)
            sameHour = hourOf(qint64(rows[i].pointDate)) == m_segmentHour;
        if (sameHour) {
            for (size_t i = 0; m_running && i < rows.size(); ++i)
                follow(firstId + qint64(i), rows[i], *serials[i]);
            return true;
        }
    }
    QString error;
    if (!SqlStatement::exec(db, "SAVEPOINT journal", &error)) {
        qCWarning(lcRecord).noquote() << "RecordJournal : " << error;
        m_running.reset();
        return false;
    }
    const qint64 segmentFirst = m_segmentFirst;
    const qint64 segmentHour = m_segmentHour;
    bool ok = true;
    for (size_t i = 0; ok && i < rows.size(); ++i) {
        const qint64 id = firstId + qint64(i);
        const qint64 hour = hourOf(qint64(rows[i].pointDate));
        if (m_segmentHour < 0) {
            m_segmentHour = hour;
        } else if (hour != m_segmentHour) {
            // A row of another hour (later, or earlier after the clock went
            // back): the rows before it form a complete run.
            ok = seal(db, id - 1, &error);
            m_segmentHour = hour;
            restartRunning(id);
        }
        if (ok && m_running)
            follow(id, rows[i], *serials[i]);
    }
    if (ok && ops) {
        for (const RecordContextOp &op : *ops) {
            if (!(ok = applyOp(db, op, &error)))
                break;
        }
    }
    if (ok)
        ok = SqlStatement::exec(db, "RELEASE journal", &error);
    if (!ok) {
        qCWarning(lcRecord).noquote()
            << "RecordJournal : journal not written (the samples are):" << error;
        SqlStatement::exec(db, "ROLLBACK TO journal", nullptr);
        SqlStatement::exec(db, "RELEASE journal", nullptr);
        m_segmentFirst = segmentFirst;
        m_segmentHour = segmentHour;
        m_running.reset();
    }
    return ok;
}

void RecordJournal::restartRunning(qint64 nextId)
{
    m_running = std::make_shared<RowDigest>();
    m_runningNext = nextId;
}
