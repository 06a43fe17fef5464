#include "chart/xychart.h"

#include "chart/chartdataset.h"
#include "chart/charttext.h"
#include "chart/drawarea.h"
#include "chart/linelayer.h"
#include "common/common.h"

#include <QHash>
#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

#include <climits>
#include <cmath>

namespace
{
constexpr int kMajorTick = 4;
constexpr int kMinorTick = 2;
constexpr int kLabelGap = 2;
constexpr int kMaxCachedBackgrounds = 8;

int toPixelInt(double v)
{
    return int(std::lround(qBound(-1e9, v, 1e9)));
}
} // namespace

XYChart::XYChart(int width, int height, int bgColor, int edgeColor, int raisedEffect)
    : m_width(qMax(1, width)), m_height(qMax(1, height)), m_bgColor(bgColor),
      m_edgeColor(edgeColor), m_plotArea(0, 0, 0, 0, ChartColor::Transparent, -1, -1,
                                         ChartColor::Transparent, ChartColor::Transparent),
      m_xAxis(ChartAxis::Horizontal), m_yAxis(ChartAxis::Vertical)
{
    Q_UNUSED(raisedEffect) // flat charts only
}

XYChart::~XYChart() = default;

int XYChart::linearGradientColor(int x1, int y1, int x2, int y2, int c1, int c2, bool periodic)
{
    m_gradients.push_back(Gradient{x1, y1, x2, y2, c1, c2, periodic});
    return ChartColor::kGradientTag | int(m_gradients.size() - 1);
}

PlotArea *XYChart::setPlotArea(int x, int y, int width, int height, int bgColor, int altBgColor,
                               int edgeColor, int hGridColor, int vGridColor)
{
    m_plotArea =
        PlotArea(x, y, width, height, bgColor, altBgColor, edgeColor, hGridColor, vGridColor);
    return &m_plotArea;
}

void XYChart::setClipping(int margin)
{
    m_clipMargin = qMax(0, margin);
}

LineLayer *XYChart::addLineLayer(int dataCombineMethod, int depth)
{
    Q_UNUSED(dataCombineMethod) // data sets are drawn side by side
    Q_UNUSED(depth)             // no 3D effect
    m_layers.push_back(std::make_unique<LineLayer>(&m_yAxis));
    return m_layers.back().get();
}

ChartAxis *XYChart::addYAxis()
{
    m_extraYAxes.push_back(std::make_unique<ChartAxis>(ChartAxis::Vertical));
    return m_extraYAxes.back().get();
}

LineLayer *XYChart::getLayerByZ(int z) const
{
    return z >= 0 && z < int(m_layers.size()) ? m_layers[size_t(z)].get() : nullptr;
}

QString XYChart::formatValue(double value, const QString &format) const
{
    return ChartAxis::formatValue(value, format, false);
}

void XYChart::layout()
{
    if (m_laidOut)
        return;
    m_laidOut = true;
    const PlotArea &pa = m_plotArea;
    double xlo = 0, xhi = 0;
    bool anyX = false;
    for (const auto &layer : m_layers) {
        double lo, hi;
        if (layer->xRange(lo, hi)) {
            xlo = anyX ? qMin(xlo, lo) : lo;
            xhi = anyX ? qMax(xhi, hi) : hi;
            anyX = true;
        }
    }
    m_xAxis.layout(pa.getLeftX(), pa.getLeftX() + qMax(0, pa.getWidth() - 1), anyX, xlo, xhi);
    layoutYAxis(m_yAxis);
    for (const auto &axis : m_extraYAxes)
        layoutYAxis(*axis);
}

void XYChart::layoutYAxis(ChartAxis &axis)
{
    const PlotArea &pa = m_plotArea;
    double ylo = 0, yhi = 0;
    bool anyY = false;
    for (const auto &layer : m_layers) {
        double lo, hi;
        if (layer->yRange(&axis, lo, hi)) {
            ylo = anyY ? qMin(ylo, lo) : lo;
            yhi = anyY ? qMax(yhi, hi) : hi;
            anyY = true;
        }
    }
    axis.layout(pa.getTopY() + qMax(0, pa.getHeight() - 1), pa.getTopY(), anyY, ylo, yhi);
}

double XYChart::getNearestXValue(double xCoor)
{
    layout();
    const double target = m_xAxis.fromPixel(xCoor);
    double best = NoValue;
    double bestDistance = 0;
    for (const auto &layer : m_layers) {
        const int n = layer->pointCount();
        for (int i = 0; i < n; ++i) {
            const double x = layer->xValue(i);
            if (x == NoValue || !std::isfinite(x))
                continue;
            const double d = std::fabs(x - target);
            if (best == NoValue || d < bestDistance) {
                best = x;
                bestDistance = d;
            }
        }
    }
    return best == NoValue ? target : best;
}

int XYChart::getXCoor(double value)
{
    layout();
    return toPixelInt(m_xAxis.toPixel(value));
}

int XYChart::getYCoor(double value, const ChartAxis *yAxis)
{
    layout();
    if (value == NoValue || !std::isfinite(value))
        return -0x7FFFFFF;
    return toPixelInt((yAxis ? yAxis : &m_yAxis)->toPixel(value));
}

QBrush XYChart::brushFor(int code) const
{
    if (ChartColor::isGradient(code)) {
        const size_t index = size_t(code & 0xFFFF);
        if (index >= m_gradients.size())
            return QBrush(Qt::transparent);
        const Gradient &g = m_gradients[index];
        QLinearGradient lg(g.x1, g.y1, g.x2, g.y2);
        lg.setColorAt(0, ChartColor::toQColor(g.c1));
        lg.setColorAt(1, ChartColor::toQColor(g.c2));
        lg.setSpread(g.periodic ? QGradient::RepeatSpread : QGradient::PadSpread);
        return QBrush(lg);
    }
    return QBrush(ChartColor::toQColor(code));
}

// The chart background and the plot-area fill depend only on sizes and
// colours, which stay the same from one chart to the next: they are drawn
// once and copied afterwards.
QImage XYChart::background() const
{
    static QHash<QString, QImage> cache;
    auto describe = [this](int code) {
        if (!ChartColor::isGradient(code))
            return QString::number(code, 16);
        const size_t index = size_t(code & 0xFFFF);
        if (index >= m_gradients.size())
            return QStringLiteral("none");
        const Gradient &g = m_gradients[index];
        return QStringLiteral("g%1,%2,%3,%4,%5,%6,%7")
            .arg(g.x1)
            .arg(g.y1)
            .arg(g.x2)
            .arg(g.y2)
            .arg(g.c1)
            .arg(g.c2)
            .arg(g.periodic);
    };
    const QString key = QStringLiteral("%1x%2 %3 %4 %5,%6,%7,%8 %9")
                            .arg(m_width)
                            .arg(m_height)
                            .arg(describe(m_bgColor))
                            .arg(m_edgeColor)
                            .arg(m_plotArea.getLeftX())
                            .arg(m_plotArea.getTopY())
                            .arg(m_plotArea.getWidth())
                            .arg(m_plotArea.getHeight())
                            .arg(describe(m_plotArea.bgColor()));
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;

    // An opaque chart needs no alpha channel, which makes the hand-over to a
    // pixmap a plain copy.
    const bool opaque =
        !ChartColor::isGradient(m_bgColor) && ChartColor::toQColor(m_bgColor).alpha() == 255;
    QImage image(m_width, m_height,
                 opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(image.rect(), brushFor(m_bgColor));
    if (!ChartColor::isTransparent(m_edgeColor)) {
        p.setPen(ChartColor::toQColor(m_edgeColor));
        p.drawRect(image.rect().adjusted(0, 0, -1, -1));
    }
    const QRect plot = m_plotArea.rect();
    if (!plot.isEmpty() && !ChartColor::isTransparent(m_plotArea.bgColor()))
        p.fillRect(plot, brushFor(m_plotArea.bgColor()));
    p.end();
    if (cache.size() >= kMaxCachedBackgrounds)
        cache.clear();
    cache.insert(key, image);
    return image;
}

void XYChart::render()
{
    if (m_rendered)
        return;
    m_rendered = true;
    m_drawArea = std::make_shared<DrawArea>(renderBase());
}

QImage XYChart::renderBase()
{
    layout();
    QImage image = background();
    QPainter p(&image);
    const QRect plot = m_plotArea.rect();

    if (!plot.isEmpty()) {
        // Grid: crisp one-pixel lines at the major ticks.
        p.setRenderHint(QPainter::Antialiasing, false);
        if (!ChartColor::isTransparent(m_plotArea.vGridColor()) && m_xAxis.hasScale()) {
            p.setPen(ChartColor::toQColor(m_plotArea.vGridColor()));
            for (double v : m_xAxis.majorTicks()) {
                const int x = toPixelInt(m_xAxis.toPixel(v));
                if (x > plot.left() && x <= plot.right())
                    p.drawLine(x, plot.top(), x, plot.bottom());
            }
        }
        if (!ChartColor::isTransparent(m_plotArea.hGridColor()) && m_yAxis.hasScale()) {
            p.setPen(ChartColor::toQColor(m_plotArea.hGridColor()));
            for (double v : m_yAxis.majorTicks()) {
                const int y = toPixelInt(m_yAxis.toPixel(v));
                if (y >= plot.top() && y < plot.bottom())
                    p.drawLine(plot.left(), y, plot.right(), y);
            }
        }

        // Bands across the plot (spans of time to mark).
        for (const XZone &zone : m_xZones) {
            const int x1 = std::max(plot.left(), toPixelInt(m_xAxis.toPixel(zone.from)));
            const int x2 = std::min(plot.right(), toPixelInt(m_xAxis.toPixel(zone.to)));
            if (m_xAxis.hasScale() && x2 >= x1)
                p.fillRect(QRect(x1, plot.top(), std::max(1, x2 - x1), plot.height()),
                           ChartColor::toQColor(zone.color));
        }

        // Layers.
        p.save();
        if (m_clipMargin >= 0)
            p.setClipRect(plot.adjusted(-m_clipMargin, -m_clipMargin, m_clipMargin, m_clipMargin));
        p.setRenderHint(QPainter::Antialiasing, true);
        for (const auto &layer : m_layers)
            layer->paint(p, m_xAxis);
        p.restore();

        if (!ChartColor::isTransparent(m_plotArea.edgeColor()) && m_plotArea.edgeColor() != -1) {
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(ChartColor::toQColor(m_plotArea.edgeColor()));
            p.setBrush(Qt::NoBrush);
            p.drawRect(plot.adjusted(0, 0, -1, -1));
        }
        drawAxes(p);
    }
    p.end();
    return image;
}

void XYChart::drawAxes(QPainter &p)
{
    const QRect plot = m_plotArea.rect();
    p.setRenderHint(QPainter::Antialiasing, false);

    // X axis along the bottom edge, y axes beside the left or right edge, all outside the plot
    // area.
    const int xw = m_xAxis.width();
    const int yw = m_yAxis.width();
    if (xw > 0)
        p.fillRect(QRect(plot.left() - yw, plot.bottom() + 1, plot.width() + yw, xw),
                   ChartColor::toQColor(m_xAxis.axisColor()));

    const int xBase = plot.bottom() + 1 + xw;
    if (m_xAxis.hasScale()) {
        const QColor tick = ChartColor::toQColor(m_xAxis.tickColor());
        for (double v : m_xAxis.minorTicks()) {
            const int x = toPixelInt(m_xAxis.toPixel(v));
            if (x >= plot.left() && x <= plot.right())
                p.fillRect(QRect(x, xBase, 1, kMinorTick), tick);
        }
        const QFont font = ChartText::chartFont(m_xAxis.labelFont(), m_xAxis.labelSize());
        const QColor labelColor = ChartColor::toQColor(m_xAxis.labelColor());
        int lastRight = INT_MIN;
        for (double v : m_xAxis.majorTicks()) {
            const int x = toPixelInt(m_xAxis.toPixel(v));
            if (x < plot.left() || x > plot.right())
                continue;
            p.fillRect(QRect(x, xBase, 1, kMajorTick), tick);
            const QString label = m_xAxis.tickLabel(v);
            const QSizeF size = ChartText::plainSize(label, font);
            const int w = int(std::ceil(size.width()));
            // Keep labels inside the chart and clear of each other.
            const int left = qBound(0, x - w / 2, qMax(0, m_width - w));
            if (left <= lastRight)
                continue;
            ChartText::drawPlain(p, left, xBase + kMajorTick + kLabelGap - 1, label, font,
                                 labelColor);
            lastRight = left + w + 2;
        }
    }
    drawYAxis(p, m_yAxis);
    for (const auto &axis : m_extraYAxes)
        drawYAxis(p, *axis);
}

// A vertical axis beside the plot area's left or right edge: its line,
// ticks, labels on the outer side, and its title above the plot area.
void XYChart::drawYAxis(QPainter &p, const ChartAxis &axis)
{
    const QRect plot = m_plotArea.rect();
    const bool right = axis.side() == ChartAxis::Right;
    const int w = axis.width();
    // The axis line's outer edge; ticks and labels go outwards from it.
    const int lineLeft = right ? plot.right() + 1 + axis.offset() : plot.left() - w - axis.offset();
    if (w > 0)
        p.fillRect(QRect(lineLeft, plot.top(), w, plot.height()),
                   ChartColor::toQColor(axis.axisColor()));
    const int base = right ? lineLeft + w : lineLeft;
    const QFont font = ChartText::chartFont(axis.labelFont(), axis.labelSize());
    if (axis.hasScale()) {
        const QColor tick = ChartColor::toQColor(axis.tickColor());
        for (double v : axis.minorTicks()) {
            const int y = toPixelInt(axis.toPixel(v));
            if (y >= plot.top() && y <= plot.bottom())
                p.fillRect(QRect(right ? base : base - kMinorTick, y, kMinorTick, 1), tick);
        }
        const QColor labelColor = ChartColor::toQColor(axis.labelColor());
        for (double v : axis.majorTicks()) {
            const int y = toPixelInt(axis.toPixel(v));
            if (y < plot.top() || y > plot.bottom())
                continue;
            p.fillRect(QRect(right ? base : base - kMajorTick, y, kMajorTick, 1), tick);
            const QString label = axis.tickLabel(v);
            const QSizeF size = ChartText::plainSize(label, font);
            const int h = int(std::ceil(size.height()));
            const int top = qBound(0, y - h / 2, qMax(0, m_height - h));
            const qreal left =
                right ? qMin<qreal>(m_width - size.width(), base + kMajorTick + kLabelGap)
                      : qMax<qreal>(0, base - kMajorTick - kLabelGap - size.width());
            ChartText::drawPlain(p, left, top, label, font, labelColor);
        }
    }
    if (!axis.title().isEmpty()) {
        const QSizeF size = ChartText::plainSize(axis.title(), font);
        const qreal left =
            right ? qMin<qreal>(m_width - size.width(), base) : qMax<qreal>(0, base - size.width());
        const qreal top = qMax<qreal>(0, plot.top() - size.height() - 1);
        ChartText::drawPlain(p, left, top, axis.title(), font,
                             ChartColor::toQColor(axis.titleColor()));
    }
}

DrawArea *XYChart::makeChart()
{
    render();
    return m_drawArea.get();
}

// The first cursor layer of a chart is drawn into the chart's own picture;
// a later one needs the chart drawn again, once, to start from.
DrawArea *XYChart::initDynamicLayer()
{
    render();
    if (m_drawArea->hasDynamicLayer() && !m_drawArea->hasBase())
        m_drawArea->setBaseImage(renderBase());
    m_drawArea->initDynamicLayer();
    return m_drawArea.get();
}

void XYChart::removeDynamicLayer()
{
    if (m_drawArea && m_drawArea->hasDynamicLayer() && !m_drawArea->hasBase())
        m_drawArea->setBaseImage(renderBase());
    else if (m_drawArea)
        m_drawArea->removeDynamicLayer();
}

QImage XYChart::makeImage()
{
    render();
    return m_drawArea->image();
}

ChartMetrics XYChart::getChartMetrics()
{
    layout();
    ChartMetrics metrics;
    metrics.width = m_width;
    metrics.height = m_height;
    metrics.plotArea = m_plotArea.rect();
    return metrics;
}

std::shared_ptr<DrawArea> XYChart::drawAreaRef()
{
    render();
    return m_drawArea;
}

void XYChart::addXZone(double from, double to, int color)
{
    m_xZones.push_back({from, to, color});
}
