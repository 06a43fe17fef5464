#include "chart/charttime.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

class tst_NodeDevice : public QObject
{
    Q_OBJECT

    static void sample(NodeDevice &node, const QString &ch1, const QString &ch2,
                       const QDateTime &time, bool refresh = false)
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
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(3));

        QTemporaryDir dir;
        const QString end =
            QString::number(connection.lastPollTime().addMSecs(dataIntervalMs).toSecsSinceEpoch());
        InsertSerialData db(dir.filePath(QStringLiteral("node.dat")), QStringLiteral("tstnode"));
        QVERIFY(db.createConnection());
        QVERIFY(db.insertNow());
        QStringList rows;
        for (const QVariantList &r : TestSupport::sqlRows(
                 db.databasePath(),
                 QStringLiteral(
                     "select serialno, channel1, channel2, pointDate from fennolink order by id")))
            rows << QStringList{r.value(0).toString(),
                                r.value(1).isNull() ? "NULL" : r.value(1).toString(),
                                r.value(2).isNull() ? "NULL" : r.value(2).toString(),
                                r.value(3).toString()}
                        .join(QLatin1Char(' '));
        QCOMPARE(rows,
                 (QStringList{"QL'001 21.5 NULL 1600000060", "QL'001 1234567.89 41.25 1600000120",
                              "QL'001 NULL NULL " + end}));
    }
};

QTEST_MAIN(tst_NodeDevice)
#include "tst_nodedevice.moc"
