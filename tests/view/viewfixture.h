#pragma once

// Connections and nodes for the view tests without network traffic: a poller
// is told directly that it is connected or lost.

#include "device/configureddevice.h"
#include "device/nodedevice.h"

#include <QDateTime>
#include <QLabel>
#include <QList>
#include <QWidget>

#include <memory>
#include <vector>

namespace ViewFixture
{

// Owns the pollers (and through them the nodes) of one test.
struct Project {
    std::vector<std::unique_ptr<ConfiguredDevice>> owned;
    QList<ConfiguredDevice *> devices;

    // A poller at ip:port with `count` nodes named "Dev1", "Dev2", ... across
    // the project (device numbers "<ip>-<n>") unless `named` is false.
    ConfiguredDevice *addConnection(const QString &ip, int count, bool named = true,
                                    quint16 port = 502)
    {
        auto device = std::make_unique<ConfiguredDevice>();
        device->setDeviceInfo(ip, port);
        for (int i = 0; i < count; ++i) {
            auto *node = new NodeDevice(
                QStringLiteral("%1-%2").arg(ip).arg(devices.size() * 100 + i + 1), device.get());
            node->startAddress = i * 8;
            node->registerCount = 8;
            if (named)
                node->setNames(QStringLiteral("Dev%1").arg(nodes().size() + i + 1),
                               QStringLiteral("Temp"), QStringLiteral("Hum"));
            device->addNode(node);
        }
        devices.append(device.get());
        owned.push_back(std::move(device));
        return devices.last();
    }

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
};

inline void feed(NodeDevice *node, const QString &ch1, const QString &ch2,
                 const QDateTime &time = QDateTime::currentDateTime(),
                 const QString &lqi = QStringLiteral("-61"),
                 const QString &battery = QStringLiteral("97"))
{
    node->setData(ch1, ch2, lqi, battery, time, false);
}

template <typename T> T *child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}
inline QLabel *label(QWidget *parent, const char *name)
{
    return child<QLabel>(parent, name);
}

} // namespace ViewFixture
