#pragma once

#include <QHash>
#include <QPolygon>
#include <QString>
#include <QVector>

// Hot spots of a chart picture read from an HTML image map: every <area>
// with its shape, coordinates and attributes. "href" is also known as "path".
class HotSpotMap
{
public:
    explicit HotSpotMap(const QString &imageMap);

    bool isEmpty() const { return m_areas.isEmpty(); }
    int count() const { return m_areas.size(); }
    // Number (1-based) of the topmost hot spot at the point, 0 for none; the
    // hot spot found becomes the current one for getValue().
    int getHotSpot(int x, int y);
    // An attribute of the current hot spot; empty without one.
    QString getValue(const QString &key) const;

private:
    struct Area {
        QPolygon polygon; // rectangle or polygon
        QPoint centre;    // circle
        int radius = -1;
        QHash<QString, QString> values;
    };
    QVector<Area> m_areas;
    int m_current = 0;
};
