#include "view/chartview.h"

#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "view/labelelider.h"
#include "view/qchartviewer.h"

#include "ui_chartview.h"

#include <algorithm>

const QString ChartView::kStyleGrey = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(80, 80, 80, 255), stop:1 rgba(125, 125, 125, 255));");
const QString ChartView::kStyleNormal = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(24, 68, 76, 255), stop:1 rgba(43, 132, 130, 255));");
const QString ChartView::kStyleAlarm = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(145, 27, 66, 255), stop:1 rgba(181, 69, 96, 255));");

ChartView::ChartView(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::ChartView)
    , m_connectingImage(QStringLiteral(":/img/DeviceConnectingSymbol.png"))
    , m_disconnectedImage(QStringLiteral(":/img/DeviceDisconnectedSymbol.png"))
    , m_networkImage(QStringLiteral(":/img/icon_lan.png"))
{
    ui->setupUi(this);
    std::fill_n(times, kSamples, NoValue);
    std::fill_n(values1, kSamples, NoValue);
    std::fill_n(values2, kSamples, NoValue);
    // Values of any length shrink their font rather than widen the panels.
    for (QLabel *label : {static_cast<QLabel *>(ui->label_ch1_number), static_cast<QLabel *>(ui->label_ch1_unit),
                          static_cast<QLabel *>(ui->label_ch2_number), static_cast<QLabel *>(ui->label_ch2_unit),
                          ui->label_lqi, ui->label_batt}) {
        QSizePolicy policy = label->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Ignored);
        label->setSizePolicy(policy);
    }

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

    if (!node->ch1Text().isEmpty()) {
        ui->label_ch1_number->setText(node->ch1Text());
        ui->label_ch1_number->fitFont();
    }
    if (!node->ch2Text().isEmpty()) {
        ui->label_ch2_number->setText(node->ch2Text());
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
        ui->label_ch1_unit->setText(channel1UnitText());
        ui->label_ch1_unit->fitFont();
        setChannel1Alarm(node->alarm1());
    } else {
        ui->label_ch1_unit->clear();
        setValueStyle(ui->frame_ch1_value, kStyleGrey);
    }
    if (!ui->label_ch2_number->text().isEmpty()) {
        ui->label_ch2_unit->setText(channel2UnitText());
        ui->label_ch2_unit->fitFont();
        setChannel2Alarm(node->alarm2());
    } else {
        ui->label_ch2_unit->clear();
        setValueStyle(ui->frame_ch2_value, kStyleGrey);
    }
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

    const int oldLength1 = ui->label_ch1_number->text().length();
    ui->label_ch1_number->setText(ch1Text);
    if (ch1Text.length() != oldLength1)
        ui->label_ch1_number->fitFont();
    const QString unitText1 = channel1UnitText();
    if (ui->label_ch1_unit->text() != unitText1)
        ui->label_ch1_unit->setText(unitText1);
    setChannel1Alarm(node->alarm1());

    const int oldLength2 = ui->label_ch2_number->text().length();
    ui->label_ch2_number->setText(ch2Text);
    if (ch2Text.length() != oldLength2)
        ui->label_ch2_number->fitFont();
    const QString unitText2 = channel2UnitText();
    if (ui->label_ch2_unit->text() != unitText2)
        ui->label_ch2_unit->setText(unitText2);
    setChannel2Alarm(node->alarm2());
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
    const QPixmap &image = connected ? m_connectingImage : m_disconnectedImage;
    if (ui->label_device_status->pixmap() == nullptr
        || ui->label_device_status->pixmap()->cacheKey() != image.cacheKey())
        ui->label_device_status->setPixmap(image);
    if (connected) {
        setValueStyle(ui->frame_ch1_value, kStyleNormal);
        setValueStyle(ui->frame_ch2_value, kStyleNormal);
    } else {
        setValueStyle(ui->frame_ch1_value, kStyleGrey);
        setValueStyle(ui->frame_ch2_value, kStyleGrey);
        ui->label_ch1_number->clear();
        ui->label_ch2_number->clear();
        ui->label_ch1_unit->clear();
        ui->label_ch2_unit->clear();
    }
}

void ChartView::setChannel1Alarm(bool alarm)
{
    setValueStyle(ui->frame_ch1_value, alarm ? kStyleAlarm : kStyleNormal);
}

void ChartView::setChannel2Alarm(bool alarm)
{
    setValueStyle(ui->frame_ch2_value, alarm ? kStyleAlarm : kStyleNormal);
}

void ChartView::setDeviceTexts(const QString &deviceName, const QString &ch1Name, const QString &ch2Name)
{
    LabelElider::setText(ui->label_device, deviceName);
    LabelElider::setText(ui->label_ch1_device, deviceName);
    LabelElider::setText(ui->label_ch2_device, deviceName);
    LabelElider::setText(ui->label_ch1_desc, ch1Name);
    LabelElider::setText(ui->label_ch2_desc, ch2Name);
}

void ChartView::setDeviceId(const QString &deviceNumber)
{
    LabelElider::setText(ui->label_serialnumber, QStringLiteral("ID : ") + deviceNumber);
    ui->label_device_type->setPixmap(m_networkImage);
}

QString ChartView::unitText(int unit, const QString &customUnit)
{
    switch (unit) {
    case 1:
        return QString(QChar(0x00B0)) + QLatin1Char('C');
    case 2:
        return QString(QChar(0x00B0)) + QLatin1Char('F');
    case 3:
        return QStringLiteral("%RH");
    case 4:
        return customUnit;
    default:
        return QString();
    }
}

QString ChartView::channel1UnitText() const
{
    return unitText(unit1, customUnit1);
}

QString ChartView::channel2UnitText() const
{
    return unitText(unit2, customUnit2);
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
    auto *chart = static_cast<XYChart *>(viewer1->chart());
    if (!chart)
        return;
    drawTrackCursor(chart, viewer1->plotAreaMouseX());
    viewer1->refreshDisplay();
}

void ChartView::onMouseMovePlotArea2(QMouseEvent *)
{
    auto *chart = static_cast<XYChart *>(viewer2->chart());
    if (!chart)
        return;
    drawTrackCursor(chart, viewer2->plotAreaMouseX());
    viewer2->refreshDisplay();
}
