#pragma once

#include <QString>
#include <QVector>

// Temporary projects and settings for the tests that drive the main window.
namespace TestSupport {

// Writes a complete project file the way the program does (name = base name
// of path, database beside it): one QA100 connection on 127.0.0.1 per port,
// each with `nodes` devices at start addresses 0, 8, 16... whose channel 1
// alarms outside [ch1Min, ch1Max].
bool writeProject(const QString &path, int dataIntervalMs, const QVector<quint16> &ports, int nodes = 1,
                  float ch1Min = -100, float ch1Max = 100);

// Sends the per-user settings (QSettings native format, user scope) into
// `dir`. Call before the first QSettings object is made.
void isolateSettingsIn(const QString &dir);

} // namespace TestSupport
