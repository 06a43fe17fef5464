#include "qcpchart.h"

#include <QDateTime>

#include <qcustomplot.h>

namespace
{

QCPItemText *boxText(QCustomPlot *plot, const QColor &background, bool clip)
{
    auto *t = new QCPItemText(plot);
    t->setClipToAxisRect(clip);
    t->setColor(QColor(0xE6, 0xE6, 0xE6));
    t->setFont(QFont(QStringLiteral("Arial"), 8, QFont::Bold));
    if (background.isValid())
        t->setBrush(background);
    t->setPadding(QMargins(2, 0, 2, 0));
    return t;
}

} // namespace

QcpChart::QcpChart(int width, int height)
    : m_plot(new QCustomPlot), m_width(width), m_height(height)
{
    QCustomPlot &plot = *m_plot;
    plot.resize(width, height);
    plot.setAntialiasedElements(QCP::aeAll);
    plot.setBackground(QColor(0x59, 0x59, 0x59));
    QLinearGradient plotBg(0, 25, 0, height - 15);
    plotBg.setColorAt(0, QColor(0x59, 0x59, 0x59));
    plotBg.setColorAt(1, QColor(0x30, 0x30, 0x30));
    plot.axisRect()->setBackground(QBrush(plotBg));
    QSharedPointer<QCPAxisTickerDateTime> ticker(new QCPAxisTickerDateTime);
    ticker->setDateTimeFormat(QStringLiteral("hh:mm:ss"));
    plot.xAxis->setTicker(ticker);
    for (QCPAxis *axis : {plot.xAxis, plot.yAxis}) {
        axis->setBasePen(QPen(QColor(0xC0, 0xC0, 0xC0, 127), 2));
        axis->setTickLabelColor(QColor(0xF4, 0xF4, 0xF4, 127));
        axis->grid()->setPen(QPen(QColor(0x30, 0x30, 0x30, 127)));
        QFont font(QStringLiteral("Arial"));
        font.setPixelSize(11);
        axis->setTickLabelFont(font);
    }
    m_graph = plot.addGraph();
    m_graph->setPen(QPen(QColor(255, 0, 0), 1));

    m_line = new QCPItemStraightLine(&plot);
    m_line->setPen(QPen(QColor(0xF4, 0xF4, 0xF4, 127), 1, Qt::DotLine));
    m_tracer = new QCPItemTracer(&plot);
    m_tracer->setGraph(m_graph);
    m_tracer->setStyle(QCPItemTracer::tsCircle);
    m_tracer->setSize(8);
    m_tracer->setPen(QPen(QColor(255, 0, 0)));
    m_tracer->setBrush(QColor(255, 0, 0));
    m_value = boxText(&plot, QColor(255, 0, 0), true);
    m_value->position->setParentAnchor(m_tracer->position);
    m_value->position->setCoords(-6, 0);
    m_value->setPositionAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_time = boxText(&plot, QColor(0x37, 0x37, 0x37), false);
    m_time->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_legend = boxText(&plot, QColor(), false);
    m_date = boxText(&plot, QColor(), false);
    m_info = boxText(&plot, QColor(), false);
    m_info->setFont(QFont(QStringLiteral("Arial"), 8));
    for (QCPItemText *t : {m_legend, m_date, m_info}) {
        t->position->setType(QCPItemPosition::ptAbsolute);
        t->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
    }
    m_time->position->setTypeX(QCPItemPosition::ptPlotCoords);
    m_time->position->setTypeY(QCPItemPosition::ptAbsolute);
}

QcpChart::~QcpChart()
{
    delete m_plot;
}

QPixmap QcpChart::draw(const QVector<double> &keys, const QVector<double> &values, double span,
                       bool cursor, const QString &intervalText)
{
    QCustomPlot &plot = *m_plot;
    m_graph->setData(keys, values, true);
    plot.xAxis->setRange(keys.last() - span, keys.last());
    plot.yAxis->rescale();
    const QList<QCPAbstractItem *> items = {m_line,   m_tracer, m_value, m_time,
                                            m_legend, m_date,   m_info};
    for (QCPAbstractItem *item : items)
        item->setVisible(cursor);
    if (cursor) {
        const double key = keys.last();
        const double value = values.last();
        const QString valueText =
            qIsNaN(value) ? QStringLiteral("N/A") : QString::number(value, 'f', 2);
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(qint64(key * 1000));
        m_line->point1->setCoords(key, 0);
        m_line->point2->setCoords(key, 1);
        m_tracer->setGraphKey(key);
        m_tracer->setVisible(!qIsNaN(value));
        m_value->setVisible(!qIsNaN(value));
        m_value->setText(QLatin1Char(' ') + valueText + QLatin1Char(' '));
        m_time->position->setCoords(key, m_height - 28);
        m_time->setText(at.toString(QStringLiteral(" hh:mm:ss ")));
        m_legend->position->setCoords(50, 22);
        m_legend->setText(QStringLiteral("CH1: ") + valueText);
        m_date->position->setCoords(145, 22);
        m_date->setText(at.toString(QStringLiteral("[ yyyy-MM-dd hh:mm:ss ]")));
        m_info->position->setCoords(m_width - 245, 22);
        m_info->setText(QStringLiteral("View Length : 240 samples   Interval : ") + intervalText);
    }
    return plot.toPixmap(m_width, m_height);
}
