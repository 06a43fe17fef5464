#include "gatewaysimulator.h"

#include <QCommandLineParser>
#include <QHostAddress>
#include <QModbusExceptionResponse>
#include <QModbusTcpServer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtEndian>

#include <cmath>
#include <cstring>

// The register store and request processing of QModbusTcpServer, used without
// its own socket handling.
class RegisterBank : public QModbusTcpServer
{
public:
    RegisterBank()
    {
        QModbusDataUnitMap map;
        map.insert(QModbusDataUnit::HoldingRegisters,
                   QModbusDataUnit(QModbusDataUnit::HoldingRegisters, 0,
                                   GatewaySimulator::kRegisterSpace));
        setMap(map);
        setServerAddress(1);
    }
    QModbusResponse process(const QModbusRequest &request) { return processRequest(request); }
};

namespace
{

constexpr int kHeaderBytes = 7; // transaction, protocol, length, unit
constexpr int kMaxAduBytes = 260;
constexpr quint8 kGatewayTargetFailed = 0x0B;

QByteArray frameResponse(quint16 transaction, quint8 unit, const QModbusResponse &response)
{
    const QByteArray data = response.data();
    QByteArray out;
    out.reserve(kHeaderBytes + 1 + data.size());
    out.append(char(transaction >> 8)).append(char(transaction & 0xFF));
    out.append('\0').append('\0');
    const quint16 length = quint16(2 + data.size());
    out.append(char(length >> 8)).append(char(length & 0xFF));
    out.append(char(unit));
    const quint8 code = quint8(response.functionCode()) | (response.isException() ? 0x80 : 0x00);
    out.append(char(code));
    out.append(data);
    return out;
}

} // namespace

GatewaySimulator::GatewaySimulator(const Options &options, QObject *parent)
    : QObject(parent), m_options(options), m_bank(new RegisterBank)
{
    m_options.devices = qBound(0, m_options.devices, kMaxDevices);
    m_random = m_options.fixedSeed ? QRandomGenerator(m_options.seed)
                                   : QRandomGenerator(QRandomGenerator::global()->generate());
    for (int d = 0; d < m_options.devices; ++d)
        m_phases.append(m_random.bounded(2.0 * M_PI));
    connect(&m_updateTimer, &QTimer::timeout, this, &GatewaySimulator::updateValues);
    updateValues();
}

GatewaySimulator::GatewaySimulator(QObject *parent) : GatewaySimulator(Options(), parent) {}

GatewaySimulator::~GatewaySimulator()
{
    stop();
}

QString GatewaySimulator::helpText()
{
    return QStringLiteral(
        "Usage: quillark-gateway-sim [options]\n"
        "A Modbus TCP gateway simulator for Quillark Lite Modbus. Listens on 127.0.0.1 and\n"
        "serves holding registers at server address 1, 8 per device: channel 1 and channel 2\n"
        "(float32, low word first), LQI and battery (int32, low word first).\n"
        "\n"
        "Options:\n"
        "  --port N          TCP port to listen on (default 1502; 0 picks a free port)\n"
        "  --devices N       number of devices served, 0 to 32 (default 16)\n"
        "  --seed N          fixed seed: the same values on every run\n"
        "  --update-ms N     values change every N ms (default 1000; 0 keeps them fixed)\n"
        "  --silent          accept connections but never answer\n"
        "  --drop-every N    do not answer every N-th request and close its connection\n"
        "  --delay MS        send every answer MS milliseconds late\n"
        "  --exception CODE  answer every request with Modbus exception CODE (e.g. 2, 4, 6)\n"
        "  -h, --help        show this help\n");
}

bool GatewaySimulator::parseArguments(const QStringList &arguments, Options *options,
                                      QString *error, bool *help)
{
    QCommandLineParser parser;
    const QCommandLineOption portOption(QStringLiteral("port"), QString(), QStringLiteral("N"));
    const QCommandLineOption devicesOption(QStringLiteral("devices"), QString(),
                                           QStringLiteral("N"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QString(), QStringLiteral("N"));
    const QCommandLineOption updateOption(QStringLiteral("update-ms"), QString(),
                                          QStringLiteral("N"));
    const QCommandLineOption silentOption(QStringLiteral("silent"));
    const QCommandLineOption dropOption(QStringLiteral("drop-every"), QString(),
                                        QStringLiteral("N"));
    const QCommandLineOption delayOption(QStringLiteral("delay"), QString(), QStringLiteral("MS"));
    const QCommandLineOption exceptionOption(QStringLiteral("exception"), QString(),
                                             QStringLiteral("CODE"));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOptions({portOption, devicesOption, seedOption, updateOption, silentOption,
                       dropOption, delayOption, exceptionOption, helpOption});
    *help = false;
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(helpOption)) {
        *help = true;
        return true;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument: ") + parser.positionalArguments().first();
        return false;
    }
    auto number = [&](const QCommandLineOption &option, qint64 low, qint64 high, qint64 *out) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        const qint64 value = parser.value(option).toLongLong(&ok);
        if (!ok || value < low || value > high) {
            *error = QStringLiteral("--%1 needs a number from %2 to %3")
                         .arg(option.names().first())
                         .arg(low)
                         .arg(high);
            return false;
        }
        *out = value;
        return true;
    };
    qint64 port = options->port, devices = options->devices, seed = options->seed,
           update = options->updateMs, drop = options->dropEvery, delay = options->delayMs,
           exception = options->exceptionCode;
    if (!number(portOption, 0, 65535, &port) || !number(devicesOption, 0, kMaxDevices, &devices) ||
        !number(seedOption, 0, 0xFFFFFFFFLL, &seed) || !number(updateOption, 0, 3600000, &update) ||
        !number(dropOption, 0, 1000000, &drop) || !number(delayOption, 0, 600000, &delay) ||
        !number(exceptionOption, 0, 127, &exception))
        return false;
    options->port = quint16(port);
    options->devices = int(devices);
    options->fixedSeed = parser.isSet(seedOption);
    options->seed = quint32(seed);
    options->updateMs = int(update);
    options->silent = parser.isSet(silentOption);
    options->dropEvery = int(drop);
    options->delayMs = int(delay);
    options->exceptionCode = int(exception);
    return true;
}

bool GatewaySimulator::start(QString *error)
{
    if (m_server && m_server->isListening())
        return true;
    if (!m_server) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &GatewaySimulator::acceptConnections);
    }
    if (!m_server->listen(QHostAddress::LocalHost, m_options.port)) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    if (m_options.updateMs > 0)
        m_updateTimer.start(m_options.updateMs);
    return true;
}

void GatewaySimulator::stop()
{
    m_updateTimer.stop();
    if (m_server)
        m_server->close();
    dropAllConnections();
}

bool GatewaySimulator::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 GatewaySimulator::serverPort() const
{
    return m_server ? m_server->serverPort() : 0;
}

void GatewaySimulator::dropAllConnections()
{
    const QList<QTcpSocket *> sockets = m_sockets.keys();
    m_sockets.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void GatewaySimulator::acceptConnections()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_accepted;
        m_sockets.insert(socket, QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readSocket(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_sockets.remove(socket);
            socket->deleteLater();
        });
    }
}

void GatewaySimulator::readSocket(QTcpSocket *socket)
{
    auto it = m_sockets.find(socket);
    if (it == m_sockets.end())
        return;
    it->append(socket->readAll());
    while (it != m_sockets.end() && it->size() >= kHeaderBytes) {
        const uchar *p = reinterpret_cast<const uchar *>(it->constData());
        const int length = (p[4] << 8) | p[5];
        const int protocol = (p[2] << 8) | p[3];
        if (protocol != 0 || length < 2 || kHeaderBytes - 1 + length > kMaxAduBytes) {
            m_sockets.erase(it);
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
            return;
        }
        const int total = kHeaderBytes - 1 + length;
        if (it->size() < total)
            return;
        const QByteArray frame = it->left(total);
        it->remove(0, total);
        handleFrame(socket, frame);
        it = m_sockets.find(socket); // the socket may have been dropped
    }
}

void GatewaySimulator::handleFrame(QTcpSocket *socket, const QByteArray &frame)
{
    ++m_requests;
    emit requestReceived(m_requests);
    if (m_options.silent)
        return;
    if (m_options.dropEvery > 0 && m_requests % m_options.dropEvery == 0) {
        m_sockets.remove(socket);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        return;
    }

    const uchar *p = reinterpret_cast<const uchar *>(frame.constData());
    const quint16 transaction = quint16((p[0] << 8) | p[1]);
    const quint8 unit = p[6];
    const auto function = QModbusPdu::FunctionCode(p[7]);
    const QModbusRequest request(function, frame.mid(8));

    QModbusResponse response;
    if (unit != 1)
        response = QModbusExceptionResponse(
            function, QModbusExceptionResponse::ExceptionCode(kGatewayTargetFailed));
    else if (m_options.exceptionCode > 0)
        response = QModbusExceptionResponse(
            function, QModbusExceptionResponse::ExceptionCode(m_options.exceptionCode));
    else
        response = m_bank->process(request);
    const QByteArray out = frameResponse(transaction, unit, response);

    if (m_options.delayMs > 0) {
        QPointer<QTcpSocket> guard(socket);
        QTimer::singleShot(m_options.delayMs, this, [this, guard, out] {
            if (guard && m_sockets.contains(guard.data())) {
                guard->write(out);
                ++m_answered;
            }
        });
        return;
    }
    socket->write(out);
    ++m_answered;
}

void GatewaySimulator::setFrozen(bool frozen)
{
    if (frozen)
        m_updateTimer.stop();
    else if (m_options.updateMs > 0)
        m_updateTimer.start(m_options.updateMs);
}

void GatewaySimulator::setHoldingRegister(int address, quint16 value)
{
    if (address >= 0 && address < kRegisterSpace)
        m_bank->setData(QModbusDataUnit::HoldingRegisters, quint16(address), value);
}

void GatewaySimulator::setHoldingRegisters(int start, const QVector<quint16> &values)
{
    for (int i = 0; i < values.size(); ++i)
        setHoldingRegister(start + i, values.at(i));
}

quint16 GatewaySimulator::holdingRegister(int address) const
{
    quint16 value = 0;
    if (address >= 0 && address < kRegisterSpace)
        m_bank->data(QModbusDataUnit::HoldingRegisters, quint16(address), &value);
    return value;
}

void GatewaySimulator::setDeviceValues(int device, float ch1, float ch2, qint32 lqi, qint32 battery)
{
    quint32 bits1, bits2;
    std::memcpy(&bits1, &ch1, 4);
    std::memcpy(&bits2, &ch2, 4);
    const quint32 words[4] = {bits1, bits2, quint32(lqi), quint32(battery)};
    QVector<quint16> registers;
    for (quint32 w : words)
        registers << quint16(w & 0xFFFF) << quint16(w >> 16);
    setHoldingRegisters(device * 8, registers);
}

// Temperature drifts around 22 C and humidity around 50 %RH over minutes, with
// a little noise; LQI wanders between 150 and 230, battery slowly drains.
void GatewaySimulator::updateValues()
{
    const double t = double(m_tick++);
    for (int d = 0; d < m_options.devices; ++d) {
        const double phase = m_phases.at(d);
        const double noise1 = m_random.bounded(0.2) - 0.1;
        const double noise2 = m_random.bounded(0.6) - 0.3;
        const float temperature =
            float(22.0 + 3.0 * std::sin(2 * M_PI * t / 600.0 + phase) + noise1);
        const float humidity =
            float(50.0 + 12.0 * std::sin(2 * M_PI * t / 900.0 + 2 * phase) + noise2);
        const qint32 lqi =
            qint32(190 + 30 * std::sin(2 * M_PI * t / 120.0 + phase)) + m_random.bounded(-5, 6);
        const qint32 battery = qMax(5, 100 - int(m_tick / 3600) - d % 7);
        setDeviceValues(d, temperature, humidity, lqi, battery);
    }
}
