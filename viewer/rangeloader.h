#pragma once

#include "viewer/seriescatalog.h"
#include "viewer/seriesstatistics.h"

#include <QString>
#include <QVector>

#include <vector>

class RecordReader;
class SummaryCache;

// The points to draw and the statistics of one series over a time range.
struct SeriesView {
    QVector<double> x; // Unix seconds
    QVector<double> y; // NoValue breaks the line
    SeriesStatistics stats;
};

// Loads what a chart of a time range shows: each series reduced to its
// envelope (minimum and maximum per pixel column) with its statistics.
// Narrow ranges are read row by row (found by id); wide ones come from the
// summary, with the rows at the two ragged ends read so that the statistics
// stay exact.
class RangeLoader
{
public:
    // Above this many rows in the range the summary is used when there is one.
    static constexpr qint64 kRawRowLimit = 200000;

    RangeLoader(RecordReader *reader, const SummaryCache *summary, int intervalSeconds);

    // Each series' statistics judge its samples by the limits in force at
    // their time (SeriesInfo::inForce), its time outside by the interval then.
    bool load(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &series,
              QVector<SeriesView> *out);
    bool usedSummary() const { return m_usedSummary; }
    // True when the range was too wide to read row by row and there is no
    // summary yet: nothing was loaded.
    bool deferred() const { return m_deferred; }
    // Wide ranges wait for the summary instead of being read row by row.
    void setDeferWideRanges(bool defer) { m_deferWide = defer; }
    QString errorText() const { return m_errorText; }
    // A line breaks where two samples are further apart than this.
    double gapSeconds() const { return 2.5 * m_interval; }

private:
    // The spans of the limits in force over [from, to], the first from `from`.
    static QVector<LimitSpan> spansOver(const SeriesInfo &info, qint64 from, qint64 to);
    bool loadRange(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &series,
                   QVector<SeriesView> *out);
    bool loadRaw(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &series,
                 QVector<SeriesView> *out);
    bool loadSummary(qint64 from, qint64 to, int columns, const QVector<SeriesInfo> &series,
                     QVector<SeriesView> *out);
    bool rawStatistics(qint64 from, qint64 to, const QVector<SeriesInfo> &series,
                       std::vector<SeriesStatistics> *stats);

    RecordReader *m_reader;
    const SummaryCache *m_summary;
    qint64 m_interval;
    bool m_usedSummary = false;
    bool m_deferred = false;
    bool m_deferWide = false;
    QString m_errorText;
};
