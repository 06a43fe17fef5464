#include "device/sensingoptiondialog.h"

#include "common/messagedialog.h"
#include "common/plaintext.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

#include "ui_sensingoptiondialog.h"

#include <QLineEdit>

SensingOptionDialog::SensingOptionDialog(NodeDevice *node, QWidget *parent)
    : QDialog(parent), ui(new Ui::SensingOptionDialog), m_node(node),
      m_deviceNumber(node ? node->deviceNumber() : QString())
{
    ui->setupUi(this);
    PlainText::applyTo(this);
    // Escape and the window's close button end the dialog as well.
    setAttribute(Qt::WA_DeleteOnClose);
    if (!m_node)
        return;

    fillUnits(ui->comboBox_unit_ch1, m_node->ch1CustomUnit());
    fillUnits(ui->comboBox_unit_ch2, m_node->ch2CustomUnit());

    ui->lineEdit_devicename->setText(m_node->deviceName());
    ui->lineEdit_ch1name->setText(m_node->ch1Name());
    ui->lineEdit_ch2name->setText(m_node->ch2Name());
    ui->label_serialnumber->setText(m_deviceNumber);

    const bool connected = m_node->connection() && m_node->connection()->isConnected();
    ui->doubleSpinBox_min_ch1->setEnabled(connected);
    ui->doubleSpinBox_max_ch1->setEnabled(connected);
    ui->doubleSpinBox_min_ch2->setEnabled(connected);
    ui->doubleSpinBox_max_ch2->setEnabled(connected);

    connect(ui->comboBox_unit_ch1, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SensingOptionDialog::checkCustomUnitPolicy);
    connect(ui->comboBox_unit_ch2, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SensingOptionDialog::checkCustomUnitPolicy);
    // Unknown unit codes fall back to "Undefined" rather than to no choice.
    const int unit1 = ui->comboBox_unit_ch1->findData(m_node->ch1Unit());
    const int unit2 = ui->comboBox_unit_ch2->findData(m_node->ch2Unit());
    ui->comboBox_unit_ch1->setCurrentIndex(unit1 < 0 ? 0 : unit1);
    ui->comboBox_unit_ch2->setCurrentIndex(unit2 < 0 ? 0 : unit2);
    // setCurrentIndex(0) on a box already at 0 sends no signal.
    applyCustomUnitPolicy(ui->comboBox_unit_ch1, ui->comboBox_unit_ch1->currentIndex());
    applyCustomUnitPolicy(ui->comboBox_unit_ch2, ui->comboBox_unit_ch2->currentIndex());

    const QVector<float> range = m_node->alarmRange();
    if (range.size() >= 4) {
        ui->doubleSpinBox_min_ch1->setValue(range.at(0));
        ui->doubleSpinBox_max_ch1->setValue(range.at(1));
        ui->doubleSpinBox_min_ch2->setValue(range.at(2));
        ui->doubleSpinBox_max_ch2->setValue(range.at(3));
    }

    connect(ui->pushButton_confirm, &QPushButton::clicked, this, &SensingOptionDialog::confirm);
}

SensingOptionDialog::~SensingOptionDialog()
{
    delete ui;
}

void SensingOptionDialog::fillUnits(QComboBox *box, const QString &customUnit)
{
    box->clear();
    box->addItem(QStringLiteral("Undefined"), 0);
    box->addItem(QStringLiteral("Temperature(C)"), 1);
    box->addItem(QStringLiteral("Temperature(F)"), 2);
    box->addItem(QStringLiteral("Humidity"), 3);
    box->addItem(customUnit.isEmpty() ? QStringLiteral("Custom") : customUnit, kCustomUnitCode);
}

void SensingOptionDialog::checkCustomUnitPolicy(int index)
{
    if (auto *box = qobject_cast<QComboBox *>(sender()))
        applyCustomUnitPolicy(box, index);
}

void SensingOptionDialog::applyCustomUnitPolicy(QComboBox *box, int index)
{
    const bool custom = box->itemData(index).toInt() == kCustomUnitCode && index >= 0;
    if (box->isEditable() == custom)
        return;
    box->setEditable(custom);
    if (custom) {
        // An editable box shows its current item's text in its line edit.
        box->lineEdit()->setMaxLength(kCustomUnitMaxLength);
        // Typing must not add items; the text is read back on confirm.
        box->setInsertPolicy(QComboBox::NoInsert);
    }
}

void SensingOptionDialog::confirm()
{
    if (!m_node)
        return;
    const QString deviceName = ui->lineEdit_devicename->text();
    const QString ch1Name = ui->lineEdit_ch1name->text();
    const QString ch2Name = ui->lineEdit_ch2name->text();
    QString message;
    if (deviceName.isEmpty())
        message = QStringLiteral("Enter the Device Name.");
    else if (ch1Name.isEmpty())
        message = QStringLiteral("Enter the Channel-1 Name.");
    else if (ch2Name.isEmpty())
        message = QStringLiteral("Enter the Channel-2 Name.");
    // Equal limits switch a channel's alarm off; a minimum above the
    // maximum means nothing and is refused (it would read as "no alarm").
    else if (ui->doubleSpinBox_min_ch1->value() > ui->doubleSpinBox_max_ch1->value())
        message = QStringLiteral("The Channel-1 alarm minimum is above its maximum.");
    else if (ui->doubleSpinBox_min_ch2->value() > ui->doubleSpinBox_max_ch2->value())
        message = QStringLiteral("The Channel-2 alarm minimum is above its maximum.");
    if (!message.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"), message);
        return;
    }

    m_node->setNames(deviceName, ch1Name, ch2Name);

    const int unit1 = ui->comboBox_unit_ch1->currentData().toInt();
    const int unit2 = ui->comboBox_unit_ch2->currentData().toInt();
    const QString custom1 = unit1 == kCustomUnitCode
                                ? ui->comboBox_unit_ch1->currentText().left(kCustomUnitMaxLength)
                                : QString();
    const QString custom2 = unit2 == kCustomUnitCode
                                ? ui->comboBox_unit_ch2->currentText().left(kCustomUnitMaxLength)
                                : QString();
    m_node->setUnits(unit1, unit2);
    m_node->setCustomUnits(custom1, custom2);

    m_node->setAlarmRange(static_cast<float>(ui->doubleSpinBox_min_ch1->value()),
                          static_cast<float>(ui->doubleSpinBox_max_ch1->value()),
                          static_cast<float>(ui->doubleSpinBox_min_ch2->value()),
                          static_cast<float>(ui->doubleSpinBox_max_ch2->value()));

    emit sensingConfirm();
    accept();
    deleteLater();
}

void SensingOptionDialog::slotReject()
{
    reject();
    deleteLater();
}
