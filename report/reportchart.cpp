#include "report/reportchart.h"

#include <algorithm>
#include <cmath>

#include "chart/charttime.h"
#include "chart/drawarea.h"
#include "chart/linelayer.h"
#include "chart/xychart.h"
#include "common/common.h"

namespace
{

constexpr int kLineColor = 0x1F5F9F;
constexpr int kLimitColor = 0xC02020;
constexpr int kShadeColor = int(0xA0F08080); // light red, partly transparent
constexpr int kGridColor = 0xDDDDDD;

} // namespace

QImage ReportChart::channelImage(const DayStatistics &statistics,
                                 const DayStatistics::Channel &channel, int width, int height)
{
    // Two points per column (lowest, then highest), a break where a column
    // holds no reading or a gap began.
    QVector<double> x;
    QVector<double> y;
    const int columns = channel.envelopeLow.size();
    x.reserve(columns * 3);
    y.reserve(columns * 3);
    for (int c = 0; c < columns; ++c) {
        const double t = chartTime2(statistics.columnTime(c));
        if (channel.envelopeLow.at(c) == NoValue) {
            if (!y.isEmpty() && y.last() != NoValue) {
                x.append(t);
                y.append(NoValue);
            }
            continue;
        }
        x.append(t);
        y.append(channel.envelopeLow.at(c));
        x.append(t);
        y.append(channel.envelopeHigh.at(c));
        if (channel.envelopeBreak.at(c)) {
            x.append(t);
            y.append(NoValue);
        }
    }

    double low = channel.samples > 0 ? channel.minimum : 0;
    double high = channel.samples > 0 ? channel.maximum : 1;
    if (channel.alarmOn()) {
        low = std::min(low, double(channel.low));
        high = std::max(high, double(channel.high));
    }
    const double pad = high > low ? (high - low) * 0.08 : std::max(1.0, std::fabs(high) * 0.1);
    low -= pad;
    high += pad;

    XYChart chart(width, height, 0xFFFFFF);
    const int left = 70;
    const int top = 8;
    chart.setPlotArea(left, top, width - left - 16, height - top - 30, 0xFFFFFF, -1, 0x808080,
                      kGridColor, kGridColor);
    chart.xAxis()->setDateScale(chartTime2(statistics.dayStart()), chartTime2(statistics.dayEnd()));
    chart.xAxis()->setLabelFormat(QStringLiteral("{value|hh:nn}"));
    chart.xAxis()->setLabelStyle(QStringLiteral("arial.ttf"), 9);
    chart.yAxis()->setLinearScale(low, high);
    chart.yAxis()->setLabelStyle(QStringLiteral("arial.ttf"), 9);
    LineLayer *layer = chart.addLineLayer();
    layer->setXData(x);
    layer->addDataSet(y, kLineColor, channel.name);
    layer->setLineWidth(1);
    chart.makeChart();

    DrawArea *area = chart.initDynamicLayer();
    const int plotTop = chart.getPlotArea()->getTopY();
    const int plotBottom = chart.getPlotArea()->getBottomY();
    for (const DayStatistics::Excursion &excursion : channel.excursions) {
        const int x1 = chart.getXCoor(chartTime2(excursion.start));
        const int x2 = std::max(x1 + 1, chart.getXCoor(chartTime2(excursion.end)));
        area->rect(x1, plotTop, x2, plotBottom, ChartColor::Transparent, kShadeColor);
    }
    if (channel.alarmOn()) {
        const int dashed = area->dashLineColor(kLimitColor, 0x0604);
        const int x1 = chart.getPlotArea()->getLeftX();
        const int x2 = chart.getPlotArea()->getRightX();
        area->hline(x1, x2, chart.getYCoor(channel.low), dashed);
        area->hline(x1, x2, chart.getYCoor(channel.high), dashed);
    }
    return chart.makeImage();
}
