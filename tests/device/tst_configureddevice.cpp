#include "common/common.h"
#include "device/configureddevice.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"
#include "gatewaysimulator.h"
#include "loopbackpeers.h"
#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QPointer>
#include <QtTest>

#include <cstring>

namespace {

// Registers of one node's block as the gateway lays it out.
QVector<quint16> block(float ch1, float ch2, qint32 lqi, qint32 battery)
{
    quint32 b1, b2;
    std::memcpy(&b1, &ch1, 4);
    std::memcpy(&b2, &ch2, 4);
    QVector<quint16> r;
    for (quint32 w : {b1, b2, quint32(lqi), quint32(battery)})
        r << quint16(w & 0xFFFF) << quint16(w >> 16);
    return r;
}

QByteArray bytesOf(const QVector<quint16> &registers)
{
    QByteArray out;
    for (quint16 r : registers)
        out.append(char(r & 0xFF)).append(char(r >> 8));
    return out;
}

// Counts the log lines that declare a connection lost.
int g_lostLines = 0;
QtMessageHandler g_previousHandler = nullptr;
void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith(QLatin1String("- ConfiguredDevice::deviceDisconnected() :")))
        ++g_lostLines;
    if (type != QtDebugMsg && g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

class tst_ConfiguredDevice : public QObject
{
    Q_OBJECT

    static NodeDevice *addNode(ConfiguredDevice &connection, const QString &number, int start)
    {
        auto *node = new NodeDevice(number, &connection);
        node->startAddress = start;
        node->registerCount = 8;
        node->setNames(number + QStringLiteral("-name"), QStringLiteral("T"), QStringLiteral("H"));
        connection.addNode(node);
        return node;
    }

private slots:
    void init()
    {
        dataIntervalMs = 10000;
        InsertSerialData::clearQueue();
    }
    void cleanup()
    {
        dataIntervalMs = kDefaultDataIntervalMs;
        InsertSerialData::clearQueue();
    }

    void defaults()
    {
        ConfiguredDevice connection;
        QVERIFY(!connection.isConnected());
        QCOMPARE(connection.port(), quint16(502));
        QCOMPARE(connection.model(), QStringLiteral("QA100"));
        QVERIFY(connection.lastPollTime().isValid());
        QVERIFY(dynamic_cast<ModbusDevice *>(connection.device()) != nullptr);
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), 1502);
        QCOMPARE(connection.ipAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(connection.port(), quint16(1502));
        QCOMPARE(connection.device()->address(), QStringLiteral("127.0.0.1"));
    }

    // The read starts at register 0 and reaches the end of the highest block;
    // contiguous layouts read exactly 8 registers per node.
    void readRange_data()
    {
        QTest::addColumn<QList<int>>("starts");
        QTest::addColumn<int>("count");
        QTest::newRow("one") << QList<int>{0} << 8;
        QTest::newRow("contiguous") << QList<int>{0, 8, 16} << 24;
        QTest::newRow("unsorted") << QList<int>{8, 0} << 16;
        QTest::newRow("gap 0 16") << QList<int>{0, 16} << 24;
        QTest::newRow("gap 0 50 58") << QList<int>{0, 50, 58} << 66;
        QTest::newRow("highest start") << QList<int>{106} << 114;
    }
    void readRange()
    {
        QFETCH(QList<int>, starts);
        QFETCH(int, count);
        ConfiguredDevice connection;
        for (int s : starts)
            addNode(connection, QString::number(s), s);
        QCOMPARE(connection.readStart(), 0);
        QCOMPARE(connection.readCount(), count);
        auto *client = dynamic_cast<ModbusDevice *>(connection.device());
        QCOMPARE(client->startAddress(), 0);
        QCOMPARE(client->registerCount(), count);
    }

    void decoding_data()
    {
        QTest::addColumn<QVector<quint16>>("registers");
        QTest::addColumn<QString>("ch1");
        QTest::addColumn<QString>("ch2");
        QTest::addColumn<QString>("lqi");
        QTest::addColumn<QString>("battery");
        QTest::newRow("25.00 and -1")
            << QVector<quint16>{0x0000, 0x41C8, 0x0000, 0x0000, 0xFFFF, 0xFFFF, 0x0064, 0x0000}
            << "25.00" << "0.00" << "-1" << "100";
        QTest::newRow("negative float") << block(-12.5f, 45.25f, 200, 3600) << "-12.50" << "45.25" << "200"
                                        << "3600";
        QTest::newRow("rounding") << block(21.456f, 99.994f, -70, 0) << "21.46" << "99.99" << "-70" << "0";
        QTest::newRow("high words") << block(0.0f, 1.0f, 0x12345678, -0x12345678) << "0.00" << "1.00"
                                    << "305419896" << "-305419896";
    }
    void decoding()
    {
        QFETCH(QVector<quint16>, registers);
        QFETCH(QString, ch1);
        QFETCH(QString, ch2);
        QFETCH(QString, lqi);
        QFETCH(QString, battery);
        ConfiguredDevice connection;
        NodeDevice *node = addNode(connection, QStringLiteral("A"), 0);
        connection.readData(bytesOf(registers));
        QCOMPARE(node->ch1Text(), ch1);
        QCOMPARE(node->ch2Text(), ch2);
        QCOMPARE(node->lqiText(), lqi);
        QCOMPARE(node->batteryText(), battery);
        QVERIFY(connection.isConnected());
    }

    void twoNodesSplitTheReply()
    {
        ConfiguredDevice connection;
        NodeDevice *a = addNode(connection, QStringLiteral("A"), 0);
        NodeDevice *b = addNode(connection, QStringLiteral("B"), 8);
        connection.readData(bytesOf(block(1.5f, 2.5f, 3, 4) + block(5.5f, 6.5f, 7, 8)));
        QCOMPARE(a->ch1Text(), QStringLiteral("1.50"));
        QCOMPARE(a->batteryText(), QStringLiteral("4"));
        QCOMPARE(b->ch1Text(), QStringLiteral("5.50"));
        QCOMPARE(b->ch2Text(), QStringLiteral("6.50"));
        QCOMPARE(b->lqiText(), QStringLiteral("7"));
        QCOMPARE(b->batteryText(), QStringLiteral("8"));
    }

    // A node whose block lies beyond a short reply gets no value and is never
    // read outside the data.
    void shortReply()
    {
        ConfiguredDevice connection;
        NodeDevice *a = addNode(connection, QStringLiteral("A"), 0);
        NodeDevice *b = addNode(connection, QStringLiteral("B"), 8);
        b->setData(QStringLiteral("1.00"), QStringLiteral("2.00"), QStringLiteral("3"), QStringLiteral("4"),
                   QDateTime::currentDateTime(), false);
        QByteArray data = bytesOf(block(1.5f, 2.5f, 3, 4) + block(5.5f, 6.5f, 7, 8));
        data.truncate(20);
        connection.readData(data);
        QCOMPARE(a->ch1Text(), QStringLiteral("1.50"));
        QCOMPARE(b->ch1Text(), QString());
        QCOMPARE(b->ch2Text(), QString());
        QCOMPARE(b->lqiText(), QString());
        QCOMPARE(b->batteryText(), QString());
        connection.readData(QByteArray());
        QCOMPARE(a->ch1Text(), QString());
    }

    // Samples of a refresh carry the last poll's time and are not recorded;
    // the next reply's samples are.
    void refreshFlag()
    {
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), TestSupport::freeLoopbackPort());
        NodeDevice *node = addNode(connection, QStringLiteral("A"), 0);
        node->setRecord(true);
        const QDateTime before = connection.lastPollTime();
        connection.refresh();
        QVERIFY(connection.isRefreshPending());
        QCOMPARE(connection.lastPollTime(), before);
        connection.readData(bytesOf(block(20.0f, 40.0f, 1, 2)));
        QVERIFY(!connection.isRefreshPending());
        QCOMPARE(node->ch1Text(), QStringLiteral("20.00"));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        connection.readData(bytesOf(block(21.0f, 41.0f, 1, 2)));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(1));
        connection.close();
    }

    // Polls without a reply: the (limit+1)-th declares the connection lost,
    // every further one again; a reply clears the count and reconnects.
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
        ConfiguredDevice connection;
        // Nothing listens there: no poll is ever answered.
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), TestSupport::freeLoopbackPort());
        NodeDevice *node = addNode(connection, QStringLiteral("A"), 0);
        node->setAlarmRange(0, 10, 0, 10);
        connection.readData(bytesOf(block(20.0f, 5.0f, 1, 2)));
        QVERIFY(connection.isConnected());
        QVERIFY(node->alarm1());

        const_cast<QLoggingCategory &>(lcDevice()).setEnabled(QtDebugMsg, true);
        g_lostLines = 0;
        g_previousHandler = qInstallMessageHandler(countingHandler);
        for (int poll = 1; poll <= limit; ++poll) {
            connection.poll();
            QCOMPARE(connection.missedPolls(), poll);
            QVERIFY(connection.isConnected());
        }
        QCOMPARE(node->ch1Text(), QStringLiteral("20.00"));
        connection.poll();
        QCOMPARE(g_lostLines, 1);
        QVERIFY(!connection.isConnected());
        QCOMPARE(connection.missedPolls(), limit);
        QCOMPARE(node->ch1Text(), QString());
        QCOMPARE(node->ch2Text(), QString());
        QVERIFY(!node->alarm1());
        connection.poll();
        QCOMPARE(g_lostLines, 2);
        QCOMPARE(connection.missedPolls(), limit);
        qInstallMessageHandler(g_previousHandler);

        connection.readData(bytesOf(block(20.0f, 5.0f, 1, 2)));
        QVERIFY(connection.isConnected());
        QCOMPARE(connection.missedPolls(), 0);
        connection.close();
    }

    // The gap layout end to end: every node gets its own block from the gateway.
    void gapLayoutAgainstSimulator()
    {
        GatewaySimulator::Options options;
        options.port = 0;
        options.updateMs = 0;
        GatewaySimulator sim(options);
        QVERIFY(sim.start());
        sim.setHoldingRegisters(0, block(10.25f, 60.5f, 180, 95));
        sim.setHoldingRegisters(50, block(-3.75f, 33.0f, 150, 80));
        sim.setHoldingRegisters(58, block(36.6f, 12.0f, 210, 70));

        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), sim.serverPort());
        NodeDevice *a = addNode(connection, QStringLiteral("A"), 0);
        NodeDevice *b = addNode(connection, QStringLiteral("B"), 50);
        NodeDevice *c = addNode(connection, QStringLiteral("C"), 58);
        connection.poll();
        QTRY_VERIFY(connection.isConnected());
        QCOMPARE(a->ch1Text(), QStringLiteral("10.25"));
        QCOMPARE(b->ch1Text(), QStringLiteral("-3.75"));
        QCOMPARE(b->ch2Text(), QStringLiteral("33.00"));
        QCOMPARE(b->lqiText(), QStringLiteral("150"));
        QCOMPARE(c->ch1Text(), QStringLiteral("36.60"));
        QCOMPARE(c->batteryText(), QStringLiteral("70"));
    }

    // A gateway that stops answering is declared lost; data resumes when it answers again.
    void silentGatewayAndBack()
    {
        GatewaySimulator::Options options;
        options.port = 0;
        options.updateMs = 0;
        GatewaySimulator sim(options);
        QVERIFY(sim.start());
        sim.setHoldingRegisters(0, block(22.0f, 50.0f, 190, 90));

        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), sim.serverPort());
        NodeDevice *node = addNode(connection, QStringLiteral("A"), 0);
        connection.poll();
        QTRY_COMPARE(node->ch1Text(), QStringLiteral("22.00"));

        sim.setSilent(true);
        for (int poll = 1; poll <= 3; ++poll) {
            connection.poll();
            QTRY_COMPARE(sim.requestCount(), 1 + poll);
        }
        QVERIFY(!connection.isConnected());
        QCOMPARE(node->ch1Text(), QString());

        sim.setSilent(false);
        sim.setHoldingRegisters(0, block(23.5f, 51.0f, 190, 90));
        connection.poll();
        QTRY_VERIFY(connection.isConnected());
        QCOMPARE(node->ch1Text(), QStringLiteral("23.50"));
    }

    // The same decoding against a server we did not write.
    void pymodbusPeer()
    {
        QVector<quint16> registers =
            QVector<quint16>{0x0000, 0x41C8, 0x0000, 0xC148, 0xFFFF, 0xFFFF, 0x0E10, 0x0000}
            + block(18.5f, 55.75f, 201, 97);
        TestSupport::PymodbusServer server;
        const QString why = server.start(registers);
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
        dataIntervalMs = 1000;
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), server.port());
        NodeDevice *a = addNode(connection, QStringLiteral("A"), 0);
        NodeDevice *b = addNode(connection, QStringLiteral("B"), 8);
        connection.poll();
        QTRY_VERIFY_WITH_TIMEOUT(connection.isConnected(), 10000);
        QCOMPARE(a->ch1Text(), QStringLiteral("25.00"));
        QCOMPARE(a->ch2Text(), QStringLiteral("-12.50"));
        QCOMPARE(a->lqiText(), QStringLiteral("-1"));
        QCOMPARE(a->batteryText(), QStringLiteral("3600"));
        QCOMPARE(b->ch1Text(), QStringLiteral("18.50"));
        QCOMPARE(b->ch2Text(), QStringLiteral("55.75"));
        QCOMPARE(b->lqiText(), QStringLiteral("201"));
        connection.close();
    }

    void ownsItsNodes()
    {
        auto *connection = new ConfiguredDevice;
        QPointer<NodeDevice> a = addNode(*connection, QStringLiteral("A"), 0);
        NodeDevice *b = addNode(*connection, QStringLiteral("B"), 8);
        QCOMPARE(connection->nodeList().size(), 2);
        QCOMPARE(a->connection(), connection);
        delete b; // deleted elsewhere: no dangling entry
        QCOMPARE(connection->nodeList().size(), 1);
        connection->readData(bytesOf(block(1, 2, 3, 4) + block(1, 2, 3, 4)));
        delete connection;
        QVERIFY(a.isNull());
    }
};

QTEST_MAIN(tst_ConfiguredDevice)
#include "tst_configureddevice.moc"
