// Eight connection pollers at a 1000 ms interval against the gateway
// simulator (its own process); prints this process's resident memory every
// ten seconds, then the figure after the first minute and at the end.
//
//   bench_polling_memory [--duration SECONDS] [--nodes N] [--drop-every N] [--report-ms MS]
//                        [--tick-ms MS]

#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    const QStringList args = app.arguments();
    auto option = [&](const char *name, int fallback) {
        const int at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : fallback;
    };
    const int duration = qMax(10, option("--duration", 600));
    const int nodes = qBound(1, option("--nodes", 14), 14);
    const int dropEvery = qMax(0, option("--drop-every", 0));

    SimProcess sim;
    QStringList simArgs{QStringLiteral("--devices"), QStringLiteral("16")};
    if (dropEvery > 0)
        simArgs << QStringLiteral("--drop-every") << QString::number(dropEvery);
    const quint16 port = sim.start(simArgs);
    if (!port) {
        std::fprintf(stderr, "cannot start the gateway simulator\n");
        return 1;
    }

    dataIntervalMs = 1000;
    std::vector<std::unique_ptr<ConfiguredDevice>> pollers;
    for (int p = 0; p < 8; ++p) {
        auto poller = std::make_unique<ConfiguredDevice>();
        poller->setDeviceInfo(QStringLiteral("127.0.0.1"), port);
        for (int n = 0; n < nodes; ++n) {
            auto *node = new NodeDevice(
                QStringLiteral("QL%1").arg(p * 100 + n, 16, 10, QLatin1Char('0')), poller.get());
            node->startAddress = 8 * n;
            node->registerCount = 8;
            node->setAlarmRange(20, 24, 40, 60);
            poller->addNode(node);
        }
        pollers.push_back(std::move(poller));
    }

    QElapsedTimer clock;
    clock.start();
    qint64 rssMinute = 0;
    qint64 heapMinute = 0;
    qint64 polls = 0;
    qint64 connectedSamples = 0;
    QTimer deviceTimer;
    QObject::connect(&deviceTimer, &QTimer::timeout, [&] {
        for (auto &poller : pollers) {
            connectedSamples += poller->isConnected() ? 1 : 0;
            poller->poll();
            ++polls;
        }
    });
    // --tick-ms below 1000 drives the same kept-open pollers faster than real
    // time, to see in minutes where memory settles after hours of polling.
    deviceTimer.start(qBound(1, option("--tick-ms", dataIntervalMs), 60000));

    QTimer report;
    QObject::connect(&report, &QTimer::timeout, [&] {
        const qint64 seconds = clock.elapsed() / 1000;
        const qint64 rss = residentKiB();
        const qint64 heap = heapInUseKiB();
        if (seconds >= 60 && rssMinute == 0) {
            rssMinute = rss;
            heapMinute = heap;
        }
        std::printf("t=%4llds rss=%lld KiB heap=%lld KiB polls=%lld connected=%lld\n",
                    (long long)seconds, (long long)rss, (long long)heap, (long long)polls,
                    (long long)connectedSamples);
        std::fflush(stdout);
        if (seconds >= duration) {
            std::printf("8 pollers x %d nodes, %d s: RSS after 1 min %lld KiB, at end %lld KiB "
                        "(%+lld KiB); "
                        "heap in use after 1 min %lld KiB, at end %lld KiB (%+lld KiB)\n",
                        nodes, duration, (long long)rssMinute, (long long)rss,
                        (long long)(rss - rssMinute), (long long)heapMinute, (long long)heap,
                        (long long)(heap - heapMinute));
            QCoreApplication::exit(0);
        }
    });
    const int reportMs = qBound(1000, option("--report-ms", 10000), 60000);
    report.start(reportMs);
    const int rc = QCoreApplication::exec();
    for (auto &poller : pollers)
        poller->close();
    return rc;
}
