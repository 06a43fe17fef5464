#pragma once

#include "chart/viewportmanager.h"

#include <QColor>
#include <QLabel>
#include <QString>

#include <memory>

class DrawArea;
class HotSpotMap;
class QMouseEvent;
class QWheelEvent;
class XYChart;

// Shows one chart as a picture and turns mouse activity over it into signals
// and view-port changes. Redraw requests are merged: the owner's
// viewPortChanged() slot runs at most once per hold time, and all
// refreshDisplay() calls made inside one handler give one repaint.
//
// Mouse modes: 0 none, 1 drag scrolls, 3 zoom in, 4 zoom out. Axes: 0
// horizontal, 1 vertical, 2 both. The chart is not owned.
class QChartViewer : public QLabel, public ViewPortManager
{
    Q_OBJECT
public:
    enum MouseMode {
        MouseUsageDefault = 0,
        MouseUsageScroll = 1,
        MouseUsageZoomIn = 3,
        MouseUsageZoomOut = 4
    };

    explicit QChartViewer(QWidget *parent = nullptr);
    ~QChartViewer() override;

    virtual void setChart(XYChart *chart);
    virtual XYChart *chart() const { return m_chart; }
    // Null or empty text leaves no hot spots.
    virtual void setHotSpotMap(const QString &imageMap);
    virtual HotSpotMap *hotSpotMap() const { return m_hotSpotMap.get(); }
    virtual void setDefaultToolTip(const QString &text) { m_defaultToolTip = text; }
    virtual void setSelectionFrameWidth(int width) { m_frameWidth = width; }
    virtual int selectionFrameWidth() const { return m_frameWidth; }
    virtual void setSelectionFrameColor(const QColor &color);
    virtual QColor selectionFrameColor() const { return m_frameColor; }
    virtual void setMouseMode(int mode) { m_mouseMode = mode; }
    virtual int mouseMode() const { return m_mouseMode; }
    virtual void setZoomAxes(int axes) { m_zoomAxes = axes; }
    virtual int zoomAxes() const { return m_zoomAxes; }
    virtual void setScrollAxes(int axes) { m_scrollAxes = axes; }
    virtual int scrollAxes() const { return m_scrollAxes; }
    virtual void setZoomInFactor(double factor) { m_zoomInFactor = factor; }
    virtual double zoomInFactor() const { return m_zoomInFactor; }
    virtual void setZoomOutFactor(double factor) { m_zoomOutFactor = factor; }
    virtual double zoomOutFactor() const { return m_zoomOutFactor; }
    virtual void setMinDragDistance(int distance) { m_minDragDistance = distance; }
    virtual int minDragDistance() const { return m_minDragDistance; }
    virtual void setHoldTime(int ms) { m_holdTime = ms; }
    virtual int holdTime() const { return m_holdTime; }
    virtual bool chartUpdatePending() const { return m_chartUpdatePending; }
    virtual bool hotSpotUpdatePending() const { return m_hotSpotUpdatePending; }
    virtual bool isMouseOnPlotArea() const;
    virtual bool isInMouseMove() const { return m_inMouseMove; }
    virtual bool isInViewPortChanged() const { return m_inViewPortChanged; }
    virtual void requestViewPortUpdate(bool needUpdateChart, bool needUpdateHotSpots);
    virtual void refreshDisplay();
    // "mouseleaveplotarea", "mouseleavechart", or "now".
    virtual void setDynamicLayerRemoval(const QString &trigger);
    virtual int chartMouseX() const { return m_chartMouseX; }
    virtual int chartMouseY() const { return m_chartMouseY; }
    virtual int plotAreaMouseX() const;
    virtual int plotAreaMouseY() const;
    virtual void flushPendingMouseMove();
    virtual void applyCursor();

signals:
    void viewPortChanged();
    void clicked(QMouseEvent *event);
    void mouseMove(QMouseEvent *event);
    void mouseWheel(QWheelEvent *event);
    void mouseMoveChart(QMouseEvent *event);
    void mouseLeaveChart(QEvent *event);
    void mouseMovePlotArea(QMouseEvent *event);
    void mouseLeavePlotArea(QEvent *event);

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    struct Picture {
        std::shared_ptr<DrawArea> drawArea;
        ChartMetrics metrics;
    };
    Picture currentPicture() const;
    void paintPicture(const Picture &picture);
    void finishDeferral();
    void handleMouseMove(QMouseEvent *event);
    void dragStep(QMouseEvent *event);
    bool dragReached(int axes, int x, int y) const;
    void showSelectionFrame(int x, int y, int w, int h);
    void hideSelectionFrame();
    void applyRemovalTrigger(const QString &event);
    void removeDynamicLayerNow();
    static qint64 clockMs();

    XYChart *m_chart = nullptr;
    std::unique_ptr<HotSpotMap> m_hotSpotMap;
    QString m_defaultToolTip;
    QColor m_frameColor = QColor(0, 0, 0, 255);
    int m_frameWidth = 2;
    int m_mouseMode = 0;
    int m_zoomAxes = 0;
    int m_scrollAxes = 0;
    double m_zoomInFactor = 2.0;
    double m_zoomOutFactor = 0.5;
    int m_minDragDistance = 5;
    int m_holdTime = 20;
    bool m_chartUpdatePending = false;
    bool m_hotSpotUpdatePending = false;
    int m_currentHotSpot = -1;
    bool m_hotSpotClickable = false;
    bool m_mouseOnPlotArea = false;
    bool m_dragging = false;
    bool m_scrolled = false;
    bool m_mouseInWidget = false;
    bool m_inMouseMove = false;
    int m_pressX = 0;
    int m_pressY = 0;
    QLabel *m_leftEdge = nullptr;
    QLabel *m_rightEdge = nullptr;
    QLabel *m_topEdge = nullptr;
    QLabel *m_bottomEdge = nullptr;
    bool m_holdTimerActive = false;
    int m_holdTimerId = 0;
    bool m_inViewPortChanged = false;
    int m_displayState = 0; // 0 idle, 1 deferred with nothing to show, 2 deferred with a picture
    Picture m_deferred;
    qint64 m_lastMouseMoveTime = -1000;
    std::unique_ptr<QMouseEvent> m_pendingMouseEvent;
    int m_mouseTimerId = 0;
    int m_chartMouseX = 0;
    int m_chartMouseY = 0;
    bool m_inExtendedPlotArea = false;
    QString m_removalTrigger;
};
