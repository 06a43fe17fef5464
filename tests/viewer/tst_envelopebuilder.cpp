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
};

QTEST_GUILESS_MAIN(tst_EnvelopeBuilder)
#include "tst_envelopebuilder.moc"
