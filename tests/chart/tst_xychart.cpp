#include "chart/charttext.h"
#include "chart/xychart.h"
#include "chartfixture.h"
#include "common/common.h"

#include <QDateTime>
#include <QtTest>

#include <memory>

namespace
{

constexpr int kInterval = 10000;
const double kEnd = QDateTime(QDate(2026, 12, 6), QTime(7, 12, 34)).toMSecsSinceEpoch() / 1000.0;

bool isRed(QRgb c)
{
    return qRed(c) > 150 && qRed(c) > 2 * qGreen(c) && qRed(c) > 2 * qBlue(c);
}

// Any red pixel in column x of the plot area (y 25..169)?
bool columnHasRed(const QImage &img, int x)
{
    for (int y = 25; y <= 169; ++y) {
        if (isRed(img.pixel(x, y)))
            return true;
    }
    return false;
}

std::unique_ptr<XYChart> build(const QVector<double> &t, const QVector<double> &v)
{
    return std::unique_ptr<XYChart>(
        ChartFixture::buildChart(810, 200, t, v, 0xFF0000, "CH1", kInterval));
}

} // namespace

class tst_XYChart : public QObject
{
    Q_OBJECT
private slots:
    void lineColourAndGap()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        auto v = ChartFixture::sineValues(23.5, 2.2);
        for (int i = 100; i < 103; ++i)
            v[i] = NoValue;
        auto c = build(t, v);
        const QImage img = c->makeImage();
        for (int i = 0; i < 240; i += 7) {
            if (v[i] == NoValue)
                continue;
            const int x = c->getXCoor(t[i]);
            const int y = c->getYCoor(v[i]);
            // The line passes through the sample's pixel or a neighbour.
            QVERIFY2(isRed(img.pixel(x, y - 1)) || isRed(img.pixel(x, y)) ||
                         isRed(img.pixel(x, y + 1)),
                     qPrintable(QString::number(i)));
        }
        QVERIFY(!columnHasRed(img, c->getXCoor(t[101])));
        QVERIFY(columnHasRed(img, c->getXCoor(t[90])));
        // 240 intervals end at the newest sample on the right edge.
        QCOMPARE(c->getXCoor(t[239]), c->getPlotArea()->getRightX());
        QCOMPARE(c->xAxis()->minValue(), kEnd - 2400);
    }

    void noDateScaleWhenTheNewestSlotIsEmpty()
    {
        auto t = ChartFixture::times(kEnd, kInterval);
        t[239] = NoValue;
        auto c = build(t, ChartFixture::sineValues(3, 1));
        const QImage img = c->makeImage();
        QVERIFY(!c->xAxis()->isDateScale());
        // Below the x axis only the background (no tick labels), and no line.
        const QRgb bg = img.pixel(400, 195);
        QCOMPARE(qRed(bg), 0x59);
        for (int y = 177; y < 200; ++y)
            for (int x = 0; x < 800; ++x)
                QCOMPARE(img.pixel(x, y), bg);
        for (int x = 50; x < 790; x += 3)
            QVERIFY(!columnHasRed(img, x));
    }

    void trackCursorShowsNotAvailableForAMissingValue()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        auto v = ChartFixture::sineValues(23.5, 2.2);
        v[120] = NoValue;
        auto c = build(t, v);
        const QImage plain = c->makeImage().copy();
        const int x = c->getXCoor(t[120]);

        const QString legend = ChartFixture::drawTrackCursor(c.get(), x + 1, kInterval);
        QCOMPARE(ChartText(legend, "arialbd.ttf", 8).plainText(), QStringLiteral(" CH1:  N/A "));
        const QImage img = c->makeImage();
        for (int y = 25; y <= 169; ++y) // no dot on the line at the cursor
            QVERIFY(isRed(plain.pixel(x, y)) || !isRed(img.pixel(x, y)));

        // On a sample: its value and a dot in the line's colour.
        const QString onSample =
            ChartFixture::drawTrackCursor(c.get(), c->getXCoor(t[60]), kInterval);
        QCOMPARE(ChartText(onSample, "arialbd.ttf", 8).plainText(),
                 QStringLiteral(" CH1:  %1 ").arg(v[60], 0, 'f', 2));
        QCOMPARE(c->makeImage().pixel(c->getXCoor(t[60]), c->getYCoor(v[60])), qRgb(255, 0, 0));
        c->removeDynamicLayer();
        QCOMPARE(c->makeImage(), plain);
    }

    // The first cursor is drawn into the chart's own picture, later ones start
    // from the chart drawn again: either way the picture is the one a fresh
    // chart with a single cursor at the last place shows.
    void cursorRedrawsKeepThePicture_data()
    {
        QTest::addColumn<QVector<int>>("moves");
        QTest::newRow("one") << QVector<int>{300};
        QTest::newRow("two") << QVector<int>{100, 300};
        QTest::newRow("three, back to the first") << QVector<int>{300, 700, 300};
    }
    void cursorRedrawsKeepThePicture()
    {
        QFETCH(QVector<int>, moves);
        const auto t = ChartFixture::times(kEnd, kInterval);
        const auto v = ChartFixture::sineValues(23.5, 2.2);
        // Texts are drawn from cached images from their second use on: both
        // charts below draw them from there.
        for (int round = 0; round < 2; ++round) {
            auto warm = build(t, v);
            for (int x : moves)
                ChartFixture::drawTrackCursor(warm.get(), x, kInterval);
        }
        auto c = build(t, v);
        const QImage plain = c->makeImage().copy();
        for (int x : moves)
            ChartFixture::drawTrackCursor(c.get(), x, kInterval);
        auto fresh = build(t, v);
        ChartFixture::drawTrackCursor(fresh.get(), moves.last(), kInterval);
        QCOMPARE(c->makeImage(), fresh->makeImage());
        QVERIFY(c->makeImage() != plain);
        c->removeDynamicLayer();
        QCOMPARE(c->makeImage(), plain);
    }

    void formats_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("two decimals") << 23.456 << QStringLiteral("23.46");
        QTest::newRow("negative zero") << -0.001 << QStringLiteral("0.00");
        QTest::newRow("huge") << 1e30 << QStringLiteral("1000000000000000019884624838656.00");
    }
    void formats()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(XYChart(100, 100).formatValue(value, QStringLiteral("{value|2.}")), text);
    }
};

QTEST_MAIN(tst_XYChart)
#include "tst_xychart.moc"
