#pragma once

#include "forward/forwardtarget.h"

#include <QByteArray>
#include <QHash>

#include <deque>
#include <functional>
#include <vector>

class QSocketNotifier;
struct mosquitto;

// Publishes recorded rows to an MQTT broker (3.1.1, libmosquitto) as JSON at
// QoS 1 on <prefix>/<project>/<device number>, the latest live value of each
// device, retained, on .../live, and "online" / "offline" (retained; "offline"
// is also the last will) on <prefix>/<project>/availability.
//
// libmosquitto is driven from this object's thread (socket notifiers and a
// one-second timer), so its callbacks arrive here directly. The position moves
// over a row only when the broker has acknowledged it and every row before
// it. Any failure (refused, lost, TLS) drops the client; after a pause, twice
// as long each time, a new one is set up from the settings (a corrected CA
// file is read again) and sends again from the position: at least once.
class MqttTarget : public ForwardTarget
{
    Q_OBJECT

public:
    // Rows published but not yet acknowledged, at most.
    static constexpr int kWindow = 500;
    // The window is topped up when this many rows were acknowledged.
    static constexpr int kTopUp = 50;
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
    // The newest live value of a device (from the window's thread, queued).
    void publishLive(const QByteArray &serialNo, double ch1, double ch2, qint64 unixSeconds);

protected:
    void begin() override;
    void pump() override;
    void restartedFromFirstRow() override;

private:
    struct Pending {
        qint64 id;
        qint64 time;
        bool acked;
    };
    // Creates the client and starts connecting; false with the reason (and
    // whether a TLS handshake failed) when that fails at once.
    bool setUp(QString *error, bool *tls);
    void tearDown();
    void readReady();
    void writeReady();
    void housekeeping();
    void updateWrite();
    // The connection is gone (or never came): the client is dropped after
    // the callback that told it, and set up again later.
    void lost(const QString &reason, bool tls);
    void dropAndRetry(const QString &reason, bool tls);
    void connected(int code);
    void acknowledged(int mid);
    void flushLive();
    // Finds why a TLS connection was refused (trust, host name, dates) with
    // a handshake of its own, then calls `done` with the sentence.
    void diagnoseTls(const QString &fallback, const std::function<void(const QString &)> &done);
    QString where() const;
    void finishTest(bool ok, const QString &text);

    static void onConnect(mosquitto *, void *self, int code);
    static void onDisconnect(mosquitto *, void *self, int code);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    mosquitto *m_mosq = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer *m_misc = nullptr;
    QElapsedTimer m_connecting;
    bool m_connected = false;
    bool m_lost = false;
    QString m_tlsText;     // the TLS library's last complaint
    qint64 m_queuedId = 0; // last row handed to libmosquitto
    std::deque<Pending> m_pending;
    // Row id by message id (libmosquitto's are 1..65535); 0 for none.
    std::vector<qint64> m_midToId = std::vector<qint64>(65536, 0);
    QByteArray m_payload;                // built anew for every row, its memory kept
    QHash<QByteArray, RecordRow> m_live; // newest live row per device not yet sent
    QElapsedTimer m_saveClock;
    QTimer *m_testTimer = nullptr;
    bool m_testDone = false;
};
