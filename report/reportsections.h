#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include "report/periodstatistics.h"

class ReportLayout;
class PeriodReport;

// The content of the daily, weekly and monthly reports, laid out on pages
// by a ReportLayout: what was read and from where, the definitions the
// figures follow, the summary, per channel the chart and the days, and every
// gap and excursion.
class ReportSections
{
public:
    static void daily(ReportLayout &layout);
    static void period(ReportLayout &layout);

    // Shared by every kind of report.
    static void introduction(ReportLayout &layout, const QString &heading);
    static void definitions(ReportLayout &layout);
    // The lines of a table of excursions of one channel (with the recorder's
    // acknowledgement where there is one).
    static QVector<QStringList> excursionRows(const PeriodReport &report,
                                              const PeriodStatistics::Device &device, int channel,
                                              bool withDevice);
    static QString excursionEnd(const PeriodStatistics &statistics,
                                const PeriodStatistics::Excursion &excursion);
    static QString limitsText(const PeriodStatistics::Channel &channel);

private:
    static void summary(ReportLayout &layout);
    static void gaps(ReportLayout &layout, const PeriodStatistics::Channel &channel);
    static void excursions(ReportLayout &layout, const PeriodStatistics::Device &device,
                           int channel);
    static void days(ReportLayout &layout, const PeriodStatistics::Channel &channel);
};
