#include "viewer/seriesstatistics.h"

void SeriesStatistics::setLimits(bool hasLimits, double low, double high, qint64 intervalSeconds)
{
    m_hasLimits = hasLimits;
    m_low = low;
    m_high = high;
    m_interval = intervalSeconds > 0 ? intervalSeconds : 1;
}

void SeriesStatistics::add(qint64 time, double value)
{
    if (m_count == 0 || value < m_min) {
        m_min = value;
        m_minTime = time;
    }
    if (m_count == 0 || value > m_max) {
        m_max = value;
        m_maxTime = time;
    }
    ++m_count;
    m_sum += value;
    if (isOutside(value))
        ++m_outside;
}

void SeriesStatistics::addBucket(double min, qint64 minTime, double max, qint64 maxTime, double sum,
                                 qint64 count, qint64 outside, bool outsideKnown)
{
    if (count <= 0)
        return;
    if (m_count == 0 || min < m_min) {
        m_min = min;
        m_minTime = minTime;
    }
    if (m_count == 0 || max > m_max) {
        m_max = max;
        m_maxTime = maxTime;
    }
    m_count += count;
    m_sum += sum;
    m_outside += outside;
    if (!outsideKnown)
        m_outsideExact = false;
}

void SeriesStatistics::merge(const SeriesStatistics &other)
{
    if (other.m_count == 0)
        return;
    addBucket(other.m_min, other.m_minTime, other.m_max, other.m_maxTime, other.m_sum,
              other.m_count, other.m_outside, other.m_outsideExact);
}
