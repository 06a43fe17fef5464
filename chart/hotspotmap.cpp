#include "chart/hotspotmap.h"

#include <QRegularExpression>

HotSpotMap::HotSpotMap(const QString &imageMap)
{
    static const QRegularExpression areaRe(QStringLiteral("<area\\b([^>]*)>"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attrRe(
        QStringLiteral("([A-Za-z_][\\w-]*)\\s*=\\s*(\"([^\"]*)\"|'([^']*)'|([^\\s>]+))"));
    auto it = areaRe.globalMatch(imageMap);
    while (it.hasNext()) {
        const QString attrs = it.next().captured(1);
        Area area;
        auto at = attrRe.globalMatch(attrs);
        while (at.hasNext()) {
            const auto m = at.next();
            const QString key = m.captured(1).toLower();
            QString value = m.captured(3);
            if (value.isEmpty())
                value = m.captured(4);
            if (value.isEmpty())
                value = m.captured(5);
            area.values.insert(key, value);
        }
        if (area.values.contains(QStringLiteral("href")) &&
            !area.values.contains(QStringLiteral("path")))
            area.values.insert(QStringLiteral("path"), area.values.value(QStringLiteral("href")));
        const QString shape =
            area.values.value(QStringLiteral("shape"), QStringLiteral("rect")).toLower();
        QVector<int> c;
        for (const QString &part :
             area.values.value(QStringLiteral("coords")).split(QLatin1Char(','))) {
            bool ok = false;
            const int v = part.trimmed().toInt(&ok);
            if (ok)
                c.append(v);
        }
        if (shape == QLatin1String("circle") && c.size() >= 3) {
            area.centre = QPoint(c[0], c[1]);
            area.radius = c[2];
        } else if (shape == QLatin1String("poly") && c.size() >= 6) {
            for (int i = 0; i + 1 < c.size(); i += 2)
                area.polygon << QPoint(c[i], c[i + 1]);
        } else if (c.size() >= 4) {
            area.polygon = QPolygon(QRect(QPoint(qMin(c[0], c[2]), qMin(c[1], c[3])),
                                          QPoint(qMax(c[0], c[2]), qMax(c[1], c[3]))));
        } else {
            continue;
        }
        m_areas.append(area);
    }
}

int HotSpotMap::getHotSpot(int x, int y)
{
    m_current = 0;
    for (int i = 0; i < m_areas.size(); ++i) {
        const Area &a = m_areas.at(i);
        const bool hit = a.radius >= 0 ? (x - a.centre.x()) * (x - a.centre.x()) +
                                                 (y - a.centre.y()) * (y - a.centre.y()) <=
                                             a.radius * a.radius
                                       : a.polygon.containsPoint(QPoint(x, y), Qt::OddEvenFill);
        if (hit) {
            m_current = i + 1;
            break;
        }
    }
    return m_current;
}

QString HotSpotMap::getValue(const QString &key) const
{
    if (m_current <= 0 || m_current > m_areas.size())
        return QString();
    return m_areas.at(m_current - 1).values.value(key.toLower());
}
