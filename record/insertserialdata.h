#pragma once

#include "common/common.h"

#include <QHash>
#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

// One recorded sample of one node: a row of the table "fennolink".
// A channel equal to NoValue (or NaN) is stored as NULL.
struct SerialRecord
{
    QString serialNo;
    double channel1 = NoValue;
    double channel2 = NoValue;
    quint32 pointDate = 0; // seconds since 1970-01-01 00:00 UTC
};

// The project's record database: opens and tunes the SQLite file, makes sure
// the table exists and writes the rows gathered in the process-wide queue.
//
// Writing is all-or-nothing per call of insertNow(): every waiting row goes
// into the file inside one transaction, or none does and the rows stay at the
// head of the queue for the next call. The queue is bounded; when it is full
// the oldest rows are dropped (and logged). Rows still waiting when an opened
// object is destroyed get one last try and are then discarded (and logged),
// so that they never reach the file of another project.
class InsertSerialData : public QObject
{
    Q_OBJECT
public:
    // About one day of rows at the fastest rate: 16 nodes, one sample a second.
    static constexpr qsizetype kDefaultQueueLimit = 16 * 86400;

    InsertSerialData(const QString &databasePath, const QString &databaseIdentifier,
                     QObject *parent = nullptr);
    ~InsertSerialData() override;

    // Opens and prepares the database; true on success. Calling it again once
    // the connection is open returns true at once.
    bool createConnection();

    // Writes the queued rows, oldest first: all of them, or at most maxRows
    // when maxRows is positive (the periodic writer caps each call so that a
    // backlog left by a long failure never blocks the window for seconds).
    // Returns true when those rows were written (or there was nothing to
    // write), false when the write failed or the database is not open;
    // failed rows stay queued.
    bool insertNow(qsizetype maxRows = -1);

    // Smallest / largest pointDate in the table; 0 on an empty table or error.
    qint64 startDateTime();
    qint64 endDateTime();

    bool isOpened() const { return m_isOpened; }
    QString databasePath() const { return m_databasePath; }
    QString databaseIdentifier() const { return m_databaseIdentifier; }
    QString connectionName() const { return m_databaseIdentifier + QStringLiteral("filedb"); }

    // True while the last write failed (cleared by the next successful one).
    bool lastWriteFailed() const { return m_lastWriteFailed; }
    QString lastWriteError() const { return m_lastWriteError; }

    // The process-wide row queue.
    static void appendRecord(const SerialRecord &record);
    static qsizetype pendingCount();
    // Rows dropped because the queue was full, since the program started.
    static qint64 droppedCount();
    static qsizetype queueLimit();
    static void setQueueLimit(qsizetype limit);
    // Empties the queue (used when no recording may ever be written).
    static void clearQueue();

    // Rows per insert statement: four bound values per row, kept within the
    // 999 variables every SQLite build accepts.
    static constexpr int kRowsPerStatement = 999 / 4;

signals:
    // Emitted when a write fails after the previous one succeeded; the rows
    // are kept and retried at the next insertNow().
    void writeFailed(const QString &error);
    // Emitted when a write succeeds after failed ones.
    void writeRecovered();

private:
    bool applyPragmas();
    bool createTable();
    qint64 boundaryTime(bool latest);
    QSqlQuery *insertStatement(int rows);
    bool execStatement(QSqlQuery &query, const char *what);
    void failWrite(const QString &error);
    void releaseStatements();

    QString m_databasePath;
    QString m_databaseIdentifier;
    bool m_isOpened = false;
    bool m_lastWriteFailed = false;
    QString m_lastWriteError;
    QSqlDatabase m_db;
    // Prepared statements, kept between batches (one per batch size).
    QHash<int, QSqlQuery *> m_insertStatements;
    QSqlQuery *m_begin = nullptr;
    QSqlQuery *m_commit = nullptr;
    QSqlQuery *m_rollback = nullptr;
};
