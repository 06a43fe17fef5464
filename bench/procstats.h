#pragma once

// What the benchmarks read about their own process from /proc.

#include <QByteArray>
#include <QFile>
#include <QList>

#include <unistd.h>

namespace ProcStats
{

// User plus system CPU time of this process, in seconds.
inline double cpuSeconds()
{
    QFile f(QStringLiteral("/proc/self/stat"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = f.readAll();
    // Fields after the command name in parentheses; utime and stime are 14 and 15.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    const double ticks = sysconf(_SC_CLK_TCK);
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
}

// Resident memory of this process, in KiB.
inline long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

} // namespace ProcStats
