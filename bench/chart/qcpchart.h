#pragma once

#include <QPixmap>
#include <QVector>

class QCustomPlot;
class QCPGraph;
class QCPItemStraightLine;
class QCPItemText;
class QCPItemTracer;

// The device chart drawn by QCustomPlot: the same 800 x 200 picture (dark
// gradient, grid, time axis, antialiased line) and, when asked, the same
// track cursor made of QCustomPlot items: a dotted vertical line, a dot and
// a value box at the data point, the time in a box under the plot area, and
// the legend, date and view-length line above it.
class QcpChart
{
public:
    QcpChart(int width, int height);
    ~QcpChart();
    QcpChart(const QcpChart &) = delete;
    QcpChart &operator=(const QcpChart &) = delete;

    // keys in seconds since the epoch; NaN values are gaps. The cursor sits
    // at the newest sample.
    QPixmap draw(const QVector<double> &keys, const QVector<double> &values, double span,
                 bool cursor, const QString &intervalText);

private:
    QCustomPlot *m_plot;
    QCPGraph *m_graph;
    QCPItemStraightLine *m_line;
    QCPItemTracer *m_tracer;
    QCPItemText *m_value;
    QCPItemText *m_time;
    QCPItemText *m_legend;
    QCPItemText *m_date;
    QCPItemText *m_info;
    int m_width;
    int m_height;
};
