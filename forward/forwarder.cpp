#include "forward/forwarder.h"

#include "common/common.h"
#include "common/projectdocument.h"
#include "forward/influxtarget.h"
#include "forward/mqtttarget.h"

#include <QThread>

Forwarder::Forwarder(const QString &projectPath, QObject *parent)
    : QObject(parent), m_projectPath(projectPath)
{
    qRegisterMetaType<ForwardState>();
}

Forwarder::~Forwarder()
{
    stop();
    // Connection tests still under way end with us.
    for (QThread *thread : findChildren<QThread *>()) {
        thread->quit();
        thread->wait();
    }
}

bool Forwarder::isEnabled(Target target) const
{
    return !m_workers[target].target.isNull();
}

void Forwarder::stop()
{
    for (Worker &worker : m_workers)
        stopWorker(worker);
    m_states[Influx] = ForwardState();
    m_states[Mqtt] = ForwardState();
}

void Forwarder::stopWorker(Worker &worker)
{
    if (!worker.thread)
        return;
    // The target is deleted on its own thread once its event loop ends.
    worker.thread->quit();
    worker.thread->wait();
    delete worker.thread;
    worker.thread = nullptr;
    worker.target.clear();
}

bool Forwarder::reload(QStringList *problems)
{
    stop();
    m_settings = ForwardSettings::load(m_projectPath);
    QStringList found;
    if (!m_settings.influxEnabled() && !m_settings.mqttEnabled())
        return true;
    ProjectDocument project;
    QString error;
    if (!project.load(m_projectPath, &error)) {
        // A project without devices yet: names come with the next reload.
        project = ProjectDocument();
        project.path = m_projectPath;
    }
    if (project.dataInterval > 0)
        m_intervalMs = project.dataInterval;
    if (m_settings.influxEnabled()) {
        const QStringList influx = m_settings.influxProblems();
        if (influx.isEmpty())
            startWorker(Influx, new InfluxTarget(project, m_settings));
        found += influx;
    }
    if (m_settings.mqttEnabled()) {
        // A CA file that cannot be used yet is the target's to tell and retry.
        const QStringList mqtt = m_settings.mqttProblems(false);
        if (mqtt.isEmpty())
            startWorker(Mqtt, new MqttTarget(project, m_settings));
        found += mqtt;
    }
    for (int i : {Influx, Mqtt}) {
        if (!m_workers[i].target &&
            (i == Influx ? m_settings.influxEnabled() : m_settings.mqttEnabled())) {
            m_states[i].enabled = true;
            m_states[i].lastError =
                (i == Influx ? m_settings.influxProblems() : m_settings.mqttProblems(false))
                    .join(QLatin1Char(' '));
            emit stateChanged(i, m_states[i]);
        }
    }
    if (!found.isEmpty())
        qCWarning(lcForward).noquote() << "Forwarder::reload :" << found.join(QLatin1Char(' '));
    if (problems)
        *problems = found;
    return found.isEmpty();
}

void Forwarder::startWorker(Target which, ForwardTarget *target)
{
    Worker &worker = m_workers[which];
    worker.thread = new QThread;
    worker.thread->setObjectName(which == Influx ? QStringLiteral("forward-influx")
                                                 : QStringLiteral("forward-mqtt"));
    worker.target = target;
    target->moveToThread(worker.thread);
    connect(worker.thread, &QThread::started, target, &ForwardTarget::start);
    connect(worker.thread, &QThread::finished, target, &QObject::deleteLater);
    connect(target, &ForwardTarget::stateChanged, this, [this, which](const ForwardState &state) {
        m_states[which] = state;
        emit stateChanged(which, state);
    });
    m_states[which] = ForwardState();
    m_states[which].enabled = true;
    worker.thread->start();
}

bool Forwarder::isBehind(Target target) const
{
    const qint64 limit =
        qMax<qint64>(kBehindIntervals, qint64(kBehindIntervals) * m_intervalMs / 1000);
    return m_states[target].backlogSeconds > limit;
}

QString Forwarder::durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    if (seconds < 86400)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    return QStringLiteral("%1 d %2 h").arg(seconds / 86400).arg(seconds / 3600 % 24);
}

QString Forwarder::statusText() const
{
    QStringList parts;
    for (int i : {Influx, Mqtt}) {
        const ForwardState &state = m_states[i];
        QStringList said;
        if (!state.lastError.isEmpty())
            said << state.lastError;
        if (isBehind(Target(i)))
            said << QStringLiteral("%1 behind (%2 rows).")
                        .arg(durationText(state.backlogSeconds))
                        .arg(state.backlog);
        if (state.rejected > 0)
            said << QStringLiteral("%1 rows refused, the first: %2")
                        .arg(state.rejected)
                        .arg(state.rejectReason);
        if (!said.isEmpty())
            parts << (i == Influx ? QStringLiteral("InfluxDB: ") : QStringLiteral("MQTT: ")) +
                         said.join(QLatin1Char(' '));
    }
    return parts.join(QLatin1Char('\n'));
}

QString Forwarder::statusLine() const
{
    QStringList failing;
    QStringList behind;
    for (int i : {Influx, Mqtt}) {
        const QString name = i == Influx ? QStringLiteral("InfluxDB") : QStringLiteral("MQTT");
        if (!m_states[i].lastError.isEmpty() || m_states[i].rejected > 0)
            failing << name;
        else if (isBehind(Target(i)))
            behind << name + QLatin1Char(' ') + durationText(m_states[i].backlogSeconds);
    }
    QStringList line;
    if (!failing.isEmpty())
        line << QStringLiteral("Forwarding fails: ") + failing.join(QStringLiteral(", "));
    if (!behind.isEmpty())
        line << QStringLiteral("Forwarding behind: ") + behind.join(QStringLiteral(", "));
    return line.join(QStringLiteral(" - "));
}

void Forwarder::liveSample(const QString &deviceNumber, double ch1, double ch2, qint64 unixSeconds)
{
    MqttTarget *mqtt = qobject_cast<MqttTarget *>(m_workers[Mqtt].target.data());
    if (!mqtt)
        return;
    const QByteArray serial = deviceNumber.toUtf8();
    QMetaObject::invokeMethod(
        mqtt,
        [mqtt, serial, ch1, ch2, unixSeconds] { mqtt->publishLive(serial, ch1, ch2, unixSeconds); },
        Qt::QueuedConnection);
}

void Forwarder::rowsWritten()
{
    for (Worker &worker : m_workers) {
        if (worker.target)
            QMetaObject::invokeMethod(worker.target.data(), "wake", Qt::QueuedConnection);
    }
}

void Forwarder::testConnection(Target which, const ForwardSettings &settings)
{
    const QStringList problems =
        which == Influx ? settings.influxProblems() : settings.mqttProblems();
    const bool enabled = which == Influx ? settings.influxEnabled() : settings.mqttEnabled();
    if (!enabled || !problems.isEmpty()) {
        const QString text =
            enabled ? problems.join(QLatin1Char('\n'))
                    : (which == Influx ? QStringLiteral("No InfluxDB address is given.")
                                       : QStringLiteral("No MQTT host is given."));
        QMetaObject::invokeMethod(
            this, [this, which, text] { emit testFinished(which, false, text); },
            Qt::QueuedConnection);
        return;
    }
    ProjectDocument project;
    project.path = m_projectPath;
    ForwardTarget *target =
        which == Influx ? static_cast<ForwardTarget *>(new InfluxTarget(project, settings, true))
                        : new MqttTarget(project, settings, true);
    auto *thread = new QThread(this);
    target->moveToThread(thread);
    connect(thread, &QThread::started, target, &ForwardTarget::start);
    connect(target, &ForwardTarget::testFinished, this,
            [this, which, thread](bool ok, const QString &text) {
                emit testFinished(which, ok, text);
                thread->quit();
            });
    connect(thread, &QThread::finished, target, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
