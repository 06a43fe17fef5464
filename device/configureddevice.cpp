#include "device/configureddevice.h"

#include "common/common.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"

#include <QtEndian>

#include <cstring>

namespace {

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
    : QObject(parent)
    , m_device(new ModbusDevice(this))
{
    m_device->connectSignal(SIGNAL(readyRead(QByteArray)), this, SLOT(readData(QByteArray)));
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
        connect(node, &QObject::destroyed, this, [this](QObject *gone) {
            m_nodes.removeAll(static_cast<NodeDevice *>(gone));
        });
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
        qCWarning(lcDevice).noquote() << "ConfiguredDevice::addNode : [" << m_ipAddress << "] : "
                                      << count << " registers exceed one read; reading "
                                      << ModbusDevice::kMaxReadCount;
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
        deviceDisconnected();
    }
}

void ConfiguredDevice::poll()
{
    // A refresh still unanswered by now never will be (the client has one
    // read in flight at a time, and a new connection drops the old read), so
    // the next reply is this poll's sample and is recorded like any other.
    m_refreshPending = false;
    m_device->write();
    m_lastPollTime = QDateTime::currentDateTime();
    countMissedPoll();
}

void ConfiguredDevice::refresh()
{
    m_refreshPending = true;
    m_device->write();
    countMissedPoll();
}

void ConfiguredDevice::readData(QByteArray data)
{
    deviceConnected();
    m_missedPolls = 0;

    if (lcDevice().isDebugEnabled()) {
        qCDebug(lcDevice).noquote() << "ConfiguredDevice::readData [" << m_ipAddress
                                    << "] - data length : " << data.size();
        QByteArray hex = data.toHex(' ').toUpper();
        if (!hex.isEmpty())
            hex.append(' ');
        qCDebug(lcDevice).noquote() << "ConfiguredDevice::readData [" << m_ipAddress << "] : "
                                    << QString::fromLatin1(hex);
    }

    const char *bytes = data.constData();
    for (NodeDevice *node : qAsConst(m_nodes)) {
        if (!node)
            continue;
        const qint64 offset = 2 * (qint64(node->startAddress) - m_readStart);
        if (offset < 0 || offset + kBlockBytes > data.size()) {
            // The node's block is not in this reply: no value, never a read
            // past the end of the data.
            node->setData(QString(), QString(), QString(), QString(), m_lastPollTime, m_refreshPending);
            continue;
        }
        const char *block = bytes + offset;
        node->setData(QString::number(floatAt(block), 'f', 2), QString::number(floatAt(block + 4), 'f', 2),
                      QString::number(int32At(block + 8)), QString::number(int32At(block + 12)),
                      m_lastPollTime, m_refreshPending);
    }
    m_refreshPending = false;
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
    qCDebug(lcDevice).noquote() << "- ConfiguredDevice::deviceDisconnected() : " << m_ipAddress;
    for (NodeDevice *node : qAsConst(m_nodes)) {
        if (node)
            node->deviceDisconnected();
    }
}
