#include "forward/forwardingdialog.h"

#include "common/common.h"
#include "common/messagedialog.h"
#include "forward/forwarder.h"
#include "ui_forwardingdialog.h"

#include <QDateTime>
#include <QFile>

ForwardingDialog::ForwardingDialog(Forwarder *forwarder, QWidget *parent)
    : QDialog(parent), ui(new Ui::ForwardingDialog), m_forwarder(forwarder)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    setFieldSettings(ForwardSettings::load(m_forwarder->projectPath()));
    connect(ui->btn_save, &QPushButton::clicked, this, &ForwardingDialog::save);
    connect(ui->btn_test, &QPushButton::clicked, this, &ForwardingDialog::testConnection);
    connect(ui->btn_close, &QPushButton::clicked, this, &QDialog::close);
    connect(m_forwarder, &Forwarder::stateChanged, this, &ForwardingDialog::showState);
    connect(m_forwarder, &Forwarder::testFinished, this, &ForwardingDialog::showTestResult);
    // A test result says nothing about settings changed after it.
    for (QLineEdit *edit : findChildren<QLineEdit *>())
        connect(edit, &QLineEdit::textChanged, this, &ForwardingDialog::forgetTestResults);
    connect(ui->spinBox_mqtt_port, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &ForwardingDialog::forgetTestResults);
    connect(ui->comboBox_mqtt_payload, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ForwardingDialog::forgetTestResults);
    showState(Forwarder::Influx, m_forwarder->state(Forwarder::Influx));
    showState(Forwarder::Mqtt, m_forwarder->state(Forwarder::Mqtt));
    updateSecretNote();
}

ForwardingDialog::~ForwardingDialog()
{
    delete ui;
}

ForwardSettings ForwardingDialog::fieldSettings() const
{
    ForwardSettings s;
    s.influxUrl = ui->lineEdit_influx_url->text().trimmed();
    s.influxDatabase = ui->lineEdit_influx_database->text().trimmed();
    s.influxUser = ui->lineEdit_influx_user->text();
    s.influxPassword = ui->lineEdit_influx_password->text();
    s.influxOrg = ui->lineEdit_influx_org->text().trimmed();
    s.influxBucket = ui->lineEdit_influx_bucket->text().trimmed();
    s.influxToken = ui->lineEdit_influx_token->text();
    s.mqttHost = ui->lineEdit_mqtt_host->text().trimmed();
    s.mqttPort = ui->spinBox_mqtt_port->value();
    s.mqttUser = ui->lineEdit_mqtt_user->text();
    s.mqttPassword = ui->lineEdit_mqtt_password->text();
    s.mqttPrefix = ui->lineEdit_mqtt_prefix->text().trimmed();
    s.mqttCaFile = ui->lineEdit_mqtt_cafile->text().trimmed();
    s.mqttFlat = ui->comboBox_mqtt_payload->currentIndex() == 1;
    return s;
}

void ForwardingDialog::setFieldSettings(const ForwardSettings &s)
{
    ui->lineEdit_influx_url->setText(s.influxUrl);
    ui->lineEdit_influx_database->setText(s.influxDatabase);
    ui->lineEdit_influx_user->setText(s.influxUser);
    ui->lineEdit_influx_password->setText(s.influxPassword);
    ui->lineEdit_influx_org->setText(s.influxOrg);
    ui->lineEdit_influx_bucket->setText(s.influxBucket);
    ui->lineEdit_influx_token->setText(s.influxToken);
    ui->lineEdit_mqtt_host->setText(s.mqttHost);
    ui->spinBox_mqtt_port->setValue(s.mqttPort);
    ui->lineEdit_mqtt_user->setText(s.mqttUser);
    ui->lineEdit_mqtt_password->setText(s.mqttPassword);
    ui->lineEdit_mqtt_prefix->setText(s.mqttPrefix);
    ui->lineEdit_mqtt_cafile->setText(s.mqttCaFile);
    ui->comboBox_mqtt_payload->setCurrentIndex(s.mqttFlat ? 1 : 0);
}

QString ForwardingDialog::stateText(const ForwardState &state)
{
    if (!state.enabled)
        return QStringLiteral("Off.");
    QStringList lines;
    lines << (state.connected ? QStringLiteral("Connected.") : QStringLiteral("Not connected."));
    if (state.lastId <= 0)
        lines << QStringLiteral("Nothing delivered yet.");
    else if (state.lastTime > 0)
        lines << QStringLiteral("Delivered up to %1 (row %2).")
                     .arg(QDateTime::fromSecsSinceEpoch(state.lastTime)
                              .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                     .arg(state.lastId);
    else
        lines << QStringLiteral("Delivered up to row %1.").arg(state.lastId);
    lines << (state.backlog > 0 && state.backlogSeconds > 0
                  ? QStringLiteral("Backlog: %1 rows, %2.")
                        .arg(state.backlog)
                        .arg(Forwarder::durationText(state.backlogSeconds))
                  : QStringLiteral("Backlog: %1 rows.").arg(state.backlog));
    if (state.rejected > 0)
        lines << QStringLiteral("Rows refused: %1; the first: %2")
                     .arg(state.rejected)
                     .arg(state.rejectReason);
    if (!state.lastError.isEmpty())
        lines << QStringLiteral("Last error: ") + state.lastError;
    return lines.join(QLatin1Char('\n'));
}

void ForwardingDialog::showState(int target, const ForwardState &state)
{
    // A text field of its own: long errors stay whole, and can be selected and copied.
    QPlainTextEdit *field =
        target == Forwarder::Influx ? ui->plainTextEdit_influx_state : ui->plainTextEdit_mqtt_state;
    field->setPlainText(stateText(state));
    field->setStyleSheet(state.lastError.isEmpty() && state.rejected == 0
                             ? QStringLiteral("background: transparent;")
                             : QStringLiteral("background: transparent; color: rgb(200, 30, 30);"));
}

void ForwardingDialog::updateSecretNote()
{
    const ForwardSettings stored = ForwardSettings::load(m_forwarder->projectPath());
    if (!stored.holdsSecret()) {
        ui->label_secret_note->setText(QStringLiteral(
            "Passwords and tokens are stored in the project file, which is then made "
            "readable by its owner only."));
        return;
    }
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther |
                                      QFile::WriteOther | QFile::ExeGroup | QFile::ExeOther;
    const bool privateFile = (QFile(m_forwarder->projectPath()).permissions() & others) == 0;
    ui->label_secret_note->setText(
        privateFile
            ? QStringLiteral(
                  "The project file holds a password or token; it is readable by its owner "
                  "only (mode 600).")
            : QStringLiteral("The project file holds a password or token but could not be made "
                             "private: other users may read it."));
}

bool ForwardingDialog::save()
{
    const ForwardSettings settings = fieldSettings();
    const QStringList problems = settings.influxProblems() + settings.mqttProblems();
    if (!problems.isEmpty()) {
        showMessage(this, QStringLiteral("WARNING"), problems.join(QLatin1Char('\n')));
        return false;
    }
    QString error;
    if (!settings.save(m_forwarder->projectPath(), &error)) {
        showMessage(this, QStringLiteral("ERROR"), error);
        return false;
    }
    m_forwarder->reload();
    updateSecretNote();
    return true;
}

void ForwardingDialog::testConnection()
{
    const ForwardSettings settings = fieldSettings();
    forgetTestResults();
    if (!settings.influxEnabled() && !settings.mqttEnabled()) {
        ui->label_test_result->setText(
            QStringLiteral("Both targets are off: give an InfluxDB address or an MQTT host."));
        return;
    }
    ui->label_test_result->setText(QStringLiteral("Testing..."));
    ui->btn_test->setEnabled(false);
    m_testPending[Forwarder::Influx] = settings.influxEnabled();
    m_testPending[Forwarder::Mqtt] = settings.mqttEnabled();
    if (settings.influxEnabled())
        m_forwarder->testConnection(Forwarder::Influx, settings);
    else
        m_testText[Forwarder::Influx] = QStringLiteral("InfluxDB: off.");
    if (settings.mqttEnabled())
        m_forwarder->testConnection(Forwarder::Mqtt, settings);
    else
        m_testText[Forwarder::Mqtt] = QStringLiteral("MQTT: off.");
}

void ForwardingDialog::forgetTestResults()
{
    m_testPending[0] = m_testPending[1] = false;
    m_testText[0].clear();
    m_testText[1].clear();
    ui->label_test_result->clear();
    ui->btn_test->setEnabled(true);
}

void ForwardingDialog::showTestResult(int target, bool ok, const QString &text)
{
    if (!m_testPending[target])
        return; // asked with settings that have changed since
    m_testPending[target] = false;
    m_testText[target] =
        (target == Forwarder::Influx ? QStringLiteral("InfluxDB: ") : QStringLiteral("MQTT: ")) +
        (ok ? QString() : QStringLiteral("FAILED - ")) + text;
    QStringList lines;
    for (const QString &line : m_testText) {
        if (!line.isEmpty())
            lines << line;
    }
    ui->label_test_result->setText(lines.join(QLatin1Char('\n')));
    if (!m_testText[0].isEmpty() && !m_testText[1].isEmpty())
        ui->btn_test->setEnabled(true);
}
