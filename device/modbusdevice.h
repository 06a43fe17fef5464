#pragma once

#include "device/abstractdevice.h"

#include <QByteArray>
#include <QModbusDevice>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QModbusReply;
class QModbusTcpClient;

// Modbus TCP client of one gateway. Reads one block of holding registers from
// server address 1 per request and emits the registers as bytes (register k at
// bytes 2k low and 2k+1 high).
//
// At a data interval of exactly 1000 ms the connection stays open and every
// write() sends a read on it; at any other interval every write() opens a fresh
// connection, which is closed again once the reply has been handled.
//
// One request is in flight at a time: a write() while connecting or while a
// reply is awaited sends nothing. Every request that was started ends in
// exactly one of readyRead(bytes) or readFailed(timedOut, text), so that the
// poller can keep its link counters; a reply whose function code is not the
// one asked for is refused (readFailed), never taken as data.
//
// QModbusTcpClient has no connect timeout and a request whose resend fails can
// stay unfinished for ever, so two watchdogs of our own guard the connection
// attempt and the pending request. A client that cannot be brought back to the
// unconnected state (one aborted while still connecting) is replaced by a new one.
class ModbusDevice : public QObject, public AbstractDevice
{
    Q_OBJECT
    Q_INTERFACES(AbstractDevice)

public:
    static constexpr int kServerAddress = 1;
    // Time allowed for an answer at the 1 s interval. Longer intervals allow
    // a slower gateway up to a third of the interval, at most kMaxTimeoutMs.
    static constexpr int kTimeoutMs = 800;
    static constexpr int kMaxTimeoutMs = 3000;
    static int requestTimeoutMs();
    // Modbus allows at most 125 holding registers in one read.
    static constexpr int kMaxReadCount = 125;

    explicit ModbusDevice(QObject *parent = nullptr);
    ~ModbusDevice() override;

    bool isOpen() const override;
    void close() override;
    bool open() override;
    void write() override;
    QString address() const override;
    void connectSignal(const char *signal, QObject *receiver, const char *method) override;
    bool disconnectSignal(const char *signal, QObject *receiver, const char *method) override;
    void setReadRange(int start, int count) override;
    void setDeviceInfo(QString address, quint16 port) override;
    bool isBusy() const override;

    virtual quint16 port() const;
    virtual int startAddress() const;
    virtual int registerCount() const;

    void sendReadRequest();

    // Watchdog limits in ms; 0 (the default) derives them from the data
    // interval so that a dead gateway costs at most one interval.
    void setWatchdogTimes(int connectMs, int requestMs);
    int connectWatchdogMs() const;
    int requestWatchdogMs() const;

    // The client in use (null only between its destruction and the next open()).
    QModbusTcpClient *modbusClient() const { return m_client; }
    bool isRequestPending() const { return !m_reply.isNull(); }
    // How many stuck clients have been replaced so far.
    int replacedClients() const { return m_replacedClients; }

signals:
    void readyRead(QByteArray data);
    // A started request ended without data: timedOut for a connection or an
    // answer that did not come in time, otherwise an error; text says which.
    void readFailed(bool timedOut, QString text);

public slots:
    void readData();
    void modbusDeleted();
    void modbusStateChanged(QModbusDevice::State state);
    void modbusConnected();
    void modbusError(QModbusDevice::Error error);

private:
    void closeConnection();
    void finishRequest();
    void failRequest(bool timedOut, const QString &text);
    QString clientError() const;
    QString gatewayName() const;
    void createClient();
    void retireClient();
    void dropPendingReply();
    void connectWatchdogExpired();
    void requestWatchdogExpired();
    QModbusDevice::State clientState() const;

    QString m_address;
    quint16 m_port = 502;
    QModbusTcpClient *m_client = nullptr;
    int m_readStart = 0;
    int m_readCount = 0;
    bool m_opened = false;

    QPointer<QModbusReply> m_reply;
    QTimer m_connectWatchdog;
    QTimer m_requestWatchdog;
    int m_connectWatchdogMs = 0;
    int m_requestWatchdogMs = 0;
    int m_replacedClients = 0;
    bool m_closing = false;
    // A request was started and has not ended yet.
    bool m_requestActive = false;
};
