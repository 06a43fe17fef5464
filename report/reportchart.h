#pragma once

#include <QImage>

#include "report/daystatistics.h"

// The chart of one channel over the report's day, drawn with the program's
// own chart engine: the readings as an envelope (smallest and largest per
// column, so that no spike is lost), the alarm limits as dashed lines and the
// excursions shaded.
class ReportChart
{
public:
    static QImage channelImage(const DayStatistics &statistics,
                               const DayStatistics::Channel &channel, int width, int height);
};
