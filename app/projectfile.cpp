#include "app/projectfile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "common/common.h"
#include "common/projectkeys.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

using namespace ProjectKeys;

namespace {

QString limitText(float value)
{
    return QString::number(double(value), 'f', 2);
}

} // namespace

bool ProjectFile::create(const QString &path, const QString &projectName, int dataIntervalMs)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kProjectName, projectName);
    settings.setValue(kDataInterval, dataIntervalMs);
    settings.setValue(kDatabaseName, projectName + QStringLiteral(".dat"));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

bool ProjectFile::writeDataInterval(const QString &path, int dataIntervalMs)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(kDataInterval, dataIntervalMs);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QString ProjectFile::projectName(const QString &path)
{
    if (!ProjectDocument::readableFile(path))
        return QString();
    return QSettings(path, QSettings::IniFormat).value(kProjectName).toString();
}

int ProjectFile::dataInterval(const QString &path)
{
    if (!ProjectDocument::readableFile(path))
        return 0;
    return QSettings(path, QSettings::IniFormat).value(kDataInterval).toInt();
}

QString ProjectFile::databaseName(const QString &path)
{
    if (!ProjectDocument::readableFile(path))
        return QString();
    return QSettings(path, QSettings::IniFormat).value(kDatabaseName).toString();
}

QByteArray ProjectFile::toJson(const QList<ConfiguredDevice *> &devices)
{
    QJsonArray connections;
    for (const ConfiguredDevice *device : devices) {
        if (!device)
            continue;
        QJsonArray nodes;
        const QList<NodeDevice *> nodeList = device->nodeList();
        for (const NodeDevice *node : nodeList) {
            if (!node)
                continue;
            const QVector<float> range = node->alarmRange();
            QJsonObject entry;
            entry.insert(kStartAddress, QString::number(node->startAddress));
            entry.insert(kDeviceName, node->deviceName());
            entry.insert(kDeviceNumber, node->deviceNumber());
            entry.insert(kCh1Name, node->ch1Name());
            entry.insert(kCh2Name, node->ch2Name());
            entry.insert(kCh1Unit, QString::number(node->ch1Unit()));
            entry.insert(kCh1Min, limitText(range.value(0)));
            entry.insert(kCh1Max, limitText(range.value(1)));
            entry.insert(kCh1Custom, node->ch1CustomUnit());
            entry.insert(kCh2Unit, QString::number(node->ch2Unit()));
            entry.insert(kCh2Min, limitText(range.value(2)));
            entry.insert(kCh2Max, limitText(range.value(3)));
            entry.insert(kCh2Custom, node->ch2CustomUnit());
            nodes.append(entry);
        }
        QJsonObject connection;
        connection.insert(kDeviceInterface, device->ipAddress());
        connection.insert(kDevicePort, QString::number(device->port()));
        connection.insert(kDeviceModel, device->model());
        connection.insert(kNodes, nodes);
        connections.append(connection);
    }
    QJsonObject root;
    root.insert(kDevices, connections);
    return QJsonDocument(root).toJson();
}

bool ProjectFile::write(const QList<ConfiguredDevice *> &devices, const QString &path)
{
    const QFileInfo info(path);
    if (info.exists() && !ProjectDocument::readableFile(path))
        return false;
    QSettings settings(path, QSettings::IniFormat);
    const QByteArray previous = settings.value(kDeviceList).toByteArray();
    // A file QSettings could not parse would be rewritten with only what it
    // understood; leave it alone instead.
    if (settings.status() != QSettings::NoError)
        return false;
    settings.setValue(kBackup, previous);
    settings.setValue(kDeviceList, toJson(devices));
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QList<ConfiguredDevice *> ProjectFile::build(const QVector<Connection> &connections)
{
    QList<ConfiguredDevice *> devices;
    for (const Connection &connection : connections) {
        qCDebug(lcApp).noquote().nospace() << "projectLoaded ip : " << connection.ipAddress
                                           << " port : " << connection.port
                                           << " deviceModel : " << connection.model;
        auto *device = new ConfiguredDevice;
        device->setDeviceInfo(connection.ipAddress, connection.port);
        device->setModel(connection.model);
        for (const Node &entry : connection.nodes) {
            auto *node = new NodeDevice(entry.deviceNumber, device);
            node->setNames(entry.deviceName, entry.ch1Name, entry.ch2Name);
            node->startAddress = entry.startAddress;
            node->registerCount = kRegisterCount;
            node->setUnits(entry.ch1Unit, entry.ch2Unit);
            node->setAlarmRange(entry.ch1Min, entry.ch1Max, entry.ch2Min, entry.ch2Max);
            node->setCustomUnits(entry.ch1Custom, entry.ch2Custom);
            device->addNode(node);
        }
        devices.append(device);
    }
    return devices;
}

bool ProjectFile::read(const QString &path, QList<ConfiguredDevice *> *devices, QString *error)
{
    QVector<Connection> connections;
    bool ok = ProjectDocument::readableFile(path);
    if (ok) {
        QSettings settings(path, QSettings::IniFormat);
        const QByteArray json = settings.value(kDeviceList).toByteArray();
        ok = settings.status() == QSettings::NoError && parse(json, &connections);
    }
    if (!ok) {
        if (error)
            *error = kNoDeviceInformation;
        return false;
    }
    if (devices)
        *devices = build(connections);
    return true;
}
