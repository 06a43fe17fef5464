#include "record/recordtimeorder.h"

#include "common/common.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <sqlite3.h>

namespace
{

constexpr quint32 kCacheMagic = 0x514b544f; // "QKTO"
constexpr quint32 kCacheFormat = 1;

// The row at `id` as bytes (id, device, values, time), or the first row
// when id is 0; empty when there is none.
QByteArray rowSignature(sqlite3 *db, qint64 id)
{
    sqlite3_stmt *statement = nullptr;
    const char *sql = id > 0 ? "select id, serialno, channel1, channel2, pointDate from fennolink "
                               "where id = ?1"
                             : "select id, serialno, channel1, channel2, pointDate from fennolink "
                               "order by id limit 1";
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return {};
    if (id > 0)
        sqlite3_bind_int64(statement, 1, id);
    QByteArray signature;
    if (sqlite3_step(statement) == SQLITE_ROW) {
        for (int column = 0; column < 5; ++column) {
            signature += reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
            signature += '\x1f';
        }
    }
    sqlite3_finalize(statement);
    return signature;
}

} // namespace

bool RecordTimeOrder::derive(sqlite3 *db, RecordTimeOrderState &state,
                             QVector<RecordTimeStep> *steps, qint64 upToId, qint64 maxRows,
                             QString *error)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db,
                           "select id, pointDate from fennolink where id > ?1 and id <= ?2 "
                           "order by id limit ?3",
                           -1, &statement, nullptr) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    sqlite3_bind_int64(statement, 1, state.checkedId);
    sqlite3_bind_int64(statement, 2, upToId);
    sqlite3_bind_int64(statement, 3, maxRows > 0 ? maxRows : -1);
    RecordTimeStep step;
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
        if (feed(state, sqlite3_column_int64(statement, 0), sqlite3_column_int64(statement, 1),
                 &step))
            steps->append(step);
    }
    if (rc != SQLITE_DONE && error)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    return rc == SQLITE_DONE;
}

bool RecordTimeOrder::loadKept(sqlite3 *db, RecordTimeOrderState *state,
                               QVector<RecordTimeStep> *steps)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "select checked_id, last_time, newest from qk_time_order", -1,
                           &statement, nullptr) != SQLITE_OK)
        return false;
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    RecordTimeOrderState kept;
    if (found) {
        kept.checkedId = sqlite3_column_int64(statement, 0);
        kept.lastTime = sqlite3_column_int64(statement, 1);
        kept.newest = sqlite3_column_int64(statement, 2);
    }
    sqlite3_finalize(statement);
    if (!found)
        return false;
    if (steps) {
        // Steps past the mark were written by a writer that stopped before
        // moving it; they are found again from the rows.
        if (sqlite3_prepare_v2(db,
                               "select id, time, previous from qk_time_steps where id <= ?1 "
                               "order by id",
                               -1, &statement, nullptr) != SQLITE_OK)
            return false;
        sqlite3_bind_int64(statement, 1, kept.checkedId);
        steps->clear();
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
            steps->append({sqlite3_column_int64(statement, 0), sqlite3_column_int64(statement, 1),
                           sqlite3_column_int64(statement, 2)});
        sqlite3_finalize(statement);
        if (rc != SQLITE_DONE)
            return false;
    }
    *state = kept;
    return true;
}

bool RecordTimeOrder::storeKept(sqlite3 *db, const RecordTimeOrderState &state,
                                const QVector<RecordTimeStep> &steps, QString *error)
{
    sqlite3_stmt *statement = nullptr;
    bool ok = true;
    if (!steps.isEmpty()) {
        ok = sqlite3_prepare_v2(db,
                                "insert or replace into qk_time_steps (id, time, previous) "
                                "values (?1, ?2, ?3)",
                                -1, &statement, nullptr) == SQLITE_OK;
        for (int i = 0; ok && i < steps.size(); ++i) {
            sqlite3_bind_int64(statement, 1, steps[i].id);
            sqlite3_bind_int64(statement, 2, steps[i].time);
            sqlite3_bind_int64(statement, 3, steps[i].previousTime);
            ok = sqlite3_step(statement) == SQLITE_DONE;
            sqlite3_reset(statement);
        }
        sqlite3_finalize(statement);
        statement = nullptr;
    }
    ok = ok && sqlite3_prepare_v2(db,
                                  "update qk_time_order set checked_id = ?1, last_time = ?2, "
                                  "newest = ?3",
                                  -1, &statement, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_bind_int64(statement, 1, state.checkedId);
        sqlite3_bind_int64(statement, 2, state.lastTime);
        sqlite3_bind_int64(statement, 3, state.newest);
        ok = sqlite3_step(statement) == SQLITE_DONE && sqlite3_changes(db) == 1;
    }
    if (!ok && error)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    return ok;
}

QString RecordTimeOrder::cacheFile(sqlite3 *db)
{
    const QByteArray first = rowSignature(db, 0);
    if (first.isEmpty())
        return {};
    const QByteArray key = QCryptographicHash::hash(first, QCryptographicHash::Sha1).toHex();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/record-order/") + QString::fromLatin1(key);
}

bool RecordTimeOrder::loadCached(sqlite3 *db, RecordTimeOrderState *state,
                                 QVector<RecordTimeStep> *steps)
{
    QFile file(cacheFile(db));
    if (file.fileName().isEmpty() || !file.open(QIODevice::ReadOnly))
        return false;
    QDataStream in(&file);
    quint32 magic = 0, format = 0;
    RecordTimeOrderState cached;
    QByteArray signature;
    qint32 count = 0;
    in >> magic >> format >> cached.checkedId >> cached.lastTime >> cached.newest >> signature >>
        count;
    if (in.status() != QDataStream::Ok || magic != kCacheMagic || format != kCacheFormat ||
        count < 0 || cached.checkedId <= state->checkedId)
        return false;
    // The entry holds while the row it ends at is unchanged (a copy that
    // recorded on differently still shares the rows before it).
    if (rowSignature(db, cached.checkedId) != signature)
        return false;
    QVector<RecordTimeStep> read;
    read.reserve(qMin(count, 1 << 20));
    for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        RecordTimeStep step;
        in >> step.id >> step.time >> step.previousTime;
        read.append(step);
    }
    if (in.status() != QDataStream::Ok)
        return false;
    *state = cached;
    *steps = std::move(read);
    return true;
}

void RecordTimeOrder::storeCached(sqlite3 *db, const RecordTimeOrderState &state,
                                  const QVector<RecordTimeStep> &steps)
{
    const QString name = cacheFile(db);
    if (name.isEmpty() || state.checkedId <= 0 || !QDir().mkpath(QFileInfo(name).absolutePath()))
        return;
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return;
    QDataStream out(&file);
    out << kCacheMagic << kCacheFormat << state.checkedId << state.lastTime << state.newest
        << rowSignature(db, state.checkedId) << qint32(steps.size());
    for (const RecordTimeStep &step : steps)
        out << step.id << step.time << step.previousTime;
    if (!file.commit())
        qCDebug(lcRecord).noquote() << "RecordTimeOrder : cache not written :" << name;
}

void RecordTimeOrder::bounds(qint64 firstRowTime, qint64 lastRowTime,
                             const QVector<RecordTimeStep> &steps, qint64 *first, qint64 *last)
{
    *first = firstRowTime;
    *last = lastRowTime;
    for (const RecordTimeStep &step : steps) {
        *first = qMin(*first, step.time);
        *last = qMax(*last, step.previousTime);
    }
}
