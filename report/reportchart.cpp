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
constexpr int kBandColor = int(0xA09FC5E8); // light blue, partly transparent

} // namespace

QImage ReportChart::channelImage(const PeriodStatistics &statistics,
                                 const PeriodStatistics::Channel &channel, int width, int height)
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

    XYChart chart(width, height, 0xFFFFFF);
    setUp(chart, statistics, channel, QStringLiteral("{value|hh:nn}"));
    LineLayer *layer = chart.addLineLayer();
    layer->setXData(x);
    layer->addDataSet(y, kLineColor, channel.name);
    layer->setLineWidth(1);
    chart.makeChart();

    DrawArea *area = chart.initDynamicLayer();
    const int plotTop = chart.getPlotArea()->getTopY();
    const int plotBottom = chart.getPlotArea()->getBottomY();
    for (const PeriodStatistics::Excursion &excursion : channel.excursions) {
        const int x1 = chart.getXCoor(chartTime2(excursion.start));
        const int x2 = std::max(x1 + 1, chart.getXCoor(chartTime2(excursion.end)));
        area->rect(x1, plotTop, x2, plotBottom, ChartColor::Transparent, kShadeColor);
    }
    drawLimits(chart, area, channel);
    return chart.makeImage();
}

void ReportChart::setUp(XYChart &chart, const PeriodStatistics &statistics,
                        const PeriodStatistics::Channel &channel, const QString &labelFormat)
{
    const bool any = channel.total.samples > 0;
    double low = any ? channel.total.minimum : 0;
    double high = any ? channel.total.maximum : 1;
    if (channel.alarmOn()) {
        low = std::min(low, channel.low);
        high = std::max(high, channel.high);
    }
    const double pad = high > low ? (high - low) * 0.08 : std::max(1.0, std::fabs(high) * 0.1);
    low -= pad;
    high += pad;
    const int left = 70;
    const int top = 8;
    chart.setPlotArea(left, top, chart.getWidth() - left - 16, chart.getHeight() - top - 30,
                      0xFFFFFF, -1, 0x808080, kGridColor, kGridColor);
    chart.xAxis()->setDateScale(chartTime2(statistics.periodStart()),
                                chartTime2(statistics.periodEnd()));
    chart.xAxis()->setLabelFormat(labelFormat);
    chart.xAxis()->setLabelStyle(QStringLiteral("arial.ttf"), 9);
    chart.yAxis()->setLinearScale(low, high);
    chart.yAxis()->setLabelStyle(QStringLiteral("arial.ttf"), 9);
}

void ReportChart::drawLimits(XYChart &chart, DrawArea *area,
                             const PeriodStatistics::Channel &channel)
{
    if (!channel.alarmOn())
        return;
    const int dashed = area->dashLineColor(kLimitColor, 0x0604);
    const int x1 = chart.getPlotArea()->getLeftX();
    const int x2 = chart.getPlotArea()->getRightX();
    area->hline(x1, x2, chart.getYCoor(channel.low), dashed);
    area->hline(x1, x2, chart.getYCoor(channel.high), dashed);
}

QImage ReportChart::periodImage(const PeriodStatistics &statistics,
                                const PeriodStatistics::Channel &channel, int width, int height)
{
    // The mean of each day at its middle, a break on a day without readings.
    QVector<double> x;
    QVector<double> y;
    for (int d = 0; d < statistics.dayCount(); ++d) {
        const PeriodStatistics::Figures &day = channel.days.at(d);
        x.append(chartTime2((statistics.dayStart(d) + statistics.dayEnd(d)) / 2));
        y.append(day.samples > 0 ? day.mean() : NoValue);
    }
    XYChart chart(width, height, 0xFFFFFF);
    setUp(chart, statistics, channel, QStringLiteral("{value|mm-dd}"));
    LineLayer *layer = chart.addLineLayer();
    layer->setXData(x);
    layer->addDataSet(y, kLineColor, channel.name);
    layer->setLineWidth(2);
    chart.makeChart();

    // The band from each day's lowest to its highest reading.
    DrawArea *area = chart.initDynamicLayer();
    for (int d = 0; d < statistics.dayCount(); ++d) {
        const PeriodStatistics::Figures &day = channel.days.at(d);
        if (day.samples == 0)
            continue;
        const int x1 = chart.getXCoor(chartTime2(statistics.dayStart(d)));
        const int x2 = chart.getXCoor(chartTime2(statistics.dayEnd(d)));
        const int top = chart.getYCoor(day.maximum);
        const int bottom = chart.getYCoor(day.minimum);
        area->rect(x1 + 1, top, std::max(x1 + 2, x2 - 1), std::max(top + 1, bottom),
                   ChartColor::Transparent, kBandColor);
    }
    drawLimits(chart, area, channel);
    return chart.makeImage();
}
