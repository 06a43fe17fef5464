#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

class ConfiguredDevice;

// Reader and writer of a project file: an INI file (read and written only
// through QSettings) holding the project name, the data interval, the name of
// the record database and, under "DeviceList", a JSON document listing the
// connections and their devices. Every rewrite of "DeviceList" first copies
// the previous value to "Backup".
class ProjectFile
{
public:
    // Shown under the title "ERROR" when a project cannot be loaded.
    static const QString kNoDeviceInformation;

    // What the reader keeps at most; the editor never makes more.
    static constexpr int kMaxConnections = 8;
    static constexpr int kMaxDevices = 16;
    static constexpr int kMaxStartAddress = 106;
    static constexpr int kRegisterCount = 8;
    // A project file is a few kilobytes; anything far larger is refused unread.
    static constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;

    // One node entry as stored in the file.
    struct Node {
        int startAddress = 0;
        QString deviceName;
        QString deviceNumber;
        QString ch1Name;
        QString ch2Name;
        int ch1Unit = 0;
        float ch1Min = 0;
        float ch1Max = 0;
        QString ch1Custom;
        int ch2Unit = 0;
        float ch2Min = 0;
        float ch2Max = 0;
        QString ch2Custom;
    };
    // One connection entry with its nodes, in file order.
    struct Connection {
        QString ipAddress;
        quint16 port = 0;
        QString model;
        QVector<Node> nodes;
    };

    // Writes the three keys of a new project: "projectName", "DataInterval"
    // and "databaseName" (projectName + ".dat"). No device list yet.
    static bool create(const QString &path, const QString &projectName, int dataIntervalMs);
    // Rewrites "DataInterval".
    static bool writeDataInterval(const QString &path, int dataIntervalMs);
    // The plain keys; a missing "DataInterval" reads as 0.
    static QString projectName(const QString &path);
    static int dataInterval(const QString &path);
    static QString databaseName(const QString &path);

    // Copies the current "DeviceList" to "Backup" and writes the list of
    // `devices` as the new "DeviceList". False when the file could not be
    // written, or when it exists but is no readable INI file (it is then
    // left untouched).
    static bool write(const QList<ConfiguredDevice *> &devices, const QString &path);

    // Builds new pollers (no parent; the caller owns them) with their nodes
    // from the file's "DeviceList". On failure `devices` is left as it was,
    // `error` (if given) receives kNoDeviceInformation and false is returned.
    static bool read(const QString &path, QList<ConfiguredDevice *> *devices, QString *error = nullptr);

    // The JSON document of "DeviceList" for `devices` (indented form).
    static QByteArray toJson(const QList<ConfiguredDevice *> &devices);
    // Parses a "DeviceList" document; false when it is no JSON object.
    static bool parse(const QByteArray &json, QVector<Connection> *connections);
    // Makes pollers and nodes from parsed entries.
    static QList<ConfiguredDevice *> build(const QVector<Connection> &connections);
};
