#pragma once

#include "device/linkhealth.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

class AbstractDevice;
class NodeDevice;

// One network connection of a project: a Modbus gateway at an IP address and
// TCP port with the sensor nodes behind it. Owns its Modbus client and its
// nodes, asks for one register block per poll, hands each node its 16-byte
// block of every reply and decides when the connection counts as lost.
//
// Each reply is handed out as the request that asked for it: a poll's reply
// is recorded with the time of that poll, a refresh's reply only updates the
// views. A refresh while a read is under way sends nothing (its answer serves
// both), and a poll that finds a refresh under way makes it its own.
//
// Poll times follow the interval: while the device timer keeps time, each
// poll is stamped exactly one interval after the previous one, so polls at
// 1 s land in consecutive seconds even when the timer fires a millisecond
// either side of a second's edge. A poll far off the schedule (a blocked
// window, a clock change) starts a new schedule at its real time.
//
// When the connection is declared lost after having answered, every node
// gets a no-value sample at the first poll that went unanswered (and a
// NULL/NULL row while recording), so readers and the live chart show the gap.
class ConfiguredDevice : public QObject
{
    Q_OBJECT

public:
    // Bytes of one node's block: two float channels, LQI and battery.
    static constexpr int kBlockBytes = 16;

    explicit ConfiguredDevice(QObject *parent = nullptr);
    ~ConfiguredDevice() override;

    void setDeviceInfo(QString ip, quint16 port);
    void addNode(NodeDevice *node);
    void close();
    void poll();
    void refresh();

    QString ipAddress() const { return m_ipAddress; }
    quint16 port() const { return m_port; }
    QString model() const { return m_model; }
    void setModel(const QString &model) { m_model = model; }
    QList<NodeDevice *> nodeList() const { return m_nodes; }
    // Every node of every poller in project order, null entries skipped.
    static QList<NodeDevice *> allNodes(const QList<ConfiguredDevice *> &devices);
    QDateTime lastPollTime() const { return m_lastPollTime; }
    bool isConnected() const { return m_connected; }
    // The request under way is a refresh (its reply will not be recorded).
    bool isRefreshPending() const { return m_requestKind == RefreshRequest; }
    int missedPolls() const { return m_missedPolls; }
    // Polls without a reply tolerated before the connection counts as lost:
    // 5 at a 1000 ms interval, 2 at any other.
    static int missedPollLimit();

    // "ip:port", the gateway's name in log lines and notices.
    QString gateway() const;
    const LinkHealth &health() const { return m_health; }
    // The time a poll at nowMs is stamped with when the previous one was
    // stamped previousMs (0: none): one interval later while the timer keeps
    // time (within a quarter interval, at most 500 ms), else nowMs.
    static qint64 scheduledPollMs(qint64 previousMs, qint64 nowMs, int intervalMs);
    // "3 s", "2 min 5 s", "1 h 4 min".
    static QString durationText(qint64 seconds);

    // The connection's Modbus client.
    AbstractDevice *device() const { return m_device; }
    // The register range requested from the gateway.
    int readStart() const { return m_readStart; }
    int readCount() const { return m_readCount; }

signals:
    // The link was lost (lost) or came back; line is the status text, for
    // example "127.0.0.1:1502 lost at 12:57:41".
    void linkNotice(QString gateway, bool lost, QString line);

public slots:
    void readData(QByteArray data);
    void deviceConnected();
    void readFailed(bool timedOut, QString text);

public:
    void deviceDisconnected();

private:
    void updateReadRange();
    enum RequestKind { NoRequest, PollRequest, RefreshRequest };

    void countMissedPoll();
    QDateTime schedulePoll();
    void startRequest(RequestKind kind, const QDateTime &time);
    void declareLost();
    QString valueText(const char *block);

    bool m_connected = false;
    RequestKind m_requestKind = NoRequest;
    QDateTime m_requestTime; // the poll time the request under way answers
    QElapsedTimer m_requestClock;
    qint64 m_scheduleMs = 0; // the last poll's time on the schedule, ms since 1970
    QDateTime m_gapStart;    // the first poll not answered yet; invalid after a reply
    qint64 m_lostAtMs = 0;
    LinkHealth m_health;
    QString m_ipAddress;
    quint16 m_port = 502;
    QString m_model = QStringLiteral("QA100");
    QDateTime m_lastPollTime = QDateTime::currentDateTime();
    int m_missedPolls = 0;
    AbstractDevice *m_device = nullptr;
    QList<NodeDevice *> m_nodes;
    int m_readStart = 0;
    int m_readCount = 0;
};
