#pragma once

#include <QList>
#include <QString>
#include <QVector>

// Temporary projects and settings for the tests that drive the main window.
namespace TestSupport {

// One device of a test project.
struct FixtureNode
{
    int startAddress = 0;
    QString deviceNumber;
    QString deviceName;
    float ch1Min = -100, ch1Max = 100, ch2Min = -100, ch2Max = 100;
    int ch1Unit = 1, ch2Unit = 3;
};

// One connection of a test project.
struct FixtureConnection
{
    QString ip = QStringLiteral("127.0.0.1");
    quint16 port = 0;
    QVector<FixtureNode> nodes;
};

// Writes a complete project file (name = base name of path, database beside
// it) the way the program itself writes one.
bool writeProject(const QString &path, int dataIntervalMs, const QVector<FixtureConnection> &connections);

// `count` nodes numbered from 0 with device numbers "<prefix>00", "<prefix>01"...
QVector<FixtureNode> fixtureNodes(int count, const QString &prefix);

// Sends the per-user settings (QSettings native format, user scope) into
// `dir`. Call before the first QSettings object is made.
void isolateSettingsIn(const QString &dir);

} // namespace TestSupport
