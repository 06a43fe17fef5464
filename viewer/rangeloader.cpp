#include "viewer/rangeloader.h"

#include "common/common.h"
#include "record/recordreader.h"
#include "viewer/envelopebuilder.h"
#include "viewer/summarycache.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

struct Sample {
    qint64 time;
    double value;
};

QStringList devicesOf(const QVector<SeriesInfo> &series)
{
    QStringList devices;
    for (const SeriesInfo &info : series) {
        if (!devices.contains(info.deviceNumber))
            devices.append(info.deviceNumber);
    }
    return devices;
}

// For each device number, the series of its channel 1 and channel 2 (-1: not shown).
QHash<QByteArray, QPair<int, int>> channelMap(const QVector<SeriesInfo> &series)
{
    QHash<QByteArray, QPair<int, int>> map;
    for (int i = 0; i < series.size(); ++i) {
        const QByteArray key = series.at(i).deviceNumber.toUtf8();
        if (!map.contains(key))
            map.insert(key, qMakePair(-1, -1));
        auto &entry = map[key];
        if (series.at(i).channel == 1)
            entry.first = i;
        else
            entry.second = i;
    }
    return map;
}

} // namespace

RangeLoader::RangeLoader(RecordReader *reader, const SummaryCache *summary, int intervalSeconds)
    : m_reader(reader), m_summary(summary), m_interval(std::max(1, intervalSeconds))
{
}

bool RangeLoader::load(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &given,
                       QVector<SeriesView> *out)
{
    m_errorText.clear();
    m_usedSummary = false;
    m_deferred = false;
    out->clear();
    out->resize(given.size());
    // Each series is judged by the limits in force over the range: those of
    // its end here, and where they changed inside the range the time
    // outside is counted again span by span below.
    QVector<SeriesInfo> series = given;
    QVector<QVector<LimitSpan>> spans(series.size());
    for (int i = 0; i < series.size(); ++i) {
        SeriesInfo &info = series[i];
        spans[i] = spansOver(info, from, to);
        const LimitSpan &last = spans[i].constLast();
        info.hasLimits = last.hasLimits;
        info.low = last.low;
        info.high = last.high;
        info.inForce.clear();
        (*out)[i].stats.setLimits(info.hasLimits, info.low, info.high,
                                  last.intervalSeconds > 0 ? last.intervalSeconds : m_interval);
    }
    if (series.isEmpty() || to < from)
        return true;
    if (!loadRange(from, to, columns, series, out))
        return false;
    for (int i = 0; i < series.size() && !m_deferred; ++i) {
        if (spans[i].size() < 2)
            continue;
        qint64 seconds = 0;
        bool exact = true;
        for (int k = 0; k < spans[i].size(); ++k) {
            const LimitSpan &span = spans[i].at(k);
            SeriesInfo single = series.at(i);
            single.hasLimits = span.hasLimits;
            single.low = span.low;
            single.high = span.high;
            const qint64 end = k + 1 < spans[i].size() ? spans[i].at(k + 1).from - 1 : to;
            RangeLoader part(m_reader, m_summary,
                             span.intervalSeconds > 0 ? span.intervalSeconds : int(m_interval));
            part.setDeferWideRanges(m_deferWide);
            QVector<SeriesView> views;
            if (!part.load(span.from, end, 1, {single}, &views)) {
                m_errorText = part.errorText();
                return false;
            }
            seconds += views.at(0).stats.outsideSeconds();
            exact = exact && !part.deferred() && views.at(0).stats.outsideExact();
        }
        (*out)[i].stats.setOutsideTime(seconds, exact);
    }
    return true;
}

QVector<LimitSpan> RangeLoader::spansOver(const SeriesInfo &info, qint64 from, qint64 to)
{
    // Rows older than the first entry the file keeps: the limits given.
    LimitSpan current;
    current.from = from;
    current.hasLimits = info.hasLimits;
    current.low = info.low;
    current.high = info.high;
    QVector<LimitSpan> spans;
    for (const LimitSpan &entry : info.inForce) {
        if (entry.from > to)
            break;
        if (entry.hasLimits == current.hasLimits && entry.low == current.low &&
            entry.high == current.high && entry.intervalSeconds == current.intervalSeconds)
            continue; // stored again unchanged (each start of recording)
        if (entry.from > from)
            spans.append(current);
        current = entry;
        current.from = std::max(entry.from, from);
    }
    spans.append(current);
    return spans;
}

bool RangeLoader::loadRange(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &series,
                            QVector<SeriesView> *out)
{
    qint64 rows = std::numeric_limits<qint64>::max();
    qint64 firstId = 0;
    qint64 lastId = 0;
    if (m_reader->timeOrdered()) {
        if (!m_reader->idRangeForTime(from, to, &firstId, &lastId))
            rows = 0;
        else
            rows = lastId - firstId + 1;
    }
    if (rows > kRawRowLimit && m_summary && m_summary->lastId() > 0)
        return loadSummary(from, to, columns, series, out);
    if (rows > kRawRowLimit && m_deferWide) {
        m_deferred = true;
        return true;
    }
    return loadRaw(from, to, columns, series, out);
}

bool RangeLoader::loadRaw(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &series,
                          QVector<SeriesView> *out)
{
    const auto map = channelMap(series);
    QVector<QVector<Sample>> samples(series.size());
    QByteArray lastSerial;
    QPair<int, int> current(-1, -1);
    const bool ok =
        m_reader->forEachRowInTime(from, to, devicesOf(series), [&](const RecordRow &row) {
            if (row.serialNo != lastSerial) {
                lastSerial = row.serialNo;
                current = map.value(row.serialNo, qMakePair(-1, -1));
            }
            if (current.first >= 0)
                samples[current.first].append({row.pointDate, row.channel1});
            if (current.second >= 0)
                samples[current.second].append({row.pointDate, row.channel2});
            return true;
        });
    if (!ok) {
        m_errorText = m_reader->errorText();
        return false;
    }
    for (int i = 0; i < series.size(); ++i) {
        QVector<Sample> &list = samples[i];
        // After a clock step back the rows of a series are not in time order.
        const auto byTime = [](const Sample &a, const Sample &b) { return a.time < b.time; };
        if (!std::is_sorted(list.begin(), list.end(), byTime))
            std::stable_sort(list.begin(), list.end(), byTime);
        EnvelopeBuilder envelope(from, to, columns, gapSeconds());
        SeriesView &view = (*out)[i];
        for (const Sample &sample : qAsConst(list)) {
            envelope.addSample(sample.time, sample.value);
            if (sample.value != NoValue)
                view.stats.add(sample.time, sample.value);
        }
        envelope.finish();
        view.x = envelope.xs();
        view.y = envelope.ys();
    }
    return true;
}

bool RangeLoader::rawStatistics(qint64 from, qint64 to, const QVector<SeriesInfo> &series,
                                std::vector<SeriesStatistics> *stats)
{
    if (to < from)
        return true;
    const auto map = channelMap(series);
    return m_reader->forEachRowInTime(from, to, devicesOf(series), [&](const RecordRow &row) {
        const QPair<int, int> pair = map.value(row.serialNo, qMakePair(-1, -1));
        if (pair.first >= 0 && row.channel1 != NoValue)
            (*stats)[size_t(pair.first)].add(row.pointDate, row.channel1);
        if (pair.second >= 0 && row.channel2 != NoValue)
            (*stats)[size_t(pair.second)].add(row.pointDate, row.channel2);
        return true;
    });
}

bool RangeLoader::loadSummary(qint64 from, qint64 to, int columns,
                              const QVector<SeriesInfo> &series, QVector<SeriesView> *out)
{
    m_usedSummary = true;
    const double secondsPerColumn = double(to - from + 1) / std::max(1, columns);
    const SummaryCache::Level level =
        secondsPerColumn >= 3600 ? SummaryCache::Hour : SummaryCache::Minute;

    // Whole minutes inside the range come from the summary, the ragged ends
    // from the rows.
    const qint64 wholeFrom = (from + 59) / 60 * 60;
    const qint64 wholeTo = (to + 1) / 60 * 60 - 1;
    std::vector<SeriesStatistics> edges(size_t(series.size()));
    for (int i = 0; i < series.size(); ++i)
        edges[size_t(i)] = out->at(i).stats;
    if (wholeTo < wholeFrom) {
        if (!rawStatistics(from, to, series, &edges)) {
            m_errorText = m_reader->errorText();
            return false;
        }
    } else if (!rawStatistics(from, wholeFrom - 1, series, &edges) ||
               !rawStatistics(wholeTo + 1, to, series, &edges)) {
        m_errorText = m_reader->errorText();
        return false;
    }

    SeriesView *views = out->data();
    for (int i = 0; i < series.size(); ++i) {
        const SeriesInfo &info = series.at(i);
        SeriesView &view = views[i];
        EnvelopeBuilder envelope(from, to, columns, gapSeconds());
        m_summary->forEachBucket(info.deviceNumber, info.channel, level, from, to,
                                 [&](qint64 start, const SummaryCache::Bucket &b) {
                                     if (b.count > 0)
                                         envelope.addSpan(start + b.first, start + b.last, b.min,
                                                          start + b.minAt, b.max, start + b.maxAt);
                                     if (b.flags & SummaryCache::kHasGap)
                                         envelope.addGap();
                                 });
        envelope.finish();
        view.x = envelope.xs();
        view.y = envelope.ys();

        SeriesStatistics &stats = view.stats;
        stats = edges[size_t(i)];
        if (wholeTo < wholeFrom)
            continue;
        // The summary keeps its extremes as floats: a bucket counts as wholly
        // inside or outside only with a margin of float rounding to spare.
        const double lowMargin = std::abs(info.low) * 1e-6 + 1e-9;
        const double highMargin = std::abs(info.high) * 1e-6 + 1e-9;
        QVector<QPair<qint64, qint64>> partly; // minutes partly outside, joined
        m_summary->forEachBucket(info.deviceNumber, info.channel, SummaryCache::Minute, wholeFrom,
                                 wholeTo, [&](qint64 start, const SummaryCache::Bucket &b) {
                                     if (b.count == 0)
                                         return;
                                     qint64 outside = 0;
                                     if (info.hasLimits) {
                                         const bool allBelow = b.max < info.low - lowMargin;
                                         const bool allAbove = b.min > info.high + highMargin;
                                         const bool allInside = b.min > info.low + lowMargin &&
                                                                b.max < info.high - highMargin;
                                         if (allBelow || allAbove) {
                                             outside = b.count;
                                         } else if (!allInside) {
                                             if (!partly.isEmpty() &&
                                                 partly.last().second + 1 >= start)
                                                 partly.last().second = start + 59;
                                             else
                                                 partly.append(qMakePair(start, start + 59));
                                         }
                                     }
                                     stats.addBucket(b.min, start + b.minAt, b.max, start + b.maxAt,
                                                     b.sum, b.count, outside, true);
                                 });
        // Which samples of those minutes lay outside, the rows tell.
        for (const auto &span : qAsConst(partly)) {
            const QByteArray serial = info.deviceNumber.toUtf8();
            qint64 outside = 0;
            const bool ok = m_reader->forEachRowInTime(
                span.first, span.second, {info.deviceNumber}, [&](const RecordRow &row) {
                    const double value = info.channel == 1 ? row.channel1 : row.channel2;
                    if (row.serialNo == serial && value != NoValue && stats.isOutside(value))
                        ++outside;
                    return true;
                });
            if (!ok) {
                m_errorText = m_reader->errorText();
                return false;
            }
            stats.addOutside(outside);
        }
    }
    return true;
}
