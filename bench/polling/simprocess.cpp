#include "simprocess.h"

#include <QFile>
#include <QRegularExpression>

#include <malloc.h>

SimProcess::~SimProcess()
{
    stop();
}

quint16 SimProcess::start(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(QStringLiteral(QK_GATEWAY_SIM),
                    QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
    if (!m_process.waitForStarted(5000))
        return 0;
    // "quillark-gateway-sim listening on 127.0.0.1:PORT with N devices"
    if (!m_process.waitForReadyRead(5000))
        return 0;
    const QString line = QString::fromLatin1(m_process.readLine());
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral(":(\\d+) ")).match(line);
    return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
}

void SimProcess::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

qint64 heapInUseKiB()
{
    const struct mallinfo2 info = mallinfo2();
    return qint64((info.uordblks + info.hblkhd) / 1024);
}
