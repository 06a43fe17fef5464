#pragma once

// Record databases with known rows, written straight with SQLite in the
// recorder's table, for the tests of the programs that read them.

#include "record/recordschema.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <sqlite3.h>

#include <cmath>
#include <functional>

namespace TestSupport
{

// A value stored as NULL (NAN does the same).
constexpr double kNoReading = 1.7e308;

struct RecordRow {
    QString serial;
    double ch1;
    double ch2;
    qint64 time;
};
// For the tests that also see the reader's RecordRow.
using Row = RecordRow;

inline const char *recordTableStatement()
{
    return RecordSchema::fennolinkStatement();
}

// Appends rows in one transaction, creating the file and the table when
// needed; `wal` puts the file in write-ahead-log mode as the recorder does.
inline bool appendRecordRows(const QString &path, const QVector<RecordRow> &rows, bool wal = true)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    if (wal)
        sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    char *error = nullptr;
    sqlite3_exec(db, "select 1 from fennolink limit 1", nullptr, nullptr, &error);
    bool ok = true;
    if (error) {
        sqlite3_free(error);
        ok = sqlite3_exec(db, recordTableStatement(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ok = ok && sqlite3_exec(db, "begin", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_stmt *insert = nullptr;
    ok = ok && sqlite3_prepare_v2(db,
                                  "insert into fennolink (serialno, channel1, channel2, pointDate) "
                                  "values (?1, ?2, ?3, ?4)",
                                  -1, &insert, nullptr) == SQLITE_OK;
    auto bindValue = [insert](int column, double value) {
        if (std::isnan(value) || value == kNoReading)
            sqlite3_bind_null(insert, column);
        else
            sqlite3_bind_double(insert, column, value);
    };
    for (const RecordRow &row : rows) {
        if (!ok)
            break;
        const QByteArray serial = row.serial.toUtf8();
        sqlite3_bind_text(insert, 1, serial.constData(), serial.size(), SQLITE_TRANSIENT);
        bindValue(2, row.ch1);
        bindValue(3, row.ch2);
        sqlite3_bind_int64(insert, 4, row.time);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok = sqlite3_exec(db, ok ? "commit" : "rollback", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
    sqlite3_close(db);
    return ok;
}

// Every `interval` seconds from `start`, `count` polls of all the devices;
// values from `value(device, channel, time)` (kNoReading for none).
inline QVector<RecordRow> polls(const QStringList &serials, qint64 start, int count, int interval,
                                const std::function<double(int, int, qint64)> &value)
{
    QVector<RecordRow> rows;
    rows.reserve(count * serials.size());
    for (int i = 0; i < count; ++i) {
        const qint64 t = start + qint64(i) * interval;
        for (int d = 0; d < serials.size(); ++d)
            rows.append({serials.at(d), value(d, 1, t), value(d, 2, t), t});
    }
    return rows;
}

} // namespace TestSupport
