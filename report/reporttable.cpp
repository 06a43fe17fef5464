#include "report/reporttable.h"

#include <QDateTime>
#include <QFileInfo>

#include "report/periodreport.h"
#include "report/periodstatistics.h"

namespace
{

const QString kNoData = QStringLiteral("no data");

QString excursionState(const PeriodStatistics::Excursion &e)
{
    if (e.dataMissing)
        return QStringLiteral("open, data missing");
    if (e.intoAfter)
        return QStringLiteral("continues after the period");
    return QStringLiteral("closed");
}

} // namespace

QString ReportTable::valueText(double value)
{
    return QString::number(value, 'f', 2);
}

QString ReportTable::stampText(const PeriodStatistics &statistics, qint64 time)
{
    return QDateTime::fromSecsSinceEpoch(time, statistics.zone()).toString(Qt::ISODate);
}

QString ReportTable::textCell(const QString &text)
{
    static const QString risky = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && risky.contains(text.at(0)))
        return QLatin1Char('\'') + text;
    return text;
}

QStringList ReportTable::summaryHeader()
{
    return {QStringLiteral("Device"),          QStringLiteral("Device number"),
            QStringLiteral("Channel"),         QStringLiteral("Unit"),
            QStringLiteral("Status"),          QStringLiteral("Minimum"),
            QStringLiteral("Minimum time"),    QStringLiteral("Maximum"),
            QStringLiteral("Maximum time"),    QStringLiteral("Mean"),
            QStringLiteral("Samples"),         QStringLiteral("Expected"),
            QStringLiteral("Completeness %"),  QStringLiteral("Gaps"),
            QStringLiteral("Unmonitored s"),   QStringLiteral("Low limit"),
            QStringLiteral("High limit"),      QStringLiteral("Excursions"),
            QStringLiteral("Open excursions"), QStringLiteral("Time outside s"),
            QStringLiteral("Worst value"),     QStringLiteral("Mean kinetic temperature")};
}

ReportTable::Rows ReportTable::summaryRows(const PeriodReport &report)
{
    const PeriodStatistics &statistics = report.statistics();
    Rows result;
    for (const PeriodStatistics::Device &device : statistics.devices()) {
        for (const PeriodStatistics::Channel &channel : device.channel) {
            const PeriodStatistics::Figures &f = channel.total;
            const bool any = f.samples > 0;
            const bool alarm = channel.alarmOn();
            const auto value = [&](const QString &text) { return any ? text : kNoData; };
            int open = 0;
            for (const PeriodStatistics::Excursion &e : channel.excursions)
                open += e.dataMissing ? 1 : 0;
            double mkt = 0;
            const bool hasMkt = statistics.meanKineticTemperature(channel, &mkt);
            result.append(
                {textCell(device.name),
                 textCell(QString::fromUtf8(device.serial)),
                 textCell(channel.name),
                 textCell(channel.unit),
                 any ? QStringLiteral("ok") : kNoData,
                 value(valueText(f.minimum)),
                 value(stampText(statistics, f.minimumTime)),
                 value(valueText(f.maximum)),
                 value(stampText(statistics, f.maximumTime)),
                 value(valueText(f.mean())),
                 QString::number(f.samples),
                 QString::number(f.expected),
                 QString::number(f.completeness(), 'f', 1),
                 QString::number(channel.gaps.size()),
                 QString::number(f.secondsUnmonitored),
                 alarm ? valueText(channel.low) : QString(),
                 alarm ? valueText(channel.high) : QString(),
                 alarm ? value(QString::number(f.excursions)) : QString(),
                 alarm ? value(QString::number(open)) : QString(),
                 alarm ? value(QString::number(f.secondsOutside)) : QString(),
                 alarm && !channel.excursions.isEmpty() ? valueText(channel.worst) : QString(),
                 hasMkt ? valueText(mkt) : QString()});
        }
    }
    return result;
}

QStringList ReportTable::excursionHeader()
{
    return {QStringLiteral("Device"),          QStringLiteral("Device number"),
            QStringLiteral("Channel"),         QStringLiteral("Unit"),
            QStringLiteral("Limit crossed"),   QStringLiteral("Limit"),
            QStringLiteral("Start"),           QStringLiteral("End"),
            QStringLiteral("State"),           QStringLiteral("Duration s"),
            QStringLiteral("Worst value"),     QStringLiteral("Acknowledged by"),
            QStringLiteral("Acknowledged at"), QStringLiteral("Corrective action"),
            QStringLiteral("Verified by"),     QStringLiteral("Verified at")};
}

ReportTable::Rows ReportTable::excursionRows(const PeriodReport &report)
{
    const PeriodStatistics &statistics = report.statistics();
    Rows result;
    for (const PeriodStatistics::Device &device : statistics.devices()) {
        for (int c = 0; c < 2; ++c) {
            const PeriodStatistics::Channel &channel = device.channel[c];
            for (const PeriodStatistics::Excursion &e : channel.excursions) {
                const RecordAlarmEvent *event = report.eventFor(device.serial, c + 1, e);
                const auto stamp = [&](qint64 t) {
                    return t > 0 ? stampText(statistics, t) : QString();
                };
                result.append({textCell(device.name), textCell(QString::fromUtf8(device.serial)),
                               textCell(channel.name), textCell(channel.unit),
                               e.high ? QStringLiteral("high") : QStringLiteral("low"),
                               valueText(e.limit), stampText(statistics, e.start),
                               stampText(statistics, e.end), excursionState(e),
                               QString::number(e.duration()), valueText(e.worst),
                               event ? textCell(event->ackBy) : QString(),
                               event ? stamp(event->ackAt) : QString(),
                               event ? textCell(event->action) : QString(),
                               event ? textCell(event->verifiedBy) : QString(),
                               event ? stamp(event->verifiedAt) : QString()});
            }
        }
    }
    return result;
}

QStringList ReportTable::dayHeader()
{
    return {QStringLiteral("Day"),           QStringLiteral("Device"),
            QStringLiteral("Device number"), QStringLiteral("Channel"),
            QStringLiteral("Minimum"),       QStringLiteral("Maximum"),
            QStringLiteral("Mean"),          QStringLiteral("Completeness %"),
            QStringLiteral("Excursions"),    QStringLiteral("Time outside s"),
            QStringLiteral("Unmonitored s")};
}

ReportTable::Rows ReportTable::dayRows(const PeriodReport &report)
{
    const PeriodStatistics &statistics = report.statistics();
    Rows result;
    for (int d = 0; d < statistics.dayCount(); ++d) {
        const QString day = statistics.firstDay().addDays(d).toString(Qt::ISODate);
        for (const PeriodStatistics::Device &device : statistics.devices()) {
            for (const PeriodStatistics::Channel &channel : device.channel) {
                const PeriodStatistics::Figures &f = channel.days.at(d);
                const bool any = f.samples > 0;
                const auto value = [&](const QString &text) { return any ? text : kNoData; };
                result.append({day, textCell(device.name),
                               textCell(QString::fromUtf8(device.serial)), textCell(channel.name),
                               value(valueText(f.minimum)), value(valueText(f.maximum)),
                               value(valueText(f.mean())),
                               QString::number(f.completeness(), 'f', 1),
                               channel.alarmOn() ? QString::number(f.excursions) : QString(),
                               channel.alarmOn() ? QString::number(f.secondsOutside) : QString(),
                               QString::number(f.secondsUnmonitored)});
            }
        }
    }
    return result;
}

QString ReportTable::csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QByteArray ReportTable::csv(const QStringList &header, const Rows &rows)
{
    QByteArray data;
    const auto line = [&](const QStringList &fields) {
        QStringList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field));
        data += quoted.join(QLatin1Char(',')).toUtf8() + "\r\n";
    };
    line(header);
    for (const QStringList &row : rows)
        line(row);
    return data;
}

QString ReportTable::besidePath(const QString &summaryPath, const QString &what)
{
    const QFileInfo info(summaryPath);
    const QString suffix = info.suffix().isEmpty() ? QStringLiteral("csv") : info.suffix();
    const QString base = info.suffix().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.path() + QLatin1Char('/') + base + QLatin1Char('-') + what + QLatin1Char('.') +
           suffix;
}
