#include "chartfixture.h"

#include "chart/chartdataset.h"
#include "chart/drawarea.h"
#include "chart/linelayer.h"
#include "chart/xychart.h"
#include "common/common.h"

#include <cmath>

namespace ChartFixture
{

QVector<double> times(double endTime, int intervalMs)
{
    QVector<double> t(kSlots);
    for (int i = 0; i < kSlots; ++i)
        t[i] = endTime - (kSlots - 1 - i) * (intervalMs / 1000.0);
    return t;
}

QVector<double> sineValues(double base, double amplitude)
{
    QVector<double> v(kSlots);
    for (int i = 0; i < kSlots; ++i)
        v[i] = base + amplitude * std::sin(i / 20.0);
    return v;
}

XYChart *buildChart(int labelWidth, int labelHeight, const QVector<double> &times,
                    const QVector<double> &values, int color, const char *name, int intervalMs)
{
    const int w = labelWidth - 10;
    const int h = labelHeight;
    auto *c = new XYChart(w, h, 0x595959, int(0xFF000000), 0);
    const int bg = c->linearGradientColor(0, 25, 0, c->getHeight() - 15, 0x595959, 0x303030, false);
    c->setPlotArea(45, 25, w - 50, h - 55, bg, -1, int(0xFF000000), int(0x80303030),
                   int(0x80303030));
    c->setClipping(0);
    c->xAxis()->setTickDensity(75, 15);
    for (ChartAxis *a : {c->xAxis(), c->yAxis()}) {
        a->setWidth(2);
        a->setColors(int(0x80C0C0C0), int(0x80F4F4F4), -1, -1);
    }
    const double newest = times.value(kSlots - 1, NoValue);
    if (newest != NoValue) {
        c->xAxis()->setDateScale(newest - std::floor(double(intervalMs) * kSlots / 1000.0), newest,
                                 0, 0);
        c->xAxis()->setLabelFormat(QStringLiteral("{value|hh:nn:ss}"));
        LineLayer *layer = c->addLineLayer(0, 0);
        layer->setXData(times.constData(), kSlots);
        layer->addDataSet(values.constData(), kSlots, color, QString::fromLatin1(name));
    }
    return c;
}

QString drawTrackCursor(XYChart *c, int mouseX, int intervalMs)
{
    DrawArea *d = c->initDynamicLayer();
    PlotArea *pa = c->getPlotArea();
    const double xValue = c->getNearestXValue(mouseX);
    const int xCoor = c->getXCoor(xValue);
    d->vline(pa->getTopY(), pa->getBottomY(), xCoor, d->dashLineColor(int(0x80F4F4F4), 0x0101));

    ChartText t = d->text(QStringLiteral("<*font,bgColor=373737,color=e6e6e6*> ") +
                              c->xAxis()->getFormattedLabel(xValue, QStringLiteral("hh:nn:ss")) +
                              QStringLiteral(" <*/font*>"),
                          QStringLiteral("arialbd.ttf"), 8);
    const int tw = t.getWidth();
    t.draw(qMax(0, qMin(xCoor - tw / 2, c->getWidth() - tw)), pa->getBottomY() + 6, 0xFFFFFF, 7);

    QStringList legend;
    for (int i = 0; i < c->getLayerCount(); ++i) {
        LineLayer *layer = c->getLayerByZ(i);
        const int xIndex = layer->getXIndexOf(xValue, 0);
        for (int j = 0; j < layer->getDataSetCount(); ++j) {
            ChartDataSet *ds = layer->getDataSetByZ(j);
            const int color = ds->getDataColor();
            if (ds->getDataName().isEmpty() || color == int(0xFF000000))
                continue;
            const double value = ds->getValue(xIndex);
            const QString valueText = value == NoValue
                                          ? QStringLiteral("N/A")
                                          : c->formatValue(value, QStringLiteral("{value|2.}"));
            const QString hex = QStringLiteral("%1").arg(color & 0xFFFFFF, 6, 16, QLatin1Char('0'));
            legend << QStringLiteral("<*block*>") + ds->getLegendIcon() + QStringLiteral(" ") +
                          ds->getDataName() + QStringLiteral(": <*font,bgColor=") + hex +
                          QStringLiteral("*> ") + valueText + QStringLiteral(" <*font*><*/*>");
            const int y = c->getYCoor(ds->getPosition(xIndex), ds->getUseYAxis());
            if (y >= pa->getTopY() && y <= pa->getBottomY()) {
                d->circle(xCoor, y, 4, 4, color, color);
                ChartText label =
                    d->text(QStringLiteral("<*font,bgColor=") + hex + QStringLiteral("*> ") +
                                valueText + QStringLiteral(" <*font*>"),
                            QStringLiteral("arialbd.ttf"), 8);
                if (xCoor <= (pa->getLeftX() + pa->getRightX()) / 2)
                    label.draw(xCoor + 5, y, 0xFFFFFF, 4);
                else
                    label.draw(xCoor - 5, y, 0xFFFFFF, 6);
            }
        }
    }
    QString legendText = QStringLiteral("<*block*>");
    for (int i = legend.size() - 1; i >= 0; --i)
        legendText += legend.at(i);
    legendText += QStringLiteral("<*/*>");
    d->text(legendText, QStringLiteral("arialbd.ttf"), 8)
        .draw(pa->getLeftX() + 5, pa->getTopY() - 3, 0xFFFFFF, 1);

    d->text(QStringLiteral("<*block*><*font=arialbd.ttf*>[ ") +
                c->xAxis()->getFormattedLabel(xValue, QStringLiteral("yyyy-mm-dd hh:nn:ss")) +
                QStringLiteral(" ]<*/*><*/*>"),
            QStringLiteral("arialbd.ttf"), 8)
        .draw(pa->getLeftX() + 100, pa->getTopY() - 3, 0xFFFFFF, 1);

    d->text(QStringLiteral("<*block*><*block*><*font=arial.ttf*>View Length : 240 samples<*/*>"
                           "<*block*><*font=arial.ttf*>   Interval : ") +
                intervalText(intervalMs) + QStringLiteral(" <*/*><*/*>"),
            QStringLiteral("arial.ttf"), 8)
        .draw(pa->getRightX() - 240, pa->getTopY() - 3, 0xFFFFFF, 1);
    return legendText;
}

} // namespace ChartFixture
