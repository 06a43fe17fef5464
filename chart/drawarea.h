#pragma once

#include "chart/charttext.h"

#include <QImage>
#include <QVector>

#include <memory>

class QPainter;
class QPen;

// The picture of a chart: the finished chart plus an optional dynamic layer
// drawn over it (track cursors and the like) that can be redrawn without
// building the chart again.
//
// A chart is made once per sample and usually gets one dynamic layer, so the
// first layer is drawn straight into the finished chart's picture: one image
// per chart, nothing copied. The finished chart is then no longer kept
// (hasBase() is false) and its owner gives it again (setBaseImage) before a
// further layer; from then on every layer starts from a copy of it.
class DrawArea
{
public:
    DrawArea(int width, int height);
    explicit DrawArea(const QImage &base);

    int getWidth() const { return m_image.width(); }
    int getHeight() const { return m_image.height(); }

    // Starts a fresh dynamic layer: the picture goes back to the finished
    // chart and later drawing goes over it. Needs hasBase() but for the first.
    void initDynamicLayer();
    // Back to the finished chart; needs hasBase().
    void removeDynamicLayer();
    bool hasDynamicLayer() const { return m_dynamic; }
    // Whether the finished chart is still kept apart from the dynamic layer.
    bool hasBase() const { return !m_base.isNull(); }

    // A colour code for dashed lines: pattern bytes from the highest give
    // alternately the lengths in pixels of dashes and gaps (0x0505: 5 on,
    // 5 off; 0x0101: every other pixel).
    int dashLineColor(int color, int pattern = 0x0505);

    void vline(int y1, int y2, int x, int color);
    void hline(int x1, int x2, int y, int color);
    void line(double x1, double y1, double x2, double y2, int color, int width = 1);
    void circle(int cx, int cy, int rx, int ry, int edgeColor, int fillColor);
    void rect(int x1, int y1, int x2, int y2, int edgeColor, int fillColor);
    ChartText text(const QString &markup, const QString &fontFile, double size);

    // What is shown: the finished chart with the dynamic layer, if any.
    const QImage &image() const;

    // Used by the chart while it draws itself: the picture drawn so far
    // becomes the finished chart, without a dynamic layer.
    void setBaseImage(const QImage &image);
    // One painter serves all drawing until the picture is asked for.
    QPainter *painter();
    QPen penFor(int color, qreal width = 1) const;
    ~DrawArea();
    DrawArea(const DrawArea &) = delete;
    DrawArea &operator=(const DrawArea &) = delete;

private:
    void endPaint() const;

    QImage m_base;
    mutable QImage m_image;
    mutable std::unique_ptr<QPainter> m_painter;
    QVector<QPair<int, int>> m_dashes; // colour, pattern
    bool m_dynamic = false;
    int m_layers = 0; // dynamic layers started
};
