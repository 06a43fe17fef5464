#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class ProjectDocument;
struct RecordDeviceSettings;

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
