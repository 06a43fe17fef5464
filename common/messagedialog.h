#pragma once

#include <QDialog>
#include <QString>

namespace Ui
{
class MessageDialog;
}

// The program's own message box: a title, a text and a CLOSE button.
// Usually shown through showMessage(), which closes it after five seconds.
class MessageDialog : public QDialog
{
    Q_OBJECT

public:
    MessageDialog(const QString &title, const QString &message, QWidget *parent = nullptr);
    ~MessageDialog() override;

private:
    Ui::MessageDialog *ui;
};

// How long a message stays on screen when nobody closes it.
constexpr int kMessageAutoCloseMs = 5000;

// Shows a MessageDialog as a child of parent without blocking; it closes
// itself after kMessageAutoCloseMs and is deleted once closed.
void showMessage(QWidget *parent, const QString &title, const QString &message);

// Like showMessage(), but the message stays until the user closes it: for
// errors a user must be able to read after stepping away.
MessageDialog *showLastingMessage(QWidget *parent, const QString &title, const QString &message);
