#include "loopbackpeers.h"

#include "testsupport.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace TestSupport
{

quint16 freeLoopbackPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

DeadPort::DeadPort()
{
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
        ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        m_port = ntohs(address.sin_port);
}

DeadPort::~DeadPort()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool waitForListener(quint16 port, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200)) {
            socket.abort();
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}

PymodbusServer::~PymodbusServer()
{
    stop();
}

QString PymodbusServer::start(const QVector<quint16> &registers)
{
    const QString python = QStringLiteral("/usr/bin/python3");
    const QString script = sourceDir() + QStringLiteral("/tests/data/pymodbus_server.py");
    if (!QFileInfo::exists(python))
        return QStringLiteral("/usr/bin/python3 is missing");
    QProcess probe;
    probe.start(python, {QStringLiteral("-c"), QStringLiteral("import pymodbus.server")});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        return QStringLiteral("python3-pymodbus (with python3-serial-asyncio) is not usable");

    QStringList hex;
    for (quint16 r : registers)
        hex << QString::number(r, 16);
    m_port = freeLoopbackPort();
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(python, {script, QString::number(m_port), hex.join(QLatin1Char(',')),
                             QStringLiteral("60")});
    if (!m_process.waitForStarted(5000))
        return QStringLiteral("cannot start the pymodbus server");
    if (!waitForListener(m_port, 30000))
        return QStringLiteral("the pymodbus server did not come up");
    return QString();
}

void PymodbusServer::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

} // namespace TestSupport
