#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QVector>

#include <memory>

class QPainter;
class QStaticText;
class DrawArea;

// One line of chart text with the engine's small markup, measured once and
// drawable many times.
//
// Markup: "<*block*>" opens a group, "<*font=arial.ttf,size=9,color=e6e6e6,
// bgColor=373737*>" opens a style span (every attribute optional, colours as
// RRGGBB or AARRGGBB hex), "<*font*>" goes back to the style of the enclosing
// group, "<*/font*>" closes the innermost span, "<*/*>" closes the innermost
// group or span, "<*icon=line,color=ff0000*>" puts a small line symbol in
// the text. Everything else is drawn as written, spaces included.
class ChartText
{
public:
    ChartText() = default;
    ChartText(const QString &markup, const QString &fontFile, double size,
              DrawArea *target = nullptr);

    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }
    // The text without markup.
    QString plainText() const;

    // Draws into the draw area the text was made for. Alignment codes: 1 to 9
    // like a numeric keypad (1 bottom-left, 4 left-centre, 5 centre,
    // 6 right-centre, 7 top-left, ...); (x, y) is that point of the text.
    void draw(int x, int y, int color, int alignment) const;
    void paint(QPainter &painter, int x, int y, int color, int alignment) const;

    // Font for a font file name ("arial.ttf", "arialbd.ttf", ...) mapped to a
    // sans-serif font of this machine; size in points at the engine's 96 dpi.
    static QFont chartFont(const QString &fontFile, double size);
    // Top-left corner of a w x h box whose alignment point is (x, y).
    static QPoint alignedTopLeft(int x, int y, int w, int h, int alignment);
    // Draws plain text with cached layout, top-left at (x, y).
    static void drawPlain(QPainter &painter, qreal x, qreal y, const QString &text,
                          const QFont &font, const QColor &color);
    static QSizeF plainSize(const QString &text, const QFont &font);
    static qreal fontAscent(const QFont &font);

private:
    struct Run {
        QString text;
        QFont font;
        QColor color;      // invalid: the colour given to draw()
        QColor background; // invalid: none
        bool icon = false;
        qreal x = 0;
        qreal width = 0;
        qreal ascent = 0;
        qreal height = 0;
    };
    // A text's layout depends only on its markup, font and size; cursor and
    // axis texts come back chart after chart, so layouts are kept and shared.
    struct Layout {
        QVector<Run> runs;
        int width = 0;
        int height = 0;
        qreal ascent = 0;
    };
    static std::shared_ptr<const Layout> layoutFor(const QString &markup, const QString &fontFile,
                                                   double size);
    static Layout parse(const QString &markup, const QString &fontFile, double size);

    std::shared_ptr<const Layout> m_layout;
    DrawArea *m_target = nullptr;
    int m_width = 0;
    int m_height = 0;
};
