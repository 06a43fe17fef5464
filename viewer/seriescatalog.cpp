#include "viewer/seriescatalog.h"

#include "common/common.h"
#include "common/projectdocument.h"

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
            info.hasLimits = info.low < info.high;
            m_series.append(info);
        }
    }
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
