#include "device/modbusdevice.h"

#include "common/common.h"

#include <QAbstractSocket>
#include <QModbusDataUnit>
#include <QModbusReply>
#include <QModbusTcpClient>
#include <QVariant>

ModbusDevice::ModbusDevice(QObject *parent) : QObject(parent)
{
    m_connectWatchdog.setSingleShot(true);
    m_requestWatchdog.setSingleShot(true);
    connect(&m_connectWatchdog, &QTimer::timeout, this, &ModbusDevice::connectWatchdogExpired);
    connect(&m_requestWatchdog, &QTimer::timeout, this, &ModbusDevice::requestWatchdogExpired);
    createClient();
}

ModbusDevice::~ModbusDevice()
{
    qCDebug(lcDevice).noquote() << "ModbusDevice::~ModbusDevice : [" << gatewayName() << "]";
    close();
    if (m_client) {
        QModbusTcpClient *client = m_client;
        m_client = nullptr;
        disconnect(client, nullptr, this, nullptr);
        delete client;
    }
}

void ModbusDevice::createClient()
{
    m_client = new QModbusTcpClient(this);
    connect(m_client, &QModbusDevice::stateChanged, this, &ModbusDevice::modbusStateChanged);
    connect(m_client, &QModbusDevice::errorOccurred, this, &ModbusDevice::modbusError);
    connect(m_client, &QObject::destroyed, this, &ModbusDevice::modbusDeleted);
    connect(m_client, &QModbusDevice::stateChanged, this, [this](QModbusDevice::State state) {
        if (state == QModbusDevice::ConnectedState)
            modbusConnected();
    });
}

// Takes a client that would not return to the unconnected state out of service
// and puts a fresh one in its place. The old one loses every link to this
// object before it is deleted (later, never inside one of its own signals).
void ModbusDevice::retireClient()
{
    QModbusTcpClient *old = m_client;
    if (!old)
        return;
    qCDebug(lcDevice).noquote() << "ModbusDevice::retireClient : [" << gatewayName() << "] : ["
                                << old->state() << "]";
    m_client = nullptr;
    disconnect(old, nullptr, this, nullptr);
    old->setParent(nullptr);
    old->deleteLater();
    ++m_replacedClients;
    createClient();
}

QModbusDevice::State ModbusDevice::clientState() const
{
    return m_client ? m_client->state() : QModbusDevice::UnconnectedState;
}

// Log lines name the gateway as ip:port, so that two gateways on one host
// are told apart.
QString ModbusDevice::gatewayName() const
{
    return m_address + QLatin1Char(':') + QString::number(m_port);
}

bool ModbusDevice::isOpen() const
{
    return m_opened;
}

QString ModbusDevice::address() const
{
    return m_address;
}

quint16 ModbusDevice::port() const
{
    return m_port;
}

int ModbusDevice::startAddress() const
{
    return m_readStart;
}

int ModbusDevice::registerCount() const
{
    return m_readCount;
}

void ModbusDevice::connectSignal(const char *signal, QObject *receiver, const char *method)
{
    QObject::connect(this, signal, receiver, method);
}

bool ModbusDevice::disconnectSignal(const char *signal, QObject *receiver, const char *method)
{
    return QObject::disconnect(this, signal, receiver, method);
}

void ModbusDevice::setReadRange(int start, int count)
{
    m_readStart = start;
    m_readCount = count;
}

void ModbusDevice::setDeviceInfo(QString address, quint16 port)
{
    qCDebug(lcDevice).noquote() << "ModbusDevice::setDeviceInfo : [" << address << "] : [" << port
                                << "]";
    m_address = address;
    m_port = port;
}

void ModbusDevice::setWatchdogTimes(int connectMs, int requestMs)
{
    m_connectWatchdogMs = qMax(0, connectMs);
    m_requestWatchdogMs = qMax(0, requestMs);
}

int ModbusDevice::requestTimeoutMs()
{
    if (dataIntervalMs <= 1000)
        return kTimeoutMs;
    return qBound(kTimeoutMs, dataIntervalMs / 3, kMaxTimeoutMs);
}

int ModbusDevice::connectWatchdogMs() const
{
    if (m_connectWatchdogMs > 0)
        return m_connectWatchdogMs;
    return qBound(500, dataIntervalMs - dataIntervalMs / 10, 5000);
}

int ModbusDevice::requestWatchdogMs() const
{
    if (m_requestWatchdogMs > 0)
        return m_requestWatchdogMs;
    // Past the client's own time-out, and still inside one interval.
    if (dataIntervalMs <= 1000)
        return kTimeoutMs + 100;
    return qMin(requestTimeoutMs() + 500, dataIntervalMs - dataIntervalMs / 10);
}

bool ModbusDevice::open()
{
    if (!m_client)
        createClient();
    if (m_client->state() != QModbusDevice::UnconnectedState)
        closeConnection();

    qCDebug(lcDevice).noquote() << "ModbusDevice::open : [" << gatewayName() << "] : [" << m_port
                                << "] [" << m_client->state() << "] : " << m_opened;

    if (m_client->state() == QModbusDevice::UnconnectedState) {
        m_client->setConnectionParameter(QModbusDevice::NetworkAddressParameter, m_address);
        m_client->setConnectionParameter(QModbusDevice::NetworkPortParameter, m_port);
        m_client->setTimeout(requestTimeoutMs());
        m_client->setNumberOfRetries(0);
        const bool started = m_client->connectDevice();
        // An error reported from inside connectDevice() has closed us already.
        m_opened = started && clientState() != QModbusDevice::UnconnectedState;
        if (clientState() == QModbusDevice::ConnectingState)
            m_connectWatchdog.start(connectWatchdogMs());
    }
    return m_opened;
}

bool ModbusDevice::isBusy() const
{
    return m_reply || clientState() == QModbusDevice::ConnectingState;
}

// Closing from outside ends a request silently: nobody waits for it any more.
void ModbusDevice::close()
{
    m_requestActive = false;
    closeConnection();
}

void ModbusDevice::finishRequest()
{
    m_requestActive = false;
}

void ModbusDevice::failRequest(bool timedOut, const QString &text)
{
    if (!m_requestActive)
        return;
    m_requestActive = false;
    qCDebug(lcDevice).noquote() << "ModbusDevice : [" << gatewayName()
                                << "] : " << (timedOut ? "timeout : " : "error : ") << text;
    emit readFailed(timedOut, text);
}

QString ModbusDevice::clientError() const
{
    if (m_client && !m_client->errorString().isEmpty())
        return m_client->errorString();
    return QStringLiteral("request not sent");
}

void ModbusDevice::closeConnection()
{
    qCDebug(lcDevice).noquote() << "ModbusDevice::close : [" << gatewayName() << "]";
    if (m_closing)
        return;
    m_closing = true;

    m_connectWatchdog.stop();
    m_requestWatchdog.stop();
    // Unlink a pending reply first; it is deleted after the socket is gone so
    // that the client never finds a dangling request.
    QModbusReply *pending = m_reply.data();
    m_reply = nullptr;
    if (pending)
        disconnect(pending, nullptr, this, nullptr);

    if (m_client && m_client->state() != QModbusDevice::UnconnectedState) {
        m_client->disconnectDevice();
        if (m_client) {
            if (auto *socket = qobject_cast<QAbstractSocket *>(m_client->device())) {
                socket->abort();
                socket->close();
            }
        }
        // A client aborted while connecting stays "connecting" or "closing"
        // for ever; it cannot be reused.
        if (m_client && m_client->state() != QModbusDevice::UnconnectedState)
            retireClient();
    }
    if (pending)
        pending->deleteLater();

    m_opened = false;
    m_closing = false;
}

void ModbusDevice::write()
{
    qCDebug(lcDevice).noquote() << "ModbusDevice::write : [" << gatewayName() << "] : ["
                                << clientState() << "] : " << m_opened;
    if (isBusy()) {
        // One request at a time: the one under way answers this write too.
        qCDebug(lcDevice).noquote() << "ModbusDevice::write : [" << gatewayName() << "] : busy";
        return;
    }
    m_requestActive = true;
    if (dataIntervalMs == 1000)
        sendReadRequest();
    else
        open();
    // Neither connecting nor waiting for a reply: the request never left.
    if (m_requestActive && !isBusy())
        failRequest(false, clientError());
}

void ModbusDevice::modbusConnected()
{
    qCDebug(lcDevice).noquote() << "----ModbusDevice::modbusConnected : [" << gatewayName() << "]";
    m_connectWatchdog.stop();
    m_opened = true;
    m_requestActive = true;
    // Requests and replies are a few bytes each: never hold one back to
    // gather more (Nagle).
    if (auto *socket = qobject_cast<QAbstractSocket *>(m_client ? m_client->device() : nullptr))
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    sendReadRequest();
}

void ModbusDevice::sendReadRequest()
{
    if (!m_client) {
        failRequest(false, QStringLiteral("no Modbus client"));
        return;
    }
    qCDebug(lcDevice).noquote() << "ModbusDevice::sendReadRequest : [" << gatewayName() << "]  ["
                                << m_client->state() << "]";

    const QModbusDevice::State state = m_client->state();
    if (state == QModbusDevice::UnconnectedState) {
        open();
        return;
    }
    if (state == QModbusDevice::ConnectingState)
        return; // modbusConnected() sends it
    if (state != QModbusDevice::ConnectedState) {
        failRequest(false, QStringLiteral("connection closing"));
        return;
    }
    if (m_reply) {
        // One request at a time; the request watchdog ends a stuck one.
        qCDebug(lcDevice).noquote()
            << "ModbusDevice::sendReadRequest : [" << gatewayName() << "]  [request pending]";
        return;
    }
    if (m_readCount <= 0 || m_readCount > kMaxReadCount) {
        qCWarning(lcDevice).noquote() << "ModbusDevice::sendReadRequest : [" << gatewayName()
                                      << "] : invalid register count " << m_readCount;
        failRequest(false, QStringLiteral("invalid register count %1").arg(m_readCount));
        return;
    }

    const QModbusDataUnit unit(QModbusDataUnit::HoldingRegisters, m_readStart,
                               quint16(m_readCount));
    QModbusReply *reply = m_client->sendReadRequest(unit, kServerAddress);
    if (!reply) {
        failRequest(false, clientError());
        return;
    }
    // The socket would send the request on its next event-loop pass; send it now.
    if (auto *socket = qobject_cast<QAbstractSocket *>(m_client->device()))
        socket->flush();

    qCDebug(lcDevice).noquote() << "ModbusDevice::sendReadRequest : [" << gatewayName()
                                << "] : QModbusDataUnit::HoldingRegisters start : " << m_readStart
                                << " , length : " << m_readCount;
    if (!reply->isFinished()) {
        qCDebug(lcDevice).noquote()
            << "ModbusDevice::sendReadRequest : [" << gatewayName() << "]  [isFinished = false]";
        m_reply = reply;
        connect(reply, &QModbusReply::finished, this, &ModbusDevice::readData);
        m_requestWatchdog.start(requestWatchdogMs());
    } else {
        qCDebug(lcDevice).noquote()
            << "ModbusDevice::sendReadRequest : [" << gatewayName() << "]  [isFinished = true ]";
        failRequest(false, reply->errorString().isEmpty() ? QStringLiteral("request refused")
                                                          : reply->errorString());
        reply->deleteLater();
    }
}

void ModbusDevice::readData()
{
    auto *reply = qobject_cast<QModbusReply *>(sender());
    if (!reply)
        return;
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    if (reply != m_reply)
        return; // left over from a request given up on
    m_reply = nullptr;
    m_requestWatchdog.stop();

    const QModbusDevice::Error error = reply->error();
    if (error == QModbusDevice::ReplyAbortedError) {
        failRequest(false, reply->errorString());
        return;
    }

    const int functionCode = int(reply->rawResult().functionCode());
    if (error != QModbusDevice::NoError) {
        qCDebug(lcDevice).noquote() << "ModbusDevice::readData : [" << gatewayName() << "] : ["
                                    << error << "] " << reply->errorString();
        failRequest(error == QModbusDevice::TimeoutError, reply->errorString());
    } else if (functionCode != QModbusPdu::ReadHoldingRegisters) {
        // Qt decodes any read answer it knows (input registers, coils...);
        // an answer to another question is not our registers.
        failRequest(false, QStringLiteral("wrong function code 0x%1 in the reply")
                               .arg(functionCode, 2, 16, QLatin1Char('0')));
    } else {
        const QModbusDataUnit unit = reply->result();
        // More registers than asked for: only the ones asked for count. Fewer
        // are passed on; the nodes beyond the end get no value.
        const int count = qMin(int(unit.valueCount()), m_readCount);
        QByteArray bytes(count * 2, Qt::Uninitialized);
        char *out = bytes.data();
        for (int i = 0; i < count; ++i) {
            const quint16 value = unit.value(i);
            out[2 * i] = char(value & 0xFF);
            out[2 * i + 1] = char(value >> 8);
        }
        finishRequest();
        emit readyRead(bytes);
    }

    if (dataIntervalMs > 1000)
        closeConnection();
}

void ModbusDevice::modbusError(QModbusDevice::Error error)
{
    if (error == QModbusDevice::NoError)
        return;
    qCDebug(lcDevice).noquote() << "ModbusDevice::modbusError : [" << gatewayName() << "] : ["
                                << error << "]";
    m_opened = false;
    failRequest(error == QModbusDevice::TimeoutError, clientError());
    closeConnection();
}

void ModbusDevice::modbusStateChanged(QModbusDevice::State state)
{
    qCDebug(lcDevice).noquote() << "ModbusDevice::modbusStateChanged : [" << gatewayName()
                                << "] : [" << state << "]";
}

void ModbusDevice::modbusDeleted()
{
    qCDebug(lcDevice).noquote() << "ModbusDevice::modbusDeleted : [" << gatewayName() << "]";
    // Only the client in use matters; the next open() makes a new one.
    if (sender() == m_client)
        m_client = nullptr;
}

void ModbusDevice::connectWatchdogExpired()
{
    if (clientState() != QModbusDevice::ConnectingState)
        return;
    qCDebug(lcDevice).noquote() << "ModbusDevice::connectWatchdog : [" << gatewayName()
                                << "] : no connection after " << connectWatchdogMs() << " ms";
    failRequest(true, QStringLiteral("no connection within %1 ms").arg(connectWatchdogMs()));
    closeConnection();
}

void ModbusDevice::requestWatchdogExpired()
{
    if (!m_reply)
        return;
    qCDebug(lcDevice).noquote() << "ModbusDevice::requestWatchdog : [" << gatewayName()
                                << "] : no reply after " << requestWatchdogMs() << " ms";
    failRequest(true, QStringLiteral("no reply within %1 ms").arg(requestWatchdogMs()));
    closeConnection();
}
