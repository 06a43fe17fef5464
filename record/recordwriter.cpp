#include "record/recordwriter.h"

#include "common/common.h"
#include "record/insertserialdata.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cmath>

namespace
{

const char kCreateTable[] =
    "create table fennolink (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) not "
    "null, "
    "\t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)";

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

bool RecordWriter::ensureTable(sqlite3 *db, QString *error)
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
        *error = sqliteError(db);
        return false;
    }
    if (sqlite3_exec(db, kCreateTable, nullptr, nullptr, nullptr) != SQLITE_OK) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : create table : query error";
        *error = sqliteError(db);
        return false;
    }
    qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : create table";
    return true;
}

bool RecordWriter::openFile(QString *error)
{
    QString ignored;
    if (!error)
        error = &ignored;
    if (sqlite3_open_v2(m_pathUtf8.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        *error = sqliteError(m_db);
        closeFile();
        return false;
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);

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
        ok = ensureTable(m_db, error);
    if (ok)
        m_journal.attach(m_db);
    if (!ok) {
        closeFile();
        return false;
    }
    rememberIdentity();
    return true;
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
    {
        std::lock_guard<std::mutex> connection(m_connection);
        write(batch);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    batch.done = true;
    // The writer thread is woken only to plan a checkpoint, not per batch.
    if (!batch.rows.empty() && !m_wroteSinceCheckpoint) {
        m_wroteSinceCheckpoint = true;
        m_wake.notify_all();
    }
}

void RecordWriter::run()
{
    using Clock = std::chrono::steady_clock;
    bool checkpointDue = false;
    Clock::time_point checkpointAt;
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
            if (!checkpointDue) {
                m_wake.wait(lock);
                continue;
            }
            if (m_wake.wait_until(lock, checkpointAt) == std::cv_status::timeout &&
                m_jobs.empty()) {
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
        {
            std::lock_guard<std::mutex> connection(m_connection);
            write(*batch);
        }
        lock.lock();
        batch->done = true;
        m_finished.notify_all();
        if (!batch->rows.empty())
            m_wroteSinceCheckpoint = true;
        if (m_notify) {
            lock.unlock();
            m_notify();
            lock.lock();
        }
    }
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

void RecordWriter::write(RecordBatch &batch)
{
    // With the rows kept since the last checkpoint, a file that went before
    // this batch is caught after it and the batch goes into the new file
    // with them; without them (no write-ahead log) it is checked first.
    const bool checkFirst = !m_db || !m_wal || !m_carry.empty();
    if (checkFirst && !switchFileIfGone(batch)) {
        batch.ok = false;
        return;
    }
    batch.ok = insertRows(batch.rows, &batch.error, &batch.ops, &batch.opsWritten);
    if (!batch.ok)
        return;
    keepUntilCheckpoint(batch.rows);
    // A file deleted while this batch went in took the batch with it; the
    // new file gets it from the rows kept since the last checkpoint (or, if
    // no new file can be made now, at the next write).
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
        if (!insertRows(m_carry, &batch.error))
            return false;
        keepUntilCheckpoint(m_carry);
        m_carry.clear();
    }
    return true;
}

void RecordWriter::keepUntilCheckpoint(const std::vector<SerialRecord> &rows)
{
    if (!m_wal)
        return;
    m_sinceCheckpoint.insert(m_sinceCheckpoint.end(), rows.begin(), rows.end());
    while (m_sinceCheckpoint.size() > kKeptRowsLimit)
        m_sinceCheckpoint.pop_front();
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

bool RecordWriter::insertRows(const std::vector<SerialRecord> &batchRows, QString *error,
                              const std::vector<RecordContextOp> *ops, bool *opsWritten)
{
    if (batchRows.empty() && (!ops || ops->empty()))
        return true;
    if (!stepCached(&m_begin, "BEGIN IMMEDIATE", error))
        return false;
    // Bound texts stay put until the statement has run: clear only here.
    if (m_utf8.size() > 1000)
        m_utf8.clear();
    const int total = int(batchRows.size());
    for (int done = 0; done < total;) {
        const int rows = qMin(kRowsPerStatement, total - done);
        sqlite3_stmt *statement = insertStatement(rows);
        if (!statement) {
            *error = sqliteError(m_db);
            exec("ROLLBACK", nullptr);
            return false;
        }
        int index = 1;
        for (int i = 0; i < rows; ++i) {
            const SerialRecord &row = batchRows[size_t(done + i)];
            // serialno is "not null": a row without a device number must not
            // hold back every row queued after it.
            auto serial = m_utf8.constFind(row.serialNo);
            if (serial == m_utf8.constEnd())
                serial = m_utf8.insert(row.serialNo, row.serialNo.toUtf8());
            sqlite3_bind_text(statement, index++, serial->constData(), serial->size(),
                              SQLITE_STATIC);
            bindChannel(statement, index++, row.channel1);
            bindChannel(statement, index++, row.channel2);
            sqlite3_bind_int64(statement, index++, sqlite3_int64(row.pointDate));
        }
        const int rc = sqlite3_step(statement);
        if (rc != SQLITE_DONE)
            *error = sqliteError(m_db);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        if (rc != SQLITE_DONE) {
            exec("ROLLBACK", nullptr);
            return false;
        }
        done += rows;
    }
    // Hour seals and alarm changes go in with the rows, or not at all; a
    // journal that fails never holds back the samples.
    const bool journaled =
        m_journal.afterInsert(m_db, batchRows, sqlite3_last_insert_rowid(m_db), ops);
    if (!stepCached(&m_commit, "COMMIT", error)) {
        exec("ROLLBACK", nullptr);
        m_journal.load(m_db);
        return false;
    }
    if (opsWritten)
        *opsWritten = journaled;
    return true;
}
