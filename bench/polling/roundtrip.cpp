// Round trip of one read of the largest block Modbus allows (125 holding
// registers; a read of 128 is refused by the protocol), by our client in both
// connection modes and by libmodbus in the same two ways, against the gateway
// simulator running as its own process.
//
// The four series run interleaved: each run makes one read of each (the
// order of ours and libmodbus alternating from run to run), so that load on
// the machine touches all of them alike, and the ratio ours/libmodbus is
// taken per run. A read of ours ends when the program could use the values
// and the client is back in its resting state: after readyRead and, per read,
// after our close of the connection (the clock is read inside the signal
// that says so, not after a further pass of the event loop); libmodbus's per-read series likewise
// includes modbus_connect and modbus_close.
//
//   bench_polling_roundtrip [--reads N]

#include "common/common.h"
#include "device/modbusdevice.h"
#include "simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLoggingCategory>
#include <QModbusTcpClient>
#include <QTimer>

#include <modbus.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kRegisters = 125;

struct Stats {
    double median = 0;
    double p10 = 0;
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
    s.p10 = samples[samples.size() / 10];
    s.p90 = samples[samples.size() * 9 / 10];
    return s;
}

// One read by our client: from write() until the values were handed out and,
// per read, the connection closed again. Negative when the read failed or
// took over 2 s.
class OurReader
{
public:
    OurReader(quint16 port, int interval) : m_interval(interval)
    {
        m_device.setDeviceInfo(QStringLiteral("127.0.0.1"), port);
        m_device.setReadRange(0, kRegisters);
        QObject::connect(&m_device, &ModbusDevice::readyRead, [this](const QByteArray &bytes) {
            m_ok = bytes.size() == 2 * kRegisters;
            if (m_interval == 1000)
                m_elapsedNs = m_clock.nsecsElapsed();
            QMetaObject::invokeMethod(&m_loop, "quit", Qt::QueuedConnection);
        });
        QObject::connect(&m_device, &ModbusDevice::readFailed, [this] {
            QMetaObject::invokeMethod(&m_loop, "quit", Qt::QueuedConnection);
        });
        m_guard.setSingleShot(true);
        QObject::connect(&m_guard, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }

    double read()
    {
        dataIntervalMs = m_interval;
        m_ok = false;
        m_elapsedNs = -1;
        // Per read, the clock stops when our close has left the client
        // unconnected (it runs right after readyRead returns).
        if (m_interval != 1000 && m_device.modbusClient() != m_watched) {
            m_watched = m_device.modbusClient();
            QObject::connect(
                m_watched, &QModbusDevice::stateChanged, [this](QModbusDevice::State state) {
                    if (state == QModbusDevice::UnconnectedState && m_ok && m_elapsedNs < 0)
                        m_elapsedNs = m_clock.nsecsElapsed();
                });
        }
        m_guard.start(2000);
        m_clock.start();
        m_device.write();
        m_loop.exec();
        m_guard.stop();
        return m_ok && m_elapsedNs >= 0 ? m_elapsedNs / 1e6 : -1;
    }

    void close() { m_device.close(); }

private:
    int m_interval;
    ModbusDevice m_device;
    QEventLoop m_loop;
    QTimer m_guard;
    bool m_ok = false;
    QElapsedTimer m_clock;
    qint64 m_elapsedNs = -1;
    QModbusTcpClient *m_watched = nullptr;
};

class LibmodbusReader
{
public:
    LibmodbusReader(quint16 port, bool keptOpen)
        : m_keptOpen(keptOpen), m_ctx(modbus_new_tcp("127.0.0.1", port))
    {
        modbus_set_slave(m_ctx, 1);
        modbus_set_response_timeout(m_ctx, 0, 800000);
        if (keptOpen && modbus_connect(m_ctx) != 0)
            std::fprintf(stderr, "libmodbus: cannot connect\n");
    }
    ~LibmodbusReader()
    {
        if (m_keptOpen)
            modbus_close(m_ctx);
        modbus_free(m_ctx);
    }

    double read()
    {
        QElapsedTimer clock;
        clock.start();
        if (!m_keptOpen && modbus_connect(m_ctx) != 0)
            return -1;
        const int n = modbus_read_registers(m_ctx, 0, kRegisters, m_registers);
        if (!m_keptOpen)
            modbus_close(m_ctx);
        const double ms = clock.nsecsElapsed() / 1e6;
        return n == kRegisters ? ms : -1;
    }

private:
    bool m_keptOpen;
    modbus_t *m_ctx;
    uint16_t m_registers[kRegisters];
};

void printRow(const char *name, const Stats &s)
{
    std::printf("%-34s %9.3f %9.3f %9.3f %7d\n", name, s.median, s.p10, s.p90, s.count);
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

    OurReader oursOpen(port, 1000);
    OurReader oursPerRead(port, 10000);
    LibmodbusReader libOpen(port, true);
    LibmodbusReader libPerRead(port, false);
    // The first read of the kept-open mode includes the connect.
    oursOpen.read();
    libOpen.read();

    std::vector<double> tOursOpen, tLibOpen, tOursPer, tLibPer, rOpen, rPer;
    int failed = 0;
    for (int run = 0; run < reads; ++run) {
        const bool oursFirst = run % 2 == 0;
        double a, b, c, d;
        if (oursFirst) {
            a = oursOpen.read();
            b = libOpen.read();
            c = oursPerRead.read();
            d = libPerRead.read();
        } else {
            b = libOpen.read();
            a = oursOpen.read();
            d = libPerRead.read();
            c = oursPerRead.read();
        }
        if (a < 0 || b < 0 || c < 0 || d < 0) {
            ++failed;
            continue;
        }
        tOursOpen.push_back(a);
        tLibOpen.push_back(b);
        tOursPer.push_back(c);
        tLibPer.push_back(d);
        rOpen.push_back(a / b);
        rPer.push_back(c / d);
    }
    oursOpen.close();
    oursPerRead.close();

    std::printf("Round trip of one %d-register read, %d interleaved runs, %d dropped (ms)\n",
                kRegisters, reads, failed);
    std::printf("%-34s %9s %9s %9s %7s\n", "", "median", "p10", "p90", "n");
    printRow("ours, kept open (1 s)", summarize(tOursOpen));
    printRow("libmodbus, kept open", summarize(tLibOpen));
    printRow("ours, connection per read", summarize(tOursPer));
    printRow("libmodbus, connection per read", summarize(tLibPer));
    std::printf("Ratio ours/libmodbus, taken per run\n");
    printRow("kept open", summarize(rOpen));
    printRow("connection per read", summarize(rPer));
    return 0;
}
