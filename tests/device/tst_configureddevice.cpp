#include "common/common.h"
#include "device/configureddevice.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"
#include "gatewayfixture.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "record/recordreader.h"
#include "testsupport.h"

#include <QModbusReply>
#include <QModbusTcpClient>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

using TestSupport::addNode;
using TestSupport::nodeBlock;

QByteArray bytesOf(const QVector<quint16> &registers)
{
    QByteArray out;
    for (quint16 r : registers)
        out.append(char(r & 0xFF)).append(char(r >> 8));
    return out;
}

QStringList textsOf(const QList<NodeDevice *> &nodes)
{
    QStringList texts;
    for (NodeDevice *node : nodes)
        texts << node->ch1Text() << node->ch2Text() << node->lqiText() << node->batteryText();
    return texts;
}

const QVector<quint16> kFirstBlock{0x0000, 0x41C8, 0x0000, 0xC148, 0xFFFF, 0xFFFF, 0x0E10, 0x0000};

} // namespace

class tst_ConfiguredDevice : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        dataIntervalMs = kDefaultDataIntervalMs;
        InsertSerialData::clearQueue();
    }

    // Two nodes at 0 and 8 split the reply (contiguous blocks are read exactly);
    // a node whose block lies beyond a short reply gets no value (and is never
    // read outside the data). The texts keep two decimals; the recorded
    // values are the float32 values as the gateway sent them.
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QVector<double>>("recorded");
        const QByteArray second = bytesOf(nodeBlock(5.5f, 6.5f, 7, 8));
        const double none = NoValue;
        QTest::newRow("25.00 and -1")
            << bytesOf(kFirstBlock) + second
            << QStringList{"25.00", "-12.50", "-1", "3600", "5.50", "6.50", "7", "8"}
            << QVector<double>{25, -12.5, 5.5, 6.5};
        QTest::newRow("rounding, high words")
            << bytesOf(nodeBlock(21.456f, 99.994f, 0x12345678, -0x12345678)) + second
            << QStringList{"21.46", "99.99", "305419896", "-305419896", "5.50", "6.50", "7", "8"}
            << QVector<double>{double(21.456f), double(99.994f), 5.5, 6.5};
        QTest::newRow("short reply") << (bytesOf(kFirstBlock) + second).left(20)
                                     << QStringList{"25.00", "-12.50", "-1", "3600", "", "", "", ""}
                                     << QVector<double>{25, -12.5, none, none};
        QTest::newRow("empty reply") << QByteArray() << QStringList{"", "", "", "", "", "", "", ""}
                                     << QVector<double>{none, none, none, none};
    }
    void decoding()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, texts);
        ConfiguredDevice connection;
        addNode(connection, 0);
        addNode(connection, 8);
        QCOMPARE(connection.readCount(), 16);
        QFETCH(QVector<double>, recorded);
        for (NodeDevice *node : connection.nodeList()) {
            node->setData("9.00", "9.00", "9", "9", QDateTime::currentDateTime(), false);
            node->setRecord(true);
        }
        connection.readData(reply);
        QCOMPARE(textsOf(connection.nodeList()), texts);
        QVERIFY(connection.isConnected());

        QTemporaryDir dir;
        QString error;
        QVERIFY2(InsertSerialData::saveQueueTo(dir.filePath("rows.dat"), &error),
                 qPrintable(error));
        RecordReader reader;
        QVERIFY(reader.open(dir.filePath("rows.dat")));
        QVector<double> stored;
        reader.forEachRowAfterId(0, 0, [&stored](const RecordRow &row) {
            stored << row.channel1 << row.channel2;
            return true;
        });
        QCOMPARE(stored, recorded); // exactly, not merely close
    }

    // Polls without a reply: the (limit+1)-th declares the connection lost
    // (texts and alarms cleared, history kept), every further one again; a
    // reply clears the count and reconnects.
    void missedPolls_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("limit");
        QTest::newRow("10 s") << 10000 << 2;
        QTest::newRow("1 s") << 1000 << 5;
    }
    void missedPolls()
    {
        QFETCH(int, interval);
        QFETCH(int, limit);
        dataIntervalMs = interval;
        const TestSupport::DeadPort dead; // nobody there
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), dead.port());
        NodeDevice *node = addNode(connection, 0);
        node->setAlarmRange(0, 10, 0, 10);
        connection.readData(bytesOf(nodeBlock(20.0f, 5.0f, 1, 2)));
        QVERIFY(node->alarm1());

        QTest::qWait(2); // the polls come after the sample, as they do at any interval
        const_cast<QLoggingCategory &>(lcDevice()).setEnabled(QtDebugMsg, true);
        const QRegularExpression lost(
            QStringLiteral("^- ConfiguredDevice::deviceDisconnected\\(\\) :"));
        for (int poll = 1; poll <= limit; ++poll) {
            connection.poll();
            QCOMPARE(connection.missedPolls(), poll);
            QVERIFY(connection.isConnected());
        }
        QCOMPARE(node->ch1Text(), QStringLiteral("20.00"));
        QTest::ignoreMessage(QtDebugMsg, lost);
        connection.poll();
        QVERIFY(!connection.isConnected());
        QCOMPARE(connection.missedPolls(), limit);
        QCOMPARE(textsOf({node}).mid(0, 2), (QStringList{"", ""}));
        QVERIFY(!node->alarm1());
        // The history keeps the sample and shows the gap after it.
        QCOMPARE(node->ch1History()[NodeDevice::kHistorySize - 2], 20.0);
        QCOMPARE(node->ch1History()[NodeDevice::kHistorySize - 1], NoValue);
        QTest::ignoreMessage(QtDebugMsg, lost); // declared again at every further poll
        connection.poll();

        connection.readData(bytesOf(nodeBlock(20.0f, 5.0f, 1, 2)));
        QVERIFY(connection.isConnected());
        QCOMPARE(connection.missedPolls(), 0);
        connection.close();
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
            QCOMPARE(textsOf(connection.nodeList()),
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
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(2));

        QTemporaryDir dir;
        InsertSerialData db(dir.filePath(QStringLiteral("refresh.dat")),
                            QStringLiteral("tstrefresh"));
        QVERIFY(db.createConnection());
        QVERIFY(db.insertNow());
        const QList<QVariantList> rows = TestSupport::sqlRows(
            db.databasePath(),
            QStringLiteral("select channel1, channel2, pointDate from fennolink order by id"));
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0), (QVariantList{30.25, 60.5, pollTime.toSecsSinceEpoch()}));
        QCOMPARE(rows.at(1).at(2).toLongLong(), connection.lastPollTime().toSecsSinceEpoch());
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
};

QTEST_MAIN(tst_ConfiguredDevice)
#include "tst_configureddevice.moc"
