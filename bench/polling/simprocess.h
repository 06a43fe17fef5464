#pragma once

#include <QProcess>
#include <QStringList>

// The gateway simulator as a child process on a free loopback port.
class SimProcess
{
public:
    ~SimProcess();
    // Starts quillark-gateway-sim with --port 0 and the extra arguments;
    // returns the port it listens on, 0 on failure.
    quint16 start(const QStringList &arguments = {});
    void stop();

private:
    QProcess m_process;
};

// Resident memory of this process in KiB (VmRSS), 0 when unknown.
qint64 residentKiB();
// Heap bytes in use by malloc, in KiB.
qint64 heapInUseKiB();
