#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "record/insertserialdata.h"
#include "testsupport.h"
#include "view/charttime.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>

class tst_NodeDevice : public QObject
{
    Q_OBJECT

    static void sample(NodeDevice &node, const QString &ch1, const QString &ch2, const QDateTime &time,
                       bool refresh = false)
    {
        node.setData(ch1, ch2, QStringLiteral("200"), QStringLiteral("95"), time, refresh);
    }

private slots:
    void init() { InsertSerialData::clearQueue(); }
    void cleanup()
    {
        InsertSerialData::clearQueue();
        dataIntervalMs = kDefaultDataIntervalMs;
    }

    void defaults()
    {
        NodeDevice node(QStringLiteral("QL0000000000000001"));
        QCOMPARE(node.deviceNumber(), QStringLiteral("QL0000000000000001"));
        QCOMPARE(node.startAddress, 0);
        QCOMPARE(node.registerCount, 8);
        QVERIFY(!node.record());
        QVERIFY(!node.alarm1());
        QVERIFY(!node.alarm2());
        QVERIFY(node.ch1Text().isEmpty());
        QCOMPARE(node.ch1CustomUnit(), QStringLiteral(""));
        QCOMPARE(node.alarmRange(), (QVector<float>{0, 0, 0, 0}));
        QCOMPARE(node.connection(), nullptr);
        double t[NodeDevice::kHistorySize], c1[NodeDevice::kHistorySize], c2[NodeDevice::kHistorySize];
        node.history(t, c1, c2);
        for (int i = 0; i < NodeDevice::kHistorySize; ++i) {
            QCOMPARE(t[i], NoValue);
            QCOMPARE(c1[i], NoValue);
            QCOMPARE(c2[i], NoValue);
        }
        QObject other;
        NodeDevice orphan(QStringLiteral("X"), &other);
        QCOMPARE(orphan.connection(), nullptr);
        ConfiguredDevice connection;
        NodeDevice *child = new NodeDevice(QStringLiteral("Y"), &connection);
        QCOMPARE(child->connection(), &connection);
    }

    void unitNames()
    {
        QCOMPARE(NodeDevice::unitName(0), QStringLiteral("Undefined"));
        QCOMPARE(NodeDevice::unitName(1), QStringLiteral("Temperature(C)"));
        QCOMPARE(NodeDevice::unitName(2), QStringLiteral("Temperature(F)"));
        QCOMPARE(NodeDevice::unitName(3), QStringLiteral("Humidity"));
        QCOMPARE(NodeDevice::unitName(4), QStringLiteral("Custom"));
        QCOMPARE(NodeDevice::unitName(5), QString());
    }

    // Bounds are inside the range; an empty range never alarms; a float bound
    // of 10.1 is 10.1000004, so a reading of 10.10 is below it.
    void alarms_data()
    {
        QTest::addColumn<float>("min");
        QTest::addColumn<float>("max");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("empty range, high") << 0.f << 0.f << "1000.00" << false;
        QTest::newRow("empty range, low") << 0.f << 0.f << "-40.00" << false;
        QTest::newRow("same bounds") << 5.f << 5.f << "7.00" << false;
        QTest::newRow("lower bound") << 10.f << 30.f << "10.00" << false;
        QTest::newRow("upper bound") << 10.f << 30.f << "30.00" << false;
        QTest::newRow("below") << 10.f << 30.f << "9.99" << true;
        QTest::newRow("above") << 10.f << 30.f << "30.01" << true;
        QTest::newRow("float bound 10.1") << 10.1f << 30.f << "10.10" << true;
        QTest::newRow("no value") << 10.f << 30.f << "" << false;
        QTest::newRow("nan") << 10.f << 30.f << "nan" << false;
        QTest::newRow("not a number") << 10.f << 30.f << "abc" << false;
    }
    void alarms()
    {
        QFETCH(float, min);
        QFETCH(float, max);
        QFETCH(QString, text);
        QFETCH(bool, alarm);
        NodeDevice node(QStringLiteral("N"));
        node.setAlarmRange(min, max, min, max);
        sample(node, text, text, QDateTime::currentDateTime());
        QCOMPARE(node.alarm1(), alarm);
        QCOMPARE(node.alarm2(), alarm);
        node.setCheckAlarmSet1(std::numeric_limits<double>::quiet_NaN());
        QVERIFY(!node.alarm1());
        node.checkAlarms();
        QCOMPARE(node.alarm1(), alarm);
    }

    void channelsAlarmIndependently()
    {
        NodeDevice node(QStringLiteral("N"));
        node.setAlarmRange(0, 10, 20, 30);
        QCOMPARE(node.alarmRange(), (QVector<float>{0, 10, 20, 30}));
        sample(node, QStringLiteral("5.00"), QStringLiteral("35.00"), QDateTime::currentDateTime());
        QVERIFY(!node.alarm1());
        QVERIFY(node.alarm2());
        // The ranges change: the flags follow once checkAlarms() runs.
        node.setAlarmRange(6, 10, 20, 40);
        QVERIFY(node.alarm2());
        node.checkAlarms();
        QVERIFY(node.alarm1());
        QVERIFY(!node.alarm2());
    }

    // A disconnection clears the texts and both alarms; the history stays.
    void disconnection()
    {
        NodeDevice node(QStringLiteral("N"));
        node.setAlarmRange(10, 30, 10, 30);
        const QDateTime time = QDateTime::currentDateTime();
        sample(node, QStringLiteral("50.00"), QStringLiteral("5.00"), time);
        QVERIFY(node.alarm1() && node.alarm2());
        node.deviceDisconnected();
        QCOMPARE(node.ch1Text(), QString());
        QCOMPARE(node.ch2Text(), QString());
        QVERIFY(!node.alarm1());
        QVERIFY(!node.alarm2());
        QCOMPARE(node.ch1History()[NodeDevice::kHistorySize - 1], 50.0);
        QCOMPARE(node.ch2History()[NodeDevice::kHistorySize - 1], 5.0);
        node.deviceConnected();
    }

    void history()
    {
        NodeDevice node(QStringLiteral("N"));
        const int last = NodeDevice::kHistorySize - 1;
        const QDateTime t0 = QDateTime::fromMSecsSinceEpoch(1600000000250LL);
        sample(node, QStringLiteral("1.00"), QString(), t0);
        QCOMPARE(node.timeHistory()[last], chartTime2(1600000000) + 0.25);
        QCOMPARE(node.ch1History()[last], 1.0);
        QCOMPARE(node.ch2History()[last], NoValue);
        QCOMPARE(node.timeHistory()[last - 1], NoValue);

        // Same time: overwrite the newest entry, nothing moves.
        sample(node, QStringLiteral("2.00"), QStringLiteral("3.00"), t0, true);
        QCOMPARE(node.ch1History()[last], 2.0);
        QCOMPARE(node.ch2History()[last], 3.0);
        QCOMPARE(node.timeHistory()[last - 1], NoValue);

        // Later samples shift the arrays towards index 0.
        for (int i = 1; i <= NodeDevice::kHistorySize + 5; ++i)
            sample(node, QString::number(i, 'f', 2), QStringLiteral("0.00"), t0.addSecs(10 * i));
        double t[NodeDevice::kHistorySize], c1[NodeDevice::kHistorySize], c2[NodeDevice::kHistorySize];
        node.history(t, c1, c2);
        QCOMPARE(c1[last], double(NodeDevice::kHistorySize + 5));
        QCOMPARE(c1[0], 6.0);
        QCOMPARE(t[last] - t[0], 10.0 * last);
        for (int i = 1; i < NodeDevice::kHistorySize; ++i)
            QVERIFY(t[i] > t[i - 1]);
    }

    void chartTimes()
    {
        const QDateTime local(QDate(2026, 3, 1), QTime(12, 34, 56, 789));
        const qint64 seconds = local.toSecsSinceEpoch();
        const double value = chartTime2(seconds) + 0.789;
        QCOMPARE(chartTimeToDateTime(value), local);
        QCOMPARE(chartTimeToDateTime(chartTime2(seconds + 60)), local.addSecs(60).addMSecs(-789));
        QVERIFY(!chartTimeToDateTime(NoValue).isValid());
        QVERIFY(!chartTimeToDateTime(std::nan("")).isValid());
        QVERIFY(chartTime2(seconds + 1) > chartTime2(seconds));
    }

    // Recorded samples become rows in a real database file: refresh samples
    // are not recorded, and insertNoValue() ends the period with a NULL row one
    // interval after the last poll.
    void recording()
    {
        dataIntervalMs = 60000;
        ConfiguredDevice connection;
        auto *node = new NodeDevice(QStringLiteral("QL'001"), &connection);
        connection.addNode(node);
        const QDateTime time = QDateTime::fromSecsSinceEpoch(1600000000);

        sample(*node, QStringLiteral("21.50"), QStringLiteral("40.00"), time);
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0)); // not recording yet
        node->setRecord(true);
        sample(*node, QStringLiteral("21.50"), QString(), time.addSecs(60));
        sample(*node, QStringLiteral("22.00"), QStringLiteral("41.00"), time.addSecs(60), true);
        sample(*node, QStringLiteral("1234567.89"), QStringLiteral("41.25"), time.addSecs(120));
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(2));
        node->insertNoValue();
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(3));
        node->setRecord(false);
        node->insertNoValue();
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(3));

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        qint64 expectedEnd = connection.lastPollTime().addMSecs(dataIntervalMs).toSecsSinceEpoch();
        {
            InsertSerialData db(dir.filePath(QStringLiteral("node.dat")), QStringLiteral("tstnode"));
            QVERIFY(db.createConnection());
            QVERIFY(db.insertNow());
            QSqlQuery query(QSqlDatabase::database(db.connectionName()));
            QVERIFY(query.exec(QStringLiteral(
                "select serialno, channel1, channel2, pointDate from fennolink order by id")));
            QVERIFY(query.next());
            QCOMPARE(query.value(0).toString(), QStringLiteral("QL'001"));
            QCOMPARE(query.value(1).toDouble(), 21.5);
            QVERIFY(query.value(2).isNull());
            QCOMPARE(query.value(3).toLongLong(), qint64(1600000060));
            QVERIFY(query.next());
            QCOMPARE(query.value(1).toDouble(), 1.23457e+06);
            QCOMPARE(query.value(2).toDouble(), 41.25);
            QCOMPARE(query.value(3).toLongLong(), qint64(1600000120));
            QVERIFY(query.next());
            QVERIFY(query.value(1).isNull());
            QVERIFY(query.value(2).isNull());
            QCOMPARE(query.value(3).toLongLong(), expectedEnd);
            QVERIFY(!query.next());
        }
    }
};

QTEST_MAIN(tst_NodeDevice)
#include "tst_nodedevice.moc"
