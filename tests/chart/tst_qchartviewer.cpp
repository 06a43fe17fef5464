#include "chart/qchartviewer.h"
#include "chart/xychart.h"
#include "chartfixture.h"

#include <QMouseEvent>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest>

#include <memory>

namespace
{

// 400 x 200 chart, plot area x 45..394, y 25..169.
XYChart *makeChart(double base = 20)
{
    return ChartFixture::buildChart(410, 200, ChartFixture::times(1.7e9, 10000),
                                    ChartFixture::sineValues(base, 2), 0xFF0000, "CH1", 10000);
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

class tst_QChartViewer : public QObject
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
        m_chart.reset(makeChart());
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
        std::unique_ptr<XYChart> other(makeChart(50));
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
};

QTEST_MAIN(tst_QChartViewer)
#include "tst_qchartviewer.moc"
