#include "chart/chartaxis.h"

#include "common/common.h"

#include <QDateTime>
#include <QHash>

#include <cmath>

#include "chart/charttime.h"

namespace
{

// Steps of a date scale in seconds, finest first.
const double kDateSteps[] = {1,       2,       5,       10,      15,    30,     60,
                             120,     300,     600,     900,     1800,  3600,   7200,
                             10800,   14400,   21600,   43200,   86400, 172800, 604800,
                             1209600, 2592000, 7776000, 31536000};

// Our date format letters (nn = minutes) in Qt's words.
QString toQtDateFormat(const QString &format)
{
    static QHash<QString, QString> converted;
    auto it = converted.constFind(format);
    if (it != converted.constEnd())
        return *it;
    QString out;
    QString literal;
    auto flushLiteral = [&]() {
        if (literal.isEmpty())
            return;
        out += QLatin1Char('\'') +
               QString(literal).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
        literal.clear();
    };
    for (int i = 0; i < format.size();) {
        const QChar c = format.at(i);
        int run = 1;
        while (i + run < format.size() && format.at(i + run) == c)
            ++run;
        QString piece;
        switch (c.unicode()) {
        case 'y': piece = run >= 3 ? QStringLiteral("yyyy") : QStringLiteral("yy"); break;
        case 'm': piece = run >= 4 ? QStringLiteral("MMMM") : QString(run, QLatin1Char('M')); break;
        case 'd':
            piece = run >= 3 ? QString(run >= 4 ? 4 : 3, QLatin1Char('d'))
                             : QString(run, QLatin1Char('d'));
            break;
        case 'h': piece = QString(qMin(run, 2), QLatin1Char('H')); break;
        case 'n': piece = QString(qMin(run, 2), QLatin1Char('m')); break;
        case 's': piece = QString(qMin(run, 2), QLatin1Char('s')); break;
        default: literal += QString(run, c); break;
        }
        if (!piece.isEmpty()) {
            flushLiteral();
            out += piece;
        }
        i += run;
    }
    flushLiteral();
    if (converted.size() > 64)
        converted.clear();
    converted.insert(format, out);
    return out;
}

// Date value minus Unix seconds (fixed for the process).
double epochShift()
{
    static const double shift = [] {
        const double probe = 1.0e9;
        const QDateTime dt = chartTimeToDateTime(probe);
        return dt.isValid() ? probe - dt.toMSecsSinceEpoch() / 1000.0 : 0.0;
    }();
    return shift;
}

// The local offset from UTC at a date value. Asking the C library for local
// time reads the time-zone file each time, so offsets are kept per quarter
// hour (offsets change on quarter-hour boundaries at the finest).
bool localOffset(double value, int &offset)
{
    static QHash<qint64, int> offsets;
    if (!std::isfinite(value) || std::fabs(value) > 1e13)
        return false;
    const qint64 bucket = qint64(std::floor(value / 900.0));
    auto it = offsets.constFind(bucket);
    if (it != offsets.constEnd()) {
        offset = *it;
        return true;
    }
    const QDateTime dt = chartTimeToDateTime(bucket * 900.0);
    if (!dt.isValid())
        return false;
    if (offsets.size() > 4096)
        offsets.clear();
    offset = dt.offsetFromUtc();
    offsets.insert(bucket, offset);
    return true;
}

QString formatNumber(double value, const QString &pattern)
{
    int i = 0;
    while (i < pattern.size() && pattern.at(i).isDigit())
        ++i;
    const int decimals = qBound(0, pattern.left(i).toInt(), 15);
    const QChar point = i < pattern.size() ? pattern.at(i) : QLatin1Char('.');
    const QChar thousands = i + 1 < pattern.size() ? pattern.at(i + 1) : QChar();
    QString text = QString::number(value, 'f', decimals);
    if (text == QLatin1String("-0") ||
        (text.startsWith(QLatin1String("-0.")) && text.count(QLatin1Char('0')) == text.size() - 2))
        text.remove(0, 1);
    int dot = text.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        text[dot] = point;
    else
        dot = text.size();
    if (!thousands.isNull()) {
        const int firstDigit = text.startsWith(QLatin1Char('-')) ? 1 : 0;
        for (int p = dot - 3; p > firstDigit; p -= 3)
            text.insert(p, thousands);
    }
    return text;
}

bool looksLikeDateFormat(const QString &pattern)
{
    return !pattern.isEmpty() && !pattern.at(0).isDigit();
}

// wallShift, when given, turns a date value into local wall-clock seconds
// since the epoch; formatting then needs no time-zone lookup.
QString formatOne(double value, const QString &pattern, bool asDate, const double *wallShift)
{
    if (pattern.isEmpty()) {
        if (asDate)
            return formatOne(value, QStringLiteral("yyyy-mm-dd hh:nn:ss"), true, wallShift);
        return QString::number(value, 'g', 10);
    }
    if (looksLikeDateFormat(pattern)) {
        if (wallShift && std::isfinite(value)) {
            const QDateTime wall = QDateTime::fromMSecsSinceEpoch(
                qint64(std::llround((value + *wallShift) * 1000.0)), Qt::UTC);
            return wall.toString(toQtDateFormat(pattern));
        }
        const QDateTime dt = chartTimeToDateTime(value);
        return dt.isValid() ? dt.toString(toQtDateFormat(pattern)) : QString();
    }
    return formatNumber(value, pattern);
}

QString formatWith(double value, const QString &format, bool asDate, const double *wallShift)
{
    if (!format.contains(QLatin1Char('{')))
        return formatOne(value, format, asDate, wallShift);
    QString out;
    int pos = 0;
    while (pos < format.size()) {
        const int open = format.indexOf(QLatin1String("{value"), pos);
        const int close = open < 0 ? -1 : format.indexOf(QLatin1Char('}'), open);
        if (open < 0 || close < 0) {
            out += format.mid(pos);
            break;
        }
        out += format.mid(pos, open - pos);
        const QString inner = format.mid(open + 6, close - open - 6);
        out += formatOne(value, inner.startsWith(QLatin1Char('|')) ? inner.mid(1) : QString(),
                         asDate, wallShift);
        pos = close + 1;
    }
    return out;
}

} // namespace

ChartAxis::ChartAxis(Orientation orientation)
    : m_orientation(orientation), m_majorSpacing(orientation == Horizontal ? 50 : 30)
{
}

void ChartAxis::setTickDensity(int majorSpacing, int minorSpacing)
{
    m_majorSpacing = qMax(1, majorSpacing);
    m_minorSpacing = minorSpacing;
}

void ChartAxis::setWidth(int width)
{
    m_width = qMax(0, width);
}

void ChartAxis::setColors(int axisColor, int labelColor, int titleColor, int tickColor)
{
    m_axisColor = axisColor;
    m_titleColor = titleColor;
    m_labelColor = labelColor;
    m_tickColor = tickColor;
}

void ChartAxis::setPlacement(Side side, int offset)
{
    m_side = side;
    m_offset = qMax(0, offset);
}

int ChartAxis::tickColor() const
{
    return m_tickColor == -1 ? m_axisColor : m_tickColor;
}

void ChartAxis::setLabelStyle(const QString &fontFile, double size)
{
    m_labelFont = fontFile;
    m_labelSize = size;
}

void ChartAxis::setDateScale(double lower, double upper, double majorStep, double minorStep)
{
    setLinearScale(lower, upper, majorStep, minorStep);
    m_dateScale = true;
}

void ChartAxis::setLinearScale(double lower, double upper, double majorStep, double minorStep)
{
    m_fixedScale = true;
    m_dateScale = false;
    m_min = qMin(lower, upper);
    m_max = qMax(lower, upper);
    if (m_max == m_min)
        m_max = m_min + 1;
    m_majorStep = qMax(0.0, majorStep);
    m_minorStep = qMax(0.0, minorStep);
}

void ChartAxis::setLabelFormat(const QString &format)
{
    m_labelFormat = format;
}

QString ChartAxis::formatValue(double value, const QString &format, bool asDate)
{
    return formatWith(value, format, asDate, nullptr);
}

const double *ChartAxis::wallShiftFor(double value) const
{
    return m_wallShiftValid && value >= m_min && value <= m_max ? &m_wallShift : nullptr;
}

QString ChartAxis::getFormattedLabel(double value, const QString &format) const
{
    if (!m_hasScale || value == NoValue)
        return QString();
    if (format.isEmpty())
        return tickLabel(value);
    return formatWith(value, format, m_dateScale, wallShiftFor(value));
}

QString ChartAxis::tickLabel(double value) const
{
    if (!m_labelFormat.isEmpty())
        return formatWith(value, m_labelFormat, m_dateScale, wallShiftFor(value));
    if (m_dateScale) {
        const char *fmt = m_majorStep < 60 ? "hh:nn:ss" : m_majorStep < 86400 ? "hh:nn" : "mmm dd";
        return formatOne(value, QLatin1String(fmt), true, wallShiftFor(value));
    }
    // Large numbers get a unit suffix so that they fit beside the axis.
    const double magnitude = qMax(std::fabs(m_min), std::fabs(m_max));
    if (magnitude >= 1e15)
        return QString::number(value, 'g', 3);
    double scale = 1;
    QString suffix;
    if (magnitude >= 1e5) {
        const struct {
            double scale;
            const char *suffix;
        } units[] = {{1e12, "T"}, {1e9, "G"}, {1e6, "M"}, {1e3, "k"}};
        for (const auto &u : units) {
            if (magnitude >= u.scale * 10) {
                scale = u.scale;
                suffix = QLatin1String(u.suffix);
                break;
            }
        }
    }
    const double step = m_majorStep / scale;
    int decimals = 0;
    if (step > 0 && step < 1)
        decimals = qBound(0, int(std::ceil(-std::log10(step) - 1e-9)), 10);
    return formatNumber(value / scale, QString::number(decimals) + QLatin1Char('.')) + suffix;
}

double ChartAxis::toPixel(double value) const
{
    return m_pixelAtMin + (value - m_min) / (m_max - m_min) * (m_pixelAtMax - m_pixelAtMin);
}

double ChartAxis::fromPixel(double pixel) const
{
    if (m_pixelAtMax == m_pixelAtMin)
        return m_min;
    return m_min + (pixel - m_pixelAtMin) / (m_pixelAtMax - m_pixelAtMin) * (m_max - m_min);
}

void ChartAxis::layout(double pixelAtMin, double pixelAtMax, bool hasData, double dataMin,
                       double dataMax)
{
    m_pixelAtMin = pixelAtMin;
    m_pixelAtMax = pixelAtMax;
    m_major.clear();
    m_minor.clear();
    m_wallShiftValid = false;
    const double length = std::fabs(pixelAtMax - pixelAtMin);
    if (m_fixedScale) {
        m_hasScale = true;
    } else if (hasData) {
        m_hasScale = true;
        double lo = dataMin;
        double hi = dataMax;
        if (m_orientation == Vertical) {
            // Keep zero on the axis when the data lie close to it.
            if (lo > 0 && lo < hi * 0.2)
                lo = 0;
            else if (hi < 0 && hi > lo * 0.2)
                hi = 0;
        }
        if (hi == lo) {
            const double pad = lo == 0 ? 1 : std::fabs(lo) * 0.1;
            lo -= pad;
            hi += pad;
        }
        m_min = lo;
        m_max = hi;
        m_majorStep = 0;
        m_minorStep = 0;
    } else {
        m_hasScale = false;
        m_min = 0;
        m_max = 1;
        return;
    }
    if (length < 1)
        return;
    if (m_dateScale)
        chooseDateTicks(length);
    else
        chooseLinearTicks(length, !m_fixedScale);
}

void ChartAxis::chooseLinearTicks(double pixelLength, bool extend)
{
    const double span = m_max - m_min;
    if (m_majorStep <= 0) {
        const double maxTicks = qMax(1.0, std::floor(pixelLength / m_majorSpacing));
        const double raw = span / maxTicks;
        const double mag = std::pow(10.0, std::floor(std::log10(raw)));
        double step = mag * 10;
        for (double m : {1.0, 2.0, 5.0, 10.0}) {
            if (mag * m >= raw * (1 - 1e-9)) {
                step = mag * m;
                break;
            }
        }
        m_majorStep = step;
    }
    if (extend) {
        m_min = std::floor(m_min / m_majorStep + 1e-9) * m_majorStep;
        m_max = std::ceil(m_max / m_majorStep - 1e-9) * m_majorStep;
        if (m_max <= m_min)
            m_max = m_min + m_majorStep;
    }
    const double pxPerUnit = pixelLength / (m_max - m_min);
    if (m_minorStep <= 0) {
        const int minorSpacing = m_minorSpacing > 0 ? m_minorSpacing : qMax(1, m_majorSpacing / 5);
        m_minorStep = m_majorStep;
        for (int div : {10, 5, 2}) {
            if (m_majorStep / div * pxPerUnit >= minorSpacing) {
                m_minorStep = m_majorStep / div;
                break;
            }
        }
    }
    const double eps = m_majorStep * 1e-7;
    for (double v = std::ceil(m_min / m_majorStep - 1e-9) * m_majorStep;
         v <= m_max + eps && m_major.size() < 1000; v += m_majorStep)
        m_major.append(std::fabs(v) < eps ? 0.0 : v);
    for (double v = std::ceil(m_min / m_minorStep - 1e-9) * m_minorStep;
         v <= m_max + eps && m_minor.size() < 5000; v += m_minorStep)
        m_minor.append(v);
}

void ChartAxis::chooseDateTicks(double pixelLength)
{
    const double span = m_max - m_min;
    const double pxPerSecond = pixelLength / span;
    if (m_majorStep <= 0) {
        m_majorStep = kDateSteps[sizeof(kDateSteps) / sizeof(kDateSteps[0]) - 1];
        for (double s : kDateSteps) {
            if (s * pxPerSecond >= m_majorSpacing) {
                m_majorStep = s;
                break;
            }
        }
        while (m_majorStep * pxPerSecond < m_majorSpacing && m_majorStep < span)
            m_majorStep *= 2;
    }
    if (m_minorStep <= 0) {
        const int minorSpacing = m_minorSpacing > 0 ? m_minorSpacing : qMax(1, m_majorSpacing / 5);
        m_minorStep = m_majorStep;
        for (double s : kDateSteps) {
            if (s >= m_majorStep)
                break;
            const double ratio = m_majorStep / s;
            if (s * pxPerSecond >= minorSpacing && std::fabs(ratio - std::round(ratio)) < 1e-9) {
                m_minorStep = s;
                break;
            }
        }
    }
    // Ticks sit on round local times: shift into wall-clock seconds, round, shift back.
    int offsetFirst = 0;
    int offsetLast = 0;
    const bool valid = localOffset(m_min, offsetFirst) && localOffset(m_max, offsetLast);
    const double shift = valid ? offsetFirst - epochShift() : 0.0;
    // One offset from UTC over the whole axis (no daylight-saving change
    // inside): labels are formatted from wall-clock seconds directly.
    m_wallShift = shift;
    m_wallShiftValid = valid && offsetFirst == offsetLast;
    auto fill = [&](double step, QVector<double> &out) {
        const double eps = step * 1e-7;
        for (double wall = std::ceil((m_min + shift) / step - 1e-9) * step;
             wall - shift <= m_max + eps && out.size() < 2000; wall += step)
            out.append(wall - shift);
    };
    fill(m_majorStep, m_major);
    fill(m_minorStep, m_minor);
}
