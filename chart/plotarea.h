#pragma once

#include <QRect>

// The rectangle of a chart in which the data are drawn, with its looks.
class PlotArea
{
public:
    PlotArea(int x, int y, int width, int height, int bgColor, int altBgColor, int edgeColor,
             int hGridColor, int vGridColor);

    int getLeftX() const { return m_x; }
    int getTopY() const { return m_y; }
    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }
    int getRightX() const { return m_x + m_width - 1; }
    int getBottomY() const { return m_y + m_height - 1; }
    QRect rect() const { return QRect(m_x, m_y, m_width, m_height); }

    void setBackground(int color, int altColor = -1, int edgeColor = -1);
    void setGridColor(int hGridColor, int vGridColor = int(0xFF000000));

    int bgColor() const { return m_bgColor; }
    int altBgColor() const { return m_altBgColor; }
    int edgeColor() const { return m_edgeColor; }
    int hGridColor() const { return m_hGridColor; }
    int vGridColor() const { return m_vGridColor; }

private:
    int m_x;
    int m_y;
    int m_width;
    int m_height;
    int m_bgColor;
    int m_altBgColor;
    int m_edgeColor;
    int m_hGridColor;
    int m_vGridColor;
};
