#include "view/dashboarddeviceitem.h"

#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "view/labelelider.h"
#include "view/valuestyle.h"

#include "ui_dashboarddeviceitem.h"

#include <QMouseEvent>

DashBoardDeviceItem::DashBoardDeviceItem(NodeDevice *node, bool isChannel1, QWidget *parent)
    : QWidget(parent), ui(new Ui::DashBoardDeviceItem), m_node(node), m_isChannel1(isChannel1)
{
    ui->setupUi(this);
    // Long values must shrink their font, never widen the tile.
    for (QLabel *label :
         {static_cast<QLabel *>(ui->label_number), static_cast<QLabel *>(ui->label_unit)}) {
        QSizePolicy policy = label->sizePolicy();
        policy.setHorizontalPolicy(QSizePolicy::Ignored);
        label->setSizePolicy(policy);
    }

    if (!m_node) {
        ui->frame_ch->hide();
        return;
    }

    applyNames();
    readUnit();

    ui->label_number->setText(QStringLiteral("1"));
    ui->label_number->fitFont();
    ui->label_number->clear();
    ui->label_unit->setText(unitText(m_unit));
    ui->label_unit->fitFont();
    ui->label_unit->clear();
}

DashBoardDeviceItem::~DashBoardDeviceItem()
{
    // Never leave the node holding a link to a tile that is gone.
    if (m_node && (m_node->ch1Tile() == this || m_node->ch2Tile() == this))
        m_node->clearTiles();
    delete ui;
}

void DashBoardDeviceItem::applyNames()
{
    QString device = m_node->deviceName();
    if (device.isEmpty() && m_node->connection())
        device = m_node->connection()->ipAddress();
    LabelElider::setText(ui->label_device, device);

    QString channel = m_isChannel1 ? m_node->ch1Name() : m_node->ch2Name();
    if (channel.isEmpty())
        channel = m_isChannel1 ? QStringLiteral("CH1") : QStringLiteral("CH2");
    LabelElider::setText(ui->label_desc, channel);
}

void DashBoardDeviceItem::readUnit()
{
    m_unit = m_isChannel1 ? m_node->ch1Unit() : m_node->ch2Unit();
    m_customUnit = m_isChannel1 ? m_node->ch1CustomUnit() : m_node->ch2CustomUnit();
}

bool DashBoardDeviceItem::channelAlarm() const
{
    return m_isChannel1 ? m_node->alarm1() : m_node->alarm2();
}

bool DashBoardDeviceItem::channelNoData() const
{
    return m_isChannel1 ? m_node->ch1NoData() : m_node->ch2NoData();
}

void DashBoardDeviceItem::setValueStyle(const QString &style)
{
    // Re-polishing a style sheet is not free; skip it when nothing changes.
    if (ui->frame_value->styleSheet() != style)
        ui->frame_value->setStyleSheet(style);
}

void DashBoardDeviceItem::setValue(const QString &text)
{
    if (!m_node)
        return;
    // A text without a number (the sensor sent none) reads "no data" in a
    // look of its own, without unit; it is never shown as a value in range.
    const bool noData = NodeDevice::isNoData(text);
    const QString shown = noData ? ValueStyle::kNoDataText : text;
    const int oldLength = ui->label_number->text().length();
    ui->label_number->setText(shown);
    if (shown.length() != oldLength)
        ui->label_number->fitFont();
    const QString unit = noData ? QString() : unitText(m_unit);
    if (ui->label_unit->text() != unit)
        ui->label_unit->setText(unit);
    if (noData)
        setValueStyle(ValueStyle::kNoData);
    else
        setAlarm(channelAlarm());
}

void DashBoardDeviceItem::setConnected(const QString &deviceNumber)
{
    if (!m_node || deviceNumber != m_node->deviceNumber())
        return;
    // Coming back from grey; a tile that shows a value keeps its look until
    // the next value decides it (this runs before every sample).
    if (ui->frame_value->styleSheet() == ValueStyle::kGrey)
        setValueStyle(ValueStyle::kNormal);
}

void DashBoardDeviceItem::setDisconnected(const QString &deviceNumber)
{
    if (!m_node || deviceNumber != m_node->deviceNumber())
        return;
    setValueStyle(ValueStyle::kGrey);
    ui->label_number->clear();
    ui->label_unit->clear();
}

void DashBoardDeviceItem::refresh()
{
    if (!m_node)
        return;
    applyNames();
    readUnit();
    if (!ui->label_number->text().isEmpty() && channelNoData()) {
        ui->label_unit->clear();
        setValueStyle(ValueStyle::kNoData);
    } else if (!ui->label_number->text().isEmpty()) {
        ui->label_unit->setText(unitText(m_unit));
        ui->label_unit->fitFont();
        setAlarm(channelAlarm());
    } else {
        ui->label_unit->clear();
        setValueStyle(ValueStyle::kGrey);
    }
}

QString DashBoardDeviceItem::unitText(int unitCode) const
{
    return unitDisplayText(unitCode, m_customUnit);
}

void DashBoardDeviceItem::setAlarm(bool alarm)
{
    setValueStyle(alarm ? ValueStyle::kAlarm : ValueStyle::kNormal);
}

void DashBoardDeviceItem::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (m_node)
        emit clicked(m_node);
}
