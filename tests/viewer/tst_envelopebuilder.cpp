#include "viewer/envelopebuilder.h"

#include "common/common.h"

#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

class tst_EnvelopeBuilder : public QObject
{
    Q_OBJECT

private slots:
    // However many samples share a pixel column, its minimum and maximum
    // are drawn: a one-sample spike is never lost.
    void everySpikeSurvives_data()
    {
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("columns");
        QTest::newRow("dense") << 200000 << 1000;
        QTest::newRow("few per column") << 2500 << 1000;
        QTest::newRow("sparse") << 300 << 1000;
    }
    void everySpikeSurvives()
    {
        QFETCH(int, samples);
        QFETCH(int, columns);
        QRandomGenerator random(42);
        const qint64 from = 1000000;
        const qint64 to = from + samples - 1;
        EnvelopeBuilder envelope(from, to, columns, 2.5);
        QVector<double> lo(columns, 1e9), hi(columns, -1e9);
        const double perColumn = double(to - from + 1) / columns;
        for (int i = 0; i < samples; ++i) {
            double v = 20 + random.bounded(1.0);
            if (random.bounded(997) == 0)
                v = random.bounded(2) ? 500 + i : -500 - i; // a spike
            envelope.addSample(from + i, v);
            const int c = int(std::floor(i / perColumn));
            lo[c] = std::min(lo[c], v);
            hi[c] = std::max(hi[c], v);
        }
        envelope.finish();
        const QVector<double> &x = envelope.xs();
        const QVector<double> &y = envelope.ys();
        QVERIFY(x.size() <= 2 * columns);
        QVector<double> seenLo(columns, 1e9), seenHi(columns, -1e9);
        for (int i = 0; i < x.size(); ++i) {
            QVERIFY(y.at(i) != NoValue); // no gaps in an unbroken series
            if (i > 0)
                QVERIFY(x.at(i) >= x.at(i - 1));
            const int c = int(std::floor((x.at(i) - from) / perColumn));
            seenLo[c] = std::min(seenLo[c], y.at(i));
            seenHi[c] = std::max(seenHi[c], y.at(i));
        }
        QCOMPARE(seenLo, lo);
        QCOMPARE(seenHi, hi);
    }

    // A row without a value and a step longer than the gap time break the
    // line; short steps do not.
    void gapsBreakTheLine()
    {
        EnvelopeBuilder envelope(1000, 1199, 1000, 25);
        const QVector<qint64> times = {1000, 1010, 1020, 1030, 1040, 1050, 1060, 1120, 1130, 1140};
        const QVector<double> values = {20, 21, 22, 35, 22, NoValue, 23, 24, 19, 20};
        for (int i = 0; i < times.size(); ++i)
            envelope.addSample(times.at(i), values.at(i));
        envelope.finish();
        const QVector<double> expected = {20, 21, 22, 35, 22, NoValue, 23, NoValue, 24, 19, 20};
        QCOMPARE(envelope.ys(), expected);
        QCOMPARE(envelope.xs().at(5), 1050.0); // between 1040 and 1060
        QCOMPARE(envelope.xs().at(7), 1090.0);
    }

    // Summary buckets keep their extremes at their own times.
    void spansKeepTheirExtremes()
    {
        EnvelopeBuilder envelope(0, 7199, 10, 150);
        envelope.addSpan(0, 59, 1, 40, 9, 10);    // max before min
        envelope.addSpan(60, 119, 2, 70, 3, 100); // min before max
        envelope.addGap();
        envelope.addSpan(3600, 3659, 5, 3600, 5, 3600);
        envelope.finish();
        // The first two share a 720 s column: its extremes are 9 at 10 and 1 at 40.
        QCOMPARE(envelope.xs(), (QVector<double>{10, 40, 1859.5, 3600}));
        QCOMPARE(envelope.ys(), (QVector<double>{9, 1, NoValue, 5}));
    }
};

QTEST_GUILESS_MAIN(tst_EnvelopeBuilder)
#include "tst_envelopebuilder.moc"
