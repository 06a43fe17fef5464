#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class AbstractDevice;
class NodeDevice;

// One network connection of a project: a Modbus gateway at an IP address and
// TCP port with the sensor nodes behind it. Owns its Modbus client and its
// nodes, asks for one register block per poll, hands each node its 16-byte
// block of every reply and decides when the connection counts as lost.
class ConfiguredDevice : public QObject
{
    Q_OBJECT

public:
    // Bytes of one node's block: two float channels, LQI and battery.
    static constexpr int kBlockBytes = 16;

    explicit ConfiguredDevice(QObject *parent = nullptr);
    ~ConfiguredDevice() override;

    void setDeviceInfo(QString ip, quint16 port);
    void addNode(NodeDevice *node);
    void close();
    void poll();
    void refresh();

    QString ipAddress() const { return m_ipAddress; }
    quint16 port() const { return m_port; }
    QString model() const { return m_model; }
    void setModel(const QString &model) { m_model = model; }
    QList<NodeDevice *> nodeList() const { return m_nodes; }
    // Every node of every poller in project order, null entries skipped.
    static QList<NodeDevice *> allNodes(const QList<ConfiguredDevice *> &devices);
    QDateTime lastPollTime() const { return m_lastPollTime; }
    bool isConnected() const { return m_connected; }
    bool isRefreshPending() const { return m_refreshPending; }
    int missedPolls() const { return m_missedPolls; }
    // Polls without a reply tolerated before the connection counts as lost:
    // 5 at a 1000 ms interval, 2 at any other.
    static int missedPollLimit();

    // The connection's Modbus client.
    AbstractDevice *device() const { return m_device; }
    // The register range requested from the gateway.
    int readStart() const { return m_readStart; }
    int readCount() const { return m_readCount; }

public slots:
    void readData(QByteArray data);
    void deviceConnected();

public:
    void deviceDisconnected();

private:
    void updateReadRange();
    void countMissedPoll();

    bool m_connected = false;
    bool m_refreshPending = false;
    QString m_ipAddress;
    quint16 m_port = 502;
    QString m_model = QStringLiteral("QA100");
    QDateTime m_lastPollTime = QDateTime::currentDateTime();
    int m_missedPolls = 0;
    AbstractDevice *m_device = nullptr;
    QList<NodeDevice *> m_nodes;
    int m_readStart = 0;
    int m_readCount = 0;
};
