#include "report/daystatistics.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

#include "common/common.h"
#include "record/recordreader.h"

namespace
{

constexpr int kMaxEnvelopeColumns = 1000;

// How far a reading lies outside [low, high]; 0 inside.
double distanceOutside(double value, float low, float high)
{
    if (value > double(high))
        return value - double(high);
    if (value < double(low))
        return double(low) - value;
    return 0;
}

} // namespace

void DayStatistics::start(const QDate &day, const QTimeZone &zone, int intervalMs, qint64 now)
{
    m_day = day;
    m_zone = zone;
    m_dayStart = QDateTime(day, QTime(0, 0), zone).toSecsSinceEpoch();
    m_dayEnd = QDateTime(day.addDays(1), QTime(0, 0), zone).toSecsSinceEpoch();
    m_endOfData = std::min(m_dayEnd, std::max(m_dayStart, now));
    m_interval = std::max(1, intervalMs / 1000);
    m_gapLimit = 2.5 * m_interval;
    m_margin = 3 * qint64(m_interval);
    m_columns = int(std::clamp<qint64>(expectedSamples() / 2, 1, kMaxEnvelopeColumns));
    m_totalRows = 0;
    m_foreignRows = 0;
    m_devices.clear();
    m_lastIndex = -1;
}

void DayStatistics::addDevice(const QString &name, const QString &serial, const QString &ch1Name,
                              const QString &ch1Unit, float ch1Low, float ch1High,
                              const QString &ch2Name, const QString &ch2Unit, float ch2Low,
                              float ch2High)
{
    Device device;
    device.name = name;
    device.serial = serial.toUtf8();
    const QString names[2] = {ch1Name, ch2Name};
    const QString units[2] = {ch1Unit, ch2Unit};
    const float lows[2] = {ch1Low, ch2Low};
    const float highs[2] = {ch1High, ch2High};
    for (int c = 0; c < 2; ++c) {
        Channel &channel = device.channel[c];
        channel.name = names[c];
        channel.unit = units[c];
        channel.low = lows[c];
        channel.high = highs[c];
        channel.envelopeLow.fill(NoValue, m_columns);
        channel.envelopeHigh.fill(NoValue, m_columns);
        channel.envelopeBreak.fill(false, m_columns);
    }
    m_devices.append(device);
}

int DayStatistics::deviceIndex(const QByteArray &serial)
{
    // The recorder writes one row per device per sample, in project order:
    // the next device is the likely one.
    const int count = m_devices.size();
    if (count == 0)
        return -1;
    const int next = m_lastIndex + 1 < count ? m_lastIndex + 1 : 0;
    if (m_devices.at(next).serial == serial)
        return m_lastIndex = next;
    for (int i = 0; i < count; ++i) {
        if (m_devices.at(i).serial == serial)
            return m_lastIndex = i;
    }
    return -1;
}

void DayStatistics::addRow(const RecordRow &row)
{
    const int index = deviceIndex(row.serialNo);
    const bool inDay = row.pointDate >= m_dayStart && row.pointDate < m_dayEnd;
    if (index < 0) {
        if (inDay)
            ++m_foreignRows;
        return;
    }
    Device &device = m_devices[index];
    if (inDay) {
        ++m_totalRows;
        ++device.rows;
        if (row.channel1 == NoValue && row.channel2 == NoValue)
            ++device.nullRows;
    }
    const double values[2] = {row.channel1, row.channel2};
    for (int c = 0; c < 2; ++c) {
        Channel &channel = device.channel[c];
        if (values[c] == NoValue || std::isnan(values[c])) {
            // No reading: a run outside the limits ends here.
            if (channel.outside)
                endRun(channel, std::min(row.pointDate, channel.lastOutsideTime + m_interval));
            continue;
        }
        addValue(channel, values[c], row.pointDate);
    }
}

void DayStatistics::addValue(Channel &channel, double value, qint64 time)
{
    if (channel.hasLast && double(time - channel.lastTime) > m_gapLimit) {
        if (channel.outside)
            endRun(channel, channel.lastOutsideTime + m_interval);
        addGap(channel, channel.lastTime, time);
    } else if (!channel.hasLast && double(time - m_dayStart) > m_gapLimit) {
        addGap(channel, m_dayStart, time);
    }
    channel.hasLast = true;
    channel.lastTime = time;

    const bool inDay = time >= m_dayStart && time < m_dayEnd;
    if (inDay) {
        if (channel.samples == 0 || value < channel.minimum) {
            channel.minimum = value;
            channel.minimumTime = time;
        }
        if (channel.samples == 0 || value > channel.maximum) {
            channel.maximum = value;
            channel.maximumTime = time;
        }
        ++channel.samples;
        channel.sum += value;
        const int column = int((time - m_dayStart) * m_columns / daySeconds());
        double &low = channel.envelopeLow[column];
        double &high = channel.envelopeHigh[column];
        if (low == NoValue || value < low)
            low = value;
        if (high == NoValue || value > high)
            high = value;
    }

    const double distance =
        channel.alarmOn() ? distanceOutside(value, channel.low, channel.high) : 0;
    if (distance > 0) {
        if (!channel.outside) {
            channel.outside = true;
            channel.currentRealStart = time;
            channel.current = Excursion();
            channel.current.worst = value;
            channel.runInDay = inDay;
        } else {
            const double worstDistance =
                distanceOutside(channel.current.worst, channel.low, channel.high);
            // A reading inside the day outweighs the ones seen around it.
            if ((inDay && !channel.runInDay) ||
                (distance > worstDistance && (inDay || !channel.runInDay)))
                channel.current.worst = value;
            channel.runInDay = channel.runInDay || inDay;
        }
        channel.lastOutsideTime = time;
    } else if (channel.outside) {
        endRun(channel, time);
    }
}

void DayStatistics::endRun(Channel &channel, qint64 realEnd)
{
    closeExcursion(channel, realEnd);
    channel.outside = false;
}

void DayStatistics::closeExcursion(Channel &channel, qint64 realEnd)
{
    const qint64 realStart = channel.currentRealStart;
    const qint64 start = std::max(realStart, m_dayStart);
    const qint64 end = std::min(realEnd, m_dayEnd);
    if (end <= start)
        return;
    Excursion excursion = channel.current;
    excursion.start = start;
    excursion.end = end;
    excursion.fromPreviousDay = realStart < m_dayStart;
    excursion.intoNextDay = realEnd > m_dayEnd;
    const bool first = channel.excursions.isEmpty();
    if (first || distanceOutside(excursion.worst, channel.low, channel.high) >
                     distanceOutside(channel.worst, channel.low, channel.high))
        channel.worst = excursion.worst;
    channel.excursions.append(excursion);
    channel.secondsOutside += excursion.duration();
}

void DayStatistics::addGap(Channel &channel, qint64 from, qint64 to)
{
    const qint64 start = std::max(from, m_dayStart);
    const qint64 end = std::min(to, m_endOfData);
    if (end <= start)
        return;
    channel.gaps.append(Gap{start, end});
    if (from >= m_dayStart && from < m_dayEnd) {
        const int column = int((from - m_dayStart) * m_columns / daySeconds());
        channel.envelopeBreak[column] = true;
    }
}

void DayStatistics::finish()
{
    for (Device &device : m_devices) {
        for (Channel &channel : device.channel) {
            if (channel.outside)
                endRun(channel, channel.lastOutsideTime + m_interval);
            if (!channel.hasLast) {
                if (double(m_endOfData - m_dayStart) > m_gapLimit)
                    addGap(channel, m_dayStart, m_endOfData);
            } else if (channel.lastTime<m_endOfData &&double(m_endOfData - channel.lastTime)>
                           m_gapLimit) {
                addGap(channel, channel.lastTime, m_endOfData);
            }
        }
    }
}

double DayStatistics::completeness(const Channel &channel) const
{
    const qint64 expected = expectedSamples();
    if (expected <= 0)
        return 0;
    return std::min(100.0, 100.0 * double(channel.samples) / double(expected));
}

qint64 DayStatistics::columnTime(int column) const
{
    return m_dayStart + (2 * qint64(column) + 1) * daySeconds() / (2 * qint64(m_columns));
}

QString DayStatistics::timeText(qint64 unixSeconds) const
{
    if (unixSeconds >= m_dayEnd)
        return QStringLiteral("24:00:00");
    const QDateTime time = QDateTime::fromSecsSinceEpoch(unixSeconds, m_zone);
    // On the days the clocks change an hour repeats or is missing: name the offset.
    if (daySeconds() != 86400)
        return time.toString(QStringLiteral("HH:mm:ss t"));
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString DayStatistics::durationText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
