// The alarm events and the journal of a record file, as RecordContext reads them.
#include "record/journalverifier.h"
#include "record/recordcontext.h"
#include "record/recordreader.h"
#include "record/sqlstatement.h"

#include <QHash>

#include <sqlite3.h>

namespace
{

struct PersonEntry {
    QString by;
    qint64 at = 0;
    QString text;
};

// The latest acknowledgement (or verification) of every event, by token.
QHash<qint64, PersonEntry> latestEntries(sqlite3 *db, const char *sql)
{
    QHash<qint64, PersonEntry> entries;
    SqlStatement select(db, sql);
    while (select.step() == SQLITE_ROW)
        entries.insert(select.int64(0), {select.text(1), select.int64(2), select.text(3)});
    return entries;
}

} // namespace

QVector<RecordAlarmEvent> RecordContext::alarmEvents(qint64 from, qint64 to,
                                                     const QStringList &serials)
{
    QVector<RecordAlarmEvent> events;
    sqlite3 *db = m_reader.handle();
    if (!db)
        return events;
    SqlStatement select(db, "select id, token, serialno, channel, high, limit_value, start_time, "
                            "end_time, worst from qk_alarm_events where start_time <= ?2 and "
                            "(end_time is null or end_time >= ?1) order by start_time, id");
    if (!select.isValid())
        return events; // a file without alarm events (or with the table damaged)
    select.bind(1, from);
    select.bind(2, to);
    while (select.step() == SQLITE_ROW) {
        RecordAlarmEvent event;
        event.serialNo = select.text(2);
        if (!serials.isEmpty() && !serials.contains(event.serialNo))
            continue;
        event.id = select.int64(0);
        event.token = select.int64(1);
        event.channel = int(select.int64(3));
        event.high = select.int64(4) != 0;
        event.limit = select.real(5);
        event.start = select.int64(6);
        event.end = select.isNull(7) ? 0 : select.int64(7);
        event.worst = select.real(8);
        events.append(event);
    }
    select.finish();
    if (events.isEmpty())
        return events;
    // Ordered by id, so the latest entry of an event is the one kept.
    const QHash<qint64, PersonEntry> acks = latestEntries(
        db, "select event_token, ack_by, ack_at, action from qk_alarm_acks order by id");
    const QHash<qint64, PersonEntry> checks =
        latestEntries(db, "select event_token, verified_by, verified_at, remark from "
                          "qk_alarm_verifications order by id");
    for (RecordAlarmEvent &event : events) {
        const auto ack = acks.constFind(event.token);
        if (ack != acks.constEnd()) {
            event.ackBy = ack->by;
            event.ackAt = ack->at;
            event.action = ack->text;
        }
        const auto check = checks.constFind(event.token);
        if (check != checks.constEnd()) {
            event.verifiedBy = check->by;
            event.verifiedAt = check->at;
            event.remark = check->text;
        }
    }
    return events;
}

RecordJournalVerdict RecordContext::verifyJournal()
{
    if (!m_reader.handle()) {
        RecordJournalVerdict verdict;
        verdict.state = RecordJournalVerdict::State::Broken;
        verdict.where = QStringLiteral("the record file is not open");
        return verdict;
    }
    JournalVerifier verifier(m_reader.handle());
    return verifier.verify();
}
