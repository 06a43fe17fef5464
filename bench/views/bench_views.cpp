// Cost of one acquisition round in the views: 16 devices on two connections
// each get one sample through the poller (nodes, 32 tiles, the device list)
// while the chart view of one device is open (two chart rebuilds), including
// the repaint that follows.
//
//   bench_views [rounds]     (default 300)

#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "view/chartview.h"
#include "view/projectcenter.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTest>
#include <QThread>
#include <QtMath>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace
{

// One reply of a gateway with `count` devices: two floats and two int32 per
// device, each 32-bit value low word first, each register low byte first.
QByteArray reply(int count, int round)
{
    QByteArray data;
    auto put32 = [&data](quint32 v) {
        const quint16 low = quint16(v & 0xFFFF);
        const quint16 high = quint16(v >> 16);
        for (quint16 reg : {low, high}) {
            data.append(char(reg & 0xFF));
            data.append(char(reg >> 8));
        }
    };
    for (int i = 0; i < count; ++i) {
        const float ch1 = float(20.0 + 5.0 * qSin(round / 10.0 + i));
        const float ch2 = float(50.0 + 10.0 * qCos(round / 13.0 + i));
        quint32 bits;
        std::memcpy(&bits, &ch1, 4);
        put32(bits);
        std::memcpy(&bits, &ch2, 4);
        put32(bits);
        put32(quint32(-60 - i));
        put32(quint32(95));
    }
    return data;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    const int rounds = argc > 1 ? std::max(10, atoi(argv[1])) : 300;
    dataIntervalMs = 1000;

    std::vector<std::unique_ptr<ConfiguredDevice>> owned;
    QList<ConfiguredDevice *> devices;
    for (int c = 0; c < 2; ++c) {
        auto device = std::make_unique<ConfiguredDevice>();
        // Port 1 on loopback: nobody answers, the polls only move the sample time on.
        device->setDeviceInfo(QStringLiteral("127.0.0.1"), 1);
        for (int i = 0; i < 8; ++i) {
            auto *node = new NodeDevice(QStringLiteral("BENCH-%1").arg(c * 8 + i), device.get());
            node->startAddress = i * 8;
            node->setNames(QStringLiteral("Device %1").arg(c * 8 + i + 1), QStringLiteral("Temp"),
                           QStringLiteral("Hum"));
            node->setUnits(1, 3);
            node->setAlarmRange(0, 24, 0, 0); // some channels cross into alarm and back
            device->addNode(node);
        }
        devices.append(device.get());
        owned.push_back(std::move(device));
    }

    ProjectCenter center(QStringLiteral("/tmp/bench.qlk"));
    center.setDeviceList(devices);
    center.resize(1010, 464);
    center.show();
    if (!QTest::qWaitForWindowExposed(&center))
        return 1;
    center.slotDeviceClicked(devices.first()->nodeList().at(3));
    ChartView *view = center.chartView();

    // Fill the histories first so that the charts draw 240 points.
    for (int r = 0; r < 240; ++r) {
        for (ConfiguredDevice *device : devices)
            device->readData(reply(8, r));
        QThread::msleep(1); // distinct sample times are not needed: times come from lastPollTime
    }
    QTest::qWait(50);

    std::vector<double> times;
    times.reserve(size_t(rounds));
    int builds = 0;
    for (int r = 0; r < rounds; ++r) {
        // Each round is one data interval: the pollers' sample time moves on.
        for (ConfiguredDevice *device : devices)
            device->poll();
        QTest::qWait(25); // the chart widgets' hold time has passed, as it has between real samples
        const int before = view->chartBuildCount();
        QElapsedTimer timer;
        timer.start();
        for (ConfiguredDevice *device : devices)
            device->readData(reply(8, 240 + r));
        QCoreApplication::sendPostedEvents();
        center.repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
        builds += view->chartBuildCount() - before;
    }
    for (auto &device : owned) {
        device->close();
        for (NodeDevice *node : device->nodeList()) {
            node->clearChartView();
            node->clearTiles();
            node->clearProjectList();
        }
    }

    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    const double mean = sum / times.size();
    const double median = times[times.size() / 2];
    const double p95 = times[size_t(times.size() * 0.95)];
    std::printf("rounds: %d (16 samples each, chart view of one device open)\n", rounds);
    std::printf("chart rebuilds per round: %.2f\n", double(builds) / rounds);
    std::printf("time per round: mean %.3f ms, median %.3f ms, p95 %.3f ms, max %.3f ms\n", mean,
                median, p95, times.back());
    std::printf("share of one core at a 1 s interval: %.2f %%\n", mean / 1000.0 * 100.0);
    return 0;
}
