#include "projectfixture.h"

#include "app/projectfile.h"
#include "device/configureddevice.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace TestSupport {

bool writeProject(const QString &path, int dataIntervalMs, const QVector<FixtureConnection> &connections)
{
    QVector<ProjectFile::Connection> entries;
    for (const FixtureConnection &c : connections) {
        ProjectFile::Connection entry;
        entry.ipAddress = c.ip;
        entry.port = c.port;
        entry.model = QStringLiteral("QA100");
        for (const FixtureNode &n : c.nodes) {
            ProjectFile::Node node;
            node.startAddress = n.startAddress;
            node.deviceNumber = n.deviceNumber;
            node.deviceName = n.deviceName.isEmpty() ? n.deviceNumber : n.deviceName;
            node.ch1Name = QStringLiteral("Temperature");
            node.ch2Name = QStringLiteral("Humidity");
            node.ch1Unit = n.ch1Unit;
            node.ch2Unit = n.ch2Unit;
            node.ch1Min = n.ch1Min;
            node.ch1Max = n.ch1Max;
            node.ch2Min = n.ch2Min;
            node.ch2Max = n.ch2Max;
            entry.nodes << node;
        }
        entries << entry;
    }
    const QString name = QFileInfo(path).completeBaseName();
    if (!ProjectFile::create(path, name, dataIntervalMs))
        return false;
    QList<ConfiguredDevice *> devices = ProjectFile::build(entries);
    const bool ok = ProjectFile::write(devices, path);
    qDeleteAll(devices);
    return ok;
}

QVector<FixtureNode> fixtureNodes(int count, const QString &prefix)
{
    QVector<FixtureNode> nodes;
    for (int i = 0; i < count; ++i) {
        FixtureNode n;
        n.startAddress = i * 8;
        n.deviceNumber = prefix + QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
        n.deviceName = QStringLiteral("Device %1").arg(i + 1);
        nodes << n;
    }
    return nodes;
}

void isolateSettingsIn(const QString &dir)
{
    isolateSettings();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

} // namespace TestSupport
