#pragma once

#include <QString>
#include <QVector>

// One axis of an XY chart: its scale (set by the owner or found from the
// data), its ticks, its label format and its looks.
class ChartAxis
{
public:
    enum Orientation { Horizontal, Vertical };
    // Where a vertical axis sits: beside the plot area's left or right edge,
    // moved outwards by an offset so that several axes can stand side by side.
    enum Side { Left, Right };

    explicit ChartAxis(Orientation orientation);

    // Minimum pixel distance between major and minor ticks (-1: a fifth of
    // the major distance).
    void setTickDensity(int majorSpacing, int minorSpacing = -1);
    void setWidth(int width);
    void setColors(int axisColor, int labelColor = 0x000000, int titleColor = -1,
                   int tickColor = -1);
    void setLabelStyle(const QString &fontFile, double size);
    void setPlacement(Side side, int offset = 0);
    // A short title (a unit, say) drawn above a vertical axis.
    void setTitle(const QString &title) { m_title = title; }
    // A date scale over [lower, upper] (chart date values); steps of 0 are
    // chosen from the tick density.
    void setDateScale(double lower, double upper, double majorStep = 0, double minorStep = 0);
    void setLinearScale(double lower, double upper, double majorStep = 0, double minorStep = 0);
    // "{value|hh:nn:ss}" for dates (yyyy mm dd hh nn ss; nn = minutes),
    // "{value|2.}" for two decimals with a point.
    void setLabelFormat(const QString &format);

    // value formatted with a bare format ("hh:nn:ss"), with "{value|...}"
    // formats, or, without a format, as the axis labels it. Empty text while
    // the axis has no scale.
    QString getFormattedLabel(double value, const QString &format = QString()) const;

    bool isDateScale() const { return m_dateScale; }
    bool hasScale() const { return m_hasScale; }
    double minValue() const { return m_min; }
    double maxValue() const { return m_max; }

    // Pixel position of a value and the value at a pixel (after layout).
    double toPixel(double value) const;
    double fromPixel(double pixel) const;

    // Used by the chart while it lays itself out.
    void layout(double pixelAtMin, double pixelAtMax, bool hasData, double dataMin, double dataMax);
    const QVector<double> &majorTicks() const { return m_major; }
    const QVector<double> &minorTicks() const { return m_minor; }
    QString tickLabel(double value) const;
    int width() const { return m_width; }
    int axisColor() const { return m_axisColor; }
    int labelColor() const { return m_labelColor; }
    int tickColor() const;
    QString labelFont() const { return m_labelFont; }
    double labelSize() const { return m_labelSize; }
    Orientation orientation() const { return m_orientation; }
    Side side() const { return m_side; }
    int offset() const { return m_offset; }
    QString title() const { return m_title; }
    int titleColor() const { return m_titleColor == -1 ? m_labelColor : m_titleColor; }

    // "{value|hh:nn:ss}"-style and bare formats applied to a value.
    static QString formatValue(double value, const QString &format, bool asDate);

private:
    void chooseDateTicks(double pixelLength);
    const double *wallShiftFor(double value) const;
    void chooseLinearTicks(double pixelLength, bool extend);

    Orientation m_orientation;
    int m_majorSpacing;
    int m_minorSpacing = -1;
    int m_width = 1;
    int m_axisColor = 0x000000;
    int m_labelColor = 0x000000;
    int m_tickColor = -1;
    int m_titleColor = -1;
    Side m_side = Left;
    int m_offset = 0;
    QString m_title;
    QString m_labelFont = QStringLiteral("arial.ttf");
    double m_labelSize = 8;
    QString m_labelFormat;

    bool m_fixedScale = false;
    bool m_dateScale = false;
    bool m_hasScale = false;
    double m_min = 0;
    double m_max = 1;
    double m_majorStep = 0;
    double m_minorStep = 0;
    double m_pixelAtMin = 0;
    double m_pixelAtMax = 1;
    double m_wallShift = 0;
    bool m_wallShiftValid = false;
    QVector<double> m_major;
    QVector<double> m_minor;
};
