#include "report/stretchreading.h"

#include <QHash>
#include <QVector>

#include <functional>

#include "common/alarmlimits.h"
#include "common/common.h"
#include "record/recordreader.h"
#include "record/recordstretches.h"
#include "report/periodstatistics.h"

StretchReading::Outcome StretchReading::read(RecordReader &reader, PeriodStatistics &statistics,
                                             QString *error)
{
    constexpr qint64 span = RecordStretches::kSeconds;
    const qint64 periodStart = statistics.periodStart();
    const qint64 first = RecordStretches::stretchOf(periodStart + span - 1);
    const qint64 end = RecordStretches::stretchOf(statistics.periodEnd());
    const int count = int(std::max<qint64>(0, (end - first) / span));
    QVector<RecordStretch> stretches;
    QString loadError;
    if (count == 0 || !RecordStretches::load(reader.handle(), first, end, &stretches, &loadError)) {
        if (!loadError.isEmpty())
            qCWarning(lcReport).noquote()
                << "StretchReading : stretch figures not read:" << loadError;
        return Outcome::NotUsed;
    }
    const QVector<QByteArray> serials = statistics.serials();
    QHash<QByteArray, int> indexOf;
    for (int i = 0; i < serials.size(); ++i)
        if (!indexOf.contains(serials.at(i)))
            indexOf.insert(serials.at(i), i);

    // Per stretch of the period: 0 no figures, 1 every figure usable, 2 rows
    // needed; and the rows the figures count, all devices together.
    QVector<char> state(count, 0);
    QVector<qint64> rowsBefore(count + 1, 0);
    QVector<int> deviceOf(stretches.size(), -1);
    int usable = 0;
    for (int i = 0; i < stretches.size(); ++i) {
        const RecordStretch &stretch = stretches.at(i);
        const int slot = int((stretch.start - first) / span);
        const int index = indexOf.value(stretch.serial, -1);
        deviceOf[i] = index;
        rowsBefore[slot + 1] += stretch.rows;
        if (index >= 0 && !StretchReading::usable(statistics, index, stretch))
            state[slot] = 2;
        else if (state.at(slot) == 0)
            state[slot] = 1;
    }
    qint64 rowsTaken = 0;
    for (int slot = 0; slot < count; ++slot) {
        usable += state.at(slot) == 1 ? 1 : 0;
        rowsTaken += state.at(slot) == 1 ? rowsBefore.at(slot + 1) : 0;
        rowsBefore[slot + 1] += rowsBefore.at(slot);
    }
    // Mostly rows to read: one pass over them all, on two cores, is faster.
    qint64 firstId = 0;
    qint64 lastId = 0;
    if (!reader.idRangeForTime(statistics.windowStart(), statistics.windowEnd() - 1, &firstId,
                               &lastId) ||
        rowsTaken * 2 < lastId - firstId + 1)
        return Outcome::NotUsed;

    const auto feed = [&statistics](QVector<RecordSample> &block) {
        for (const RecordSample &sample : block)
            statistics.add(sample.serial, sample.pointDate, sample.channel1, sample.channel2);
        return true;
    };
    qint64 cursor = statistics.windowStart(); // rows before it are taken
    const auto readUpTo = [&](qint64 to) {
        if (to <= cursor)
            return true;
        const bool ok = reader.forEachSampleInTime(cursor, to - 1, serials, feed);
        cursor = to;
        if (!ok)
            *error = reader.errorText();
        return ok;
    };
    int next = 0; // the first stretch figure not yet taken or passed
    const auto take = [&](int to) {
        const qint64 toTime = first + to * span;
        while (next < stretches.size() && stretches.at(next).start < toTime) {
            const int index = deviceOf.at(next);
            if (index >= 0)
                StretchReading::take(statistics, index, stretches.at(next));
            else
                statistics.addForeignRows(stretches.at(next).rows);
            ++next;
        }
        cursor = toTime;
    };
    const auto skipTo = [&](qint64 time) {
        while (next < stretches.size() && stretches.at(next).start < time)
            ++next;
    };
    // A run of usable stretches is taken when the file holds exactly the
    // rows their figures count; else its halves are looked at, down to
    // single stretches, whose rows are then read.
    std::function<bool(int, int)> run = [&](int from, int to) {
        const qint64 fromTime = first + from * span;
        const qint64 toTime = first + to * span;
        const qint64 inFile = reader.idRangeForTime(fromTime, toTime - 1, &firstId, &lastId)
                                  ? lastId - firstId + 1
                                  : 0;
        if (inFile == rowsBefore.at(to) - rowsBefore.at(from)) {
            if (!readUpTo(fromTime))
                return false;
            skipTo(fromTime);
            take(to);
            return true;
        }
        if (to - from == 1)
            return true; // read with the rows after it
        const int middle = from + (to - from) / 2;
        return run(from, middle) && run(middle, to);
    };
    for (int slot = 0; slot < count;) {
        if (state.at(slot) != 1) {
            ++slot;
            continue;
        }
        int to = slot;
        while (to < count && state.at(to) == 1)
            ++to;
        if (!run(slot, to))
            return Outcome::Failed;
        slot = to;
    }
    if (!readUpTo(statistics.windowEnd()))
        return Outcome::Failed;
    qCDebug(lcReport).noquote() << "StretchReading :" << usable << "of" << count
                                << "stretches taken from their figures";
    return Outcome::Done;
}

bool StretchReading::usable(const PeriodStatistics &stats, int index, const RecordStretch &stretch)
{
    using Settings = PeriodStatistics::Settings;
    const PeriodStatistics::Device &device = stats.m_devices.at(index);
    const qint64 last = stretch.start + RecordStretches::kSeconds - 1;
    if (stretch.start < stats.m_periodStart || last >= stats.m_periodEnd ||
        stats.dayIndex(stretch.start) != stats.dayIndex(last) ||
        stats.columnIndex(stretch.start) != stats.columnIndex(last))
        return false;
    const int in = stats.settingsAt(device, stretch.start);
    if (stats.settingsAt(device, last) != in)
        return false;
    const Settings &settings = device.settings.at(in);
    for (int c = 0; c < 2; ++c) {
        const RecordStretch::Channel &figures = stretch.channel[c];
        if (figures.count == 0)
            continue;
        // A gap inside the stretch needs the rows, and so do readings on
        // both sides of a limit, or outside with a row without a reading
        // among them (which ends the run there).
        if (figures.longestGap > settings.intervalSeconds * 5 / 2)
            return false;
        const bool on = hasAlarmLimits(settings.low[c], settings.high[c]);
        const qint64 low = PeriodStatistics::cents(settings.low[c]);
        const qint64 high = PeriodStatistics::cents(settings.high[c]);
        const int side = PeriodStatistics::sideOf(on, low, high, figures.minimum);
        if (side != PeriodStatistics::sideOf(on, low, high, figures.maximum) ||
            (side != 0 && figures.count != stretch.rows))
            return false;
        if (device.channel[c].isTemperature() &&
            stats.m_mktEnergy != PeriodStatistics::kDefaultMktEnergy)
            return false;
    }
    return true;
}

void StretchReading::take(PeriodStatistics &stats, int index, const RecordStretch &stretch)
{
    PeriodStatistics::Device &device = stats.m_devices[index];
    ++stats.m_stretchesTaken;
    stats.m_rowsFromStretches += stretch.rows;
    stats.m_totalRows += stretch.rows;
    device.rows += stretch.rows;
    device.nullRows += stretch.nullRows;
    stats.advanceSettings(device, stretch.start);
    const int day = stats.dayIndex(stretch.start);
    const int column = stats.columnIndex(stretch.start);
    for (int c = 0; c < 2; ++c) {
        PeriodStatistics::Channel &channel = device.channel[c];
        const RecordStretch::Channel &figures = stretch.channel[c];
        // The stretch's rows one by one: a row without this reading ends a
        // run outside, as its end is unknown; the first reading ends it
        // otherwise when it is inside or beyond the other limit.
        if (channel.outside && figures.leadingNull)
            stats.endRun(channel, channel.lastOutsideTime, true);
        if (figures.count == 0)
            continue;
        stats.beforeReading(device, channel, figures.firstTime);
        const int side = PeriodStatistics::sideOf(channel, figures.minimum);
        if (channel.outside && (side == 0 || (side > 0) != channel.current.high))
            stats.endRun(channel, figures.firstTime, false);
        if (side != 0)
            stats.stayOutside(channel, side, side > 0 ? figures.maximum : figures.minimum,
                              figures.firstTime, figures.lastTime);
        channel.lastTime = figures.lastTime;
        PeriodStatistics::Figures taken;
        taken.samples = figures.count;
        taken.sum = figures.sum;
        taken.minimum = figures.minimum;
        taken.minimumTime = figures.minimumTime;
        taken.maximum = figures.maximum;
        taken.maximumTime = figures.maximumTime;
        channel.total.merge(taken);
        channel.days[day].merge(taken);
        channel.widen(column, figures.minimum, figures.maximum);
        if (channel.isTemperature())
            channel.mktSum += figures.mkt[channel.unitCode == 2 ? 1 : 0];
    }
}
