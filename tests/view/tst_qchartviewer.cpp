#include "chartfixture.h"
#include "common/common.h"
#include "view/chartcursors.h"
#include "view/drawarea.h"
#include "view/hotspotmap.h"
#include "view/qchartviewer.h"
#include "view/xychart.h"

#include <QBitmap>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QtTest>
#include <QtTest/qtestspontaneevent.h>

#include <memory>

namespace {

// 400 x 200 chart, plot area x 45..394, y 25..169.
XYChart *makeChart(double base = 20)
{
    const auto t = ChartFixture::times(1.7e9, 10000);
    return ChartFixture::buildChart(410, 200, t, ChartFixture::sineValues(base, 2), 0xFF0000, "CH1", 10000);
}

void busyWaitMs(int ms)
{
    // Time passes without the event loop running, so no timer can fire.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
    }
}

void sendMove(QWidget *w, QPoint p, Qt::MouseButtons buttons = Qt::NoButton)
{
    QMouseEvent e(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void sendButton(QWidget *w, QEvent::Type type, QPoint p)
{
    QMouseEvent e(type, p, w->mapToGlobal(p), Qt::LeftButton,
                  type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

class WheelParent : public QWidget
{
public:
    int wheels = 0;

protected:
    void wheelEvent(QWheelEvent *e) override
    {
        ++wheels;
        e->accept();
    }
};

} // namespace

class tst_QChartViewer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<XYChart> m_chart;

private slots:
    void init() { m_chart.reset(makeChart()); }
    void cleanup() { m_chart.reset(); }

    void requestsInsideTheHoldAreMerged()
    {
        QChartViewer viewer;
        int emitted = 0;
        connect(&viewer, &QChartViewer::viewPortChanged, [&] { ++emitted; });

        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(emitted, 1);
        busyWaitMs(5);
        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(emitted, 1);
        QVERIFY(viewer.chartUpdatePending());
        QTRY_COMPARE(emitted, 2);
        QVERIFY(!viewer.chartUpdatePending());

        // Let that hold run out, then three requests: one emission at once,
        // the other two merged into one more at the end of the hold.
        QTest::qWait(60);
        QCOMPARE(emitted, 2);
        viewer.requestViewPortUpdate(true, true);
        viewer.requestViewPortUpdate(true, false);
        viewer.requestViewPortUpdate(false, true);
        QCOMPARE(emitted, 3);
        QTRY_COMPARE(emitted, 4);
        QTest::qWait(60);
        QCOMPARE(emitted, 4);
    }

    void threeRequestsInsideAHoldGiveOneMore()
    {
        QChartViewer viewer;
        int emitted = 0;
        connect(&viewer, &QChartViewer::viewPortChanged, [&] { ++emitted; });
        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(emitted, 1);
        for (int i = 0; i < 3; ++i)
            viewer.requestViewPortUpdate(true, true);
        QCOMPARE(emitted, 1);
        QTRY_COMPARE(emitted, 2);
        QTest::qWait(60);
        QCOMPARE(emitted, 2);
    }

    void requestFromTheSlotIsDropped()
    {
        QChartViewer viewer;
        int emitted = 0;
        bool inside = false;
        connect(&viewer, &QChartViewer::viewPortChanged, [&] {
            ++emitted;
            inside = viewer.isInViewPortChanged();
            viewer.requestViewPortUpdate(true, true);
        });
        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(emitted, 1);
        QVERIFY(inside);
        QVERIFY(!viewer.isInViewPortChanged());
        QVERIFY(!viewer.chartUpdatePending());
        QTest::qWait(60);
        QCOMPARE(emitted, 1);
    }

    void refreshFromTheSlotPaintsOnceAfterIt()
    {
        QChartViewer viewer;
        viewer.setHoldTime(0);
        std::unique_ptr<XYChart> other(makeChart(50));
        XYChart *next = m_chart.get();
        qint64 keyInside = -1;
        qint64 keyBefore = 0;
        connect(&viewer, &QChartViewer::viewPortChanged, [&] {
            keyBefore = viewer.pixmap(Qt::ReturnByValue).cacheKey();
            if (next) {
                viewer.setChart(next);
                viewer.refreshDisplay();
                viewer.refreshDisplay();
            }
            keyInside = viewer.pixmap(Qt::ReturnByValue).cacheKey();
        });

        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(keyInside, keyBefore); // nothing painted inside the slot
        QCOMPARE(viewer.pixmap(Qt::ReturnByValue).toImage(), m_chart->makeImage());
        QCOMPARE(viewer.size(), QSize(400, 200));
        QCOMPARE(viewer.getPlotAreaLeft(), 45);
        QCOMPARE(viewer.getPlotAreaWidth(), 350);

        // A slot that does not refresh leaves the picture as it was.
        next = nullptr;
        const qint64 shown = viewer.pixmap(Qt::ReturnByValue).cacheKey();
        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(viewer.pixmap(Qt::ReturnByValue).cacheKey(), shown);

        // A chart deleted by its owner inside the slot is still painted.
        next = other.get();
        const QImage expected = other->makeImage().copy();
        connect(&viewer, &QChartViewer::viewPortChanged, [&] { other.reset(); });
        viewer.requestViewPortUpdate(true, true);
        QCOMPARE(viewer.pixmap(Qt::ReturnByValue).toImage(),
                 expected);
        viewer.setChart(nullptr);
        QVERIFY(viewer.pixmap(Qt::ReturnByValue).isNull());
        QCOMPARE(viewer.getPlotAreaWidth(), 0);
    }

    void leavingFromThePlotAreaSignalsPlotAreaFirst()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        QStringList order;
        connect(&viewer, &QChartViewer::mouseMovePlotArea, [&] { order << "movePlotArea"; });
        connect(&viewer, &QChartViewer::mouseLeavePlotArea, [&] { order << "leavePlotArea"; });
        connect(&viewer, &QChartViewer::mouseLeaveChart, [&] { order << "leaveChart"; });
        sendMove(&viewer, QPoint(100, 100));
        QVERIFY(viewer.isMouseOnPlotArea());
        QCOMPARE(viewer.plotAreaMouseX(), 100);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&viewer, &leave);
        QCOMPARE(order, QStringList({"movePlotArea", "leavePlotArea", "leaveChart"}));
        QVERIFY(!viewer.isMouseOnPlotArea());

        // Leaving from outside the plot area only leaves the chart.
        order.clear();
        QTest::qWait(15);
        sendMove(&viewer, QPoint(5, 5));
        QApplication::sendEvent(&viewer, &leave);
        QCOMPARE(order, QStringList({"leaveChart"}));
        QCOMPARE(viewer.plotAreaMouseX(), 45); // clamped to the plot area
    }

    void movesAreRateLimitedAndMergedIntoTheNewest()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        QList<int> xs;
        connect(&viewer, &QChartViewer::mouseMovePlotArea, [&](QMouseEvent *e) { xs << e->x(); });
        for (int x = 100; x < 110; ++x)
            sendMove(&viewer, QPoint(x, 100));
        QTRY_COMPARE(viewer.chartMouseX(), 109);
        QVERIFY(xs.size() >= 2);
        QVERIFY(xs.size() <= 10);
        QCOMPARE(xs.last(), 109);
    }

    void modeNoneClickNeverDrags()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        int clicked = 0;
        int changed = 0;
        connect(&viewer, &QChartViewer::clicked, [&] { ++clicked; });
        connect(&viewer, &QChartViewer::viewPortChanged, [&] { ++changed; });
        sendButton(&viewer, QEvent::MouseButtonPress, QPoint(100, 100));
        sendMove(&viewer, QPoint(160, 120), Qt::LeftButton);
        sendButton(&viewer, QEvent::MouseButtonRelease, QPoint(160, 120));
        QCOMPARE(clicked, 1);
        QCOMPARE(changed, 0);
        QCOMPARE(viewer.getViewPortWidth(), 1.0);
    }

    void shortDragInZoomModeZoomsAtThePointer()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        viewer.setMouseMode(QChartViewer::MouseUsageZoomIn);
        int changed = 0;
        int clicked = 0;
        connect(&viewer, &QChartViewer::viewPortChanged, [&] { ++changed; });
        connect(&viewer, &QChartViewer::clicked, [&] { ++clicked; });
        sendMove(&viewer, QPoint(200, 100));
        QCOMPARE(viewer.cursor().shape(), Qt::BitmapCursor);
        sendButton(&viewer, QEvent::MouseButtonPress, QPoint(200, 100));
        QTest::qWait(15);
        sendMove(&viewer, QPoint(203, 101), Qt::LeftButton);
        sendButton(&viewer, QEvent::MouseButtonRelease, QPoint(203, 101));
        QCOMPARE(clicked, 0);
        QCOMPARE(changed, 1);
        QCOMPARE(viewer.getViewPortWidth(), 0.5);
        const double f = (203.0 - 45) / 350;
        QVERIFY(qAbs(viewer.getViewPortLeft() - f * 0.5) < 1e-9);
    }

    void longDragInZoomModeZoomsToTheFrame()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        viewer.setMouseMode(QChartViewer::MouseUsageZoomIn);
        viewer.setSelectionFrameColor(Qt::yellow);
        sendButton(&viewer, QEvent::MouseButtonPress, QPoint(115, 100));
        QTest::qWait(15);
        sendMove(&viewer, QPoint(45 + 35 * 5, 110), Qt::LeftButton);
        const auto edges = viewer.findChildren<QLabel *>();
        QCOMPARE(edges.size(), 4);
        int visible = 0;
        for (QLabel *e : edges) {
            visible += e->isVisibleTo(&viewer);
            if (e->geometry().width() == 105 && e->y() == 25)
                QCOMPARE(e->palette().color(QPalette::Window), QColor(Qt::yellow));
        }
        QCOMPARE(visible, 4);
        sendButton(&viewer, QEvent::MouseButtonRelease, QPoint(45 + 35 * 5, 110));
        for (QLabel *e : edges)
            QVERIFY(!e->isVisibleTo(&viewer));
        QVERIFY(qAbs(viewer.getViewPortLeft() - 0.2) < 1e-9);
        QVERIFY(qAbs(viewer.getViewPortWidth() - 0.3) < 1e-9);
        QCOMPARE(viewer.getViewPortHeight(), 1.0);
    }

    void zoomOutModeAndViewPortLimits()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        viewer.setMouseMode(QChartViewer::MouseUsageZoomOut);
        viewer.setZoomAxes(2);
        sendMove(&viewer, QPoint(200, 100));
        QCOMPARE(viewer.cursor().shape(), Qt::BitmapCursor); // the no-zoom cursor: nothing to zoom out
        QVERIFY(!viewer.canZoomOut(2));
        viewer.setViewPort(0.25, 0.25, 0.5, 0.5);
        QVERIFY(viewer.canZoomOut(2));
        sendButton(&viewer, QEvent::MouseButtonPress, QPoint(45 + 175, 25 + 72));
        sendButton(&viewer, QEvent::MouseButtonRelease, QPoint(45 + 175, 25 + 72));
        QCOMPARE(viewer.getViewPortWidth(), 1.0);
        QCOMPARE(viewer.getViewPortHeight(), 1.0);
        QCOMPARE(viewer.getViewPortLeft(), 0.0);

        // Nonsense view ports are put back into the full range.
        viewer.setViewPort(-3, 2, 0, qQNaN());
        QVERIFY(viewer.getViewPortLeft() >= 0 && viewer.getViewPortLeft() + viewer.getViewPortWidth() <= 1);
        QVERIFY(viewer.getViewPortWidth() > 0);
        QCOMPARE(viewer.getViewPortHeight(), 1.0);
        QCOMPARE(viewer.getViewPortTop(), 0.0);
    }

    void dragScrollsTheViewPort()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        viewer.setViewPort(0.5, 0, 0.25, 1);
        viewer.setMouseMode(QChartViewer::MouseUsageScroll);
        int changed = 0;
        connect(&viewer, &QChartViewer::viewPortChanged, [&] { ++changed; });
        sendButton(&viewer, QEvent::MouseButtonPress, QPoint(200, 100));
        QTest::qWait(15);
        sendMove(&viewer, QPoint(202, 100), Qt::LeftButton); // below the drag distance
        QCOMPARE(changed, 0);
        QTest::qWait(15);
        sendMove(&viewer, QPoint(200 + 70, 100), Qt::LeftButton);
        QCOMPARE(changed, 1);
        QVERIFY(qAbs(viewer.getViewPortLeft() - (0.5 - 0.2 * 0.25)) < 1e-9);
        QCOMPARE(viewer.cursor().shape(), Qt::BitmapCursor);
        sendButton(&viewer, QEvent::MouseButtonRelease, QPoint(270, 100));
        QCOMPARE(viewer.cursor().shape(), Qt::ArrowCursor);
    }

    void wheelGoesToTheParentWithoutReceiver()
    {
        WheelParent parent;
        auto *viewer = new QChartViewer(&parent);
        viewer->setChart(m_chart.get());
        auto wheel = [&] {
            QWheelEvent e(QPointF(100, 100), QPointF(100, 100), QPoint(), QPoint(0, 120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
            // Only wheel turns that come from the window system travel up to the parent.
            QSpontaneKeyEvent::setSpontaneous(&e);
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

    void hotSpotsAndDynamicLayerRemoval()
    {
        QChartViewer viewer;
        viewer.setChart(m_chart.get());
        viewer.setHotSpotMap(QStringLiteral("<area shape=\"rect\" coords=\"90,90,110,110\" title=\"Point\" "
                                            "href=\"detail\"><area shape=\"circle\" coords=\"300,50,5\" title=\"x\">"));
        QVERIFY(viewer.hotSpotMap());
        sendMove(&viewer, QPoint(100, 100));
        QCOMPARE(viewer.cursor().shape(), Qt::PointingHandCursor);
        QCOMPARE(viewer.hotSpotMap()->getValue("title"), QStringLiteral("Point"));
        QTest::qWait(15);
        sendMove(&viewer, QPoint(301, 51));
        QCOMPARE(viewer.hotSpotMap()->getValue("path"), QString());
        QVERIFY(viewer.cursor().shape() != Qt::PointingHandCursor);
        viewer.setHotSpotMap(QString());
        QVERIFY(!viewer.hotSpotMap());

        const QImage plain = m_chart->makeImage().copy();
        ChartFixture::drawTrackCursor(m_chart.get(), 200, 10000);
        viewer.refreshDisplay();
        QVERIFY(viewer.pixmap(Qt::ReturnByValue).toImage() != plain);
        viewer.setDynamicLayerRemoval(QStringLiteral("MouseLeaveChart"));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&viewer, &leave);
        QCOMPARE(viewer.pixmap(Qt::ReturnByValue).toImage(), plain);
    }

    void cursorsAre32By32WithCentredHotSpot()
    {
        for (int k = 0; k < ChartCursors::KindCount; ++k) {
            const QCursor &c = ChartCursors::cursor(ChartCursors::Kind(k));
            QCOMPARE(c.shape(), Qt::BitmapCursor);
            QCOMPARE(c.hotSpot(), QPoint(15, 15));
            QCOMPARE(c.bitmap(Qt::ReturnByValue).size(), QSize(32, 32));
            QVERIFY(!c.bitmap(Qt::ReturnByValue).toImage().isNull());
        }
        // Distinct pictures.
        QVERIFY(ChartCursors::cursor(ChartCursors::ZoomIn).bitmap(Qt::ReturnByValue).toImage()
                != ChartCursors::cursor(ChartCursors::ZoomOut).bitmap(Qt::ReturnByValue).toImage());
    }
};

QTEST_MAIN(tst_QChartViewer)
#include "tst_qchartviewer.moc"
