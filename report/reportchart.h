#pragma once

#include <QImage>

#include "report/periodstatistics.h"

class DrawArea;
class XYChart;

// The chart of one channel over a daily report's day, drawn with the program's
// own chart engine: the readings as an envelope (smallest and largest per
// column, so that no spike is lost), the alarm limits as dashed lines and the
// excursions shaded.
class ReportChart
{
public:
    static QImage channelImage(const PeriodStatistics &statistics,
                               const PeriodStatistics::Channel &channel, int width, int height);
    // The chart of one channel over a period of days: each day's band from
    // its lowest to its highest reading, the daily mean as a line and the
    // alarm limits as dashed lines.
    static QImage periodImage(const PeriodStatistics &statistics,
                              const PeriodStatistics::Channel &channel, int width, int height);

private:
    static void setUp(XYChart &chart, const PeriodStatistics &statistics,
                      const PeriodStatistics::Channel &channel, const QString &labelFormat);
    static void drawLimits(XYChart &chart, DrawArea *area,
                           const PeriodStatistics::Channel &channel);
};
