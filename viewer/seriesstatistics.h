#pragma once

#include <QtGlobal>

// Statistics of one series over a time range: extremes with their times,
// mean, number of samples and the time spent outside the alarm limits
// (each sample outside counts for one data interval).
class SeriesStatistics
{
public:
    void setLimits(bool hasLimits, double low, double high, qint64 intervalSeconds);
    void add(qint64 time, double value);
    // A whole summary bucket: `outside` of its `count` samples lay outside the
    // limits when known; `outsideKnown` false makes the time a lower bound.
    void addBucket(double min, qint64 minTime, double max, qint64 maxTime, double sum, qint64 count,
                   qint64 outside, bool outsideKnown);
    void merge(const SeriesStatistics &other);
    // Samples outside the limits counted apart (from the rows of buckets
    // that lay partly outside).
    void addOutside(qint64 samples) { m_outside += samples; }
    // The time outside counted elsewhere (range by range, each with the
    // limits and interval in force then).
    void setOutsideTime(qint64 seconds, bool exact)
    {
        m_outside = seconds;
        m_interval = 1;
        m_outsideExact = exact;
    }

    qint64 samples() const { return m_count; }
    double minimum() const { return m_min; }
    double maximum() const { return m_max; }
    qint64 minimumTime() const { return m_minTime; }
    qint64 maximumTime() const { return m_maxTime; }
    double mean() const { return m_count > 0 ? m_sum / double(m_count) : 0; }
    qint64 outsideSeconds() const { return m_outside * m_interval; }
    // False when some samples could not be compared (the time is a lower bound).
    bool outsideExact() const { return m_outsideExact; }
    bool hasLimits() const { return m_hasLimits; }

    bool isOutside(double value) const { return m_hasLimits && (value < m_low || value > m_high); }

private:
    bool m_hasLimits = false;
    double m_low = 0;
    double m_high = 0;
    qint64 m_interval = 1;
    qint64 m_count = 0;
    double m_sum = 0;
    double m_min = 0;
    double m_max = 0;
    qint64 m_minTime = 0;
    qint64 m_maxTime = 0;
    qint64 m_outside = 0;
    bool m_outsideExact = true;
};
