#include "report/haccpsections.h"

#include "common/alarmlimits.h"
#include "common/common.h"
#include "report/periodreport.h"
#include "report/reportlayout.h"
#include "report/reportsections.h"
#include "report/reporttable.h"

namespace
{

struct Point {
    const PeriodStatistics::Device *device;
    int channel;
};

QVector<Point> monitoredPoints(const PeriodStatistics &statistics)
{
    QVector<Point> points;
    for (const PeriodStatistics::Device &device : statistics.devices()) {
        for (int c = 0; c < 2; ++c) {
            if (device.channel[c].alarmOn())
                points.append({&device, c});
        }
    }
    return points;
}

bool hasAction(const RecordAlarmEvent *event)
{
    return event && !event->action.trimmed().isEmpty();
}

QString limitsOf(const RecordDeviceSettings &entry, int channel)
{
    const double low = channel == 0 ? entry.ch1Low : entry.ch2Low;
    const double high = channel == 0 ? entry.ch1High : entry.ch2High;
    return hasAlarmLimits(low, high)
               ? QStringLiteral("%1 to %2")
                     .arg(ReportTable::valueText(low), ReportTable::valueText(high))
               : QStringLiteral("none (not monitored)");
}

void limitHistory(ReportLayout &layout, const Point &point)
{
    const PeriodReport &report = layout.report();
    const PeriodStatistics &statistics = report.statistics();
    const QString serial = QString::fromUtf8(point.device->serial);
    QString previous;
    bool any = false;
    for (const RecordDeviceSettings &entry : report.settingsChanges()) {
        if (entry.serialNo != serial)
            continue;
        const QString limits = limitsOf(entry, point.channel);
        if (limits == previous)
            continue;
        const QString since =
            entry.validFrom <= statistics.periodStart()
                ? QStringLiteral("in force at the start")
                : QStringLiteral("from %1").arg(statistics.timeText(entry.validFrom));
        layout.text(QStringLiteral("Critical limits %1: %2").arg(since, limits), 24, false,
                    Qt::black, 30);
        previous = limits;
        any = true;
    }
    if (!any) {
        const PeriodStatistics::Channel &channel = point.device->channel[point.channel];
        layout.text(
            QStringLiteral("Critical limits: %1 to %2 (from the project file; the record "
                           "keeps no history of them)")
                .arg(ReportTable::valueText(channel.low), ReportTable::valueText(channel.high)),
            24, false, Qt::black, 30);
    }
}

} // namespace

int HaccpSections::findings(const PeriodReport &report)
{
    int count = 0;
    for (const Point &point : monitoredPoints(report.statistics())) {
        const PeriodStatistics::Channel &channel = point.device->channel[point.channel];
        count += channel.gaps.size();
        for (const PeriodStatistics::Excursion &e : channel.excursions)
            count += hasAction(report.eventFor(point.device->serial, point.channel + 1, e)) ? 0 : 1;
    }
    return count;
}

void HaccpSections::paint(ReportLayout &layout)
{
    const PeriodReport &report = layout.report();
    const PeriodStatistics &statistics = report.statistics();
    ReportSections::introduction(layout, QStringLiteral("HACCP Report"));
    const QVector<Point> points = monitoredPoints(statistics);
    layout.text(QStringLiteral("Monitored points: %1   Findings: %2")
                    .arg(points.size())
                    .arg(findings(report)),
                30, true);
    layout.text(QStringLiteral("Journal verification: %1").arg(report.journal().text()), 30, true,
                report.journal().state == RecordJournalVerdict::State::Intact
                    ? QColor(Qt::black)
                    : ReportLayout::kWarning);
    layout.space(20);
    ReportSections::definitions(layout);
    if (points.isEmpty())
        layout.text(QStringLiteral("No channel has alarm limits: there is no monitored point."), 28,
                    true, ReportLayout::kWarning);
    for (const Point &point : points) {
        const PeriodStatistics::Device &device = *point.device;
        const PeriodStatistics::Channel &channel = device.channel[point.channel];
        layout.need(600);
        layout.text(QStringLiteral("%1 (%2): %3%4")
                        .arg(device.name, QString::fromUtf8(device.serial), channel.name,
                             channel.unit.isEmpty() ? QString()
                                                    : QStringLiteral(" (%1)").arg(channel.unit)),
                    32, true);
        limitHistory(layout, point);
        layout.text(QStringLiteral("Monitoring frequency: every %1 s; readings %2 of %3 (%4 %)")
                        .arg(statistics.intervalSeconds())
                        .arg(channel.total.samples)
                        .arg(channel.total.expected)
                        .arg(channel.total.completeness(), 0, 'f', 1),
                    24, false, Qt::black, 30);
        QVector<QStringList> rows;
        QVector<bool> marks;
        for (const PeriodStatistics::Excursion &e : channel.excursions) {
            const RecordAlarmEvent *event = report.eventFor(device.serial, point.channel + 1, e);
            const auto who = [&](const QString &name, qint64 when) {
                return name.isEmpty()
                           ? QStringLiteral("-")
                           : QStringLiteral("%1\n%2").arg(name, statistics.timeText(when));
            };
            const bool action = hasAction(event);
            rows.append({statistics.timeText(e.start),
                         ReportSections::excursionEnd(statistics, e)
                             .replace(QStringLiteral("open, data missing"), QStringLiteral("open")),
                         PeriodStatistics::durationText(e.duration()),
                         ReportTable::valueText(e.worst),
                         action ? event->action.simplified()
                                : QStringLiteral("FINDING: no corrective action"),
                         event ? who(event->ackBy, event->ackAt) : QStringLiteral("-"),
                         event ? who(event->verifiedBy, event->verifiedAt) : QStringLiteral("-")});
            marks.append(!action);
        }
        if (rows.isEmpty()) {
            layout.text(QStringLiteral("Breaches: none"), 24, false, Qt::black, 30);
        } else {
            layout.text(QStringLiteral("Breaches: %1").arg(rows.size()), 24, true,
                        ReportLayout::kWarning, 30);
            constexpr auto wrap = ReportLayout::Column::Fit::Wrap;
            layout.table({{QStringLiteral("Start"), 330},
                          {QStringLiteral("End"), 330},
                          {QStringLiteral("Duration"), 150},
                          {QStringLiteral("Worst"), 110},
                          {QStringLiteral("Corrective action"), 400, wrap},
                          {QStringLiteral("Acknowledged"), 240, wrap},
                          {QStringLiteral("Verified"), 240, wrap}},
                         rows, [&marks](int r) { return marks.at(r); });
        }
        for (const PeriodStatistics::Gap &gap : channel.gaps)
            layout.text(QStringLiteral("FINDING: not monitored from %1 to %2 (%3)")
                            .arg(statistics.timeText(gap.from), statistics.timeText(gap.to),
                                 PeriodStatistics::durationText(gap.length())),
                        24, false, ReportLayout::kWarning, 30);
        layout.space(30);
    }
    layout.signature(QStringLiteral("Responsible person"),
                     {QStringLiteral("Name"), QStringLiteral("Signature"), QStringLiteral("Date")});
}
