#include "chart/qchartviewerlabel.h"

QChartViewerLabel::QChartViewerLabel(QWidget *parent) : QLabel(parent) {}

void QChartViewerLabel::resizeEvent(QResizeEvent *)
{
    emit refreshChart();
}
