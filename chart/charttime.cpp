#include "chart/charttime.h"

#include <cmath>

double chartTime2(qint64 unixSeconds)
{
    return double(unixSeconds);
}

QDateTime chartTimeToDateTime(double chartTime)
{
    // About 292 million years either way fits in qint64 milliseconds; keep well inside.
    constexpr double kLimit = 1e14;
    if (!std::isfinite(chartTime) || chartTime > kLimit || chartTime < -kLimit)
        return QDateTime();
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(chartTime * 1000.0)), Qt::LocalTime);
}
