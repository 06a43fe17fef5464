#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

struct sqlite3;
class RecordReader;

// The context a record file keeps beside its samples, in tables of its own
// next to "fennolink" (which stays exactly as it always was, so every reader
// of the plain format still reads new files):
//   - time steps: where a row is older than the newest row before it
//     (the clock went back), kept by the writer as it writes;
//   - the settings in force: each device's name, units, alarm range and start
//     address and the data interval, from the time they hold;
//   - alarm events, their acknowledgement and verification;
//   - a journal: every context row, and a digest of every complete hour of
//     samples, chained by SHA-256.
//
// Files written by an old recorder or by another program have none of this;
// readers then fall back to the project file and say so.

// A place where time went back: the row `id` has pointDate `time`, older
// than `previousTime`, the newest pointDate of the rows before it.
struct RecordTimeStep {
    qint64 id = 0;
    qint64 time = 0;
    qint64 previousTime = 0;
};

// One device's settings as they held from `validFrom` (seconds since 1970)
// until the next entry for the same device (or the end of the recording).
struct RecordDeviceSettings {
    qint64 validFrom = 0;
    int intervalMs = 0; // the data interval in force
    QString serialNo;
    QString deviceName;
    int startAddress = 0;
    QString ch1Name;
    QString ch2Name;
    int ch1Unit = 0; // unit codes as in the project file
    int ch2Unit = 0;
    QString ch1Custom;
    QString ch2Custom;
    double ch1Low = 0;
    double ch1High = 0;
    double ch2Low = 0;
    double ch2High = 0;
    // hasAlarmLimits(low, high) (common/alarmlimits.h) decides whether a
    // channel is watched.
};

// An excursion seen by the recorder's own alarm, with what people did about it.
struct RecordAlarmEvent {
    qint64 id = 0;
    qint64 token = 0; // the event's identity, chosen by the recorder when it starts
    QString serialNo;
    int channel = 1;  // 1 or 2
    bool high = true; // the high limit was crossed (else the low one)
    double limit = 0; // the limit crossed, as in force at the start
    qint64 start = 0; // first sample outside
    qint64 end = 0;   // first sample back inside; 0 while open
    double worst = 0; // the value furthest outside
    QString ackBy;    // empty while unacknowledged
    qint64 ackAt = 0;
    QString action;     // corrective action text
    QString verifiedBy; // empty while not verified
    qint64 verifiedAt = 0;
    QString remark;
    bool isOpen() const { return end == 0; }
    bool isAcknowledged() const { return !ackBy.isEmpty(); }
};

// The outcome of checking the journal's chain and the hour digests.
struct RecordJournalVerdict {
    enum class State {
        NoJournal, // the file predates the journal (or was written by another program)
        Intact,
        Altered, // `where` says at which place the chain or an hour no longer matches
        Broken,  // the journal's tables are damaged or missing in part
    };
    State state = State::NoJournal;
    QString where;        // for the user, e.g. "hour 2026-11-03 14:00 UTC: rows differ"
    qint64 entries = 0;   // journal entries checked
    qint64 hours = 0;     // hour digests checked
    QString text() const; // "record intact", "record altered: ...", ...
};

// Reads the context tables of a record file opened by a RecordReader
// (read-only: nothing is ever added to the file through it). The writer's
// settings rows go in through storeSettings().
class RecordContext
{
public:
    explicit RecordContext(RecordReader &reader);

    // Adds the settings in force to qk_settings, inside the writer's
    // transaction on `db`, each entry into the journal's chain too when
    // `journal` (a journal that cannot be written only warns). False on an
    // SQL error.
    static bool storeSettings(sqlite3 *db, const std::vector<RecordDeviceSettings> &settings,
                              bool journal);

    // The file's schema version (0: samples only, as written by old recorders).
    int schemaVersion();
    // True when the file keeps the settings in force (else fall back to the project file).
    bool hasSettings();
    // True when the file keeps its time steps (else the order must be derived).
    bool hasTimeSteps();

    // Every time step with id in [firstId, lastId] (all when lastId <= 0).
    QVector<RecordTimeStep> timeSteps(qint64 firstId = 0, qint64 lastId = 0);

    // The settings of every device in force at `time`.
    QVector<RecordDeviceSettings> settingsAt(qint64 time);
    // Every settings entry with validFrom in [from, to], oldest first, plus
    // the entries in force at `from`.
    QVector<RecordDeviceSettings> settingsBetween(qint64 from, qint64 to);

    // Alarm events overlapping [from, to] (open events included), oldest
    // first, for the given devices (all when `serials` is empty).
    QVector<RecordAlarmEvent> alarmEvents(qint64 from, qint64 to,
                                          const QStringList &serials = QStringList());

    // Checks the journal chain and every hour digest against the samples.
    RecordJournalVerdict verifyJournal();

private:
    RecordReader &m_reader;
};
