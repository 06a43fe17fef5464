#include "chart/linelayer.h"

#include "chart/chartaxis.h"
#include "chart/chartcolor.h"
#include "chart/chartdataset.h"
#include "common/common.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace
{
const int kPalette[] = {0xFF3333, 0x33FF33, 0x6666FF, 0xFFFF00, 0xFF66FF, 0x99FFFF};
}

LineLayer::LineLayer(ChartAxis *yAxis) : m_yAxis(yAxis) {}

LineLayer::~LineLayer() = default;

void LineLayer::setXData(const double *data, int count)
{
    m_x = data && count > 0 ? QVector<double>(data, data + count) : QVector<double>();
    m_hasX = true;
}

ChartDataSet *LineLayer::addDataSet(const double *data, int count, int color, const QString &name)
{
    if (color == -1)
        color = kPalette[m_dataSets.size() % (sizeof(kPalette) / sizeof(kPalette[0]))];
    m_dataSets.push_back(std::make_unique<ChartDataSet>(data, count, color, name, m_yAxis));
    return m_dataSets.back().get();
}

void LineLayer::setUseYAxis(ChartAxis *yAxis)
{
    if (!yAxis)
        return;
    m_yAxis = yAxis;
    for (const auto &ds : m_dataSets)
        ds->setUseYAxis(yAxis);
}

void LineLayer::setLineWidth(int width)
{
    m_lineWidth = qMax(0, width);
}

ChartDataSet *LineLayer::getDataSetByZ(int z) const
{
    return z >= 0 && z < int(m_dataSets.size()) ? m_dataSets[size_t(z)].get() : nullptr;
}

int LineLayer::pointCount() const
{
    if (m_hasX)
        return m_x.size();
    int n = 0;
    for (const auto &ds : m_dataSets)
        n = qMax(n, ds->size());
    return n;
}

double LineLayer::xValue(int index) const
{
    if (!m_hasX)
        return index;
    return index >= 0 && index < m_x.size() ? m_x.at(index) : NoValue;
}

int LineLayer::getXIndexOf(double xValue, double tolerance) const
{
    if (xValue == NoValue)
        return -1;
    const int n = pointCount();
    for (int i = n - 1; i >= 0; --i) {
        const double x = this->xValue(i);
        if (x != NoValue && std::fabs(x - xValue) <= tolerance)
            return i;
    }
    return -1;
}

bool LineLayer::xRange(double &lo, double &hi) const
{
    bool any = false;
    const int n = pointCount();
    for (int i = 0; i < n; ++i) {
        const double x = xValue(i);
        if (x == NoValue || !std::isfinite(x))
            continue;
        lo = any ? qMin(lo, x) : x;
        hi = any ? qMax(hi, x) : x;
        any = true;
    }
    return any;
}

bool LineLayer::yRange(const ChartAxis *yAxis, double &lo, double &hi) const
{
    bool any = false;
    if (yAxis != m_yAxis)
        return false;
    for (const auto &ds : m_dataSets) {
        const int n = qMin(ds->size(), pointCount());
        for (int i = 0; i < n; ++i) {
            const double v = ds->values().at(i);
            if (v == NoValue || !std::isfinite(v) || xValue(i) == NoValue)
                continue;
            lo = any ? qMin(lo, v) : v;
            hi = any ? qMax(hi, v) : v;
            any = true;
        }
    }
    return any;
}

void LineLayer::paint(QPainter &painter, const ChartAxis &xAxis) const
{
    const int n = pointCount();
    QVector<QPointF> run;
    run.reserve(n);
    for (const auto &ds : m_dataSets) {
        if (ChartColor::isTransparent(ds->getDataColor()))
            continue;
        const QColor color = ChartColor::toQColor(ds->getDataColor());
        QPen pen(color, m_lineWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const qreal dot = qMax<qreal>(1.5, m_lineWidth);
        auto flush = [&]() {
            if (run.size() == 1) {
                painter.save();
                painter.setPen(Qt::NoPen);
                painter.setBrush(color);
                painter.drawEllipse(run.first(), dot, dot);
                painter.restore();
            } else if (run.size() > 1) {
                painter.drawPolyline(run.constData(), run.size());
            }
            run.clear();
        };
        const int count = qMin(n, ds->size());
        for (int i = 0; i < count; ++i) {
            const double x = xValue(i);
            const double y = ds->values().at(i);
            if (x == NoValue || y == NoValue || !std::isfinite(x) || !std::isfinite(y)) {
                flush();
                continue;
            }
            const double px = qBound(-1e6, xAxis.toPixel(x), 1e6);
            const double py = qBound(-1e6, m_yAxis->toPixel(y), 1e6);
            run.append(QPointF(px + 0.5, py + 0.5));
        }
        flush();
    }
}
