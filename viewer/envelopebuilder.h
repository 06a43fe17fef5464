#pragma once

#include <QVector>
#include <QtGlobal>

// Reduces one series to at most two points per pixel column: the minimum and
// the maximum of the column, at their own times and in the order they came,
// so that no spike is ever hidden however many samples share a column. A
// column with one sample keeps it as it is.
//
// A missing value (NoValue) and a step between two samples longer than the
// gap time break the line: a NoValue point is put between them. Samples must
// come in time order.
class EnvelopeBuilder
{
public:
    EnvelopeBuilder(qint64 from, qint64 to, int columns, double gapSeconds);

    void addSample(qint64 time, double value);
    // A summary bucket: samples from firstTime to lastTime with these extremes.
    void addSpan(qint64 firstTime, qint64 lastTime, double min, qint64 minTime, double max,
                 qint64 maxTime);
    // Forces a break before the next sample.
    void addGap() { m_pendingGap = true; }
    void finish();

    const QVector<double> &xs() const { return m_x; }
    const QVector<double> &ys() const { return m_y; }

private:
    int columnOf(qint64 time) const;
    void take(qint64 time, double value);
    void flushColumn();
    void breakLine(qint64 time);

    qint64 m_from;
    double m_secondsPerColumn;
    double m_gapSeconds;
    int m_column = -1;
    int m_count = 0;
    double m_min = 0;
    double m_max = 0;
    qint64 m_minTime = 0;
    qint64 m_maxTime = 0;
    qint64 m_lastTime = 0;
    bool m_hasLast = false;
    bool m_pendingGap = false;
    QVector<double> m_x;
    QVector<double> m_y;
};
