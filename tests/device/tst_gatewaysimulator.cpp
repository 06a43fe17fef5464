#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "gatewaysimulator.h"
#include "loopbackpeers.h"
#include "testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The gateway simulator as a program: its options, its help and repeatable,
// plausible values read through our own poller.
class tst_GatewaySimulator : public QObject
{
    Q_OBJECT

    static QString program()
    {
        return TestSupport::binaryDir() + QStringLiteral("/tools/gateway_sim/quillark-gateway-sim");
    }

    // Starts the program on a free port; returns the port (0 on failure).
    static quint16 launch(QProcess &process, const QStringList &arguments)
    {
        process.start(program(), QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        if (!process.waitForStarted(5000) || !process.waitForReadyRead(5000))
            return 0;
        const QString line = QString::fromLatin1(process.readLine());
        const auto match = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+) ")).match(line);
        return match.hasMatch() ? quint16(match.captured(1).toUInt()) : 0;
    }

    // One read of 16 devices through a poller; the node texts afterwards.
    static QStringList readAll(quint16 port)
    {
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), port);
        for (int d = 0; d < 14; ++d) {
            auto *node = new NodeDevice(QString::number(d), &connection);
            node->startAddress = 8 * d;
            connection.addNode(node);
        }
        connection.poll();
        if (!QTest::qWaitFor([&] { return connection.isConnected(); }, 5000))
            return {};
        QStringList texts;
        for (NodeDevice *node : connection.nodeList())
            texts << node->ch1Text() << node->ch2Text() << node->lqiText() << node->batteryText();
        return texts;
    }

private slots:
    void cleanup() { dataIntervalMs = kDefaultDataIntervalMs; }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("ok");
        QTest::newRow("defaults") << QStringList{} << true;
        QTest::newRow("all") << QStringList{"--port", "1600", "--devices", "4", "--seed", "9", "--update-ms", "0",
                                            "--silent", "--drop-every", "5", "--delay", "250", "--exception", "4"}
                             << true;
        QTest::newRow("port too big") << QStringList{"--port", "70000"} << false;
        QTest::newRow("too many devices") << QStringList{"--devices", "33"} << false;
        QTest::newRow("not a number") << QStringList{"--delay", "soon"} << false;
        QTest::newRow("unknown") << QStringList{"--frobnicate"} << false;
        QTest::newRow("stray argument") << QStringList{"extra"} << false;
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, ok);
        GatewaySimulator::Options options;
        QString error;
        bool help = false;
        QCOMPARE(GatewaySimulator::parseArguments(QStringList{"sim"} + arguments, &options, &error, &help), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (QTest::currentDataTag() == QLatin1String("defaults")) {
            QCOMPARE(options.port, quint16(1502));
            QCOMPARE(options.devices, 16);
            QVERIFY(!options.silent && !options.fixedSeed);
        }
        if (QTest::currentDataTag() == QLatin1String("all")) {
            QCOMPARE(options.port, quint16(1600));
            QCOMPARE(options.devices, 4);
            QVERIFY(options.fixedSeed);
            QCOMPARE(options.seed, 9u);
            QCOMPARE(options.updateMs, 0);
            QVERIFY(options.silent);
            QCOMPARE(options.dropEvery, 5);
            QCOMPARE(options.delayMs, 250);
            QCOMPARE(options.exceptionCode, 4);
        }
    }

    void helpListsEveryOption()
    {
        QProcess process;
        process.start(program(), {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QString help = QString::fromLatin1(process.readAllStandardOutput());
        for (const char *option : {"--port", "--devices", "--seed", "--update-ms", "--silent", "--drop-every",
                                   "--delay", "--exception", "--help"})
            QVERIFY2(help.contains(QLatin1String(option)), option);

        process.start(program(), {QStringLiteral("--devices"), QStringLiteral("x")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
    }

    // The same seed gives the same values; the values are plausible.
    void seededValues()
    {
        dataIntervalMs = 10000;
        QProcess first, second;
        const quint16 port1 = launch(first, {QStringLiteral("--seed"), QStringLiteral("42"), QStringLiteral("--update-ms"), QStringLiteral("0")});
        const quint16 port2 = launch(second, {QStringLiteral("--seed"), QStringLiteral("42"), QStringLiteral("--update-ms"), QStringLiteral("0")});
        QVERIFY(port1 && port2);
        const QStringList a = readAll(port1);
        const QStringList b = readAll(port2);
        first.kill();
        second.kill();
        first.waitForFinished();
        second.waitForFinished();
        QCOMPARE(a.size(), 14 * 4);
        QCOMPARE(a, b);
        for (int d = 0; d < 14; ++d) {
            const double temperature = a.at(4 * d).toDouble();
            const double humidity = a.at(4 * d + 1).toDouble();
            const int lqi = a.at(4 * d + 2).toInt();
            const int battery = a.at(4 * d + 3).toInt();
            QVERIFY2(temperature > 15 && temperature < 30, qPrintable(a.at(4 * d)));
            QVERIFY2(humidity > 30 && humidity < 70, qPrintable(a.at(4 * d + 1)));
            QVERIFY(lqi >= 150 && lqi <= 230);
            QVERIFY(battery > 0 && battery <= 100);
        }
    }

    // Registers after the last device read as zero.
    void fewerDevices()
    {
        GatewaySimulator::Options options;
        options.port = 0;
        options.devices = 2;
        GatewaySimulator sim(options);
        QVERIFY(sim.start());
        QVERIFY(sim.holdingRegister(8 + 1) != 0);
        QCOMPARE(sim.holdingRegister(16 + 1), quint16(0));
        QVERIFY(sim.serverPort() != 0);
        sim.stop();
        QVERIFY(!sim.isListening());
    }
};

QTEST_MAIN(tst_GatewaySimulator)
#include "tst_gatewaysimulator.moc"
