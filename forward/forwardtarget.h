#pragma once

#include "forward/forwardformat.h"
#include "forward/forwardposition.h"
#include "forward/forwardsettings.h"
#include "record/recordreader.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>

class QTimer;

// What the window shows about one target.
struct ForwardState {
    bool enabled = false;
    bool connected = false;
    qint64 backlog = 0;        // recorded rows not yet delivered
    qint64 backlogSeconds = 0; // newest sample time minus the last delivered one
    qint64 forwarded = 0;      // rows delivered since the target started
    qint64 lastId = 0;         // id of the last delivered row
    qint64 lastTime = 0;       // its sample time (seconds since 1970; 0 unknown)
    qint64 rejected = 0;       // rows the target refused, never sent again
    QString rejectReason;      // the first refusal, as the server told it
    QString lastError;         // empty while all is well
};
Q_DECLARE_METATYPE(ForwardState)

// One forwarding target working on a thread of its own. It reads the record
// database by id from its stored position, delivers in order and moves the
// position only once the target has confirmed, so delivery is at least once
// and nothing is lost across outages or restarts. After a failure it waits
// before the next try, twice as long each time up to maxRetryMs().
//
// Created on the window's thread, then moved to a worker thread; start() and
// everything after it run there.
class ForwardTarget : public QObject
{
    Q_OBJECT

public:
    // `name` names the target in the position file ("influx", "mqtt").
    ForwardTarget(const QString &name, const ProjectDocument &project,
                  const ForwardSettings &settings, const QString &identity, bool testOnly,
                  QObject *parent = nullptr);
    ~ForwardTarget() override;

    // Pauses after failures: the first, doubling up to the last. Tests shorten them.
    static void setRetryDelays(int firstMs, int maxMs);
    static int firstRetryMs();
    static int maxRetryMs();
    // How often an idle target looks for new rows.
    static constexpr int kIdlePollMs = 1000;

    QString positionFile() const { return m_position.filePath(); }

public slots:
    // Takes the stored position, then begins: forwarding, or for a
    // connection test one check.
    void start();
    // Makes an idle target look for new rows at once.
    void wake();

signals:
    void stateChanged(const ForwardState &state);
    // The outcome of a connection test.
    void testFinished(bool ok, const QString &text);

protected:
    virtual void begin() = 0;
    // Sends what lies after m_lastId (or waits); called by the timer.
    virtual void pump() = 0;
    // The reader moved on to a new file whose rows start again at id 1:
    // whatever was read ahead of the position belongs to the old one.
    virtual void restartedFromFirstRow() {}

    // Opens the record database when needed; false (state updated) when it
    // cannot be read yet.
    bool ensureReader();
    // Backlog from the newest id; a database that was replaced (its newest id
    // below the position) starts again from its first row.
    // False (failure noted, retry scheduled) when the database cannot be read.
    bool refreshBacklog();
    bool newestId(qint64 *id);
    void delivered(qint64 lastId, qint64 lastTime, qint64 rows, bool savePosition = true);
    // Rows the target refused for good: counted, the first reason kept.
    void rejected(qint64 rows, const QString &reason);
    void savePosition();
    // Device and inode of the file at the database's path; false when there is none.
    bool fileIdentity(quint64 *device, quint64 *inode) const;
    void failed(const QString &error, bool connected);
    void setConnected(bool connected);
    void schedule(int ms);
    void publishState(bool force = true);

    QString m_name;
    bool m_testOnly = false;
    QString m_projectPath;
    QString m_databasePath;
    ForwardSettings m_settings;
    ForwardFormat m_format;
    ForwardPosition m_position;
    RecordReader m_reader;
    // The file the reader has open.
    quint64 m_fileDevice = 0;
    quint64 m_fileInode = 0;
    ForwardState m_state;
    qint64 m_lastId = 0;
    qint64 m_savedId = -1;
    int m_failures = 0;
    QTimer *m_timer = nullptr;
    QElapsedTimer m_stateClock;
};
