#pragma once

#include <QColor>

// Colour codes of the chart engine: 0xAARRGGBB where the alpha byte counts
// transparency (0x00 opaque, 0xFF fully transparent), -1 for "the default".
// Two alpha values are reserved for colours that need more than one value:
// 0xFE.... refers to a gradient of a chart, 0xFD.... to a dash pattern of a
// draw area; both are handed out by the objects that own them.
namespace ChartColor
{

constexpr int Transparent = int(0xFF000000);
constexpr int Default = -1;

constexpr int kGradientTag = int(0xFE000000);
constexpr int kDashTag = int(0xFD000000);

inline bool isGradient(int code)
{
    return (code & int(0xFF000000)) == kGradientTag;
}
inline bool isDash(int code)
{
    return (code & int(0xFF000000)) == kDashTag;
}
inline bool isTransparent(int code)
{
    return (code & int(0xFF000000)) == Transparent;
}

// A plain colour code as a QColor; the reserved codes give a transparent colour.
inline QColor toQColor(int code)
{
    if (isGradient(code) || isDash(code))
        return QColor(0, 0, 0, 0);
    const unsigned u = unsigned(code);
    return QColor(int((u >> 16) & 0xFF), int((u >> 8) & 0xFF), int(u & 0xFF), 255 - int(u >> 24));
}

// The colour code, or the fallback when the code is the default (-1).
inline int orDefault(int code, int fallback)
{
    return code == Default ? fallback : code;
}

} // namespace ChartColor
