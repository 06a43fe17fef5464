#include "chart/charttext.h"
#include "chart/qchartviewer.h"
#include "chart/xychart.h"
#include "chartfixture.h"
#include "common/common.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QtTest/qtestspontaneevent.h>
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

// Channel 1 in red, 200 high; at a width of 410 the plot area is x 45..394.
std::unique_ptr<XYChart> build(const QVector<double> &t, const QVector<double> &v, int width = 810)
{
    return std::unique_ptr<XYChart>(
        ChartFixture::buildChart(width, 200, t, v, 0xFF0000, "CH1", kInterval));
}

std::unique_ptr<XYChart> smallChart(double base = 20)
{
    return build(ChartFixture::times(1.7e9, kInterval), ChartFixture::sineValues(base, 2), 410);
}

void send(QWidget *w, QEvent::Type type, QPoint p, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent e(type, p, w->mapToGlobal(p),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

struct WheelParent : QWidget {
    int wheels = 0;
    void wheelEvent(QWheelEvent *e) override
    {
        ++wheels;
        e->accept();
    }
};

} // namespace

// The chart engine's pictures and the viewer widget that shows them.
class tst_Chart : public QObject
{
    Q_OBJECT

    std::unique_ptr<XYChart> m_chart;
    std::unique_ptr<QChartViewer> m_viewer;
    int m_changed = 0;
    int m_clicked = 0;

    // A press, a move to `to` and a release there.
    void drag(QPoint from, QPoint to)
    {
        send(m_viewer.get(), QEvent::MouseButtonPress, from, Qt::LeftButton);
        QTest::qWait(15);
        send(m_viewer.get(), QEvent::MouseMove, to, Qt::LeftButton);
        send(m_viewer.get(), QEvent::MouseButtonRelease, to);
    }

private slots:
    void init()
    {
        m_viewer.reset();
        m_chart = smallChart();
        m_viewer.reset(new QChartViewer);
        m_viewer->setChart(m_chart.get());
        m_changed = m_clicked = 0;
        connect(m_viewer.get(), &QChartViewer::viewPortChanged, this, [this] { ++m_changed; });
        connect(m_viewer.get(), &QChartViewer::clicked, this, [this] { ++m_clicked; });
    }

    void requestsInsideTheHoldAreMerged()
    {
        m_viewer->requestViewPortUpdate(true, true);
        QCOMPARE(m_changed, 1);
        QTest::qSleep(5); // no events: no timer can fire
        m_viewer->requestViewPortUpdate(true, true);
        QCOMPARE(m_changed, 1);
        QTRY_COMPARE(m_changed, 2);

        // After the hold ran out: three requests give one emission at once
        // and one more at the end of the hold.
        QTest::qWait(60);
        for (int i = 0; i < 3; ++i)
            m_viewer->requestViewPortUpdate(true, i != 1);
        QCOMPARE(m_changed, 3);
        QTRY_COMPARE(m_changed, 4);
        QTest::qWait(60);
        QCOMPARE(m_changed, 4);
    }

    // Inside the slot a new request is dropped and refreshDisplay only marks
    // the picture; it is painted once after the slot.
    void requestAndRefreshFromTheSlot()
    {
        const auto other = smallChart(50);
        qint64 keyBefore = 0;
        qint64 keyInside = -1;
        connect(m_viewer.get(), &QChartViewer::viewPortChanged, [&] {
            keyBefore = m_viewer->pixmap(Qt::ReturnByValue).cacheKey();
            m_viewer->requestViewPortUpdate(true, true);
            m_viewer->setChart(other.get());
            m_viewer->refreshDisplay();
            m_viewer->refreshDisplay();
            keyInside = m_viewer->pixmap(Qt::ReturnByValue).cacheKey();
        });
        m_viewer->requestViewPortUpdate(true, true);
        QCOMPARE(keyInside, keyBefore);
        QCOMPARE(m_viewer->pixmap(Qt::ReturnByValue).toImage(), other->makeImage());
        QTest::qWait(60);
        QCOMPARE(m_changed, 1);
    }

    void leavingFromThePlotAreaSignalsPlotAreaFirst()
    {
        QStringList order;
        connect(m_viewer.get(), &QChartViewer::mouseLeavePlotArea,
                [&] { order << "leavePlotArea"; });
        connect(m_viewer.get(), &QChartViewer::mouseLeaveChart, [&] { order << "leaveChart"; });
        send(m_viewer.get(), QEvent::MouseMove, QPoint(100, 100));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(m_viewer.get(), &leave);
        QCOMPARE(order, QStringList({"leavePlotArea", "leaveChart"}));
    }

    void modeNoneClickNeverDrags()
    {
        drag(QPoint(100, 100), QPoint(160, 120));
        QCOMPARE(m_clicked, 1);
        QCOMPARE(m_changed, 0);
        QCOMPARE(m_viewer->getViewPortWidth(), 1.0);
    }

    void shortDragInZoomModeZoomsAtThePointer()
    {
        m_viewer->setMouseMode(QChartViewer::MouseUsageZoomIn);
        drag(QPoint(200, 100), QPoint(203, 101));
        QCOMPARE(m_clicked, 0);
        QCOMPARE(m_changed, 1);
        QCOMPARE(m_viewer->getViewPortWidth(), 0.5);
        QVERIFY(qAbs(m_viewer->getViewPortLeft() - (203.0 - 45) / 350 * 0.5) < 1e-9);
    }

    void wheelGoesToTheParentWithoutReceiver()
    {
        WheelParent parent;
        QChartViewer *viewer = m_viewer.release();
        viewer->setParent(&parent);
        auto wheel = [&] {
            QWheelEvent e(QPointF(100, 100), QPointF(100, 100), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QSpontaneKeyEvent::setSpontaneous(&e); // only window-system turns travel up
            qApp->notify(viewer, &e);
        };
        wheel();
        QCOMPARE(parent.wheels, 1);
        int received = 0;
        connect(viewer, &QChartViewer::mouseWheel, [&] { ++received; });
        wheel();
        QCOMPARE(received, 1);
        QCOMPARE(parent.wheels, 1);
    }

    // A line in its colour through every sample, broken where values are
    // missing; the track cursor says N/A there and draws no dot.
    void lineGapsAndTrackCursor()
    {
        const auto t = ChartFixture::times(kEnd, kInterval);
        auto v = ChartFixture::sineValues(23.5, 2.2);
        for (int i : {100, 101, 102, 122})
            v[i] = NoValue;
        auto c = build(t, v);
        const QImage img = c->makeImage().copy();
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

        const int x = c->getXCoor(t[122]);
        const QString legend = ChartFixture::drawTrackCursor(c.get(), x + 1, kInterval);
        QCOMPARE(ChartText(legend, "arialbd.ttf", 8).plainText(), QStringLiteral(" CH1:  N/A "));
        const QImage cursor = c->makeImage();
        for (int y = 25; y <= 169; ++y) // no dot on the line at the cursor
            QVERIFY(isRed(img.pixel(x, y)) || !isRed(cursor.pixel(x, y)));

        // On a sample: its value and a dot in the line's colour.
        const QString onSample =
            ChartFixture::drawTrackCursor(c.get(), c->getXCoor(t[60]), kInterval);
        QCOMPARE(ChartText(onSample, "arialbd.ttf", 8).plainText(),
                 QStringLiteral(" CH1:  %1 ").arg(v[60], 0, 'f', 2));
        QCOMPARE(c->makeImage().pixel(c->getXCoor(t[60]), c->getYCoor(v[60])), qRgb(255, 0, 0));
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

QTEST_MAIN(tst_Chart)
#include "tst_chart.moc"
