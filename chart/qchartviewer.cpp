#include "chart/qchartviewer.h"

#include "chart/chartcursors.h"
#include "chart/drawarea.h"
#include "chart/hotspotmap.h"
#include "chart/xychart.h"

#include <QElapsedTimer>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QTimerEvent>
#include <QToolTip>
#include <QWheelEvent>

#include <cstdlib>

namespace
{
constexpr qint64 kMinMoveGapMs = 10;
constexpr qint64 kMaxMoveDelayMs = 250;
} // namespace

QChartViewer::QChartViewer(QWidget *parent) : QLabel(parent)
{
    setAttribute(Qt::WA_MouseTracking, true);
}

QChartViewer::~QChartViewer() = default;

qint64 QChartViewer::clockMs()
{
    // A monotonic millisecond clock: wall-clock changes must not stall the
    // rate limiting.
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// ---- showing a chart ------------------------------------------------------

void QChartViewer::setChart(XYChart *chart)
{
    m_chart = chart;
    setHotSpotMap(QString());
    if (chart) {
        commitPendingSyncAxis();
        if (m_displayState != 0)
            chart->makeChart();
    }
    refreshDisplay();
}

void QChartViewer::setHotSpotMap(const QString &imageMap)
{
    m_hotSpotMap.reset();
    if (!imageMap.isEmpty())
        m_hotSpotMap = std::make_unique<HotSpotMap>(imageMap);
    m_currentHotSpot = -1;
    m_hotSpotClickable = false;
}

QChartViewer::Picture QChartViewer::currentPicture() const
{
    Picture picture;
    if (m_chart) {
        picture.drawArea = m_chart->drawAreaRef();
        picture.metrics = m_chart->getChartMetrics();
    }
    return picture;
}

void QChartViewer::paintPicture(const Picture &picture)
{
    if (!picture.drawArea) {
        setPixmap(QPixmap());
        setChartMetrics(ChartMetrics());
        return;
    }
    setFixedSize(picture.metrics.width, picture.metrics.height);
    setPixmap(QPixmap::fromImage(picture.drawArea->image()));
    setChartMetrics(picture.metrics);
}

void QChartViewer::refreshDisplay()
{
    if (m_displayState == 0) {
        paintPicture(currentPicture());
        return;
    }
    m_displayState = 2;
    m_deferred = currentPicture();
}

void QChartViewer::finishDeferral()
{
    if (m_displayState == 1) {
        m_displayState = 0;
        return;
    }
    paintPicture(m_displayState == 0 ? currentPicture() : m_deferred);
    m_displayState = 0;
    m_deferred = Picture();
}

void QChartViewer::requestViewPortUpdate(bool needUpdateChart, bool needUpdateHotSpots)
{
    if (m_inViewPortChanged)
        return;
    m_chartUpdatePending = m_chartUpdatePending || needUpdateChart;
    m_hotSpotUpdatePending = needUpdateHotSpots;
    if (m_holdTimerActive)
        return;
    bool opened = false;
    if (m_displayState == 0) {
        m_displayState = 1;
        opened = true;
    }
    validateViewPort();
    m_inViewPortChanged = true;
    emit viewPortChanged();
    m_inViewPortChanged = false;
    if (opened)
        finishDeferral();
    m_chartUpdatePending = false;
    m_hotSpotUpdatePending = false;
    if (m_holdTime > 0) {
        m_holdTimerActive = true;
        m_holdTimerId = startTimer(m_holdTime, Qt::CoarseTimer);
    }
}

void QChartViewer::setDynamicLayerRemoval(const QString &trigger)
{
    m_removalTrigger = trigger.toLower();
    if (trigger == QLatin1String("now"))
        removeDynamicLayerNow();
}

void QChartViewer::removeDynamicLayerNow()
{
    if (m_chart)
        m_chart->removeDynamicLayer();
    m_removalTrigger.clear();
    refreshDisplay();
}

void QChartViewer::applyRemovalTrigger(const QString &event)
{
    if (!m_removalTrigger.isEmpty() && m_removalTrigger == event)
        removeDynamicLayerNow();
}

// ---- geometry ---------------------------------------------------------------

bool QChartViewer::isMouseOnPlotArea() const
{
    return m_mouseInWidget && inExtendedPlotArea(m_chartMouseX, m_chartMouseY);
}

int QChartViewer::plotAreaMouseX() const
{
    const int left = getPlotAreaLeft();
    return qBound(left, m_chartMouseX, left + qMax(0, getPlotAreaWidth()));
}

int QChartViewer::plotAreaMouseY() const
{
    const int top = getPlotAreaTop();
    return qBound(top, m_chartMouseY, top + qMax(0, getPlotAreaHeight()));
}

// ---- timers ----------------------------------------------------------------

void QChartViewer::timerEvent(QTimerEvent *event)
{
    if (m_pendingMouseEvent && event->timerId() == m_mouseTimerId) {
        flushPendingMouseMove();
    } else if (m_holdTimerActive && event->timerId() == m_holdTimerId) {
        killTimer(m_holdTimerId);
        m_holdTimerActive = false;
        if (m_chartUpdatePending || m_hotSpotUpdatePending)
            requestViewPortUpdate(m_chartUpdatePending, m_hotSpotUpdatePending);
    }
}

// ---- mouse -----------------------------------------------------------------

void QChartViewer::flushPendingMouseMove()
{
    if (!m_pendingMouseEvent)
        return;
    killTimer(m_mouseTimerId);
    m_mouseTimerId = 0;
    std::unique_ptr<QMouseEvent> event = std::move(m_pendingMouseEvent);
    handleMouseMove(event.get());
}

void QChartViewer::mouseMoveEvent(QMouseEvent *event)
{
    m_mouseInWidget = true;
    emit mouseMove(event);
    const qint64 elapsed = clockMs() - m_lastMouseMoveTime;
    if ((!m_pendingMouseEvent || elapsed >= kMaxMoveDelayMs) && elapsed >= kMinMoveGapMs) {
        handleMouseMove(event);
    } else {
        if (!m_pendingMouseEvent)
            m_mouseTimerId = startTimer(1, Qt::CoarseTimer);
        m_pendingMouseEvent = std::make_unique<QMouseEvent>(
            event->type(), event->localPos(), event->windowPos(), event->screenPos(),
            event->button(), event->buttons(), event->modifiers());
    }
    applyCursor();
}

void QChartViewer::handleMouseMove(QMouseEvent *event)
{
    m_chartMouseX = event->x();
    m_chartMouseY = event->y();
    m_displayState = 1;
    m_inMouseMove = true;
    m_mouseOnPlotArea = m_dragging || inPlotArea(m_chartMouseX, m_chartMouseY);
    if (m_dragging)
        dragStep(event);
    emit mouseMoveChart(event);
    if (inExtendedPlotArea(m_chartMouseX, m_chartMouseY)) {
        m_inExtendedPlotArea = true;
        emit mouseMovePlotArea(event);
    } else if (m_inExtendedPlotArea) {
        m_inExtendedPlotArea = false;
        emit mouseLeavePlotArea(event);
        applyRemovalTrigger(QStringLiteral("mouseleaveplotarea"));
    }

    if (event->buttons() == Qt::NoButton) {
        const int hotSpot =
            m_hotSpotMap ? m_hotSpotMap->getHotSpot(m_chartMouseX, m_chartMouseY) : 0;
        if (hotSpot != m_currentHotSpot) {
            m_currentHotSpot = hotSpot;
            if (hotSpot != 0) {
                m_hotSpotClickable = !m_hotSpotMap->getValue(QStringLiteral("path")).isEmpty();
                QToolTip::showText(event->globalPos(),
                                   m_hotSpotMap->getValue(QStringLiteral("title")), this);
            } else {
                QToolTip::showText(event->globalPos(), m_defaultToolTip, this);
                m_hotSpotClickable = false;
            }
        }
    } else {
        QToolTip::hideText();
    }

    if (m_pendingMouseEvent) {
        killTimer(m_mouseTimerId);
        m_mouseTimerId = 0;
        m_pendingMouseEvent.reset();
    }
    finishDeferral();
    m_inMouseMove = false;
    m_lastMouseMoveTime = clockMs();
}

bool QChartViewer::dragReached(int axes, int x, int y) const
{
    const int dx = std::abs(x - m_pressX);
    const int dy = std::abs(y - m_pressY);
    if (axes == 0)
        return dx >= m_minDragDistance;
    if (axes == 1)
        return dy >= m_minDragDistance;
    return dx >= m_minDragDistance || dy >= m_minDragDistance;
}

void QChartViewer::dragStep(QMouseEvent *event)
{
    const int x = event->x();
    const int y = event->y();
    if (m_mouseMode == MouseUsageScroll) {
        if (!m_scrolled) {
            if (!dragReached(m_scrollAxes, x, y))
                return;
            m_scrolled = true;
        }
        if (dragTo(m_scrollAxes, x - m_pressX, y - m_pressY))
            requestViewPortUpdate(true, false);
    } else if (m_mouseMode == MouseUsageZoomIn) {
        if (canZoomIn(m_zoomAxes) && dragReached(m_zoomAxes, x, y)) {
            if (m_zoomAxes == 0)
                showSelectionFrame(x, getPlotAreaTop(), m_pressX - x, getPlotAreaHeight());
            else if (m_zoomAxes == 1)
                showSelectionFrame(getPlotAreaLeft(), y, getPlotAreaWidth(), m_pressY - y);
            else
                showSelectionFrame(x, y, m_pressX - x, m_pressY - y);
        } else {
            hideSelectionFrame();
        }
    }
}

void QChartViewer::setSelectionFrameColor(const QColor &color)
{
    m_frameColor = color;
    for (QLabel *edge : {m_leftEdge, m_rightEdge, m_topEdge, m_bottomEdge}) {
        if (edge)
            edge->setPalette(QPalette(color));
    }
}

void QChartViewer::showSelectionFrame(int x, int y, int w, int h)
{
    if (!m_leftEdge) {
        for (QLabel **edge : {&m_leftEdge, &m_rightEdge, &m_topEdge, &m_bottomEdge}) {
            *edge = new QLabel(this);
            (*edge)->setAutoFillBackground(true);
            (*edge)->setPalette(QPalette(m_frameColor));
            (*edge)->hide();
        }
    }
    if (w < 0) {
        x += w;
        w = -w;
    }
    if (h < 0) {
        y += h;
        h = -h;
    }
    const int b = m_frameWidth;
    m_topEdge->setGeometry(x, y, w, b);
    m_leftEdge->setGeometry(x, y, b, h);
    m_bottomEdge->setGeometry(x, y + h - b + 1, w, b);
    m_rightEdge->setGeometry(x + w - b + 1, y, b, h);
    for (QLabel *edge : {m_leftEdge, m_rightEdge, m_topEdge, m_bottomEdge})
        edge->show();
}

void QChartViewer::hideSelectionFrame()
{
    for (QLabel *edge : {m_leftEdge, m_rightEdge, m_topEdge, m_bottomEdge}) {
        if (edge)
            edge->hide();
    }
}

void QChartViewer::mousePressEvent(QMouseEvent *event)
{
    flushPendingMouseMove();
    if (event->button() == Qt::LeftButton && inPlotArea(event->x(), event->y()) &&
        m_mouseMode != 0) {
        m_dragging = true;
        m_pressX = event->x();
        m_pressY = event->y();
        startDrag();
    }
}

void QChartViewer::mouseReleaseEvent(QMouseEvent *event)
{
    flushPendingMouseMove();
    if (event->button() == Qt::LeftButton && m_dragging) {
        m_dragging = false;
        hideSelectionFrame();
        bool changed = false;
        const int x = event->x();
        const int y = event->y();
        if (m_mouseMode == MouseUsageZoomIn) {
            if (canZoomIn(m_zoomAxes)) {
                if (!dragReached(m_zoomAxes, x, y))
                    changed = zoomAt(m_zoomAxes, x, y, m_zoomInFactor);
                else
                    changed = zoomTo(m_zoomAxes, m_pressX, m_pressY, x, y);
            }
        } else if (m_mouseMode == MouseUsageZoomOut) {
            if (canZoomOut(m_zoomAxes))
                changed = zoomAt(m_zoomAxes, x, y, m_zoomOutFactor);
        } else if (!m_scrolled) {
            emit clicked(event);
        } else {
            requestViewPortUpdate(false, true);
        }
        m_scrolled = false;
        if (changed)
            requestViewPortUpdate(true, true);
    } else {
        emit clicked(event);
    }
    applyCursor();
}

void QChartViewer::wheelEvent(QWheelEvent *event)
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&QChartViewer::mouseWheel);
    if (isSignalConnected(signal)) {
        flushPendingMouseMove();
        event->accept(); // a listener that does not want it may ignore it again
        emit mouseWheel(event);
    } else {
        event->ignore();
    }
}

void QChartViewer::leaveEvent(QEvent *event)
{
    flushPendingMouseMove();
    m_mouseInWidget = false;
    if (m_inExtendedPlotArea) {
        m_inExtendedPlotArea = false;
        emit mouseLeavePlotArea(event);
        applyRemovalTrigger(QStringLiteral("mouseleaveplotarea"));
    }
    emit mouseLeaveChart(event);
    applyRemovalTrigger(QStringLiteral("mouseleavechart"));
}

void QChartViewer::applyCursor()
{
    if (m_scrolled) {
        const ChartCursors::Kind kind = m_scrollAxes == 1   ? ChartCursors::ScrollVertical
                                        : m_scrollAxes == 2 ? ChartCursors::ScrollBoth
                                                            : ChartCursors::ScrollHorizontal;
        setCursor(ChartCursors::cursor(kind));
    } else if (m_mouseOnPlotArea && m_mouseMode == MouseUsageZoomIn) {
        setCursor(ChartCursors::cursor(canZoomIn(m_zoomAxes) ? ChartCursors::ZoomIn
                                                             : ChartCursors::NoZoom));
    } else if (m_mouseOnPlotArea && m_mouseMode == MouseUsageZoomOut) {
        setCursor(ChartCursors::cursor(canZoomOut(m_zoomAxes) ? ChartCursors::ZoomOut
                                                              : ChartCursors::NoZoom));
    } else if (m_hotSpotClickable) {
        setCursor(QCursor(Qt::PointingHandCursor));
    } else {
        unsetCursor();
    }
}
