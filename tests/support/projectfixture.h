#pragma once

#include "common/projectdocument.h"

#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVector>

class QWidget;

// Temporary projects and settings for the tests that drive the main window.
namespace TestSupport
{

// Writes a complete project file the way the program does (name = base name
// of path, database beside it): one QA100 connection on 127.0.0.1 per port,
// each with `nodes` devices at start addresses 0, 8, 16... whose channel 1
// alarms outside [ch1Min, ch1Max].
bool writeProject(const QString &path, int dataIntervalMs, const QVector<quint16> &ports,
                  int nodes = 1, float ch1Min = -100, float ch1Max = 100);

// A device for the project below: channel 1 "Temperature" in degrees C and
// channel 2 "Humidity" in %RH, each alarming outside its limits (none when
// they are equal).
ProjectDocument::Node projectDevice(const QString &serial, const QString &name, float ch1Min = -100,
                                    float ch1Max = 100, float ch2Min = 0, float ch2Max = 100);

// Writes a new project file with `devices`, eight to a QA100 connection on
// 127.0.0.1, and the record start and stop times when given.
bool writeDeviceProject(const QString &path, int dataIntervalMs,
                        const QVector<ProjectDocument::Node> &devices,
                        const QString &recordStart = QString(),
                        const QString &recordStop = QString());

// The record database a project written above names: beside it, after it.
QString databaseOf(const QString &projectPath);

// The messages (MessageDialog) shown under `parent`, oldest first, as "title|text".
QStringList shownMessages(const QWidget *parent);

// Runs one statement on an SQLite file through a connection of its own and
// returns the rows it gives (none, with a warning, on error).
QList<QVariantList> sqlRows(const QString &databasePath, const QString &statement);
// The same rows as texts: the values of each joined by spaces (NULL for null).
QStringList sqlTexts(const QString &databasePath, const QString &statement);

// Runs SQL on a file with the sqlite3 command-line program, as another
// program would; true when it exited with 0.
bool sqliteCli(const QString &databasePath, const QString &sql);

// Sends the per-user settings (QSettings native format, user scope) into
// `dir`. Call before the first QSettings object is made.
void isolateSettingsIn(const QString &dir);

} // namespace TestSupport
