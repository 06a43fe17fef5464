#pragma once

#include <QList>
#include <QWidget>

class ConfiguredDevice;
class DashBoardDeviceItem;
class NodeDevice;

namespace Ui
{
class DashBoard;
}

// The overview page: 32 cells, two tiles (CH1, CH2) per sensor node. The
// nodes push values into their tiles; the page itself has no timer.
class DashBoard : public QWidget
{
    Q_OBJECT

public:
    explicit DashBoard(QWidget *parent = nullptr);
    ~DashBoard() override;

    void setDeviceList(const QList<ConfiguredDevice *> &devices);
    void setEmptyCellsVisible(bool visible);
    void refreshAll();

    // Tiles in creation order: for each node its CH1 tile, then its CH2 tile.
    QList<DashBoardDeviceItem *> tiles() const { return m_tiles; }
    // The cell widget `widget_NN` at (row, column) of the 4 x 8 grid.
    QWidget *cell(int row, int column) const;

signals:
    void deviceClicked(NodeDevice *node);

public slots:
    void slotClicked(NodeDevice *node);

private:
    Ui::DashBoard *ui;
    QList<DashBoardDeviceItem *> m_tiles;
};
