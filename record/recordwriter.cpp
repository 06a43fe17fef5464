#include "record/recordwriter.h"

#include "common/common.h"
#include "record/insertserialdata.h"
#include "record/recordschema.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>

namespace
{

const char kInsertHead[] =
    "insert into fennolink (serialno, channel1, channel2, pointDate) values ";

QString sqliteError(sqlite3 *db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

void bindChannel(sqlite3_stmt *statement, int index, double value)
{
    // The value as the gateway sent it: a float32 widened to double is
    // stored as that double, which reads back to the same float32.
    if (value == NoValue || std::isnan(value))
        sqlite3_bind_null(statement, index);
    else
        sqlite3_bind_double(statement, index, value);
}

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The file is looked at this often between writes: deleted or replaced?
constexpr qint64 kIdentityCheckMs = 1000;

} // namespace

RecordWriter::RecordWriter(const QString &path) : m_path(path), m_pathUtf8(QFile::encodeName(path))
{
}

RecordWriter::~RecordWriter()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    if (!m_carry.empty())
        qCWarning(lcRecord).noquote()
            << "InsertSerialData :" << m_carry.size() << "rows of a database file that "
            << "went could not be written into a new file at" << m_path;
    closeFile();
}

bool RecordWriter::openFailedLocked() const
{
    const int primary = m_openErrorCode & 0xff;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool RecordWriter::open(QString *error)
{
    if (isOpen())
        return true;
    if (!openFile(error))
        return false;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

bool RecordWriter::exec(const char *sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    if (error)
        *error = QString::fromUtf8(sql) + QStringLiteral(" : ") +
                 QString::fromUtf8(message ? message : "error");
    sqlite3_free(message);
    return false;
}

bool RecordWriter::stepCached(sqlite3_stmt **cached, const char *sql, QString *error)
{
    // Prepared once per file: every batch begins and commits.
    if (!*cached && sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, cached, nullptr) !=
                        SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(sql) + QStringLiteral(" : ") + sqliteError(m_db);
        sqlite3_finalize(*cached);
        *cached = nullptr;
        return false;
    }
    const int rc = sqlite3_step(*cached);
    if (rc != SQLITE_DONE && error)
        *error = QString::fromUtf8(sql) + QStringLiteral(" : ") + sqliteError(m_db);
    sqlite3_reset(*cached);
    return rc == SQLITE_DONE;
}

bool RecordWriter::openFile(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    // The connection is used under m_connection only: SQLite's own lock
    // around every call on it would be taken for nothing.
    if (sqlite3_open_v2(m_pathUtf8.constData(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
        *error = sqliteError(m_db);
        closeFile();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    // A lock held by another program is waited for briefly here: the
    // caller may be the window, which tries again later.
    sqlite3_busy_timeout(m_db, kOpenBusyTimeoutMs);
    m_openErrorCode = SQLITE_OK;

    // page_size must come before the switch to the write-ahead log to take
    // effect on a new file; an existing file keeps its own.
    const QByteArray cache = "PRAGMA cache_size = " + QByteArray::number(kCachePages);
    bool ok = exec("PRAGMA page_size = 4096", error) && exec(cache.constData(), error);
    if (ok) {
        // The write-ahead log keeps the file whole when the program dies in
        // the middle of a write, and lets readers read while rows go in.
        // It needs the file to itself for the switch; a rollback journal
        // is just as safe, only slower, and the next opening tries again.
        sqlite3_stmt *statement = nullptr;
        QByteArray mode;
        if (sqlite3_prepare_v2(m_db, "PRAGMA journal_mode = WAL", -1, &statement, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW)
            mode = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)))
                       .toLower();
        sqlite3_finalize(statement);
        m_wal = mode == "wal";
        if (m_wal) {
            ok = exec("PRAGMA synchronous = NORMAL", error);
        } else {
            qCWarning(lcRecord).noquote()
                << "InsertSerialData::createConnection : write-ahead log not available"
                << "(journal mode" << mode << "), using a rollback journal";
            ok = exec("PRAGMA journal_mode = DELETE", error) &&
                 exec("PRAGMA synchronous = FULL", error);
        }
    }
    if (ok)
        ok = RecordSchema::ensureSamples(m_db, error);
    if (!ok) {
        m_openErrorCode = sqlite3_errcode(m_db);
        closeFile();
        return false;
    }
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    rememberIdentity();
    // The context tables: made on a file opened for writing; a file where
    // that fails is still recorded into, samples only.
    QString contextError;
    m_orderKeeper.clear();
    m_context = RecordSchema::upgrade(m_db, &contextError) && m_orderKeeper.loadKept(m_db);
    if (!m_context)
        qCWarning(lcRecord).noquote()
            << "InsertSerialData::createConnection : the file keeps its samples only:"
            << (contextError.isEmpty() ? QStringLiteral("context tables damaged") : contextError);
    m_orderKeeper.start(m_db, m_context);
    m_journal.attach(m_db);
    m_stretches.reset();
    if (m_context)
        m_stretches.attach(m_db);
    m_stretchPending = m_context && m_stretches.derivePending();
    return true;
}

void RecordWriter::contextFailed(const char *what)
{
    if (!m_context)
        return;
    m_context = false;
    m_orderKeeper.stop();
    qCWarning(lcRecord).noquote() << "InsertSerialData :" << what << ":" << sqliteError(m_db)
                                  << "; the file goes on keeping its samples only";
}

void RecordWriter::closeFile()
{
    for (auto &entry : m_statements)
        sqlite3_finalize(entry.second);
    m_statements.clear();
    sqlite3_finalize(m_begin);
    sqlite3_finalize(m_commit);
    m_begin = m_commit = nullptr;
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_device = 0;
    m_inode = 0;
    m_context = false;
    m_orderKeeper.stop();
}

void RecordWriter::rememberIdentity()
{
    struct stat info;
    if (::stat(m_pathUtf8.constData(), &info) == 0) {
        m_device = quint64(info.st_dev);
        m_inode = quint64(info.st_ino);
    }
}

bool RecordWriter::fileIsCurrent() const
{
    struct stat info;
    if (::stat(m_pathUtf8.constData(), &info) != 0)
        return false;
    return quint64(info.st_ino) == m_inode.load() && quint64(info.st_dev) == m_device.load();
}

void RecordWriter::submit(const std::shared_ptr<RecordBatch> &batch)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs.push_back(batch);
    }
    m_wake.notify_one();
}

void RecordWriter::wait(const std::shared_ptr<RecordBatch> &batch)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_finished.wait(lock, [&batch] { return batch->done.load(); });
}

void RecordWriter::writeHere(RecordBatch &batch)
{
    const bool hadRows = !batch.rows.empty();
    {
        std::lock_guard<std::mutex> connection(m_connection);
        write(batch, true);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    batch.done = true;
    // The writer thread is woken only to plan a checkpoint, not per batch.
    if (hadRows && !m_wroteSinceCheckpoint) {
        m_wroteSinceCheckpoint = true;
        m_wake.notify_all();
    }
}

void RecordWriter::run()
{
    using Clock = std::chrono::steady_clock;
    bool checkpointDue = false;
    Clock::time_point checkpointAt;
    // Rows an old file holds are first read a second after opening: the
    // window's first paint does not share the disk and processor with them.
    Clock::time_point orderRetryAt = Clock::now() + std::chrono::milliseconds(kOrderStartDelayMs);
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        // The checkpoint follows the first write after the last one.
        if (m_wroteSinceCheckpoint && !checkpointDue) {
            m_wroteSinceCheckpoint = false;
            checkpointDue = true;
            checkpointAt = Clock::now() + std::chrono::milliseconds(kCheckpointDelayMs);
        }
        if (m_jobs.empty()) {
            if (m_stop)
                break;
            // Idle: rows written before the file kept its time order and
            // its stretch figures are read for them, a step at a time,
            // between batches.
            if (idleWork() && Clock::now() >= orderRetryAt) {
                lock.unlock();
                bool progressed;
                {
                    std::lock_guard<std::mutex> connection(m_connection);
                    if (m_orderKeeper.isPending()) {
                        const auto step = m_orderKeeper.deriveStep(m_db);
                        if (step == RecordOrderKeeper::Step::Failed)
                            contextFailed("time order of the rows written before");
                        progressed = step == RecordOrderKeeper::Step::Progressed;
                    } else {
                        const auto step = m_context ? m_stretches.deriveStep(m_db)
                                                    : RecordStretches::Step::Failed;
                        m_stretchPending =
                            step != RecordStretches::Step::Failed && m_stretches.derivePending();
                        progressed = step == RecordStretches::Step::Progressed;
                    }
                }
                lock.lock();
                if (!progressed && idleWork()) // locked by another program
                    orderRetryAt = Clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
                continue;
            }
            if (!checkpointDue && !idleWork()) {
                m_wake.wait(lock);
                continue;
            }
            const Clock::time_point until =
                !checkpointDue ? orderRetryAt
                               : (idleWork() ? std::min(checkpointAt, orderRetryAt) : checkpointAt);
            if (m_wake.wait_until(lock, until) == std::cv_status::timeout && m_jobs.empty() &&
                checkpointDue && Clock::now() >= checkpointAt) {
                checkpointDue = false;
                lock.unlock();
                {
                    std::lock_guard<std::mutex> connection(m_connection);
                    checkpoint();
                }
                lock.lock();
            }
            continue;
        }
        std::shared_ptr<RecordBatch> batch = m_jobs.front();
        m_jobs.pop_front();
        lock.unlock();
        const bool hadRows = !batch->rows.empty();
        {
            std::lock_guard<std::mutex> connection(m_connection);
            // A batch without rows is a look at the file.
            write(*batch, !hadRows);
        }
        lock.lock();
        batch->done = true;
        if (hadRows)
            m_wroteSinceCheckpoint = true;
        // Woken with the lock free, so that a waiter does not wake only to
        // wait for the lock. A batch that simply went in is taken at the
        // caller's next look (isWriting(), the next write): no event per batch.
        lock.unlock();
        m_finished.notify_all();
        if (m_notify && (batch->tell || !batch->ok || !batch->recreated.isEmpty()))
            m_notify();
        lock.lock();
    }
    lock.unlock();
    // The mark of the time order as far as written.
    std::lock_guard<std::mutex> connection(m_connection);
    if (m_db && m_context && fileIsCurrent())
        m_orderKeeper.storeMark(m_db);
}

void RecordWriter::checkpoint()
{
    // A file that went is dealt with at the next write.
    if (!m_db || !fileIsCurrent())
        return;
    // Passive: copies what it can without waiting for readers or writers.
    int logFrames = 0;
    int copiedFrames = 0;
    const int rc = sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, &logFrames,
                                             &copiedFrames);
    if (rc != SQLITE_OK)
        qCDebug(lcRecord).noquote() << "InsertSerialData : checkpoint :" << sqliteError(m_db);
    else if (copiedFrames >= logFrames)
        m_sinceCheckpoint.clear(); // every row is in the file itself now
}

void RecordWriter::write(RecordBatch &batch, bool checkNow)
{
    // With the rows kept since the last checkpoint, a file that went before
    // this batch is caught after it and the batch goes into the new file
    // with them; without them (no write-ahead log) it is checked first.
    const bool checkFirst = !m_db || !m_wal || !m_carry.empty();
    if (checkFirst && !switchFileIfGone(batch)) {
        batch.ok = false;
        return;
    }
    batch.ok = insertRows(batch.rows, batch.settings, &batch.error, &batch.ops, &batch.opsWritten);
    if (!batch.ok) {
        // Looked at again at once: a file that went is a cause of failure.
        m_identityCheckedAt = 0;
        return;
    }
    // Written: the rows move on to wait for the checkpoint (the caller needs
    // them back only when a write fails).
    keepUntilCheckpoint(std::move(batch.rows));
    batch.rows.clear();
    // A file deleted while this batch went in took the batch with it; the
    // new file gets it from the rows kept since the last checkpoint (or, if
    // no new file can be made now, at the next write). Looked at once a
    // second, not per batch: until the checkpoint, the rows are kept anyway.
    const qint64 now = steadyMs();
    if (!checkNow && now - m_identityCheckedAt < kIdentityCheckMs)
        return;
    m_identityCheckedAt = now;
    if (!fileIsCurrent()) {
        RecordBatch after;
        switchFileIfGone(after);
        batch.recreated = after.recreated;
    }
}

bool RecordWriter::switchFileIfGone(RecordBatch &batch)
{
    if (m_db && !fileIsCurrent()) {
        // Deleted, moved or replaced under us: rows written into the old
        // file would be gone with it.
        closeFile();
        if (QFile::exists(m_path)) {
            // Another file in its place is never written into: it goes
            // aside under a name that says so.
            const QString aside =
                m_path + QStringLiteral(".replaced-") +
                QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
            if (!QFile::rename(m_path, aside)) {
                batch.error = QStringLiteral(
                    "the database file was replaced by another file, which cannot be "
                    "moved aside");
                return false;
            }
            batch.recreated = QStringLiteral("the file was replaced by another file, now %1")
                                  .arg(QFileInfo(aside).fileName());
        } else {
            batch.recreated = QStringLiteral("the file was deleted or moved away");
        }
        // The old log and index belong to the file that went; a new file
        // must not pick them up.
        QFile::remove(m_path + QStringLiteral("-wal"));
        QFile::remove(m_path + QStringLiteral("-shm"));
        qCWarning(lcRecord).noquote() << "InsertSerialData : database file" << m_path << ":"
                                      << batch.recreated << "; recording goes on into a new file";
        m_carry.insert(m_carry.end(), m_sinceCheckpoint.begin(), m_sinceCheckpoint.end());
        m_sinceCheckpoint.clear();
    }
    if (!m_db && !openFile(&batch.error))
        return false;
    if (!m_carry.empty()) {
        if (!insertRows(m_carry, {}, &batch.error))
            return false;
        keepUntilCheckpoint(std::move(m_carry));
        m_carry.clear();
    }
    return true;
}

void RecordWriter::keepUntilCheckpoint(std::vector<SerialRecord> &&rows)
{
    if (!m_wal)
        return;
    m_sinceCheckpoint.insert(m_sinceCheckpoint.end(), std::make_move_iterator(rows.begin()),
                             std::make_move_iterator(rows.end()));
    while (m_sinceCheckpoint.size() > kKeptRowsLimit)
        m_sinceCheckpoint.pop_front();
}

const QByteArray *RecordWriter::serialText(const QString &serial)
{
    size_t at = m_serialGuess;
    if (at >= m_serialTexts.size() || m_serialTexts[at].serial != serial) {
        const auto found = m_serialIndex.constFind(serial);
        if (found != m_serialIndex.constEnd()) {
            at = size_t(found.value());
        } else {
            at = m_serialTexts.size();
            m_serialTexts.push_back({serial, serial.toUtf8()});
            m_serialIndex.insert(serial, int(at));
        }
    }
    m_serialGuess = at + 1 < m_serialTexts.size() ? at + 1 : 0;
    return &m_serialTexts[at].utf8;
}

sqlite3_stmt *RecordWriter::insertStatement(int rows)
{
    for (const auto &entry : m_statements) {
        if (entry.first == rows)
            return entry.second;
    }
    if (m_statements.size() >= 8) {
        // Keep the usual batch sizes; odd ones come and go.
        for (auto &entry : m_statements)
            sqlite3_finalize(entry.second);
        m_statements.clear();
    }
    QByteArray text(kInsertHead);
    text.reserve(text.size() + rows * 14 + 1);
    for (int i = 0; i < rows; ++i)
        text += i == 0 ? "(?,?,?,?)" : ",(?,?,?,?)";
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v3(m_db, text.constData(), text.size() + 1, SQLITE_PREPARE_PERSISTENT,
                           &statement, nullptr) != SQLITE_OK)
        return nullptr;
    m_statements.emplace_back(rows, statement);
    return statement;
}

bool RecordWriter::insertRows(const std::vector<SerialRecord> &batchRows,
                              const std::vector<RecordDeviceSettings> &settings, QString *error,
                              const std::vector<RecordContextOp> *ops, bool *opsWritten)
{
    if (batchRows.empty() && settings.empty() && (!ops || ops->empty()))
        return true;
    if (!stepCached(&m_begin, "BEGIN IMMEDIATE", error))
        return false;
    const RecordOrderKeeper::Mark orderBefore = m_orderKeeper.mark();
    const auto rollback = [&] {
        exec("ROLLBACK", nullptr);
        m_orderKeeper.rollBack(orderBefore);
        m_stretches.undo();
    };
    // Bound texts stay put until the statement has run: clear only here.
    if (m_serialTexts.size() > 1000) {
        m_serialTexts.clear();
        m_serialIndex.clear();
    }
    const int total = int(batchRows.size());
    m_rowSerials.resize(batchRows.size());
    for (int done = 0; done < total;) {
        const int rows = qMin(kRowsPerStatement, total - done);
        sqlite3_stmt *statement = insertStatement(rows);
        if (!statement) {
            *error = sqliteError(m_db);
            rollback();
            return false;
        }
        int index = 1;
        for (int i = 0; i < rows; ++i) {
            const SerialRecord &row = batchRows[size_t(done + i)];
            // serialno is "not null": a row without a device number must not
            // hold back every row queued after it.
            const QByteArray *serial = serialText(row.serialNo);
            m_rowSerials[size_t(done + i)] = serial;
            sqlite3_bind_text(statement, index++, serial->constData(), serial->size(),
                              SQLITE_STATIC);
            bindChannel(statement, index++, row.channel1);
            bindChannel(statement, index++, row.channel2);
            sqlite3_bind_int64(statement, index++, sqlite3_int64(row.pointDate));
        }
        const int rc = sqlite3_step(statement);
        if (rc != SQLITE_DONE)
            *error = sqliteError(m_db);
        sqlite3_reset(statement); // every parameter is bound again for the next rows
        if (rc != SQLITE_DONE) {
            rollback();
            return false;
        }
        // One statement takes consecutive ids.
        const qint64 firstId = sqlite3_last_insert_rowid(m_db) - rows + 1;
        const SerialRecord *inserted = &batchRows[size_t(done)];
        if (m_context && !m_orderKeeper.follow(m_db, inserted, rows, firstId))
            contextFailed("time order");
        if (m_context)
            m_stretches.follow(inserted, rows, firstId, &m_rowSerials[size_t(done)]);
        done += rows;
    }
    // Hour seals and alarm changes go in with the rows, or not at all; a
    // journal that fails never holds back the samples.
    const bool journaled =
        m_journal.afterInsert(m_db, batchRows, sqlite3_last_insert_rowid(m_db), ops, m_rowSerials);
    // The settings and the time order go in with the rows too; a file whose
    // context tables are damaged keeps its samples (a missing table is an
    // SQL error, whereas a full disk or a lock fails the whole batch, which
    // is tried again).
    const auto contextOk = [&](bool ok, const char *what) {
        if (ok)
            return true;
        if ((sqlite3_errcode(m_db) & 0xff) != SQLITE_ERROR) {
            *error = sqliteError(m_db);
            return false;
        }
        contextFailed(what);
        return true;
    };
    QString stretchError;
    if (!settings.empty() && !m_context)
        qCWarning(lcRecord).noquote()
            << "InsertSerialData :" << settings.size() << "settings entries not kept: samples only";
    if (!(m_context ? contextOk(RecordContext::storeSettings(m_db, settings, m_journal.isUsable()),
                                "settings in force")
                    : true) ||
        !(m_context ? contextOk(m_orderKeeper.store(m_db, false), "time order") : true) ||
        !(m_context ? contextOk(m_stretches.store(m_db, &stretchError), "stretch figures")
                    : true) ||
        !stepCached(&m_commit, "COMMIT", error)) {
        rollback();
        m_journal.load(m_db);
        return false;
    }
    if (opsWritten)
        *opsWritten = journaled;
    m_orderKeeper.committed();
    return true;
}
