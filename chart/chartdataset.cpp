#include "chart/chartdataset.h"

#include "common/common.h"

ChartDataSet::ChartDataSet(const double *data, int count, int color, const QString &name,
                           ChartAxis *yAxis)
    : m_color(color), m_name(name), m_yAxis(yAxis)
{
    if (data && count > 0)
        m_values = QVector<double>(data, data + count);
}

QString ChartDataSet::getLegendIcon() const
{
    return QStringLiteral("<*icon=line,color=%1*>")
        .arg(uint(m_color) & 0xFFFFFFFFu, 8, 16, QLatin1Char('0'));
}

double ChartDataSet::getValue(int index) const
{
    return index >= 0 && index < m_values.size() ? m_values.at(index) : NoValue;
}
