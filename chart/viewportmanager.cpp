#include "chart/viewportmanager.h"

#include <QtGlobal>

#include <cmath>

namespace
{
constexpr int kExtendedMargin = 4;
constexpr double kEps = 1e-9;

bool horizontal(int axes)
{
    return axes == 0 || axes == 2;
}
bool vertical(int axes)
{
    return axes == 1 || axes == 2;
}
} // namespace

void ViewPortManager::setChartMetrics(const ChartMetrics &metrics)
{
    m_metrics = metrics;
}

void ViewPortManager::setViewPort(double left, double top, double width, double height)
{
    m_left = left;
    m_top = top;
    m_width = width;
    m_height = height;
    validateViewPort();
}

void ViewPortManager::setZoomInLimit(double widthLimit, double heightLimit)
{
    m_minWidth = qBound(kEps, widthLimit, 1.0);
    m_minHeight = qBound(kEps, heightLimit, 1.0);
    validateViewPort();
}

void ViewPortManager::validateViewPort()
{
    m_width = qBound(m_minWidth, std::isfinite(m_width) ? m_width : 1.0, 1.0);
    m_height = qBound(m_minHeight, std::isfinite(m_height) ? m_height : 1.0, 1.0);
    m_left = qBound(0.0, std::isfinite(m_left) ? m_left : 0.0, 1.0 - m_width);
    m_top = qBound(0.0, std::isfinite(m_top) ? m_top : 0.0, 1.0 - m_height);
}

bool ViewPortManager::inPlotArea(int x, int y) const
{
    return !m_metrics.plotArea.isEmpty() && m_metrics.plotArea.contains(x, y);
}

bool ViewPortManager::inExtendedPlotArea(int x, int y) const
{
    if (m_metrics.plotArea.isEmpty())
        return false;
    return m_metrics.plotArea
        .adjusted(-kExtendedMargin, -kExtendedMargin, kExtendedMargin, kExtendedMargin)
        .contains(x, y);
}

void ViewPortManager::startDrag()
{
    m_dragLeft = m_left;
    m_dragTop = m_top;
}

bool ViewPortManager::dragTo(int axes, int dx, int dy)
{
    const QRect pa = m_metrics.plotArea;
    if (pa.isEmpty())
        return false;
    const double oldLeft = m_left;
    const double oldTop = m_top;
    if (horizontal(axes))
        m_left = qBound(0.0, m_dragLeft - double(dx) / pa.width() * m_width, 1.0 - m_width);
    if (vertical(axes))
        m_top = qBound(0.0, m_dragTop - double(dy) / pa.height() * m_height, 1.0 - m_height);
    return std::fabs(m_left - oldLeft) > kEps || std::fabs(m_top - oldTop) > kEps;
}

bool ViewPortManager::canZoomIn(int axes) const
{
    return (horizontal(axes) && m_width > m_minWidth + kEps) ||
           (vertical(axes) && m_height > m_minHeight + kEps);
}

bool ViewPortManager::canZoomOut(int axes) const
{
    return (horizontal(axes) && m_width < 1 - kEps) || (vertical(axes) && m_height < 1 - kEps);
}

bool ViewPortManager::zoomAxis(double &start, double &size, double limit, double fraction,
                               double factor)
{
    if (!(factor > 0) || !std::isfinite(factor))
        return false;
    const double anchor = start + fraction * size;
    const double newSize = qBound(limit, size / factor, 1.0);
    const double newStart = qBound(0.0, anchor - fraction * newSize, 1.0 - newSize);
    const bool changed = std::fabs(newSize - size) > kEps || std::fabs(newStart - start) > kEps;
    start = newStart;
    size = newSize;
    return changed;
}

bool ViewPortManager::zoomAt(int axes, int x, int y, double factor)
{
    const QRect pa = m_metrics.plotArea;
    if (pa.isEmpty())
        return false;
    bool changed = false;
    if (horizontal(axes))
        changed |= zoomAxis(m_left, m_width, m_minWidth,
                            qBound(0.0, double(x - pa.left()) / pa.width(), 1.0), factor);
    if (vertical(axes))
        changed |= zoomAxis(m_top, m_height, m_minHeight,
                            qBound(0.0, double(y - pa.top()) / pa.height(), 1.0), factor);
    return changed;
}

bool ViewPortManager::zoomTo(int axes, int x1, int y1, int x2, int y2)
{
    const QRect pa = m_metrics.plotArea;
    if (pa.isEmpty())
        return false;
    bool changed = false;
    auto apply = [&](double &start, double &size, double limit, double a, double b, double origin,
                     double length) {
        const double f1 = qBound(0.0, (qMin(a, b) - origin) / length, 1.0);
        const double f2 = qBound(0.0, (qMax(a, b) - origin) / length, 1.0);
        if (f2 - f1 <= kEps)
            return;
        const double newSize = qBound(limit, (f2 - f1) * size, 1.0);
        const double newStart = qBound(0.0, start + f1 * size, 1.0 - newSize);
        changed |= std::fabs(newSize - size) > kEps || std::fabs(newStart - start) > kEps;
        start = newStart;
        size = newSize;
    };
    if (horizontal(axes))
        apply(m_left, m_width, m_minWidth, x1, x2, pa.left(), pa.width());
    if (vertical(axes))
        apply(m_top, m_height, m_minHeight, y1, y2, pa.top(), pa.height());
    return changed;
}
