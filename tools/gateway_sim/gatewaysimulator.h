#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QRandomGenerator>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <memory>

class QTcpServer;
class QTcpSocket;
class RegisterBank;

// A Modbus TCP gateway for development and tests. Listens on 127.0.0.1 only
// and serves holding registers at server address 1: 8 registers per device
// (channel 1 and channel 2 as float32 low word first, LQI and battery as
// int32 low word first) with slowly varying temperature and humidity values.
// The register space is kRegisterSpace registers; registers after the last
// device read as 0. Requests are answered by QModbusTcpServer's own request
// processing; the framing around it lives here so that faults can be injected.
class GatewaySimulator : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRegisterSpace = 256;
    static constexpr int kMaxDevices = kRegisterSpace / 8;

    struct Options {
        quint16 port = 1502; // 0 picks a free port
        int devices = 16;
        bool silent = false;   // accept connections, never answer
        int dropEvery = 0;     // every N-th request is not answered; its connection is closed
        int delayMs = 0;       // every answer is sent this much later
        int exceptionCode = 0; // answer every request with this Modbus exception code
        bool fixedSeed = false;
        quint32 seed = 0;    // values repeat exactly for the same seed
        int updateMs = 1000; // values change this often; 0 freezes them
    };

    explicit GatewaySimulator(const Options &options, QObject *parent = nullptr);
    explicit GatewaySimulator(QObject *parent = nullptr);
    ~GatewaySimulator() override;

    // Parses the program's command line (argv[0] first). Returns false with a
    // message when an option is wrong; sets *help when --help was given.
    static bool parseArguments(const QStringList &arguments, Options *options, QString *error,
                               bool *help);
    static QString helpText();

    bool start(QString *error = nullptr);
    void stop();
    bool isListening() const;
    quint16 serverPort() const;
    const Options &options() const { return m_options; }

    // Fault switches, also while running.
    void setSilent(bool silent) { m_options.silent = silent; }
    void setDropEvery(int n) { m_options.dropEvery = qMax(0, n); }
    void setDelayMs(int ms) { m_options.delayMs = qMax(0, ms); }
    void setExceptionCode(int code) { m_options.exceptionCode = qBound(0, code, 255); }

    // Direct register access; freezing stops the value updates so that the
    // registers keep what was written.
    void setFrozen(bool frozen);
    void setHoldingRegister(int address, quint16 value);
    void setHoldingRegisters(int start, const QVector<quint16> &values);
    quint16 holdingRegister(int address) const;
    // Writes one device's block as the gateway lays it out.
    void setDeviceValues(int device, float ch1, float ch2, qint32 lqi, qint32 battery);

    // Counters since start.
    int requestCount() const { return m_requests; }
    int answeredCount() const { return m_answered; }
    int acceptedConnections() const { return m_accepted; }
    int openConnections() const { return m_sockets.size(); }

    // Closes every client connection at once (a gateway restart seen from outside).
    void dropAllConnections();

signals:
    void requestReceived(int count);

private:
    void acceptConnections();
    void readSocket(QTcpSocket *socket);
    void handleFrame(QTcpSocket *socket, const QByteArray &frame);
    void updateValues();

    Options m_options;
    QTcpServer *m_server = nullptr;
    std::unique_ptr<RegisterBank> m_bank;
    QHash<QTcpSocket *, QByteArray> m_sockets;
    QTimer m_updateTimer;
    QRandomGenerator m_random;
    quint64 m_tick = 0;
    QVector<double> m_phases;
    int m_requests = 0;
    int m_answered = 0;
    int m_accepted = 0;
};
