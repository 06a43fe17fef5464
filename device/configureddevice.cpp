#include "device/configureddevice.h"

#include "common/common.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"

#include <QtEndian>

#include <cmath>

#include <cstring>

namespace
{

float floatAt(const char *p)
{
    // Register +0 holds the low 16 bits, register +1 the high ones, each low
    // byte first: the four bytes are one little-endian IEEE-754 single.
    const quint32 bits = qFromLittleEndian<quint32>(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

qint32 int32At(const char *p)
{
    return qFromLittleEndian<qint32>(p);
}

} // namespace

ConfiguredDevice::ConfiguredDevice(QObject *parent)
    : QObject(parent), m_device(new ModbusDevice(this))
{
    m_device->connectSignal(SIGNAL(readyRead(QByteArray)), this, SLOT(readData(QByteArray)));
    m_device->connectSignal(SIGNAL(readFailed(bool, QString)), this,
                            SLOT(readFailed(bool, QString)));
}

ConfiguredDevice::~ConfiguredDevice()
{
    const QList<NodeDevice *> nodes = m_nodes;
    m_nodes.clear();
    for (NodeDevice *node : nodes)
        delete node;
    delete m_device;
    m_device = nullptr;
}

void ConfiguredDevice::setDeviceInfo(QString ip, quint16 port)
{
    m_ipAddress = ip;
    m_port = port;
    qCDebug(lcDevice).noquote() << "ConfiguredDevice ipaddr : " << ip << " , port : " << port;
    m_device->setDeviceInfo(ip, port);
}

QList<NodeDevice *> ConfiguredDevice::allNodes(const QList<ConfiguredDevice *> &devices)
{
    QList<NodeDevice *> nodes;
    for (const ConfiguredDevice *device : devices) {
        if (!device)
            continue;
        for (NodeDevice *node : device->m_nodes) {
            if (node)
                nodes.append(node);
        }
    }
    return nodes;
}

void ConfiguredDevice::addNode(NodeDevice *node)
{
    m_nodes.append(node);
    if (node) {
        // A node deleted elsewhere must not stay behind as a dangling entry.
        connect(node, &QObject::destroyed, this,
                [this](QObject *gone) { m_nodes.removeAll(static_cast<NodeDevice *>(gone)); });
    }
    updateReadRange();
}

// The read starts at register 0 (or at a negative start address, should one
// exist) and covers every node's block: with gaps between start addresses the
// sum of the register counts would stop short of the later nodes, so the read
// reaches at least the end of the highest block.
void ConfiguredDevice::updateReadRange()
{
    int start = 0;
    int sum = 0;
    int end = 0;
    for (NodeDevice *node : qAsConst(m_nodes)) {
        if (!node)
            continue;
        start = qMin(start, node->startAddress);
        sum += node->registerCount;
        end = qMax(end, node->startAddress + node->registerCount);
    }
    int count = qMax(sum, end - start);
    if (count > ModbusDevice::kMaxReadCount) {
        qCWarning(lcDevice).noquote()
            << "ConfiguredDevice::addNode : [" << gateway() << "] : " << count
            << " registers exceed one read; reading " << ModbusDevice::kMaxReadCount;
        count = ModbusDevice::kMaxReadCount;
    }
    m_readStart = start;
    m_readCount = count;
    qCDebug(lcDevice).noquote() << "start : " << start << " , length : " << count;
    m_device->setReadRange(start, count);
}

void ConfiguredDevice::close()
{
    m_device->close();
}

int ConfiguredDevice::missedPollLimit()
{
    return dataIntervalMs == 1000 ? 5 : 2;
}

void ConfiguredDevice::countMissedPoll()
{
    ++m_missedPolls;
    const int limit = missedPollLimit();
    if (m_missedPolls > limit) {
        m_missedPolls = limit;
        declareLost();
    }
}

QString ConfiguredDevice::gateway() const
{
    return m_ipAddress + QLatin1Char(':') + QString::number(m_port);
}

QString ConfiguredDevice::durationText(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

// The poll's time on the interval's schedule (see the class comment).
qint64 ConfiguredDevice::scheduledPollMs(qint64 previousMs, qint64 nowMs, int intervalMs)
{
    if (previousMs <= 0)
        return nowMs;
    const qint64 due = previousMs + intervalMs;
    const qint64 slack = qMin(intervalMs / 4, 500);
    return qAbs(nowMs - due) <= slack ? due : nowMs;
}

QDateTime ConfiguredDevice::schedulePoll()
{
    m_scheduleMs =
        scheduledPollMs(m_scheduleMs, QDateTime::currentMSecsSinceEpoch(), dataIntervalMs);
    return QDateTime::fromMSecsSinceEpoch(m_scheduleMs);
}

void ConfiguredDevice::startRequest(RequestKind kind, const QDateTime &time)
{
    m_requestKind = kind;
    m_requestTime = time;
    ++m_health.pollsSent;
    m_requestClock.start();
    m_device->write();
}

void ConfiguredDevice::poll()
{
    m_lastPollTime = schedulePoll();
    if (!m_gapStart.isValid())
        m_gapStart = m_lastPollTime;
    if (!m_device->isBusy()) {
        startRequest(PollRequest, m_lastPollTime);
    } else if (m_requestKind == RefreshRequest) {
        // The refresh's answer is the freshest this poll can get: it is
        // recorded as this poll's sample.
        m_requestKind = PollRequest;
        m_requestTime = m_lastPollTime;
    } else {
        // An earlier poll's read is still under way; its answer keeps that
        // poll's time and this poll goes without.
        qCDebug(lcDevice).noquote()
            << "ConfiguredDevice::poll : [" << gateway() << "] : read still under way";
    }
    countMissedPoll();
}

void ConfiguredDevice::refresh()
{
    if (m_device->isBusy()) {
        // The answer under way brings fresh values; a second read would
        // only push it out.
        qCDebug(lcDevice).noquote()
            << "ConfiguredDevice::refresh : [" << gateway() << "] : read under way";
        return;
    }
    startRequest(RefreshRequest, m_lastPollTime);
    countMissedPoll();
}

void ConfiguredDevice::readFailed(bool timedOut, QString text)
{
    m_requestKind = NoRequest;
    if (timedOut)
        ++m_health.timeouts;
    else
        ++m_health.errors;
    m_health.lastError = text;
    m_health.lastErrorMs = QDateTime::currentMSecsSinceEpoch();
}

// A channel value as the nodes take it: two decimals; empty when the gateway
// sent no number (NaN, infinity), which the nodes show as "no data".
QString ConfiguredDevice::valueText(const char *block)
{
    const float value = floatAt(block);
    if (!std::isfinite(value)) {
        ++m_health.noDataValues;
        return QString();
    }
    return QString::number(value, 'f', 2);
}

void ConfiguredDevice::declareLost()
{
    if (m_health.state != LinkHealth::Lost) {
        const bool wasUp = m_health.state == LinkHealth::Up;
        const QDateTime now = QDateTime::currentDateTime();
        m_lostAtMs = now.toMSecsSinceEpoch();
        m_health.state = LinkHealth::Lost;
        m_health.stateSinceMs = m_lostAtMs;
        const QString line =
            gateway() + QStringLiteral(" lost at ") + now.toString(QStringLiteral("HH:mm:ss"));
        qCWarning(lcDevice).noquote()
            << "ConfiguredDevice :" << line << "(" << m_missedPolls
            << "polls without an answer; last error:"
            << (m_health.lastError.isEmpty() ? QStringLiteral("none") : m_health.lastError) << ")";
        if (wasUp) {
            // The gap begins at the first poll that got no answer: no
            // sample carries that time, and none can come for it any more.
            const QDateTime gap = m_gapStart.isValid() ? m_gapStart : m_lastPollTime;
            for (NodeDevice *node : qAsConst(m_nodes)) {
                if (node)
                    node->markGap(gap);
            }
        }
        emit linkNotice(gateway(), true, line);
    }
    deviceDisconnected();
}

void ConfiguredDevice::readData(QByteArray data)
{
    const bool refresh = m_requestKind == RefreshRequest;
    const QDateTime time = m_requestKind == NoRequest ? m_lastPollTime : m_requestTime;
    m_requestKind = NoRequest;
    const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
    // An outage lasts from the last answer before it, not from when the
    // connection was declared lost (some polls later).
    const qint64 previousAnswerMs = m_health.lastAnswerMs > 0 ? m_health.lastAnswerMs : m_lostAtMs;
    ++m_health.answers;
    m_health.lastAnswerMs = nowMs;
    if (m_requestClock.isValid())
        m_health.addRoundTrip(m_requestClock.nsecsElapsed() / 1000);
    if (m_health.state != LinkHealth::Up) {
        const bool wasLost = m_health.state == LinkHealth::Lost;
        m_health.state = LinkHealth::Up;
        m_health.stateSinceMs = nowMs;
        if (wasLost) {
            const QString line =
                gateway() + QStringLiteral(" back at ") +
                QDateTime::fromMSecsSinceEpoch(nowMs).toString(QStringLiteral("HH:mm:ss")) +
                QStringLiteral(", ") + durationText((nowMs - previousAnswerMs + 500) / 1000);
            qCWarning(lcDevice).noquote() << "ConfiguredDevice :" << line;
            emit linkNotice(gateway(), false, line);
        }
    }
    m_gapStart = QDateTime();

    deviceConnected();
    m_missedPolls = 0;

    if (lcDevice().isDebugEnabled()) {
        qCDebug(lcDevice).noquote()
            << "ConfiguredDevice::readData [" << gateway() << "] - data length : " << data.size();
        QByteArray hex = data.toHex(' ').toUpper();
        if (!hex.isEmpty())
            hex.append(' ');
        qCDebug(lcDevice).noquote()
            << "ConfiguredDevice::readData [" << gateway() << "] : " << QString::fromLatin1(hex);
    }

    const char *bytes = data.constData();
    for (NodeDevice *node : qAsConst(m_nodes)) {
        if (!node)
            continue;
        const qint64 offset = 2 * (qint64(node->startAddress) - m_readStart);
        if (offset < 0 || offset + kBlockBytes > data.size()) {
            // The node's block is not in this reply: no value, never a read
            // past the end of the data.
            m_health.noDataValues += 2;
            node->setData(QString(), QString(), QString(), QString(), time, refresh);
            continue;
        }
        const char *block = bytes + offset;
        const QString ch1 = valueText(block);
        const QString ch2 = valueText(block + 4);
        // The values as the gateway sent them go to the record file; the
        // texts (two decimals) to the views.
        node->setExactValues(floatAt(block), floatAt(block + 4));
        node->setData(ch1, ch2, QString::number(int32At(block + 8)),
                      QString::number(int32At(block + 12)), time, refresh);
    }
}

void ConfiguredDevice::deviceConnected()
{
    m_connected = true;
    for (NodeDevice *node : qAsConst(m_nodes)) {
        if (node)
            node->deviceConnected();
    }
}

void ConfiguredDevice::deviceDisconnected()
{
    m_connected = false;
    qCDebug(lcDevice).noquote() << "- ConfiguredDevice::deviceDisconnected() : " << gateway();
    for (NodeDevice *node : qAsConst(m_nodes)) {
        if (node)
            node->deviceDisconnected();
    }
}
