#include "messagedialog.h"
#include "ui_messagedialog.h"

#include "common/common.h"

#include <QPointer>
#include <QTimer>

MessageDialog::MessageDialog(const QString &title, const QString &message, QWidget *parent)
    : QDialog(parent), ui(new Ui::MessageDialog)
{
    ui->setupUi(this);
    ui->groupBox_message->setTitle(title);
    // Plain text keeps its line breaks; rich text is shown as such.
    ui->textBrowser->setText(message);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QDialog::close);
}

MessageDialog::~MessageDialog()
{
    delete ui;
}

void showMessage(QWidget *parent, const QString &title, const QString &message)
{
    qCDebug(lcApp).noquote() << "showMessage :" << title << ":" << message;
    auto *dialog = new MessageDialog(title, message, parent);
    // A closed message is of no further use; without this every message of a
    // long run would stay in memory until its parent goes.
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The timer is bound to the dialog, so a dialog already closed (and
    // deleted) by CLOSE is never touched again.
    QTimer::singleShot(kMessageAutoCloseMs, dialog, &QDialog::close);
    dialog->show();
}
