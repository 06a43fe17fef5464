#pragma once

#include "forward/forwardtarget.h"

#include <QByteArray>
#include <QHash>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

struct mosquitto;

// Publishes recorded rows to an MQTT broker (3.1.1, libmosquitto) as JSON at
// QoS 1 on <prefix>/<project>/<device number>, and the latest live value of
// each device, retained, on .../live. libmosquitto's own thread does the
// network work and reconnects with growing pauses; its callbacks are handed
// to this object's thread. The position moves over a row only when the broker
// has acknowledged it and every row before it.
class MqttTarget : public ForwardTarget
{
    Q_OBJECT

public:
    // Rows published but not yet acknowledged, at most.
    static constexpr int kWindow = 2000;
    static constexpr int kKeepAliveSeconds = 30;
    // A connection test gives up after this long.
    static constexpr int kTestTimeoutMs = 10000;

    MqttTarget(const ProjectDocument &project, const ForwardSettings &settings,
               bool testOnly = false, QObject *parent = nullptr);
    ~MqttTarget() override;

    // The user's sentence for a refused connection (CONNACK code).
    static QString describeRefusal(int code);
    // For an error code of libmosquitto.
    static QString describeError(int code);

public slots:
    void start() override;
    // The newest live value of a device (from the window's thread, queued).
    void publishLive(const QByteArray &serialNo, double ch1, double ch2, qint64 unixSeconds);

protected:
    void pump() override;
    void restartedFromFirstRow() override;

private:
    struct Pending {
        qint64 id;
        bool acked;
    };
    void connected(int code);
    void disconnected(int code);
    void acknowledged(int mid);
    // Takes the acknowledgements gathered on libmosquitto's thread.
    void drainAcks();
    void flushLive();
    bool setUp(QString *error);

    static void onConnect(mosquitto *, void *self, int code);
    static void onDisconnect(mosquitto *, void *self, int code);
    static void onPublish(mosquitto *, void *self, int mid);

    bool m_testOnly = false;
    mosquitto *m_mosq = nullptr;
    bool m_loopRunning = false;
    bool m_connected = false;
    qint64 m_queuedId = 0; // last row handed to libmosquitto
    std::deque<Pending> m_pending;
    QHash<int, qint64> m_midToId;
    QHash<QByteArray, RecordRow> m_live; // newest live row per device not yet sent
    QElapsedTimer m_saveClock;
    QTimer *m_testTimer = nullptr;
    // Acknowledgements arrive by the thousand a second: gathered here and
    // handed over with one event at a time.
    std::mutex m_ackLock;
    std::vector<int> m_acks;
    std::atomic<bool> m_ackPosted{false};
};
