#include "common/projectdocument.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include <cmath>

#include "common/common.h"
#include "common/projectkeys.h"
#include "common/projectsettings.h"

using namespace ProjectKeys;

namespace
{

constexpr int kHighestUnitCode = 4;
// Names quoted in the reader's warnings are cut to this many characters.
constexpr int kMaxNameShown = 40;
// How much of a file is looked at to tell text from binary content.
constexpr qint64 kSniffBytes = 4096;

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

QString shortened(const QString &text)
{
    QString shown = text.left(kMaxNameShown);
    // Line breaks would break the one-line-per-entry warning list.
    shown.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return text.size() > kMaxNameShown ? shown + QStringLiteral("...") : shown;
}

// How a JSON value is quoted in a warning.
QString valueText(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return QLatin1Char('"') + shortened(value.toString()) + QLatin1Char('"');
    case QJsonValue::Double: return QString::number(value.toDouble(), 'g', 17);
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Undefined: return QStringLiteral("missing");
    case QJsonValue::Bool: return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default: return value.isArray() ? QStringLiteral("a list") : QStringLiteral("an object");
    }
}

QString connectionText(const QJsonObject &device)
{
    return shortened(device.value(kDeviceInterface).toString()) + QLatin1Char(':') +
           shortened(device.value(kDevicePort).toString());
}

QString nodeText(const QJsonObject &entry)
{
    return QStringLiteral("Device \"%1\" (ID %2)")
        .arg(shortened(entry.value(kDeviceName).toString()),
             shortened(entry.value(kDeviceNumber).toString()));
}

bool isBinary(const QByteArray &head)
{
    for (const char c : head) {
        const uchar u = uchar(c);
        if (u < 0x20 && u != '\t' && u != '\n' && u != '\r')
            return true;
    }
    return false;
}

} // namespace

const QString ProjectDocument::kNoDeviceInformation =
    QStringLiteral("There is no device information!");

bool ProjectDocument::readableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable() && info.size() <= kMaxFileSize;
}

QString ProjectDocument::fileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The file does not exist.");
    if (info.isDir())
        return QStringLiteral("It is a folder, not a project file.");
    if (!info.isFile())
        return QStringLiteral("It is not a project file.");
    if (info.size() > kMaxFileSize)
        return QStringLiteral("The file is too large to be a project file (%1 MiB).")
            .arg(info.size() / (1024 * 1024));
    QFile file(path);
    if (!info.isReadable() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("The file cannot be read: %1.").arg(file.errorString());
    const QByteArray head = file.read(kSniffBytes);
    if (head.isEmpty())
        return QStringLiteral("The file is empty.");
    if (head.startsWith("SQLite format 3"))
        return QStringLiteral("It is a record database, not a project file.");
    if (isBinary(head))
        return QStringLiteral("It is not a project file.");
    return QString();
}

bool ProjectDocument::load(const QString &filePath, QString *error)
{
    path = QFileInfo(filePath).absoluteFilePath();
    connections.clear();
    warnings.clear();
    dataIntervalText.clear();
    reason = fileProblem(filePath);
    if (reason.isEmpty()) {
        ProjectSettings fresh(filePath);
        QSettings &settings = fresh.settings();
        projectName = settings.value(kProjectName).toString();
        dataIntervalText = settings.value(kDataInterval).toString();
        dataInterval = settings.value(kDataInterval).toInt();
        databaseName = settings.value(kDatabaseName).toString();
        recordStartTime = settings.value(kRecordStartTime).toString();
        recordStopTime = settings.value(kRecordStopTime).toString();
        const QByteArray json = settings.value(kDeviceList).toByteArray();
        if (settings.status() != QSettings::NoError) {
            reason = QStringLiteral("It is not a project file.");
        } else if (!settings.contains(kDeviceList)) {
            const bool anyKey = settings.contains(kProjectName) ||
                                settings.contains(kDatabaseName) ||
                                settings.contains(kDataInterval);
            reason = anyKey
                         ? QStringLiteral("The project has no device list: its devices were never "
                                          "confirmed in the project editor.")
                         : QStringLiteral("It is not a project file.");
        } else {
            parse(json, &connections, &reason, &warnings);
        }
    }
    if (!reason.isEmpty()) {
        qCWarning(lcCommon).noquote() << "ProjectDocument::load :" << path << ":" << reason;
        if (error)
            *error = kNoDeviceInformation;
        return false;
    }
    for (const QString &warning : qAsConst(warnings))
        qCWarning(lcCommon).noquote() << "ProjectDocument::load :" << path << ":" << warning;
    return true;
}

QString ProjectDocument::errorText() const
{
    return reason.isEmpty() ? kNoDeviceInformation
                            : kNoDeviceInformation + QLatin1Char('\n') + reason;
}

QString ProjectDocument::warningText(const QStringList &warnings)
{
    if (warnings.isEmpty())
        return QString();
    QString text = QStringLiteral("Some entries of the project file were left out:");
    for (int i = 0; i < warnings.size() && i < kMaxWarningsShown; ++i)
        text += QStringLiteral("\n- ") + warnings.at(i);
    if (warnings.size() > kMaxWarningsShown)
        text += QStringLiteral("\n... and %1 more.").arg(warnings.size() - kMaxWarningsShown);
    return text;
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

bool ProjectDocument::parseStartAddress(const QJsonValue &value, int *address)
{
    int parsed = -1;
    if (value.isString()) {
        // Decimal digits only: no sign, no fraction, no hexadecimal, not empty.
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,6}$"));
        const QString text = value.toString().trimmed();
        if (digits.match(text).hasMatch())
            parsed = text.toInt();
    } else if (value.isDouble()) {
        const double number = value.toDouble();
        if (number >= 0 && number <= kMaxStartAddress && std::floor(number) == number)
            parsed = int(number);
    }
    if (parsed < 0 || parsed > kMaxStartAddress)
        return false;
    if (address)
        *address = parsed;
    return true;
}

bool ProjectDocument::parse(const QByteArray &json, QVector<Connection> *connections)
{
    return parse(json, connections, nullptr, nullptr);
}

bool ProjectDocument::parse(const QByteArray &json, QVector<Connection> *connections,
                            QString *reason, QStringList *warnings)
{
    QStringList leftOut;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (reason) {
            if (json.trimmed().isEmpty()) {
                *reason = QStringLiteral("The device list is empty.");
            } else if (parseError.error != QJsonParseError::NoError) {
                const int line = json.left(parseError.offset).count('\n') + 1;
                *reason = QStringLiteral("The device list is not valid JSON at line %1 (%2).")
                              .arg(QString::number(line), parseError.errorString());
            } else {
                *reason = QStringLiteral("The device list is not a JSON object.");
            }
        }
        return false;
    }

    QVector<Connection> result;
    int deviceCount = 0;
    // The device number keys the recorded rows: two devices under one
    // number would be recorded as one, their values mixed.
    QSet<QString> numbers;
    const QJsonValue devicesValue = document.object().value(kDevices);
    if (!devicesValue.isArray())
        leftOut << QStringLiteral("The device list has no \"devices\" list.");
    const QJsonArray devices = devicesValue.toArray();
    for (const QJsonValue &deviceValue : devices) {
        if (!deviceValue.isObject()) {
            leftOut << QStringLiteral("An entry of \"devices\" that is %1, not a connection.")
                           .arg(valueText(deviceValue));
            continue;
        }
        const QJsonObject device = deviceValue.toObject();
        const QJsonArray nodes = device.value(kNodes).toArray();
        if (result.size() >= kMaxConnections) {
            leftOut
                << QStringLiteral(
                       "Connection %1 with %2 device(s): a project holds at most %3 connections.")
                       .arg(connectionText(device), QString::number(nodes.size()),
                            QString::number(kMaxConnections));
            continue;
        }
        Connection connection;
        connection.ipAddress = device.value(kDeviceInterface).toString();
        bool portOk = false;
        const int port = device.value(kDevicePort).toString().toInt(&portOk);
        connection.port = portOk && port >= 0 && port <= 0xFFFF ? quint16(port) : 0;
        connection.model = device.value(kDeviceModel).toString();

        for (const QJsonValue &nodeValue : nodes) {
            if (!nodeValue.isObject()) {
                leftOut << QStringLiteral("An entry of the devices of %1 that is %2, not a device.")
                               .arg(connectionText(device), valueText(nodeValue));
                continue;
            }
            const QJsonObject entry = nodeValue.toObject();
            Node node;
            const QJsonValue start = entry.value(kStartAddress);
            if (!parseStartAddress(start, &node.startAddress)) {
                leftOut << QStringLiteral("%1 under %2: its \"StartAddress\" %3 is not a whole "
                                          "number from 0 to %4.")
                               .arg(nodeText(entry), connectionText(device), valueText(start),
                                    QString::number(kMaxStartAddress));
                continue;
            }
            if (deviceCount >= kMaxDevices) {
                leftOut << QStringLiteral("%1 under %2: a project holds at most %3 devices.")
                               .arg(nodeText(entry), connectionText(device),
                                    QString::number(kMaxDevices));
                continue;
            }
            node.deviceName = entry.value(kDeviceName).toString();
            node.deviceNumber = entry.value(kDeviceNumber).toString();
            if (numbers.contains(node.deviceNumber)) {
                leftOut << QStringLiteral("%1 under %2: its \"DeviceNumber\" %3 is already used by "
                                          "another device of the project.")
                               .arg(nodeText(entry), connectionText(device),
                                    valueText(entry.value(kDeviceNumber)));
                continue;
            }
            numbers.insert(node.deviceNumber);
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
    if (connections)
        *connections = result;
    if (warnings)
        *warnings = leftOut;
    return true;
}
