#include "chart/drawarea.h"

#include "chart/chartcolor.h"

#include <QPainter>

DrawArea::DrawArea(int width, int height)
    : m_base(qMax(1, width), qMax(1, height), QImage::Format_ARGB32_Premultiplied)
{
    m_base.fill(Qt::transparent);
    m_image = m_base;
}

DrawArea::DrawArea(const QImage &base) : m_base(base), m_image(base) {}

DrawArea::~DrawArea()
{
    endPaint();
}

void DrawArea::endPaint() const
{
    if (m_painter) {
        m_painter->end();
        m_painter.reset();
    }
}

const QImage &DrawArea::image() const
{
    endPaint();
    return m_image;
}

QPainter *DrawArea::painter()
{
    if (!m_painter) {
        m_painter = std::make_unique<QPainter>();
        if (!m_painter->begin(&m_image)) {
            m_painter.reset();
            return nullptr;
        }
        m_painter->setRenderHint(QPainter::TextAntialiasing, true);
    }
    m_painter->setRenderHint(QPainter::Antialiasing, true);
    m_painter->setPen(Qt::NoPen);
    m_painter->setBrush(Qt::NoBrush);
    return m_painter.get();
}

void DrawArea::setBaseImage(const QImage &image)
{
    endPaint();
    m_base = image;
    m_image = image;
    m_dynamic = false;
}

void DrawArea::initDynamicLayer()
{
    endPaint();
    if (m_layers++ == 0 && !m_dynamic && !m_base.isNull()) {
        // The first layer goes straight over the finished chart.
        m_image = m_base;
        m_base = QImage();
    } else if (!m_base.isNull()) {
        m_image = m_base; // shared until the first stroke copies it
    }
    m_dynamic = true;
}

void DrawArea::removeDynamicLayer()
{
    endPaint();
    if (m_base.isNull())
        return;
    m_image = m_base;
    m_dynamic = false;
}

int DrawArea::dashLineColor(int color, int pattern)
{
    m_dashes.append(qMakePair(color, pattern));
    return ChartColor::kDashTag | (m_dashes.size() - 1);
}

QPen DrawArea::penFor(int color, qreal width) const
{
    if (!ChartColor::isDash(color))
        return QPen(ChartColor::toQColor(color), width, Qt::SolidLine, Qt::FlatCap);
    const int index = color & 0xFFFF;
    if (index >= m_dashes.size())
        return QPen(Qt::NoPen);
    const auto &dash = m_dashes.at(index);
    QPen pen(ChartColor::toQColor(dash.first), width, Qt::CustomDashLine, Qt::FlatCap);
    QVector<qreal> lengths;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const int len = (unsigned(dash.second) >> shift) & 0xFF;
        if (len > 0 || !lengths.isEmpty())
            lengths.append(qMax(1, len) / width);
    }
    if (lengths.size() % 2)
        lengths.append(lengths.last());
    if (lengths.size() < 2)
        return QPen(ChartColor::toQColor(dash.first), width, Qt::SolidLine, Qt::FlatCap);
    pen.setDashPattern(lengths);
    return pen;
}

void DrawArea::vline(int y1, int y2, int x, int color)
{
    QPainter *p = painter();
    if (!p)
        return;
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(penFor(color));
    p->drawLine(x, qMin(y1, y2), x, qMax(y1, y2));
}

void DrawArea::hline(int x1, int x2, int y, int color)
{
    QPainter *p = painter();
    if (!p)
        return;
    p->setRenderHint(QPainter::Antialiasing, false);
    p->setPen(penFor(color));
    p->drawLine(qMin(x1, x2), y, qMax(x1, x2), y);
}

void DrawArea::line(double x1, double y1, double x2, double y2, int color, int width)
{
    QPainter *p = painter();
    if (!p)
        return;
    p->setPen(penFor(color, width));
    p->drawLine(QPointF(x1, y1), QPointF(x2, y2));
}

void DrawArea::circle(int cx, int cy, int rx, int ry, int edgeColor, int fillColor)
{
    QPainter *p = painter();
    if (!p)
        return;
    p->setPen(ChartColor::isTransparent(edgeColor) ? QPen(Qt::NoPen) : penFor(edgeColor));
    p->setBrush(ChartColor::toQColor(fillColor));
    p->drawEllipse(QPointF(cx + 0.5, cy + 0.5), rx, ry);
}

void DrawArea::rect(int x1, int y1, int x2, int y2, int edgeColor, int fillColor)
{
    QPainter *p = painter();
    if (!p)
        return;
    p->setRenderHint(QPainter::Antialiasing, false);
    const QRect r = QRect(QPoint(x1, y1), QPoint(x2, y2)).normalized();
    p->fillRect(r, ChartColor::toQColor(fillColor));
    if (!ChartColor::isTransparent(edgeColor)) {
        p->setPen(penFor(edgeColor));
        p->setBrush(Qt::NoBrush);
        p->drawRect(r.adjusted(0, 0, -1, -1));
    }
}

ChartText DrawArea::text(const QString &markup, const QString &fontFile, double size)
{
    return ChartText(markup, fontFile, size, this);
}
