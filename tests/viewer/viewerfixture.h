#pragma once

// Small record databases and project files with known contents for the
// viewer and reader tests.

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QString>
#include <QVector>

#include <sqlite3.h>

#include <cmath>
#include <functional>

namespace ViewerFixture {

constexpr double kNull = 1.7e308;

struct Row {
    QString serial;
    double ch1;
    double ch2;
    qint64 time;
};

inline const char *createStatement()
{
    return "create table fennolink (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) not null, "
           "\t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)";
}

// Appends rows (creating the file and table when needed) in one transaction.
inline bool appendRows(const QString &path, const QVector<Row> &rows)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        return false;
    sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    char *error = nullptr;
    sqlite3_exec(db, "select 1 from fennolink limit 1", nullptr, nullptr, &error);
    if (error) {
        sqlite3_free(error);
        sqlite3_exec(db, createStatement(), nullptr, nullptr, nullptr);
    }
    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "insert into fennolink (serialno, channel1, channel2, pointDate) values (?1, ?2, ?3, ?4)",
                       -1, &insert, nullptr);
    bool ok = insert != nullptr;
    for (const Row &row : rows) {
        if (!ok)
            break;
        const QByteArray serial = row.serial.toUtf8();
        sqlite3_bind_text(insert, 1, serial.constData(), serial.size(), SQLITE_TRANSIENT);
        if (row.ch1 == kNull)
            sqlite3_bind_null(insert, 2);
        else
            sqlite3_bind_double(insert, 2, row.ch1);
        if (row.ch2 == kNull)
            sqlite3_bind_null(insert, 3);
        else
            sqlite3_bind_double(insert, 3, row.ch2);
        sqlite3_bind_int64(insert, 4, row.time);
        ok = sqlite3_step(insert) == SQLITE_DONE;
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, ok ? "commit" : "rollback", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return ok;
}

// Every `interval` seconds from `start`, `count` polls of all the devices;
// values from `value(device, channel, time)` (kNull for no value).
inline QVector<Row> polls(const QStringList &serials, qint64 start, int count, int interval,
                          const std::function<double(int, int, qint64)> &value)
{
    QVector<Row> rows;
    rows.reserve(count * serials.size());
    for (int i = 0; i < count; ++i) {
        const qint64 t = start + qint64(i) * interval;
        for (int d = 0; d < serials.size(); ++d)
            rows.append({serials.at(d), value(d, 1, t), value(d, 2, t), t});
    }
    return rows;
}

struct Device {
    QString serial;
    QString name;
    QString ch1Name = QStringLiteral("Temperature");
    QString ch2Name = QStringLiteral("Humidity");
    int ch1Unit = 1;
    int ch2Unit = 3;
    double ch1Min = -100;
    double ch1Max = 100;
    double ch2Min = 0;
    double ch2Max = 100;
    QString ch1Custom;
    QString ch2Custom;
};

inline Device device(const QString &serial, const QString &name)
{
    Device d;
    d.serial = serial;
    d.name = name;
    return d;
}

// A project file as the recorder writes it, its database named after it.
inline bool writeProject(const QString &path, const QVector<Device> &devices, int intervalMs,
                         const QString &recordStart = QString(), const QString &recordStop = QString())
{
    // Eight devices per gateway, as the editor places them.
    QJsonArray connections;
    QJsonArray nodes;
    int address = 0;
    auto closeConnection = [&] {
        QJsonObject connection;
        connection[QStringLiteral("DeviceInterface")] = QStringLiteral("127.0.0.1");
        connection[QStringLiteral("DevicePort")] = QString::number(502 + connections.size());
        connection[QStringLiteral("DeviceModel")] = QStringLiteral("QA100");
        connection[QStringLiteral("nodes")] = nodes;
        connections.append(connection);
        nodes = QJsonArray();
        address = 0;
    };
    for (const Device &d : devices) {
        if (nodes.size() == 8)
            closeConnection();
        QJsonObject node;
        node[QStringLiteral("StartAddress")] = QString::number(address);
        address += 8;
        node[QStringLiteral("DeviceName")] = d.name;
        node[QStringLiteral("DeviceNumber")] = d.serial;
        node[QStringLiteral("Ch1Name")] = d.ch1Name;
        node[QStringLiteral("Ch2Name")] = d.ch2Name;
        node[QStringLiteral("ch1_unit")] = QString::number(d.ch1Unit);
        node[QStringLiteral("ch1_min")] = QString::number(d.ch1Min, 'f', 2);
        node[QStringLiteral("ch1_max")] = QString::number(d.ch1Max, 'f', 2);
        node[QStringLiteral("ch1_custom")] = d.ch1Custom;
        node[QStringLiteral("ch2_unit")] = QString::number(d.ch2Unit);
        node[QStringLiteral("ch2_min")] = QString::number(d.ch2Min, 'f', 2);
        node[QStringLiteral("ch2_max")] = QString::number(d.ch2Max, 'f', 2);
        node[QStringLiteral("ch2_custom")] = d.ch2Custom;
        nodes.append(node);
    }
    closeConnection();
    QJsonObject root;
    root[QStringLiteral("devices")] = connections;

    QSettings settings(path, QSettings::IniFormat);
    const QString name = QFileInfo(path).completeBaseName();
    settings.setValue(QStringLiteral("projectName"), name);
    settings.setValue(QStringLiteral("DataInterval"), intervalMs);
    settings.setValue(QStringLiteral("databaseName"), name + QStringLiteral(".dat"));
    settings.setValue(QStringLiteral("DeviceList"), QJsonDocument(root).toJson());
    settings.setValue(QStringLiteral("record_start_time"), recordStart);
    settings.setValue(QStringLiteral("record_stop_time"), recordStop);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

inline QString databaseOf(const QString &projectPath)
{
    return QFileInfo(projectPath).absolutePath() + QLatin1Char('/') + QFileInfo(projectPath).completeBaseName()
           + QStringLiteral(".dat");
}

} // namespace ViewerFixture
