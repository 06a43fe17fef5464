#pragma once

#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QStaticText>
#include <QVector>

class QPainter;

// The floor: the same device chart drawn straight with QPainter into one
// image that becomes the pixmap, with nothing kept from one chart to the
// next but the fonts and the texts' layouts (QStaticText). Background, gradient plot area, grid,
// axes with ticks and time and value labels, the antialiased line with its gaps and, when asked,
// the track cursor's line, dot and texts at the newest sample.
class FloorChart
{
public:
    FloorChart(int width, int height);

    // times in seconds, NaN values are gaps; span in seconds ends at the newest time.
    QPixmap draw(const QVector<double> &times, const QVector<double> &values, double span,
                 bool cursor, const QString &intervalText) const;

private:
    // Draws text with its top-left at (x, y) on an optional box; returns its width.
    int text(QPainter &p, int x, int y, const QString &text,
             const QColor &background = QColor()) const;
    int width(const QString &text) const;

    mutable QHash<QString, QStaticText> m_texts;
    int m_width;
    int m_height;
    QFont m_font;
    QFont m_bold;
};
