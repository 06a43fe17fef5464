// Forwarding of the open project's recorded rows (and live values) to
// InfluxDB and MQTT: the Project menu entry, the status-strip line and the
// link from every node's live samples to the forwarder.

#include "app/quillarkmain.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "forward/forwarder.h"
#include "forward/forwardingdialog.h"
#include "ui_quillarkmain.h"

#include <QLabel>

namespace
{
const QString kForwardStatusStyle =
    QStringLiteral("color: rgb(255, 120, 100); font: bold 9pt \"Segoe UI\";");
} // namespace

void QuillarkMain::startForwarding()
{
    // Another project than the one forwarded: its forwarder ends first.
    if (m_forwarder && m_forwarder->projectPath() != m_projectFilePath)
        stopForwarding();
    if (!m_forwarder) {
        m_forwarder = new Forwarder(m_projectFilePath, this);
        connect(m_forwarder, &Forwarder::stateChanged, this, &QuillarkMain::showForwardingState);
    }
    if (!m_forwardStatus) {
        m_forwardStatus = new QLabel(ui->label_datetime->parentWidget());
        m_forwardStatus->setObjectName(QStringLiteral("label_forward_state"));
        m_forwardStatus->setTextFormat(Qt::PlainText);
        m_forwardStatus->setStyleSheet(kForwardStatusStyle);
        ui->horizontalLayout_3->insertWidget(ui->horizontalLayout_3->indexOf(ui->label_datetime),
                                             m_forwardStatus);
        m_forwardStatus->hide();
    }
    // The device list may have changed (Add/Delete): names and tags are read again.
    m_forwarder->reload();
    for (NodeDevice *node : ConfiguredDevice::allNodes(m_deviceList))
        connect(node, &NodeDevice::liveSample, m_forwarder, &Forwarder::liveSample,
                Qt::UniqueConnection);
    showForwardingState();
}

void QuillarkMain::stopForwarding()
{
    for (ForwardingDialog *dialog : findChildren<ForwardingDialog *>())
        delete dialog;
    delete m_forwarder;
    m_forwarder = nullptr;
    if (m_forwardStatus)
        m_forwardStatus->hide();
}

void QuillarkMain::slotForwarding()
{
    if (!m_forwarder)
        return;
    ForwardingDialog *dialog = findChild<ForwardingDialog *>();
    if (!dialog)
        dialog = new ForwardingDialog(m_forwarder, this);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void QuillarkMain::showForwardingState()
{
    if (!m_forwardStatus)
        return;
    const QString line = m_forwarder ? m_forwarder->statusLine() : QString();
    if (line.isEmpty()) {
        m_forwardStatus->hide();
        return;
    }
    // A short line in the strip; the whole story in its tool tip and the dialog.
    m_forwardStatus->setText(line);
    m_forwardStatus->setToolTip(m_forwarder->statusText());
    m_forwardStatus->show();
}
