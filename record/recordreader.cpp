#include "record/recordreader.h"

#include <QFileInfo>
#include <QHash>

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/common.h"
#include "record/sqlstatement.h"

namespace
{

constexpr int kBusyTimeoutMs = 1000;

} // namespace

RecordReader::~RecordReader()
{
    close();
}

bool RecordReader::fail(int code, const QString &what)
{
    const int primary = code & 0xff;
    switch (primary) {
    case SQLITE_NOTADB:
        m_status = Status::NotRecordFile;
        m_errorText = QStringLiteral("%1 is not a record database.").arg(m_path);
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        m_status = Status::Locked;
        m_errorText = QStringLiteral("%1 is locked by another program.").arg(m_path);
        break;
    case SQLITE_CORRUPT:
        m_status = Status::Damaged;
        m_errorText = QStringLiteral("%1 is damaged.").arg(m_path);
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        m_status = Status::Error;
        m_errorText = QStringLiteral("%1 cannot be opened for reading.").arg(m_path);
        break;
    default:
        m_status = Status::Error;
        m_errorText = QStringLiteral("%1: %2").arg(m_path, what);
        break;
    }
    qCWarning(lcRecord).noquote() << "RecordReader :" << m_errorText << "(" << what << ")";
    return false;
}

bool RecordReader::open(const QString &path)
{
    close();
    m_path = path;
    m_status = Status::Ok;
    m_errorText.clear();
    m_order.clear();

    const QFileInfo info(path);
    if (!info.exists()) {
        m_status = Status::NoFile;
        m_errorText = QStringLiteral("There is no record database %1.").arg(path);
        return false;
    }
    if (!info.isFile()) {
        m_status = Status::NotRecordFile;
        m_errorText = QStringLiteral("%1 is not a record database.").arg(path);
        return false;
    }

    const QByteArray name = QFile::encodeName(path);
    // A reader is used by one thread at a time: no lock around every call
    // (a tenth of the time of a long scan).
    int rc = sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        const QString what = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close(m_db);
        m_db = nullptr;
        return fail(rc, what);
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // A reader needs only a small page cache: it streams through the file.
    sqlite3_exec(m_db, "PRAGMA cache_size = -8192; PRAGMA query_only = 1", nullptr, nullptr,
                 nullptr);

    SqlStatement check(
        m_db, "select count(*) from sqlite_master where type = 'table' and name = 'fennolink'");
    rc = check.isValid() ? sqlite3_step(check.handle()) : sqlite3_errcode(m_db);
    if (rc != SQLITE_ROW) {
        const QString what = QString::fromUtf8(sqlite3_errmsg(m_db));
        close();
        return fail(rc, what);
    }
    if (sqlite3_column_int(check.handle(), 0) == 0) {
        close();
        m_status = Status::NotRecordFile;
        m_errorText = QStringLiteral("%1 holds no recording (no table \"fennolink\").").arg(path);
        return false;
    }
    return true;
}

void RecordReader::close()
{
    sqlite3_finalize(m_probe);
    m_probe = nullptr;
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

qint64 RecordReader::singleValue(const char *sql, qint64 bind, bool hasBind, bool *ok)
{
    if (ok)
        *ok = false;
    if (!m_db)
        return 0;
    SqlStatement statement(m_db, sql);
    if (!statement.isValid()) {
        fail(sqlite3_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
        return 0;
    }
    if (hasBind)
        sqlite3_bind_int64(statement.handle(), 1, bind);
    const int rc = sqlite3_step(statement.handle());
    if (rc == SQLITE_ROW) {
        if (ok)
            *ok = sqlite3_column_type(statement.handle(), 0) != SQLITE_NULL;
        return sqlite3_column_int64(statement.handle(), 0);
    }
    if (rc != SQLITE_DONE)
        fail(rc, QString::fromUtf8(sqlite3_errmsg(m_db)));
    return 0;
}

qint64 RecordReader::minId()
{
    return singleValue("select min(id) from fennolink");
}

qint64 RecordReader::maxId()
{
    return singleValue("select max(id) from fennolink");
}

bool RecordReader::newestRow(qint64 *id, qint64 *time)
{
    *id = 0;
    *time = 0;
    if (!m_db)
        return false;
    SqlStatement statement(m_db, "select id, pointDate from fennolink order by id desc limit 1");
    const int rc = statement.isValid() ? sqlite3_step(statement.handle()) : sqlite3_errcode(m_db);
    if (rc == SQLITE_ROW) {
        *id = sqlite3_column_int64(statement.handle(), 0);
        *time = sqlite3_column_int64(statement.handle(), 1);
        return true;
    }
    if (rc == SQLITE_DONE)
        return true;
    return fail(rc, QString::fromUtf8(sqlite3_errmsg(m_db)));
}

bool RecordReader::rowTime(qint64 id, qint64 *time)
{
    qint64 rowId = 0;
    return m_db && timeAtOrAfter(id, &rowId, time) && rowId == id;
}

qint64 RecordReader::countIds(qint64 firstId, qint64 lastId)
{
    if (!m_db || lastId < firstId)
        return 0;
    SqlStatement statement(m_db, "select count(*) from fennolink where id between ?1 and ?2");
    if (!statement.isValid())
        return 0;
    sqlite3_bind_int64(statement.handle(), 1, firstId);
    sqlite3_bind_int64(statement.handle(), 2, lastId);
    return sqlite3_step(statement.handle()) == SQLITE_ROW
               ? sqlite3_column_int64(statement.handle(), 0)
               : 0;
}

bool RecordReader::timeAtOrAfter(qint64 id, qint64 *rowId, qint64 *time)
{
    // Called a few dozen times per search: prepared once per open file.
    if (!m_probe &&
        sqlite3_prepare_v2(m_db,
                           "select id, pointDate from fennolink where id >= ?1 order by id limit 1",
                           -1, &m_probe, nullptr) != SQLITE_OK) {
        m_probe = nullptr;
        return false;
    }
    sqlite3_reset(m_probe);
    sqlite3_bind_int64(m_probe, 1, id);
    const bool found = sqlite3_step(m_probe) == SQLITE_ROW;
    if (found) {
        *rowId = sqlite3_column_int64(m_probe, 0);
        *time = sqlite3_column_int64(m_probe, 1);
    }
    sqlite3_reset(m_probe); // ends the read, so that it never holds back the writer
    return found;
}

bool RecordReader::ensureOrder(bool deriveMissing)
{
    if (!m_db)
        return false;
    bool ok = false;
    const qint64 lastId = singleValue("select max(id) from fennolink", 0, false, &ok);
    if (!ok)
        return m_status == Status::Ok; // an empty table is in order
    QString error;
    switch (m_order.ensure(m_db, lastId, deriveMissing, &error)) {
    case RecordReaderOrder::Outcome::Known: return true;
    case RecordReaderOrder::Outcome::Partial: return false;
    case RecordReaderOrder::Outcome::Failed: break;
    }
    return fail(sqlite3_errcode(m_db), error);
}

bool RecordReader::timeOrdered()
{
    if (m_order.forced() >= 0)
        return m_order.forced() == 1;
    return ensureOrder(true) && m_order.steps().isEmpty();
}

bool RecordReader::timeSteps(QVector<RecordTimeStep> *steps, bool deriveMissing, bool *complete)
{
    const bool known = ensureOrder(deriveMissing);
    if (complete)
        *complete = known;
    *steps = m_order.steps();
    return known || !deriveMissing;
}

bool RecordReader::keepsTimeSteps()
{
    if (!m_order.isLoaded())
        ensureOrder(false);
    return m_order.keepsSteps();
}

RecordReader::TimeOrderState RecordReader::timeOrderState() const
{
    return m_order.state();
}

void RecordReader::setTimeOrdered(bool ordered)
{
    m_order.force(ordered ? 1 : 0);
}

void RecordReader::resumeTimeOrder(const TimeOrderState &state)
{
    m_order.force(-1);
    if (state.checkedId <= 0)
        return;
    ensureOrder(false);
    m_order.resume(state);
}

bool RecordReader::timeBounds(qint64 *first, qint64 *last)
{
    if (!m_db)
        return false;
    bool ok = false;
    const qint64 low =
        singleValue("select pointDate from fennolink order by id limit 1", 0, false, &ok);
    if (!ok)
        return false;
    const qint64 high =
        singleValue("select pointDate from fennolink order by id desc limit 1", 0, false, &ok);
    if (!ok)
        return false;
    if (m_order.forced() == 1) {
        *first = low;
        *last = high;
        return true;
    }
    if (!ensureOrder(true))
        return false;
    RecordTimeOrder::bounds(low, high, m_order.steps(), first, last);
    return true;
}

bool RecordReader::idRangeForTime(qint64 from, qint64 to, qint64 *firstId, qint64 *lastId)
{
    return idRangeForTimeUpTo(from, to, std::numeric_limits<qint64>::max(), firstId, lastId);
}

bool RecordReader::idRangeForTimeUpTo(qint64 from, qint64 to, qint64 maxSearchId, qint64 *firstId,
                                      qint64 *lastId)
{
    if (!m_db || to < from)
        return false;
    return idRangeForTimeIn(from, to, minId(), maxSearchId, firstId, lastId);
}

bool RecordReader::idRangeForTimeIn(qint64 from, qint64 to, qint64 lowId, qint64 highId,
                                    qint64 *firstId, qint64 *lastId)
{
    if (!m_db || to < from)
        return false;
    const qint64 low = std::max(minId(), lowId);
    const qint64 high = std::min(maxId(), highId);
    if (high < low || (low == 0 && high == 0))
        return false;

    // Smallest id whose row (or the next row after it) has pointDate >= t.
    auto lowerBound = [&](qint64 t, bool strictlyAfter) {
        qint64 lo = low;
        qint64 hi = high + 1;
        while (lo < hi) {
            const qint64 mid = lo + (hi - lo) / 2;
            qint64 rowId = 0;
            qint64 time = 0;
            if (!timeAtOrAfter(mid, &rowId, &time) || rowId > high ||
                (strictlyAfter ? time > t : time >= t))
                hi = mid;
            else
                lo = rowId + 1;
        }
        return lo;
    };
    const qint64 begin = lowerBound(from, false);
    const qint64 end = lowerBound(to, true); // first id past the range
    if (begin >= end)
        return false;
    qint64 rowId = 0;
    qint64 time = 0;
    if (!timeAtOrAfter(begin, &rowId, &time) || rowId >= end)
        return false;
    *firstId = rowId;
    bool ok = false;
    *lastId = singleValue("select max(id) from fennolink where id < ?1", std::min(end, high + 1),
                          true, &ok);
    return ok && *lastId >= *firstId;
}

bool RecordReader::scan(sqlite3_stmt *statement, const QStringList &serials,
                        const std::function<bool(const RecordRow &)> &visit, qint64 *visited)
{
    QVector<QByteArray> wanted;
    wanted.reserve(serials.size());
    for (const QString &serial : serials)
        wanted.append(serial.toUtf8());

    constexpr int kSharedSerials = 64;
    QVector<QByteArray> seen;
    int last = -1;
    RecordRow row;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const char *serial = reinterpret_cast<const char *>(sqlite3_column_blob(statement, 1));
        const int serialLength = sqlite3_column_bytes(statement, 1);
        if (!wanted.isEmpty()) {
            const QByteArray *match = nullptr;
            for (const QByteArray &w : wanted) {
                if (w.size() == serialLength &&
                    memcmp(w.constData(), serial, size_t(serialLength)) == 0) {
                    match = &w;
                    break;
                }
            }
            if (!match)
                continue;
            row.serialNo = *match; // shared, no copy per row
        } else {
            // Devices take turns row by row: the one after the last is the
            // likely next, and each number is made once and shared.
            const int count = seen.size();
            int found = -1;
            for (int k = 0; k < count; ++k) {
                const int i = (last + 1 + k) % count;
                const QByteArray &s = seen.at(i);
                if (s.size() == serialLength &&
                    memcmp(s.constData(), serial, size_t(serialLength)) == 0) {
                    found = i;
                    break;
                }
            }
            if (found < 0) {
                row.serialNo = QByteArray(serial, serialLength);
                if (count < kSharedSerials) {
                    seen.append(row.serialNo);
                    last = count;
                }
            } else if (found != last || row.serialNo.constData() != seen.at(found).constData()) {
                row.serialNo = seen.at(found);
                last = found;
            }
        }
        row.id = sqlite3_column_int64(statement, 0);
        row.channel1 = sqlite3_column_type(statement, 2) == SQLITE_NULL
                           ? NoValue
                           : sqlite3_column_double(statement, 2);
        row.channel2 = sqlite3_column_type(statement, 3) == SQLITE_NULL
                           ? NoValue
                           : sqlite3_column_double(statement, 3);
        row.pointDate = sqlite3_column_int64(statement, 4);
        if (visited)
            ++*visited;
        if (!visit(row))
            return false;
    }
    if (rc != SQLITE_DONE)
        return fail(rc, QString::fromUtf8(sqlite3_errmsg(m_db)));
    return true;
}

bool RecordReader::forEachRowInTime(qint64 from, qint64 to, const QStringList &serials,
                                    const std::function<bool(const RecordRow &)> &visit)
{
    return scanInTime(from, to, [&](sqlite3_stmt *statement) {
        return scan(statement, serials, visit, nullptr);
    });
}

bool RecordReader::forEachSampleInTime(qint64 from, qint64 to, const QVector<QByteArray> &serials,
                                       const std::function<bool(QVector<RecordSample> &)> &visit,
                                       int blockSize)
{
    return scanInTime(from, to, [&](sqlite3_stmt *statement) {
        return scanSamples(statement, serials, visit, std::max(1, blockSize));
    });
}

bool RecordReader::forEachSampleInIds(qint64 firstId, qint64 lastId,
                                      const QVector<QByteArray> &serials,
                                      const std::function<bool(QVector<RecordSample> &)> &visit,
                                      int blockSize)
{
    if (!m_db)
        return false;
    SqlStatement byId(m_db, "select id, serialno, channel1, channel2, pointDate from fennolink "
                            "where id between ?1 and ?2 order by id");
    if (!byId.isValid())
        return fail(sqlite3_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
    sqlite3_bind_int64(byId.handle(), 1, firstId);
    sqlite3_bind_int64(byId.handle(), 2, lastId);
    return scanSamples(byId.handle(), serials, visit, std::max(1, blockSize));
}

bool RecordReader::scanInTime(qint64 from, qint64 to,
                              const std::function<bool(sqlite3_stmt *)> &scanOne)
{
    if (!m_db)
        return false;
    if (m_order.forced() < 0 && !ensureOrder(true))
        return false;
    const QVector<std::pair<qint64, qint64>> stretches = m_order.stretches();
    SqlStatement byId(m_db, "select id, serialno, channel1, channel2, pointDate from fennolink "
                            "where id between ?1 and ?2 order by id");
    if (!byId.isValid())
        return fail(sqlite3_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
    // A clock that went back and forth very often: one pass over the rows
    // costs less than a search per stretch.
    if (!stretches.isEmpty() && stretches.size() <= 4096) {
        for (const auto &stretch : qAsConst(stretches)) {
            qint64 first = 0;
            qint64 last = 0;
            if (!idRangeForTimeIn(from, to, stretch.first, stretch.second, &first, &last)) {
                if (m_status != Status::Ok)
                    return false;
                continue;
            }
            sqlite3_reset(byId.handle());
            sqlite3_bind_int64(byId.handle(), 1, first);
            sqlite3_bind_int64(byId.handle(), 2, last);
            if (!scanOne(byId.handle()))
                return false;
        }
        return true;
    }
    SqlStatement statement(m_db,
                           "select id, serialno, channel1, channel2, pointDate from fennolink "
                           "where pointDate between ?1 and ?2 order by id");
    if (!statement.isValid())
        return fail(sqlite3_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
    sqlite3_bind_int64(statement.handle(), 1, from);
    sqlite3_bind_int64(statement.handle(), 2, to);
    return scanOne(statement.handle());
}

bool RecordReader::scanSamples(sqlite3_stmt *statement, const QVector<QByteArray> &serials,
                               const std::function<bool(QVector<RecordSample> &)> &visit,
                               int blockSize)
{
    QHash<QByteArray, int> places;
    for (int i = serials.size() - 1; i >= 0; --i)
        places.insert(serials.at(i), i); // the first of two equal numbers wins
    const int count = serials.size();
    QVector<bool> first(count);
    for (int i = 0; i < count; ++i)
        first[i] = places.value(serials.at(i)) == i;
    int last = -1;
    QVector<RecordSample> block;
    block.reserve(blockSize);
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        const char *serial = reinterpret_cast<const char *>(sqlite3_column_blob(statement, 1));
        const int serialLength = sqlite3_column_bytes(statement, 1);
        // Devices take turns row by row: the one after the last is the likely next.
        const int next = last + 1 < count ? last + 1 : 0;
        if (count > 0 && serials.at(next).size() == serialLength &&
            memcmp(serials.at(next).constData(), serial, size_t(serialLength)) == 0 &&
            first.at(next)) {
            last = next;
        } else {
            last = places.value(QByteArray::fromRawData(serial, serialLength), -1);
        }
        RecordSample sample;
        sample.serial = last;
        // Each column looked up once (the connection is this thread's alone).
        sqlite3_value *channel1 = sqlite3_column_value(statement, 2);
        sqlite3_value *channel2 = sqlite3_column_value(statement, 3);
        sample.channel1 =
            sqlite3_value_type(channel1) == SQLITE_NULL ? NoValue : sqlite3_value_double(channel1);
        sample.channel2 =
            sqlite3_value_type(channel2) == SQLITE_NULL ? NoValue : sqlite3_value_double(channel2);
        sample.pointDate = sqlite3_column_int64(statement, 4);
        block.append(sample);
        if (block.size() >= blockSize) {
            if (!visit(block))
                return false;
            block.clear();
            block.reserve(blockSize);
        }
    }
    if (rc != SQLITE_DONE)
        return fail(rc, QString::fromUtf8(sqlite3_errmsg(m_db)));
    return block.isEmpty() || visit(block);
}

qint64 RecordReader::forEachRowAfterId(qint64 afterId, qint64 limit,
                                       const std::function<bool(const RecordRow &)> &visit)
{
    if (!m_db)
        return -1;
    SqlStatement statement(m_db,
                           "select id, serialno, channel1, channel2, pointDate from fennolink "
                           "where id > ?1 order by id limit ?2");
    if (!statement.isValid()) {
        fail(sqlite3_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
        return -1;
    }
    sqlite3_bind_int64(statement.handle(), 1, afterId);
    sqlite3_bind_int64(statement.handle(), 2, limit > 0 ? limit : -1);
    qint64 visited = 0;
    if (!scan(statement.handle(), {}, visit, &visited) && m_status != Status::Ok)
        return -1;
    return visited;
}

QStringList RecordReader::serialNumbersAtEnds(int rows)
{
    QStringList numbers;
    if (!m_db)
        return numbers;
    for (const char *sql : {"select serialno from fennolink order by id limit ?1",
                            "select serialno from fennolink order by id desc limit ?1"}) {
        SqlStatement statement(m_db, sql);
        if (!statement.isValid())
            return numbers;
        sqlite3_bind_int(statement.handle(), 1, rows);
        while (sqlite3_step(statement.handle()) == SQLITE_ROW) {
            const QString number = QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement.handle(), 0)),
                sqlite3_column_bytes(statement.handle(), 0));
            if (!numbers.contains(number))
                numbers.append(number);
        }
    }
    return numbers;
}
