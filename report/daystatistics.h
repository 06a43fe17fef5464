#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QTimeZone>
#include <QVector>

struct RecordRow;

// The figures of one local day of a recording, per device and channel,
// gathered in one pass over the rows in time order.
//
// Feed it every row from windowStart() to windowEnd() (the day plus a little
// on each side, so that an excursion or a gap that crosses midnight is seen
// whole), then call finish(). Only rows inside the day count for the figures;
// the ones around it only tell what was going on at midnight.
class DayStatistics
{
public:
    struct Gap {
        qint64 from = 0; // last sample before the gap (or the day's start)
        qint64 to = 0;   // next sample after it (or the day's end)
        qint64 length() const { return to - from; }
    };
    struct Excursion {
        qint64 start = 0; // clipped to the day
        qint64 end = 0;
        double worst = 0;             // the reading furthest outside the limits
        bool fromPreviousDay = false; // already outside at midnight
        bool intoNextDay = false;     // still outside at the day's end
        qint64 duration() const { return end - start; }
    };
    struct Channel {
        QString name;
        QString unit;
        float low = 0;
        float high = 0;
        bool alarmOn() const { return low != high; }

        qint64 samples = 0; // readings inside the day
        double sum = 0;
        double minimum = 0;
        double maximum = 0;
        qint64 minimumTime = 0;
        qint64 maximumTime = 0;
        double mean() const { return samples > 0 ? sum / double(samples) : 0; }
        QVector<Gap> gaps;
        QVector<Excursion> excursions;
        qint64 secondsOutside = 0;
        double worst = 0; // worst reading of all excursions (valid when any)

        // The chart's envelope: per column the smallest and largest reading,
        // NoValue where there was none.
        QVector<double> envelopeLow;
        QVector<double> envelopeHigh;
        QVector<bool> envelopeBreak; // a gap began inside the column

        // Running state of the pass.
        qint64 lastTime = 0;
        bool hasLast = false;
        bool outside = false;
        bool runInDay = false; // a reading of the current run lies inside the day
        Excursion current;
        qint64 currentRealStart = 0;
        qint64 lastOutsideTime = 0;
    };
    struct Device {
        QString name;
        QByteArray serial;
        qint64 rows = 0; // rows inside the day, NULL rows included
        qint64 nullRows = 0;
        Channel channel[2];
    };

    DayStatistics() = default;

    // `intervalMs` is the project's data interval; `now` (Unix seconds) ends
    // a day that is not over yet.
    void start(const QDate &day, const QTimeZone &zone, int intervalMs, qint64 now);
    // Adds a device before the first row; its rows are matched by serial.
    void addDevice(const QString &name, const QString &serial, const QString &ch1Name,
                   const QString &ch1Unit, float ch1Low, float ch1High, const QString &ch2Name,
                   const QString &ch2Unit, float ch2Low, float ch2High);
    void addRow(const RecordRow &row);
    void finish();

    QDate day() const { return m_day; }
    QTimeZone zone() const { return m_zone; }
    qint64 dayStart() const { return m_dayStart; }
    qint64 dayEnd() const { return m_dayEnd; }
    // The day's length in seconds: 82800 and 90000 on the days the clocks change.
    qint64 daySeconds() const { return m_dayEnd - m_dayStart; }
    qint64 windowStart() const { return m_dayStart - m_margin; }
    qint64 windowEnd() const { return m_dayEnd + m_margin; }
    int intervalSeconds() const { return m_interval; }
    // Samples a whole day holds at the data interval.
    qint64 expectedSamples() const { return m_interval > 0 ? daySeconds() / m_interval : 0; }
    // Recorded against expected in %, at most 100.
    double completeness(const Channel &channel) const;
    qint64 totalRows() const { return m_totalRows; }
    // Rows of serials that belong to no device of the project.
    qint64 foreignRows() const { return m_foreignRows; }
    const QVector<Device> &devices() const { return m_devices; }
    int envelopeColumns() const { return m_columns; }
    // The time in the middle of an envelope column.
    qint64 columnTime(int column) const;

    // Local wall-clock text of a time in the report's zone.
    QString timeText(qint64 unixSeconds) const;
    static QString durationText(qint64 seconds);

private:
    void addValue(Channel &channel, double value, qint64 time);
    void endRun(Channel &channel, qint64 realEnd);
    void closeExcursion(Channel &channel, qint64 realEnd);
    void addGap(Channel &channel, qint64 from, qint64 to);
    int deviceIndex(const QByteArray &serial);

    QDate m_day;
    QTimeZone m_zone;
    qint64 m_dayStart = 0;
    qint64 m_dayEnd = 0;
    qint64 m_endOfData = 0; // the day's end, or now while the day lasts
    qint64 m_margin = 0;
    int m_interval = 1;
    double m_gapLimit = 2.5;
    int m_columns = 1;
    qint64 m_totalRows = 0;
    qint64 m_foreignRows = 0;
    QVector<Device> m_devices;
    int m_lastIndex = -1;
};
