#pragma once

#include <QRect>

// Size and plot area of a rendered chart, as a view needs them.
struct ChartMetrics {
    int width = 0;
    int height = 0;
    QRect plotArea; // empty: no plot area
};

// The visible part of a chart's full data range (the view port, as fractions
// 0..1 of the full range, y counted from the top) and the plot-area geometry
// in widget pixels, with the drag and zoom arithmetic of a chart widget.
// Axes codes: 0 horizontal only, 1 vertical only, 2 both.
class ViewPortManager
{
public:
    ViewPortManager() = default;
    virtual ~ViewPortManager() = default;

    void setChartMetrics(const ChartMetrics &metrics);
    ChartMetrics chartMetrics() const { return m_metrics; }

    // Keeps the view port inside the full range and its size within the limits.
    void validateViewPort();
    // Hook for charts whose axes follow the view port; nothing is pending here.
    void commitPendingSyncAxis() {}

    bool inPlotArea(int x, int y) const;
    // The plot area with a few pixels around it.
    bool inExtendedPlotArea(int x, int y) const;
    int getPlotAreaLeft() const { return m_metrics.plotArea.left(); }
    int getPlotAreaTop() const { return m_metrics.plotArea.top(); }
    int getPlotAreaWidth() const { return m_metrics.plotArea.width(); }
    int getPlotAreaHeight() const { return m_metrics.plotArea.height(); }

    void startDrag();
    // Moves the view port by a drag of (dx, dy) pixels since the drag started.
    bool dragTo(int axes, int dx, int dy);
    bool canZoomIn(int axes) const;
    bool canZoomOut(int axes) const;
    // Zooms by the factor (2.0 doubles the magnification) keeping the value
    // under (x, y) in place.
    bool zoomAt(int axes, int x, int y, double factor);
    // Zooms so that the rectangle between the two points fills the plot area.
    bool zoomTo(int axes, int x1, int y1, int x2, int y2);

    double getViewPortLeft() const { return m_left; }
    double getViewPortTop() const { return m_top; }
    double getViewPortWidth() const { return m_width; }
    double getViewPortHeight() const { return m_height; }
    void setViewPort(double left, double top, double width, double height);
    // Smallest view-port size (1.0 forbids zooming in).
    void setZoomInLimit(double widthLimit, double heightLimit);

private:
    bool zoomAxis(double &start, double &size, double limit, double fraction, double factor);

    ChartMetrics m_metrics;
    double m_left = 0;
    double m_top = 0;
    double m_width = 1;
    double m_height = 1;
    double m_dragLeft = 0;
    double m_dragTop = 0;
    double m_minWidth = 0.01;
    double m_minHeight = 0.01;
};
