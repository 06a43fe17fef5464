#include "device/networksettingdialog.h"

#include "device/configureddevice.h"
#include "device/linkhealth.h"
#include "device/nodedevice.h"

#include "ui_networksettingdialog.h"

#include <QDateTime>

namespace
{

QString timeText(qint64 msecs)
{
    if (msecs <= 0)
        return QStringLiteral("never");
    return QDateTime::fromMSecsSinceEpoch(msecs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

NetworkSettingDialog::NetworkSettingDialog(NodeDevice *node, QWidget *parent)
    : QDialog(parent), ui(new Ui::NetworkSettingDialog), m_node(node),
      m_connection(node ? node->connection() : nullptr)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // The form's sample texts must never stay on screen.
    ui->label_ipaddr->clear();
    ui->label_port->clear();
    if (m_connection) {
        ui->label_ipaddr->setText(m_connection->ipAddress());
        ui->label_port->setText(QString::number(m_connection->port()));
    }
    showHealth();
    connect(&m_refreshTimer, &QTimer::timeout, this, &NetworkSettingDialog::showHealth);
    m_refreshTimer.start(kRefreshMs);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &NetworkSettingDialog::close);
}

NetworkSettingDialog::~NetworkSettingDialog()
{
    delete ui;
}

void NetworkSettingDialog::showHealth()
{
    if (!m_connection) {
        ui->label_state->setText(QStringLiteral("no connection"));
        for (QLabel *label :
             {ui->label_polls, ui->label_answers, ui->label_timeouts, ui->label_errors,
              ui->label_last_error, ui->label_last_answer, ui->label_round_trip, ui->label_no_data})
            label->clear();
        return;
    }
    const LinkHealth &health = m_connection->health();
    QString state = LinkHealth::stateText(health.state);
    if (health.stateSinceMs > 0 && health.state != LinkHealth::Waiting) {
        const qint64 seconds = (QDateTime::currentMSecsSinceEpoch() - health.stateSinceMs) / 1000;
        state += QStringLiteral(" for ") + ConfiguredDevice::durationText(seconds);
    }
    ui->label_state->setText(state);
    ui->label_polls->setText(QString::number(health.pollsSent));
    ui->label_answers->setText(QString::number(health.answers));
    ui->label_timeouts->setText(QString::number(health.timeouts));
    ui->label_errors->setText(QString::number(health.errors));
    ui->label_last_error->setText(health.lastError.isEmpty()
                                      ? QStringLiteral("none")
                                      : timeText(health.lastErrorMs) + QStringLiteral("  ") +
                                            health.lastError);
    ui->label_last_answer->setText(timeText(health.lastAnswerMs));
    ui->label_round_trip->setText(
        QStringLiteral("last ") + LinkHealth::roundTripText(health.lastRoundTripMicros()) +
        QStringLiteral(", median ") + LinkHealth::roundTripText(health.medianRoundTripMicros()));
    ui->label_no_data->setText(QString::number(health.noDataValues) +
                               QStringLiteral(" channel values"));
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
