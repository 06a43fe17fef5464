#pragma once

#include "common/projectdocument.h"
#include "record/recordcontext.h"
#include "record/recordreader.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// Turns recorded rows into what the targets store: InfluxDB line protocol and
// MQTT topics with JSON payloads. Everything that depends only on the device
// (names, tags, topic, the fixed part of the JSON) is built once per device,
// so that the per-row work is a few appends.
//
// InfluxDB: measurement "quillark"; tags project, device (the device number),
// name (the device name) and gateway (ip:port); one float field per channel,
// named after the channel ("channel1"/"channel2" when a name is empty or both
// names are the same); time = pointDate in seconds. A channel without a
// reading has no field; a row without any reading (a gap mark) has no line.
//
// MQTT: topic <prefix>/<project>/<device number> for recorded rows and
// .../live for the latest live value; payload
//   {"device":"..","name":"..","id":81,"time":1600000000,"iso":"2020-09-13T12:26:40Z",
//    "channels":[{"name":"..","unit":"..","value":21.5},{...}]}
// with "value":null for a missing reading, or, flat,
//   {"device":"..","name":"..","id":81,"time":1600000000,"iso":"..","ch1":21.5,"ch2":null}
// "id" is the row's id in the record database (live values have none): with
// "time" it tells a row sent again after a restart from the first sending.
class ForwardFormat
{
public:
    static const QByteArray kMeasurement;

    ForwardFormat() = default;
    ForwardFormat(const ProjectDocument &project, const QString &mqttPrefix,
                  bool flatPayload = false);

    QString projectName() const { return m_projectName; }

    // The settings in force over time, as the record file keeps them: a row
    // is named and labelled as its device was at the row's time. Rows older
    // than a device's first entry, and files without any, take the project
    // file's names.
    void setSettingsHistory(const QVector<RecordDeviceSettings> &history);

    // Appends one line (with its '\n') for `row`; false when the row has no
    // value to write.
    bool appendInfluxLine(QByteArray &out, const RecordRow &row);

    const QByteArray &topic(const QByteArray &serialNo);
    QByteArray liveTopic(const QByteArray &serialNo);
    // <prefix>/<project>/availability: "online" while connected, "offline" after.
    QByteArray availabilityTopic() const;
    QByteArray payload(const RecordRow &row, bool withId = true);
    // The payload into `out` (emptied first, its memory kept).
    void appendPayload(QByteArray &out, const RecordRow &row, bool withId = true);

    // Escaping of the line protocol.
    static QByteArray escapeMeasurement(const QString &text);
    static QByteArray escapeKey(const QString &text); // tag keys, tag values, field keys
    // One level of an MQTT topic: '/', '+', '#' and control characters become '_'.
    static QByteArray topicLevel(const QString &text);
    // A JSON string literal with its quotes.
    static QByteArray jsonString(const QString &text);
    // A value in the shortest form that reads back as the same double.
    static void appendNumber(QByteArray &out, double value);
    static void appendInteger(QByteArray &out, qint64 value);
    // "yyyy-MM-ddThh:mm:ssZ".
    static void appendIsoTime(QByteArray &out, qint64 unixSeconds);

private:
    struct Device {
        QByteArray influxHead; // measurement and tags, then a space
        QByteArray field1;     // "key="
        QByteArray field2;
        QByteArray topic;
        QByteArray jsonHead; // {"device":..,"name":..,
        QByteArray jsonCh1;  // {"name":..,"unit":..,"value":
        QByteArray jsonCh2;
    };
    Device &device(const QByteArray &serialNo);
    const Device &device(const QByteArray &serialNo, qint64 time);
    Device makeDevice(const QString &serial, const ProjectDocument::Node *node,
                      const QString &gateway) const;

    QString m_projectName;
    bool m_flat = false;
    QByteArray m_topicBase; // <prefix>/<project>/
    QHash<QByteArray, Device> m_devices;
    QHash<QByteArray, QString> m_gateways;
    // Per device: (valid from, how it was named then), oldest first.
    QHash<QByteArray, QVector<QPair<qint64, Device>>> m_history;
};
