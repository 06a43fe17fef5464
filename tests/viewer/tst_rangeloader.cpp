#include "viewer/rangeloader.h"

#include "common/common.h"
#include "record/recordreader.h"
#include "recordfixture.h"
#include "viewer/summarycache.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace TestSupport;

class tst_RangeLoader : public QObject
{
    Q_OBJECT

private:
    static SeriesInfo series(const QString &serial, int channel, double low, double high)
    {
        SeriesInfo info;
        info.deviceNumber = serial;
        info.channel = channel;
        info.low = low;
        info.high = high;
        info.hasLimits = low < high;
        return info;
    }

private slots:
    // Statistics of a small recording against figures worked out by hand.
    void statisticsByHand()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hand.dat"));
        const QVector<qint64> times = {1000, 1010, 1020, 1030, 1040, 1050, 1060, 1120, 1130, 1140};
        const QVector<double> a1 = {20, 21, 22, 35, 22, kNoReading, 23, 24, 19, 20};
        QVector<TestSupport::RecordRow> rows;
        for (int i = 0; i < times.size(); ++i) {
            rows.append({"A", a1.at(i), 50, times.at(i)});
            rows.append({"B", 7, kNoReading, times.at(i)});
        }
        QVERIFY(appendRecordRows(path, rows));
        RecordReader reader;
        QVERIFY(reader.open(path));
        RangeLoader loader(&reader, nullptr, 10);
        QVector<SeriesView> views;
        const QVector<SeriesInfo> shown = {series("A", 1, 19.5, 30), series("B", 2, 0, 0),
                                           series("A", 2, 0, 10)};
        QVERIFY(loader.load(900, 1200, 1000, shown, &views));
        QVERIFY(!loader.usedSummary());

        const SeriesStatistics &s = views.at(0).stats;
        QCOMPARE(s.samples(), qint64(9));
        QCOMPARE(s.minimum(), 19.0);
        QCOMPARE(s.minimumTime(), qint64(1130));
        QCOMPARE(s.maximum(), 35.0);
        QCOMPARE(s.maximumTime(), qint64(1030));
        QVERIFY(std::abs(s.mean() - 206.0 / 9) < 1e-12);
        QCOMPARE(s.outsideSeconds(), qint64(20)); // 35 and 19, 10 s each
        QVERIFY(s.outsideExact());
        // Gaps: the NULL row at 1050 and the 60 s step from 1060 to 1120.
        QCOMPARE(views.at(0).y,
                 (QVector<double>{20, 21, 22, 35, 22, NoValue, 23, NoValue, 24, 19, 20}));

        QCOMPARE(views.at(1).stats.samples(), qint64(0));          // only NULLs
        QCOMPARE(views.at(2).stats.outsideSeconds(), qint64(100)); // 50 everywhere, limits 0..10

        // A narrower range: only its rows count.
        QVERIFY(loader.load(1025, 1125, 1000, shown, &views));
        QCOMPARE(views.at(0).stats.samples(), qint64(4)); // 35, 22, 23, 24
        QCOMPARE(views.at(0).stats.minimum(), 22.0);
    }

    // Time outside is judged by the limits and interval in force at each
    // time, as the file keeps them; older rows by the limits given.
    void limitsInForce_data()
    {
        QTest::addColumn<qint64>("from");
        QTest::addColumn<qint64>("to");
        QTest::addColumn<qint64>("outside");
        // 25 at 1000..1090 every 10 s; 0..20 at 5 s from 1020, 0..30 from
        // 1060; before 1020 the limits given, 0..24.
        QTest::newRow("all three spans") << qint64(900) << qint64(1200) << qint64(2 * 10 + 4 * 5);
        QTest::newRow("inside one span") << qint64(1020) << qint64(1055) << qint64(4 * 5);
        QTest::newRow("the last span only") << qint64(1060) << qint64(1090) << qint64(0);
        QTest::newRow("before any entry") << qint64(1000) << qint64(1015) << qint64(20);
    }
    void limitsInForce()
    {
        QFETCH(qint64, from);
        QFETCH(qint64, to);
        QFETCH(qint64, outside);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("force.dat"));
        QVector<TestSupport::RecordRow> rows;
        for (qint64 t = 1000; t < 1100; t += 10)
            rows.append({"A", 25, 50, t});
        QVERIFY(appendRecordRows(path, rows));
        RecordReader reader;
        QVERIFY(reader.open(path));
        SeriesInfo info = series("A", 1, 0, 24);
        info.inForce = {{1020, true, 0, 20, 5}, {1040, true, 0, 20, 5}, {1060, true, 0, 30, 5}};
        RangeLoader loader(&reader, nullptr, 10);
        QVector<SeriesView> views;
        QVERIFY(loader.load(from, to, 100, {info}, &views));
        QCOMPARE(views.at(0).stats.outsideSeconds(), outside);
        QVERIFY(views.at(0).stats.outsideExact());
    }

    // A wide range is drawn from the summary; its statistics equal the ones
    // read row by row, ragged ends included.
    void summaryMatchesRows()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("wide.dat"));
        QStringList serials;
        for (int d = 0; d < 16; ++d)
            serials << QStringLiteral("W%1").arg(d);
        const qint64 start = 1767225600;
        QVERIFY(appendRecordRows(path, polls(serials, start, 14000, 1, [](int d, int c, qint64 t) {
                                     if (d == 3 && t % 1000 == 7)
                                         return kNoReading;
                                     return double((t * 7919 + d * 31 + c) % 1000) / 10.0;
                                 })));
        RecordReader reader;
        QVERIFY(reader.open(path));
        SummaryCache summary(path);
        QVERIFY(summary.update(reader, 0) > 0);
        reader.resumeTimeOrder(summary.timeOrder());

        const QVector<SeriesInfo> shown = {series("W3", 1, 10, 90), series("W9", 2, 0, 0)};
        const qint64 from = start + 17; // ragged ends on both sides
        const qint64 to = start + 13990;
        RangeLoader wide(&reader, &summary, 1);
        QVector<SeriesView> fromSummary;
        QVERIFY(wide.load(from, to, 1000, shown, &fromSummary));
        QVERIFY(wide.usedSummary());
        RangeLoader rows(&reader, nullptr, 1);
        QVector<SeriesView> fromRows;
        QVERIFY(rows.load(from, to, 1000, shown, &fromRows));
        QVERIFY(!rows.usedSummary());
        for (int i = 0; i < shown.size(); ++i) {
            const SeriesStatistics &a = fromSummary.at(i).stats;
            const SeriesStatistics &b = fromRows.at(i).stats;
            QCOMPARE(a.samples(), b.samples());
            QCOMPARE(float(a.minimum()), float(b.minimum()));
            QCOMPARE(float(a.maximum()), float(b.maximum()));
            QVERIFY(std::abs(a.mean() - b.mean()) < 1e-9);
            // Extremes repeat; the summary's time is one of theirs with that value.
            QVERIFY(a.minimumTime() >= from && a.minimumTime() <= to);
            // Minutes partly outside are read row by row: the time is exact.
            QVERIFY(a.outsideExact());
            QCOMPARE(a.outsideSeconds(), b.outsideSeconds());
        }
        // The wide chart keeps each column's extremes: the same highest and lowest points.
        auto extremes = [](const SeriesView &v) {
            double lo = 1e9, hi = -1e9;
            for (double y : v.y)
                if (y != NoValue) {
                    lo = std::min(lo, y);
                    hi = std::max(hi, y);
                }
            return qMakePair(float(lo), float(hi));
        };
        QCOMPARE(extremes(fromSummary.at(0)), extremes(fromRows.at(0)));
        QVERIFY(fromSummary.at(0).x.size() <= 2 * 1000 + 50);
    }
};

QTEST_GUILESS_MAIN(tst_RangeLoader)
#include "tst_rangeloader.moc"
