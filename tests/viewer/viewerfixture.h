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

#include "recordfixture.h"

#include <functional>

namespace ViewerFixture
{

constexpr double kNull = TestSupport::kNoReading;
using Row = TestSupport::RecordRow;

inline bool appendRows(const QString &path, const QVector<Row> &rows)
{
    return TestSupport::appendRecordRows(path, rows);
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
                         const QString &recordStart = QString(),
                         const QString &recordStop = QString())
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
    return QFileInfo(projectPath).absolutePath() + QLatin1Char('/') +
           QFileInfo(projectPath).completeBaseName() + QStringLiteral(".dat");
}

} // namespace ViewerFixture
