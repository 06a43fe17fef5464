#include "chart/charttime.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"
#include "gatewayfixture.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QModbusReply>
#include <QModbusTcpClient>
#include <QPointer>
#include <QtTest>

#include <limits>

namespace
{

using TestSupport::addNode;
using TestSupport::nodeBlock;
using TestSupport::queuedRows;

QByteArray bytesOf(const QVector<quint16> &registers)
{
    QByteArray out;
    for (quint16 r : registers)
        out.append(char(r & 0xFF)).append(char(r >> 8));
    return out;
}

void sample(NodeDevice &node, const QString &ch1, const QString &ch2, const QDateTime &time,
            bool refresh = false)
{
    node.setData(ch1, ch2, QStringLiteral("200"), QStringLiteral("95"), time, refresh);
}

const QVector<quint16> kFirstBlock{0x0000, 0x41C8, 0x0000, 0xC148, 0xFFFF, 0xFFFF, 0x0E10, 0x0000};

} // namespace

// A poller and its nodes: decoding, wire reads, the poll schedule, alarms,
// the history and the rows each node records.
class tst_ConfiguredDevice : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        dataIntervalMs = kDefaultDataIntervalMs;
        InsertSerialData::clearQueue();
    }

    // Reads on the wire, in both connection modes, against our simulator and a
    // server we did not write, with the gap layout: the read starts at 0 and
    // reaches the end of the highest block, so every node gets its own block.
    // At 1000 ms the connection stays open (the first poll only opens it);
    // otherwise each read has its own. Handled replies are deleted.
    void wireRead_data()
    {
        QTest::addColumn<bool>("pymodbus");
        QTest::addColumn<int>("interval");
        QTest::newRow("simulator, kept open") << false << 1000;
        QTest::newRow("simulator, per read") << false << 10000;
        QTest::newRow("pymodbus, kept open") << true << 1000;
        QTest::newRow("pymodbus, per read") << true << 10000;
    }
    void wireRead()
    {
        QFETCH(bool, pymodbus);
        QFETCH(int, interval);
        dataIntervalMs = interval;
        QVector<quint16> registers = kFirstBlock + QVector<quint16>(42) +
                                     nodeBlock(-3.75f, 33.0f, 150, 80) +
                                     nodeBlock(36.6f, 12.0f, 210, 70);
        TestSupport::PymodbusServer server;
        GatewaySimulator sim(TestSupport::frozenGateway());
        if (pymodbus) {
            const QString why = server.start(registers);
            QVERIFY2(why.isEmpty(), qPrintable(why));
        } else {
            QVERIFY(sim.start());
            sim.setHoldingRegisters(0, registers);
        }
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"),
                                 pymodbus ? server.port() : sim.serverPort());
        for (int start : {0, 50, 58})
            addNode(connection, start);
        auto *client = dynamic_cast<ModbusDevice *>(connection.device());
        QCOMPARE(client->startAddress() + client->registerCount(), 66);
        for (int round = 1; round <= 3; ++round) {
            for (NodeDevice *node : connection.nodeList())
                node->deviceDisconnected();
            connection.poll();
            if (round == 1 && !pymodbus && interval == 1000)
                QCOMPARE(sim.requestCount(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(connection.nodeList().at(0)->ch1Text(),
                                      QStringLiteral("25.00"), 10000);
            QCOMPARE(TestSupport::nodeTexts(connection.nodeList()),
                     (QStringList{"25.00", "-12.50", "-1", "3600", "-3.75", "33.00", "150", "80",
                                  "36.60", "12.00", "210", "70"}));
            QCOMPARE(client->isOpen(), interval == 1000);
        }
        QTRY_COMPARE(client->modbusClient()->findChildren<QModbusReply *>().size(), 0);
        if (!pymodbus) {
            QCOMPARE(sim.acceptedConnections(), interval == 1000 ? 1 : 3);
            QTRY_COMPARE(sim.openConnections(), interval == 1000 ? 1 : 0);
        }
        connection.close();
        QCOMPARE(client->modbusClient()->state(), QModbusDevice::UnconnectedState);
    }

    // "Refresh Devices" while a poll's read is under way (a gateway answering
    // in 200 ms) sends nothing: the poll's answer is recorded as the poll's,
    // with the poll's time. A refresh answered before the next poll stays
    // unrecorded; one still under way at the next poll becomes that poll's.
    void refreshDuringRead_data()
    {
        QTest::addColumn<int>("interval");
        QTest::newRow("kept open") << 1000;
        QTest::newRow("per read") << 10000;
    }
    void refreshDuringRead()
    {
        QFETCH(int, interval);
        dataIntervalMs = interval;
        GatewaySimulator::Options options = TestSupport::frozenGateway(1);
        options.delayMs = 200;
        GatewaySimulator sim(options);
        QVERIFY(sim.start());
        sim.setDeviceValues(0, 30.25f, 60.5f, 1, 2);
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), sim.serverPort());
        NodeDevice *node = addNode(connection, 0);
        node->setRecord(true);
        auto settle = [&] { QTRY_VERIFY_WITH_TIMEOUT(!connection.device()->isBusy(), 10000); };

        connection.poll();
        const QDateTime pollTime = connection.lastPollTime();
        QTRY_COMPARE(sim.requestCount(), 1);
        connection.refresh();
        QVERIFY(!connection.isRefreshPending());
        settle();
        QCOMPARE(sim.requestCount(), 1); // the refresh sent nothing
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(1));

        connection.refresh(); // idle: a read of its own, not recorded
        QVERIFY(connection.isRefreshPending());
        settle();
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(1));

        connection.refresh();
        QTRY_COMPARE(sim.requestCount(), 3);
        connection.poll(); // finds the refresh under way and makes it its own
        QVERIFY(!connection.isRefreshPending());
        settle();
        QCOMPARE(sim.requestCount(), 3);

        const QString sample = QStringLiteral("30.25 60.5 %1");
        QCOMPARE(queuedRows(QStringLiteral("channel1, channel2, pointDate")),
                 (QStringList{sample.arg(pollTime.toSecsSinceEpoch()),
                              sample.arg(connection.lastPollTime().toSecsSinceEpoch())}));
        connection.close();
    }

    // Poll times follow the interval while the timer keeps time, so polls a
    // millisecond either side of a second's edge still land in consecutive
    // seconds; a poll far off the schedule starts a new one.
    void pollSchedule_data()
    {
        QTest::addColumn<qint64>("previous");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<int>("interval");
        QTest::addColumn<qint64>("stamped");
        const qint64 edge = 1'800'000'000'999; // .999 s
        QTest::newRow("first poll") << qint64(0) << edge << 1000 << edge;
        QTest::newRow("2 ms late, past the edge") << edge << edge + 1002 << 1000 << edge + 1000;
        QTest::newRow("3 ms early") << edge << edge + 997 << 1000 << edge + 1000;
        QTest::newRow("window blocked 600 ms") << edge << edge + 1600 << 1000 << edge + 1600;
        QTest::newRow("10 s, 400 ms late") << edge << edge + 10400 << 10000 << edge + 10000;
        QTest::newRow("10 min, 2 s late") << edge << edge + 602000 << 600000 << edge + 602000;
    }
    void pollSchedule()
    {
        QFETCH(qint64, previous);
        QFETCH(qint64, now);
        QFETCH(int, interval);
        QFETCH(qint64, stamped);
        QCOMPARE(ConfiguredDevice::scheduledPollMs(previous, now, interval), stamped);
    }

    // A node deleted elsewhere leaves no dangling entry; the rest go with the connection.
    void ownsItsNodes()
    {
        auto *connection = new ConfiguredDevice;
        QPointer<NodeDevice> a = addNode(*connection, 0);
        delete addNode(*connection, 8);
        QCOMPARE(connection->nodeList().size(), 1);
        addNode(*connection, 106);
        QCOMPARE(connection->readCount(), 114); // the highest start still fits one Modbus read
        connection->readData(bytesOf(nodeBlock(1, 2, 3, 4) + nodeBlock(1, 2, 3, 4)));
        delete connection;
        QVERIFY(a.isNull());
    }

    // Bounds are inside the range; an empty range never alarms; a float bound
    // of 10.1 is 10.1000004, so a reading of 10.10 is below it. checkAlarms()
    // recomputes the flags from the latest sample.
    void alarms_data()
    {
        QTest::addColumn<float>("min");
        QTest::addColumn<float>("max");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("empty range") << 0.f << 0.f << "1000.00" << false;
        QTest::newRow("lower bound") << 10.f << 30.f << "10.00" << false;
        QTest::newRow("upper bound") << 10.f << 30.f << "30.00" << false;
        QTest::newRow("below") << 10.f << 30.f << "9.99" << true;
        QTest::newRow("above") << 10.f << 30.f << "30.01" << true;
        QTest::newRow("float bound 10.1") << 10.1f << 30.f << "10.10" << true;
        QTest::newRow("no value") << 10.f << 30.f << "" << false;
        QTest::newRow("not a number") << 10.f << 30.f << "nan" << false;
    }
    void alarms()
    {
        QFETCH(float, min);
        QFETCH(float, max);
        QFETCH(QString, text);
        QFETCH(bool, alarm);
        NodeDevice node(QStringLiteral("N"));
        node.setAlarmRange(min, max, 0, 0);
        sample(node, text, text, QDateTime::currentDateTime());
        QCOMPARE(node.alarm1(), alarm);
        QVERIFY(!node.alarm2());
        node.setCheckAlarmSet1(std::numeric_limits<double>::quiet_NaN());
        QVERIFY(!node.alarm1());
        node.setAlarmRange(0, 0, min, max);
        node.checkAlarms();
        QCOMPARE(node.alarm2(), alarm);
        QVERIFY(!node.alarm1());
    }

    // The newest sample is at the end; a sample with the same time overwrites
    // it; later ones shift the arrays towards index 0.
    void history()
    {
        NodeDevice node(QStringLiteral("N"));
        const int last = NodeDevice::kHistorySize - 1;
        const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1600000000250LL);
        QCOMPARE(node.timeHistory()[last], NoValue);
        sample(node, QStringLiteral("1.00"), QString(), t0);
        QCOMPARE(node.timeHistory()[last], chartTime2(1600000000) + 0.25);
        QCOMPARE(chartTimeToDateTime(node.timeHistory()[last]), t0);
        QCOMPARE(node.ch1History()[last], 1.0);
        QCOMPARE(node.ch2History()[last], NoValue);

        sample(node, QStringLiteral("2.00"), QStringLiteral("3.00"), t0, true);
        QCOMPARE(node.ch1History()[last], 2.0);
        QCOMPARE(node.ch2History()[last], 3.0);
        QCOMPARE(node.timeHistory()[last - 1], NoValue);

        for (int i = 1; i <= NodeDevice::kHistorySize + 5; ++i)
            sample(node, QString::number(i, 'f', 2), QStringLiteral("0.00"), t0.addSecs(10 * i));
        double t[NodeDevice::kHistorySize], c1[NodeDevice::kHistorySize],
            c2[NodeDevice::kHistorySize];
        node.history(t, c1, c2);
        QCOMPARE(c1[last], double(NodeDevice::kHistorySize + 5));
        QCOMPARE(c1[0], 6.0);
        QCOMPARE(t[last] - t[0], 10.0 * last);
    }

    // Recorded samples become rows in a real database file: refresh samples
    // are not recorded, values keep 6 significant digits, and insertNoValue()
    // ends the period with a NULL row one interval after the last poll.
    void recording()
    {
        dataIntervalMs = 60000;
        ConfiguredDevice connection;
        auto *node = new NodeDevice(QStringLiteral("QL'001"), &connection);
        connection.addNode(node);
        const QDateTime time = QDateTime::fromSecsSinceEpoch(1600000000);

        sample(*node, QStringLiteral("21.50"), QStringLiteral("40.00"), time); // not recording yet
        node->setRecord(true);
        sample(*node, QStringLiteral("21.50"), QString(), time.addSecs(60));
        sample(*node, QStringLiteral("22.00"), QStringLiteral("41.00"), time.addSecs(60), true);
        sample(*node, QStringLiteral("1234567.89"), QStringLiteral("41.25"), time.addSecs(120));
        node->insertNoValue();
        node->setRecord(false);
        node->insertNoValue();

        const QString end =
            QString::number(connection.lastPollTime().addMSecs(dataIntervalMs).toSecsSinceEpoch());
        QCOMPARE(queuedRows(QStringLiteral("serialno, channel1, channel2, pointDate")),
                 (QStringList{"QL'001 21.5 NULL 1600000060", "QL'001 1234567.89 41.25 1600000120",
                              "QL'001 NULL NULL " + end}));
    }
};

QTEST_MAIN(tst_ConfiguredDevice)
#include "tst_configureddevice.moc"
