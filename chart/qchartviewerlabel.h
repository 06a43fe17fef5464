#pragma once

#include <QLabel>

// A label that hosts a chart widget and announces every resize, so that its
// owner redraws the chart at the new size.
class QChartViewerLabel : public QLabel
{
    Q_OBJECT
public:
    explicit QChartViewerLabel(QWidget *parent = nullptr);

signals:
    void refreshChart();

protected:
    void resizeEvent(QResizeEvent *event) override;
};
