#include "common/common.h"

#include <QtTest>

class tst_Common : public QObject
{
    Q_OBJECT
private slots:
    void intervalTexts_data()
    {
        QTest::addColumn<int>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("1s") << 1000 << "1 sec";
        QTest::newRow("5s") << 5000 << "5 sec";
        QTest::newRow("10s") << 10000 << "10 sec";
        QTest::newRow("1m") << 60000 << "1 min";
        QTest::newRow("5m") << 300000 << "5 min";
        QTest::newRow("10m") << 600000 << "10 min";
        QTest::newRow("zero") << 0 << "";
        QTest::newRow("odd") << 2000 << "";
        QTest::newRow("negative") << -1000 << "";
    }
    void intervalTexts()
    {
        QFETCH(int, ms);
        QFETCH(QString, text);
        QCOMPARE(intervalText(ms), text);
        QCOMPARE(isValidDataInterval(ms), !text.isEmpty());
    }
    void defaults()
    {
        QCOMPARE(dataIntervalMs, 10000);
        QCOMPARE(NoValue, 1.7e308);
        QVERIFY(lcDevice().isDebugEnabled());
    }
};

QTEST_GUILESS_MAIN(tst_Common)
#include "tst_common.moc"
