#pragma once

#include "common/common.h"
#include "record/recordcontext.h"

#include <QObject>
#include <QString>

#include <QVector>

#include <memory>
#include <vector>

class RecordWriter;
struct RecordBatch;
struct RecordContextOp;

// One recorded sample of one node: a row of the table "fennolink".
// A channel equal to NoValue (or NaN) is stored as NULL; any other value is
// stored exactly (a float32 reading widened to double reads back unchanged).
struct SerialRecord {
    QString serialNo;
    double channel1 = NoValue;
    double channel2 = NoValue;
    quint32 pointDate = 0; // seconds since 1970-01-01 00:00 UTC
};

// The project's record database, as the window sees it: the process-wide
// row queue, and the file the rows go into.
//
// The rows are written by a thread of the database's own (RecordWriter), so
// that a slow, locked or full disk never holds up a poll or the window. One
// batch is with the writer at a time; its rows count as waiting until the
// write is committed. A batch that fails goes back, in order, to the head of
// the queue and is retried by the next write. The queue is bounded; when it
// is full the oldest rows are dropped and counted (droppedCount()), so that
// the window can tell the user.
//
// Everything here is called on the GUI thread. The outcome of a batch is
// taken at the next look (isWriting(), writeQueued(), finishWrites()); a
// failure, a new file and the first success after a failure also come back
// by themselves through the event loop.
class InsertSerialData : public QObject
{
    Q_OBJECT
public:
    // About one day of rows at the fastest rate: 16 nodes, one sample a second.
    static constexpr qsizetype kDefaultQueueLimit = 16 * 86400;
    // Rows per insert statement (four bound values per row, within the 999
    // variables every SQLite build accepts).
    static constexpr int kRowsPerStatement = 999 / 4;

    InsertSerialData(const QString &databasePath, const QString &databaseIdentifier,
                     QObject *parent = nullptr);
    // Waits for the batch with the writer, gives waiting rows one last
    // quiet try and drops what its file would not take (logged), so that no
    // row of this file ever lands in the file of the next project. Callers
    // that must not lose rows ask the user first (pendingCount()).
    ~InsertSerialData() override;

    // Opens and prepares the database and starts its writer thread; true on
    // success. Calling it again once open returns true at once.
    bool createConnection();

    // Hands the oldest waiting rows (at most maxRows when positive) to the
    // writer thread and returns at once. Does nothing while a batch is
    // already with the writer. False when the database is not open.
    bool writeQueued(qsizetype maxRows = -1);
    // Writes the oldest waiting rows (all, or at most maxRows) and waits for
    // the outcome: true when they were written (or nothing waited), false
    // when the write failed or the database is not open; failed rows stay
    // queued. For closing and for tools; the window writes with writeQueued().
    bool insertNow(qsizetype maxRows = -1);
    // Waits for the batch with the writer, if any, and takes its outcome.
    void finishWrites();
    // Waits for the batch with the writer, if any, without taking it (the
    // next look does).
    void waitForWriter();
    // True while a batch is with the writer thread; a batch the writer has
    // finished is taken here (its signals, if any, are emitted from here).
    bool isWriting();

    // First / last sample time of the file, from the first and last row by
    // id and the places where the clock went back, which the file keeps: a
    // handful of pages whatever the size of the file; 0 on an empty table or
    // an error.
    qint64 startDateTime();
    qint64 endDateTime();
    // A file written before it kept those places (an old recorder's) has
    // its rows read once by the writer thread in its idle time; this asks
    // to hear timeBoundsChecked() when the smallest or largest time then
    // differs from what startDateTime() / endDateTime() gave.
    void checkTimeBounds();
    // True while those rows are being read (for tools that time it).
    bool timeBoundsPending() const;

    // Stores the settings in force (every device, from the time they hold)
    // with the next rows written, through the writer thread.
    void recordSettings(const QVector<RecordDeviceSettings> &settings);
    // Settings waiting to be written.
    qsizetype pendingSettings() const { return qsizetype(m_settings.size()); }

    // Looks whether the file at the database path is still the one written
    // to; when it was deleted or replaced, the writer starts a new file at
    // the path (databaseRecreated() tells). Cheap: one stat() call.
    void checkFile();

    bool isOpened() const { return m_isOpened; }
    // The last createConnection() failed because another program held a
    // lock on the file (a lock is temporary: worth trying again).
    bool openFailedLocked() const { return m_openFailedLocked; }
    QString databasePath() const { return m_databasePath; }
    QString databaseIdentifier() const { return m_databaseIdentifier; }

    // True while the last write failed (cleared by the next successful one).
    bool lastWriteFailed() const { return m_lastWriteFailed; }
    QString lastWriteError() const { return m_lastWriteError; }

    // The process-wide row queue. pendingCount() includes the rows of the
    // batch with the writer.
    static void appendRecord(const SerialRecord &record);
    static qsizetype pendingCount();
    // How long the oldest waiting row has waited, in ms; -1 when none waits.
    static qint64 oldestPendingAgeMs();
    // Rows dropped because the queue was full, since the program started.
    static qint64 droppedCount();
    static qsizetype queueLimit();
    static void setQueueLimit(qsizetype limit);
    // Empties the queue (the user chose to discard the rows, or tests).
    static void clearQueue();
    // Writes every waiting row into the record database at `path` (created
    // when missing, the same table, readable by every reader) and empties
    // the queue; false with *error set when that fails (the rows stay).
    // Only while no batch is with a writer.
    static bool saveQueueTo(const QString &path, QString *error);

    // Changes to the alarm tables (events, acknowledgements, verifications)
    // wait in a queue of their own and go with the next batch, rows or not.
    // One that cannot be written stays queued, in order, for the next try.
    static void appendContext(const RecordContextOp &op);
    // Changes waiting, those with the writer included.
    static qsizetype pendingContextCount();
    static void clearContextQueue();

signals:
    // Emitted when a write fails after the previous one succeeded; the rows
    // are kept and retried at the next write.
    void writeFailed(const QString &error);
    // Emitted when a write succeeds after failed ones.
    void writeRecovered();
    // The file at the database path was deleted or replaced; a new file was
    // started there and recording goes on into it.
    void databaseRecreated(const QString &reason);
    // The smallest and largest time of the file, where they differ from the
    // first and last row's.
    void timeBoundsChecked(qint64 first, qint64 last);

private:
    Q_INVOKABLE void collect();
    Q_INVOKABLE void boundsChecked();
    // Hands the `count` oldest waiting rows to the writer (none: a look at the file only).
    void submit(qsizetype count, bool toWriter = true);
    qint64 boundaryTime(bool latest);

    QString m_databasePath;
    QString m_databaseIdentifier;
    bool m_isOpened = false;
    bool m_openFailedLocked = false;
    bool m_lastWriteFailed = false;
    QString m_lastWriteError;
    std::unique_ptr<RecordWriter> m_writer;
    std::shared_ptr<RecordBatch> m_inFlight;

    std::vector<RecordDeviceSettings> m_settings;
    bool m_boundsWanted = false;
    qint64 m_shownFirst = 0;
    qint64 m_shownLast = 0;
};
