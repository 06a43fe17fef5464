#pragma once

#include <QProcess>
#include <QVector>

// Loopback peers for the acquisition tests.
namespace TestSupport
{

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freeLoopbackPort();

// True once something accepts TCP connections on 127.0.0.1:port (waits up to timeoutMs).
bool waitForListener(quint16 port, int timeoutMs = 10000);

// The Debian python3-pymodbus server (tests/data/pymodbus_server.py) as an
// independent Modbus TCP peer on 127.0.0.1, serving the given holding
// registers at server address 1. Stops when destroyed (and by itself after
// a minute in any case).
class PymodbusServer
{
public:
    PymodbusServer() = default;
    ~PymodbusServer();
    PymodbusServer(const PymodbusServer &) = delete;
    PymodbusServer &operator=(const PymodbusServer &) = delete;

    // Empty when it runs; otherwise why not (for QSKIP).
    QString start(const QVector<quint16> &registers);
    void stop();
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace TestSupport
