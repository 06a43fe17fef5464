#include "forward/mqtttarget.h"

#include "common/common.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUuid>

#include <mosquitto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace
{
// The position file is rewritten at most this often while rows flow.
constexpr int kSaveIntervalMs = 500;
// A TLS check of our own gives up after this long.
constexpr int kTlsProbeMs = 5000;
const QByteArray kOnline = QByteArrayLiteral("online");
const QByteArray kOffline = QByteArrayLiteral("offline");

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString tlsReason(const QSslError &error, const QString &host, const QString &caFile)
{
    switch (error.error()) {
    case QSslError::HostNameMismatch:
        return QStringLiteral("the broker's certificate is not made out to \"%1\" (host name "
                              "mismatch); give the host name the certificate names")
            .arg(host);
    case QSslError::CertificateExpired:
        return QStringLiteral("the broker's certificate has expired");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("the broker's certificate is not valid yet (check the clocks)");
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateSignatureFailed:
        return QStringLiteral("the broker's certificate is not trusted: the CA file \"%1\" did "
                              "not sign it")
            .arg(caFile);
    default: return error.errorString();
    }
}
} // namespace

MqttTarget::MqttTarget(const ProjectDocument &project, const ForwardSettings &settings,
                       bool testOnly, QObject *parent)
    : ForwardTarget(QStringLiteral("mqtt"), project, settings, settings.mqttIdentity(), testOnly,
                    parent)
{
    initLibrary();
}

MqttTarget::~MqttTarget()
{
    if (m_mosq && m_connected && !m_testOnly) {
        // Told before leaving; the last will covers every other way out.
        const QByteArray topic = m_format.availabilityTopic();
        mosquitto_publish(m_mosq, nullptr, topic.constData(), kOffline.size(), kOffline.constData(),
                          1, true);
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_write(m_mosq, 1);
    }
    tearDown();
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
    if (code == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(code));
}

QString MqttTarget::where() const
{
    return QStringLiteral("%1:%2").arg(m_settings.mqttHost.trimmed()).arg(m_settings.mqttPort);
}

bool MqttTarget::setUp(QString *error, bool *tls)
{
    *tls = false;
    m_tlsText.clear();
    const QString caFile = m_settings.mqttCaFile;
    if (!caFile.isEmpty()) {
        // Read at every set-up: a corrected file is taken at the next try.
        const QFileInfo ca(caFile);
        if (!ca.isFile() || !ca.isReadable()) {
            *error = QStringLiteral("The CA file \"%1\" cannot be read.").arg(caFile);
            return false;
        }
        if (QSslCertificate::fromPath(ca.absoluteFilePath(), QSsl::Pem).isEmpty()) {
            *error = QStringLiteral("The CA file \"%1\" holds no certificate (PEM) that could be "
                                    "used for TLS.")
                         .arg(caFile);
            return false;
        }
    }
    const QByteArray clientId =
        "quillark-" + QUuid::createUuid().toString(QUuid::Id128).left(12).toLatin1();
    m_mosq = mosquitto_new(clientId.constData(), true, this);
    if (!m_mosq) {
        *error = QStringLiteral("The MQTT client cannot be created.");
        return false;
    }
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_max_inflight_messages_set(m_mosq, kWindow);
    mosquitto_connect_callback_set(m_mosq, &MqttTarget::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttTarget::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttTarget::onPublish);
    mosquitto_log_callback_set(m_mosq, &MqttTarget::onLog);
    if (!m_settings.mqttUser.isEmpty()) {
        const QByteArray user = m_settings.mqttUser.toUtf8();
        const QByteArray password = m_settings.mqttPassword.toUtf8();
        mosquitto_username_pw_set(m_mosq, user.constData(),
                                  password.isEmpty() ? nullptr : password.constData());
    }
    if (!caFile.isEmpty()) {
        const QByteArray path = QFile::encodeName(QFileInfo(caFile).absoluteFilePath());
        const int rc =
            mosquitto_tls_set(m_mosq, path.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            *error = QStringLiteral("The CA file \"%1\" cannot be used: %2")
                         .arg(caFile, describeError(rc));
            return false;
        }
    }
    if (!m_testOnly) {
        const QByteArray topic = m_format.availabilityTopic();
        mosquitto_will_set(m_mosq, topic.constData(), kOffline.size(), kOffline.constData(), 1,
                           true);
    }
    const QByteArray host = m_settings.mqttHost.trimmed().toUtf8();
    const int rc =
        mosquitto_connect_async(m_mosq, host.constData(), m_settings.mqttPort, kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        // A handshake that failed at once is looked into like a later one.
        *tls = rc == MOSQ_ERR_TLS;
        *error = QStringLiteral("The MQTT broker %1 cannot be reached: %2")
                     .arg(where(), describeError(rc));
        return false;
    }
    const int socket = mosquitto_socket(m_mosq);
    m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &MqttTarget::readReady);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &MqttTarget::writeReady);
    if (!m_misc) {
        m_misc = new QTimer(this);
        connect(m_misc, &QTimer::timeout, this, &MqttTarget::housekeeping);
    }
    m_misc->start(1000);
    m_connecting.start();
    m_lost = false;
    updateWrite();
    return true;
}

void MqttTarget::tearDown()
{
    // The notifiers go before the socket they watch.
    delete m_readNotifier;
    m_readNotifier = nullptr;
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    if (m_misc)
        m_misc->stop();
    if (m_mosq) {
        mosquitto_destroy(m_mosq);
        m_mosq = nullptr;
    }
    m_connected = false;
}

void MqttTarget::begin()
{
    m_queuedId = m_lastId;
    m_saveClock.start();
    if (m_testOnly) {
        m_testTimer = new QTimer(this);
        m_testTimer->setSingleShot(true);
        connect(m_testTimer, &QTimer::timeout, this, [this] {
            finishTest(false,
                       QStringLiteral("The MQTT broker %1 did not accept a connection within %2 s.")
                           .arg(where())
                           .arg(kTestTimeoutMs / 1000));
        });
        m_testTimer->start(kTestTimeoutMs);
    } else {
        qCDebug(lcForward).noquote()
            << "MqttTarget::start : from id" << m_lastId << "to" << where();
    }
    QString error;
    bool tls = false;
    if (!setUp(&error, &tls)) {
        // Told, and tried again: a CA file on a share may come.
        dropAndRetry(error, tls);
        return;
    }
    if (!m_testOnly) {
        publishState();
        schedule(kIdlePollMs);
    }
}

void MqttTarget::finishTest(bool ok, const QString &text)
{
    if (m_testDone)
        return;
    m_testDone = true;
    if (m_testTimer)
        m_testTimer->stop();
    emit testFinished(ok, text);
}

void MqttTarget::updateWrite()
{
    if (m_mosq && m_writeNotifier && !m_lost)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_mosq));
}

void MqttTarget::readReady()
{
    if (!m_mosq || m_lost)
        return;
    // As many packets as there are (acknowledgements come by the hundred).
    const int rc = mosquitto_loop_read(m_mosq, kWindow);
    if (rc != MOSQ_ERR_SUCCESS)
        lost(QStringLiteral("The connection to the MQTT broker %1 failed: %2")
                 .arg(where(), describeError(rc)),
             rc == MOSQ_ERR_TLS);
    updateWrite();
}

void MqttTarget::writeReady()
{
    if (!m_mosq || m_lost)
        return;
    // Until the broker has answered, a TLS handshake may be under way: it
    // moves on through the reading side whichever way the socket is ready.
    int rc = m_connected ? MOSQ_ERR_SUCCESS : mosquitto_loop_read(m_mosq, 1);
    if (rc == MOSQ_ERR_SUCCESS && m_mosq && !m_lost)
        rc = mosquitto_loop_write(m_mosq, kWindow);
    if (rc != MOSQ_ERR_SUCCESS)
        lost(QStringLiteral("The connection to the MQTT broker %1 failed: %2")
                 .arg(where(), describeError(rc)),
             rc == MOSQ_ERR_TLS);
    updateWrite();
}

void MqttTarget::housekeeping()
{
    if (!m_mosq || m_lost)
        return;
    if (!m_connected && m_connecting.elapsed() > kKeepAliveSeconds * 1000) {
        lost(QStringLiteral("The MQTT broker %1 did not answer within %2 s.")
                 .arg(where())
                 .arg(kKeepAliveSeconds),
             false);
        return;
    }
    const int rc = mosquitto_loop_misc(m_mosq);
    if (rc != MOSQ_ERR_SUCCESS && !m_lost)
        lost(QStringLiteral("The connection to the MQTT broker %1 was lost.").arg(where()), false);
    updateWrite();
}

void MqttTarget::onConnect(mosquitto *, void *self, int code)
{
    static_cast<MqttTarget *>(self)->connected(code);
}

void MqttTarget::onDisconnect(mosquitto *, void *self, int code)
{
    auto *target = static_cast<MqttTarget *>(self);
    if (code == 0)
        return; // asked for
    const QString reason =
        code == MOSQ_ERR_ERRNO || code == MOSQ_ERR_TLS
            ? QStringLiteral("The MQTT broker %1 cannot be reached: %2")
                  .arg(target->where(), describeError(code))
            : QStringLiteral("The connection to the MQTT broker %1 was lost.").arg(target->where());
    target->lost(reason, code == MOSQ_ERR_TLS || !target->m_tlsText.isEmpty());
}

void MqttTarget::onPublish(mosquitto *, void *self, int mid)
{
    static_cast<MqttTarget *>(self)->acknowledged(mid);
}

void MqttTarget::onLog(mosquitto *, void *self, int level, const char *text)
{
    if (level != MOSQ_LOG_ERR)
        return;
    auto *target = static_cast<MqttTarget *>(self);
    const QString line = QString::fromUtf8(text);
    if (line.contains(QLatin1String("SSL")) || line.contains(QLatin1String("CA certificates")))
        target->m_tlsText = line;
}

void MqttTarget::lost(const QString &reason, bool tls)
{
    if (m_lost)
        return;
    m_lost = true;
    m_connected = false;
    // Called from within libmosquitto: the client goes once it has returned.
    if (m_readNotifier)
        m_readNotifier->setEnabled(false);
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    QMetaObject::invokeMethod(
        this, [this, reason, tls] { dropAndRetry(reason, tls); }, Qt::QueuedConnection);
}

void MqttTarget::dropAndRetry(const QString &reason, bool tls)
{
    tearDown();
    // libmosquitto's queue went with the client: everything after the
    // position goes again.
    m_pending.clear();
    std::fill(m_midToId.begin(), m_midToId.end(), 0);
    m_queuedId = m_lastId;
    const auto report = [this](const QString &text) {
        if (m_testOnly)
            finishTest(false, text);
        else
            failed(text, false);
    };
    if (tls)
        diagnoseTls(reason, report);
    else
        report(reason);
}

void MqttTarget::diagnoseTls(const QString &fallback,
                             const std::function<void(const QString &)> &done)
{
    const QString host = m_settings.mqttHost.trimmed();
    const QString caFile = m_settings.mqttCaFile;
    const QString head =
        QStringLiteral("The TLS connection to the MQTT broker %1 failed: ").arg(where());
    if (!QSslSocket::supportsSsl()) {
        done(m_tlsText.isEmpty() ? fallback : head + m_tlsText);
        return;
    }
    auto *probe = new QSslSocket(this);
    auto *timer = new QTimer(probe);
    auto reasons = std::make_shared<QStringList>();
    const auto finish = [this, probe, reasons, done, head, fallback] {
        if (probe->property("done").toBool())
            return;
        probe->setProperty("done", true);
        QString text;
        if (!reasons->isEmpty())
            text = head + reasons->join(QStringLiteral("; ")) + QLatin1Char('.');
        else if (!m_tlsText.isEmpty())
            text = head + m_tlsText;
        else
            text = fallback;
        probe->abort();
        probe->deleteLater();
        done(text);
    };
    QSslConfiguration config = probe->sslConfiguration();
    config.setCaCertificates(QSslCertificate::fromPath(QFileInfo(caFile).absoluteFilePath()));
    config.setPeerVerifyMode(QSslSocket::VerifyPeer);
    probe->setSslConfiguration(config);
    connect(probe, QOverload<const QList<QSslError> &>::of(&QSslSocket::sslErrors), this,
            [reasons, host, caFile](const QList<QSslError> &errors) {
                for (const QSslError &error : errors) {
                    const QString reason = tlsReason(error, host, caFile);
                    if (!reasons->contains(reason))
                        *reasons << reason;
                }
            });
    connect(probe, &QSslSocket::encrypted, this, finish);
    connect(probe, &QAbstractSocket::errorOccurred, this, finish);
    connect(timer, &QTimer::timeout, this, finish);
    timer->start(kTlsProbeMs);
    probe->connectToHostEncrypted(host, quint16(m_settings.mqttPort));
}

void MqttTarget::connected(int code)
{
    if (code != 0) {
        lost(describeRefusal(code), false);
        return;
    }
    if (m_testOnly) {
        finishTest(true,
                   QStringLiteral("The MQTT broker %1 accepted the connection.").arg(where()));
        return;
    }
    qCDebug(lcForward).noquote() << "MqttTarget::connected";
    m_connected = true;
    if (!m_state.lastError.isEmpty())
        qCWarning(lcForward).noquote() << "MqttTarget : connected again to" << where();
    m_state.lastError.clear();
    m_failures = 0;
    const QByteArray topic = m_format.availabilityTopic();
    mosquitto_publish(m_mosq, nullptr, topic.constData(), kOnline.size(), kOnline.constData(), 1,
                      true);
    setConnected(true);
    flushLive();
    schedule(0);
}

void MqttTarget::acknowledged(int mid)
{
    if (mid <= 0 || mid >= int(m_midToId.size()) || m_midToId[size_t(mid)] == 0)
        return; // a live value or the availability
    const qint64 id = m_midToId[size_t(mid)];
    m_midToId[size_t(mid)] = 0;
    auto it = std::lower_bound(m_pending.begin(), m_pending.end(), id,
                               [](const Pending &p, qint64 value) { return p.id < value; });
    if (it != m_pending.end() && it->id == id)
        it->acked = true;
    qint64 rows = 0;
    qint64 last = m_lastId;
    qint64 lastTime = 0;
    while (!m_pending.empty() && m_pending.front().acked) {
        last = m_pending.front().id;
        lastTime = m_pending.front().time;
        m_pending.pop_front();
        ++rows;
    }
    if (rows > 0) {
        const bool save = m_saveClock.elapsed() >= kSaveIntervalMs || m_pending.empty();
        if (save)
            m_saveClock.restart();
        delivered(last, lastTime, rows, save);
    }
    // Top up once a slice of the window is free (one read for many acknowledgements).
    if (m_pending.size() <= size_t(kWindow - kTopUp) &&
        (!m_timer->isActive() || m_timer->remainingTime() > 0))
        schedule(0);
}

void MqttTarget::restartedFromFirstRow()
{
    // Every row of the old file was acknowledged before the switch.
    m_queuedId = 0;
    m_pending.clear();
    std::fill(m_midToId.begin(), m_midToId.end(), 0);
}

void MqttTarget::pump()
{
    if (m_testOnly)
        return;
    if (!ensureReader()) {
        schedule(kIdlePollMs);
        publishState();
        return;
    }
    if (!refreshBacklog())
        return;
    if (!m_mosq) {
        // The last client failed: a new one, from the settings as they are now.
        QString error;
        bool tls = false;
        m_queuedId = m_lastId;
        if (!setUp(&error, &tls)) {
            dropAndRetry(error, tls);
            return;
        }
    }
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
    QByteArray &payload = m_payload;
    const qint64 visited = m_reader.forEachRowAfterId(m_queuedId, room, [&](const RecordRow &row) {
        const QByteArray &topic = m_format.topic(row.serialNo);
        m_format.appendPayload(payload, row);
        int mid = 0;
        rc = mosquitto_publish(m_mosq, &mid, topic.constData(), payload.size(), payload.constData(),
                               1, false);
        if (rc != MOSQ_ERR_SUCCESS)
            return false;
        m_pending.push_back({row.id, row.pointDate, false});
        if (mid > 0 && mid < int(m_midToId.size()))
            m_midToId[size_t(mid)] = row.id;
        m_queuedId = row.id;
        return true;
    });
    updateWrite();
    if (visited < 0 && rc == MOSQ_ERR_SUCCESS) {
        failed(QStringLiteral("The record database cannot be read: %1").arg(m_reader.errorText()),
               true);
        m_reader.close();
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(QStringLiteral("The connection to the MQTT broker %1 failed: %2")
                 .arg(where(), describeError(rc)),
             false);
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
        const QByteArray payload = m_format.payload(it.value(), false);
        if (mosquitto_publish(m_mosq, nullptr, topic.constData(), payload.size(),
                              payload.constData(), 1, true) != MOSQ_ERR_SUCCESS)
            return;
        it = m_live.erase(it);
    }
    updateWrite();
}
