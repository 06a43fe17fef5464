#include "chart/chartcursors.h"

#include <QBitmap>
#include <QPainter>
#include <QPainterPath>

namespace
{

// A magnifier: lens centred on the hot spot, handle to the lower right.
QPainterPath magnifier()
{
    QPainterPath path;
    path.addEllipse(QPointF(15.5, 15.5), 8, 8);
    path.moveTo(21.5, 21.5);
    path.lineTo(29, 29);
    return path;
}

QPainterPath arrows(bool horizontal, bool vertical)
{
    QPainterPath path;
    if (horizontal) {
        path.moveTo(3, 15.5);
        path.lineTo(28, 15.5);
        path.moveTo(7, 11.5);
        path.lineTo(3, 15.5);
        path.lineTo(7, 19.5);
        path.moveTo(24, 11.5);
        path.lineTo(28, 15.5);
        path.lineTo(24, 19.5);
    }
    if (vertical) {
        path.moveTo(15.5, 3);
        path.lineTo(15.5, 28);
        path.moveTo(11.5, 7);
        path.lineTo(15.5, 3);
        path.lineTo(19.5, 7);
        path.moveTo(11.5, 24);
        path.lineTo(15.5, 28);
        path.lineTo(19.5, 24);
    }
    return path;
}

QPainterPath shapeFor(ChartCursors::Kind kind)
{
    QPainterPath path;
    switch (kind) {
    case ChartCursors::ZoomIn:
        path = magnifier();
        path.moveTo(11.5, 15.5);
        path.lineTo(19.5, 15.5);
        path.moveTo(15.5, 11.5);
        path.lineTo(15.5, 19.5);
        break;
    case ChartCursors::ZoomOut:
        path = magnifier();
        path.moveTo(11.5, 15.5);
        path.lineTo(19.5, 15.5);
        break;
    case ChartCursors::NoZoom:
        path = magnifier();
        path.moveTo(10, 10);
        path.lineTo(21, 21);
        break;
    case ChartCursors::ScrollHorizontal: path = arrows(true, false); break;
    case ChartCursors::ScrollVertical: path = arrows(false, true); break;
    case ChartCursors::ScrollBoth: path = arrows(true, true); break;
    case ChartCursors::KindCount: break;
    }
    return path;
}

QCursor makeCursor(ChartCursors::Kind kind)
{
    const QPainterPath shape = shapeFor(kind);
    // Black strokes on a white outline: the mask is the wide stroke, the
    // bitmap (1 = black) the narrow one.
    QBitmap bitmap(ChartCursors::kSize, ChartCursors::kSize);
    QBitmap mask(ChartCursors::kSize, ChartCursors::kSize);
    bitmap.clear();
    mask.clear();
    {
        QPainter p(&mask);
        p.setPen(QPen(Qt::color1, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(shape);
    }
    {
        QPainter p(&bitmap);
        p.setPen(QPen(Qt::color1, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        p.drawPath(shape);
    }
    return QCursor(bitmap, mask, ChartCursors::kHotSpot, ChartCursors::kHotSpot);
}

} // namespace

const QCursor &ChartCursors::cursor(Kind kind)
{
    // Kept for the life of the process: a cursor must not outlive the
    // application object, and static destructors run after it is gone.
    static QCursor *cursors[KindCount] = {};
    const int index = qBound(0, int(kind), KindCount - 1);
    if (!cursors[index])
        cursors[index] = new QCursor(makeCursor(Kind(index)));
    return *cursors[index];
}
