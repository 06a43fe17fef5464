#include "viewer/envelopebuilder.h"

#include "common/common.h"

#include <algorithm>
#include <cmath>

EnvelopeBuilder::EnvelopeBuilder(qint64 from, qint64 to, int columns, double gapSeconds)
    : m_from(from),
      m_secondsPerColumn(double(std::max<qint64>(1, to - from + 1)) / std::max(1, columns)),
      m_gapSeconds(gapSeconds)
{
}

int EnvelopeBuilder::columnOf(qint64 time) const
{
    return int(std::floor(double(time - m_from) / m_secondsPerColumn));
}

void EnvelopeBuilder::breakLine(qint64 time)
{
    flushColumn();
    if (!m_x.isEmpty() && m_y.constLast() != NoValue) {
        m_x.append(m_hasLast ? (double(m_lastTime) + double(time)) / 2 : double(time));
        m_y.append(NoValue);
    }
    m_pendingGap = false;
}

void EnvelopeBuilder::take(qint64 time, double value)
{
    const int column = columnOf(time);
    if (column != m_column)
        flushColumn();
    m_column = column;
    if (m_count == 0 || value < m_min) {
        m_min = value;
        m_minTime = time;
    }
    if (m_count == 0 || value > m_max) {
        m_max = value;
        m_maxTime = time;
    }
    ++m_count;
}

void EnvelopeBuilder::addSample(qint64 time, double value)
{
    if (value == NoValue) {
        m_pendingGap = true;
        return;
    }
    if (m_pendingGap || (m_hasLast && double(time - m_lastTime) > m_gapSeconds))
        breakLine(time);
    take(time, value);
    m_lastTime = time;
    m_hasLast = true;
}

void EnvelopeBuilder::addSpan(qint64 firstTime, qint64 lastTime, double min, qint64 minTime,
                              double max, qint64 maxTime)
{
    if (m_pendingGap || (m_hasLast && double(firstTime - m_lastTime) > m_gapSeconds))
        breakLine(firstTime);
    if (minTime <= maxTime) {
        take(minTime, min);
        take(maxTime, max);
    } else {
        take(maxTime, max);
        take(minTime, min);
    }
    m_lastTime = lastTime;
    m_hasLast = true;
}

void EnvelopeBuilder::flushColumn()
{
    if (m_count == 0)
        return;
    if (m_minTime == m_maxTime && m_min == m_max) {
        m_x.append(double(m_minTime));
        m_y.append(m_min);
    } else if (m_minTime <= m_maxTime) {
        m_x.append(double(m_minTime));
        m_y.append(m_min);
        m_x.append(double(m_maxTime));
        m_y.append(m_max);
    } else {
        m_x.append(double(m_maxTime));
        m_y.append(m_max);
        m_x.append(double(m_minTime));
        m_y.append(m_min);
    }
    m_count = 0;
    m_column = -1;
}

void EnvelopeBuilder::finish()
{
    flushColumn();
}
