#include "chartfixture.h"
#include "common/common.h"
#include "view/chartdataset.h"
#include "view/charttext.h"
#include "view/drawarea.h"
#include "view/linelayer.h"
#include "view/xychart.h"

#include <QDateTime>
#include <QtTest>

#include <memory>

namespace {

constexpr int kInterval = 10000;
const double kEnd = QDateTime(QDate(2026, 12, 6), QTime(7, 12, 34)).toMSecsSinceEpoch() / 1000.0;

bool isLineRed(QRgb c)
{
    return qRed(c) > 150 && qRed(c) > 2 * qGreen(c) && qRed(c) > 2 * qBlue(c);
}

bool columnHasRed(const QImage &img, int x, int top, int bottom)
{
    for (int y = top; y <= bottom; ++y) {
        if (isLineRed(img.pixel(x, y)))
            return true;
    }
    return false;
}

} // namespace

class tst_XYChart : public QObject
{
    Q_OBJECT
private slots:
    void lineIsDrawnWhereTheSamplesAre()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        auto v = ChartFixture::sineValues(23.5, 2.2);
        for (int i = 100; i < 103; ++i)
            v[i] = NoValue;
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(810, 200, t, v, 0xFF0000, "CH1", kInterval));
        const QImage img = c->makeImage();
        QCOMPARE(img.size(), QSize(800, 200));
        PlotArea *pa = c->getPlotArea();
        QCOMPARE(pa->getLeftX(), 45);
        QCOMPARE(pa->getWidth(), 750);
        QCOMPARE(pa->getHeight(), 145);

        int hits = 0;
        int tried = 0;
        for (int i = 0; i < 240; i += 7) {
            if (v[i] == NoValue)
                continue;
            const int x = c->getXCoor(t[i]);
            const int y = c->getYCoor(v[i]);
            QVERIFY(x >= pa->getLeftX() && x <= pa->getRightX());
            QVERIFY(y >= pa->getTopY() && y <= pa->getBottomY());
            // The line passes through the sample's pixel or a neighbour.
            bool red = false;
            for (int dy = -1; dy <= 1 && !red; ++dy)
                red = isLineRed(img.pixel(x, y + dy));
            hits += red;
            ++tried;
        }
        QCOMPARE(hits, tried);

        // Missing values leave a gap: nothing red in the columns of slots 101.
        QVERIFY(!columnHasRed(img, c->getXCoor(t[101]), pa->getTopY(), pa->getBottomY()));
        QVERIFY(columnHasRed(img, c->getXCoor(t[90]), pa->getTopY(), pa->getBottomY()));

        // The first sample sits at the left edge of its slot span: 240
        // intervals end at the newest sample on the right edge.
        QCOMPARE(c->getXCoor(t[239]), pa->getRightX());
        QVERIFY(c->xAxis()->isDateScale());
        QCOMPARE(c->xAxis()->minValue(), kEnd - 2400);
    }

    void singleSampleShowsAsADot()
    {
        QVector<double> t(240, NoValue);
        QVector<double> v(240, NoValue);
        t[239] = kEnd;
        v[239] = 5;
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(810, 200, t, v, 0xFF0000, "CH1", kInterval));
        const QImage img = c->makeImage();
        const int x = c->getXCoor(kEnd);
        const int y = c->getYCoor(5);
        QCOMPARE(x, c->getPlotArea()->getRightX());
        QVERIFY(isLineRed(img.pixel(x, y)));
        QVERIFY(!columnHasRed(img, x - 20, 25, 169));
    }

    void noDateScaleWhenTheNewestSlotIsEmpty()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        QVector<double> times = t;
        times[239] = NoValue;
        std::unique_ptr<XYChart> c(
            ChartFixture::buildChart(810, 200, times, ChartFixture::sineValues(3, 1), 0xFF0000, "CH1", kInterval));
        const QImage img = c->makeImage();
        QVERIFY(!c->xAxis()->isDateScale());
        QCOMPARE(c->getLayerCount(), 0);
        // Below the x axis only the background: no tick labels.
        const QRgb bg = img.pixel(400, 195);
        QCOMPARE(qRed(bg), 0x59);
        for (int y = 177; y < 200; ++y)
            for (int x = 0; x < 800; ++x)
                QCOMPARE(img.pixel(x, y), bg);
        // Nor any line in the plot area.
        for (int x = 50; x < 790; x += 3)
            QVERIFY(!columnHasRed(img, x, 25, 169));
        QCOMPARE(c->xAxis()->getFormattedLabel(kEnd, "hh:nn:ss"), QString());
    }

    void trackCursorShowsNotAvailableForAMissingValue()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        auto v = ChartFixture::sineValues(23.5, 2.2);
        v[120] = NoValue;
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(810, 200, t, v, 0xFF0000, "CH1", kInterval));
        const QImage plain = c->makeImage().copy();
        const int x = c->getXCoor(t[120]);

        const QString legend = ChartFixture::drawTrackCursor(c.get(), x + 1, kInterval);
        QCOMPARE(ChartText(legend, "arialbd.ttf", 8).plainText(), QStringLiteral(" CH1:  N/A "));
        QImage img = c->makeImage();
        // No dot and no value label on the line at the cursor.
        for (int y = 25; y <= 169; ++y) {
            if (!isLineRed(plain.pixel(x, y)))
                QVERIFY(!isLineRed(img.pixel(x, y)));
        }
        // The legend's value field is drawn in the line's colour above the plot area.
        int legendRed = 0;
        for (int px = 50; px < 200; ++px)
            for (int y = 5; y < 22; ++y)
                legendRed += img.pixel(px, y) == qRgb(255, 0, 0);
        QVERIFY(legendRed > 50);

        // On a sample: value text, dot in the line's colour at the sample.
        const QString onSample = ChartFixture::drawTrackCursor(c.get(), c->getXCoor(t[60]), kInterval);
        QCOMPARE(ChartText(onSample, "arialbd.ttf", 8).plainText(),
                 QStringLiteral(" CH1:  %1 ").arg(v[60], 0, 'f', 2));
        img = c->makeImage();
        QCOMPARE(img.pixel(c->getXCoor(t[60]), c->getYCoor(v[60])), qRgb(255, 0, 0));

        // A fresh dynamic layer starts again from the finished chart.
        c->removeDynamicLayer();
        QCOMPARE(c->makeImage(), plain);
    }

    void nearestValueAndLookups()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        auto v = ChartFixture::sineValues(0, 1);
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(810, 200, t, v, 0x00CC00, "CH2", kInterval));
        QCOMPARE(c->getNearestXValue(10000), t[239]);
        QCOMPARE(c->getNearestXValue(-50), t[0]);
        QCOMPARE(c->getNearestXValue(c->getXCoor(t[77]) + 1), t[77]);
        LineLayer *layer = c->getLayerByZ(0);
        QVERIFY(layer);
        QVERIFY(!c->getLayerByZ(1));
        QCOMPARE(layer->getXIndexOf(t[77]), 77);
        QCOMPARE(layer->getXIndexOf(t[77] + 0.5), -1);
        QCOMPARE(layer->getXIndexOf(NoValue), -1);
        ChartDataSet *ds = layer->getDataSetByZ(0);
        QCOMPARE(ds->getDataName(), QStringLiteral("CH2"));
        QCOMPARE(ds->getDataColor(), 0x00CC00);
        QCOMPARE(ds->getValue(-1), NoValue);
        QCOMPARE(ds->getValue(240), NoValue);
        QCOMPARE(ds->getUseYAxis(), c->yAxis());
        QVERIFY(c->getYCoor(NoValue) < c->getPlotArea()->getTopY());
        // The y axis covers the data (with round limits).
        QVERIFY(c->yAxis()->minValue() <= -1 + 1e-9);
        QVERIFY(c->yAxis()->maxValue() >= 1 - 1e-9);
    }

    void largeNumbersGetShortAxisLabels()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        std::unique_ptr<XYChart> c(ChartFixture::buildChart(810, 200, t, ChartFixture::sineValues(1e6, 1e5), 0xFF0000,
                                                           "CH1", kInterval));
        c->layout();
        const QVector<double> ticks = c->yAxis()->majorTicks();
        QVERIFY(!ticks.isEmpty());
        for (double v : ticks) {
            const QString label = c->yAxis()->tickLabel(v);
            QVERIFY2(label.endsWith(QLatin1Char('k')) && label.size() <= 6, qPrintable(label));
        }
        std::unique_ptr<XYChart> small(ChartFixture::buildChart(810, 200, t, ChartFixture::sineValues(0.5, 0.02),
                                                               0xFF0000, "CH1", kInterval));
        small->layout();
        QCOMPARE(small->yAxis()->tickLabel(small->yAxis()->majorTicks().first()).size(), 4); // "0.48"
    }

    void formats_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("text");
        QTest::newRow("two decimals") << 23.456 << "{value|2.}" << "23.46";
        QTest::newRow("negative zero") << -0.001 << "{value|2.}" << "0.00";
        QTest::newRow("thousands") << 1234567.891 << "{value|1.,}" << "1,234,567.9";
        QTest::newRow("comma point") << 3.5 << "{value|1,}" << "3,5";
        QTest::newRow("text around") << 7.0 << "T={value|0.} C" << "T=7 C";
        QTest::newRow("huge") << 1e30 << "{value|2.}" << "1000000000000000019884624838656.00";
    }
    void formats()
    {
        QFETCH(double, value);
        QFETCH(QString, format);
        QFETCH(QString, text);
        XYChart c(100, 100);
        QCOMPARE(c.formatValue(value, format), text);
    }

    void dateLabels()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        std::unique_ptr<XYChart> c(
            ChartFixture::buildChart(810, 200, t, ChartFixture::sineValues(1, 1), 0xFF0000, "CH1", kInterval));
        ChartAxis *x = c->xAxis();
        c->layout();
        QCOMPARE(x->getFormattedLabel(kEnd, "hh:nn:ss"), QStringLiteral("07:12:34"));
        QCOMPARE(x->getFormattedLabel(kEnd, "yyyy-mm-dd hh:nn:ss"), QStringLiteral("2026-12-06 07:12:34"));
        QCOMPARE(x->getFormattedLabel(kEnd, "{value|hh:nn}"), QStringLiteral("07:12"));
        QCOMPARE(x->getFormattedLabel(NoValue, "hh:nn:ss"), QString());
        // Ticks fall on round local times at least 75 pixels apart.
        const QVector<double> ticks = x->majorTicks();
        QVERIFY(ticks.size() >= 5);
        const double step = ticks[1] - ticks[0];
        QVERIFY((step / (kEnd - x->minValue())) * 750 >= 75);
        for (double tick : ticks) {
            QCOMPARE(x->tickLabel(tick).size(), 8);
            const double sinceSeven = tick - (kEnd - 12 * 60 - 34); // kEnd is 07:12:34
            QCOMPARE(std::fmod(std::fmod(sinceSeven, step) + step, step), 0.0);
        }
    }

    void markupTextIsMeasuredAndDrawn()
    {
        DrawArea d(200, 40);
        ChartText plain = d.text("Interval : 10 sec", "arial.ttf", 8);
        ChartText marked = d.text("<*block*><*font=arial.ttf*>Interval<*/*><*block*> : 10 sec<*/*><*/*>",
                                  "arial.ttf", 8);
        QCOMPARE(marked.plainText(), QStringLiteral("Interval : 10 sec"));
        QVERIFY(qAbs(marked.getWidth() - plain.getWidth()) <= 1);
        QVERIFY(plain.getHeight() > 8);

        ChartText box = d.text("<*font,bgColor=373737,color=e6e6e6*> 12:00:00 <*/font*>x", "arialbd.ttf", 8);
        QCOMPARE(box.plainText(), QStringLiteral(" 12:00:00 x"));
        d.initDynamicLayer();
        box.draw(10, 5, 0xFFFFFF, 7);
        const QImage img = d.image();
        QCOMPARE(img.pixel(11, 6), qRgb(0x37, 0x37, 0x37)); // the field behind the text
        // Alignment: 6 puts the right edge at x, centred on y.
        QCOMPARE(ChartText::alignedTopLeft(100, 20, 30, 10, 6), QPoint(70, 15));
        QCOMPARE(ChartText::alignedTopLeft(100, 20, 30, 10, 1), QPoint(100, 10));
        QCOMPARE(ChartText::alignedTopLeft(100, 20, 30, 10, 7), QPoint(100, 20));
        QCOMPARE(ChartText::alignedTopLeft(100, 20, 30, 10, 4), QPoint(100, 15));
    }

    void dashedLineAndColours()
    {
        DrawArea d(20, 20);
        d.initDynamicLayer();
        d.vline(0, 19, 5, d.dashLineColor(0x00FF00, 0x0101));
        const QImage img = d.image();
        int on = 0;
        for (int y = 0; y < 20; ++y)
            on += img.pixel(5, y) == qRgb(0, 255, 0);
        QVERIFY(on >= 8 && on <= 12); // every other pixel
        QCOMPARE(ChartColor::toQColor(int(0x80F4F4F4)).alpha(), 127);
        QCOMPARE(ChartColor::toQColor(0x00CC00), QColor(0, 0xCC, 0));
        QCOMPARE(ChartColor::toQColor(ChartColor::Transparent).alpha(), 0);
    }
};

QTEST_MAIN(tst_XYChart)
#include "tst_xychart.moc"
