#include "floorchart.h"

#include <QDateTime>
#include <QFontMetrics>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace
{
const QColor kText(0xF4, 0xF4, 0xF4, 127);
const QColor kGrid(0x30, 0x30, 0x30, 127);
const QColor kAxis(0xC0, 0xC0, 0xC0, 127);

} // namespace

int FloorChart::width(const QString &text) const
{
    auto it = m_texts.find(text);
    if (it == m_texts.end()) {
        it = m_texts.insert(text, QStaticText(text));
        it->setTextFormat(Qt::PlainText);
        it->prepare(QTransform(), m_font);
    }
    return int(it->size().width());
}

int FloorChart::text(QPainter &p, int x, int y, const QString &text, const QColor &background) const
{
    auto it = m_texts.find(text);
    if (it == m_texts.end()) {
        it = m_texts.insert(text, QStaticText(text));
        it->setTextFormat(Qt::PlainText);
        it->prepare(QTransform(), p.font());
    }
    if (background.isValid())
        p.fillRect(QRectF(QPointF(x, y), it->size()), background);
    p.drawStaticText(x, y, *it);
    return int(it->size().width());
}

FloorChart::FloorChart(int width, int height) : m_width(width), m_height(height)
{
    m_font = QFont(QStringLiteral("Arial"));
    m_font.setPixelSize(11);
    m_bold = m_font;
    m_bold.setBold(true);
}

QPixmap FloorChart::draw(const QVector<double> &times, const QVector<double> &values, double span,
                         bool cursor, const QString &intervalText) const
{
    QImage image(m_width, m_height, QImage::Format_RGB32);
    QPainter p(&image);
    p.fillRect(image.rect(), QColor(0x59, 0x59, 0x59));
    const QRect plot(45, 25, m_width - 50, m_height - 55);
    QLinearGradient g(0, 25, 0, m_height - 15);
    g.setColorAt(0, QColor(0x59, 0x59, 0x59));
    g.setColorAt(1, QColor(0x30, 0x30, 0x30));
    p.fillRect(plot, g);

    const double x1 = times.last();
    const double x0 = x1 - span;
    double lo = 1e300, hi = -1e300;
    for (double v : values) {
        if (!std::isnan(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    lo = std::floor(lo);
    hi = std::ceil(hi) + (std::ceil(hi) == lo ? 1 : 0);
    auto px = [&](double t) { return plot.left() + (t - x0) / span * (plot.width() - 1); };
    auto py = [&](double v) { return plot.bottom() - (v - lo) / (hi - lo) * (plot.height() - 1); };

    // Grid, ticks and labels: a tick every 240 s on x, every unit on y.
    p.setFont(m_font);
    p.setPen(kGrid);
    const QFontMetrics fm(m_font);
    for (double t = std::ceil(x0 / 240) * 240; t <= x1; t += 240) {
        const int x = int(std::lround(px(t)));
        p.setPen(kGrid);
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.fillRect(QRect(x, plot.bottom() + 3, 1, 4), kText);
        p.setPen(kText);
        const QString label =
            QDateTime::fromMSecsSinceEpoch(qint64(t * 1000)).toString(QStringLiteral("hh:mm:ss"));
        text(p, x - width(label) / 2, plot.bottom() + 8, label);
    }
    for (double v = lo; v <= hi; v += 1) {
        const int y = int(std::lround(py(v)));
        p.setPen(kGrid);
        p.drawLine(plot.left(), y, plot.right(), y);
        p.fillRect(QRect(plot.left() - 6, y, 4, 1), kText);
        p.setPen(kText);
        const QString label = QString::number(v, 'f', 0);
        text(p, plot.left() - 8 - width(label), y - fm.height() / 2, label);
    }
    p.fillRect(QRect(plot.left() - 2, plot.bottom() + 1, plot.width() + 2, 2), kAxis);
    p.fillRect(QRect(plot.left() - 2, plot.top(), 2, plot.height()), kAxis);

    // The line, broken at gaps.
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setClipRect(plot);
    QPainterPath path;
    bool open = false;
    for (int i = 0; i < times.size(); ++i) {
        if (std::isnan(values[i])) {
            open = false;
            continue;
        }
        const QPointF pt(px(times[i]), py(values[i]));
        if (open)
            path.lineTo(pt);
        else
            path.moveTo(pt);
        open = true;
    }
    p.setPen(QPen(QColor(255, 0, 0), 1));
    p.drawPath(path);
    p.setClipping(false);

    if (cursor) {
        const double v = values.last();
        const int x = int(std::lround(px(x1)));
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(kText, 1, Qt::DotLine));
        p.drawLine(x, plot.top(), x, plot.bottom());
        p.setFont(m_bold);
        const QFontMetrics bm(m_bold);
        p.setPen(QColor(0xE6, 0xE6, 0xE6));
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(x1 * 1000));
        const QString time = at.toString(QStringLiteral(" hh:mm:ss "));
        text(p, std::min(x - bm.horizontalAdvance(time) / 2, m_width - 60), plot.bottom() + 6, time,
             QColor(0x37, 0x37, 0x37));
        const QString valueText =
            std::isnan(v) ? QStringLiteral("N/A") : QString::number(v, 'f', 2);
        if (!std::isnan(v)) {
            const int y = int(std::lround(py(v)));
            p.setRenderHint(QPainter::Antialiasing, true);
            p.setPen(QColor(255, 0, 0));
            p.setBrush(QColor(255, 0, 0));
            p.drawEllipse(QPointF(x + 0.5, y + 0.5), 4, 4);
            p.setPen(QColor(0xE6, 0xE6, 0xE6));
            const QString box = QLatin1Char(' ') + valueText + QLatin1Char(' ');
            text(p, x - 5 - bm.horizontalAdvance(box), y - bm.height() / 2, box, QColor(255, 0, 0));
        }
        p.setPen(Qt::white);
        text(p, plot.left() + 5, plot.top() - 3 - bm.height(), QStringLiteral("CH1: ") + valueText);
        text(p, plot.left() + 100, plot.top() - 3 - bm.height(),
             at.toString(QStringLiteral("[ yyyy-MM-dd hh:mm:ss ]")));
        p.setFont(m_font);
        text(p, plot.right() - 240, plot.top() - 3 - fm.height(),
             QStringLiteral("View Length : 240 samples   Interval : ") + intervalText);
    }
    p.end();
    return QPixmap::fromImage(std::move(image));
}
