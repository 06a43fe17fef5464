#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// The plain contents of a project file, read without building any acquisition
// objects: what the recorder, the data viewer, the daily report and the
// forwarder all need to know about a project. Reading never writes the file.
class ProjectDocument
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

    // Reads `path`. False (with `error` set to kNoDeviceInformation) when it
    // is no readable project file or its device list is not valid.
    bool load(const QString &path, QString *error = nullptr);

    QString path;           // absolute path of the project file
    QString projectName;    // "projectName"
    int dataInterval = 0;   // "DataInterval" in ms; 0 when missing
    QString databaseName;   // "databaseName" as stored
    QString recordStartTime; // "record_start_time", "yyyy-MM-dd hh:mm:ss" or empty
    QString recordStopTime;  // "record_stop_time"
    QVector<Connection> connections;

    // All nodes in file order.
    QVector<Node> nodes() const;
    // The record database beside the project file (see databasePathFor).
    QString databasePath() const { return databasePathFor(path, databaseName); }

    // The record database lies beside the project file. A stored name with
    // folders in it ("../x.dat") would place it anywhere, and an empty one
    // names the folder itself: only the file name counts, and a missing one
    // is made from the project file's name.
    static QString databasePathFor(const QString &projectPath, const QString &storedName);

    // True for an existing, readable, plain file of sane size.
    static bool readableFile(const QString &path);

    // Parses a "DeviceList" document; false when it is no JSON object.
    static bool parse(const QByteArray &json, QVector<Connection> *connections);
};
