#include "chart/charttext.h"

#include "chart/chartcolor.h"
#include "chart/drawarea.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QSet>

#include <cmath>

namespace
{

struct Style {
    QString fontFile;
    double size = 8;
    QColor color;
    QColor background;
};

struct Scope {
    bool block = false;
    Style style;
};

QColor parseHexColor(const QString &hex)
{
    bool ok = false;
    const uint v = hex.trimmed().toUInt(&ok, 16);
    if (!ok)
        return QColor();
    return ChartColor::toQColor(hex.trimmed().size() > 6 ? int(v) : int(v & 0xFFFFFF));
}

QString fontKey(const QFont &font)
{
    return font.family() + QLatin1Char('/') + QString::number(font.pixelSize()) + QLatin1Char('/') +
           QString::number(font.weight());
}

constexpr int kMaxCachedTexts = 512;

} // namespace

QFont ChartText::chartFont(const QString &fontFile, double size)
{
    static QHash<QString, QFont> fonts;
    const QString key = fontFile + QLatin1Char('@') + QString::number(size);
    auto it = fonts.constFind(key);
    if (it != fonts.constEnd())
        return *it;
    const QString name = fontFile.toLower();
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(name.contains(QLatin1String("bd")) || name.contains(QLatin1String("bold")));
    font.setItalic(name.contains(QLatin1String("i.ttf")) && !name.startsWith(QLatin1String("ari")));
    font.setPixelSize(qMax(1, int(std::lround(size * 96.0 / 72.0))));
    font.setHintingPreference(QFont::PreferNoHinting);
    // Where no Arial-like font is installed, DejaVu Sans stands in; its
    // condensed face is close to Arial's widths, so chart texts keep the room
    // they were laid out for.
    if (QFontInfo(font).family().startsWith(QLatin1String("DejaVu Sans")))
        font.setStretch(QFont::SemiCondensed);
    fonts.insert(key, font);
    return font;
}

QPoint ChartText::alignedTopLeft(int x, int y, int w, int h, int alignment)
{
    if (alignment < 1 || alignment > 9)
        alignment = 7;
    const int col = (alignment - 1) % 3; // 0 left, 1 centre, 2 right
    const int row = (alignment - 1) / 3; // 0 bottom, 1 middle, 2 top
    const int left = col == 0 ? x : col == 1 ? x - w / 2 : x - w;
    const int top = row == 2 ? y : row == 1 ? y - h / 2 : y - h;
    return QPoint(left, top);
}

// A short text in one font and colour, rendered once into a small image with
// alpha; drawing it again is a blit. Chart after chart shows the same axis
// labels, and the track cursor redraws the same texts on every mouse move, so
// this removes most of the glyph work. A text is kept from its second use on:
// many texts (the newest time, the newest value) are drawn once per sample.
static const QImage *cachedTextImage(const QString &text, const QFont &font, const QColor &color)
{
    static QHash<QString, QImage> cache;
    static QSet<QString> seen;
    const QString key = fontKey(font) + QLatin1Char('|') + QString::number(color.rgba(), 16) +
                        QLatin1Char('|') + text;
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return &*it;
    if (!seen.contains(key)) {
        if (seen.size() >= kMaxCachedTexts)
            seen.clear();
        seen.insert(key);
        return nullptr;
    }
    if (cache.size() >= kMaxCachedTexts)
        cache.clear();
    const QFontMetricsF fm(font);
    const QSize size(qMax(1, int(std::ceil(fm.horizontalAdvance(text))) + 2),
                     qMax(1, int(std::ceil(fm.height())) + 1));
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setFont(font);
    p.setPen(color);
    p.drawText(QPointF(0, fm.ascent()), text);
    p.end();
    return &*cache.insert(key, image);
}

void ChartText::drawPlain(QPainter &painter, qreal x, qreal y, const QString &text,
                          const QFont &font, const QColor &color)
{
    if (text.isEmpty() || color.alpha() == 0)
        return;
    const QPoint topLeft(int(std::lround(x)), int(std::lround(y)));
    if (const QImage *image = cachedTextImage(text, font, color)) {
        painter.drawImage(topLeft, *image);
        return;
    }
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(QPointF(topLeft.x(), topLeft.y() + fontAscent(font)), text);
}

// Measuring shapes the text, which costs about as much as drawing it; the
// same texts are measured again and again.
QSizeF ChartText::plainSize(const QString &text, const QFont &font)
{
    static QHash<QString, QSizeF> sizes;
    const QString key = fontKey(font) + QLatin1Char('|') + text;
    auto it = sizes.constFind(key);
    if (it != sizes.constEnd())
        return *it;
    if (sizes.size() >= kMaxCachedTexts)
        sizes.clear();
    const QFontMetricsF fm(font);
    return *sizes.insert(key,
                         QSizeF(text.isEmpty() ? 0.0 : fm.horizontalAdvance(text), fm.height()));
}

qreal ChartText::fontAscent(const QFont &font)
{
    static QHash<QString, qreal> ascents;
    const QString key = fontKey(font);
    auto it = ascents.constFind(key);
    if (it != ascents.constEnd())
        return *it;
    return *ascents.insert(key, QFontMetricsF(font).ascent());
}

ChartText::ChartText(const QString &markup, const QString &fontFile, double size, DrawArea *target)
    : m_layout(layoutFor(markup, fontFile, size)), m_target(target), m_width(m_layout->width),
      m_height(m_layout->height)
{
}

std::shared_ptr<const ChartText::Layout> ChartText::layoutFor(const QString &markup,
                                                              const QString &fontFile, double size)
{
    static QHash<QString, std::shared_ptr<const Layout>> layouts;
    QString key;
    key.reserve(markup.size() + fontFile.size() + 12);
    key += fontFile;
    key += QLatin1Char('@');
    key += QString::number(size);
    key += QLatin1Char('|');
    key += markup;
    auto it = layouts.constFind(key);
    if (it != layouts.constEnd())
        return *it;
    if (layouts.size() >= kMaxCachedTexts)
        layouts.clear();
    return *layouts.insert(key, std::make_shared<const Layout>(parse(markup, fontFile, size)));
}

ChartText::Layout ChartText::parse(const QString &markup, const QString &fontFile, double size)
{
    Layout layout;
    QVector<Run> &runs = layout.runs;
    QVector<Scope> scopes;
    Scope root;
    root.style.fontFile = fontFile;
    root.style.size = size;
    scopes.append(root);

    auto addRun = [&runs, &scopes](const QString &text, bool icon, const QColor &iconColor) {
        if (text.isEmpty() && !icon)
            return;
        const Style &s = scopes.last().style;
        Run run;
        run.text = text;
        run.font = chartFont(s.fontFile, s.size);
        run.color = icon ? iconColor : s.color;
        run.background = s.background;
        run.icon = icon;
        const QSizeF size = plainSize(text, run.font);
        run.ascent = fontAscent(run.font);
        run.height = size.height();
        run.width = icon ? std::round(size.height() * 0.7) : size.width();
        runs.append(run);
    };

    int pos = 0;
    const int n = markup.size();
    while (pos < n) {
        const int open = markup.indexOf(QLatin1String("<*"), pos);
        const int close = open < 0 ? -1 : markup.indexOf(QLatin1String("*>"), open + 2);
        if (open < 0 || close < 0) {
            addRun(markup.mid(pos), false, QColor());
            break;
        }
        addRun(markup.mid(pos, open - pos), false, QColor());
        pos = close + 2;

        const QString tag = markup.mid(open + 2, close - open - 2).trimmed();
        const QString lower = tag.toLower();
        if (lower == QLatin1String("block")) {
            Scope s = scopes.last();
            s.block = true;
            scopes.append(s);
        } else if (lower == QLatin1String("/")) {
            if (scopes.size() > 1)
                scopes.removeLast();
        } else if (lower == QLatin1String("/font")) {
            if (scopes.size() > 1 && !scopes.last().block)
                scopes.removeLast();
        } else if (lower == QLatin1String("font")) {
            while (scopes.size() > 1 && !scopes.last().block)
                scopes.removeLast();
        } else if (lower.startsWith(QLatin1String("font")) ||
                   lower.startsWith(QLatin1String("icon"))) {
            const bool icon = lower.startsWith(QLatin1String("icon"));
            Style style = scopes.last().style;
            QColor iconColor;
            const QStringList parts = tag.split(QLatin1Char(','));
            for (const QString &part : parts) {
                const int eq = part.indexOf(QLatin1Char('='));
                const QString key = (eq < 0 ? part : part.left(eq)).trimmed().toLower();
                const QString value = eq < 0 ? QString() : part.mid(eq + 1).trimmed();
                if (key == QLatin1String("font") && !value.isEmpty())
                    style.fontFile = value;
                else if (key == QLatin1String("size") && value.toDouble() > 0)
                    style.size = value.toDouble();
                else if (key == QLatin1String("color"))
                    (icon ? iconColor : style.color) = parseHexColor(value);
                else if (key == QLatin1String("bgcolor"))
                    style.background = parseHexColor(value);
            }
            if (icon) {
                addRun(QString(), true, iconColor);
            } else {
                Scope s;
                s.style = style;
                scopes.append(s);
            }
        }
        // Unknown tags are dropped.
    }

    qreal x = 0;
    qreal ascent = 0;
    qreal descent = 0;
    for (Run &run : runs) {
        run.x = x;
        x += run.width;
        ascent = qMax(ascent, run.ascent);
        descent = qMax(descent, run.height - run.ascent);
    }
    if (runs.isEmpty()) {
        const QFont font = chartFont(fontFile, size);
        ascent = fontAscent(font);
        descent = plainSize(QString(), font).height() - ascent;
    }
    layout.ascent = ascent;
    layout.width = int(std::ceil(x));
    layout.height = int(std::ceil(ascent + descent));
    return layout;
}

QString ChartText::plainText() const
{
    QString text;
    if (m_layout) {
        for (const Run &run : m_layout->runs)
            text += run.text;
    }
    return text;
}

void ChartText::draw(int x, int y, int color, int alignment) const
{
    if (!m_target)
        return;
    if (QPainter *painter = m_target->painter())
        paint(*painter, x, y, color, alignment);
}

void ChartText::paint(QPainter &painter, int x, int y, int color, int alignment) const
{
    if (!m_layout)
        return;
    const QPoint tl = alignedTopLeft(x, y, m_width, m_height, alignment);
    const QColor base = ChartColor::toQColor(color);
    const qreal baseline = tl.y() + m_layout->ascent;
    for (const Run &run : m_layout->runs) {
        const QRectF box(tl.x() + run.x, tl.y(), run.width, m_height);
        if (run.background.isValid() && run.background.alpha() > 0)
            painter.fillRect(box, run.background);
        if (run.icon) {
            const QColor c = run.color.isValid() ? run.color : base;
            const qreal mid = tl.y() + m_height / 2.0;
            const QPen old = painter.pen();
            painter.setPen(QPen(c, 3, Qt::SolidLine, Qt::FlatCap));
            painter.drawLine(QPointF(box.left() + 1, mid), QPointF(box.right() - 1, mid));
            painter.setPen(old);
            continue;
        }
        drawPlain(painter, box.left(), baseline - run.ascent, run.text, run.font,
                  run.color.isValid() ? run.color : base);
    }
}
