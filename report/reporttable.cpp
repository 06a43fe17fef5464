#include "report/reporttable.h"

#include <QDateTime>
#include <QSaveFile>

#include "report/daystatistics.h"

QStringList ReportTable::header()
{
    return {QStringLiteral("Device"),         QStringLiteral("Device number"),
            QStringLiteral("Channel"),        QStringLiteral("Unit"),
            QStringLiteral("Minimum"),        QStringLiteral("Minimum time"),
            QStringLiteral("Maximum"),        QStringLiteral("Maximum time"),
            QStringLiteral("Mean"),           QStringLiteral("Samples"),
            QStringLiteral("Expected"),       QStringLiteral("Completeness %"),
            QStringLiteral("Gaps"),           QStringLiteral("Low limit"),
            QStringLiteral("High limit"),     QStringLiteral("Excursions"),
            QStringLiteral("Time outside s"), QStringLiteral("Worst value")};
}

QString ReportTable::valueText(double value)
{
    return QString::number(value, 'f', 2);
}

QVector<QStringList> ReportTable::rows(const DayStatistics &statistics)
{
    QVector<QStringList> result;
    const auto stamp = [&](qint64 t) {
        return QDateTime::fromSecsSinceEpoch(t, statistics.zone())
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    for (const DayStatistics::Device &device : statistics.devices()) {
        for (const DayStatistics::Channel &channel : device.channel) {
            const bool any = channel.samples > 0;
            const bool alarm = channel.alarmOn();
            result.append(
                {device.name, QString::fromUtf8(device.serial), channel.name, channel.unit,
                 any ? valueText(channel.minimum) : QString(),
                 any ? stamp(channel.minimumTime) : QString(),
                 any ? valueText(channel.maximum) : QString(),
                 any ? stamp(channel.maximumTime) : QString(),
                 any ? valueText(channel.mean()) : QString(), QString::number(channel.samples),
                 QString::number(statistics.expectedSamples()),
                 QString::number(statistics.completeness(channel), 'f', 1),
                 QString::number(channel.gaps.size()), alarm ? valueText(channel.low) : QString(),
                 alarm ? valueText(channel.high) : QString(),
                 alarm ? QString::number(channel.excursions.size()) : QString(),
                 alarm ? QString::number(channel.secondsOutside) : QString(),
                 alarm && !channel.excursions.isEmpty() ? valueText(channel.worst) : QString()});
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

bool ReportTable::writeCsv(const DayStatistics &statistics, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    const auto line = [&](const QStringList &fields) {
        QStringList quoted;
        for (const QString &field : fields)
            quoted.append(csvField(field));
        file.write(quoted.join(QLatin1Char(',')).toUtf8() + "\r\n");
    };
    line(header());
    for (const QStringList &row : rows(statistics))
        line(row);
    if (!file.commit()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
