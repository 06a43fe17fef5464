#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct SerialRecord;
class RowDigest;

// A change to the alarm tables of a record file, made on the window's thread
// and written by the record writer's thread together with the next batch of
// rows. Events are known by a token chosen when they start, so that a person
// can acknowledge an event before its first write has happened.
struct RecordContextOp {
    enum class Kind { EventOpen, EventUpdate, EventClose, Acknowledge, Verify };
    Kind kind = Kind::EventOpen;
    qint64 token = 0;
    QString serialNo; // EventOpen
    int channel = 1;  // EventOpen
    bool high = true; // EventOpen
    double limit = 0; // EventOpen
    qint64 time = 0;  // start (open), end (close), acknowledged / verified at
    double worst = 0; // EventOpen, EventUpdate, EventClose
    QString person;   // Acknowledge, Verify
    QString text;     // corrective action, remark
};

// The tamper-evident journal of a record file, on the writer's side.
//
// Every row of the context tables (settings, alarm events, acknowledgements,
// verifications) enters the table "qk_journal" when it is written or
// changed: its table, its rowid and a canonical text of all its columns, with
// a SHA-256 over that entry and the hash of the entry before it. When the
// writer has written rows of a new hour, the rows written in the hour before
// (an id range) are sealed: their count and a SHA-256 of their content enter
// the chain as well. Rows of the running hour are not sealed yet.
//
// Nothing here ever fails a batch of samples: a journal that cannot be
// written is logged, and the samples go in all the same.
class RecordJournal
{
public:
    static constexpr const char *kJournalTable = "qk_journal";
    // The schema version from which a record file keeps the journal.
    static constexpr int kSchemaVersion = 2;
    // Journal entries that are not rows of a table.
    static constexpr const char *kStartEntry = "#start"; // row_id: last id not covered
    static constexpr const char *kHourEntry = "#hour";   // row_id: the hour (seconds)

    // The alarm tables and the journal, as the schema step that brings them
    // creates them.
    static constexpr const char kTablesSql[] =
        // An excursion: `token` is chosen by the recorder when it starts.
        "create table if not exists qk_alarm_events (id integer primary key, token integer not "
        "null unique, serialno text not null, channel integer not null, high integer not null, "
        "limit_value real, start_time integer not null, end_time integer, worst real);"
        "create index if not exists qk_alarm_events_start on qk_alarm_events (start_time);"
        "create table if not exists qk_alarm_acks (id integer primary key, event_token integer "
        "not null, ack_by text not null, ack_at integer not null, action text not null);"
        "create table if not exists qk_alarm_verifications (id integer primary key, event_token "
        "integer not null, verified_by text not null, verified_at integer not null, remark text "
        "not null);"
        // The chain: `content` is the canonical text of the row (or the hour
        // seal), `hash` the SHA-256 over it and the hash of entry seq - 1.
        "create table if not exists qk_journal (seq integer primary key, tbl text not null, "
        "row_id integer not null, content blob not null, hash text not null);";

    // Creates the alarm tables and the journal where they are missing, and
    // starts an empty journal with an entry saying from which sample id it
    // covers the rows. Run inside a write transaction or on its own.
    static bool createTables(sqlite3 *db, QString *error);
    // Appends the current content of row `rowId` of `table` to the chain.
    // Inside the caller's transaction.
    static bool appendRow(sqlite3 *db, const char *table, qint64 rowId, QString *error);
    // One link of the chain with the given content.
    static bool appendLink(sqlite3 *db, const char *table, qint64 rowId, const QByteArray &content,
                           QString *error);
    // The canonical text of the current row of a statement (every column,
    // typed), as entered in the journal.
    static QByteArray rowContent(sqlite3_stmt *statement);
    // The hash of an entry given the hash of the one before it.
    static QByteArray chainHash(const QByteArray &previous, qint64 seq, const QByteArray &table,
                                qint64 rowId, const QByteArray &content);
    // Count and SHA-256 (hex) of the samples with id in [firstId, lastId].
    static bool hourDigest(sqlite3 *db, qint64 firstId, qint64 lastId, qint64 *rows,
                           QByteArray *digest, QString *error);
    // The text of an hour seal, and back.
    static QByteArray hourContent(qint64 firstId, qint64 lastId, qint64 rows,
                                  const QByteArray &digest);
    static bool parseHour(const QByteArray &content, qint64 *firstId, qint64 *lastId, qint64 *rows,
                          QByteArray *digest);

    // Makes the file ready for the journal when the writer opens it: the
    // tables, events a previous run left open (it ended without closing
    // them) closed at the time of the file's last sample, and load().
    void attach(sqlite3 *db);
    // Learns where the unsealed rows of the file begin (after opening, and
    // after a write was rolled back).
    void load(sqlite3 *db);
    // Called inside the write transaction after `rows` went in, the last of
    // them with id `lastId`: seals completed hours and writes `ops`. Returns
    // whether the ops were written (on failure they are kept by the caller).
    // `serials` holds each row's device number in UTF-8 as it was bound.
    bool afterInsert(sqlite3 *db, const std::vector<SerialRecord> &rows, qint64 lastId,
                     const std::vector<RecordContextOp> *ops,
                     const std::vector<const QByteArray *> &serials);
    bool isUsable() const { return m_usable; }

private:
    bool seal(sqlite3 *db, qint64 lastId, QString *error);
    bool applyOp(sqlite3 *db, const RecordContextOp &op, QString *error);
    bool closeStale(sqlite3 *db, QString *error);
    // Hashes row `id` as it went in, for the seal of its hour.
    void follow(qint64 id, const SerialRecord &row, const QByteArray &serial);
    void restartRunning(qint64 nextId);

    bool m_usable = false;
    bool m_warned = false;     // an unreadable journal is logged once
    qint64 m_segmentFirst = 1; // first id not sealed
    qint64 m_segmentHour = -1; // hour of the unsealed rows; -1 none yet
    // The unsealed rows hashed as they went in, so that an hour is sealed
    // without reading it back; none when they are not all known here (the
    // file was opened with unsealed rows, another program wrote between two
    // batches, a write was undone): that hour is then read back.
    std::shared_ptr<RowDigest> m_running;
    qint64 m_runningNext = 0; // the id the next row must have to go on
};
