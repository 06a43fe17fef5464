#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class NodeDevice;
class QMouseEvent;

namespace Ui
{
class DashBoardDeviceItem;
}

// One dashboard tile: the name, the latest value and the unit of one channel
// of one sensor node. The node pushes values and connection events into it.
class DashBoardDeviceItem : public QWidget
{
    Q_OBJECT

public:
    DashBoardDeviceItem(NodeDevice *node, bool isChannel1, QWidget *parent = nullptr);
    ~DashBoardDeviceItem() override;

    void setValue(const QString &text);
    void setConnected(const QString &deviceNumber);
    void setDisconnected(const QString &deviceNumber);
    void refresh();
    void setAlarm(bool alarm);
    // The unit shown for `unitCode`; code 4 gives this tile's custom unit text.
    QString unitText(int unitCode) const;

    NodeDevice *node() const { return m_node.data(); }
    bool isChannel1() const { return m_isChannel1; }

signals:
    void clicked(NodeDevice *node);

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void applyNames();
    void readUnit();
    bool channelAlarm() const;
    bool channelNoData() const;
    void setValueStyle(const QString &style);

    Ui::DashBoardDeviceItem *ui;
    // Not owned; a QPointer so that a tile outliving its node stays harmless.
    QPointer<NodeDevice> m_node;
    bool m_isChannel1;
    int m_unit = 0;
    QString m_customUnit;
};
