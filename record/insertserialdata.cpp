#include "record/insertserialdata.h"

#include "record/recordwriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMetaObject>
#include <QTime>

#include <sqlite3.h>
#include <sys/stat.h>

#include <deque>
#include <mutex>

namespace
{

// The process-wide row queue, oldest row first. GUI thread only.
std::deque<SerialRecord> &rowQueue()
{
    static std::deque<SerialRecord> queue;
    return queue;
}

// Changes to the alarm tables waiting to be written, oldest first. GUI thread only.
std::deque<RecordContextOp> &contextQueue()
{
    static std::deque<RecordContextOp> queue;
    return queue;
}
qsizetype g_inFlightOps = 0;

qsizetype g_queueLimit = InsertSerialData::kDefaultQueueLimit;
qint64 g_droppedRows = 0;
// Rows of the batch with a writer (they still count as waiting).
qsizetype g_inFlightRows = 0;
// Set while rows are being dropped; cleared once the queue has been written.
bool g_dropping = false;
// When the oldest waiting row was queued (ms on g_clock); -1 when none waits.
qint64 g_oldestSince = -1;

QElapsedTimer &waitClock()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

void dropOldest(qsizetype count)
{
    auto &queue = rowQueue();
    count = qMin<qsizetype>(count, qsizetype(queue.size()));
    if (count <= 0)
        return;
    const qint64 before = g_droppedRows;
    queue.erase(queue.begin(), queue.begin() + count);
    g_droppedRows += count;
    // Loud, but not once per row: the first drop of a run of drops and then
    // every further ten thousand rows.
    if (!g_dropping || before / 10000 != g_droppedRows / 10000) {
        g_dropping = true;
        qCWarning(lcRecord).noquote()
            << "InsertSerialData::appendRecord : row queue full (" << g_queueLimit
            << " rows), oldest rows dropped; dropped so far:" << g_droppedRows;
    }
}

qsizetype rowsToWrite(qsizetype maxRows)
{
    const qsizetype waiting = qsizetype(rowQueue().size());
    return maxRows > 0 ? qMin(waiting, maxRows) : waiting;
}

QString timeText()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

// What the scans for times out of order found so far, per file, so that a
// project opened again (or after Add/Delete) scans only the rows added since.
struct BoundsScan {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 lastId = 0;
    qint64 first = 0;
    qint64 last = 0;
};
std::mutex g_scanMutex;
QHash<QString, BoundsScan> g_scans;

bool fileIdentity(const QByteArray &path, quint64 *device, quint64 *inode)
{
    struct stat info;
    if (::stat(path.constData(), &info) != 0)
        return false;
    *device = quint64(info.st_dev);
    *inode = quint64(info.st_ino);
    return true;
}

sqlite3 *openReadOnly(const QString &path)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 200);
    return db;
}

// One integer (or 0 for NULL) from a statement with up to two bound ids.
bool singleValue(sqlite3 *db, const char *sql, qint64 *value, qint64 bind1 = -1, qint64 bind2 = -1,
                 qint64 *second = nullptr)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return false;
    if (bind1 >= 0)
        sqlite3_bind_int64(statement, 1, bind1);
    if (bind2 >= 0)
        sqlite3_bind_int64(statement, 2, bind2);
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
        *value = sqlite3_column_int64(statement, 0);
        if (second)
            *second = sqlite3_column_int64(statement, 1);
    } else {
        *value = 0;
    }
    sqlite3_finalize(statement);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

} // namespace

InsertSerialData::InsertSerialData(const QString &databasePath, const QString &databaseIdentifier,
                                   QObject *parent)
    : QObject(parent), m_databasePath(databasePath), m_databaseIdentifier(databaseIdentifier)
{
}

InsertSerialData::~InsertSerialData()
{
    stopBoundsCheck();
    // The queue is shared by every project opened in this process: rows this
    // file could not take get one last try here and are then dropped, so
    // that they never land in the file of the next project opened. Nobody
    // hears of this try: whoever listens may be going away too.
    const QSignalBlocker quiet(this);
    if (m_isOpened) {
        finishWrites();
        if (!rowQueue().empty() && !insertNow()) {
            const qsizetype lost = qsizetype(rowQueue().size());
            rowQueue().clear();
            g_oldestSince = -1;
            g_droppedRows += lost;
            g_dropping = false;
            qCWarning(lcRecord).noquote()
                << "InsertSerialData::~InsertSerialData :" << lost << "rows could not be written to"
                << m_databasePath << "and are dropped";
        }
    }
    if (!contextQueue().empty()) {
        qCWarning(lcRecord).noquote()
            << "InsertSerialData::~InsertSerialData :" << contextQueue().size()
            << "alarm entries could not be written to" << m_databasePath << "and are dropped";
        contextQueue().clear();
    }
    m_writer.reset();
    qCDebug(lcRecord).noquote() << "InsertSerialData::~InsertSerialData()";
}

bool InsertSerialData::createConnection()
{
    if (m_isOpened)
        return true;
    auto writer = std::make_unique<RecordWriter>(m_databasePath);
    QString error;
    if (!writer->open(&error)) {
        qCWarning(lcRecord).noquote()
            << "InsertSerialData::createConnection : fail :" << m_databasePath << ":" << error;
        return false;
    }
    // The writer's thread tells this object through the event loop.
    writer->setNotify([this] { QMetaObject::invokeMethod(this, "collect", Qt::QueuedConnection); });
    m_writer = std::move(writer);
    m_isOpened = true;
    qCDebug(lcRecord).noquote() << "InsertSerialData::createConnection : success";
    return true;
}

void InsertSerialData::submit(qsizetype count, bool toWriter)
{
    auto &queue = rowQueue();
    auto batch = std::make_shared<RecordBatch>();
    batch->rows.reserve(size_t(count));
    std::move(queue.begin(), queue.begin() + count, std::back_inserter(batch->rows));
    queue.erase(queue.begin(), queue.begin() + count);
    g_inFlightRows = count;
    auto &ops = contextQueue();
    batch->ops.assign(std::make_move_iterator(ops.begin()), std::make_move_iterator(ops.end()));
    ops.clear();
    g_inFlightOps = qsizetype(batch->ops.size());
    m_inFlight = batch;
    qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : starttime :" << timeText() << ":"
                                << count << "rows";
    if (toWriter)
        m_writer->submit(batch);
}

bool InsertSerialData::writeQueued(qsizetype maxRows)
{
    if (!m_isOpened)
        return false;
    if (m_inFlight)
        return true;
    if (rowQueue().empty() && contextQueue().empty())
        return true;
    submit(rowsToWrite(maxRows));
    return true;
}

void InsertSerialData::finishWrites()
{
    if (!m_inFlight)
        return;
    m_writer->wait(m_inFlight);
    collect();
}

bool InsertSerialData::insertNow(qsizetype maxRows)
{
    if (!m_isOpened)
        return rowQueue().empty() && !m_inFlight;
    finishWrites();
    if (rowQueue().empty() && contextQueue().empty())
        return true;
    // The caller waits anyway: the batch goes in on this thread, without
    // the hand-over to the writer's.
    submit(rowsToWrite(maxRows), false);
    std::shared_ptr<RecordBatch> batch = m_inFlight;
    m_writer->writeHere(*batch);
    collect();
    return batch->ok;
}

void InsertSerialData::collect()
{
    if (!m_inFlight || !m_inFlight->done.load())
        return;
    const std::shared_ptr<RecordBatch> batch = std::move(m_inFlight);
    m_inFlight.reset();
    g_inFlightRows = 0;
    g_inFlightOps = 0;
    if (!batch->ops.empty() && !(batch->ok && batch->opsWritten)) {
        auto &ops = contextQueue();
        ops.insert(ops.begin(), std::make_move_iterator(batch->ops.begin()),
                   std::make_move_iterator(batch->ops.end()));
    }
    auto &queue = rowQueue();
    if (batch->ok) {
        g_dropping = false;
        if (queue.empty())
            g_oldestSince = -1;
        qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : endtime :" << timeText();
    } else {
        // Back to the head of the queue, in order, for the next try.
        queue.insert(queue.begin(), std::make_move_iterator(batch->rows.begin()),
                     std::make_move_iterator(batch->rows.end()));
    }
    if (!batch->recreated.isEmpty()) {
        // Times scanned belong to the file that is gone.
        {
            std::lock_guard<std::mutex> lock(g_scanMutex);
            g_scans.remove(m_databasePath);
        }
        emit databaseRecreated(batch->recreated);
    }
    if (batch->ok) {
        if (m_lastWriteFailed) {
            m_lastWriteFailed = false;
            m_lastWriteError.clear();
            qCInfo(lcRecord).noquote() << "InsertSerialData::insertNow : writing works again";
            emit writeRecovered();
        }
        return;
    }
    qCWarning(lcRecord).noquote()
        << "InsertSerialData::insertNow : write failed, rows kept for the next try ("
        << pendingCount() << "waiting):" << batch->error;
    m_lastWriteError = batch->error;
    if (!m_lastWriteFailed) {
        m_lastWriteFailed = true;
        emit writeFailed(batch->error);
    }
}

void InsertSerialData::checkFile()
{
    if (!m_isOpened || m_inFlight || m_writer->fileIsCurrent())
        return;
    // The writer looks again before it writes, and starts the new file.
    submit(0);
}

// ---- time bounds -----------------------------------------------------------

qint64 InsertSerialData::boundaryTime(bool latest)
{
    const char *name =
        latest ? "InsertSerialData::endDateTime :" : "InsertSerialData::startDateTime :";
    sqlite3 *db = openReadOnly(m_databasePath);
    if (!db) {
        qCDebug(lcRecord).noquote() << name << "query error";
        return 0;
    }
    qint64 value = 0;
    const bool ok = singleValue(db,
                                latest ? "select pointDate from fennolink order by id desc limit 1"
                                       : "select pointDate from fennolink order by id limit 1",
                                &value);
    sqlite3_close_v2(db);
    if (!ok) {
        qCDebug(lcRecord).noquote() << name << "query error";
        return 0;
    }
    // Times found by an earlier scan of this file (the clock went back).
    quint64 device = 0, inode = 0;
    if (value != 0 && fileIdentity(QFile::encodeName(m_databasePath), &device, &inode)) {
        std::lock_guard<std::mutex> lock(g_scanMutex);
        const auto it = g_scans.constFind(m_databasePath);
        if (it != g_scans.constEnd() && it->device == device && it->inode == inode &&
            it->lastId > 0)
            value = latest ? qMax(value, it->last) : qMin(value, it->first);
    }
    (latest ? m_shownLast : m_shownFirst) = value;
    qCDebug(lcRecord).noquote() << name
                                << QDateTime::fromSecsSinceEpoch(value).toString(
                                       QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return value;
}

qint64 InsertSerialData::startDateTime()
{
    return boundaryTime(false);
}

qint64 InsertSerialData::endDateTime()
{
    return boundaryTime(true);
}

void InsertSerialData::checkTimeBounds()
{
    stopBoundsCheck();
    m_cancelBounds = false;
    m_boundsRunning = true;
    const QString path = m_databasePath;
    m_boundsThread = std::thread([this, path] {
        struct Done {
            std::atomic<bool> &flag;
            ~Done() { flag = false; }
        } done{m_boundsRunning};
        sqlite3 *db = openReadOnly(path);
        if (!db)
            return;
        // Interrupted when this object goes.
        sqlite3_progress_handler(
            db, 100000,
            [](void *cancel) { return int(static_cast<std::atomic<bool> *>(cancel)->load()); },
            &m_cancelBounds);
        quint64 device = 0, inode = 0;
        BoundsScan scan;
        bool ok = fileIdentity(QFile::encodeName(path), &device, &inode);
        if (ok) {
            std::lock_guard<std::mutex> lock(g_scanMutex);
            const auto it = g_scans.constFind(path);
            if (it != g_scans.constEnd() && it->device == device && it->inode == inode)
                scan = *it;
        }
        qint64 maxId = 0;
        ok = ok && singleValue(db, "select max(id) from fennolink", &maxId);
        qint64 low = 0, high = 0;
        if (ok && maxId > scan.lastId)
            ok = singleValue(
                db,
                "select min(pointDate), max(pointDate) from fennolink where id > ?1 and id <= ?2",
                &low, scan.lastId, maxId, &high);
        sqlite3_close_v2(db);
        if (!ok || maxId <= scan.lastId)
            return;
        scan.first = scan.lastId > 0 ? qMin(scan.first, low) : low;
        scan.last = scan.lastId > 0 ? qMax(scan.last, high) : high;
        scan.lastId = maxId;
        scan.device = device;
        scan.inode = inode;
        {
            std::lock_guard<std::mutex> lock(g_scanMutex);
            g_scans.insert(path, scan);
        }
        QMetaObject::invokeMethod(this, "boundsChecked", Qt::QueuedConnection);
    });
}

void InsertSerialData::boundsChecked()
{
    BoundsScan scan;
    {
        std::lock_guard<std::mutex> lock(g_scanMutex);
        scan = g_scans.value(m_databasePath);
    }
    if (scan.lastId == 0 || m_shownFirst == 0)
        return;
    const qint64 first = qMin(scan.first, m_shownFirst);
    const qint64 last = qMax(scan.last, m_shownLast);
    if (first == m_shownFirst && last == m_shownLast)
        return;
    qCDebug(lcRecord).noquote() << "InsertSerialData::checkTimeBounds : clock went back; first"
                                << first << "last" << last;
    m_shownFirst = first;
    m_shownLast = last;
    emit timeBoundsChecked(first, last);
}

void InsertSerialData::stopBoundsCheck()
{
    if (!m_boundsThread.joinable())
        return;
    m_cancelBounds = true;
    m_boundsThread.join();
}

// ---- the queue -------------------------------------------------------------

void InsertSerialData::appendRecord(const SerialRecord &record)
{
    auto &queue = rowQueue();
    const qsizetype waiting = qsizetype(queue.size()) + g_inFlightRows;
    if (waiting >= g_queueLimit)
        dropOldest(waiting - g_queueLimit + 1);
    if (waiting == 0)
        g_oldestSince = waitClock().elapsed();
    queue.push_back(record);
}

qsizetype InsertSerialData::pendingCount()
{
    return qsizetype(rowQueue().size()) + g_inFlightRows;
}

qint64 InsertSerialData::oldestPendingAgeMs()
{
    if (pendingCount() == 0 || g_oldestSince < 0)
        return -1;
    return waitClock().elapsed() - g_oldestSince;
}

qint64 InsertSerialData::droppedCount()
{
    return g_droppedRows;
}

qsizetype InsertSerialData::queueLimit()
{
    return g_queueLimit;
}

void InsertSerialData::setQueueLimit(qsizetype limit)
{
    g_queueLimit = qMax<qsizetype>(1, limit);
    const qsizetype waiting = pendingCount();
    if (waiting > g_queueLimit)
        dropOldest(waiting - g_queueLimit);
}

void InsertSerialData::clearQueue()
{
    rowQueue().clear();
    if (g_inFlightRows == 0)
        g_oldestSince = -1;
    g_dropping = false;
}

bool InsertSerialData::saveQueueTo(const QString &path, QString *error)
{
    if (g_inFlightRows != 0) {
        *error = QStringLiteral("rows are being written");
        return false;
    }
    auto &queue = rowQueue();
    if (queue.empty() && contextQueue().empty())
        return true;
    RecordWriter writer(path);
    if (!writer.open(error))
        return false;
    auto batch = std::make_shared<RecordBatch>();
    batch->rows.assign(queue.begin(), queue.end());
    batch->ops.assign(contextQueue().begin(), contextQueue().end());
    writer.submit(batch);
    writer.wait(batch);
    if (!batch->ok || (!batch->ops.empty() && !batch->opsWritten)) {
        *error = batch->error.isEmpty()
                     ? QStringLiteral("the alarm entries cannot be written there")
                     : batch->error;
        return false;
    }
    qCInfo(lcRecord).noquote() << "InsertSerialData::saveQueueTo :" << queue.size()
                               << "rows saved to" << path;
    clearQueue();
    clearContextQueue();
    return true;
}

void InsertSerialData::appendContext(const RecordContextOp &op)
{
    contextQueue().push_back(op);
}

qsizetype InsertSerialData::pendingContextCount()
{
    return qsizetype(contextQueue().size()) + g_inFlightOps;
}

void InsertSerialData::clearContextQueue()
{
    contextQueue().clear();
}
