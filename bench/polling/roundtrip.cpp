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
// A bare QModbusTcpClient making the same reads is the floor of ours: Qt's
// client is the dependency the design names.
//
//   bench_polling_roundtrip [--reads N] [--runs R]   (R blocks of N/R reads
//   give the per-run figures of the QKROW lines)

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
#include <random>
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

// Qt's Modbus client alone, as the floor of ours: the same read through a
// bare QModbusTcpClient, kept open or connected and disconnected per read,
// its values taken from the reply in the finished signal.
class QtReader
{
public:
    QtReader(quint16 port, bool keptOpen) : m_keptOpen(keptOpen)
    {
        m_client.setConnectionParameter(QModbusDevice::NetworkAddressParameter,
                                        QStringLiteral("127.0.0.1"));
        m_client.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
        m_client.setTimeout(800);
        m_client.setNumberOfRetries(0);
        QObject::connect(&m_client, &QModbusDevice::stateChanged,
                         [this](QModbusDevice::State state) {
                             if (state == QModbusDevice::ConnectedState && m_waiting)
                                 send();
                             else if (state == QModbusDevice::UnconnectedState && m_ok &&
                                      !m_keptOpen && m_elapsedNs < 0)
                                 finish();
                         });
        m_guard.setSingleShot(true);
        QObject::connect(&m_guard, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    }

    double read()
    {
        m_ok = false;
        m_elapsedNs = -1;
        m_waiting = true;
        m_guard.start(2000);
        m_clock.start();
        if (m_client.state() == QModbusDevice::ConnectedState)
            send();
        else
            m_client.connectDevice();
        m_loop.exec();
        m_guard.stop();
        return m_ok && m_elapsedNs >= 0 ? m_elapsedNs / 1e6 : -1;
    }

    void close() { m_client.disconnectDevice(); }

private:
    void send()
    {
        m_waiting = false;
        QModbusReply *reply = m_client.sendReadRequest(
            QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0, kRegisters), 1);
        if (!reply) {
            QMetaObject::invokeMethod(&m_loop, "quit", Qt::QueuedConnection);
            return;
        }
        QObject::connect(reply, &QModbusReply::finished, [this, reply] {
            const QModbusDataUnit unit = reply->result();
            m_ok =
                reply->error() == QModbusDevice::NoError && unit.valueCount() == uint(kRegisters);
            // Closing aborts the replies still listed, this one included:
            // it has said all it had to.
            reply->disconnect();
            reply->deleteLater();
            if (m_keptOpen || !m_ok)
                finish();
            else
                m_client.disconnectDevice();
        });
    }
    void finish()
    {
        m_elapsedNs = m_clock.nsecsElapsed();
        QMetaObject::invokeMethod(&m_loop, "quit", Qt::QueuedConnection);
    }

    bool m_keptOpen;
    bool m_waiting = false;
    QModbusTcpClient m_client;
    QEventLoop m_loop;
    QTimer m_guard;
    bool m_ok = false;
    QElapsedTimer m_clock;
    qint64 m_elapsedNs = -1;
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
    int blocks = 5;
    const int bt = args.indexOf(QStringLiteral("--runs"));
    if (bt > 0 && bt + 1 < args.size())
        blocks = qMax(1, args.at(bt + 1).toInt());

    SimProcess sim;
    const quint16 port = sim.start({QStringLiteral("--seed"), QStringLiteral("1")});
    if (!port) {
        std::fprintf(stderr, "cannot start the gateway simulator\n");
        return 1;
    }

    OurReader oursOpen(port, 1000);
    OurReader oursPerRead(port, 10000);
    QtReader qtOpen(port, true);
    QtReader qtPerRead(port, false);
    LibmodbusReader libOpen(port, true);
    LibmodbusReader libPerRead(port, false);
    // The first read of the kept-open mode includes the connect.
    oursOpen.read();
    qtOpen.read();
    libOpen.read();

    // Per run one read of each, in an order that rotates from run to run.
    enum { OursOpen, QtOpen, LibOpen, OursPer, QtPer, LibPer, Count };
    std::vector<double> t[Count];
    std::vector<double> rOpen, rPer, rQtOpen, rQtPer, rOursQtOpen, rOursQtPer;
    int failed = 0;
    // The order is shuffled from run to run: a read right after a series that
    // closed its connection meets the simulator still tidying up, so a fixed
    // rotation would always hand that cost to the same series.
    std::mt19937 shuffler(1);
    int order[Count] = {OursOpen, QtOpen, LibOpen, OursPer, QtPer, LibPer};
    for (int run = 0; run < reads; ++run) {
        double v[Count];
        std::shuffle(order, order + Count, shuffler);
        for (int k = 0; k < Count; ++k) {
            const int s = order[k];
            switch (s) {
            case OursOpen: v[s] = oursOpen.read(); break;
            case QtOpen: v[s] = qtOpen.read(); break;
            case LibOpen: v[s] = libOpen.read(); break;
            case OursPer: v[s] = oursPerRead.read(); break;
            case QtPer: v[s] = qtPerRead.read(); break;
            default: v[s] = libPerRead.read(); break;
            }
        }
        if (*std::min_element(v, v + Count) < 0) {
            if (failed == 0) {
                for (int k = 0; k < Count; ++k)
                    std::fprintf(stderr, "first failed run: series %d %s\n", k,
                                 v[k] < 0 ? "failed" : "ok");
            }
            ++failed;
            continue;
        }
        for (int k = 0; k < Count; ++k)
            t[k].push_back(v[k]);
        rOpen.push_back(v[OursOpen] / v[LibOpen]);
        rPer.push_back(v[OursPer] / v[LibPer]);
        rQtOpen.push_back(v[QtOpen] / v[LibOpen]);
        rQtPer.push_back(v[QtPer] / v[LibPer]);
        rOursQtOpen.push_back(v[OursOpen] / v[QtOpen]);
        rOursQtPer.push_back(v[OursPer] / v[QtPer]);
    }
    oursOpen.close();
    oursPerRead.close();
    qtOpen.close();

    std::printf("Round trip of one %d-register read, %d interleaved runs, %d dropped (ms)\n",
                kRegisters, reads, failed);
    std::printf("%-34s %9s %9s %9s %7s\n", "", "median", "p10", "p90", "n");
    printRow("ours, kept open (1 s)", summarize(t[OursOpen]));
    printRow("bare QModbusTcpClient, kept open", summarize(t[QtOpen]));
    printRow("libmodbus, kept open", summarize(t[LibOpen]));
    printRow("ours, connection per read", summarize(t[OursPer]));
    printRow("bare QModbusTcpClient, per read", summarize(t[QtPer]));
    printRow("libmodbus, connection per read", summarize(t[LibPer]));
    std::printf("Ratios, taken per run\n");
    printRow("ours/libmodbus, kept open", summarize(rOpen));
    printRow("ours/libmodbus, per read", summarize(rPer));
    printRow("Qt/libmodbus (floor), kept open", summarize(rQtOpen));
    printRow("Qt/libmodbus (floor), per read", summarize(rQtPer));
    printRow("ours/Qt, kept open", summarize(rOursQtOpen));
    printRow("ours/Qt, per read", summarize(rOursQtPer));

    // For bench/run.sh: the median ratio of each block of reads is one run.
    const int runs = qMax(1, blocks);
    auto rowOf = [runs](const char *figure, const char *anchor, const std::vector<double> &r) {
        std::string values;
        const size_t per = r.size() / size_t(runs);
        for (int b = 0; b < runs && per > 0; ++b) {
            std::vector<double> block(r.begin() + long(b * per), r.begin() + long((b + 1) * per));
            values += (values.empty() ? "" : " ") + std::to_string(summarize(block).median);
        }
        std::printf("QKROW\t%s\t%s\tx\t%s\n", figure, anchor, values.c_str());
    };
    rowOf("polling, kept open: ours / anchor", "libmodbus, same read", rOpen);
    rowOf("polling, connection per read: ours / anchor", "libmodbus, same read", rPer);
    rowOf("polling floor, kept open: bare QModbusTcpClient / anchor", "libmodbus, same read",
          rQtOpen);
    rowOf("polling floor, per read: bare QModbusTcpClient / anchor", "libmodbus, same read",
          rQtPer);
    rowOf("polling, kept open: ours / anchor", "bare QModbusTcpClient", rOursQtOpen);
    rowOf("polling, per read: ours / anchor", "bare QModbusTcpClient", rOursQtPer);
    return 0;
}
