#include "view/projectlist.h"

#include "common/plaintext.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

#include "ui_projectlist.h"

#include <QFontMetrics>
#include <QListWidgetItem>

namespace
{
// Item data holding whether the entry shows the connecting icon.
constexpr int kConnectedRole = Qt::UserRole + 1;
} // namespace

ProjectList::ProjectList(const QString &projectName, QWidget *parent)
    : QWidget(parent), ui(new Ui::ProjectList),
      m_connectingIcon(QStringLiteral(":/img/DeviceConnectingSymbol.png")),
      m_disconnectedIcon(QStringLiteral(":/img/DeviceDisconnectedSymbol.png"))
{
    ui->setupUi(this);
    m_projectName = projectName;
    ui->button_project->setText(projectName);
    ui->button_project->setToolTip(QStringLiteral("show Dashboard"));
    // A long project name must not widen the column.
    QSizePolicy policy = ui->button_project->sizePolicy();
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    ui->button_project->setSizePolicy(policy);
    ui->list_project->setTextElideMode(Qt::ElideRight);
    ui->list_project->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    connect(ui->button_project, &QAbstractButton::clicked, this, &ProjectList::slotPushDashboard);
    connect(ui->list_project, &QListWidget::itemClicked, this,
            QOverload<QListWidgetItem *>::of(&ProjectList::deviceClicked));
}

void ProjectList::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    elideProjectName();
}

// The button shows as much of the project's name as fits beside its icon.
void ProjectList::elideProjectName()
{
    QAbstractButton *button = ui->button_project;
    const int room = button->width() - button->iconSize().width() - 32;
    const QString shown =
        QFontMetrics(button->font()).elidedText(m_projectName, Qt::ElideRight, qMax(room, 16));
    if (button->text() != shown)
        button->setText(shown);
}

ProjectList::~ProjectList()
{
    for (const QPointer<NodeDevice> &node : qAsConst(m_order)) {
        if (node && node->projectList() == this)
            node->clearProjectList();
    }
    delete ui;
}

QString ProjectList::entryText(const NodeDevice *node)
{
    return node->deviceName().isEmpty() ? node->deviceNumber() : node->deviceName();
}

void ProjectList::setDeviceList(const QList<ConfiguredDevice *> &devices)
{
    for (NodeDevice *node : ConfiguredDevice::allNodes(devices)) {
        node->setProjectList(this);
        auto *item = new QListWidgetItem(m_disconnectedIcon, entryText(node), ui->list_project);
        item->setData(Qt::ToolTipRole, PlainText::toolTip(node->deviceNumber()));
        item->setData(kConnectedRole, false);
        m_items.insert(node, item);
        m_order.append(node);
    }
}

void ProjectList::selectNode(NodeDevice *node)
{
    ui->list_project->clearSelection();
    if (QListWidgetItem *item = m_items.value(node, nullptr)) {
        item->setSelected(true);
        ui->list_project->setCurrentItem(item);
    }
}

void ProjectList::refreshNames()
{
    for (const QPointer<NodeDevice> &node : qAsConst(m_order)) {
        if (node)
            m_items.value(node.data())->setText(entryText(node));
    }
}

void ProjectList::setEntryState(const QString &deviceNumber, bool connected)
{
    for (const QPointer<NodeDevice> &node : qAsConst(m_order)) {
        if (node && node->deviceNumber() == deviceNumber) {
            QListWidgetItem *item = m_items.value(node.data());
            // Nodes report "connected" with every reply; only a change repaints.
            if (item->data(kConnectedRole).toBool() != connected) {
                item->setData(kConnectedRole, connected);
                item->setIcon(connected ? m_connectingIcon : m_disconnectedIcon);
            }
            return;
        }
    }
}

void ProjectList::setConnected(const QString &deviceNumber)
{
    setEntryState(deviceNumber, true);
}

void ProjectList::setDisconnected(const QString &deviceNumber)
{
    setEntryState(deviceNumber, false);
}

void ProjectList::slotPushDashboard()
{
    ui->list_project->clearSelection();
    emit dashboardClicked();
}

void ProjectList::deviceClicked(QListWidgetItem *item)
{
    NodeDevice *node = nullptr;
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        if (it.value() == item) {
            node = it.key();
            break;
        }
    }
    emit deviceClicked(node);
}
