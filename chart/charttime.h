#pragma once

#include <QDateTime>
#include <QtGlobal>

// Date values of the charts.
//
// A chart date value is a double counting seconds since 1970-01-01 00:00 UTC
// (plain Unix time; fractions are milliseconds). Sample histories store these
// values and the chart code turns them back into local date and time for its
// axis labels and cursor texts with chartTimeToDateTime(). Keeping Unix time
// makes a history entry directly comparable with a database pointDate.
//
// For the chart code: use chartTimeToDateTime(value).toString("hh:mm:ss") and
// the like to format; NoValue (1.7e308) in a time array means an empty slot
// and gives an invalid QDateTime here.

// Unix seconds in, chart date value out.
double chartTime2(qint64 unixSeconds);

// Chart date value in, local date and time out (millisecond precision).
// Invalid for NoValue, NaN or values outside the range QDateTime can hold.
QDateTime chartTimeToDateTime(double chartTime);
