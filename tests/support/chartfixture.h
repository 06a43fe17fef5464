#pragma once

#include <QString>
#include <QVector>

class XYChart;

// Builds charts the way the device chart view does, for tests and benchmarks
// of the chart engine: a (width x height) chart of 240 samples on a date
// axis, and the track cursor over it.
namespace ChartFixture
{

constexpr int kSlots = 240;

// A history of 240 slots ending at endTime (chart date value), one sample
// per interval; every value NoValue where skip(i) would be true is left out.
QVector<double> times(double endTime, int intervalMs);
QVector<double> sineValues(double base, double amplitude);

XYChart *buildChart(int labelWidth, int labelHeight, const QVector<double> &times,
                    const QVector<double> &values, int color, const char *name, int intervalMs);
// Returns the legend text it drew (with markup).
QString drawTrackCursor(XYChart *chart, int mouseX, int intervalMs);

} // namespace ChartFixture
