#include "common/common.h"
#include "device/configureddevice.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"
#include "gatewayfixture.h"
#include "testsupport.h"

#include <QModbusTcpClient>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

// The Modbus client against faulty gateways on 127.0.0.1 (reads that work are
// checked through the poller in tst_configureddevice), and the gateway
// simulator as a program: its options and repeatable, plausible values.
class tst_ModbusDevice : public QObject
{
    Q_OBJECT

    std::unique_ptr<GatewaySimulator> m_sim;

    void startSimulator(quint16 port = 0)
    {
        m_sim.reset(new GatewaySimulator(TestSupport::frozenGateway(16, port)));
        QVERIFY(m_sim->start());
    }

    void attach(ModbusDevice &device, int count = 16)
    {
        device.setDeviceInfo(QStringLiteral("127.0.0.1"), m_sim->serverPort());
        device.setReadRange(0, count);
    }

    static QModbusDevice::State stateOf(const ModbusDevice &device)
    {
        return device.modbusClient() ? device.modbusClient()->state()
                                     : QModbusDevice::UnconnectedState;
    }

    static QString program()
    {
        return TestSupport::binaryDir() + QStringLiteral("/tools/gateway_sim/quillark-gateway-sim");
    }

    // Runs the program on a free port, polls its 14 devices once and returns the node texts.
    static QStringList readAll()
    {
        QProcess process;
        process.start(program(), {"--port", "0", "--seed", "42", "--update-ms", "0"});
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return {};
        const auto match = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+) "))
                               .match(QString::fromLatin1(process.readLine()));
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), quint16(match.captured(1).toUInt()));
        for (int d = 0; d < 14; ++d)
            TestSupport::addNode(connection, 8 * d);
        connection.poll();
        const QStringList texts = QTest::qWaitFor([&] { return connection.isConnected(); }, 5000)
                                      ? TestSupport::nodeTexts(connection.nodeList())
                                      : QStringList();
        process.kill();
        TestSupport::waitUntilFinished(process, 5000);
        return texts;
    }

private slots:
    void init() { startSimulator(); }
    void cleanup()
    {
        m_sim.reset();
        dataIntervalMs = kDefaultDataIntervalMs;
    }

    // A gateway that accepts and never answers, answers with an exception, or
    // goes away (connection lost, then refused) and comes back on the same
    // port: the read is given up without data, the client ends unconnected,
    // and reads resume by themselves once the gateway behaves again.
    void faultyServer_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("interval");
        QTest::newRow("silent, kept open") << "silent" << 1000;
        QTest::newRow("silent, per read") << "silent" << 10000;
        QTest::newRow("exception") << "exception" << 10000;
        QTest::newRow("gone and back") << "gone" << 1000;
    }
    void faultyServer()
    {
        QFETCH(QString, fault);
        QFETCH(int, interval);
        dataIntervalMs = interval;
        ModbusDevice device;
        device.setWatchdogTimes(300, 300);
        attach(device);
        const quint16 port = m_sim->serverPort();
        QSignalSpy spy(&device, SIGNAL(readyRead(QByteArray)));
        device.write();
        QTRY_COMPARE(spy.count(), 1);

        if (fault == QLatin1String("gone")) {
            m_sim.reset();
        } else {
            m_sim->setSilent(fault == QLatin1String("silent"));
            m_sim->setExceptionCode(fault == QLatin1String("exception") ? 2 : 0);
        }
        for (int i = 0; i < 2; ++i) {
            device.write();
            QTRY_VERIFY(!device.isRequestPending() &&
                        stateOf(device) == QModbusDevice::UnconnectedState);
        }
        QCOMPARE(spy.count(), 1);

        if (m_sim) {
            QTRY_COMPARE(m_sim->requestCount(), 3);
            m_sim->setSilent(false);
            m_sim->setExceptionCode(0);
        } else {
            startSimulator(port);
        }
        for (int i = 0; i < 40 && spy.count() < 2; ++i) {
            device.write();
            QTest::qWait(100);
        }
        QVERIFY(spy.count() >= 2);
    }

    // The answer time allowed grows with the interval (a third of it, at most
    // 3 s; 800 ms at 1 s): a gateway answering in 900 ms delivers at 5 s and
    // 10 s, and at 1 s its request times out (one request in flight).
    void slowGateway_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<bool>("answered");
        QTest::newRow("1 s") << 1000 << 800 << false;
        QTest::newRow("5 s") << 5000 << 1666 << true;
        QTest::newRow("10 s") << 10000 << 3000 << true;
    }
    void slowGateway()
    {
        QFETCH(int, interval);
        QFETCH(int, timeout);
        QFETCH(bool, answered);
        dataIntervalMs = interval;
        QCOMPARE(ModbusDevice::requestTimeoutMs(), timeout);
        m_sim->setDelayMs(900);
        ModbusDevice device;
        attach(device);
        QSignalSpy data(&device, SIGNAL(readyRead(QByteArray)));
        QSignalSpy failed(&device, SIGNAL(readFailed(bool, QString)));
        device.write();
        if (interval == 1000) // the first write opens the connection and reads
            QTRY_COMPARE(m_sim->requestCount(), 1);
        QVERIFY(device.isBusy());
        device.write(); // nothing more while one is in flight
        QTRY_VERIFY_WITH_TIMEOUT(data.count() + failed.count() > 0, 8000);
        QCOMPARE(data.count(), answered ? 1 : 0);
        QCOMPARE(failed.count(), answered ? 0 : 1);
        if (!answered)
            QCOMPARE(failed.first().at(0).toBool(), true); // a timeout, not an error
        QCOMPARE(m_sim->requestCount(), 1);
        QCOMPARE(device.modbusClient()->timeout(), timeout);
    }

    // A connect that never completes (a loopback listener with a full accept
    // queue drops further SYNs): the watchdog gives up, the stuck client is
    // replaced, and later writes try again without piling up.
    void connectNeverCompletes()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        listener.pauseAccepting(); // nothing is taken off the queue...
        QCOMPARE(::listen(int(listener.socketDescriptor()), 0), 0); // ...which holds one
        const quint16 port = listener.serverPort();
        std::vector<std::unique_ptr<QTcpSocket>> fillers;
        for (int i = 0; i < 3; ++i) {
            fillers.emplace_back(new QTcpSocket);
            fillers.back()->connectToHost(QHostAddress::LocalHost, port);
            fillers.back()->waitForConnected(300);
        }

        ModbusDevice device;
        device.setWatchdogTimes(300, 300);
        device.setDeviceInfo(QStringLiteral("127.0.0.1"), port);
        device.setReadRange(0, 8);
        QSignalSpy spy(&device, SIGNAL(readyRead(QByteArray)));
        device.write();
        QTest::qWait(100);
        if (stateOf(device) != QModbusDevice::ConnectingState)
            QSKIP("this kernel completes connections beyond the accept queue");
        QTRY_COMPARE(stateOf(device), QModbusDevice::UnconnectedState);
        QVERIFY(device.replacedClients() >= 1);
        QVERIFY(!device.isOpen());
        for (int i = 0; i < 3; ++i) {
            device.write();
            QTRY_COMPARE(stateOf(device), QModbusDevice::UnconnectedState);
        }
        QCOMPARE(spy.count(), 0);
    }

    // close() leaves the client unconnected when it returns, also while a
    // connection attempt or a read is under way; deleting mid-read is clean.
    void closeMidway_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("connecting") << "connecting";
        QTest::newRow("reading") << "reading";
        QTest::newRow("destroyed while reading") << "destroy";
    }
    void closeMidway()
    {
        QFETCH(QString, phase);
        m_sim->setDelayMs(200);
        auto device = std::make_unique<ModbusDevice>();
        attach(*device);
        QSignalSpy spy(device.get(), SIGNAL(readyRead(QByteArray)));
        if (phase == QLatin1String("connecting")) {
            device->open();
            QCOMPARE(stateOf(*device), QModbusDevice::ConnectingState);
        } else {
            device->write();
            QTRY_COMPARE(m_sim->requestCount(), 1);
            QVERIFY(device->isRequestPending());
        }
        if (phase == QLatin1String("destroy")) {
            device.reset();
            QTest::qWait(300);
            return;
        }
        device->close();
        QCOMPARE(stateOf(*device), QModbusDevice::UnconnectedState);
        QVERIFY(!device->isOpen());
        QVERIFY(!device->isRequestPending());
        // Qt's client cannot come back from an abort while connecting: replaced.
        QCOMPARE(device->replacedClients(), phase == QLatin1String("connecting") ? 1 : 0);
        QTest::qWait(300);
        QCOMPARE(stateOf(*device), QModbusDevice::UnconnectedState);
        QCOMPARE(spy.count(), 0);
        device->write();
        QTRY_COMPARE(spy.count(), 1);
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("help") << QStringList{"--help"} << 0;
        QTest::newRow("port too big") << QStringList{"--port", "70000"} << 2;
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << 2;
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QCOMPARE(TestSupport::runProgram(program(), arguments,
                                         QProcessEnvironment::systemEnvironment(), 10000)
                     .code,
                 exitCode);
    }

    // The same seed gives the same values; the values are plausible.
    void seededValues()
    {
        dataIntervalMs = 10000;
        const QStringList a = readAll();
        const QStringList b = readAll();
        QCOMPARE(a.size(), 14 * 4);
        QCOMPARE(a, b);
        const double low[] = {15, 30, 150, 1}, high[] = {30, 70, 230, 100};
        for (int i = 0; i < a.size(); ++i)
            QVERIFY2(a.at(i).toDouble() >= low[i % 4] && a.at(i).toDouble() <= high[i % 4],
                     qPrintable(a.at(i)));
    }
};

QTEST_MAIN(tst_ModbusDevice)
#include "tst_modbusdevice.moc"
