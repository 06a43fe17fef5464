#include "common/common.h"
#include "gatewayfixture.h"
#include "testsupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

// The gateway simulator as a program: its options and repeatable, plausible
// values read through our own poller.
class tst_GatewaySimulator : public QObject
{
    Q_OBJECT

    static QString program()
    {
        return TestSupport::binaryDir() + QStringLiteral("/tools/gateway_sim/quillark-gateway-sim");
    }

    // Runs the program on a free port, polls its 14 devices once and returns the node texts.
    static QStringList readAll(QProcess &process)
    {
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
        QStringList texts;
        if (QTest::qWaitFor([&] { return connection.isConnected(); }, 5000)) {
            for (NodeDevice *node : connection.nodeList())
                texts << node->ch1Text() << node->ch2Text() << node->lqiText()
                      << node->batteryText();
        }
        process.kill();
        process.waitForFinished();
        return texts;
    }

private slots:
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
        QProcess process;
        process.start(program(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), exitCode);
    }

    // The same seed gives the same values; the values are plausible.
    void seededValues()
    {
        dataIntervalMs = 10000;
        QProcess first, second;
        const QStringList a = readAll(first);
        const QStringList b = readAll(second);
        dataIntervalMs = kDefaultDataIntervalMs;
        QCOMPARE(a.size(), 14 * 4);
        QCOMPARE(a, b);
        const double low[] = {15, 30, 150, 1}, high[] = {30, 70, 230, 100};
        for (int i = 0; i < a.size(); ++i)
            QVERIFY2(a.at(i).toDouble() >= low[i % 4] && a.at(i).toDouble() <= high[i % 4],
                     qPrintable(a.at(i)));
    }
};

QTEST_MAIN(tst_GatewaySimulator)
#include "tst_gatewaysimulator.moc"
