#include "record/insertserialdata.h"

#include "record/recordreader.h"
#include "record/recordwriter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>
#include <QTime>

#include <deque>

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

} // namespace

InsertSerialData::InsertSerialData(const QString &databasePath, const QString &databaseIdentifier,
                                   QObject *parent)
    : QObject(parent), m_databasePath(databasePath), m_databaseIdentifier(databaseIdentifier)
{
}

InsertSerialData::~InsertSerialData()
{
    // The queue is shared by every project opened in this process: rows this
    // file could not take get one last try here and are then dropped, so
    // that they never land in the file of the next project opened. Nobody
    // hears of this try: whoever listens may be going away too.
    const QSignalBlocker quiet(this);
    if (m_isOpened) {
        finishWrites();
        if ((!rowQueue().empty() || !m_settings.empty() || !contextQueue().empty()) &&
            !insertNow()) {
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
    m_openFailedLocked = false;
    if (!writer->open(&error)) {
        m_openFailedLocked = writer->openFailedLocked();
        qCWarning(lcRecord).noquote()
            << "InsertSerialData::createConnection : fail :" << m_databasePath << ":" << error;
        return false;
    }
    // The writer's thread tells this object through the event loop.
    // (functors: no look-up of the method by its name per batch)
    writer->setNotify([this] {
        QMetaObject::invokeMethod(
            this, [this] { collect(); }, Qt::QueuedConnection);
    });
    writer->setOrderNotify([this] {
        QMetaObject::invokeMethod(
            this, [this] { boundsChecked(); }, Qt::QueuedConnection);
    });
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
    batch->waitingSince = g_oldestSince;
    if (queue.empty())
        g_oldestSince = -1;
    batch->settings = std::move(m_settings);
    m_settings.clear();
    g_inFlightRows = count;
    auto &ops = contextQueue();
    batch->ops.assign(std::make_move_iterator(ops.begin()), std::make_move_iterator(ops.end()));
    ops.clear();
    g_inFlightOps = qsizetype(batch->ops.size());
    batch->tell = m_lastWriteFailed || !batch->ops.empty();
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
    if (isWriting())
        return true;
    if (rowQueue().empty() && contextQueue().empty() && m_settings.empty())
        return true;
    submit(rowsToWrite(maxRows));
    return true;
}

bool InsertSerialData::isWriting()
{
    if (m_inFlight && m_inFlight->done.load())
        collect();
    return bool(m_inFlight);
}

void InsertSerialData::finishWrites()
{
    waitForWriter();
    collect();
}

void InsertSerialData::waitForWriter()
{
    if (m_inFlight)
        m_writer->wait(m_inFlight);
}

bool InsertSerialData::insertNow(qsizetype maxRows)
{
    if (!m_isOpened)
        return rowQueue().empty() && !m_inFlight;
    finishWrites();
    if (rowQueue().empty() && contextQueue().empty() && m_settings.empty())
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
        qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : endtime :" << timeText();
    } else {
        // Back to the head of the queue, in order, for the next try, as
        // old as they were.
        if (!batch->rows.empty() && batch->waitingSince >= 0)
            g_oldestSince =
                g_oldestSince < 0 ? batch->waitingSince : qMin(g_oldestSince, batch->waitingSince);
        queue.insert(queue.begin(), std::make_move_iterator(batch->rows.begin()),
                     std::make_move_iterator(batch->rows.end()));
        m_settings.insert(m_settings.begin(), std::make_move_iterator(batch->settings.begin()),
                          std::make_move_iterator(batch->settings.end()));
    }
    if (!batch->recreated.isEmpty())
        emit databaseRecreated(batch->recreated);
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
    if (!m_isOpened || isWriting() || m_writer->fileIsCurrent())
        return;
    // The writer looks again before it writes, and starts the new file.
    submit(0);
}

// ---- time bounds -----------------------------------------------------------

qint64 InsertSerialData::boundaryTime(bool latest)
{
    const char *name =
        latest ? "InsertSerialData::endDateTime :" : "InsertSerialData::startDateTime :";
    // The first and last rows and the time steps the file keeps: a handful
    // of pages whatever the size of the file. Rows whose order is not known
    // yet are read by the writer in its idle time (checkTimeBounds()).
    RecordReader reader;
    qint64 first = 0;
    qint64 last = 0;
    QVector<RecordTimeStep> steps;
    bool ok = reader.open(m_databasePath) && reader.timeSteps(&steps, false);
    if (ok) {
        reader.setTimeOrdered(true);
        ok = reader.timeBounds(&first, &last);
        if (ok)
            RecordTimeOrder::bounds(first, last, steps, &first, &last);
    }
    if (!ok) {
        qCDebug(lcRecord).noquote() << name << "query error";
        return 0;
    }
    const qint64 value = latest ? last : first;
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
    m_boundsWanted = true;
    if (m_isOpened && !m_writer->orderPending())
        boundsChecked();
}

bool InsertSerialData::timeBoundsPending() const
{
    return m_isOpened && m_writer->orderPending();
}

void InsertSerialData::boundsChecked()
{
    if (!m_boundsWanted || m_shownFirst == 0)
        return;
    const qint64 shownFirst = m_shownFirst;
    const qint64 shownLast = m_shownLast;
    const qint64 first = startDateTime();
    const qint64 last = endDateTime();
    if (first == 0 || (first == shownFirst && last == shownLast))
        return;
    qCDebug(lcRecord).noquote() << "InsertSerialData::checkTimeBounds : clock went back; first"
                                << first << "last" << last;
    emit timeBoundsChecked(first, last);
}

void InsertSerialData::recordSettings(const QVector<RecordDeviceSettings> &settings)
{
    m_settings.insert(m_settings.end(), settings.begin(), settings.end());
}

// ---- the queue -------------------------------------------------------------

void InsertSerialData::appendRecord(const SerialRecord &record)
{
    auto &queue = rowQueue();
    const qsizetype waiting = qsizetype(queue.size()) + g_inFlightRows;
    if (waiting >= g_queueLimit)
        dropOldest(waiting - g_queueLimit + 1);
    // The age counts for rows not yet handed over: a batch with the writer
    // (taken back at the next look) does not age the rows after it.
    if (queue.empty())
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
    // A file made here for nothing (a full disk) is taken away again.
    const bool existed = QFileInfo::exists(path);
    const auto removeMade = [&] {
        if (existed)
            return;
        for (const char *suffix : {"", "-wal", "-shm", "-journal"})
            QFile::remove(path + QLatin1String(suffix));
    };
    auto batch = std::make_shared<RecordBatch>();
    {
        RecordWriter writer(path);
        if (!writer.open(error)) {
            removeMade();
            return false;
        }
        batch->rows.assign(queue.begin(), queue.end());
        batch->ops.assign(contextQueue().begin(), contextQueue().end());
        writer.submit(batch);
        writer.wait(batch);
    }
    if (!batch->ok || (!batch->ops.empty() && !batch->opsWritten)) {
        *error = batch->error.isEmpty()
                     ? QStringLiteral("the alarm entries cannot be written there")
                     : batch->error;
        removeMade();
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
