#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>

class ConfiguredDevice;
class NodeDevice;

namespace Ui
{
class NetworkSettingDialog;
}

// Shows, read-only, the gateway address (IP and port) behind one node and the
// health of its link: state, requests sent and how they ended, the last error,
// the last answer and the round-trip times. The figures follow the poller
// once a second while the dialog is open.
class NetworkSettingDialog : public QDialog
{
    Q_OBJECT

public:
    // How often the link figures are read again while the dialog is open.
    static constexpr int kRefreshMs = 1000;

    NetworkSettingDialog(NodeDevice *node, QWidget *parent = nullptr);
    ~NetworkSettingDialog() override;

    // Reads the link figures of the connection again.
    void showHealth();

public slots:
    void close();
    void slotReject();

private:
    Ui::NetworkSettingDialog *ui;
    NodeDevice *m_node;
    // The connection may go (Add/Delete, Close) while the dialog is open.
    QPointer<ConfiguredDevice> m_connection;
    QTimer m_refreshTimer;
};
