#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class QJsonValue;

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
    // is no readable project file or its device list is not valid; `reason`
    // then says why and errorText() is the whole text to show.
    bool load(const QString &path, QString *error = nullptr);

    // kNoDeviceInformation, and on a second line the reason of the last
    // failed load.
    QString errorText() const;
    // The entries that load() left out, as one text for the user; empty when
    // nothing was left out. At most kMaxWarningsShown lines are listed.
    QString warningText() const { return warningText(warnings); }
    static QString warningText(const QStringList &warnings);
    static constexpr int kMaxWarningsShown = 12;

    QString path;            // absolute path of the project file
    QString projectName;     // "projectName"
    int dataInterval = 0;    // "DataInterval" in ms; 0 when missing
    QString databaseName;    // "databaseName" as stored
    QString recordStartTime; // "record_start_time", "yyyy-MM-dd hh:mm:ss" or empty
    QString recordStopTime;  // "record_stop_time"
    QVector<Connection> connections;
    // Why the last load failed ("The file is empty."); empty after success.
    QString reason;
    // One line for each entry of the device list that was left out (bad
    // "StartAddress", beyond 8 connections or 16 devices, not an object).
    QStringList warnings;
    // "DataInterval" as the file stores it; empty when missing.
    QString dataIntervalText;

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
    // The same, telling why a document is refused and which entries were
    // left out (either pointer may be null).
    static bool parse(const QByteArray &json, QVector<Connection> *connections, QString *reason,
                      QStringList *warnings);

    // A start address as the reader accepts it: a whole number from 0 to
    // kMaxStartAddress, stored as decimal text (as the program writes it) or
    // as a JSON number.
    static bool parseStartAddress(const QJsonValue &value, int *address);

    // Why `path` cannot be a project file (missing, a folder, unreadable,
    // too large, empty, binary content); empty when it may be one.
    static QString fileProblem(const QString &path);
};
