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
    // Shown literally: messages quote names from project files and the
    // network, which must never be taken for markup. Line breaks stay.
    ui->textBrowser->setPlainText(message);
    connect(ui->pushButton_close, &QPushButton::clicked, this, &QDialog::close);
}

MessageDialog::~MessageDialog()
{
    delete ui;
}

namespace
{

MessageDialog *openMessage(QWidget *parent, const QString &title, const QString &message)
{
    qCDebug(lcApp).noquote() << "showMessage :" << title << ":" << message;
    auto *dialog = new MessageDialog(title, message, parent);
    // A closed message is of no further use; without this every message of a
    // long run would stay in memory until its parent goes.
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    return dialog;
}

} // namespace

void showMessage(QWidget *parent, const QString &title, const QString &message)
{
    MessageDialog *dialog = openMessage(parent, title, message);
    // The timer is bound to the dialog, so a dialog already closed (and
    // deleted) by CLOSE is never touched again.
    QTimer::singleShot(kMessageAutoCloseMs, dialog, &QDialog::close);
    dialog->show();
}

MessageDialog *showLastingMessage(QWidget *parent, const QString &title, const QString &message)
{
    MessageDialog *dialog = openMessage(parent, title, message);
    dialog->show();
    return dialog;
}
