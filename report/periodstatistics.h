#pragma once

#include <QByteArray>
#include <QDate>
#include <QPair>
#include <QString>
#include <QTimeZone>
#include <QVector>

#include <cmath>

#include "common/common.h"
#include "record/recordstretches.h"

struct RecordRow;

// The figures of a run of whole local days of a recording (one day, a week,
// a month or any period), per device and channel and per day, gathered in
// one pass over the rows in time order.
//
// Feed it every row from windowStart() to windowEnd() (the period plus a
// little on each side, so that an excursion or a gap that crosses midnight is
// seen whole), then call finish(). Only rows inside the period count for the
// figures; the ones around it only tell what was going on at its bounds.
//
// A reading is outside when it lies outside the limits as the report prints
// them (two decimals): a reading of 22.10 against a limit printed 22.10 is
// inside. An excursion starts at the first reading outside and ends at the
// first reading back inside. When the readings stop while outside (a gap, a
// row without readings, the end of the recording), the excursion is "open,
// data missing": it ends at its last reading outside and the time without
// readings counts as unmonitored, not as time outside.
class PeriodStatistics
{
public:
    struct Gap {
        qint64 from = 0; // last sample before the gap (or the period's start)
        qint64 to = 0;   // next sample after it (or the end of the data)
        qint64 length() const { return to - from; }
    };
    struct Excursion {
        qint64 start = 0;         // clipped to the period
        qint64 end = 0;           // first reading back inside, or the last one outside when open
        double worst = 0;         // the reading furthest outside the limits
        double limit = 0;         // the limit crossed, as printed
        bool high = true;         // above the high limit (else below the low one)
        bool fromBefore = false;  // already outside when the period began
        bool intoAfter = false;   // still outside when the period ended
        bool dataMissing = false; // the readings stopped while outside
        qint64 duration() const { return end - start; }
    };
    // The settings of a device from a time on: interval and limits.
    struct Settings {
        qint64 from = 0;
        int intervalSeconds = 1;
        double low[2] = {0, 0};
        double high[2] = {0, 0};
    };
    struct Figures {
        qint64 samples = 0;
        qint64 expected = 0; // samples the time held at the interval in force
        double sum = 0;
        double minimum = 0;
        double maximum = 0;
        qint64 minimumTime = 0;
        qint64 maximumTime = 0;
        int excursions = 0; // started (or running at the start) in this time
        qint64 secondsOutside = 0;
        qint64 secondsUnmonitored = 0;
        double mean() const { return samples > 0 ? sum / double(samples) : 0; }
        // Recorded against expected in %; above 100 when the interval is wrong.
        double completeness() const
        {
            return expected > 0 ? 100.0 * double(samples) / double(expected) : 0;
        }
        void add(double value, qint64 time);
        // Takes the figures of a later time (the expected count aside).
        void merge(const Figures &later);
    };
    struct Channel {
        QString name;
        QString unit;
        int unitCode = 0;
        Figures total;
        QVector<Figures> days; // one per day of the period
        QVector<Gap> gaps;
        QVector<Excursion> excursions;
        double worst = 0;     // worst reading of all excursions (valid when any)
        bool watched = false; // alarm limits in force at some time of the period
        double low = 0;       // the limits in force at the period's end
        double high = 0;
        double mktSum = 0;     // sum of exp(-dH / (R T)) over the readings
        double mktValue = NAN; // the last reading summed and its term
        double mktTerm = 0;
        bool isTemperature() const { return unitCode == 1 || unitCode == 2; }
        bool alarmOn() const { return watched; }

        // The chart's envelope: per column the smallest and largest reading,
        // NoValue where there was none.
        QVector<double> envelopeLow;
        QVector<double> envelopeHigh;
        QVector<bool> envelopeBreak; // a gap began inside the column
        // Widens a column's envelope to hold [low, high] (NoValue: nothing).
        void widen(int column, double low, double high)
        {
            double &least = envelopeLow[column];
            double &most = envelopeHigh[column];
            if (low != NoValue && (least == NoValue || low < least))
                least = low;
            if (high != NoValue && (most == NoValue || high > most))
                most = high;
        }

        // Running state of the pass.
        qint64 lastTime = 0;
        bool hasLast = false;
        bool outside = false;
        bool runInPeriod = false;
        Excursion current;
        qint64 currentRealStart = 0;
        qint64 lastOutsideTime = 0;
        double worstBeyond = 0;
        qint64 lowCents = 0;
        qint64 highCents = 0;
        bool limitsOn = false;
        bool pending = false; // a later part: readings held back (see startLater())
    };
    struct HeldRow {
        qint64 time;
        double value[2];
        bool pending[2];
    };
    struct Device {
        QString name;
        QByteArray serial;
        qint64 rows = 0; // rows inside the period, NULL rows included
        qint64 nullRows = 0;
        Channel channel[2];
        QVector<Settings> settings; // oldest first
        int settingsIndex = 0;
        int gapLimit = 1;      // seconds without a reading that make a gap
        QVector<HeldRow> held; // a later part's rows held back
    };

    PeriodStatistics() = default;

    // `days` whole local days from `first`; `intervalMs` is the data interval
    // (for devices added without settings of their own); `now` (Unix seconds)
    // ends a period that is not over yet; `mktEnergy` is the activation
    // energy of the mean kinetic temperature in kJ/mol.
    void start(const QDate &first, int days, const QTimeZone &zone, int intervalMs, qint64 now,
               double mktEnergy = kDefaultMktEnergy);
    // Adds a device before the first row; its rows are matched by serial.
    // Without `settings` the project's limits and interval hold throughout.
    void addDevice(const QString &name, const QString &serial, const QString &ch1Name, int ch1Unit,
                   const QString &ch1UnitText, double ch1Low, double ch1High,
                   const QString &ch2Name, int ch2Unit, const QString &ch2UnitText, double ch2Low,
                   double ch2High, QVector<Settings> settings = {});
    void addRow(const RecordRow &row);
    // A row of the device at `index` in devices() (-1: of no device).
    void add(int index, qint64 time, double channel1, double channel2);
    // The device numbers in the order of devices().
    QVector<QByteArray> serials() const;

    // A long pass read in two parts at once: a copy made after the devices
    // were added reads the later rows after startLater(), then append()
    // takes its figures after this one's, as one pass would have had them.
    // Until a channel's first reading inside its limits the later part holds
    // its rows back (what they mean depends on the rows before them);
    // appendable() is false once too many were held.
    void startLater();
    bool appendable() const { return !m_heldOverflow; }
    void append(const PeriodStatistics &later);
    void finish();

    static constexpr double kDefaultMktEnergy = RecordStretches::kMktEnergy; // kJ/mol
    static constexpr double kGasConstant = RecordStretches::kGasConstant;    // J/(mol K)

    // Rows in the period of serials that belong to no device.
    void addForeignRows(qint64 rows) { m_foreignRows += rows; }
    // Stretches taken whole since start(), and the rows in the period they
    // stand for.
    int stretchesTaken() const { return m_stretchesTaken; }
    qint64 rowsFromStretches() const { return m_rowsFromStretches; }

    QDate firstDay() const { return m_first; }
    QDate lastDay() const { return m_first.addDays(m_dayCount - 1); }
    int dayCount() const { return m_dayCount; }
    QTimeZone zone() const { return m_zone; }
    qint64 periodStart() const { return m_periodStart; }
    qint64 periodEnd() const { return m_periodEnd; }
    qint64 dayStart(int day) const { return m_dayBounds.at(day); }
    qint64 dayEnd(int day) const { return m_dayBounds.at(day + 1); }
    // The period's length in seconds: a day is 82800 or 90000 s when the clocks change.
    qint64 periodSeconds() const { return m_periodEnd - m_periodStart; }
    qint64 windowStart() const { return m_periodStart - m_margin; }
    qint64 windowEnd() const { return m_periodEnd + m_margin; }
    // The interval of the first device (the project's when there is none).
    int intervalSeconds() const;
    double mktEnergy() const { return m_mktEnergy; }
    // Mean kinetic temperature in the channel's unit; false without readings.
    bool meanKineticTemperature(const Channel &channel, double *value) const;
    qint64 totalRows() const { return m_totalRows; }
    // Rows of serials that belong to no device of the project.
    qint64 foreignRows() const { return m_foreignRows; }
    const QVector<Device> &devices() const { return m_devices; }
    // The distance between a device's rows most seen in `times` (pairs of
    // serial and time, in time order), in seconds; 0 when too few to tell.
    static int spacingOf(const QVector<QPair<QByteArray, qint64>> &times);
    int envelopeColumns() const { return m_columns; }
    // The time in the middle of an envelope column.
    qint64 columnTime(int column) const;
    // The day of the period a time falls on (-1 outside).
    int dayIndex(qint64 time) const;

    // Local wall-clock text of a time in the report's zone: the time alone
    // for a one-day period, with the date otherwise.
    QString timeText(qint64 unixSeconds) const;
    static QString durationText(qint64 seconds);
    // The value as printed, in hundredths.
    static qint64 cents(double value);

private:
    // Takes stretch figures in place of their rows.
    friend class StretchReading;

    void addValue(Device &device, Channel &channel, double value, qint64 time);
    void take(Device &device, Channel &channel, double value, qint64 time);
    void advanceSettings(Device &device, qint64 time);
    static int sideOf(const Channel &channel, double value)
    {
        return sideOf(channel.limitsOn, channel.lowCents, channel.highCents, value);
    }
    static int sideOf(bool limitsOn, qint64 lowCents, qint64 highCents, double value);
    // What a reading at `time` does before it is taken: the gap since the
    // last one (which ends a run outside), the time of the last reading.
    void beforeReading(const Device &device, Channel &channel, qint64 time);
    // Readings outside from `time` to `lastTime`, the one furthest out
    // `value`: a run starts or goes on.
    void stayOutside(Channel &channel, int side, double value, qint64 time, qint64 lastTime);
    int settingsAt(const Device &device, qint64 time) const;
    int columnIndex(qint64 time) const;
    void endRun(Channel &channel, qint64 realEnd, bool dataMissing);
    void addGap(Channel &channel, qint64 from, qint64 to);
    void applySettings(Device &device, const Settings &settings);
    void spread(Channel &channel, qint64 from, qint64 to, qint64 Figures::*field);
    int deviceIndex(const QByteArray &serial);
    // The envelope column of a time inside the period.
    int columnOf(qint64 time);

    QDate m_first;
    int m_dayCount = 1;
    QVector<qint64> m_dayBounds;
    QTimeZone m_zone;
    qint64 m_periodStart = 0;
    qint64 m_periodEnd = 0;
    qint64 m_endOfData = 0; // the period's end, or now while it lasts
    qint64 m_margin = 0;
    int m_interval = 1;
    double m_mktEnergy = kDefaultMktEnergy;
    double m_mktFactor = 0; // dH / R
    int m_columns = 1;
    // The column of the last reading and the times it spans, [from, to).
    int m_column = 0;
    qint64 m_columnFrom = 0;
    qint64 m_columnTo = 0;
    qint64 m_totalRows = 0;
    qint64 m_foreignRows = 0;
    int m_stretchesTaken = 0;
    qint64 m_rowsFromStretches = 0;
    QVector<Device> m_devices;
    int m_lastIndex = -1;
    int m_day = 0; // the day of the last reading in the period
    static constexpr int kMaxHeldRows = 1 << 20;
    int m_heldCount = 0;
    bool m_heldOverflow = false;
};
