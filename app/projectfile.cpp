#include "app/projectfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryFile>

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
    auto fail = [&](const QString &why) {
        qCWarning(lcApp).noquote() << "ProjectFile::update : cannot save" << path << ":" << why;
        if (error)
            *error = why;
        return false;
    };
    const QFileInfo link(path);
    // A project reached through a link is saved where the link points.
    const QFileInfo target(link.isSymLink() ? link.symLinkTarget() : link.absoluteFilePath());
    QByteArray current;
    if (target.exists()) {
        if (!target.isFile())
            return fail(QStringLiteral("It is not a file."));
        if (!target.isWritable())
            return fail(QStringLiteral("The file is read-only."));
        QFile in(target.absoluteFilePath());
        if (target.size() > kMaxFileSize || !in.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("The file cannot be read: %1.").arg(in.errorString()));
        current = in.readAll();
    } else if (!target.absoluteDir().exists()) {
        return fail(QStringLiteral("The folder %1 does not exist.").arg(target.absolutePath()));
    }

    // QSettings works on a copy under a name used once: what it caches of a
    // file it could not write stays with that name and is never read again.
    // The copy goes beside the project (the disk it is saved to), or to the
    // temporary folder where the project's folder takes no new files.
    QTemporaryFile copy(
        target.absoluteDir().filePath(QStringLiteral(".quillark-project-XXXXXX.qlk")));
    if (!copy.open())
        copy.setFileTemplate(QDir::temp().filePath(QStringLiteral("quillark-project-XXXXXX.qlk")));
    if (!copy.isOpen() && !copy.open())
        return fail(
            QStringLiteral("No temporary copy could be written: %1.").arg(copy.errorString()));
    if (copy.write(current) != current.size() || !copy.flush())
        return fail(
            QStringLiteral("No temporary copy could be written: %1.").arg(copy.errorString()));
    copy.close();
    {
        QSettings settings(copy.fileName(), QSettings::IniFormat);
        // A file QSettings could not parse would be rewritten with only what
        // it understood; leave it alone instead.
        if (settings.status() != QSettings::NoError)
            return fail(QStringLiteral("It is not a project file that can be rewritten."));
        change(settings);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return fail(QStringLiteral("No temporary copy could be written."));
    }
    QFile written(copy.fileName());
    if (!written.open(QIODevice::ReadOnly))
        return fail(written.errorString());
    const QByteArray content = written.readAll();

    // Replaced in one step where the folder allows it; the old file stays
    // whole when anything fails.
    QSaveFile out(target.absoluteFilePath());
    out.setDirectWriteFallback(true);
    if (!out.open(QIODevice::WriteOnly))
        return fail(out.errorString() + QLatin1Char('.'));
    if (out.write(content) != content.size() || !out.commit())
        return fail(out.errorString() + QLatin1Char('.'));
    return true;
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
