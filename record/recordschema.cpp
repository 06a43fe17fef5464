#include "record/recordschema.h"

#include "common/common.h"
#include "record/recordjournal.h"
#include "record/recordstretches.h"
#include "record/sqlstatement.h"

#include <sqlite3.h>

namespace
{

// One upgrade: the statements that bring a file from `version - 1` to
// `version`. Append new steps at the end; never edit a released one.
struct SchemaStep {
    int version;
    const char *statements;
};

const SchemaStep kSteps[] = {
    {1,
     // Where time went back: the row `id` is older than the row before it;
     // `previous` is the newest time of the rows before it. Kept by the
     // writer as it writes, derived once for rows written before.
     "create table qk_time_steps (id integer primary key, time integer not null, "
     "previous integer not null);"
     // How far the steps are known: every step among the rows with
     // id <= checked_id is in qk_time_steps; last_time is the time of the row
     // at checked_id, newest the newest time up to it.
     "create table qk_time_order (one integer primary key check (one = 1), "
     "checked_id integer not null, last_time integer not null, newest integer not null);"
     "insert into qk_time_order values (1, 0, 0, 0);"
     // The settings in force: one row per device from the time it holds on.
     "create table qk_settings (entry integer primary key autoincrement, "
     "valid_from integer not null, interval_ms integer not null, serialno text not null, "
     "device_name text not null, start_address integer not null, "
     "ch1_name text not null, ch2_name text not null, ch1_unit integer not null, "
     "ch2_unit integer not null, ch1_custom text not null, ch2_custom text not null, "
     "ch1_low real not null, ch1_high real not null, ch2_low real not null, "
     "ch2_high real not null);"
     "create index qk_settings_time on qk_settings (valid_from);"},
    // Alarm events, their acknowledgements and verifications, and the
    // journal chained over every context row and every complete hour.
    {RecordJournal::kSchemaVersion, RecordJournal::kTablesSql},
    // What each device's rows add up to per quarter of an hour.
    {RecordStretches::kSchemaVersion, RecordStretches::kTableSql},
};

const char kFennolink[] =
    "create table fennolink (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) not "
    "null, \t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)";

bool exec(sqlite3 *db, const char *sql, QString *error)
{
    return SqlStatement::exec(db, sql, error);
}

} // namespace

int RecordSchema::currentVersion()
{
    return std::end(kSteps)[-1].version;
}

const char *RecordSchema::fennolinkStatement()
{
    return kFennolink;
}

bool RecordSchema::hasTable(sqlite3 *db, const char *name)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "select 1 from sqlite_master where type = 'table' and name = ?1", -1,
                           &statement, nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(statement, 1, name, -1, SQLITE_STATIC);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

bool RecordSchema::ensureSamples(sqlite3 *db, QString *error)
{
    sqlite3_stmt *statement = nullptr;
    int rc = sqlite3_prepare_v2(
        db, "select name from sqlite_master where type='table' and name='fennolink';", -1,
        &statement, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(statement);
    sqlite3_finalize(statement);
    if (rc == SQLITE_ROW) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : table exist";
        return true;
    }
    if (rc != SQLITE_DONE) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : select table : query error";
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
        return false;
    }
    if (!exec(db, kFennolink, error)) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : create table : query error";
        return false;
    }
    qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : create table";
    return true;
}

int RecordSchema::version(sqlite3 *db)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr) != SQLITE_OK)
        return -1;
    const int value = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
    sqlite3_finalize(statement);
    return value;
}

bool RecordSchema::upgrade(sqlite3 *db, QString *error)
{
    // Looked at again inside the transaction: another writer may have
    // upgraded the file meanwhile.
    if (version(db) >= currentVersion())
        return true;
    if (!exec(db, "BEGIN IMMEDIATE", error))
        return false;
    int from = version(db);
    bool ok = from >= 0;
    for (const SchemaStep &step : kSteps) {
        if (!ok)
            break;
        if (step.version <= from)
            continue;
        ok = exec(db, step.statements, error);
        if (ok)
            ok = exec(
                db,
                QByteArray("PRAGMA user_version = " + QByteArray::number(step.version)).constData(),
                error);
        if (ok)
            from = step.version;
    }
    if (ok && exec(db, "COMMIT", error)) {
        qCDebug(lcRecord).noquote() << "RecordSchema::upgrade : version" << from;
        return true;
    }
    exec(db, "ROLLBACK", nullptr);
    qCWarning(lcRecord).noquote() << "RecordSchema::upgrade : failed :"
                                  << (error ? *error : QString());
    return false;
}
