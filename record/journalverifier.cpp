#include "record/journalverifier.h"

#include "record/recordjournal.h"
#include "record/recordreader.h"
#include "record/sqlstatement.h"

#include <QDateTime>
#include <QFuture>
#include <QSet>
#include <QThreadPool>
#include <QtConcurrent>

#include <sqlite3.h>

#include <limits>

namespace
{

// The tables whose rows the recorder always journals.
const char *const kAlarmTables[] = {"qk_alarm_events", "qk_alarm_acks", "qk_alarm_verifications"};

// Sealed hours from which the check reads with two connections at once.
constexpr int kHoursToSplit = 48;

QString hourText(qint64 hourStart)
{
    return QDateTime::fromSecsSinceEpoch(hourStart, Qt::UTC)
        .toString(QStringLiteral("yyyy-MM-dd HH:00 'UTC'"));
}

} // namespace

bool JournalVerifier::tableExists(const char *name)
{
    SqlStatement exists(m_db, "select 1 from sqlite_master where type='table' and name=?1");
    exists.bind(1, QByteArray(name));
    return exists.step() == SQLITE_ROW;
}

RecordJournalVerdict JournalVerifier::verify()
{
    using State = RecordJournalVerdict::State;
    RecordJournalVerdict verdict;
    m_rows.clear();
    m_hours.clear();
    if (!tableExists(RecordJournal::kJournalTable)) {
        // A file of the version that brings the journal, or with alarm
        // tables, had one.
        SqlStatement version(m_db, "PRAGMA user_version");
        bool hadOne =
            version.step() == SQLITE_ROW && version.int64(0) >= RecordJournal::kSchemaVersion;
        for (const char *table : kAlarmTables)
            hadOne = hadOne || tableExists(table);
        if (hadOne) {
            verdict.state = State::Broken;
            verdict.where = QStringLiteral("the journal table is missing");
        }
        return verdict;
    }

    // The chain, entry by entry.
    SqlStatement entries(m_db,
                         "select seq, tbl, row_id, content, hash from qk_journal order by seq");
    QByteArray previous;
    qint64 expected = 1;
    int rc;
    while ((rc = entries.step()) == SQLITE_ROW) {
        if (cancelled()) {
            verdict.state = State::Broken;
            verdict.where = QStringLiteral("cancelled");
            return verdict;
        }
        const qint64 seq = entries.int64(0);
        const QByteArray table = entries.bytes(1);
        const qint64 rowId = entries.int64(2);
        const QByteArray content = entries.bytes(3);
        verdict.state = State::Altered;
        if (seq != expected) {
            verdict.where = seq > expected
                                ? QStringLiteral("journal entry %1 was deleted").arg(expected)
                                : QStringLiteral("journal entry %1 was inserted").arg(seq);
            return verdict;
        }
        if (RecordJournal::chainHash(previous, seq, table, rowId, content) != entries.bytes(4)) {
            verdict.where = QStringLiteral("journal entry %1 (%2) was changed")
                                .arg(seq)
                                .arg(QString::fromUtf8(table));
            return verdict;
        }
        previous = entries.bytes(4);
        ++expected;
        ++verdict.entries;
        if (table == RecordJournal::kHourEntry)
            m_hours.append({seq, rowId, content});
        else if (!table.startsWith('#'))
            m_rows[table].insert(rowId, {seq, content});
    }
    if (rc != SQLITE_DONE || verdict.entries == 0) {
        verdict.state = State::Broken;
        verdict.where = QStringLiteral("the journal cannot be read (%1)").arg(entries.errorText());
        return verdict;
    }
    entries.finish();

    Finding finding;
    verdict.state = State::Intact;
    checkRows(&finding, &verdict);
    if (verdict.state == State::Intact)
        checkHours(&finding, &verdict);
    if (verdict.state == State::Intact && finding.seq >= 0) {
        verdict.state = State::Altered;
        verdict.where = finding.where;
    }
    return verdict;
}

void JournalVerifier::checkRows(Finding *finding, RecordJournalVerdict *verdict)
{
    QList<QByteArray> tables = m_rows.keys();
    for (const char *table : kAlarmTables) {
        if (!tables.contains(table))
            tables << table;
    }
    const qint64 noEntry = std::numeric_limits<qint64>::max();
    for (const QByteArray &table : qAsConst(tables)) {
        const QHash<qint64, Entry> journaled = m_rows.value(table);
        if (!tableExists(table.constData())) {
            if (journaled.isEmpty())
                continue;
            verdict->state = RecordJournalVerdict::State::Broken;
            verdict->where =
                QStringLiteral("the table %1 is missing").arg(QString::fromUtf8(table));
            return;
        }
        // Every row of the table, in rowid order, against its latest entry.
        const QByteArray sql = "select rowid, * from \"" + table + "\" order by rowid";
        SqlStatement rows(m_db, sql.constData());
        sqlite3_stmt *statement = rows.handle();
        QSet<qint64> seen;
        int rc;
        while ((rc = rows.step()) == SQLITE_ROW) {
            const qint64 rowId = rows.int64(0);
            seen.insert(rowId);
            const auto entry = journaled.constFind(rowId);
            const QString name =
                QStringLiteral("%1 row %2").arg(QString::fromUtf8(table)).arg(rowId);
            if (entry == journaled.constEnd()) {
                finding->note(noEntry, name + QStringLiteral(" was added by another program"));
                continue;
            }
            // The content without the leading rowid column.
            QByteArray content = RecordJournal::rowContent(statement);
            content = content.mid(content.indexOf(';') + 1);
            if (content != entry->content)
                finding->note(entry->seq, name + QStringLiteral(" was changed"));
        }
        if (rc != SQLITE_DONE) {
            verdict->state = RecordJournalVerdict::State::Broken;
            verdict->where = QStringLiteral("the table %1 cannot be read (%2)")
                                 .arg(QString::fromUtf8(table), rows.errorText());
            return;
        }
        for (auto it = journaled.constBegin(); it != journaled.constEnd(); ++it) {
            if (!seen.contains(it.key()))
                finding->note(it->seq, QStringLiteral("%1 row %2 was deleted")
                                           .arg(QString::fromUtf8(table))
                                           .arg(it.key()));
        }
    }
}

void JournalVerifier::checkHours(Finding *finding, RecordJournalVerdict *verdict)
{
    // Hours are independent of each other: with many, the later half is read
    // by a second connection on a thread of its own at the same time, and the
    // first place is taken from both halves as one pass in order finds it.
    const QByteArray file = sqlite3_db_filename(m_db, "main");
    const int split =
        m_hours.size() >= kHoursToSplit && !file.isEmpty() ? m_hours.size() / 2 : m_hours.size();
    if (split == m_hours.size()) {
        checkHourRange(m_db, 0, split, finding, verdict);
        return;
    }
    Finding later = *finding;
    RecordJournalVerdict laterVerdict;
    QThreadPool pool;
    pool.setMaxThreadCount(1);
    QFuture<void> second = QtConcurrent::run(&pool, [&] {
        RecordReader own;
        if (own.open(QString::fromUtf8(file))) {
            checkHourRange(own.handle(), split, m_hours.size(), &later, &laterVerdict);
        } else {
            laterVerdict.state = RecordJournalVerdict::State::Broken;
            laterVerdict.where = own.errorText();
        }
    });
    checkHourRange(m_db, 0, split, finding, verdict);
    second.waitForFinished();
    if (verdict->state == RecordJournalVerdict::State::Broken ||
        (finding->seq >= 0 && m_hours.at(split).seq > finding->seq))
        return; // one pass would not have gone on to the later half
    if (laterVerdict.state == RecordJournalVerdict::State::Broken) {
        verdict->state = laterVerdict.state;
        verdict->where = laterVerdict.where;
        return;
    }
    verdict->hours += laterVerdict.hours;
    if (later.seq >= 0)
        finding->note(later.seq, later.where);
}

void JournalVerifier::checkHourRange(sqlite3 *db, int from, int to, Finding *finding,
                                     RecordJournalVerdict *verdict) const
{
    for (int h = from; h < to; ++h) {
        const Hour &hour = m_hours.at(h);
        // Only the first place counts: hours after it need no reading.
        if (cancelled()) {
            verdict->state = RecordJournalVerdict::State::Broken;
            verdict->where = QStringLiteral("cancelled");
            return;
        }
        if (finding->seq >= 0 && hour.seq > finding->seq)
            return;
        qint64 first = 0, last = 0, rows = 0, found = 0;
        QByteArray digest, actual;
        const QString name = QStringLiteral("hour %1").arg(hourText(hour.hour));
        if (!RecordJournal::parseHour(hour.content, &first, &last, &rows, &digest)) {
            finding->note(hour.seq, name + QStringLiteral(": its seal is unreadable"));
            return;
        }
        QString error;
        if (!RecordJournal::hourDigest(db, first, last, &found, &actual, &error)) {
            verdict->state = RecordJournalVerdict::State::Broken;
            verdict->where = name + QStringLiteral(": the samples cannot be read (%1)").arg(error);
            return;
        }
        ++verdict->hours;
        const QString ids = QStringLiteral(" (rows %1 to %2)").arg(first).arg(last);
        if (found < rows)
            finding->note(hour.seq,
                          name + ids + QStringLiteral(": %1 rows deleted").arg(rows - found));
        else if (found > rows)
            finding->note(hour.seq,
                          name + ids + QStringLiteral(": %1 rows inserted").arg(found - rows));
        else if (actual != digest)
            finding->note(hour.seq, name + ids + QStringLiteral(": rows changed"));
    }
}

RecordJournalVerdict JournalVerifier::verifyFile(const QString &path,
                                                 const std::atomic<bool> *cancel)
{
    RecordReader reader;
    if (!reader.open(path)) {
        RecordJournalVerdict verdict;
        verdict.state = RecordJournalVerdict::State::Broken;
        verdict.where = reader.errorText();
        return verdict;
    }
    JournalVerifier verifier(reader.handle(), cancel);
    return verifier.verify();
}
