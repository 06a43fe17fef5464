#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class ProjectDocument;
struct RecordDeviceSettings;

// The alarm limits and data interval of a channel in force from a time on,
// as the record file keeps them.
struct LimitSpan {
    qint64 from = 0;
    bool hasLimits = false;
    double low = 0;
    double high = 0;
    int intervalSeconds = 0; // 0: not known
};

// One channel of one device, as the viewer shows and exports it.
struct SeriesInfo {
    QString deviceNumber; // serialno in the record database
    QString deviceName;
    int channel = 1; // 1 or 2
    QString channelName;
    QString unit; // display text of the unit ("°C", "%RH", custom text)
    double low = 0;
    double high = 0;
    bool hasLimits = false;
    // Recorded in the file but not listed by the project (shown by number).
    bool notInProject = false;
    // The limits in force as the file keeps them, oldest first; rows before
    // the first (or all rows, when there is none) are judged by low/high.
    QVector<LimitSpan> inForce;

    // "Device / Channel", and with the unit "Device / Channel (unit)".
    QString label() const;
    QString labelWithUnit() const;
};

// The channels a project records, in file order: two per device.
class SeriesCatalog
{
public:
    void load(const ProjectDocument &project);
    // The devices as the record file itself describes them (a file opened
    // without its project).
    void load(const QVector<RecordDeviceSettings> &devices);
    // Adds a device found in the file but in neither of the above, under its
    // number; false when it is listed already.
    bool addUnlisted(const QString &deviceNumber);
    // The settings the file keeps (every entry, any order): each channel
    // is then judged by the limits in force at each time.
    void setInForce(const QVector<RecordDeviceSettings> &settings);

    const QVector<SeriesInfo> &all() const { return m_series; }
    int size() const { return m_series.size(); }
    const SeriesInfo &at(int index) const { return m_series.at(index); }
    // Index of a device's channel, -1 when the project has no such device.
    int indexOf(const QString &deviceNumber, int channel) const;
    // The device numbers in file order, each once.
    QStringList deviceNumbers() const;

private:
    QVector<SeriesInfo> m_series;
};
