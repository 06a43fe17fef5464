// Median build + render time of one device chart against QCustomPlot.
//
//   bench_chart [iterations [ours.png [qcustomplot.png]]]   (QT_QPA_PLATFORM=offscreen)
//
// Every iteration is one new sample: the 240-slot window moves on by one
// interval, a new chart is built, laid out and rendered, the track cursor is
// drawn at the newest sample and the picture becomes a pixmap, as the chart
// widget shows it. QCustomPlot gets the same window and replots into a pixmap
// of the same size with antialiasing.
#include "chart/drawarea.h"
#include "chart/xychart.h"
#include "chartfixture.h"
#include "common/common.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QPixmap>

#ifdef QK_HAVE_QCUSTOMPLOT
#include <qcustomplot.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{

constexpr int kInterval = 10000;
constexpr int kLabelWidth = 810; // chart = label width - 10
constexpr int kHeight = 200;

struct Series {
    std::vector<double> times;
    std::vector<double> values;
};

// Enough history for every iteration to see a fresh window; every 37th value missing.
Series makeSeries(int iterations)
{
    Series s;
    const double start = QDateTime(QDate(2026, 12, 6), QTime(6, 0)).toMSecsSinceEpoch() / 1000.0;
    const int n = ChartFixture::kSlots + iterations;
    for (int i = 0; i < n; ++i) {
        s.times.push_back(start + i * (kInterval / 1000.0));
        s.values.push_back(i % 37 == 5 ? NoValue
                                       : 23.5 + 2.2 * std::sin(i / 20.0) + 0.1 * std::sin(i * 1.7));
    }
    return s;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int iterations = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    const int warmup = 20;
    const Series s = makeSeries(iterations + warmup);
#ifdef QK_HAVE_QCUSTOMPLOT
    QCustomPlot plot;
    plot.resize(800, 200);
    plot.setAntialiasedElements(QCP::aeAll);
    plot.setBackground(QColor(0x59, 0x59, 0x59));
    QLinearGradient plotBg(0, 25, 0, 185);
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
    }
    QCPGraph *graph = plot.addGraph();
    graph->setPen(QPen(QColor(255, 0, 0), 1));
    std::vector<double> theirs, ratios;
#endif
    std::vector<double> ours, build, render, cursor, pixmap;

    for (int it = 0; it < iterations + warmup; ++it) {
        const QVector<double> times(s.times.begin() + it,
                                    s.times.begin() + it + ChartFixture::kSlots);
        const QVector<double> values(s.values.begin() + it,
                                     s.values.begin() + it + ChartFixture::kSlots);
        QElapsedTimer t;
        t.start();
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(kLabelWidth, kHeight, times, values,
                                                            0xFF0000, "CH1", kInterval));
        c->layout();
        const double tBuild = msSince(t);
        c->makeChart();
        const double tRender = msSince(t);
        ChartFixture::drawTrackCursor(c.get(), 100000, kInterval);
        const double tCursor = msSince(t);
        const QPixmap pm = QPixmap::fromImage(c->makeImage());
        const double tAll = msSince(t);
        if (it >= warmup) {
            build.push_back(tBuild);
            render.push_back(tRender - tBuild);
            cursor.push_back(tCursor - tRender);
            pixmap.push_back(tAll - tCursor);
            ours.push_back(tAll);
        }
        if (it == iterations + warmup - 1 && argc > 2)
            pm.save(QString::fromLocal8Bit(argv[2]));
#ifdef QK_HAVE_QCUSTOMPLOT
        // The same window through QCustomPlot, right after ours, so that both
        // see the same machine load.
        {
            QElapsedTimer q;
            q.start();
            QVector<double> keys(ChartFixture::kSlots);
            QVector<double> vals(ChartFixture::kSlots);
            for (int i = 0; i < ChartFixture::kSlots; ++i) {
                keys[i] = s.times[size_t(it + i)];
                const double v = s.values[size_t(it + i)];
                vals[i] = v == NoValue ? qQNaN() : v;
            }
            graph->setData(keys, vals, true);
            plot.xAxis->setRange(keys.last() - 2400, keys.last());
            plot.yAxis->rescale();
            const QPixmap qpm = plot.toPixmap(800, 200);
            if (it >= warmup) {
                theirs.push_back(msSince(q));
                ratios.push_back(tAll / theirs.back());
            }
            if (it == iterations + warmup - 1 && argc > 3)
                qpm.save(QString::fromLocal8Bit(argv[3]));
        }
#endif
    }
    const double oursMedian = median(ours);
    std::printf("chart engine, 800 x 200, 240 points + track cursor: median %.3f ms per chart "
                "(build+layout %.3f, render %.3f, track cursor %.3f, to pixmap %.3f; %d charts)\n",
                oursMedian, median(build), median(render), median(cursor), median(pixmap),
                iterations);

    // Mouse movement only redraws the dynamic layer.
    {
        const QVector<double> times(s.times.begin(), s.times.begin() + ChartFixture::kSlots);
        const QVector<double> values(s.values.begin(), s.values.begin() + ChartFixture::kSlots);
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(kLabelWidth, kHeight, times, values,
                                                            0xFF0000, "CH1", kInterval));
        std::vector<double> moves;
        for (int it = 0; it < iterations; ++it) {
            QElapsedTimer t;
            t.start();
            ChartFixture::drawTrackCursor(c.get(), 45 + (it * 7) % 750, kInterval);
            const QPixmap pm = QPixmap::fromImage(c->makeImage());
            moves.push_back(msSince(t));
        }
        std::printf("track cursor redraw on mouse move (dynamic layer + pixmap): median %.3f ms\n",
                    median(moves));
    }

#ifdef QK_HAVE_QCUSTOMPLOT
    const double theirMedian = median(theirs);
    std::printf(
        "QCustomPlot, same data, 800 x 200 pixmap, antialiased: median %.3f ms per replot\n",
        theirMedian);
    std::printf(
        "ratio ours / QCustomPlot: %.2f (ratio of medians), %.2f (median of per-sample ratios)\n",
        oursMedian / theirMedian, median(ratios));
#else
    std::printf("QCustomPlot not found: no comparison\n");
#endif
    return 0;
}
