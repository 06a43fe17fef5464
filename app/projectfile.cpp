#include "app/projectfile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

namespace {

const QString kProjectName = QStringLiteral("projectName");
const QString kDataInterval = QStringLiteral("DataInterval");
const QString kDatabaseName = QStringLiteral("databaseName");
const QString kDeviceList = QStringLiteral("DeviceList");
const QString kBackup = QStringLiteral("Backup");

const QString kDevices = QStringLiteral("devices");
const QString kDeviceInterface = QStringLiteral("DeviceInterface");
const QString kDevicePort = QStringLiteral("DevicePort");
const QString kDeviceModel = QStringLiteral("DeviceModel");
const QString kNodes = QStringLiteral("nodes");

const QString kStartAddress = QStringLiteral("StartAddress");
const QString kDeviceName = QStringLiteral("DeviceName");
const QString kDeviceNumber = QStringLiteral("DeviceNumber");
const QString kCh1Name = QStringLiteral("Ch1Name");
const QString kCh2Name = QStringLiteral("Ch2Name");
const QString kCh1Unit = QStringLiteral("ch1_unit");
const QString kCh1Min = QStringLiteral("ch1_min");
const QString kCh1Max = QStringLiteral("ch1_max");
const QString kCh1Custom = QStringLiteral("ch1_custom");
const QString kCh2Unit = QStringLiteral("ch2_unit");
const QString kCh2Min = QStringLiteral("ch2_min");
const QString kCh2Max = QStringLiteral("ch2_max");
const QString kCh2Custom = QStringLiteral("ch2_custom");

constexpr int kHighestUnitCode = 4;

QString limitText(float value)
{
    return QString::number(double(value), 'f', 2);
}

float limitValue(const QJsonObject &node, const QString &key)
{
    return float(node.value(key).toString().toDouble());
}

// Unit codes outside the known table read as "Undefined".
int unitValue(const QJsonObject &node, const QString &key)
{
    const int code = node.value(key).toString().toInt();
    return code >= 0 && code <= kHighestUnitCode ? code : 0;
}

// A file we may read: an existing, readable, plain file of sane size.
bool readableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() && info.size() <= ProjectFile::kMaxFileSize;
}

} // namespace

const QString ProjectFile::kNoDeviceInformation = QStringLiteral("There is no device information!");

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
    if (!readableFile(path))
        return QString();
    return QSettings(path, QSettings::IniFormat).value(kProjectName).toString();
}

int ProjectFile::dataInterval(const QString &path)
{
    if (!readableFile(path))
        return 0;
    return QSettings(path, QSettings::IniFormat).value(kDataInterval).toInt();
}

QString ProjectFile::databaseName(const QString &path)
{
    if (!readableFile(path))
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
    if (info.exists() && !readableFile(path))
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

bool ProjectFile::parse(const QByteArray &json, QVector<Connection> *connections)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject())
        return false;

    QVector<Connection> result;
    int deviceCount = 0;
    const QJsonArray devices = document.object().value(kDevices).toArray();
    for (const QJsonValue &deviceValue : devices) {
        if (!deviceValue.isObject())
            continue;
        if (result.size() >= kMaxConnections) {
            qCDebug(lcApp).noquote() << "ProjectFile::parse : connections beyond" << kMaxConnections
                                     << "ignored";
            break;
        }
        const QJsonObject device = deviceValue.toObject();
        Connection connection;
        connection.ipAddress = device.value(kDeviceInterface).toString();
        bool portOk = false;
        const int port = device.value(kDevicePort).toString().toInt(&portOk);
        connection.port = portOk && port >= 0 && port <= 0xFFFF ? quint16(port) : 0;
        connection.model = device.value(kDeviceModel).toString();

        const QJsonArray nodes = device.value(kNodes).toArray();
        for (const QJsonValue &nodeValue : nodes) {
            if (!nodeValue.isObject())
                continue;
            const QJsonObject entry = nodeValue.toObject();
            if (entry.value(kStartAddress).isNull())
                continue;
            if (deviceCount >= kMaxDevices) {
                qCDebug(lcApp).noquote() << "ProjectFile::parse : devices beyond" << kMaxDevices
                                         << "ignored";
                break;
            }
            Node node;
            node.startAddress = entry.value(kStartAddress).toString().toInt();
            if (node.startAddress < 0 || node.startAddress > kMaxStartAddress) {
                qCDebug(lcApp).noquote() << "ProjectFile::parse : start address out of range :"
                                         << node.startAddress;
                continue;
            }
            node.deviceName = entry.value(kDeviceName).toString();
            node.deviceNumber = entry.value(kDeviceNumber).toString();
            node.ch1Name = entry.value(kCh1Name).toString();
            node.ch2Name = entry.value(kCh2Name).toString();
            node.ch1Unit = unitValue(entry, kCh1Unit);
            node.ch1Min = limitValue(entry, kCh1Min);
            node.ch1Max = limitValue(entry, kCh1Max);
            node.ch1Custom = entry.value(kCh1Custom).toString();
            node.ch2Unit = unitValue(entry, kCh2Unit);
            node.ch2Min = limitValue(entry, kCh2Min);
            node.ch2Max = limitValue(entry, kCh2Max);
            node.ch2Custom = entry.value(kCh2Custom).toString();
            connection.nodes.append(node);
            ++deviceCount;
        }
        result.append(connection);
    }
    *connections = result;
    return true;
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
    bool ok = readableFile(path);
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
