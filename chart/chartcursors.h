#pragma once

#include <QCursor>

// The six mouse cursors of the chart widget, 32 x 32 monochrome with the hot
// spot at (15, 15), made once per process on first use.
class ChartCursors
{
public:
    enum Kind { ZoomIn, ZoomOut, NoZoom, ScrollHorizontal, ScrollVertical, ScrollBoth, KindCount };
    static const QCursor &cursor(Kind kind);
    static constexpr int kSize = 32;
    static constexpr int kHotSpot = 15;
};
