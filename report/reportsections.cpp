#include "report/reportsections.h"

#include <QFileInfo>
#include <QLocale>

#include "common/common.h"
#include "report/periodreport.h"
#include "report/reportchart.h"
#include "report/reportlayout.h"
#include "report/reporttable.h"

namespace
{

constexpr int kChartHeight = 330;
const QString kNoData = QStringLiteral("no data");

QString deviceCell(const PeriodStatistics::Device &device)
{
    return device.name + QLatin1Char('\n') + QString::fromUtf8(device.serial);
}

QString channelCell(const PeriodStatistics::Channel &channel)
{
    return channel.unit.isEmpty() ? channel.name
                                  : QStringLiteral("%1\n%2").arg(channel.name, channel.unit);
}

} // namespace

QString ReportSections::limitsText(const PeriodStatistics::Channel &channel)
{
    return channel.alarmOn()
               ? QStringLiteral("%1 to\n%2")
                     .arg(ReportTable::valueText(channel.low), ReportTable::valueText(channel.high))
               : QStringLiteral("off");
}

void ReportSections::introduction(ReportLayout &layout, const QString &heading)
{
    const PeriodReport &report = layout.report();
    const PeriodStatistics &statistics = report.statistics();
    const ProjectDocument &project = report.project();
    layout.text(heading, 52, true);
    layout.space(10);
    const auto local = [&](qint64 t) {
        return QDateTime::fromSecsSinceEpoch(t, statistics.zone())
            .toString(QStringLiteral("yyyy-MM-dd HH:mm t"));
    };
    const QString first =
        QLocale::c().toString(statistics.firstDay(), QStringLiteral("dddd, d MMMM yyyy"));
    layout.text(QStringLiteral("Period: %1%2 (%3 hours, %4 to %5)")
                    .arg(first, statistics.dayCount() > 1
                                    ? QStringLiteral(" to ") +
                                          QLocale::c().toString(statistics.lastDay(),
                                                                QStringLiteral("dddd, d MMMM yyyy"))
                                    : QString())
                    .arg(statistics.periodSeconds() / 3600)
                    .arg(local(statistics.periodStart()), local(statistics.periodEnd())),
                28);
    layout.text(QStringLiteral("Project: %1   File: %2").arg(report.projectTitle(), project.path),
                28);
    layout.text(QStringLiteral("Database: %1").arg(QFileInfo(project.databasePath()).fileName()),
                28);
    const QString interval = intervalText(statistics.intervalSeconds() * 1000);
    // Rows summed up by the recorder per quarter hour are not read again:
    // the page says how many were.
    const qint64 summed = statistics.rowsFromStretches();
    layout.text(QStringLiteral("Data interval: %1   Rows: %2%3")
                    .arg(interval.isEmpty()
                             ? QStringLiteral("%1 s").arg(statistics.intervalSeconds())
                             : interval)
                    .arg(statistics.totalRows())
                    .arg(summed == 0 ? QStringLiteral(" (all read)")
                         : summed < statistics.totalRows()
                             ? QStringLiteral(" (%1 read, the others from the recorder's "
                                              "quarter-hour figures)")
                                   .arg(statistics.totalRows() - summed)
                             : QStringLiteral(" (all from the recorder's quarter-hour figures)")),
                28);
    if (!project.recordStartTime.isEmpty() || !project.recordStopTime.isEmpty())
        layout.text(QStringLiteral("Recording period: %1 to %2")
                        .arg(project.recordStartTime, project.recordStopTime.isEmpty()
                                                          ? QStringLiteral("(running)")
                                                          : project.recordStopTime),
                    28);
    for (const QString &note : report.notes())
        layout.paragraph(note, 24);
    if (!report.hasData())
        layout.text(QStringLiteral("No data: no samples were recorded in this period."), 34, true,
                    ReportLayout::kWarning);
    if (statistics.foreignRows() > 0)
        layout.text(QStringLiteral("Rows of devices that are not in the project, left out: %1")
                        .arg(statistics.foreignRows()),
                    28, false, ReportLayout::kWarning);
    if (!report.timeOrdered())
        layout.text(QStringLiteral("The recorder's clock went back during the recording: rows "
                                   "near the step may be out of order."),
                    28, false, ReportLayout::kWarning);
    layout.space(30);
}

void ReportSections::definitions(ReportLayout &layout)
{
    layout.box(
        QStringLiteral("How the figures are counted"),
        {QStringLiteral("A reading is outside when it lies beyond a limit as printed here (two "
                        "decimals): a reading equal to the printed limit is inside."),
         QStringLiteral("An excursion starts at the first reading outside and ends at the first "
                        "reading back inside; its duration is the time between the two. When the "
                        "readings stop while outside (a gap or the end of the data) the excursion "
                        "is \"open, data missing\": it is shown up to its last reading outside "
                        "and the time without readings counts as unmonitored, not as outside."),
         QStringLiteral("A gap is a time of more than 2.5 data intervals without a reading; it "
                        "runs from the last reading before it to the next one after it and counts "
                        "as unmonitored time."),
         QStringLiteral("Completeness is the number of readings against the number the time "
                        "would hold at the data interval in force.")});
}

void ReportSections::summary(ReportLayout &layout)
{
    const PeriodReport &report = layout.report();
    const PeriodStatistics &statistics = report.statistics();
    const bool period = statistics.dayCount() > 1;
    // Figures and times are never cut: their columns take the width they
    // need from the names'.
    constexpr auto whole = ReportLayout::Column::Fit::Whole;
    const QVector<ReportLayout::Column> columns = {
        {QStringLiteral("Device"), 270},         {QStringLiteral("Channel"), 190},
        {QStringLiteral("Minimum"), 195, whole}, {QStringLiteral("Maximum"), 195, whole},
        {QStringLiteral("Mean"), 115, whole},    {QStringLiteral("Complete"), 150, whole},
        {QStringLiteral("Unmon."), 150, whole},  {QStringLiteral("Limits"), 145, whole},
        {QStringLiteral("Exc."), 75, whole},     {QStringLiteral("Outside"), 155, whole},
        {QStringLiteral("MKT"), 150, whole}};
    QVector<QStringList> rows;
    QVector<bool> marks;
    for (const PeriodStatistics::Device &device : statistics.devices()) {
        for (const PeriodStatistics::Channel &channel : device.channel) {
            const PeriodStatistics::Figures &f = channel.total;
            const bool any = f.samples > 0;
            const bool alarm = channel.alarmOn();
            const auto withTime = [&](double value, qint64 time) {
                return any ? QStringLiteral("%1\n%2").arg(ReportTable::valueText(value),
                                                          statistics.timeText(time))
                           : kNoData;
            };
            double mkt = 0;
            const bool hasMkt = statistics.meanKineticTemperature(channel, &mkt);
            rows.append({deviceCell(device), channelCell(channel),
                         withTime(f.minimum, f.minimumTime), withTime(f.maximum, f.maximumTime),
                         any ? ReportTable::valueText(f.mean()) : kNoData,
                         QStringLiteral("%1 %\n%2%3")
                             .arg(f.completeness(), 0, 'f', 1)
                             .arg(f.samples)
                             .arg(period ? QString() : QStringLiteral("/%1").arg(f.expected)),
                         QStringLiteral("%1\n%2 gaps")
                             .arg(PeriodStatistics::durationText(f.secondsUnmonitored))
                             .arg(channel.gaps.size()),
                         limitsText(channel),
                         alarm && any ? QString::number(f.excursions) : QStringLiteral("-"),
                         !alarm ? QStringLiteral("-")
                         : any  ? PeriodStatistics::durationText(f.secondsOutside)
                                : kNoData,
                         hasMkt ? ReportTable::valueText(mkt) : QStringLiteral("-")});
            marks.append(f.excursions > 0);
        }
    }
    layout.text(QStringLiteral("Summary"), 36, true);
    layout.table(columns, rows, [&marks](int r) { return marks.at(r); });
    if (period) {
        layout.paragraph(
            QStringLiteral(
                "MKT: mean kinetic temperature of the readings of a temperature "
                "channel, Tk = (\u0394H / R) / (\u2212ln((e^(\u2212\u0394H/(R T1)) + ... "
                "+ e^(\u2212\u0394H/(R Tn))) / n)), temperatures in kelvin, with "
                "\u0394H = %1 kJ/mol and R = %2 J/(mol K).")
                .arg(statistics.mktEnergy(), 0, 'f', 3)
                .arg(PeriodStatistics::kGasConstant, 0, 'f', 7),
            22);
    }
}

QString ReportSections::excursionEnd(const PeriodStatistics &statistics,
                                     const PeriodStatistics::Excursion &e)
{
    if (e.dataMissing)
        return QStringLiteral("open, data missing\nlast outside %1")
            .arg(statistics.timeText(e.end));
    if (e.intoAfter)
        return QStringLiteral("%1\n(continues after)").arg(statistics.timeText(e.end));
    return statistics.timeText(e.end);
}

QVector<QStringList> ReportSections::excursionRows(const PeriodReport &report,
                                                   const PeriodStatistics::Device &device,
                                                   int channel, bool withDevice)
{
    const PeriodStatistics &statistics = report.statistics();
    QVector<QStringList> rows;
    for (const PeriodStatistics::Excursion &e : device.channel[channel].excursions) {
        const RecordAlarmEvent *event = report.eventFor(device.serial, channel + 1, e);
        QString ack = QStringLiteral("-");
        if (event && event->isAcknowledged())
            ack = QStringLiteral("%1\n%2").arg(event->ackBy, statistics.timeText(event->ackAt));
        QStringList row = {statistics.timeText(e.start) +
                               (e.fromBefore ? QStringLiteral("\n(from before)") : QString()),
                           excursionEnd(statistics, e),
                           PeriodStatistics::durationText(e.duration()),
                           QStringLiteral("%1\n%2 %3")
                               .arg(ReportTable::valueText(e.worst),
                                    e.high ? QStringLiteral(">") : QStringLiteral("<"),
                                    ReportTable::valueText(e.limit)),
                           ack};
        if (withDevice)
            row.prepend(deviceCell(device) + QLatin1Char(' ') + device.channel[channel].name);
        rows.append(row);
    }
    return rows;
}

void ReportSections::excursions(ReportLayout &layout, const PeriodStatistics::Device &device,
                                int channel)
{
    const PeriodStatistics::Channel &c = device.channel[channel];
    if (!c.alarmOn())
        return;
    if (c.excursions.isEmpty()) {
        layout.text(QStringLiteral("Excursions: none"), 24, false, Qt::black, 30);
        return;
    }
    layout.text(QStringLiteral("Excursions: %1, total time outside %2, worst value %3")
                    .arg(c.excursions.size())
                    .arg(PeriodStatistics::durationText(c.total.secondsOutside),
                         ReportTable::valueText(c.worst)),
                24, true, ReportLayout::kWarning, 30);
    layout.table({{QStringLiteral("Start"), 380},
                  {QStringLiteral("End"), 420},
                  {QStringLiteral("Duration"), 200},
                  {QStringLiteral("Worst / limit"), 260},
                  {QStringLiteral("Acknowledged"), 540, ReportLayout::Column::Fit::Wrap}},
                 excursionRows(layout.report(), device, channel, false));
}

void ReportSections::gaps(ReportLayout &layout, const PeriodStatistics::Channel &channel)
{
    const PeriodStatistics &statistics = layout.report().statistics();
    if (channel.gaps.isEmpty()) {
        layout.text(QStringLiteral("Gaps longer than 2.5 intervals: none"), 24, false, Qt::black,
                    30);
        return;
    }
    layout.text(QStringLiteral("Gaps longer than 2.5 intervals: %1, unmonitored %2")
                    .arg(channel.gaps.size())
                    .arg(PeriodStatistics::durationText(channel.total.secondsUnmonitored)),
                24, false, Qt::black, 30);
    QVector<QStringList> rows;
    for (const PeriodStatistics::Gap &gap : channel.gaps)
        rows.append({statistics.timeText(gap.from), statistics.timeText(gap.to),
                     PeriodStatistics::durationText(gap.length())});
    layout.table({{QStringLiteral("From (last reading)"), 600},
                  {QStringLiteral("To (next reading)"), 600},
                  {QStringLiteral("Length"), 600}},
                 rows);
}

void ReportSections::days(ReportLayout &layout, const PeriodStatistics::Channel &channel)
{
    const PeriodStatistics &statistics = layout.report().statistics();
    QVector<QStringList> rows;
    QVector<bool> marks;
    for (int d = 0; d < statistics.dayCount(); ++d) {
        const PeriodStatistics::Figures &f = channel.days.at(d);
        const bool any = f.samples > 0;
        const auto value = [&](double v) { return any ? ReportTable::valueText(v) : kNoData; };
        rows.append({QLocale::c().toString(statistics.firstDay().addDays(d),
                                           QStringLiteral("ddd yyyy-MM-dd")),
                     value(f.minimum), value(f.maximum), value(f.mean()),
                     QStringLiteral("%1 %").arg(f.completeness(), 0, 'f', 1),
                     channel.alarmOn() ? QString::number(f.excursions) : QStringLiteral("-"),
                     channel.alarmOn() ? PeriodStatistics::durationText(f.secondsOutside)
                                       : QStringLiteral("-"),
                     PeriodStatistics::durationText(f.secondsUnmonitored)});
        marks.append(f.excursions > 0);
    }
    layout.table({{QStringLiteral("Day"), 330},
                  {QStringLiteral("Minimum"), 190},
                  {QStringLiteral("Maximum"), 190},
                  {QStringLiteral("Mean"), 190},
                  {QStringLiteral("Complete"), 190},
                  {QStringLiteral("Exc."), 130},
                  {QStringLiteral("Outside"), 280},
                  {QStringLiteral("Unmonitored"), 300}},
                 rows, [&marks](int r) { return marks.at(r); });
}

void ReportSections::daily(ReportLayout &layout)
{
    const PeriodStatistics &statistics = layout.report().statistics();
    introduction(layout, QStringLiteral("Daily Report"));
    definitions(layout);
    summary(layout);
    for (const PeriodStatistics::Device &device : statistics.devices()) {
        layout.need(layout.lineHeight(34) + layout.lineHeight(26) * 2 + kChartHeight);
        layout.text(QStringLiteral("%1  (%2)").arg(device.name, QString::fromUtf8(device.serial)),
                    34, true);
        layout.text(QStringLiteral("Rows on this day: %1, of them without readings: %2")
                        .arg(device.rows)
                        .arg(device.nullRows),
                    24);
        for (int c = 0; c < 2; ++c) {
            const PeriodStatistics::Channel &channel = device.channel[c];
            layout.need(layout.lineHeight(26) + kChartHeight + 20);
            layout.text(QStringLiteral("%1%2, %3")
                            .arg(channel.name,
                                 channel.unit.isEmpty() ? QString()
                                                        : QStringLiteral(" (%1)").arg(channel.unit),
                                 limitsText(channel).replace(QLatin1Char('\n'), QLatin1Char(' '))),
                        26, true);
            if (channel.total.samples > 0) {
                // Drawn at about 200 dots per inch on paper.
                layout.image(
                    [&]() { return ReportChart::channelImage(statistics, channel, 1400, 257); },
                    kChartHeight);
            } else {
                layout.text(QStringLiteral("No data on this day."), 24, false,
                            ReportLayout::kWarning, 30);
            }
            gaps(layout, channel);
            excursions(layout, device, c);
            layout.space(10);
        }
        layout.space(30);
    }
    layout.signature(QStringLiteral("Review"),
                     {QStringLiteral("Checked by"), QStringLiteral("Date")});
}

void ReportSections::period(ReportLayout &layout)
{
    const PeriodReport &report = layout.report();
    const PeriodStatistics &statistics = report.statistics();
    introduction(layout, report.kind() == PeriodReport::Kind::Weekly
                             ? QStringLiteral("Weekly Report")
                             : QStringLiteral("Monthly Report"));
    definitions(layout);
    summary(layout);
    for (const PeriodStatistics::Device &device : statistics.devices()) {
        for (int c = 0; c < 2; ++c) {
            const PeriodStatistics::Channel &channel = device.channel[c];
            layout.need(layout.lineHeight(34) + kChartHeight + 200);
            layout.text(QStringLiteral("%1 (%2): %3%4, %5")
                            .arg(device.name, QString::fromUtf8(device.serial), channel.name,
                                 channel.unit.isEmpty() ? QString()
                                                        : QStringLiteral(" (%1)").arg(channel.unit),
                                 limitsText(channel).replace(QLatin1Char('\n'), QLatin1Char(' '))),
                        30, true);
            if (channel.total.samples > 0)
                layout.image(
                    [&]() { return ReportChart::periodImage(statistics, channel, 1400, 257); },
                    kChartHeight);
            days(layout, channel);
            gaps(layout, channel);
            excursions(layout, device, c);
        }
    }
    layout.signature(QStringLiteral("Review"),
                     {QStringLiteral("Checked by"), QStringLiteral("Date")});
}
