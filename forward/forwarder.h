#pragma once

#include "forward/forwardsettings.h"
#include "forward/forwardtarget.h"

#include <QObject>
#include <QPointer>
#include <QString>

class QThread;
class InfluxTarget;
class MqttTarget;

// The forwarding of one open project: reads its settings, runs one worker
// thread per enabled target and keeps the latest state of each for the
// window. Nothing here waits for a network; the window's thread only posts
// work to the targets and receives their states.
class Forwarder : public QObject
{
    Q_OBJECT

public:
    enum Target { Influx = 0, Mqtt = 1 };

    explicit Forwarder(const QString &projectPath, QObject *parent = nullptr);
    ~Forwarder() override;

    // (Re)reads the project file and restarts the targets. False with
    // `problems` when the settings are unusable (those targets stay off).
    bool reload(QStringList *problems = nullptr);
    void stop();

    QString projectPath() const { return m_projectPath; }
    ForwardSettings settings() const { return m_settings; }
    bool isEnabled(Target target) const;
    ForwardState state(Target target) const { return m_states[target]; }
    // A target is behind when its oldest undelivered row is older than this
    // many data intervals (and at least as many seconds).
    static constexpr int kBehindIntervals = 5;
    bool isBehind(Target target) const;
    // The whole story while a target fails, falls behind or had rows
    // refused; empty while all is well.
    QString statusText() const;
    // The short form for the status strip.
    QString statusLine() const;
    // "3 s", "4 min 10 s", "2 h 5 min", "3 d 4 h".
    static QString durationText(qint64 seconds);

    // A live value of a device (any thread that owns the caller; posted).
    void liveSample(const QString &deviceNumber, double ch1, double ch2, qint64 unixSeconds);
    // Recorded rows were written: let the targets look now.
    void rowsWritten();

    // Tests the given settings of one target on a worker thread; the answer
    // comes as testFinished(). Settings that cannot work are answered at once.
    void testConnection(Target target, const ForwardSettings &settings);

signals:
    void stateChanged(int target, const ForwardState &state);
    void testFinished(int target, bool ok, const QString &text);

private:
    struct Worker {
        QThread *thread = nullptr;
        QPointer<ForwardTarget> target;
    };
    void startWorker(Target which, ForwardTarget *target);
    void stopWorker(Worker &worker);

    QString m_projectPath;
    ForwardSettings m_settings;
    int m_intervalMs = 1000;
    Worker m_workers[2];
    ForwardState m_states[2];
};
