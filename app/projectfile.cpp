#include "app/projectfile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "common/common.h"
#include "common/projectkeys.h"
#include "common/projectsettings.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

using namespace ProjectKeys;

namespace
{

QString limitText(float value)
{
    return QString::number(double(value), 'f', 2);
}

} // namespace

bool ProjectFile::update(const QString &path, const std::function<void(QSettings &)> &change,
                         QString *error)
{
    return ProjectSettings::update(path, change, error);
}

bool ProjectFile::create(const QString &path, const QString &projectName, int dataIntervalMs,
                         QString *error)
{
    return update(
        path,
        [&](QSettings &settings) {
            settings.setValue(kProjectName, projectName);
            settings.setValue(kDataInterval, dataIntervalMs);
            settings.setValue(kDatabaseName, projectName + QStringLiteral(".dat"));
        },
        error);
}

bool ProjectFile::writeDataInterval(const QString &path, int dataIntervalMs, QString *error)
{
    return writeValue(path, kDataInterval, dataIntervalMs, error);
}

bool ProjectFile::writeValue(const QString &path, const QString &key, const QVariant &value,
                             QString *error)
{
    return update(
        path, [&](QSettings &settings) { settings.setValue(key, value); }, error);
}

QString ProjectFile::projectName(const QString &path)
{
    if (!ProjectDocument::readableFile(path))
        return QString();
    return ProjectSettings(path).settings().value(kProjectName).toString();
}

int ProjectFile::dataInterval(const QString &path)
{
    if (!ProjectDocument::readableFile(path))
        return 0;
    return ProjectSettings(path).settings().value(kDataInterval).toInt();
}

QString ProjectFile::databaseName(const QString &path)
{
    if (!ProjectDocument::readableFile(path))
        return QString();
    return ProjectSettings(path).settings().value(kDatabaseName).toString();
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

bool ProjectFile::write(const QList<ConfiguredDevice *> &devices, const QString &path,
                        QString *error)
{
    const QByteArray json = toJson(devices);
    return update(
        path,
        [&](QSettings &settings) {
            settings.setValue(kBackup, settings.value(kDeviceList).toByteArray());
            settings.setValue(kDeviceList, json);
        },
        error);
}

QList<ConfiguredDevice *> ProjectFile::build(const QVector<Connection> &connections)
{
    QList<ConfiguredDevice *> devices;
    for (const Connection &connection : connections) {
        qCDebug(lcApp).noquote().nospace()
            << "projectLoaded ip : " << connection.ipAddress << " port : " << connection.port
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

bool ProjectFile::read(const QString &path, QList<ConfiguredDevice *> *devices, QString *error,
                       QStringList *warnings)
{
    ProjectDocument document;
    if (!document.load(path)) {
        if (error)
            *error = document.errorText();
        return false;
    }
    if (warnings)
        *warnings = document.warnings;
    if (devices)
        *devices = build(document.connections);
    return true;
}
