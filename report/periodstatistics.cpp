#include "report/periodstatistics.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/alarmlimits.h"
#include "common/common.h"
#include "record/recordreader.h"

namespace
{

constexpr int kMaxEnvelopeColumns = 1000;

// How far a reading lies beyond a limit on the side it crossed.
double beyond(double value, const PeriodStatistics::Excursion &excursion)
{
    return excursion.high ? value - excursion.limit : excursion.limit - value;
}

} // namespace

void PeriodStatistics::Figures::add(double value, qint64 time)
{
    if (samples == 0 || value < minimum) {
        minimum = value;
        minimumTime = time;
    }
    if (samples == 0 || value > maximum) {
        maximum = value;
        maximumTime = time;
    }
    ++samples;
    sum += value;
}

qint64 PeriodStatistics::cents(double value)
{
    return std::llround(value * 100.0);
}

void PeriodStatistics::start(const QDate &first, int days, const QTimeZone &zone, int intervalMs,
                             qint64 now, double mktEnergy)
{
    m_first = first;
    m_dayCount = std::max(1, days);
    m_zone = zone;
    m_dayBounds.clear();
    for (int d = 0; d <= m_dayCount; ++d)
        m_dayBounds.append(QDateTime(first.addDays(d), QTime(0, 0), zone).toSecsSinceEpoch());
    m_periodStart = m_dayBounds.first();
    m_periodEnd = m_dayBounds.last();
    m_endOfData = std::min(m_periodEnd, std::max(m_periodStart, now));
    m_interval = std::max(1, intervalMs / 1000);
    m_margin = 3 * qint64(m_interval);
    m_mktEnergy = mktEnergy > 0 ? mktEnergy : kDefaultMktEnergy;
    m_mktFactor = m_mktEnergy * 1000.0 / kGasConstant;
    m_columns = int(std::clamp<qint64>(periodSeconds() / m_interval / 2, 1, kMaxEnvelopeColumns));
    // Columns of whole stretches where that costs the chart little: the
    // stretch figures the recorder keeps then fill them without the rows.
    const qint64 stretch = RecordStretches::kSeconds;
    if (m_periodStart % stretch == 0 && periodSeconds() % stretch == 0) {
        const qint64 stretches = periodSeconds() / stretch;
        for (int columns = m_columns; columns * 2 > m_columns; --columns) {
            if (stretches % columns == 0) {
                m_columns = columns;
                break;
            }
        }
    }
    m_column = 0;
    m_columnFrom = m_columnTo = 0;
    m_totalRows = 0;
    m_foreignRows = 0;
    m_stretchesTaken = 0;
    m_rowsFromStretches = 0;
    m_devices.clear();
    m_lastIndex = -1;
    m_day = 0;
}

void PeriodStatistics::addDevice(const QString &name, const QString &serial, const QString &ch1Name,
                                 int ch1Unit, const QString &ch1UnitText, double ch1Low,
                                 double ch1High, const QString &ch2Name, int ch2Unit,
                                 const QString &ch2UnitText, double ch2Low, double ch2High,
                                 QVector<Settings> settings)
{
    Device device;
    device.name = name;
    device.serial = serial.toUtf8();
    if (settings.isEmpty()) {
        Settings fixed;
        fixed.intervalSeconds = m_interval;
        fixed.low[0] = ch1Low;
        fixed.high[0] = ch1High;
        fixed.low[1] = ch2Low;
        fixed.high[1] = ch2High;
        settings.append(fixed);
    }
    std::sort(settings.begin(), settings.end(),
              [](const Settings &a, const Settings &b) { return a.from < b.from; });
    settings.first().from = std::numeric_limits<qint64>::min();
    for (Settings &entry : settings) {
        entry.intervalSeconds = std::max(1, entry.intervalSeconds);
        m_margin = std::max(m_margin, 3 * qint64(entry.intervalSeconds));
    }
    device.settings = settings;

    const QString names[2] = {ch1Name, ch2Name};
    const QString units[2] = {ch1UnitText, ch2UnitText};
    const int codes[2] = {ch1Unit, ch2Unit};
    for (int c = 0; c < 2; ++c) {
        Channel &channel = device.channel[c];
        channel.name = names[c];
        channel.unit = units[c];
        channel.unitCode = codes[c];
        channel.envelopeLow.fill(NoValue, m_columns);
        channel.envelopeHigh.fill(NoValue, m_columns);
        channel.envelopeBreak.fill(false, m_columns);
        channel.days.resize(m_dayCount);
        for (int s = 0; s < settings.size(); ++s) {
            const Settings &entry = settings.at(s);
            const qint64 from = std::max(entry.from, m_periodStart);
            const qint64 to = s + 1 < settings.size()
                                  ? std::min(settings.at(s + 1).from, m_endOfData)
                                  : m_endOfData;
            if (from >= m_periodEnd)
                continue;
            channel.low = entry.low[c];
            channel.high = entry.high[c];
            channel.watched =
                channel.watched || (to > from && hasAlarmLimits(entry.low[c], entry.high[c]));
            for (int d = 0; d < m_dayCount; ++d) {
                const qint64 overlap = std::min(to, dayEnd(d)) - std::max(from, dayStart(d));
                if (overlap > 0)
                    channel.days[d].expected += overlap / entry.intervalSeconds;
            }
        }
        for (const Figures &day : channel.days)
            channel.total.expected += day.expected;
    }
    applySettings(device, settings.first());
    m_devices.append(device);
}

void PeriodStatistics::applySettings(Device &device, const Settings &settings)
{
    // More than 2.5 intervals without a reading: 5 / 2 in whole seconds.
    device.gapLimit = settings.intervalSeconds * 5 / 2;
    for (int c = 0; c < 2; ++c) {
        Channel &channel = device.channel[c];
        channel.limitsOn = hasAlarmLimits(settings.low[c], settings.high[c]);
        channel.lowCents = cents(settings.low[c]);
        channel.highCents = cents(settings.high[c]);
    }
}

int PeriodStatistics::intervalSeconds() const
{
    return m_interval;
}

int PeriodStatistics::deviceIndex(const QByteArray &serial)
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

int PeriodStatistics::dayIndex(qint64 time) const
{
    if (time < m_periodStart || time >= m_periodEnd)
        return -1;
    const auto it = std::upper_bound(m_dayBounds.cbegin(), m_dayBounds.cend(), time);
    return int(it - m_dayBounds.cbegin()) - 1;
}

void PeriodStatistics::addRow(const RecordRow &row)
{
    add(deviceIndex(row.serialNo), row.pointDate, row.channel1, row.channel2);
}

QVector<QByteArray> PeriodStatistics::serials() const
{
    QVector<QByteArray> numbers;
    numbers.reserve(m_devices.size());
    for (const Device &device : m_devices)
        numbers.append(device.serial);
    return numbers;
}

void PeriodStatistics::add(int index, qint64 time, double channel1, double channel2)
{
    const bool inPeriod = time >= m_periodStart && time < m_periodEnd;
    if (index < 0) {
        if (inPeriod)
            ++m_foreignRows;
        return;
    }
    Device &device = m_devices[index];
    if (inPeriod) {
        ++m_totalRows;
        ++device.rows;
        if (channel1 == NoValue && channel2 == NoValue)
            ++device.nullRows;
    }
    advanceSettings(device, time);
    const double values[2] = {channel1, channel2};
    HeldRow *held = nullptr;
    for (int c = 0; c < 2; ++c) {
        Channel &channel = device.channel[c];
        const bool none = values[c] == NoValue || std::isnan(values[c]);
        if (channel.pending) {
            if (!held) {
                device.held.append(HeldRow{time, {channel1, channel2}, {false, false}});
                held = &device.held.last();
                m_heldOverflow = m_heldOverflow || ++m_heldCount > kMaxHeldRows;
            }
            held->pending[c] = true;
            // A reading inside the limits ends whatever ran before: from
            // here on this part can go on by itself.
            if (!none && sideOf(channel, values[c]) == 0) {
                channel.pending = false;
                channel.hasLast = true;
                channel.lastTime = time;
            }
            continue;
        }
        take(device, channel, values[c], time);
    }
}

void PeriodStatistics::advanceSettings(Device &device, qint64 time)
{
    while (device.settingsIndex + 1 < device.settings.size() &&
           time >= device.settings.at(device.settingsIndex + 1).from)
        applySettings(device, device.settings.at(++device.settingsIndex));
}

void PeriodStatistics::take(Device &device, Channel &channel, double value, qint64 time)
{
    if (value == NoValue || std::isnan(value)) {
        // No reading: a run outside the limits ends here, its end unknown.
        if (channel.outside)
            endRun(channel, channel.lastOutsideTime, true);
        return;
    }
    addValue(device, channel, value, time);
}

int PeriodStatistics::sideOf(bool limitsOn, qint64 lowCents, qint64 highCents, double value)
{
    if (!limitsOn)
        return 0;
    // Clear of both limits by more than a hundredth: inside, however it
    // rounds (most readings; spares the rounding).
    const double scaled = value * 100.0;
    if (scaled > double(lowCents + 1) && scaled < double(highCents - 1))
        return 0;
    const qint64 shown = cents(value);
    return shown > highCents ? 1 : (shown < lowCents ? -1 : 0);
}

void PeriodStatistics::startLater()
{
    for (Device &device : m_devices) {
        for (Channel &channel : device.channel)
            channel.pending = true;
    }
    m_heldCount = 0;
    m_heldOverflow = false;
}

void PeriodStatistics::Figures::merge(const Figures &later)
{
    if (later.samples > 0 && (samples == 0 || later.minimum < minimum)) {
        minimum = later.minimum;
        minimumTime = later.minimumTime;
    }
    if (later.samples > 0 && (samples == 0 || later.maximum > maximum)) {
        maximum = later.maximum;
        maximumTime = later.maximumTime;
    }
    samples += later.samples;
    sum += later.sum;
    excursions += later.excursions;
    secondsOutside += later.secondsOutside;
    secondsUnmonitored += later.secondsUnmonitored;
}

void PeriodStatistics::append(const PeriodStatistics &later)
{
    m_totalRows += later.m_totalRows;
    m_foreignRows += later.m_foreignRows;
    for (int i = 0; i < m_devices.size() && i < later.m_devices.size(); ++i) {
        Device &device = m_devices[i];
        const Device &next = later.m_devices.at(i);
        device.rows += next.rows;
        device.nullRows += next.nullRows;
        // The rows held back, taken as one pass would have taken them.
        for (const HeldRow &row : next.held) {
            advanceSettings(device, row.time);
            for (int c = 0; c < 2; ++c) {
                if (row.pending[c])
                    take(device, device.channel[c], row.value[c], row.time);
            }
        }
        for (int c = 0; c < 2; ++c) {
            Channel &channel = device.channel[c];
            const Channel &part = next.channel[c];
            if (part.pending)
                continue; // all of it held back: taken above
            channel.total.merge(part.total);
            for (int d = 0; d < channel.days.size() && d < part.days.size(); ++d)
                channel.days[d].merge(part.days.at(d));
            channel.gaps += part.gaps;
            for (int k = 0; k < channel.envelopeLow.size() && k < part.envelopeLow.size(); ++k) {
                channel.widen(k, part.envelopeLow.at(k), part.envelopeHigh.at(k));
                if (part.envelopeBreak.at(k))
                    channel.envelopeBreak[k] = true;
            }
            channel.mktSum += part.mktSum;
            for (const Excursion &excursion : part.excursions) {
                const double distance = beyond(excursion.worst, excursion);
                if (channel.excursions.isEmpty() || distance > channel.worstBeyond) {
                    channel.worst = excursion.worst;
                    channel.worstBeyond = distance;
                }
                channel.excursions.append(excursion);
            }
            channel.lastTime = part.lastTime;
            channel.hasLast = part.hasLast;
            channel.outside = part.outside;
            channel.runInPeriod = part.runInPeriod;
            channel.current = part.current;
            channel.currentRealStart = part.currentRealStart;
            channel.lastOutsideTime = part.lastOutsideTime;
        }
        if (next.settingsIndex > device.settingsIndex) {
            device.settingsIndex = next.settingsIndex;
            applySettings(device, device.settings.at(device.settingsIndex));
        }
    }
}

void PeriodStatistics::beforeReading(const Device &device, Channel &channel, qint64 time)
{
    const int limit = device.gapLimit;
    if (channel.hasLast && time - channel.lastTime > limit) {
        if (channel.outside)
            endRun(channel, channel.lastOutsideTime, true);
        addGap(channel, channel.lastTime, time);
    } else if (!channel.hasLast && time - m_periodStart > limit) {
        addGap(channel, m_periodStart, time);
    }
    channel.hasLast = true;
    channel.lastTime = time;
}

void PeriodStatistics::addValue(Device &device, Channel &channel, double value, qint64 time)
{
    beforeReading(device, channel, time);

    const bool inPeriod = time >= m_periodStart && time < m_periodEnd;
    if (inPeriod) {
        channel.total.add(value, time);
        // Rows come in time order: the day of the last one is the likely one.
        if (time < m_dayBounds.at(m_day) || time >= m_dayBounds.at(m_day + 1))
            m_day = dayIndex(time);
        channel.days[m_day].add(value, time);
        channel.widen(columnOf(time), value, value);
        if (channel.isTemperature()) {
            // Readings repeat: the term of the last one is kept (0 at or
            // below absolute zero).
            if (value != channel.mktValue) {
                channel.mktValue = value;
                channel.mktTerm =
                    RecordStretches::mktTerm(value, channel.unitCode == 2, m_mktFactor);
            }
            channel.mktSum += channel.mktTerm;
        }
    }

    const int side = sideOf(channel, value);
    if (channel.outside && (side == 0 || (side > 0) != channel.current.high))
        endRun(channel, time, false);
    if (side != 0)
        stayOutside(channel, side, value, time, time);
}

void PeriodStatistics::stayOutside(Channel &channel, int side, double value, qint64 time,
                                   qint64 lastTime)
{
    const bool inPeriod = time >= m_periodStart && time < m_periodEnd;
    if (!channel.outside) {
        channel.outside = true;
        channel.currentRealStart = time;
        channel.current = Excursion();
        channel.current.high = side > 0;
        channel.current.limit = double(side > 0 ? channel.highCents : channel.lowCents) / 100.0;
        channel.current.worst = value;
        channel.runInPeriod = inPeriod;
    } else {
        // A reading inside the period outweighs the ones seen around it.
        const bool further =
            beyond(value, channel.current) > beyond(channel.current.worst, channel.current);
        if ((inPeriod && !channel.runInPeriod) || (further && (inPeriod || !channel.runInPeriod)))
            channel.current.worst = value;
        channel.runInPeriod = channel.runInPeriod || inPeriod;
    }
    channel.lastOutsideTime = lastTime;
}

void PeriodStatistics::endRun(Channel &channel, qint64 realEnd, bool dataMissing)
{
    channel.outside = false;
    const qint64 realStart = channel.currentRealStart;
    const qint64 start = std::max(realStart, m_periodStart);
    const qint64 end = std::min(realEnd, m_periodEnd);
    // A lone reading outside before the data stopped is an excursion too.
    if (end < start || start >= m_periodEnd ||
        (end == start && (!dataMissing || realStart < m_periodStart)))
        return;
    Excursion excursion = channel.current;
    excursion.start = start;
    excursion.end = end;
    excursion.fromBefore = realStart < m_periodStart;
    excursion.intoAfter = realEnd > m_periodEnd;
    excursion.dataMissing = dataMissing && !excursion.intoAfter;
    const double distance = beyond(excursion.worst, excursion);
    if (channel.excursions.isEmpty() || distance > channel.worstBeyond) {
        channel.worst = excursion.worst;
        channel.worstBeyond = distance;
    }
    channel.excursions.append(excursion);
    ++channel.total.excursions;
    ++channel.days[dayIndex(start)].excursions;
    spread(channel, start, end, &Figures::secondsOutside);
}

void PeriodStatistics::spread(Channel &channel, qint64 from, qint64 to, qint64 Figures::*field)
{
    if (to <= from)
        return;
    channel.total.*field += to - from;
    for (int d = dayIndex(from); d >= 0 && d < m_dayCount && dayStart(d) < to; ++d)
        channel.days[d].*field += std::min(to, dayEnd(d)) - std::max(from, dayStart(d));
}

void PeriodStatistics::addGap(Channel &channel, qint64 from, qint64 to)
{
    const qint64 start = std::max(from, m_periodStart);
    const qint64 end = std::min(to, m_endOfData);
    if (end <= start)
        return;
    channel.gaps.append(Gap{start, end});
    spread(channel, start, end, &Figures::secondsUnmonitored);
    if (from >= m_periodStart && from < m_periodEnd) {
        const int column = int((from - m_periodStart) * m_columns / periodSeconds());
        channel.envelopeBreak[column] = true;
    }
}

void PeriodStatistics::finish()
{
    for (Device &device : m_devices) {
        const int limit = device.gapLimit;
        for (Channel &channel : device.channel) {
            if (channel.outside)
                endRun(channel, channel.lastOutsideTime, true);
            if (!channel.hasLast) {
                if (m_endOfData - m_periodStart > limit)
                    addGap(channel, m_periodStart, m_endOfData);
            } else if (channel.lastTime < m_endOfData && m_endOfData - channel.lastTime > limit) {
                addGap(channel, channel.lastTime, m_endOfData);
            }
        }
    }
}

bool PeriodStatistics::meanKineticTemperature(const Channel &channel, double *value) const
{
    if (!channel.isTemperature() || channel.total.samples == 0 || channel.mktSum <= 0)
        return false;
    const double kelvin = m_mktFactor / -std::log(channel.mktSum / double(channel.total.samples));
    *value = channel.unitCode == 2 ? (kelvin - 273.15) * 9.0 / 5.0 + 32.0 : kelvin - 273.15;
    return true;
}

int PeriodStatistics::spacingOf(const QVector<QPair<QByteArray, qint64>> &times)
{
    QHash<QByteArray, qint64> last;
    QVector<qint64> distances;
    for (const auto &entry : times) {
        const auto it = last.find(entry.first);
        if (it != last.end() && entry.second > it.value())
            distances.append(entry.second - it.value());
        last.insert(entry.first, entry.second);
    }
    if (distances.size() < 3)
        return 0;
    std::nth_element(distances.begin(), distances.begin() + distances.size() / 2, distances.end());
    return int(distances.at(distances.size() / 2));
}

int PeriodStatistics::columnOf(qint64 time)
{
    // Rows come in time order: the column of the last one is the likely one.
    if (time < m_columnFrom || time >= m_columnTo) {
        const qint64 seconds = periodSeconds();
        m_column = int((time - m_periodStart) * m_columns / seconds);
        // The times whose column this is: from ceil(c * s / n) on.
        m_columnFrom = m_periodStart + (qint64(m_column) * seconds + m_columns - 1) / m_columns;
        m_columnTo = m_periodStart + (qint64(m_column + 1) * seconds + m_columns - 1) / m_columns;
    }
    return m_column;
}

qint64 PeriodStatistics::columnTime(int column) const
{
    return m_periodStart + (2 * qint64(column) + 1) * periodSeconds() / (2 * qint64(m_columns));
}

QString PeriodStatistics::timeText(qint64 unixSeconds) const
{
    const bool oneDay = m_dayCount == 1;
    if (oneDay && unixSeconds >= m_periodEnd)
        return QStringLiteral("24:00:00");
    const QDateTime time = QDateTime::fromSecsSinceEpoch(unixSeconds, m_zone);
    // When the clocks change an hour repeats or is missing: name the offset.
    const bool clockChange = periodSeconds() != qint64(m_dayCount) * 86400;
    QString format = oneDay ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm:ss");
    if (clockChange)
        format += QStringLiteral(" t");
    return time.toString(format);
}

QString PeriodStatistics::durationText(qint64 seconds)
{
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

int PeriodStatistics::settingsAt(const Device &device, qint64 time) const
{
    int index = 0;
    while (index + 1 < device.settings.size() && time >= device.settings.at(index + 1).from)
        ++index;
    return index;
}

int PeriodStatistics::columnIndex(qint64 time) const
{
    return int((time - m_periodStart) * m_columns / periodSeconds());
}
