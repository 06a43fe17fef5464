#include "chart/plotarea.h"

#include <QtGlobal>

PlotArea::PlotArea(int x, int y, int width, int height, int bgColor, int altBgColor, int edgeColor,
                   int hGridColor, int vGridColor)
    : m_x(x), m_y(y), m_width(qMax(0, width)), m_height(qMax(0, height)), m_bgColor(bgColor),
      m_altBgColor(altBgColor), m_edgeColor(edgeColor), m_hGridColor(hGridColor),
      m_vGridColor(vGridColor)
{
}

void PlotArea::setBackground(int color, int altColor, int edgeColor)
{
    m_bgColor = color;
    m_altBgColor = altColor;
    m_edgeColor = edgeColor;
}

void PlotArea::setGridColor(int hGridColor, int vGridColor)
{
    m_hGridColor = hGridColor;
    m_vGridColor = vGridColor;
}
