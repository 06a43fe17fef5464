#include "viewer/seriescatalog.h"

#include "common/alarmlimits.h"
#include "common/common.h"
#include "common/projectdocument.h"
#include "record/recordcontext.h"

#include <algorithm>

QString SeriesInfo::label() const
{
    const QString device = deviceName.isEmpty() ? deviceNumber : deviceName;
    const QString name = channelName.isEmpty() ? QStringLiteral("CH%1").arg(channel) : channelName;
    return device + QStringLiteral(" / ") + name;
}

QString SeriesInfo::labelWithUnit() const
{
    return unit.isEmpty() ? label() : label() + QStringLiteral(" (") + unit + QLatin1Char(')');
}

void SeriesCatalog::load(const ProjectDocument &project)
{
    m_series.clear();
    QStringList seen;
    for (const ProjectDocument::Node &node : project.nodes()) {
        // A device listed twice records into the same rows: show it once.
        if (node.deviceNumber.isEmpty() || seen.contains(node.deviceNumber))
            continue;
        seen.append(node.deviceNumber);
        for (int channel = 1; channel <= 2; ++channel) {
            SeriesInfo info;
            info.deviceNumber = node.deviceNumber;
            info.deviceName = node.deviceName;
            info.channel = channel;
            info.channelName = channel == 1 ? node.ch1Name : node.ch2Name;
            info.unit = channel == 1 ? unitDisplayText(node.ch1Unit, node.ch1Custom)
                                     : unitDisplayText(node.ch2Unit, node.ch2Custom);
            info.low = channel == 1 ? node.ch1Min : node.ch2Min;
            info.high = channel == 1 ? node.ch1Max : node.ch2Max;
            // A range of 0..0 is what an untouched device holds: no limits.
            info.hasLimits = hasAlarmLimits(info.low, info.high);
            m_series.append(info);
        }
    }
}

void SeriesCatalog::load(const QVector<RecordDeviceSettings> &devices)
{
    m_series.clear();
    for (const RecordDeviceSettings &device : devices) {
        if (device.serialNo.isEmpty() || indexOf(device.serialNo, 1) >= 0)
            continue;
        for (int channel = 1; channel <= 2; ++channel) {
            SeriesInfo info;
            info.deviceNumber = device.serialNo;
            info.deviceName = device.deviceName;
            info.channel = channel;
            info.channelName = channel == 1 ? device.ch1Name : device.ch2Name;
            info.unit = channel == 1 ? unitDisplayText(device.ch1Unit, device.ch1Custom)
                                     : unitDisplayText(device.ch2Unit, device.ch2Custom);
            info.low = channel == 1 ? device.ch1Low : device.ch2Low;
            info.high = channel == 1 ? device.ch1High : device.ch2High;
            info.hasLimits = hasAlarmLimits(info.low, info.high);
            m_series.append(info);
        }
    }
}

bool SeriesCatalog::addUnlisted(const QString &deviceNumber)
{
    if (deviceNumber.isEmpty() || indexOf(deviceNumber, 1) >= 0)
        return false;
    for (int channel = 1; channel <= 2; ++channel) {
        SeriesInfo info;
        info.deviceNumber = deviceNumber;
        info.channel = channel;
        info.notInProject = true;
        m_series.append(info);
    }
    return true;
}

int SeriesCatalog::indexOf(const QString &deviceNumber, int channel) const
{
    for (int i = 0; i < m_series.size(); ++i) {
        if (m_series.at(i).deviceNumber == deviceNumber && m_series.at(i).channel == channel)
            return i;
    }
    return -1;
}

QStringList SeriesCatalog::deviceNumbers() const
{
    QStringList numbers;
    for (const SeriesInfo &info : m_series) {
        if (!numbers.contains(info.deviceNumber))
            numbers.append(info.deviceNumber);
    }
    return numbers;
}

void SeriesCatalog::setInForce(const QVector<RecordDeviceSettings> &settings)
{
    QVector<const RecordDeviceSettings *> sorted;
    for (const RecordDeviceSettings &entry : settings)
        sorted.append(&entry);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const RecordDeviceSettings *a, const RecordDeviceSettings *b) {
                         return a->validFrom < b->validFrom;
                     });
    for (SeriesInfo &info : m_series) {
        info.inForce.clear();
        for (const RecordDeviceSettings *entry : qAsConst(sorted)) {
            if (entry->serialNo != info.deviceNumber)
                continue;
            LimitSpan span;
            span.from = entry->validFrom;
            span.low = info.channel == 1 ? entry->ch1Low : entry->ch2Low;
            span.high = info.channel == 1 ? entry->ch1High : entry->ch2High;
            span.hasLimits = hasAlarmLimits(span.low, span.high);
            span.intervalSeconds = entry->intervalMs >= 1000 ? entry->intervalMs / 1000 : 0;
            info.inForce.append(span);
        }
    }
}
