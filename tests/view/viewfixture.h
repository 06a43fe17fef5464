#pragma once

// Builds connections and nodes for the view tests without any network
// traffic: a poller is told directly that it is connected or lost.

#include "device/configureddevice.h"
#include "device/nodedevice.h"

#include <QDateTime>
#include <QLabel>
#include <QList>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

namespace ViewFixture {

// Owns the pollers (and through them the nodes) of one test.
struct Project
{
    std::vector<std::unique_ptr<ConfiguredDevice>> owned;
    QList<ConfiguredDevice *> devices;

    // A poller at ip:port with `count` nodes named "<prefix>1", "<prefix>2", ...
    // (device numbers "<ip>-<n>") unless `named` is false.
    ConfiguredDevice *addConnection(const QString &ip, int count, bool named = true,
                                    const QString &prefix = QStringLiteral("Dev"), quint16 port = 502)
    {
        auto device = std::make_unique<ConfiguredDevice>();
        device->setDeviceInfo(ip, port);
        for (int i = 0; i < count; ++i) {
            auto *node = new NodeDevice(QStringLiteral("%1-%2").arg(ip).arg(devices.size() * 100 + i + 1), device.get());
            node->startAddress = i * 8;
            node->registerCount = 8;
            if (named)
                node->setNames(QStringLiteral("%1%2").arg(prefix).arg(nodeCount() + 1), QStringLiteral("Temp"),
                               QStringLiteral("Hum"));
            device->addNode(node);
            ++m_nodes;
        }
        devices.append(device.get());
        owned.push_back(std::move(device));
        return devices.last();
    }

    int nodeCount() const { return m_nodes; }

    QList<NodeDevice *> nodes() const
    {
        QList<NodeDevice *> all;
        for (ConfiguredDevice *device : devices)
            all += device->nodeList();
        return all;
    }

    // Drop every link the nodes hold before the views are destroyed.
    void unlinkViews()
    {
        for (NodeDevice *node : nodes()) {
            node->clearProjectList();
            node->clearChartView();
            node->clearTiles();
        }
    }

private:
    int m_nodes = 0;
};

inline void feed(NodeDevice *node, const QString &ch1, const QString &ch2, const QDateTime &time = QDateTime::currentDateTime(),
                 const QString &lqi = QStringLiteral("-61"), const QString &battery = QStringLiteral("97"))
{
    node->setData(ch1, ch2, lqi, battery, time, false);
}

template <typename T>
T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

} // namespace ViewFixture
