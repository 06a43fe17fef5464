#pragma once

#include <QDialog>

class NodeDevice;

namespace Ui {
class NetworkSettingDialog;
}

// Shows, read-only, the gateway address (IP and port) behind one node.
class NetworkSettingDialog : public QDialog
{
    Q_OBJECT

public:
    NetworkSettingDialog(NodeDevice *node, QWidget *parent = nullptr);
    ~NetworkSettingDialog() override;

public slots:
    void close();
    void slotReject();

private:
    Ui::NetworkSettingDialog *ui;
    NodeDevice *m_node;
};
