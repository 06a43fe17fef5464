#pragma once

#include <QProcess>
#include <QVector>

// Loopback peers for the acquisition tests.
namespace TestSupport
{

// A TCP port on 127.0.0.1 that was free a moment ago.
quint16 freeLoopbackPort();

// A loopback TCP port bound for the object's lifetime and never listened
// on: connections to it are refused, and no parallel test is handed it.
class DeadPort
{
public:
    DeadPort();
    ~DeadPort();
    DeadPort(const DeadPort &) = delete;
    DeadPort &operator=(const DeadPort &) = delete;
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

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

    // Empty when it runs; otherwise why not.
    QString start(const QVector<quint16> &registers);
    void stop();
    quint16 port() const { return m_port; }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace TestSupport
