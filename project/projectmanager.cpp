#include "project/projectmanager.h"

#include "ui_projectmanager.h"

#include <QAction>
#include <QHostAddress>
#include <QMenu>
#include <QUrl>
#include <QUuid>

#include "common/common.h"
#include "common/dialoglook.h"
#include "common/messagedialog.h"
#include "common/plaintext.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "project/selectdelegate.h"
#include "project/treemodel.h"

namespace
{

const char kDefaultAddress[] = "192.168.1.2:502";
const char kDefaultModel[] = "QA100";
const char kAddressInvalid[] = "IP Address & Port Number format is not valid.\nPlease retry.";
const char kNoDevice[] = "You must select at least one device.\nPlease retry.";
const char kCannotMakeRow[] = "TreeWidget can't make row.\nPlease retry.";
const char kDeleteQuestion[] = "Erasing the device may result in loss of data.\n Are you sure?";
constexpr int kHighestPort = 49151;

QString startAddressTooHigh()
{
    return QStringLiteral("The maximum value of the start address is ") +
           QString::number(ProjectManager::kMaxStartAddress) + QStringLiteral(".");
}

// An ID as the editor keeps it: an empty one becomes eighteen "0", longer ones
// are cut; any other text, blanks included, is kept as typed.
QString normalisedId(const QString &id)
{
    if (id.isEmpty())
        return QString(ProjectManager::kIdLength, QLatin1Char('0'));
    return id.left(ProjectManager::kIdLength);
}

QString addressText(const QString &host, quint16 port)
{
    // IPv6 hosts need brackets, or the port would read as part of the address.
    const QString shown =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

} // namespace

ProjectManager::QuestionHook ProjectManager::questionHook;
ProjectManager::MessageHook ProjectManager::messageHook;

ProjectManager::ProjectManager(QWidget *parent) : QWidget(parent), ui(new Ui::ProjectManager)
{
    ui->setupUi(this);
    PlainText::applyTo(this);

    const QStringList headers = {QStringLiteral("   IP Address:PORT   "),
                                 QStringLiteral("   Model   "),
                                 QStringLiteral("   Start Address(16bit)   "),
                                 QStringLiteral("   ID   "),
                                 QStringLiteral("   Device Name   "),
                                 QStringLiteral("   CH1 Name   "),
                                 QStringLiteral("   CH2 Name   "),
                                 QString()};
    m_model = new TreeModel(headers, this);
    ui->treeView->setModel(m_model);
    m_delegate = new SelectDelegate(this);
    ui->treeView->setItemDelegate(m_delegate);

    m_intervalMenu = new QMenu(QStringLiteral("Interval"), this);
    m_intervalMenu->setStyleSheet(
        QStringLiteral("background-color: rgb(198, 198, 198);color: rgb(55,55,55);"));
    for (int ms : kDataIntervals) {
        QAction *action = m_intervalMenu->addAction(intervalText(ms));
        action->setCheckable(true);
        action->setData(ms);
        action->setChecked(ms == dataIntervalMs);
        connect(action, &QAction::triggered, this, &ProjectManager::slotIntervalChange);
        m_intervalActions << action;
    }

    connect(ui->pushButton_add_top, &QPushButton::clicked, this,
            &ProjectManager::slotProjectAddConnection);
    connect(ui->pushButton_add_child, &QPushButton::clicked, this,
            &ProjectManager::slotProjectAddDevice);
    connect(ui->pushButton_del, &QPushButton::clicked, this, &ProjectManager::slotProjectRemoveRow);
    connect(ui->btn_confirm, &QToolButton::clicked, this, &ProjectManager::slotProjectListConfirm);
    connect(ui->btn_timeInterval, &QToolButton::clicked, this,
            &ProjectManager::slotCommandInterval);
    // Connected after the view so that the view has seen a change before the
    // cell check reacts to it.
    connect(m_model, &TreeModel::dataChanged, this, &ProjectManager::slotDataChanged);
    connect(ui->treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ProjectManager::updateActions);
    // The current index moves after the selection when set programmatically;
    // follow it too so the labels never lag one step behind.
    connect(ui->treeView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &ProjectManager::updateActions);

    ui->label_interval->setText(intervalText(dataIntervalMs));
    updateActions();
}

ProjectManager::~ProjectManager()
{
    delete ui;
}

bool ProjectManager::parseAddress(const QString &text, QString *host, quint16 *port)
{
    const QUrl url = QUrl::fromUserInput(text);
    const QString hostText = url.host(QUrl::FullyDecoded);
    if (QHostAddress(hostText).isNull())
        return false;
    const int portNumber = url.port(-1);
    if (portNumber < 0 || portNumber > kHighestPort)
        return false;
    if (host)
        *host = hostText;
    if (port)
        *port = quint16(portNumber);
    return true;
}

QString ProjectManager::newDeviceId()
{
    const QByteArray uuid = QUuid::createUuid().toString().toLatin1();
    return QString::fromLatin1(uuid.toBase64().left(kIdLength));
}

void ProjectManager::message(const QString &title, const QString &text)
{
    if (messageHook)
        messageHook(this, title, text);
    else
        showMessage(this, title, text);
}

int ProjectManager::deviceCount() const
{
    int count = 0;
    for (int row = 0; row < m_model->rowCount(); ++row)
        count += m_model->rowCount(m_model->index(row, 0));
    return count;
}

bool ProjectManager::appendRow(const QModelIndex &parent, int *row)
{
    *row = m_model->rowCount(parent);
    return m_model->insertRows(*row, 1, parent);
}

void ProjectManager::slotDataChanged(const QModelIndex &index)
{
    if (!index.isValid() || index.model() != m_model)
        return;
    const QModelIndex parent = index.parent();
    const QString value = index.data(Qt::EditRole).toString();
    const QString where = QString::number(index.row()) + QStringLiteral(" , ") +
                          QString::number(index.column()) + QStringLiteral(" , ") + value;

    if (!parent.isValid()) {
        qCDebug(lcProject).noquote().nospace() << "slotDataChanged parent index : " << where;
        checkConnectionCell(index);
    } else if (!parent.parent().isValid()) {
        qCDebug(lcProject).noquote().nospace() << "slotDataChanged child index : " << where;
        if (!checkDeviceCell(index))
            return;
    } else {
        return; // the editor never makes deeper rows
    }
    for (int column = 0; column < m_model->columnCount(); ++column)
        ui->treeView->resizeColumnToContents(column);
}

void ProjectManager::checkConnectionCell(const QModelIndex &index)
{
    if (index.column() == AddressColumn) {
        if (!parseAddress(index.data(Qt::EditRole).toString())) {
            m_model->setData(index, QString::fromLatin1(kDefaultAddress));
            message(QStringLiteral("ERROR"), QString::fromLatin1(kAddressInvalid));
        }
    } else if (index.column() >= StartAddressColumn) {
        m_model->setData(index, QString());
    }
}

bool ProjectManager::checkDeviceCell(const QModelIndex &index)
{
    const int column = index.column();
    if (column == AddressColumn || column == ModelColumn || column > Ch2NameColumn) {
        m_model->setData(index, QString());
        return true;
    }
    if (column == IdColumn) {
        const QString id = index.data(Qt::EditRole).toString();
        const QString kept = normalisedId(id);
        if (kept != id)
            m_model->setData(index, kept);
        return true;
    }
    if (column != StartAddressColumn)
        return true;

    if (m_restoring)
        return true;
    const QModelIndex parent = index.parent();
    const int row = index.row();
    bool isNumber = false;
    const int value = index.data(Qt::EditRole).toString().trimmed().toInt(&isNumber);
    const int minimum =
        row > 0
            ? m_model->index(row - 1, StartAddressColumn, parent).data().toInt() + kStartAddressStep
            : 0;

    // Text that is no number, or an address below the first free register,
    // becomes that lowest allowed address (the write checks it again).
    if (!isNumber || value < minimum) {
        m_model->setData(index, QString::number(minimum));
        return false;
    }
    if (value > kMaxStartAddress) {
        if (row > 0)
            removeDeviceTooHigh(QPersistentModelIndex(index));
        else
            m_model->setData(index, QStringLiteral("0"));
        message(QStringLiteral("ERROR"), startAddressTooHigh());
        return false;
    }
    const QModelIndex next = m_model->index(row + 1, StartAddressColumn, parent);
    if (!next.isValid())
        return true;
    if (m_cascadeDepth == 0) {
        // A change from outside the cascade: the devices it would push past
        // the highest start address are not removed without asking.
        const QList<int> pushedOut = rowsPushedOut(parent, row, value);
        if (!pushedOut.isEmpty()) {
            askAboutPushedOut(QPersistentModelIndex(index), m_model->previousValue(), value,
                              pushedOut);
            return false;
        }
    }
    ++m_cascadeDepth;
    m_model->setData(next, QString::number(value + kStartAddressStep));
    --m_cascadeDepth;
    return true;
}

QList<int> ProjectManager::rowsPushedOut(const QModelIndex &parent, int row, int value) const
{
    QList<int> rows;
    const int count = m_model->rowCount(parent);
    for (int next = row + 1; next < count; ++next) {
        if (value + (next - row) * kStartAddressStep > kMaxStartAddress)
            rows << next;
    }
    return rows;
}

void ProjectManager::askAboutPushedOut(const QPersistentModelIndex &index, const QVariant &previous,
                                       int value, const QList<int> &rows)
{
    QStringList names;
    for (int row : rows) {
        const QModelIndex device = m_model->index(row, DeviceNameColumn, index.parent());
        names << QStringLiteral("[%1] %2 (ID %3)")
                     .arg(QString::number(row + 1), device.data().toString(),
                          device.sibling(row, IdColumn).data().toString());
    }
    const QString name = index.sibling(index.row(), DeviceNameColumn).data().toString();
    const QString text =
        QStringLiteral(
            "Start address %1 for \"%2\" moves the devices after it, each 8 above the one before.\n"
            "These devices would go beyond start address %3 and be removed:\n%4\n\n"
            "Remove them? (No keeps start address %5.)")
            .arg(QString::number(value), name, QString::number(kMaxStartAddress),
                 names.join(QLatin1Char('\n')), previous.toString());
    // Asked once the change being delivered is through: the view and the
    // delegate still hold the cell that was just written.
    QMetaObject::invokeMethod(
        this,
        [this, index, previous, value, rows, text]() {
            if (!index.isValid() || index.data().toString().trimmed().toInt() != value)
                return;
            const QPersistentModelIndex parent = index.parent();
            const bool same = rowsPushedOut(parent, index.row(), value) == rows;
            if (same && ask(QStringLiteral("Question"), text) == QMessageBox::Yes &&
                index.isValid()) {
                qCDebug(lcProject).noquote()
                    << "ProjectManager : removing" << rows.size() << "devices pushed out";
                m_model->removeRows(rows.first(), rows.size(), parent);
                const QModelIndex next =
                    m_model->index(index.row() + 1, StartAddressColumn, parent);
                ++m_cascadeDepth;
                if (next.isValid())
                    m_model->setData(next, QString::number(value + kStartAddressStep));
                --m_cascadeDepth;
            } else if (index.isValid()) {
                m_restoring = true;
                m_model->setData(index, previous);
                m_restoring = false;
            }
            updateActions();
        },
        Qt::QueuedConnection);
}

QMessageBox::StandardButton ProjectManager::ask(const QString &title, const QString &text)
{
    if (questionHook)
        return questionHook(this, title, text);
    QScopedPointer<QMessageBox> box(DialogLook::question(this, title, text));
    return QMessageBox::StandardButton(box->exec());
}

void ProjectManager::removeDeviceTooHigh(const QPersistentModelIndex &index)
{
    // The row is removed once the current change has been delivered: removing
    // it now would hand every later receiver of this dataChanged (the view,
    // the code that is filling the row) an index to a deleted row.
    QMetaObject::invokeMethod(
        this,
        [this, index]() {
            if (!index.isValid() || index.data().toInt() <= kMaxStartAddress)
                return;
            removeRowAndRenumber(index);
            updateActions();
        },
        Qt::QueuedConnection);
}

void ProjectManager::removeRowAndRenumber(const QModelIndex &index)
{
    const QPersistentModelIndex parent = index.parent();
    const int row = index.row();
    if (!m_model->removeRows(row, 1, parent))
        return;
    if (!parent.isValid())
        return;
    const QModelIndex moved = m_model->index(row, StartAddressColumn, parent);
    if (!moved.isValid())
        return;
    const int start = row == 0
                          ? 0
                          : m_model->index(row - 1, StartAddressColumn, parent).data().toInt() +
                                kStartAddressStep;
    qCDebug(lcProject).noquote().nospace() << "nextrow : " << row << " , start : " << start;
    m_model->setData(moved, QString::number(start));
}

void ProjectManager::updateActions()
{
    QTreeView *view = ui->treeView;
    for (int column = 0; column < m_model->columnCount(); ++column)
        view->resizeColumnToContents(column);

    ui->label_selected_top->clear();
    ui->label_selected_bottom->clear();
    for (QPushButton *button : {ui->pushButton_add_top, ui->pushButton_add_child}) {
        button->setIcon(QIcon());
        button->setText(QString());
        button->setEnabled(false);
    }

    const QIcon lanIcon(QStringLiteral(":/img/icon_lan.png"));
    if (m_model->rowCount() < kMaxConnections) {
        ui->pushButton_add_top->setIcon(lanIcon);
        ui->pushButton_add_top->setText(QStringLiteral("ADD Connection"));
        ui->pushButton_add_top->setEnabled(true);
    }
    ui->pushButton_del->setEnabled(!view->selectionModel()->selection().isEmpty());

    const QModelIndex current = view->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    view->closePersistentEditor(current);
    const QModelIndex parent = current.parent();
    if (parent.isValid()) {
        ui->label_selected_top->setText(
            QStringLiteral("[%1] ").arg(parent.row() + 1) +
            m_model->index(parent.row(), AddressColumn).data().toString());
        ui->label_selected_bottom->setText(
            QStringLiteral("[%1] ").arg(current.row() + 1) +
            m_model->index(current.row(), DeviceNameColumn, parent).data().toString());
    } else {
        const QModelIndex connection = m_model->index(current.row(), AddressColumn);
        ui->label_selected_top->setText(QStringLiteral("[%1] ").arg(current.row() + 1) +
                                        connection.data().toString());
        if (deviceCount() < kMaxDevices && m_model->rowCount(connection) < kMaxDevices) {
            ui->pushButton_add_child->setIcon(lanIcon);
            ui->pushButton_add_child->setText(QStringLiteral("ADD Device"));
            ui->pushButton_add_child->setEnabled(true);
        }
    }
}

void ProjectManager::slotProjectAddConnection()
{
    if (m_model->rowCount() >= kMaxConnections)
        return;
    int row = 0;
    if (!appendRow(QModelIndex(), &row))
        return;
    m_model->setData(m_model->index(row, AddressColumn), QString::fromLatin1(kDefaultAddress));
    m_model->setData(m_model->index(row, ModelColumn), QString::fromLatin1(kDefaultModel));
    ui->treeView->selectionModel()->setCurrentIndex(m_model->index(row, AddressColumn),
                                                    QItemSelectionModel::ClearAndSelect |
                                                        QItemSelectionModel::Rows);
    updateActions();
}

void ProjectManager::slotProjectAddDevice()
{
    if (m_model->rowCount() == 0)
        return;
    const QModelIndex current = ui->treeView->selectionModel()->currentIndex();
    if (!current.isValid() || current.parent().isValid())
        return;
    const QPersistentModelIndex connection = m_model->index(current.row(), AddressColumn);
    const int n = m_model->rowCount(connection);
    if (n >= kMaxDevices || deviceCount() >= kMaxDevices)
        return;
    const int start = n == 0
                          ? 0
                          : m_model->index(n - 1, StartAddressColumn, connection).data().toInt() +
                                kStartAddressStep;
    qCDebug(lcProject).noquote().nospace() << "slotProjectAddDevice : row : " << n;
    if (!m_model->insertRows(n, 1, connection))
        return;
    const QPersistentModelIndex device = m_model->index(n, 0, connection);
    auto cell = [&](int column) { return device.sibling(device.row(), column); };
    m_model->setData(cell(StartAddressColumn), QString::number(start));
    m_model->setData(cell(IdColumn), newDeviceId());
    m_model->setData(cell(DeviceNameColumn), QStringLiteral("DEVICE") + QString::number(n + 1));
    m_model->setData(cell(Ch1NameColumn), QStringLiteral("CH1"));
    m_model->setData(cell(Ch2NameColumn), QStringLiteral("CH2"));
    ui->treeView->expandAll();
    updateActions();
}

void ProjectManager::slotProjectRemoveRow()
{
    const QPersistentModelIndex current = ui->treeView->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    const QString title = QStringLiteral("Question");
    const QString text = QString::fromLatin1(kDeleteQuestion);
    if (ask(title, text) != QMessageBox::Yes || !current.isValid())
        return;
    qCDebug(lcProject).noquote().nospace() << "slotProjectRemoveRow : row : " << current.row();
    removeRowAndRenumber(current);
    updateActions();
}

void ProjectManager::slotProjectListConfirm()
{
    const int connections = m_model->rowCount();
    if (connections == 0)
        return;

    QList<ConfiguredDevice *> result;
    for (int row = 0; row < connections; ++row) {
        const QModelIndex connection = m_model->index(row, AddressColumn);
        QString host;
        quint16 port = 0;
        if (!parseAddress(connection.data().toString(), &host, &port)) {
            qDeleteAll(result);
            message(QStringLiteral("ERROR"), QString::fromLatin1(kAddressInvalid));
            return;
        }
        const QString model = m_model->index(row, ModelColumn).data().toString();
        qCDebug(lcProject).noquote().nospace() << "slotProjectListConfirm ip : " << host
                                               << " port : " << port << " deviceModel : " << model;
        auto *device = new ConfiguredDevice;
        device->setDeviceInfo(host, port);
        device->setModel(model);
        for (int j = 0; j < m_model->rowCount(connection); ++j) {
            auto text = [&](int column) {
                return m_model->index(j, column, connection).data().toString();
            };
            auto *node = new NodeDevice(normalisedId(text(IdColumn)), device);
            node->startAddress = text(StartAddressColumn).toInt();
            node->registerCount = 8;
            node->setNames(text(DeviceNameColumn), text(Ch1NameColumn), text(Ch2NameColumn));
            device->addNode(node);
        }
        if (device->nodeList().isEmpty())
            delete device;
        else
            result << device;
    }

    if (result.isEmpty())
        message(QStringLiteral("INFORMATION"), QString::fromLatin1(kNoDevice));
    else
        emit projectListConfirm(result);
}

void ProjectManager::loadDeviceList(const QList<ConfiguredDevice *> &devices)
{
    int loaded = 0;
    int connections = 0;
    for (ConfiguredDevice *device : devices) {
        if (!device)
            continue;
        if (connections >= kMaxConnections || loaded >= kMaxDevices)
            break;
        int row = 0;
        if (!appendRow(QModelIndex(), &row)) {
            message(QStringLiteral("ERROR"), QString::fromLatin1(kCannotMakeRow));
            return;
        }
        ++connections;
        const QPersistentModelIndex connection = m_model->index(row, AddressColumn);
        m_model->setData(connection, addressText(device->ipAddress(), device->port()));
        m_model->setData(m_model->index(row, ModelColumn), device->model());

        const QList<NodeDevice *> nodes = device->nodeList();
        for (NodeDevice *node : nodes) {
            if (!node)
                continue;
            if (loaded >= kMaxDevices)
                break;
            int j = 0;
            if (!appendRow(connection, &j)) {
                message(QStringLiteral("ERROR"), QString::fromLatin1(kCannotMakeRow));
                return;
            }
            ++loaded;
            const QPersistentModelIndex first = m_model->index(j, 0, connection);
            auto cell = [&](int column) { return first.sibling(first.row(), column); };
            m_model->setData(cell(StartAddressColumn), QString::number(node->startAddress));
            m_model->setData(cell(IdColumn), normalisedId(node->deviceNumber()));
            m_model->setData(cell(DeviceNameColumn), node->deviceName());
            m_model->setData(cell(Ch1NameColumn), node->ch1Name());
            m_model->setData(cell(Ch2NameColumn), node->ch2Name());
        }
    }
    ui->treeView->expandAll();
    updateActions();
}

void ProjectManager::setIntervalDisabled(bool disabled)
{
    ui->btn_timeInterval->setDisabled(disabled);
    m_intervalMenu->setDisabled(disabled);
}

void ProjectManager::slotCommandInterval()
{
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    const QPoint button = ui->btn_timeInterval->mapTo(this, QPoint(0, 0));
    m_intervalMenu->move(origin + button + QPoint(5, 46));
    m_intervalMenu->show();
}

void ProjectManager::slotIntervalChange()
{
    auto *action = qobject_cast<QAction *>(sender());
    if (!action || !m_intervalActions.contains(action))
        return;
    for (QAction *each : qAsConst(m_intervalActions))
        each->setChecked(false);
    action->setChecked(true);
    dataIntervalMs = action->data().toInt();
    ui->label_interval->setText(intervalText(dataIntervalMs));
}
