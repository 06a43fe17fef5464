#include "record/recordcontext.h"

#include "common/common.h"
#include "record/recordjournal.h"
#include "record/recordreader.h"
#include "record/recordschema.h"

#include <sqlite3.h>

#include <QStringList>

QString RecordJournalVerdict::text() const
{
    switch (state) {
    case State::NoJournal:
        return QStringLiteral("no journal (recorded before the journal was kept)");
    case State::Intact: return QStringLiteral("record intact");
    case State::Altered: return QStringLiteral("record altered: %1").arg(where);
    case State::Broken: return QStringLiteral("journal damaged: %1").arg(where);
    }
    return QString();
}

RecordContext::RecordContext(RecordReader &reader) : m_reader(reader) {}

namespace
{

const char kSettingsColumns[] =
    "select valid_from, interval_ms, serialno, device_name, start_address, ch1_name, ch2_name, "
    "ch1_unit, ch2_unit, ch1_custom, ch2_custom, ch1_low, ch1_high, ch2_low, ch2_high "
    "from qk_settings ";

QString columnText(sqlite3_stmt *statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
                             sqlite3_column_bytes(statement, column));
}

// Settings rows of a statement whose columns are kSettingsColumns.
QVector<RecordDeviceSettings> settingsRows(sqlite3_stmt *statement)
{
    QVector<RecordDeviceSettings> entries;
    while (sqlite3_step(statement) == SQLITE_ROW) {
        RecordDeviceSettings entry;
        entry.validFrom = sqlite3_column_int64(statement, 0);
        entry.intervalMs = sqlite3_column_int(statement, 1);
        entry.serialNo = columnText(statement, 2);
        entry.deviceName = columnText(statement, 3);
        entry.startAddress = sqlite3_column_int(statement, 4);
        entry.ch1Name = columnText(statement, 5);
        entry.ch2Name = columnText(statement, 6);
        entry.ch1Unit = sqlite3_column_int(statement, 7);
        entry.ch2Unit = sqlite3_column_int(statement, 8);
        entry.ch1Custom = columnText(statement, 9);
        entry.ch2Custom = columnText(statement, 10);
        entry.ch1Low = sqlite3_column_double(statement, 11);
        entry.ch1High = sqlite3_column_double(statement, 12);
        entry.ch2Low = sqlite3_column_double(statement, 13);
        entry.ch2High = sqlite3_column_double(statement, 14);
        entries.append(entry);
    }
    sqlite3_finalize(statement);
    return entries;
}

sqlite3_stmt *prepare(sqlite3 *db, const QByteArray &sql)
{
    sqlite3_stmt *statement = nullptr;
    if (!db || sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK)
        return nullptr;
    return statement;
}

} // namespace

int RecordContext::schemaVersion()
{
    return m_reader.handle() ? qMax(0, RecordSchema::version(m_reader.handle())) : 0;
}

bool RecordContext::hasSettings()
{
    // A recording whose start was kept has at least one entry.
    sqlite3_stmt *statement = prepare(m_reader.handle(), "select 1 from qk_settings limit 1");
    const bool found = statement && sqlite3_step(statement) == SQLITE_ROW;
    sqlite3_finalize(statement);
    return found;
}

bool RecordContext::hasTimeSteps()
{
    return m_reader.keepsTimeSteps();
}

QVector<RecordTimeStep> RecordContext::timeSteps(qint64 firstId, qint64 lastId)
{
    QVector<RecordTimeStep> steps;
    if (!m_reader.timeSteps(&steps))
        return {};
    QVector<RecordTimeStep> inRange;
    for (const RecordTimeStep &step : qAsConst(steps)) {
        if (step.id >= firstId && (lastId <= 0 || step.id <= lastId))
            inRange.append(step);
    }
    return inRange;
}

QVector<RecordDeviceSettings> RecordContext::settingsAt(qint64 time)
{
    // The recorder stores every device at once (a start of recording, a
    // change): the last such set from at or before `time`, the newest entry
    // per device where one second saw two.
    sqlite3_stmt *statement =
        prepare(m_reader.handle(),
                QByteArray(kSettingsColumns) +
                    "where entry in (select max(entry) from qk_settings where valid_from = "
                    "(select max(valid_from) from qk_settings where valid_from <= ?1) "
                    "group by serialno) order by entry");
    if (!statement)
        return {};
    sqlite3_bind_int64(statement, 1, time);
    return settingsRows(statement);
}

QVector<RecordDeviceSettings> RecordContext::settingsBetween(qint64 from, qint64 to)
{
    QVector<RecordDeviceSettings> entries = settingsAt(from);
    sqlite3_stmt *statement =
        prepare(m_reader.handle(), QByteArray(kSettingsColumns) +
                                       "where valid_from > ?1 and valid_from <= ?2 "
                                       "order by valid_from, entry");
    if (!statement)
        return entries;
    sqlite3_bind_int64(statement, 1, from);
    sqlite3_bind_int64(statement, 2, to);
    entries += settingsRows(statement);
    return entries;
}

bool RecordContext::storeSettings(sqlite3 *db, const std::vector<RecordDeviceSettings> &settings,
                                  bool journal)
{
    if (settings.empty())
        return true;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db,
                           "insert into qk_settings (valid_from, interval_ms, serialno, "
                           "device_name, start_address, ch1_name, ch2_name, ch1_unit, ch2_unit, "
                           "ch1_custom, ch2_custom, ch1_low, ch1_high, ch2_low, ch2_high) values "
                           "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)",
                           -1, &statement, nullptr) != SQLITE_OK)
        return false;
    bool ok = true;
    for (const RecordDeviceSettings &entry : settings) {
        const auto text = [statement](int index, const QString &value) {
            const QByteArray utf8 = value.toUtf8();
            sqlite3_bind_text(statement, index, utf8.constData(), utf8.size(), SQLITE_TRANSIENT);
        };
        sqlite3_bind_int64(statement, 1, entry.validFrom);
        sqlite3_bind_int(statement, 2, entry.intervalMs);
        text(3, entry.serialNo);
        text(4, entry.deviceName);
        sqlite3_bind_int(statement, 5, entry.startAddress);
        text(6, entry.ch1Name);
        text(7, entry.ch2Name);
        sqlite3_bind_int(statement, 8, entry.ch1Unit);
        sqlite3_bind_int(statement, 9, entry.ch2Unit);
        text(10, entry.ch1Custom);
        text(11, entry.ch2Custom);
        sqlite3_bind_double(statement, 12, entry.ch1Low);
        sqlite3_bind_double(statement, 13, entry.ch1High);
        sqlite3_bind_double(statement, 14, entry.ch2Low);
        sqlite3_bind_double(statement, 15, entry.ch2High);
        ok = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
        if (!ok)
            break;
        // Each settings row enters the journal's chain; a journal that
        // cannot be written never holds back the settings.
        QString journalError;
        if (journal && !RecordJournal::appendRow(db, "qk_settings", sqlite3_last_insert_rowid(db),
                                                 &journalError))
            qCWarning(lcRecord).noquote()
                << "InsertSerialData : settings not in the journal :" << journalError;
    }
    sqlite3_finalize(statement);
    return ok;
}

// alarmEvents() and verifyJournal() are in recordcontextalarms.cpp.
