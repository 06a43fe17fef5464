#include "app/alarmentrydialog.h"
#include "ui_alarmentrydialog.h"

#include <QPushButton>

AlarmEntryDialog::AlarmEntryDialog(const QString &title, const QString &eventText,
                                   const QString &textLabel, QWidget *parent)
    : QDialog(parent), ui(new Ui::AlarmEntryDialog)
{
    ui->setupUi(this);
    setWindowTitle(title);
    ui->label_event->setText(eventText);
    ui->label_text->setText(textLabel);
    connect(ui->editName, &QLineEdit::textChanged, this, &AlarmEntryDialog::updateOk);
    connect(ui->editText, &QPlainTextEdit::textChanged, this, &AlarmEntryDialog::updateOk);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    updateOk();
}

AlarmEntryDialog::~AlarmEntryDialog()
{
    delete ui;
}

QString AlarmEntryDialog::name() const
{
    return ui->editName->text().trimmed();
}

QString AlarmEntryDialog::text() const
{
    return ui->editText->toPlainText().trimmed();
}

void AlarmEntryDialog::updateOk()
{
    ui->buttonBox->button(QDialogButtonBox::Ok)->setEnabled(!name().isEmpty() && !text().isEmpty());
}
