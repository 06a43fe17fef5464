#include "view/chartview.h"

#include "chart/chartdataset.h"
#include "chart/drawarea.h"
#include "chart/linelayer.h"
#include "chart/plotarea.h"
#include "chart/qchartviewer.h"
#include "chart/xychart.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "view/labelelider.h"
#include "view/valuestyle.h"

#include "ui_chartview.h"

#include <algorithm>
#include <cmath>

ChartView::ChartView(QWidget *parent)
    : QWidget(parent), ui(new Ui::ChartView),
      m_connectingImage(QStringLiteral(":/img/DeviceConnectingSymbol.png")),
      m_disconnectedImage(QStringLiteral(":/img/DeviceDisconnectedSymbol.png")),
      m_networkImage(QStringLiteral(":/img/icon_lan.png"))
{
    ui->setupUi(this);
    std::fill_n(times, kSamples, NoValue);
    std::fill_n(values1, kSamples, NoValue);
    std::fill_n(values2, kSamples, NoValue);
    // Values of any length shrink their font rather than widen the panels.
    for (QLabel *label :
         {static_cast<QLabel *>(ui->label_ch1_number), static_cast<QLabel *>(ui->label_ch1_unit),
          static_cast<QLabel *>(ui->label_ch2_number), static_cast<QLabel *>(ui->label_ch2_unit),
          ui->label_lqi, ui->label_batt}) {
        QSizePolicy policy = label->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Ignored);
        label->setSizePolicy(policy);
    }
    // Room for the usual radio and battery numbers ("-105", "100").
    ui->label_lqi->setMinimumWidth(40);
    ui->label_batt->setMinimumWidth(40);

    ui->frame_lqibatt->hide();

    viewer1 = new QChartViewer(ui->label_ch1_chart);
    viewer2 = new QChartViewer(ui->label_ch2_chart);
    connect(viewer1, &QChartViewer::viewPortChanged, this, &ChartView::drawChart);
    connect(ui->label_ch1_chart, &QChartViewerLabel::refreshChart, this, &ChartView::drawChart);
    connect(viewer1, &QChartViewer::mouseMovePlotArea, this, &ChartView::onMouseMovePlotArea);
    connect(viewer2, &QChartViewer::viewPortChanged, this, &ChartView::drawChart2);
    connect(ui->label_ch2_chart, &QChartViewerLabel::refreshChart, this, &ChartView::drawChart2);
    connect(viewer2, &QChartViewer::mouseMovePlotArea, this, &ChartView::onMouseMovePlotArea2);

    connect(ui->btn_setting, &QPushButton::clicked, this, &ChartView::slotPopupSensingOption);
    connect(ui->btn_network, &QPushButton::clicked, this, &ChartView::slotPopupNetwork);

    viewer1->requestViewPortUpdate(true, true);
    viewer2->requestViewPortUpdate(true, true);
}

ChartView::~ChartView()
{
    if (node && node->chartView() == this)
        node->clearChartView();
    // The viewers die with their labels; the charts they hold are ours.
    delete viewer1->chart();
    viewer1->setChart(nullptr);
    delete viewer2->chart();
    viewer2->setChart(nullptr);
    delete ui;
}

void ChartView::clearView()
{
    std::fill_n(times, kSamples, NoValue);
    std::fill_n(values1, kSamples, NoValue);
    std::fill_n(values2, kSamples, NoValue);
    viewer1->requestViewPortUpdate(true, true);
    viewer2->requestViewPortUpdate(true, true);

    setConnectionState(false);

    ui->label_device_type->clear();
    LabelElider::setText(ui->label_ch1_device, QString());
    LabelElider::setText(ui->label_ch2_device, QString());
    LabelElider::setText(ui->label_ch1_desc, QString());
    LabelElider::setText(ui->label_ch2_desc, QString());
    ui->label_ch1_number->clear();
    ui->label_ch2_number->clear();
    ui->label_ch1_unit->clear();
    ui->label_ch2_unit->clear();
    ui->frame_lqibatt->hide();
    ui->label_lqi->clear();
    ui->label_batt->clear();

    node = nullptr;
}

void ChartView::setDevice(NodeDevice *newNode)
{
    if (!newNode)
        return;
    node = newNode;
    setConnectionState(node->connection() && node->connection()->isConnected());

    if (!node->ch1Text().isEmpty() || node->ch1NoData()) {
        ui->label_ch1_number->setText(node->ch1NoData() ? ValueStyle::kNoDataText
                                                        : node->ch1Text());
        ui->label_ch1_number->fitFont();
    }
    if (!node->ch2Text().isEmpty() || node->ch2NoData()) {
        ui->label_ch2_number->setText(node->ch2NoData() ? ValueStyle::kNoDataText
                                                        : node->ch2Text());
        ui->label_ch2_number->fitFont();
    }
    ui->label_lqi->setText(node->lqiText());
    ui->label_batt->setText(node->batteryText());

    refreshDeviceInfo();

    node->history(times, values1, values2);
    viewer1->requestViewPortUpdate(true, true);
    viewer2->requestViewPortUpdate(true, true);
}

void ChartView::refreshDeviceInfo()
{
    if (!node)
        return;
    ConfiguredDevice *connection = node->connection();
    QString deviceName = node->deviceName();
    if (deviceName.isEmpty() && connection)
        deviceName = connection->ipAddress();
    QString ch1Name = node->ch1Name();
    if (ch1Name.isEmpty())
        ch1Name = QStringLiteral("CH1");
    QString ch2Name = node->ch2Name();
    if (ch2Name.isEmpty())
        ch2Name = QStringLiteral("CH2");
    setDeviceTexts(deviceName, ch1Name, ch2Name);
    setDeviceId(node->deviceNumber());

    ui->frame_lqibatt->setVisible(connection && connection->model() == QLatin1String("QA100"));

    unit1 = node->ch1Unit();
    unit2 = node->ch2Unit();
    customUnit1 = node->ch1CustomUnit();
    customUnit2 = node->ch2CustomUnit();

    if (!ui->label_ch1_number->text().isEmpty()) {
        showChannelState(ui->label_ch1_unit, ui->frame_ch1_value, channel1UnitText(),
                         node->ch1NoData(), node->alarm1());
        ui->label_ch1_unit->fitFont();
    } else {
        ui->label_ch1_unit->clear();
        setValueStyle(ui->frame_ch1_value, ValueStyle::kGrey);
    }
    if (!ui->label_ch2_number->text().isEmpty()) {
        showChannelState(ui->label_ch2_unit, ui->frame_ch2_value, channel2UnitText(),
                         node->ch2NoData(), node->alarm2());
        ui->label_ch2_unit->fitFont();
    } else {
        ui->label_ch2_unit->clear();
        setValueStyle(ui->frame_ch2_value, ValueStyle::kGrey);
    }
}

// A new value text for one channel's panel: the value with its unit, teal or
// crimson by the alarm; "no data" without unit in its own look when the text
// holds no number. The label refits its font only when the length changes.
void ChartView::showChannelValue(ResizeLabel *number, ResizeLabelUnit *unit, QWidget *frame,
                                 const QString &text, const QString &unitText, bool alarm)
{
    const bool noData = NodeDevice::isNoData(text);
    const QString shown = noData ? ValueStyle::kNoDataText : text;
    const int oldLength = number->text().length();
    number->setText(shown);
    if (shown.length() != oldLength)
        number->fitFont();
    showChannelState(unit, frame, unitText, noData, alarm);
}

void ChartView::showChannelState(ResizeLabelUnit *unit, QWidget *frame, const QString &unitText,
                                 bool noData, bool alarm)
{
    const QString unitShown = noData ? QString() : unitText;
    if (unit->text() != unitShown)
        unit->setText(unitShown);
    setValueStyle(frame, noData  ? ValueStyle::kNoData
                         : alarm ? ValueStyle::kAlarm
                                 : ValueStyle::kNormal);
}

void ChartView::setDeviceData(const double *newTimes, const double *ch1, const double *ch2,
                              const QString &ch1Text, const QString &ch2Text)
{
    if (!node)
        return;
    std::copy_n(newTimes, kSamples, times);
    std::copy_n(ch1, kSamples, values1);
    std::copy_n(ch2, kSamples, values2);
    viewer1->requestViewPortUpdate(true, true);
    viewer2->requestViewPortUpdate(true, true);

    showChannelValue(ui->label_ch1_number, ui->label_ch1_unit, ui->frame_ch1_value, ch1Text,
                     channel1UnitText(), node->alarm1());
    showChannelValue(ui->label_ch2_number, ui->label_ch2_unit, ui->frame_ch2_value, ch2Text,
                     channel2UnitText(), node->alarm2());
}

void ChartView::setRadioStatus(const QString &lqiText, const QString &batteryText)
{
    ui->label_lqi->setText(lqiText);
    ui->label_batt->setText(batteryText);
}

void ChartView::setConnected(const QString &deviceNumber)
{
    if (node && deviceNumber == node->deviceNumber())
        setConnectionState(true);
}

void ChartView::setDisconnected(const QString &deviceNumber)
{
    if (node && deviceNumber == node->deviceNumber())
        setConnectionState(false);
}

void ChartView::setValueStyle(QWidget *frame, const QString &style)
{
    // A style sheet change re-polishes the whole panel; skip it when equal.
    if (frame->styleSheet() != style)
        frame->setStyleSheet(style);
}

void ChartView::setConnectionState(bool connected)
{
    if (connected != m_connectedLook) {
        m_connectedLook = connected;
        ui->label_device_status->setPixmap(connected ? m_connectingImage : m_disconnectedImage);
    }
    if (connected) {
        // Coming back from grey; a panel that shows a value keeps its look
        // until the next value decides it (this runs before every sample).
        for (QWidget *frame : {ui->frame_ch1_value, ui->frame_ch2_value}) {
            if (frame->styleSheet() == ValueStyle::kGrey)
                setValueStyle(frame, ValueStyle::kNormal);
        }
    } else {
        setValueStyle(ui->frame_ch1_value, ValueStyle::kGrey);
        setValueStyle(ui->frame_ch2_value, ValueStyle::kGrey);
        ui->label_ch1_number->clear();
        ui->label_ch2_number->clear();
        ui->label_ch1_unit->clear();
        ui->label_ch2_unit->clear();
    }
}

void ChartView::setChannel1Alarm(bool alarm)
{
    setValueStyle(ui->frame_ch1_value, alarm ? ValueStyle::kAlarm : ValueStyle::kNormal);
}

void ChartView::setChannel2Alarm(bool alarm)
{
    setValueStyle(ui->frame_ch2_value, alarm ? ValueStyle::kAlarm : ValueStyle::kNormal);
}

// Header labels take the width of their text, up to a limit, so that an ID or
// a name of usual length is shown whole and a long one is elided.
static void fitHeaderLabel(QLabel *label, const QString &text)
{
    LabelElider::setText(label, text);
    label->setMinimumWidth(std::min(label->fontMetrics().horizontalAdvance(text) + 8, 300));
}

void ChartView::setDeviceTexts(const QString &deviceName, const QString &ch1Name,
                               const QString &ch2Name)
{
    fitHeaderLabel(ui->label_device, deviceName);
    LabelElider::setText(ui->label_ch1_device, deviceName);
    LabelElider::setText(ui->label_ch2_device, deviceName);
    LabelElider::setText(ui->label_ch1_desc, ch1Name);
    LabelElider::setText(ui->label_ch2_desc, ch2Name);
}

void ChartView::setDeviceId(const QString &deviceNumber)
{
    fitHeaderLabel(ui->label_serialnumber, QStringLiteral("ID : ") + deviceNumber);
    ui->label_device_type->setPixmap(m_networkImage);
}

QString ChartView::channel1UnitText() const
{
    return unitDisplayText(unit1, customUnit1);
}

QString ChartView::channel2UnitText() const
{
    return unitDisplayText(unit2, customUnit2);
}

void ChartView::updateChart()
{
    viewer1->requestViewPortUpdate(true, true);
    viewer2->requestViewPortUpdate(true, true);
}

void ChartView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateChart();
}

void ChartView::slotPopupSensingOption()
{
    emit popupSensingOption();
}

void ChartView::slotPopupNetwork()
{
    emit popupNetworkSetting();
}

void ChartView::drawChart()
{
    buildChart(ui->label_ch1_chart, viewer1, values1, 0xFF0000, QStringLiteral("CH1"));
}

void ChartView::drawChart2()
{
    buildChart(ui->label_ch2_chart, viewer2, values2, 0x00CC00, QStringLiteral("CH2"));
}

void ChartView::onMouseMovePlotArea(QMouseEvent *)
{
    XYChart *chart = viewer1->chart();
    if (!chart)
        return;
    drawTrackCursor(chart, viewer1->plotAreaMouseX());
    viewer1->refreshDisplay();
}

void ChartView::onMouseMovePlotArea2(QMouseEvent *)
{
    XYChart *chart = viewer2->chart();
    if (!chart)
        return;
    drawTrackCursor(chart, viewer2->plotAreaMouseX());
    viewer2->refreshDisplay();
}

// One channel chart: 240 data intervals ending at the newest sample, on a dark
// gradient, with the track cursor at the mouse or at the newest sample.
void ChartView::buildChart(QLabel *label, QChartViewer *viewer, const double *values, int color,
                           const QString &name)
{
    ++m_chartBuilds;
    // A label not laid out yet (or squeezed) still gets a chart with a plot area.
    const int width = std::max(label->width() - 10, 60);
    const int height = std::max(label->height(), 60);
    auto *chart = new XYChart(width, height, 0x595959, ChartColor::Transparent, 0);

    const int background =
        chart->linearGradientColor(0, 25, 0, chart->getHeight() - 15, 0x595959, 0x303030, false);
    chart->setPlotArea(45, 25, width - 50, height - 55, background, -1, ChartColor::Transparent,
                       0x80303030, 0x80303030);
    chart->setClipping(0);

    chart->xAxis()->setTickDensity(75, 15);
    chart->xAxis()->setWidth(2);
    chart->yAxis()->setWidth(2);
    chart->xAxis()->setColors(0x80C0C0C0, 0x80F4F4F4, -1, -1);
    chart->yAxis()->setColors(0x80C0C0C0, 0x80F4F4F4, -1, -1);

    const double newest = times[kSamples - 1];
    if (newest != NoValue) {
        const double span = std::floor(double(dataIntervalMs) * kSamples / 1000.0);
        chart->xAxis()->setDateScale(newest - span, newest, 0, 0);
        chart->xAxis()->setLabelFormat(QStringLiteral("{value|hh:nn:ss}"));
        LineLayer *layer = chart->addLineLayer(0, 0);
        layer->setXData(times, kSamples);
        layer->addDataSet(values, kSamples, color, name);
    }

    const int mouseX =
        viewer->isMouseOnPlotArea() ? viewer->plotAreaMouseX() : chart->getPlotArea()->getRightX();
    drawTrackCursor(chart, mouseX);

    delete viewer->chart();
    viewer->setChart(chart);
}

// "View Length : 240 samples   Interval : 1 sec" above the plot area's right end.
void ChartView::drawViewInfo(DrawArea *d, int plotRight, int plotTop)
{
    const QString info = QStringLiteral("<*block*><*block*><*font=arial.ttf*>View Length : ") +
                         QString::number(kSamples) +
                         QStringLiteral(" samples<*/*><*block*><*font=arial.ttf*>   Interval : ") +
                         intervalText(dataIntervalMs) + QStringLiteral(" <*/*><*/*>");
    d->text(info, QStringLiteral("arial.ttf"), 8).draw(plotRight - 240, plotTop - 3, 0xFFFFFF, 1);
}

// The cursor layer: a dashed vertical line at the data point nearest the mouse,
// its time under the plot area, a dot and a value label per data set, and a
// header line with the legend, the date and the view length.
void ChartView::drawTrackCursor(XYChart *chart, int mouseX)
{
    DrawArea *d = chart->initDynamicLayer();
    PlotArea *plotArea = chart->getPlotArea();
    const double xValue = chart->getNearestXValue(mouseX);
    const int xCoor = chart->getXCoor(xValue);
    const int top = plotArea->getTopY();
    const int bottom = plotArea->getBottomY();
    const int left = plotArea->getLeftX();
    const int right = plotArea->getRightX();

    // An empty chart has no time to point at: a cursor line, an empty time
    // box and an empty date would only look broken. It keeps its info line.
    if (chart->getLayerCount() == 0) {
        drawViewInfo(d, right, top);
        return;
    }

    d->vline(top, bottom, xCoor, d->dashLineColor(0x80F4F4F4, 0x0101));

    const QString timeLabel =
        QStringLiteral("<*font,bgColor=373737,color=e6e6e6*> ") +
        chart->xAxis()->getFormattedLabel(xValue, QStringLiteral("hh:nn:ss")) +
        QStringLiteral(" <*/font*>");
    ChartText timeText = d->text(timeLabel, QStringLiteral("arialbd.ttf"), 8);
    const int timeWidth = timeText.getWidth();
    timeText.draw(std::max(0, std::min(xCoor - timeWidth / 2, chart->getWidth() - timeWidth)),
                  bottom + 6, 0xFFFFFF, 7);

    QStringList legendEntries;
    for (int i = 0; i < chart->getLayerCount(); ++i) {
        LineLayer *layer = chart->getLayerByZ(i);
        const int xIndex = layer->getXIndexOf(xValue, 0);
        for (int j = 0; j < layer->getDataSetCount(); ++j) {
            ChartDataSet *dataSet = layer->getDataSetByZ(j);
            const QString dataName = dataSet->getDataName();
            const int dataColor = dataSet->getDataColor();
            if (dataName.isEmpty() || dataColor == ChartColor::Transparent)
                continue;
            const double value = dataSet->getValue(xIndex);
            const QString valueText = value == NoValue
                                          ? QStringLiteral("N/A")
                                          : chart->formatValue(value, QStringLiteral("{value|2.}"));
            const QString colorHex =
                QStringLiteral("%1").arg(dataColor & 0xFFFFFF, 6, 16, QLatin1Char('0'));
            legendEntries << QStringLiteral("<*block*>") + dataSet->getLegendIcon() +
                                 QLatin1Char(' ') + dataName + QStringLiteral(": <*font,bgColor=") +
                                 colorHex + QStringLiteral("*> ") + valueText +
                                 QStringLiteral(" <*font*><*/*>");

            if (value == NoValue)
                continue;
            const int y = chart->getYCoor(dataSet->getPosition(xIndex), dataSet->getUseYAxis());
            if (y >= top && y <= bottom) {
                d->circle(xCoor, y, 4, 4, dataColor, dataColor);
                ChartText label =
                    d->text(QStringLiteral("<*font,bgColor=") + colorHex + QStringLiteral("*> ") +
                                valueText + QStringLiteral(" <*font*>"),
                            QStringLiteral("arialbd.ttf"), 8);
                if (xCoor <= (left + right) / 2)
                    label.draw(xCoor + 5, y, 0xFFFFFF, 4);
                else
                    label.draw(xCoor - 5, y, 0xFFFFFF, 6);
            }
        }
    }

    QString legend = QStringLiteral("<*block*>");
    for (int i = legendEntries.size() - 1; i >= 0; --i)
        legend += legendEntries.at(i);
    legend += QStringLiteral("<*/*>");
    ChartText legendText = d->text(legend, QStringLiteral("arialbd.ttf"), 8);
    legendText.draw(left + 5, top - 3, 0xFFFFFF, 1);
    // The date normally starts 100 px in; a long value pushes it to the right
    // instead of letting the two overlap.
    const int dateX = std::max(left + 100, left + 5 + legendText.getWidth() + 8);

    const QString date =
        QStringLiteral("<*block*><*font=arialbd.ttf*>[ ") +
        chart->xAxis()->getFormattedLabel(xValue, QStringLiteral("yyyy-mm-dd hh:nn:ss")) +
        QStringLiteral(" ]<*/*><*/*>");
    d->text(date, QStringLiteral("arialbd.ttf"), 8).draw(dateX, top - 3, 0xFFFFFF, 1);

    drawViewInfo(d, right, top);
}
