#pragma once

// The in-process gateway simulator and the register layout of a node's
// block, for the tests that poll over loopback.

#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "gatewaysimulator.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"

#include <QTemporaryDir>
#include <QVector>

#include <cstring>

namespace TestSupport
{

// A simulator on a free loopback port (or `port`) whose values stay as they
// are set; start() is left to the caller.
inline GatewaySimulator::Options frozenGateway(int devices = 16, quint16 port = 0)
{
    GatewaySimulator::Options options;
    options.port = port;
    options.devices = devices;
    options.updateMs = 0;
    return options;
}

// The eight holding registers of one node as the gateway lays them out:
// two floats, LQI and battery, low word first.
inline QVector<quint16> nodeBlock(float ch1, float ch2, qint32 lqi, qint32 battery)
{
    quint32 b1, b2;
    std::memcpy(&b1, &ch1, 4);
    std::memcpy(&b2, &ch2, 4);
    QVector<quint16> r;
    for (quint32 w : {b1, b2, quint32(lqi), quint32(battery)})
        r << quint16(w & 0xFFFF) << quint16(w >> 16);
    return r;
}

// A node at `start` on `connection`, numbered after its start address.
inline NodeDevice *addNode(ConfiguredDevice &connection, int start)
{
    auto *node = new NodeDevice(QString::number(start), &connection);
    node->startAddress = start;
    connection.addNode(node);
    return node;
}

// What the nodes show: channel 1, channel 2, LQI and battery of each, in order.
inline QStringList nodeTexts(const QList<NodeDevice *> &nodes)
{
    QStringList texts;
    for (NodeDevice *node : nodes)
        texts << node->ch1Text() << node->ch2Text() << node->lqiText() << node->batteryText();
    return texts;
}

// The rows queued for recording, written into a record file of their own and
// read back as "select <columns> from fennolink order by id" gives them.
inline QStringList queuedRows(const QString &columns)
{
    QTemporaryDir dir;
    InsertSerialData db(dir.filePath(QStringLiteral("queued.dat")), QStringLiteral("queued"));
    if (!db.createConnection() || !db.insertNow())
        return {QStringLiteral("the queued rows could not be written")};
    return sqlTexts(db.databasePath(),
                    QStringLiteral("select %1 from fennolink order by id").arg(columns));
}

} // namespace TestSupport
