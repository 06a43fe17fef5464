#include "device/networksettingdialog.h"

#include "device/configureddevice.h"
#include "device/nodedevice.h"

#include "ui_networksettingdialog.h"

NetworkSettingDialog::NetworkSettingDialog(NodeDevice *node, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::NetworkSettingDialog)
    , m_node(node)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The form's sample texts must never stay on screen.
    ui->label_ipaddr->clear();
    ui->label_port->clear();
    if (m_node && m_node->connection()) {
        ui->label_ipaddr->setText(m_node->connection()->ipAddress());
        ui->label_port->setText(QString::number(m_node->connection()->port()));
    }
    connect(ui->pushButton_close, &QPushButton::clicked, this, &NetworkSettingDialog::close);
}

NetworkSettingDialog::~NetworkSettingDialog()
{
    delete ui;
}

void NetworkSettingDialog::close()
{
    reject();
    deleteLater();
}

void NetworkSettingDialog::slotReject()
{
    reject();
    deleteLater();
}
