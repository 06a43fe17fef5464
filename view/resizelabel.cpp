#include "view/resizelabel.h"

#include <QFontMetrics>

#include <cmath>

ResizeLabel::ResizeLabel(QWidget *parent) : QLabel(parent) {}

void ResizeLabel::fitLabelFont(QLabel *label, int marginX, int marginY)
{
    const QString text = label->text();
    if (text.isEmpty())
        return;
    QFont font = label->font();
    const QSize measured = QFontMetrics(font).size(0, text);
    const int tw = measured.width();
    const int th = measured.height();
    // A text of no extent gives no factor: leave the font as it is.
    if (tw <= 0 || th <= 0)
        return;
    const float rw = std::fabs(float(label->width() - marginX) / float(tw));
    const float rh = std::fabs(float(label->height() - marginY) / float(th));
    const float factor = std::min(rw, rh);
    if (!std::isfinite(factor) || factor <= 0)
        return;
    if (font.pointSizeF() > 0) {
        const qreal size = qBound(kMinPointSize, font.pointSizeF() * factor, kMaxPointSize);
        font.setPointSizeF(size);
    } else if (font.pixelSize() > 0) {
        const int px = int(std::lround(font.pixelSize() * factor));
        font.setPixelSize(qBound(1, px, int(kMaxPointSize * 4 / 3)));
    } else {
        return;
    }
    label->setFont(font);
}

void ResizeLabel::fitFont()
{
    fitLabelFont(this, 10, 8);
}

void ResizeLabel::resizeEvent(QResizeEvent *)
{
    fitFont();
}
