#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVector>

#include <functional>

#include "common/projectdocument.h"

class ConfiguredDevice;
class QSettings;

// Reader and writer of a project file for the recorder (the plain reading
// shared with the other programs is ProjectDocument): an INI file (read and written only
// through QSettings) holding the project name, the data interval, the name of
// the record database and, under "DeviceList", a JSON document listing the
// connections and their devices. Every rewrite of "DeviceList" first copies
// the previous value to "Backup".
class ProjectFile
{
public:
    using Node = ProjectDocument::Node;
    using Connection = ProjectDocument::Connection;
    static inline const QString &kNoDeviceInformation = ProjectDocument::kNoDeviceInformation;
    static constexpr int kMaxConnections = ProjectDocument::kMaxConnections;
    static constexpr int kMaxDevices = ProjectDocument::kMaxDevices;
    static constexpr int kMaxStartAddress = ProjectDocument::kMaxStartAddress;
    static constexpr int kRegisterCount = ProjectDocument::kRegisterCount;
    static constexpr qint64 kMaxFileSize = ProjectDocument::kMaxFileSize;

    // Every write below goes through update(), which is ProjectSettings::update():
    // the change is made on a private copy that then replaces the file, so a
    // failed write leaves the file as it was. False on failure, with `error`
    // (if given) saying why in words for the user.
    static bool update(const QString &path, const std::function<void(QSettings &)> &change,
                       QString *error = nullptr);

    // Writes the three keys of a new project: "projectName", "DataInterval"
    // and "databaseName" (projectName + ".dat"). No device list yet.
    static bool create(const QString &path, const QString &projectName, int dataIntervalMs,
                       QString *error = nullptr);
    // Rewrites "DataInterval".
    static bool writeDataInterval(const QString &path, int dataIntervalMs,
                                  QString *error = nullptr);
    // Writes one plain value (the record start and stop times).
    static bool writeValue(const QString &path, const QString &key, const QVariant &value,
                           QString *error = nullptr);
    // The plain keys; a missing "DataInterval" reads as 0.
    static QString projectName(const QString &path);
    static int dataInterval(const QString &path);
    static QString databaseName(const QString &path);

    // Copies the current "DeviceList" to "Backup" and writes the list of
    // `devices` as the new "DeviceList". False when the file could not be
    // written, or when it exists but is no readable INI file (it is then
    // left untouched).
    static bool write(const QList<ConfiguredDevice *> &devices, const QString &path,
                      QString *error = nullptr);

    // Builds new pollers (no parent; the caller owns them) with their nodes
    // from the file's "DeviceList". On failure `devices` is left as it was,
    // `error` (if given) receives kNoDeviceInformation with the reason on a
    // second line, and false is returned. `warnings` receives the entries
    // that were left out.
    static bool read(const QString &path, QList<ConfiguredDevice *> *devices,
                     QString *error = nullptr, QStringList *warnings = nullptr);

    // The JSON document of "DeviceList" for `devices` (indented form).
    static QByteArray toJson(const QList<ConfiguredDevice *> &devices);
    // Parses a "DeviceList" document; false when it is no JSON object.
    static bool parse(const QByteArray &json, QVector<Connection> *connections)
    {
        return ProjectDocument::parse(json, connections);
    }
    // Makes pollers and nodes from parsed entries.
    static QList<ConfiguredDevice *> build(const QVector<Connection> &connections);
};
