#include "view/dashboard.h"

#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "view/dashboarddeviceitem.h"

#include "ui_dashboard.h"

#include <QGridLayout>
#include <QLayout>

DashBoard::DashBoard(QWidget *parent) : QWidget(parent), ui(new Ui::DashBoard)
{
    ui->setupUi(this);
}

DashBoard::~DashBoard()
{
    delete ui;
}

QWidget *DashBoard::cell(int row, int column) const
{
    QLayoutItem *item = ui->gridLayout_2->itemAtPosition(row, column);
    return item ? item->widget() : nullptr;
}

void DashBoard::setDeviceList(const QList<ConfiguredDevice *> &devices)
{
    int row = 0;
    int column = 0;
    for (NodeDevice *node : ConfiguredDevice::allNodes(devices)) {
        if (row > 3) {
            row = 0;
            column += 2;
            if (column > 7)
                column = 0;
        }
        auto *ch1Tile = new DashBoardDeviceItem(node, true);
        auto *ch2Tile = new DashBoardDeviceItem(node, false);
        connect(ch1Tile, &DashBoardDeviceItem::clicked, this, &DashBoard::slotClicked);
        connect(ch2Tile, &DashBoardDeviceItem::clicked, this, &DashBoard::slotClicked);
        node->setTiles(ch1Tile, ch2Tile);
        m_tiles.append(ch1Tile);
        m_tiles.append(ch2Tile);
        cell(row, column)->layout()->addWidget(ch1Tile);
        cell(row, column + 1)->layout()->addWidget(ch2Tile);
        ++row;
    }
}

void DashBoard::setEmptyCellsVisible(bool visible)
{
    QGridLayout *grid = ui->gridLayout_2;
    for (int i = 0; i < grid->count(); ++i) {
        QWidget *cellWidget = grid->itemAt(i)->widget();
        if (!cellWidget)
            continue;
        bool holdsTile = false;
        for (QObject *child : cellWidget->children()) {
            if (child->objectName() == QLatin1String("DashBoardDeviceItem")) {
                holdsTile = true;
                break;
            }
        }
        if (!holdsTile)
            cellWidget->setVisible(visible);
    }
}

void DashBoard::refreshAll()
{
    for (DashBoardDeviceItem *tile : qAsConst(m_tiles))
        tile->refresh();
}

void DashBoard::slotClicked(NodeDevice *node)
{
    emit deviceClicked(node);
}
