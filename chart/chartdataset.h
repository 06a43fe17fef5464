#pragma once

#include <QString>
#include <QVector>

class ChartAxis;

// A named, coloured series of values in a layer; NoValue marks a missing value.
class ChartDataSet
{
public:
    ChartDataSet(const double *data, int count, int color, const QString &name, ChartAxis *yAxis);

    QString getDataName() const { return m_name; }
    int getDataColor() const { return m_color; }
    // Markup of the small symbol that stands for this data set in legends.
    QString getLegendIcon() const;
    // The value at an index; NoValue outside the data.
    double getValue(int index) const;
    // Where the value at an index is drawn on the data set's y axis.
    double getPosition(int index) const { return getValue(index); }
    ChartAxis *getUseYAxis() const { return m_yAxis; }
    void setUseYAxis(ChartAxis *yAxis) { m_yAxis = yAxis; }

    int size() const { return m_values.size(); }
    const QVector<double> &values() const { return m_values; }

private:
    QVector<double> m_values;
    int m_color;
    QString m_name;
    ChartAxis *m_yAxis;
};
