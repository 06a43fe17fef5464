#pragma once

#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

class DrawArea;
class NodeDevice;
class QChartViewer;
class ResizeLabel;
class ResizeLabelUnit;
class QLabel;
class XYChart;

namespace Ui
{
class ChartView;
}

// The page shown for one sensor node: header (name, state, ID, radio strip),
// one value panel and one real-time chart of the last 240 samples per channel,
// each chart with a track cursor. The bound node pushes every sample into it.
class ChartView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSamples = 240;

    explicit ChartView(QWidget *parent = nullptr);
    ~ChartView() override;

    void clearView();
    void setDevice(NodeDevice *node);
    void refreshDeviceInfo();
    void setDeviceData(const double *times, const double *ch1, const double *ch2,
                       const QString &ch1Text, const QString &ch2Text);
    void setRadioStatus(const QString &lqiText, const QString &batteryText);
    void setConnected(const QString &deviceNumber);
    void setDisconnected(const QString &deviceNumber);

    QString channel1UnitText() const;
    QString channel2UnitText() const;

    NodeDevice *boundNode() const { return node.data(); }
    QChartViewer *chartViewer1() const { return viewer1; }
    QChartViewer *chartViewer2() const { return viewer2; }
    const double *timeData() const { return times; }
    const double *values1Data() const { return values1; }
    const double *values2Data() const { return values2; }
    // Charts rebuilt since construction, for tests and benchmarks.
    int chartBuildCount() const { return m_chartBuilds; }

signals:
    void popupSensingOption();
    void popupNetworkSetting();

protected:
    void resizeEvent(QResizeEvent *event) override;

private slots:
    void onMouseMovePlotArea(QMouseEvent *event);
    void onMouseMovePlotArea2(QMouseEvent *event);
    void updateChart();
    void drawChart();
    void drawChart2();
    void slotPopupSensingOption();
    void slotPopupNetwork();

private:
    void setConnectionState(bool connected);
    void setChannel1Alarm(bool alarm);
    void setChannel2Alarm(bool alarm);
    void setDeviceTexts(const QString &deviceName, const QString &ch1Name, const QString &ch2Name);
    void setDeviceId(const QString &deviceNumber);
    void setValueStyle(QWidget *frame, const QString &style);
    void showChannelValue(ResizeLabel *number, ResizeLabelUnit *unit, QWidget *frame,
                          const QString &text, const QString &unitText, bool alarm);
    void showChannelState(ResizeLabelUnit *unit, QWidget *frame, const QString &unitText,
                          bool noData, bool alarm);
    void buildChart(QLabel *label, QChartViewer *viewer, const double *values, int color,
                    const QString &name);
    void drawTrackCursor(XYChart *chart, int mouseX);
    void drawViewInfo(DrawArea *drawArea, int plotRight, int plotTop);

    Ui::ChartView *ui;
    QPixmap m_connectingImage;
    QPixmap m_disconnectedImage;
    QPixmap m_networkImage;
    int unit1 = 0;
    int unit2 = 0;
    QString customUnit1;
    QString customUnit2;
    // Not owned; a QPointer so that a node deleted while bound is seen as unbound.
    QPointer<NodeDevice> node;
    QChartViewer *viewer1 = nullptr;
    QChartViewer *viewer2 = nullptr;
    double times[kSamples];
    double values1[kSamples];
    double values2[kSamples];
    int m_chartBuilds = 0;
    // Whether the header shows the connecting image (avoids re-setting it per sample).
    bool m_connectedLook = false;
};
