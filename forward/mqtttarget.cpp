#include "forward/mqtttarget.h"

#include "common/common.h"

#include <QFileInfo>
#include <QTimer>
#include <QUuid>

#include <mosquitto.h>

#include <algorithm>
#include <mutex>

namespace
{
// The position file is rewritten at most this often while rows flow.
constexpr int kSaveIntervalMs = 500;

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}
} // namespace

MqttTarget::MqttTarget(const ProjectDocument &project, const ForwardSettings &settings,
                       bool testOnly, QObject *parent)
    : ForwardTarget(QStringLiteral("mqtt"), project, settings, settings.mqttIdentity(), parent),
      m_testOnly(testOnly)
{
    initLibrary();
}

MqttTarget::~MqttTarget()
{
    if (m_mosq) {
        mosquitto_disconnect(m_mosq);
        if (m_loopRunning)
            mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    if (!m_testOnly)
        savePosition();
}

QString MqttTarget::describeRefusal(int code)
{
    switch (code) {
    case 1: return QStringLiteral("The MQTT broker does not speak MQTT 3.1.1.");
    case 2: return QStringLiteral("The MQTT broker refused the client id.");
    case 3: return QStringLiteral("The MQTT broker is unavailable.");
    case 4:
    case 5: return QStringLiteral("The MQTT broker refused the user name or password.");
    default: return QStringLiteral("The MQTT broker refused the connection (code %1).").arg(code);
    }
}

QString MqttTarget::describeError(int code)
{
    if (code == MOSQ_ERR_TLS)
        return QStringLiteral("The TLS connection to the MQTT broker failed (check the CA file).");
    return QString::fromUtf8(mosquitto_strerror(code));
}

bool MqttTarget::setUp(QString *error)
{
    const QByteArray clientId =
        "quillark-" + QUuid::createUuid().toString(QUuid::Id128).left(12).toLatin1();
    m_mosq = mosquitto_new(clientId.constData(), true, this);
    if (!m_mosq) {
        *error = QStringLiteral("The MQTT client cannot be created.");
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m_mosq, 200);
    mosquitto_reconnect_delay_set(m_mosq, unsigned(qMax(1, firstRetryMs() / 1000)),
                                  unsigned(qMax(1, maxRetryMs() / 1000)), true);
    mosquitto_connect_callback_set(m_mosq, &MqttTarget::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttTarget::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttTarget::onPublish);
    if (!m_settings.mqttUser.isEmpty()) {
        const QByteArray user = m_settings.mqttUser.toUtf8();
        const QByteArray password = m_settings.mqttPassword.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_settings.mqttCaFile.isEmpty()) {
        const QFileInfo ca(m_settings.mqttCaFile);
        if (!ca.isFile() || !ca.isReadable()) {
            *error =
                QStringLiteral("The CA file \"%1\" cannot be read.").arg(m_settings.mqttCaFile);
            return false;
        }
        const QByteArray path = QFile::encodeName(ca.absoluteFilePath());
        const int rc =
            mosquitto_tls_set(m_mosq, path.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("The CA file \"%1\" cannot be used: %2")
                         .arg(m_settings.mqttCaFile, describeError(rc));
            return false;
        }
    }
    const QByteArray host = m_settings.mqttHost.trimmed().toUtf8();
    const int rc =
        mosquitto_connect_async(m_mosq, host.constData(), m_settings.mqttPort, kKeepAliveSeconds);
    if (rc == MOSQ_ERR_TLS) {
        *error =
            QStringLiteral("The CA file \"%1\" cannot be used for TLS.").arg(m_settings.mqttCaFile);
        return false;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        // The loop retries the connection by itself.
        m_state.lastError = QStringLiteral("The MQTT broker %1:%2 cannot be reached: %3")
                                .arg(m_settings.mqttHost.trimmed())
                                .arg(m_settings.mqttPort)
                                .arg(describeError(rc));
    }
    if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS) {
        *error = QStringLiteral("The MQTT client thread cannot be started.");
        return false;
    }
    m_loopRunning = true;
    return true;
}

void MqttTarget::start()
{
    if (m_testOnly) {
        m_testTimer = new QTimer(this);
        m_testTimer->setSingleShot(true);
        connect(m_testTimer, &QTimer::timeout, this, [this] {
            const QString reason =
                m_state.lastError.isEmpty() ? QStringLiteral("no answer") : m_state.lastError;
            emit testFinished(
                false, QStringLiteral(
                           "The MQTT broker %1:%2 did not accept a connection within %3 s (%4).")
                           .arg(m_settings.mqttHost.trimmed())
                           .arg(m_settings.mqttPort)
                           .arg(kTestTimeoutMs / 1000)
                           .arg(reason));
        });
        m_testTimer->start(kTestTimeoutMs);
    }
    QString error;
    if (!setUp(&error)) {
        if (m_testOnly) {
            m_testTimer->stop();
            emit testFinished(false, error);
            return;
        }
        // Settings that cannot work: shown, and tried again later in case
        // the file (a CA file on a share) appears.
        failed(error, false);
        return;
    }
    if (m_testOnly)
        return;
    m_lastId = m_position.load();
    m_savedId = m_lastId;
    m_queuedId = m_lastId;
    m_saveClock.start();
    qCDebug(lcForward).noquote() << "MqttTarget::start : from id" << m_lastId << "to"
                                 << m_settings.mqttHost << m_settings.mqttPort;
    publishState();
    schedule(kIdlePollMs);
}

void MqttTarget::onConnect(mosquitto *, void *self, int code)
{
    auto *target = static_cast<MqttTarget *>(self);
    QMetaObject::invokeMethod(
        target, [target, code] { target->connected(code); }, Qt::QueuedConnection);
}

void MqttTarget::onDisconnect(mosquitto *, void *self, int code)
{
    auto *target = static_cast<MqttTarget *>(self);
    QMetaObject::invokeMethod(
        target, [target, code] { target->disconnected(code); }, Qt::QueuedConnection);
}

void MqttTarget::onPublish(mosquitto *, void *self, int mid)
{
    auto *target = static_cast<MqttTarget *>(self);
    {
        std::lock_guard<std::mutex> lock(target->m_ackLock);
        target->m_acks.push_back(mid);
    }
    if (!target->m_ackPosted.exchange(true))
        QMetaObject::invokeMethod(
            target, [target] { target->drainAcks(); }, Qt::QueuedConnection);
}

void MqttTarget::drainAcks()
{
    m_ackPosted = false;
    std::vector<int> acks;
    {
        std::lock_guard<std::mutex> lock(m_ackLock);
        acks.swap(m_acks);
    }
    for (int mid : acks)
        acknowledged(mid);
}

void MqttTarget::connected(int code)
{
    if (m_testOnly) {
        if (m_testTimer && m_testTimer->isActive()) {
            m_testTimer->stop();
            emit testFinished(code == 0,
                              code == 0
                                  ? QStringLiteral("The MQTT broker %1:%2 accepted the connection.")
                                        .arg(m_settings.mqttHost.trimmed())
                                        .arg(m_settings.mqttPort)
                                  : describeRefusal(code));
        }
        return;
    }
    if (code != 0) {
        m_connected = false;
        const QString error = describeRefusal(code);
        if (error != m_state.lastError)
            qCWarning(lcForward).noquote() << "MqttTarget :" << error;
        m_state.lastError = error;
        setConnected(false);
        publishState();
        return;
    }
    qCDebug(lcForward).noquote() << "MqttTarget::connected";
    m_connected = true;
    m_state.lastError.clear();
    m_failures = 0;
    setConnected(true);
    flushLive();
    schedule(0);
}

void MqttTarget::disconnected(int code)
{
    m_connected = false;
    if (m_testOnly)
        return;
    if (code != 0 && m_state.lastError.isEmpty()) {
        m_state.lastError = QStringLiteral("The connection to the MQTT broker %1:%2 was lost.")
                                .arg(m_settings.mqttHost.trimmed())
                                .arg(m_settings.mqttPort);
        qCWarning(lcForward).noquote() << "MqttTarget :" << m_state.lastError;
    }
    setConnected(false);
    publishState();
    // Messages not yet acknowledged stay with libmosquitto, which sends them
    // again after reconnecting; the position stays before them.
}

void MqttTarget::acknowledged(int mid)
{
    const auto found = m_midToId.find(mid);
    if (found == m_midToId.end())
        return; // a live value
    const qint64 id = found.value();
    m_midToId.erase(found);
    auto it = std::lower_bound(m_pending.begin(), m_pending.end(), id,
                               [](const Pending &p, qint64 value) { return p.id < value; });
    if (it != m_pending.end() && it->id == id)
        it->acked = true;
    qint64 rows = 0;
    qint64 last = m_lastId;
    while (!m_pending.empty() && m_pending.front().acked) {
        last = m_pending.front().id;
        m_pending.pop_front();
        ++rows;
    }
    if (rows > 0) {
        const bool save = m_saveClock.elapsed() >= kSaveIntervalMs || m_pending.empty();
        if (save)
            m_saveClock.restart();
        delivered(last, rows, save);
    }
    // Top up once the window is half empty (one read for many acknowledgements).
    if (m_pending.size() < size_t(kWindow / 2) &&
        (!m_timer->isActive() || m_timer->remainingTime() > 0))
        schedule(0);
}

void MqttTarget::restartedFromFirstRow()
{
    // Every row of the old file was acknowledged before the switch.
    m_queuedId = 0;
    m_pending.clear();
    m_midToId.clear();
}

void MqttTarget::pump()
{
    if (m_testOnly)
        return;
    if (!m_mosq) {
        // Set-up failed earlier: try again.
        QString error;
        if (!setUp(&error)) {
            if (m_mosq) {
                mosquitto_destroy(m_mosq);
                m_mosq = nullptr;
            }
            failed(error, false);
            return;
        }
        m_queuedId = m_lastId;
    }
    if (!ensureReader()) {
        schedule(kIdlePollMs);
        publishState();
        return;
    }
    if (!refreshBacklog())
        return;
    if (!m_connected) {
        schedule(kIdlePollMs);
        publishState();
        return;
    }
    if (m_queuedId < m_lastId)
        m_queuedId = m_lastId;
    const qint64 room = kWindow - qint64(m_pending.size());
    if (room <= 0)
        return; // acknowledgements reschedule
    int rc = MOSQ_ERR_SUCCESS;
    const qint64 visited = m_reader.forEachRowAfterId(m_queuedId, room, [&](const RecordRow &row) {
        const QByteArray topic = m_format.topic(row.serialNo);
        const QByteArray payload = m_format.payload(row);
        int mid = 0;
        rc = mosquitto_publish(m_mosq, &mid, topic.constData(), payload.size(), payload.constData(),
                               1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            return false;
        m_pending.push_back({row.id, false});
        m_midToId.insert(mid, row.id);
        m_queuedId = row.id;
        return true;
    });
    if (visited < 0 && rc == MOSQ_ERR_SUCCESS) {
        failed(QStringLiteral("The record database cannot be read: %1").arg(m_reader.errorText()),
               true);
        m_reader.close();
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        // Not connected any more; libmosquitto reconnects, we wait for it.
        schedule(kIdlePollMs);
        return;
    }
    if (visited == 0) {
        if (m_pending.empty())
            savePosition();
        publishState();
        schedule(kIdlePollMs);
    }
    // Otherwise the acknowledgements ask for more.
}

void MqttTarget::publishLive(const QByteArray &serialNo, double ch1, double ch2, qint64 unixSeconds)
{
    RecordRow row;
    row.serialNo = serialNo;
    row.channel1 = ch1;
    row.channel2 = ch2;
    row.pointDate = unixSeconds;
    m_live.insert(serialNo, row);
    if (m_connected)
        flushLive();
}

void MqttTarget::flushLive()
{
    for (auto it = m_live.begin(); it != m_live.end();) {
        const QByteArray topic = m_format.liveTopic(it.key());
        const QByteArray payload = m_format.payload(it.value());
        if (mosquitto_publish(m_mosq, nullptr, topic.constData(), payload.size(),
                              payload.constData(), 1, true) != MOSQ_ERR_SUCCESS)
            return;
        it = m_live.erase(it);
    }
}
