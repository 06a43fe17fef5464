// The device chart against QCustomPlot on equal work, and a bare QPainter
// drawing of the same picture as the floor.
//
//   bench_chart [--runs N] [--charts M] [--save DIR]   (QT_QPA_PLATFORM=offscreen)
//
// Every chart is one new sample: the 240-slot window moves on by one
// interval and the whole picture is made again and handed over as a pixmap,
// as the chart view does. Six series run interleaved chart by chart (their
// order rotating): ours, QCustomPlot and the floor, each without and with
// the track cursor (for QCustomPlot the same cursor made of its items). Per
// run the median of each series is taken and the ratios to QCustomPlot are
// formed; the table shows their median and spread over the runs.
#include "chart/xychart.h"
#include "chartfixture.h"
#include "common/common.h"
#include "floorchart.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>

#ifdef QK_HAVE_QCUSTOMPLOT
#include "qcpchart.h"
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

namespace
{

constexpr int kInterval = 10000;
constexpr int kLabelWidth = 810; // chart = label width - 10
constexpr int kWidth = kLabelWidth - 10;
constexpr int kHeight = 200;
constexpr double kSpan = ChartFixture::kSlots * kInterval / 1000.0;
enum Series { OursPlain, OursCursor, QcpPlain, QcpCursor, FloorPlain, FloorCursor, SeriesCount };
const char *const kNames[SeriesCount] = {"ours",          "ours + cursor",
                                         "QCustomPlot",   "QCustomPlot + cursor",
                                         "bare QPainter", "bare QPainter + cursor"};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

std::string joined(const std::vector<double> &v)
{
    std::string s;
    for (double x : v)
        s += (s.empty() ? "" : " ") + std::to_string(x);
    return s;
}

struct Window {
    QVector<double> times;  // chart seconds
    QVector<double> values; // NoValue for gaps
    QVector<double> nan;    // NaN for gaps
};

// The window of 240 samples ending at sample `end`; every 37th value missing.
Window windowAt(int end)
{
    Window w;
    const double start = QDateTime(QDate(2026, 12, 6), QTime(6, 0)).toMSecsSinceEpoch() / 1000.0;
    for (int i = end - ChartFixture::kSlots + 1; i <= end; ++i) {
        const double v =
            i % 37 == 5 ? NoValue : 23.5 + 2.2 * std::sin(i / 20.0) + 0.1 * std::sin(i * 1.7);
        w.times.append(start + i * (kInterval / 1000.0));
        w.values.append(v);
        w.nan.append(v == NoValue ? qQNaN() : v);
    }
    return w;
}

QPixmap ours(const Window &w, bool cursor)
{
    std::unique_ptr<XYChart> c(ChartFixture::buildChart(kLabelWidth, kHeight, w.times, w.values,
                                                        0xFF0000, "CH1", kInterval));
    c->makeChart();
    if (cursor)
        ChartFixture::drawTrackCursor(c.get(), c->getPlotArea()->getRightX(), kInterval);
    return QPixmap::fromImage(c->makeImage());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto option = [&args](const char *name, int fallback) {
        const int at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? std::max(1, args.at(at + 1).toInt()) : fallback;
    };
    const int runs = option("--runs", 5);
    const int charts = std::max(10, option("--charts", 200));
    const int saveAt = args.indexOf(QStringLiteral("--save"));
    const QString saveDir =
        saveAt > 0 && saveAt + 1 < args.size() ? args.at(saveAt + 1) : QString();
    const int warmup = 20;
    const QString interval = intervalText(kInterval);

    FloorChart floor(kWidth, kHeight);
#ifdef QK_HAVE_QCUSTOMPLOT
    QcpChart qcp(kWidth, kHeight);
#endif
    std::function<QPixmap(const Window &)> draw[SeriesCount] = {
        [](const Window &w) { return ours(w, false); },
        [](const Window &w) { return ours(w, true); },
#ifdef QK_HAVE_QCUSTOMPLOT
        [&](const Window &w) { return qcp.draw(w.times, w.nan, kSpan, false, interval); },
        [&](const Window &w) { return qcp.draw(w.times, w.nan, kSpan, true, interval); },
#else
        nullptr,
        nullptr,
#endif
        [&](const Window &w) { return floor.draw(w.times, w.nan, kSpan, false, interval); },
        [&](const Window &w) { return floor.draw(w.times, w.nan, kSpan, true, interval); },
    };

    std::vector<double> runMedian[SeriesCount];
    int sample = ChartFixture::kSlots;
    for (int run = 0; run < runs; ++run) {
        std::vector<double> times[SeriesCount];
        for (int it = 0; it < charts + (run == 0 ? warmup : 0); ++it, ++sample) {
            const Window w = windowAt(sample);
            for (int k = 0; k < SeriesCount; ++k) {
                const int s = (k + it) % SeriesCount;
                if (!draw[s])
                    continue;
                QElapsedTimer t;
                t.start();
                const QPixmap pm = draw[s](w);
                const double ms = t.nsecsElapsed() / 1e6;
                if (run > 0 || it >= warmup)
                    times[s].push_back(ms);
                if (!saveDir.isEmpty() && run == runs - 1 && it == charts - 1)
                    pm.save(QDir(saveDir).filePath(
                        QString::fromLatin1(kNames[s]).replace(QLatin1String(" + "), "-") +
                        QStringLiteral(".png")));
            }
        }
        for (int s = 0; s < SeriesCount; ++s)
            runMedian[s].push_back(median(times[s]));
    }

    std::printf("Device chart %d x %d, 240 points, %d runs of %d charts (ms per chart, median "
                "of the run medians)\n",
                kWidth, kHeight, runs, charts);
    for (int s = 0; s < SeriesCount; ++s) {
        if (draw[s])
            std::printf("  %-26s %8.3f\n", kNames[s], median(runMedian[s]));
    }
    std::printf("QKROW\tchart, ours with cursor, per chart\t-\tms\t%s\n",
                joined(runMedian[OursCursor]).c_str());
#ifdef QK_HAVE_QCUSTOMPLOT
    auto ratios = [&](Series a, Series b) {
        std::vector<double> r;
        for (int i = 0; i < runs; ++i)
            r.push_back(runMedian[a][size_t(i)] / runMedian[b][size_t(i)]);
        return joined(r);
    };
    const char *anchor = "QCustomPlot 2.1, same picture";
    std::printf("QKROW\tchart, no cursor: ours / anchor\t%s\tx\t%s\n", anchor,
                ratios(OursPlain, QcpPlain).c_str());
    std::printf("QKROW\tchart, cursor on both sides: ours / anchor\t%s\tx\t%s\n", anchor,
                ratios(OursCursor, QcpCursor).c_str());
    std::printf("QKROW\tchart floor, no cursor: bare QPainter / anchor\t%s\tx\t%s\n", anchor,
                ratios(FloorPlain, QcpPlain).c_str());
    std::printf("QKROW\tchart floor, cursor: bare QPainter / anchor\t%s\tx\t%s\n", anchor,
                ratios(FloorCursor, QcpCursor).c_str());
#else
    std::printf("QCustomPlot not found: no comparison\n");
#endif

    // Mouse movement over a chart redraws only the cursor layer.
    {
        const Window w = windowAt(ChartFixture::kSlots);
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(kLabelWidth, kHeight, w.times, w.values,
                                                            0xFF0000, "CH1", kInterval));
        std::vector<double> moves;
        for (int it = 0; it < charts; ++it) {
            QElapsedTimer t;
            t.start();
            ChartFixture::drawTrackCursor(c.get(), 45 + (it * 7) % 750, kInterval);
            const QPixmap pm = QPixmap::fromImage(c->makeImage());
            moves.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("  %-26s %8.3f\n", "cursor moved (ours)", median(moves));
    }
    return 0;
}
