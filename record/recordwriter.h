#pragma once

#include "record/recordcontext.h"
#include "record/recordjournal.h"
#include "record/recordorderkeeper.h"
#include "record/recordstretches.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;
struct SerialRecord;

// One batch of rows on its way into the file, with the outcome of its write.
// The writer thread fills the outcome and then sets `done`; until then only
// the writer touches the batch.
struct RecordBatch {
    std::vector<SerialRecord> rows;
    // Settings in force to store with the rows (in the same transaction).
    std::vector<RecordDeviceSettings> settings;
    bool ok = false;
    QString error;
    // The file at the path was gone or was another file: a new file was
    // started there before these rows were written (reason in the text).
    QString recreated;
    // Changes to the alarm tables, written in the same transaction as the
    // rows; `opsWritten` tells whether they went in (else they are kept).
    std::vector<RecordContextOp> ops;
    bool opsWritten = false;
    // The caller wants to hear of this batch through the notifier even when
    // it went in (after a failure, or with alarm entries); a batch that
    // fails or found its file gone is always told.
    bool tell = false;
    // Since when the oldest of these rows waited (the caller's clock).
    qint64 waitingSince = -1;
    std::atomic<bool> done{false};
};

// Writes batches of rows into one record database from a thread of its own,
// so that a slow, locked or full disk never holds up the caller. The
// connection goes through SQLite's C interface: write-ahead log, page size
// 4096, a page cache of a few MiB (a recorder only appends), and a passive
// checkpoint about a second after the last write, so that the database file
// alone holds every row older than a few seconds.
//
// Before and after each batch the writer checks that the file at the path is
// still the one it opened. When it was deleted or replaced, the writer closes
// the old file, starts a new one at the path and writes the batch there.
class RecordWriter
{
public:
    // Pages of 4096 bytes kept in the page cache (4 MiB).
    static constexpr int kCachePages = 1024;
    // A write waits this long for a lock held by another program, then fails
    // and is retried by the caller later.
    static constexpr int kBusyTimeoutMs = 1000;
    // Rows written before the file kept its time order are first read this
    // long after opening.
    static constexpr int kOrderStartDelayMs = 1000;
    // Opening waits this long for such a lock.
    static constexpr int kOpenBusyTimeoutMs = 250;
    // Delay between the last write and the passive checkpoint.
    static constexpr int kCheckpointDelayMs = 1000;
    // Rows kept for a new file at most (the oldest go first).
    static constexpr size_t kKeptRowsLimit = 200000;
    // Rows per insert statement: four bound values per row, kept within the
    // 999 variables every SQLite build accepts.
    static constexpr int kRowsPerStatement = 999 / 4;

    using Notify = std::function<void()>;

    explicit RecordWriter(const QString &path);
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // Opens (creates) and prepares the file on the calling thread and starts
    // the writer thread; false with *error set when the file cannot be used.
    bool open(QString *error);
    bool isOpen() const { return m_thread.joinable(); }
    // Why the last open failed: true when another program held a lock.
    bool openFailedLocked() const;
    QString path() const { return m_path; }

    // Called on the writer thread after each batch is done.
    void setNotify(Notify notify) { m_notify = std::move(notify); }

    // Hands a batch to the writer thread and returns at once.
    void submit(const std::shared_ptr<RecordBatch> &batch);
    // Blocks the caller until the batch is done.
    void wait(const std::shared_ptr<RecordBatch> &batch);
    // Writes a batch on the calling thread, which waits anyway; the writer
    // thread keeps off the file meanwhile. No notification.
    void writeHere(RecordBatch &batch);

    // Whether the file at the path is still the one being written to.
    bool fileIsCurrent() const;

    // True while rows written before the file kept its time order are
    // still being read for it (in the writer's idle time).
    bool orderPending() const { return m_orderKeeper.isPending(); }
    // Called on the writer thread when that reading is done.
    void setOrderNotify(Notify notify) { m_orderKeeper.setNotify(std::move(notify)); }

    // Whether the file keeps its context tables (false for a file whose
    // context tables could not be made or were damaged: samples only).
    bool keepsContext() const { return m_context.load(); }

private:
    bool openFile(QString *error);
    void closeFile();
    void run();
    // checkNow: look whether the file went even if it was looked at less
    // than a second ago.
    void write(RecordBatch &batch, bool checkNow);
    // Starts a new file when the one at the path went; false when no file
    // can be written to.
    bool switchFileIfGone(RecordBatch &batch);
    bool insertRows(const std::vector<SerialRecord> &rows,
                    const std::vector<RecordDeviceSettings> &settings, QString *error,
                    const std::vector<RecordContextOp> *ops = nullptr, bool *opsWritten = nullptr);
    void contextFailed(const char *what);
    void keepUntilCheckpoint(std::vector<SerialRecord> &&rows);
    sqlite3_stmt *insertStatement(int rows);
    bool exec(const char *sql, QString *error);
    bool stepCached(sqlite3_stmt **cached, const char *sql, QString *error);
    void checkpoint();
    void rememberIdentity();

    QString m_path;
    QByteArray m_pathUtf8;
    sqlite3 *m_db = nullptr;
    std::vector<std::pair<int, sqlite3_stmt *>> m_statements;
    sqlite3_stmt *m_begin = nullptr;
    sqlite3_stmt *m_commit = nullptr;
    bool m_wal = false;
    int m_openErrorCode = 0;
    // The journal of the open file: hour seals and alarm changes.
    RecordJournal m_journal;
    // What each device's rows add up to per stretch, kept as they go in.
    RecordStretches m_stretches;
    // Rows the file held when opened still to be summed up (idle time).
    std::atomic<bool> m_stretchPending{false};
    bool idleWork() const { return m_orderKeeper.isPending() || m_stretchPending.load(); }
    // Device numbers in UTF-8, as SQLite stores them (a few dozen at most),
    // in the order first seen: the devices take turns, so the one after the
    // last is looked at first. A deque, so that texts stay put as it grows.
    struct SerialText {
        QString serial;
        QByteArray utf8;
    };
    std::deque<SerialText> m_serialTexts;
    QHash<QString, int> m_serialIndex;
    size_t m_serialGuess = 0;
    // The UTF-8 device number of each row of the batch being written.
    std::vector<const QByteArray *> m_rowSerials;
    const QByteArray *serialText(const QString &serial);
    // Rows committed since the last complete checkpoint: they live only in
    // the log, which goes with the file when the file is deleted or moved
    // away; a new file gets them again. Writer thread only.
    std::deque<SerialRecord> m_sinceCheckpoint;
    // Rows still to be written into a new file before any other.
    std::vector<SerialRecord> m_carry;
    // Device and inode of the file opened, for fileIsCurrent().
    std::atomic<quint64> m_device{0};
    std::atomic<quint64> m_inode{0};

    Notify m_notify;
    // Where time goes back among the rows, and the reading of rows written
    // before the file kept it.
    RecordOrderKeeper m_orderKeeper;
    qint64 m_identityCheckedAt = 0;
    std::atomic<bool> m_context{false};
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;     // new work or stop
    std::condition_variable m_finished; // a batch is done
    std::deque<std::shared_ptr<RecordBatch>> m_jobs;
    bool m_stop = false;
    bool m_wroteSinceCheckpoint = false; // under m_mutex
    // Held while the connection is in use (by the writer thread or writeHere()).
    std::mutex m_connection;
};
