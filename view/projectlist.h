#pragma once

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QWidget>

class ConfiguredDevice;
class NodeDevice;
class QListWidgetItem;

namespace Ui
{
class ProjectList;
}

// The left-hand column of the project centre: a button with the project's
// name (brings back the dashboard) over one entry per sensor node.
class ProjectList : public QWidget
{
    Q_OBJECT

public:
    explicit ProjectList(const QString &projectName, QWidget *parent = nullptr);
    ~ProjectList() override;

    void setDeviceList(const QList<ConfiguredDevice *> &devices);
    void selectNode(NodeDevice *node);
    void refreshNames();
    void setConnected(const QString &deviceNumber);
    void setDisconnected(const QString &deviceNumber);

    // The entry that shows `node`, or null; item data Qt::UserRole + 1 holds
    // whether it shows the connecting icon.
    QListWidgetItem *itemOf(NodeDevice *node) const { return m_items.value(node, nullptr); }

protected:
    void resizeEvent(QResizeEvent *event) override;

signals:
    void dashboardClicked();
    void deviceClicked(NodeDevice *node);

public slots:
    void slotPushDashboard();
    void deviceClicked(QListWidgetItem *item);

private:
    void setEntryState(const QString &deviceNumber, bool connected);
    static QString entryText(const NodeDevice *node);
    void elideProjectName();

    Ui::ProjectList *ui;
    QString m_projectName;
    QHash<NodeDevice *, QListWidgetItem *> m_items;
    // The same nodes in list order, for the first-match rule of connection events.
    QList<QPointer<NodeDevice>> m_order;
    QIcon m_connectingIcon;
    QIcon m_disconnectedIcon;
};
