#pragma once

#include <QString>
#include <QVector>

#include <memory>
#include <vector>

class ChartAxis;
class ChartDataSet;
class QPainter;

// A layer of lines: one x data array shared by its data sets. Missing values
// (NoValue in x or y) break a line; a value with no neighbour shows as a dot.
class LineLayer
{
public:
    explicit LineLayer(ChartAxis *yAxis);
    ~LineLayer();

    void setXData(const double *data, int count);
    void setXData(const QVector<double> &data) { setXData(data.constData(), data.size()); }
    ChartDataSet *addDataSet(const double *data, int count, int color = -1,
                             const QString &name = QString());
    ChartDataSet *addDataSet(const QVector<double> &data, int color = -1,
                             const QString &name = QString())
    {
        return addDataSet(data.constData(), data.size(), color, name);
    }
    // The y axis this layer's values are drawn on (the chart's y axis unless set).
    void setUseYAxis(ChartAxis *yAxis);
    void setLineWidth(int width);
    int lineWidth() const { return m_lineWidth; }

    // Index of the x value within the tolerance, -1 if there is none.
    int getXIndexOf(double xValue, double tolerance = 0) const;
    int getDataSetCount() const { return int(m_dataSets.size()); }
    ChartDataSet *getDataSetByZ(int z) const;

    // The x value of a point: the x data, or the index without x data.
    double xValue(int index) const;
    int pointCount() const;
    // Extent of the valid x values and y values; false when there is none.
    bool xRange(double &lo, double &hi) const;
    bool yRange(const ChartAxis *yAxis, double &lo, double &hi) const;

    void paint(QPainter &painter, const ChartAxis &xAxis) const;

private:
    ChartAxis *m_yAxis;
    QVector<double> m_x;
    bool m_hasX = false;
    std::vector<std::unique_ptr<ChartDataSet>> m_dataSets;
    int m_lineWidth = 1;
};
