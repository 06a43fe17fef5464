#pragma once

#include "chart/chartaxis.h"
#include "chart/chartcolor.h"
#include "chart/plotarea.h"
#include "chart/viewportmanager.h"

#include <QImage>
#include <QString>

#include <memory>
#include <vector>

class DrawArea;
class LineLayer;

// An XY chart: background, one plot area with grid, an x and a y axis, line
// layers, and a picture with an optional dynamic layer on top.
//
// Build it (plot area, axes, layers), then ask it questions or draw on its
// dynamic layer: the first coordinate query lays the chart out, the first
// picture renders it; changes made after that are not seen. Objects the chart
// hands out (axes, layers, data sets, plot area, draw area) die with it.
class XYChart
{
public:
    XYChart(int width, int height, int bgColor = 0xFFFFFF, int edgeColor = ChartColor::Transparent,
            int raisedEffect = 0);
    ~XYChart();
    XYChart(const XYChart &) = delete;
    XYChart &operator=(const XYChart &) = delete;

    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }

    // A colour code for a linear gradient from (x1, y1) in c1 to (x2, y2) in c2.
    int linearGradientColor(int x1, int y1, int x2, int y2, int c1, int c2, bool periodic = false);

    PlotArea *setPlotArea(int x, int y, int width, int height,
                          int bgColor = ChartColor::Transparent, int altBgColor = -1,
                          int edgeColor = -1, int hGridColor = 0xC0C0C0,
                          int vGridColor = ChartColor::Transparent);
    PlotArea *getPlotArea() { return &m_plotArea; }
    // Layers are clipped to the plot area grown by the margin.
    void setClipping(int margin = 0);

    ChartAxis *xAxis() { return &m_xAxis; }
    ChartAxis *yAxis() { return &m_yAxis; }
    // Another vertical axis with its own scale (left of the plot area unless
    // placed otherwise); layers use it through LineLayer::setUseYAxis.
    ChartAxis *addYAxis();
    int yAxisCount() const { return 1 + int(m_extraYAxes.size()); }

    LineLayer *addLineLayer(int dataCombineMethod = 0, int depth = 0);
    // A band across the plot's height from x value `from` to `to`, drawn in
    // `color` (with alpha) over the grid and under the layers.
    void addXZone(double from, double to, int color);
    int getLayerCount() const { return int(m_layers.size()); }
    LineLayer *getLayerByZ(int z) const;

    // "{value|2.}" and the like; dates with "{value|hh:nn:ss}".
    QString formatValue(double value, const QString &format) const;

    // Coordinate queries (they lay the chart out).
    // The x data value nearest to a pixel x; the x value at that pixel when
    // there are no data.
    double getNearestXValue(double xCoor);
    int getXCoor(double value);
    // Pixel y of a value on the given y axis (the chart's y axis by default).
    int getYCoor(double value, const ChartAxis *yAxis = nullptr);

    // Renders the chart once; the draw area then holds the picture.
    DrawArea *makeChart();
    // A fresh dynamic layer over the finished chart.
    DrawArea *initDynamicLayer();
    void removeDynamicLayer();
    // The picture with the dynamic layer.
    QImage makeImage();
    ChartMetrics getChartMetrics();
    // A counted reference to the picture that outlives the chart.
    std::shared_ptr<DrawArea> drawAreaRef();

    void layout();

private:
    void render();
    QImage renderBase();
    QImage background() const;
    void drawAxes(QPainter &painter);
    void drawYAxis(QPainter &painter, const ChartAxis &axis);
    void layoutYAxis(ChartAxis &axis);
    struct Gradient {
        int x1, y1, x2, y2, c1, c2;
        bool periodic;
    };
    QBrush brushFor(int code) const;

    int m_width;
    int m_height;
    int m_bgColor;
    int m_edgeColor;
    PlotArea m_plotArea;
    int m_clipMargin = -1;
    ChartAxis m_xAxis;
    ChartAxis m_yAxis;
    std::vector<std::unique_ptr<ChartAxis>> m_extraYAxes;
    std::vector<std::unique_ptr<LineLayer>> m_layers;
    struct XZone {
        double from;
        double to;
        int color;
    };
    std::vector<XZone> m_xZones;
    std::vector<Gradient> m_gradients;
    std::shared_ptr<DrawArea> m_drawArea;
    bool m_laidOut = false;
    bool m_rendered = false;
};
