#pragma once

// A recording with known values for the daily report tests: a real project
// file and a real record database, written the way the recorder writes them.

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>
#include <QVariant>
#include <QVector>

#include "projectfixture.h"
#include "recordfixture.h"
#include "report/periodstatistics.h"

#include <cmath>

namespace ReportFixture
{

constexpr int kInterval = 10; // seconds
inline const QByteArray kFridge = "QKTEST000000000001";
inline const QByteArray kFreezer = "QKTEST000000000002";

inline QTimeZone berlin()
{
    return QTimeZone("Europe/Berlin");
}

inline qint64 at(const QDate &day, int h, int m, int s = 0)
{
    return QDateTime(day, QTime(h, m, s), berlin()).toSecsSinceEpoch();
}

using TestSupport::Row; // NAN: no reading (NULL)

// The fridge (channel 1 limits 2..8, channel 2 alarm off) at 10 s on
// 2026-03-10 (Berlin, 24 h):
//   9.0 from 23:50 the day before until 00:04:50, 9.5 at 00:01:40 (outside
//   from the day before until 00:05:00, worst 9.5)
//   no rows 10:00:00..10:09:50 (gap 09:59:50 to 10:10:00)
//   a NULL row at 12:00:00, then nothing until 12:30:00 (gap 11:59:50 to 12:30:00)
//   1.0 from 15:00:00 to 15:00:50, 0.4 at 15:00:30 (outside 15:00:00 to 15:01:00)
//   8.5 from 23:58:00 until 00:09:50 the next day (outside into the next day)
//   5.0 at all other times; channel 2 50.0 with 95.0 at 13:00:00.
// Then whole days at 4.0 / 50.0 on 2026-03-29 (23 h) and 2026-10-25 (25 h).
// The freezer records nothing on those days; one foreign row at 08:00.
inline QVector<Row> rows()
{
    QVector<Row> result;
    const QDate day(2026, 3, 10);
    const qint64 start = at(day, 0, 0);
    for (qint64 t = start - 600; t < start + 86400 + 600; t += kInterval) {
        const qint64 s = t - start; // seconds since midnight
        if (s >= 36000 && s < 36600)
            continue;
        if (s == 43200) {
            result.append({kFridge, NAN, NAN, t});
            continue;
        }
        if (s > 43200 && s < 45000)
            continue;
        double ch1 = 5.0;
        if (s < 300)
            ch1 = s == 100 ? 9.5 : 9.0;
        else if (s >= 54000 && s < 54060)
            ch1 = s == 54030 ? 0.4 : 1.0;
        else if (s >= 86280)
            ch1 = 8.5;
        result.append({kFridge, ch1, s == 46800 ? 95.0 : 50.0, t});
        if (s == 28800)
            result.append({"SOMEONE-ELSE", 1.0, 1.0, t});
    }
    for (const QDate &whole : {QDate(2026, 3, 29), QDate(2026, 10, 25)}) {
        const qint64 from = QDateTime(whole, QTime(0, 0), berlin()).toSecsSinceEpoch();
        const qint64 to = QDateTime(whole.addDays(1), QTime(0, 0), berlin()).toSecsSinceEpoch();
        for (qint64 t = from; t < to; t += kInterval)
            result.append({kFridge, 4.0, 50.0, t});
    }
    return result;
}

// A project file as the recorder writes it, naming `devices` (all with
// channel 2's alarm off), recording from 2026-03-01 08:00 until `stopTime`.
inline bool writeProjectOf(const QString &path, const QVector<ProjectDocument::Node> &devices,
                           const QString &stopTime, int intervalMs = kInterval * 1000)
{
    return TestSupport::writeDeviceProject(path, intervalMs, devices, "2026-03-01 08:00:00",
                                           stopTime);
}

// The probe (channel 1 in degrees C, limits 2.00..22.10) at 10 s on
// 2026-11-02 (Berlin, 24 h): 5.0 throughout, except
//   22.10 at 12:00:00 (equal to the printed limit: inside)
//   22.11 from 12:00:10 to 12:00:50 (outside 12:00:10 to 12:01:00)
//   25.0 from 20:00:00 to 20:04:50, then no rows until 21:00:00
//   (open, data missing; gap 20:04:50 to 21:00:00)
// and channel 2 (humidity, alarm off) 50.0. Nothing after the day.
inline const QByteArray kProbe = "QKTEST000000000003";
inline QVector<Row> probeRows()
{
    QVector<Row> result;
    const qint64 start = at(QDate(2026, 11, 2), 0, 0);
    for (qint64 s = 0; s < 86400; s += kInterval) {
        if (s >= 72300 && s < 75600)
            continue;
        double value = 5.0;
        if (s == 43200)
            value = 22.10;
        else if (s > 43200 && s < 43260)
            value = 22.11;
        else if (s >= 72000 && s < 72300)
            value = 25.0;
        result.append({kProbe, value, 50.0, start + s});
    }
    return result;
}

inline QString writeProbe(const QString &dir)
{
    writeProjectOf(dir + "/probe.qlk",
                   {TestSupport::projectDevice(kProbe, "Probe", 2, 22.1f, 0, 0)},
                   "2026-11-02 23:59:59");
    TestSupport::appendRecordRows(dir + "/probe.dat", probeRows(), false);
    return dir + "/probe.qlk";
}

// A project file naming the two devices above, its database beside it.
inline bool writeProject(const QString &path, const QString &fridgeName = "Fridge")
{
    return writeProjectOf(path,
                          {TestSupport::projectDevice(kFridge, fridgeName, 2, 8, 0, 0),
                           TestSupport::projectDevice(kFreezer, "Freezer", -25, -15, 0, 0)},
                          "2026-03-10 18:00:00");
}

// Project and database in `dir`; returns the project path.
inline QString writeRecording(const QString &dir, const QString &name = "coldstore")
{
    writeProject(dir + "/" + name + ".qlk");
    TestSupport::appendRecordRows(dir + "/" + name + ".dat", rows(), false);
    return dir + "/" + name + ".qlk";
}

// The values as texts joined by spaces.
template <typename... T> QString line(const T &...values)
{
    return QStringList{QVariant(values).toString()...}.join(' ');
}

// Every figure of every channel as text, sums to nine digits.
inline QStringList dump(const PeriodStatistics &s)
{
    QStringList out{line("rows", s.totalRows(), "foreign", s.foreignRows())};
    const auto figures = [](const PeriodStatistics::Figures &f) {
        return line(f.samples, QString::number(f.sum, 'g', 9), f.minimum, f.minimumTime, f.maximum,
                    f.maximumTime, f.excursions, f.secondsOutside, f.secondsUnmonitored,
                    f.expected);
    };
    for (const PeriodStatistics::Device &d : s.devices()) {
        out << line("device", d.rows, d.nullRows);
        for (const PeriodStatistics::Channel &c : d.channel) {
            out << figures(c.total) << line("mkt", QString::number(c.mktSum, 'g', 9), c.worst);
            for (const PeriodStatistics::Figures &f : c.days)
                out << figures(f);
            for (const PeriodStatistics::Gap &g : c.gaps)
                out << line("gap", g.from, g.to);
            for (const PeriodStatistics::Excursion &e : c.excursions)
                out << line("excursion", e.start, e.end, e.worst, e.limit, e.high, e.fromBefore,
                            e.intoAfter, e.dataMissing);
            for (int k = 0; k < c.envelopeLow.size(); ++k)
                out << line(c.envelopeLow.at(k), c.envelopeHigh.at(k), c.envelopeBreak.at(k));
        }
    }
    return out;
}

} // namespace ReportFixture
