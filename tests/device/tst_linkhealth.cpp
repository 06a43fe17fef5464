#include "common/common.h"
#include "device/configureddevice.h"
#include "device/linkhealth.h"
#include "device/linknoticeboard.h"
#include "device/modbusdevice.h"
#include "device/networksettingdialog.h"
#include "device/nodedevice.h"
#include "gatewayfixture.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace
{

// A Modbus TCP peer on 127.0.0.1 of our own making, for replies no real
// gateway should send: every read request is answered with `pdu` (function
// code first), framed as the request was.
class RawGateway : public QObject
{
public:
    QByteArray pdu;

    bool start()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
        return m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    void serve(QTcpSocket *socket)
    {
        m_buffer += socket->readAll();
        for (; m_buffer.size() >= 12; m_buffer.remove(0, 12)) {
            QByteArray frame = m_buffer.left(4); // transaction and protocol identifiers
            frame.append(char((pdu.size() + 1) >> 8)).append(char((pdu.size() + 1) & 0xFF));
            socket->write(frame.append(m_buffer.at(6)).append(pdu)); // the unit identifier
        }
    }

    QTcpServer m_server;
    QByteArray m_buffer;
};

QByteArray registerPdu(quint8 functionCode, const QVector<quint16> &registers)
{
    QByteArray pdu;
    pdu.append(char(functionCode)).append(char(registers.size() * 2));
    for (quint16 r : registers)
        pdu.append(char(r >> 8)).append(char(r & 0xFF));
    return pdu;
}

using TestSupport::addNode;
using TestSupport::nodeBlock;
using TestSupport::queuedRows;

// Polls once and waits until that request has ended, one way or the other.
void pollAndSettle(ConfiguredDevice &connection)
{
    connection.poll();
    QTRY_VERIFY_WITH_TIMEOUT(!connection.device()->isBusy(), 10000);
}

} // namespace

// The link health a poller keeps (counters, state, round trips), the notices
// it gives when its gateway is lost and back, the gap it leaves in the
// recording, and where the user sees all this: the network dialog and the
// status strip.
class tst_LinkHealth : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::isolateSettings(); }
    void cleanup()
    {
        dataIntervalMs = kDefaultDataIntervalMs;
        InsertSerialData::clearQueue();
    }

    // Replies on the wire. Two nodes at 0 and 8 split the reply; the texts
    // keep two decimals and the recorded values are the float32 values as
    // the gateway sent them. A node whose block lies beyond a short reply,
    // NaN and infinite values get "no data" (counted, never alarmed); a wrong
    // function code is refused and an exception is an error: neither shows
    // nor records a value. The recorded texts are the shortest that read
    // back as the same double: exact, not merely close.
    void replies_data()
    {
        QTest::addColumn<QByteArray>("pdu");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("recorded");
        QTest::addColumn<int>("errors");
        QTest::addColumn<int>("noData");
        QTest::addColumn<QString>("error");
        const QVector<quint16> first{0x0000, 0x41C8, 0x0000, 0xC148, 0xFFFF, 0xFFFF, 0x0E10, 0};
        const QVector<quint16> second = nodeBlock(-4.0f, 12.0f, 7, 90);
        const QStringList none{"", "", "", "", "", "", "", ""};
        QTest::newRow("25.00 and -1")
            << registerPdu(0x03, first + second)
            << QStringList{"25.00", "-12.50", "-1", "3600", "-4.00", "12.00", "7", "90"}
            << QStringList{"25 -12.5", "-4 12"} << 0 << 0 << "";
        QTest::newRow("rounding, high words")
            << registerPdu(0x03, nodeBlock(21.456f, 99.994f, 0x12345678, -0x12345678) + second)
            << QStringList{"21.46", "99.99", "305419896", "-305419896", "-4.00", "12.00", "7", "90"}
            << QStringList{"21.45599937438965 99.99400329589844", "-4 12"} << 0 << 0 << "";
        QTest::newRow("wrong function code")
            << registerPdu(0x04, first + second) << none << QStringList{} << 1 << 0
            << "wrong function code 0x04 in the reply";
        QTest::newRow("NaN values")
            << registerPdu(0x03, nodeBlock(qQNaN(), -qQNaN(), 7, 90) + second)
            << QStringList{"", "", "7", "90", "-4.00", "12.00", "7", "90"}
            << QStringList{"NULL NULL", "-4 12"} << 0 << 2 << "";
        QTest::newRow("infinity") << registerPdu(0x03, nodeBlock(qInf(), 3.0f, 7, 90) + second)
                                  << QStringList{"", "3.00", "7", "90", "-4.00", "12.00", "7", "90"}
                                  << QStringList{"NULL 3", "-4 12"} << 0 << 1 << "";
        QTest::newRow("short reply") << registerPdu(0x03, nodeBlock(21.5f, 48.25f, 7, 90))
                                     << QStringList{"21.50", "48.25", "7", "90", "", "", "", ""}
                                     << QStringList{"21.5 48.25", "NULL NULL"} << 0 << 2 << "";
        QTest::newRow("exception")
            << QByteArray("\x83\x02", 2) << none << QStringList{} << 1 << 0 << "";
    }
    void replies()
    {
        QFETCH(QByteArray, pdu);
        QFETCH(QStringList, texts);
        QFETCH(QStringList, recorded);
        QFETCH(int, errors);
        QFETCH(int, noData);
        QFETCH(QString, error);
        RawGateway gateway;
        gateway.pdu = pdu;
        QVERIFY(gateway.start());
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), gateway.port());
        NodeDevice *first = addNode(connection, 0);
        NodeDevice *second = addNode(connection, 8);
        first->setAlarmRange(0, 10, 0, 10); // any number alarms, no value must
        first->setRecord(true);
        second->setRecord(true);

        pollAndSettle(connection);
        QCOMPARE(TestSupport::nodeTexts({first, second}), texts);
        const LinkHealth &health = connection.health();
        QCOMPARE(health.pollsSent, quint64(1));
        QCOMPARE(health.answers, quint64(1 - errors));
        QCOMPARE(health.errors, quint64(errors));
        QCOMPARE(health.timeouts, quint64(0));
        QCOMPARE(health.noDataValues, quint64(noData));
        if (!error.isEmpty())
            QCOMPARE(health.lastError, error);
        QCOMPARE(first->ch1NoData(), errors == 0 && texts.at(0).isEmpty());
        QCOMPARE(second->ch2NoData(), errors == 0 && texts.at(5).isEmpty());
        QCOMPARE(first->alarm1(), !texts.at(0).isEmpty());
        QCOMPARE(connection.isConnected(), errors == 0);
        connection.close();
        QCOMPARE(queuedRows(QStringLiteral("channel1, channel2")), recorded);
    }

    // A known sequence against the simulator at 1 s: two answers, six
    // timeouts (the sixth missed poll declares the link lost), an exception,
    // an answer. Counters, notices, the gap in a real record file and the
    // network dialog all tell the same story.
    void lostAndBack()
    {
        dataIntervalMs = 1000;
        GatewaySimulator sim(TestSupport::frozenGateway(1));
        QVERIFY(sim.start());
        sim.setDeviceValues(0, 20.5f, 40.0f, 3, 95);
        ConfiguredDevice connection;
        connection.setDeviceInfo(QStringLiteral("127.0.0.1"), sim.serverPort());
        NodeDevice *node = addNode(connection, 0);
        node->setRecord(true);
        node->setAlarmRange(0, 10, 0, 10);
        QSignalSpy notices(&connection, &ConfiguredDevice::linkNotice);
        LinkNoticeBoard board;
        connect(&connection, &ConfiguredDevice::linkNotice, &board, &LinkNoticeBoard::post);
        QLabel strip;
        board.attachLabel(&strip);

        pollAndSettle(connection); // opens the connection and reads
        pollAndSettle(connection);
        QVERIFY(node->alarm1());
        sim.setSilent(true);
        QTest::qWait(1000); // polls come an interval apart: the gap gets a second of its own
        // Notice `i` says `what` of this gateway, and the status strip shows it as it is.
        const auto told = [&](int i, const char *what) {
            const QString line = notices.at(i).at(2).toString();
            QVERIFY2(QRegularExpression(QStringLiteral("^127\\.0\\.0\\.1:%1 %2$")
                                            .arg(sim.serverPort())
                                            .arg(QLatin1String(what)))
                         .match(line)
                         .hasMatch(),
                     qPrintable(line));
            QCOMPARE(strip.text(), line);
        };
        QDateTime firstMissed;
        const qint64 lastAnswerBefore = connection.health().lastAnswerMs;
        for (int i = 0; i < 6; ++i) {
            if (i == 5)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(" lost at ")));
            pollAndSettle(connection);
            if (i == 0)
                firstMissed = connection.lastPollTime();
            QCOMPARE(notices.count(), i == 5 ? 1 : 0);
        }
        QCOMPARE(connection.health().state, LinkHealth::Lost);
        QVERIFY(!connection.isConnected());
        QVERIFY(!node->alarm1() && node->ch1Text().isEmpty()); // cleared, history kept
        QVERIFY(notices.at(0).at(1).toBool());
        told(0, "lost at \\d\\d:\\d\\d:\\d\\d");
        QCOMPARE(strip.textFormat(), Qt::PlainText);
        // The gap sits at the first poll that went unanswered, in the history too.
        QCOMPARE(node->ch1History()[NodeDevice::kHistorySize - 1], NoValue);
        QVERIFY(node->ch1History()[NodeDevice::kHistorySize - 2] == 20.5);

        sim.setSilent(false);
        sim.setExceptionCode(2);
        pollAndSettle(connection);
        QCOMPARE(notices.count(), 1); // still lost: declared once per outage
        sim.setExceptionCode(0);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral(" back at ")));
        pollAndSettle(connection);
        QTRY_COMPARE(notices.count(), 2);
        QVERIFY(!notices.at(1).at(1).toBool());
        told(1, "back at \\d\\d:\\d\\d:\\d\\d, \\d+ s");
        // The outage counts from the last answer before it.
        QVERIFY(lastAnswerBefore > 0);
        QCOMPARE(notices.at(1).at(2).toString().section(' ', -2, -2).toLongLong(),
                 (connection.health().lastAnswerMs - lastAnswerBefore + 500) / 1000);

        // The record file: three samples and one NULL/NULL row at the gap.
        QCOMPARE(
            queuedRows(QStringLiteral("channel1, channel2, (pointDate > %1) - (pointDate < %1)")
                           .arg(firstMissed.toSecsSinceEpoch())),
            (QStringList{"20.5 40 -1", "20.5 40 -1", "NULL NULL 0", "20.5 40 1"}));

        // The network dialog shows the same figures: the link is up again,
        // with its counters, the last error and the round trips.
        const LinkHealth &health = connection.health();
        QVERIFY(health.lastErrorMs > 0 && health.lastErrorMs <= health.lastAnswerMs);
        auto *dialog = new NetworkSettingDialog(node);
        auto text = [dialog](const char *name) {
            return dialog->findChild<QLabel *>(name)->text();
        };
        QCOMPARE(text("label_port"), QString::number(sim.serverPort()));
        QVERIFY2(text("label_state").startsWith(QStringLiteral("connected for ")),
                 qPrintable(text("label_state")));
        QCOMPARE(text("label_polls"), QStringLiteral("10"));
        QCOMPARE(text("label_answers"), QStringLiteral("3"));
        QCOMPARE(text("label_timeouts"), QStringLiteral("6"));
        QCOMPARE(text("label_errors"), QStringLiteral("1"));
        QVERIFY(!health.lastError.isEmpty() && text("label_last_error").endsWith(health.lastError));
        QVERIFY(text("label_round_trip").contains(QStringLiteral(" ms, median ")) &&
                text("label_round_trip").endsWith(QStringLiteral(" ms")));
        for (const char *name :
             {"label_ipaddr", "label_port", "label_state", "label_last_error", "label_no_data"})
            QCOMPARE(dialog->findChild<QLabel *>(name)->textFormat(), Qt::PlainText);
        delete dialog;
        connection.close();
    }

    // Lost lines stay until their gateway answers; a back line goes by itself.
    void noticeBoard()
    {
        LinkNoticeBoard board;
        board.setBackShownMs(50);
        QSignalSpy changed(&board, &LinkNoticeBoard::textChanged);
        board.post("10.0.0.1:502", true, "10.0.0.1:502 lost at 10:00:00");
        board.post("10.0.0.1:503", true, "10.0.0.1:503 lost at 10:00:01");
        QCOMPARE(board.text(),
                 QStringLiteral("10.0.0.1:502 lost at 10:00:00   10.0.0.1:503 lost at 10:00:01"));
        board.post("10.0.0.1:502", false, "10.0.0.1:502 back at 10:00:09, 9 s");
        QVERIFY(board.anyLost());
        QCOMPARE(
            board.text(),
            QStringLiteral("10.0.0.1:503 lost at 10:00:01   10.0.0.1:502 back at 10:00:09, 9 s"));
        QTRY_COMPARE(board.text(), QStringLiteral("10.0.0.1:503 lost at 10:00:01"));
        board.clear();
        QVERIFY(board.text().isEmpty() && !board.anyLost());
        QCOMPARE(changed.count(), 5);
    }

    void roundTripsAndDurations()
    {
        LinkHealth health;
        QCOMPARE(health.medianRoundTripMicros(), qint64(-1));
        QCOMPARE(LinkHealth::roundTripText(-1), QStringLiteral("-"));
        for (qint64 us : {900, 300, 200, 50000})
            health.addRoundTrip(us);
        QCOMPARE(health.lastRoundTripMicros(), qint64(50000));
        QCOMPARE(health.medianRoundTripMicros(), qint64(600));
        for (int i = 0; i < LinkHealth::kRoundTripWindow; ++i)
            health.addRoundTrip(7000);
        QCOMPARE(health.medianRoundTripMicros(), qint64(7000)); // only the newest window counts
        QCOMPARE(LinkHealth::roundTripText(420), QStringLiteral("0.42 ms"));
        QCOMPARE(LinkHealth::roundTripText(123456), QStringLiteral("123 ms"));
        QCOMPARE(ConfiguredDevice::durationText(6), QStringLiteral("6 s"));
        QCOMPARE(ConfiguredDevice::durationText(125), QStringLiteral("2 min 5 s"));
        QCOMPARE(ConfiguredDevice::durationText(3 * 3600 + 240), QStringLiteral("3 h 4 min"));
    }
};

QTEST_MAIN(tst_LinkHealth)
#include "tst_linkhealth.moc"
