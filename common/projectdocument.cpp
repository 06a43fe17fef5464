#include "common/projectdocument.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include "common/common.h"
#include "common/projectkeys.h"

using namespace ProjectKeys;

namespace {

constexpr int kHighestUnitCode = 4;

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

} // namespace

const QString ProjectDocument::kNoDeviceInformation = QStringLiteral("There is no device information!");

bool ProjectDocument::readableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() && info.size() <= kMaxFileSize;
}

bool ProjectDocument::load(const QString &filePath, QString *error)
{
    path = QFileInfo(filePath).absoluteFilePath();
    connections.clear();
    bool ok = readableFile(filePath);
    if (ok) {
        QSettings settings(filePath, QSettings::IniFormat);
        projectName = settings.value(kProjectName).toString();
        dataInterval = settings.value(kDataInterval).toInt();
        databaseName = settings.value(kDatabaseName).toString();
        recordStartTime = settings.value(kRecordStartTime).toString();
        recordStopTime = settings.value(kRecordStopTime).toString();
        const QByteArray json = settings.value(kDeviceList).toByteArray();
        ok = settings.status() == QSettings::NoError && parse(json, &connections);
    }
    if (!ok && error)
        *error = kNoDeviceInformation;
    return ok;
}

QVector<ProjectDocument::Node> ProjectDocument::nodes() const
{
    QVector<Node> all;
    for (const Connection &connection : connections)
        all += connection.nodes;
    return all;
}

QString ProjectDocument::databasePathFor(const QString &projectPath, const QString &storedName)
{
    const QFileInfo project(projectPath);
    QString name = QFileInfo(storedName).fileName();
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = project.completeBaseName() + QStringLiteral(".dat");
    return project.absolutePath() + QLatin1Char('/') + name;
}

bool ProjectDocument::parse(const QByteArray &json, QVector<Connection> *connections)
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
            qCDebug(lcCommon).noquote() << "ProjectDocument::parse : connections beyond" << kMaxConnections
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
                qCDebug(lcCommon).noquote() << "ProjectDocument::parse : devices beyond" << kMaxDevices
                                         << "ignored";
                break;
            }
            Node node;
            node.startAddress = entry.value(kStartAddress).toString().toInt();
            if (node.startAddress < 0 || node.startAddress > kMaxStartAddress) {
                qCDebug(lcCommon).noquote() << "ProjectDocument::parse : start address out of range :"
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

