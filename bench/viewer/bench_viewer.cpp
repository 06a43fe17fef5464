// Times the data viewer on generated recordings of 16 devices at 1 s (the
// recorder's own table), each figure beside its anchors measured in the same
// run, interleaved, with the ratio taken per run:
//
//   redraw      RangeLoader + chart build + render, 4 series, 1000 px, after a
//               zoom or pan to a random place; anchors: the naive query per
//               series (WHERE serialno = ? AND pointDate BETWEEN ? AND ?) and
//               loading every row of the range into memory
//   first       open, load the summary file, draw the whole period
//   summary     build rate (rows/s) beside a bare scan of the same rows, and
//               the update for one hour of new rows
//   rss         resident memory (VmHWM) after the viewer's own work
//   export      CSV rows/s beside `sqlite3 -csv` writing the same rows
//
//   QT_QPA_PLATFORM=offscreen bench_viewer [days ...]     (default 1 30)
//
// Databases are made by qk-gendb under /tmp/qk-bench (reused when present).
#include "chart/linelayer.h"
#include "chart/xychart.h"
#include "common/common.h"
#include "record/recordreader.h"
#include "viewer/csvexporter.h"
#include "viewer/rangeloader.h"
#include "viewer/summarycache.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr qint64 kStart = 1767225600;
constexpr int kColumns = 1000;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long vmKb(const char *key)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(int(strlen(key))).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

QString serial(int d)
{
    return QStringLiteral("QKBENCH%1").arg(d, 11, 10, QLatin1Char('0'));
}

QVector<SeriesInfo> fourSeries()
{
    QVector<SeriesInfo> s;
    for (int d : {1, 2}) {
        for (int c : {1, 2}) {
            SeriesInfo info;
            info.deviceNumber = serial(d);
            info.channel = c;
            info.low = 10;
            info.high = 30;
            info.hasLimits = true;
            s.append(info);
        }
    }
    return s;
}

std::vector<double> g_loadMs; // the loading part of each redraw

// What the window does for one redraw.
double viewerRedraw(RecordReader &reader, const SummaryCache &summary, qint64 from, qint64 to)
{
    QElapsedTimer t;
    t.start();
    RangeLoader loader(&reader, &summary, 1);
    QVector<SeriesView> views;
    loader.load(from, to, kColumns, fourSeries(), &views);
    g_loadMs.push_back(t.nsecsElapsed() / 1e6);
    XYChart chart(kColumns + 80, 500, 0x303030);
    chart.setPlotArea(60, 12, kColumns, 450);
    chart.xAxis()->setDateScale(double(from), double(to));
    for (const SeriesView &v : qAsConst(views)) {
        LineLayer *layer = chart.addLineLayer();
        layer->setXData(v.x);
        layer->addDataSet(v.y, 0x00D0D0);
    }
    chart.makeChart();
    return t.nsecsElapsed() / 1e6;
}

double naiveQuery(sqlite3 *db, qint64 from, qint64 to, qint64 *rows)
{
    QElapsedTimer t;
    t.start();
    sqlite3_stmt *s = nullptr;
    sqlite3_prepare_v2(db,
                       "select channel1, channel2, pointDate from fennolink where serialno = ?1 "
                       "and pointDate between ?2 and ?3",
                       -1, &s, nullptr);
    *rows = 0;
    double sink = 0;
    for (int d : {1, 2}) {
        const QByteArray name = serial(d).toUtf8();
        sqlite3_bind_text(s, 1, name.constData(), name.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, from);
        sqlite3_bind_int64(s, 3, to);
        while (sqlite3_step(s) == SQLITE_ROW) {
            sink += sqlite3_column_double(s, 0) + sqlite3_column_double(s, 1);
            ++*rows;
        }
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    (void)sink;
    return t.nsecsElapsed() / 1e6;
}

double loadAll(RecordReader &reader, qint64 from, qint64 to)
{
    QElapsedTimer t;
    t.start();
    std::vector<RecordRow> rows;
    reader.forEachRowInTime(from, to, {}, [&](const RecordRow &row) {
        rows.push_back(row);
        return true;
    });
    return t.nsecsElapsed() / 1e6;
}

void benchFile(int days)
{
    const QString path = QStringLiteral("/tmp/qk-bench/days-%1.dat").arg(days);
    QDir().mkpath(QStringLiteral("/tmp/qk-bench"));
    if (QProcess::execute(QStringLiteral(QK_GENDB),
                          {"--days", QString::number(days), "--out", path}) != 0) {
        std::printf("days %d: generator failed\n", days);
        return;
    }
    RecordReader reader;
    if (!reader.open(path)) {
        std::printf("days %d: %s\n", days, qPrintable(reader.errorText()));
        return;
    }
    const qint64 maxId = reader.maxId();
    std::printf("\n== %d day(s): %lld rows, %.2f GiB\n", days, maxId,
                QFileInfo(path).size() / 1073741824.0);

    // Summary: build rate beside a bare scan that reads the same columns of
    // the same rows. An untimed scan first brings the file into the page
    // cache, so neither pays for the disk; then scan, build, scan.
    QFile::remove(SummaryCache::cacheFileFor(path));
    auto summary = std::make_unique<SummaryCache>(path);
    const qint64 hourRows = 16 * 3600;
    const qint64 buildRows = maxId - hourRows;
    // One id range read as the summary reads it, through its own connection.
    auto scanRange = [&path](qint64 afterId, qint64 upToId) {
        RecordReader own;
        own.open(path);
        sqlite3_stmt *s = nullptr;
        sqlite3_prepare_v2(own.handle(),
                           "select id, serialno, channel1, channel2, pointDate from fennolink "
                           "where id > ?1 and id <= ?2 order by id",
                           -1, &s, nullptr);
        sqlite3_bind_int64(s, 1, afterId);
        sqlite3_bind_int64(s, 2, upToId);
        double sink = 0;
        qint64 bytes = 0;
        while (sqlite3_step(s) == SQLITE_ROW) {
            sink += double(sqlite3_column_int64(s, 0));
            bytes += sqlite3_column_bytes(s, 1) + (sqlite3_column_text(s, 1) ? 1 : 0);
            if (sqlite3_column_type(s, 2) != SQLITE_NULL)
                sink += sqlite3_column_double(s, 2);
            if (sqlite3_column_type(s, 3) != SQLITE_NULL)
                sink += sqlite3_column_double(s, 3);
            sink += double(sqlite3_column_int64(s, 4));
        }
        sqlite3_finalize(s);
        if (sink == 42.0 && bytes == 42)
            std::printf(" ");
    };
    // The same rows split into as many ranges as threads, read at once.
    auto scan = [&](int threads) {
        QElapsedTimer timer;
        timer.start();
        std::vector<std::thread> workers;
        for (int i = 0; i < threads; ++i)
            workers.emplace_back(scanRange, buildRows * i / threads, buildRows * (i + 1) / threads);
        for (std::thread &worker : workers)
            worker.join();
        return timer.nsecsElapsed() / 1e6;
    };
    const int threads = std::clamp(QThread::idealThreadCount(), 1, 4);
    scan(1);
    QElapsedTimer t;
    for (int n : {1, threads}) {
        const double scanBefore = scan(n);
        summary.reset(); // the viewer holds one summary at a time
        auto built = std::make_unique<SummaryCache>(path);
        std::atomic<qint64> progress{0};
        std::atomic<bool> cancel{false};
        t.start();
        if (n == 1)
            built->update(reader, buildRows);
        else
            built->build(buildRows, n, &progress, &cancel, nullptr);
        const double buildMs = t.nsecsElapsed() / 1e6;
        const double scanAfter = scan(n);
        const double scanMs = (scanBefore + scanAfter) / 2;
        const double buildRate = double(buildRows) / buildMs * 1000;
        const double scanRate = double(buildRows) / scanMs * 1000;
        std::printf("summary build    %d thread(s): %.2f M rows/s (anchor: the same columns read "
                    "on as many "
                    "threads %.2f M rows/s, before %.0f ms and after %.0f ms; ratio %.2f)  memory "
                    "%.0f MB\n",
                    n, buildRate / 1e6, scanRate / 1e6, scanBefore, scanAfter, buildRate / scanRate,
                    built->memoryBytes() / 1048576.0);
        summary = std::move(built); // the last one built is the one the viewer would use
        if (threads == 1)
            break;
    }
    t.start();
    const qint64 updated = summary->update(reader, 0);
    const double updateMs = t.nsecsElapsed() / 1e6;
    summary->save();
    reader.resumeTimeOrder(summary->timeOrder());
    std::printf("summary update   %.1f ms for one hour of new rows (%lld rows)\n", updateMs,
                updated);

    // First picture of the whole period, from a fresh open with the summary file.
    qint64 first = 0, last = 0;
    reader.timeBounds(&first, &last);
    {
        // The summary loaded from its file replaces the one built above.
        summary.reset();
        t.start();
        RecordReader fresh;
        fresh.open(path);
        auto loaded = std::make_unique<SummaryCache>(path);
        loaded->load(fresh);
        fresh.resumeTimeOrder(loaded->timeOrder());
        loaded->update(fresh, 0);
        viewerRedraw(fresh, *loaded, first, last);
        std::printf("first picture    %.0f ms (open, summary file, whole period drawn)\n",
                    t.nsecsElapsed() / 1e6);
        summary = std::move(loaded);
    }

    // Redraws after zoom/pan to random places, per range width.
    QRandomGenerator random(7);
    const qint64 span = last - first;
    struct Width {
        const char *name;
        qint64 seconds;
    };
    const Width widths[] = {
        {"1 h", 3600}, {"6 h", 6 * 3600}, {"1 day", 86400}, {"7 days", 7 * 86400}, {"all", span}};
    std::vector<double> all;
    for (const Width &w : widths) {
        if (w.seconds > span + 1)
            continue;
        std::vector<double> ours;
        for (int i = 0; i < 21; ++i) {
            const qint64 from =
                first + qint64(random.bounded(double(std::max<qint64>(1, span - w.seconds))));
            ours.push_back(viewerRedraw(reader, *summary, from, from + w.seconds));
        }
        all.insert(all.end(), ours.begin(), ours.end());
        const std::vector<double> loads(g_loadMs.end() - 21, g_loadMs.end());
        std::printf("redraw %-7s   median %.1f ms (21 runs; of which loading %.1f ms)\n", w.name,
                    median(ours), median(loads));
    }
    std::printf("redraw any      median %.1f ms, worst %.1f ms\n", median(all),
                *std::max_element(all.begin(), all.end()));
    std::printf("rss              VmHWM %ld MB, VmRSS %ld MB after the viewer's work\n",
                vmKb("VmHWM:") / 1024, vmKb("VmRSS:") / 1024);

    // Anchors, interleaved with ours on the same ranges (fewer runs and ranges
    // on big files: the naive query scans the whole table for each device).
    for (const Width &w : widths) {
        const bool big = days > 1;
        if (w.seconds > span + 1 || (big && w.seconds != 3600 && w.seconds != 86400))
            continue;
        std::vector<double> ratioNaive, ratioLoad, naiveMs, loadMs, oursMs;
        for (int i = 0; i < (big ? 1 : 3); ++i) {
            const qint64 from =
                first + qint64(random.bounded(double(std::max<qint64>(1, span - w.seconds))));
            qint64 rows = 0;
            const double a = viewerRedraw(reader, *summary, from, from + w.seconds);
            const double n = naiveQuery(reader.handle(), from, from + w.seconds, &rows);
            const double l = loadAll(reader, from, from + w.seconds);
            oursMs.push_back(a);
            naiveMs.push_back(n);
            loadMs.push_back(l);
            ratioNaive.push_back(n / a);
            ratioLoad.push_back(l / a);
        }
        std::printf("anchor %-7s   ours %.1f ms | naive query %.0f ms (x%.0f) | load all rows %.0f "
                    "ms (x%.1f)\n",
                    w.name, median(oursMs), median(naiveMs), median(ratioNaive), median(loadMs),
                    median(ratioLoad));
    }

    // Export one day of all 32 channels beside sqlite3 -csv writing the same rows.
    {
        qint64 firstId = 0, lastId = 0;
        const qint64 from = first + (span > 86400 ? 86400 : 0);
        const qint64 to = from + std::min<qint64>(86399, span);
        reader.idRangeForTime(from, to, &firstId, &lastId);
        QVector<SeriesInfo> every;
        for (int d = 1; d <= 16; ++d)
            for (int c = 1; c <= 2; ++c) {
                SeriesInfo info;
                info.deviceNumber = serial(d);
                info.channel = c;
                every.append(info);
            }
        std::vector<double> ratios, oursRate, theirsRate;
        const qint64 rows = lastId - firstId + 1;
        for (int i = 0; i < 3; ++i) {
            t.start();
            CsvExporter exporter(&reader, every, from, to,
                                 QStringLiteral("/tmp/qk-bench/viewer-export.csv"));
            exporter.start();
            exporter.run();
            const double ours = double(rows) / (t.nsecsElapsed() / 1e9);
            t.start();
            QProcess sqlite;
            sqlite.setStandardOutputFile(QStringLiteral("/tmp/qk-bench/sqlite-export.csv"));
            sqlite.start(QStringLiteral("sqlite3"),
                         {"-readonly", "-csv", path,
                          QStringLiteral("select pointDate, serialno, channel1, channel2 from "
                                         "fennolink where id between %1 and %2")
                              .arg(firstId)
                              .arg(lastId)});
            sqlite.waitForFinished(-1);
            const double theirs = double(rows) / (t.nsecsElapsed() / 1e9);
            oursRate.push_back(ours);
            theirsRate.push_back(theirs);
            ratios.push_back(ours / theirs);
        }
        QFile::remove(QStringLiteral("/tmp/qk-bench/viewer-export.csv"));
        QFile::remove(QStringLiteral("/tmp/qk-bench/sqlite-export.csv"));
        std::printf("export 1 day     %.2f M rows/s vs sqlite3 -csv %.2f M rows/s, ratio %.2f "
                    "(median of 3, %lld rows)\n",
                    median(oursRate) / 1e6, median(theirsRate) / 1e6, median(ratios), rows);
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("XDG_CACHE_HOME", "/tmp/qk-bench/viewer-cache");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("RideZodazo"));
    QList<int> days;
    for (int i = 1; i < argc; ++i)
        days << atoi(argv[i]);
    if (days.isEmpty())
        days = {1, 30};
    for (int d : days)
        benchFile(d);
    return 0;
}
