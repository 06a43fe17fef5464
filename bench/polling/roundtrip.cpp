// Median round trip of one read of the largest block Modbus allows (125
// holding registers; a read of 128 is refused by the protocol), by our client
// in both connection modes and by libmodbus in the same two ways, against the
// gateway simulator running as its own process.
//
//   bench_polling_roundtrip [--reads N]

#include "common/common.h"
#include "device/modbusdevice.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTimer>

#include <modbus.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kRegisters = 125;

struct Stats
{
    double median = 0;
    double p90 = 0;
    int count = 0;
};

Stats summarize(std::vector<double> samples)
{
    Stats s;
    s.count = int(samples.size());
    if (samples.empty())
        return s;
    std::sort(samples.begin(), samples.end());
    s.median = samples[samples.size() / 2];
    s.p90 = samples[samples.size() * 9 / 10];
    return s;
}

// Our client: reads N times, one after another, from write() to readyRead.
Stats measureOurs(quint16 port, int interval, int reads)
{
    dataIntervalMs = interval;
    ModbusDevice device;
    device.setDeviceInfo(QStringLiteral("127.0.0.1"), port);
    device.setReadRange(0, kRegisters);
    std::vector<double> samples;
    samples.reserve(size_t(reads));
    QElapsedTimer clock;
    QTimer guard; // a lost read must not stall the benchmark
    guard.setSingleShot(true);
    bool warm = interval != 1000;
    int done = 0;

    std::function<void()> next = [&] {
        if (done >= reads) {
            QCoreApplication::exit(0);
            return;
        }
        clock.start();
        guard.start(2000);
        device.write();
    };
    QObject::connect(&device, &ModbusDevice::readyRead, [&](const QByteArray &bytes) {
        const double ms = clock.nsecsElapsed() / 1e6;
        if (bytes.size() != 2 * kRegisters)
            std::fprintf(stderr, "short reply: %d bytes\n", int(bytes.size()));
        if (warm) {
            samples.push_back(ms);
            ++done;
        }
        warm = true; // the first read of the kept-open mode includes the connect
        QMetaObject::invokeMethod(&device, next, Qt::QueuedConnection);
    });
    QObject::connect(&guard, &QTimer::timeout, [&] {
        std::fprintf(stderr, "read lost, retrying\n");
        next();
    });
    QMetaObject::invokeMethod(&device, next, Qt::QueuedConnection);
    QCoreApplication::exec();
    device.close();
    return summarize(samples);
}

Stats measureLibmodbus(quint16 port, bool keptOpen, int reads)
{
    std::vector<double> samples;
    uint16_t registers[kRegisters];
    modbus_t *ctx = modbus_new_tcp("127.0.0.1", port);
    modbus_set_slave(ctx, 1);
    modbus_set_response_timeout(ctx, 0, 800000);
    if (keptOpen && modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus: cannot connect\n");
        modbus_free(ctx);
        return {};
    }
    QElapsedTimer clock;
    for (int i = 0; i < reads; ++i) {
        clock.start();
        if (!keptOpen && modbus_connect(ctx) != 0)
            continue;
        const int n = modbus_read_registers(ctx, 0, kRegisters, registers);
        if (!keptOpen)
            modbus_close(ctx);
        const double ms = clock.nsecsElapsed() / 1e6;
        if (n == kRegisters)
            samples.push_back(ms);
    }
    if (keptOpen)
        modbus_close(ctx);
    modbus_free(ctx);
    return summarize(samples);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    int reads = 2000;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--reads"));
    if (at > 0 && at + 1 < args.size())
        reads = qMax(10, args.at(at + 1).toInt());

    SimProcess sim;
    const quint16 port = sim.start({QStringLiteral("--seed"), QStringLiteral("1")});
    if (!port) {
        std::fprintf(stderr, "cannot start the gateway simulator\n");
        return 1;
    }

    const Stats oursOpen = measureOurs(port, 1000, reads);
    const Stats libOpen = measureLibmodbus(port, true, reads);
    const Stats oursPerRead = measureOurs(port, 10000, reads);
    const Stats libPerRead = measureLibmodbus(port, false, reads);

    std::printf("Round trip of one %d-register read, %d reads each (ms)\n", kRegisters, reads);
    std::printf("%-30s %10s %10s\n", "", "median", "p90");
    std::printf("%-30s %10.3f %10.3f\n", "ours, kept open (1 s)", oursOpen.median, oursOpen.p90);
    std::printf("%-30s %10.3f %10.3f\n", "libmodbus, kept open", libOpen.median, libOpen.p90);
    std::printf("%-30s %10.3f %10.3f\n", "ours, connection per read", oursPerRead.median, oursPerRead.p90);
    std::printf("%-30s %10.3f %10.3f\n", "libmodbus, connection per read", libPerRead.median, libPerRead.p90);
    if (libOpen.median > 0 && libPerRead.median > 0)
        std::printf("ratio ours/libmodbus: kept open %.2f, per read %.2f\n", oursOpen.median / libOpen.median,
                    oursPerRead.median / libPerRead.median);
    return 0;
}
