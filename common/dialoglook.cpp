#include "common/dialoglook.h"

#include <QFileDialog>
#include <QPushButton>

QString DialogLook::styleSheet()
{
    // Text rgb(33,33,33) on rgb(240,240,240) is 14:1, disabled text
    // rgb(105,105,105) on it 4.9:1 and selected text white on rgb(0,90,140) 7.6:1.
    return QStringLiteral(
        "QDialog { background-color: rgb(240, 240, 240); }"
        "QWidget { color: rgb(33, 33, 33); }"
        "QWidget:disabled { color: rgb(105, 105, 105); }"
        "QLineEdit, QComboBox, QAbstractItemView, QAbstractSpinBox { background-color: rgb(255, "
        "255, 255);"
        " color: rgb(33, 33, 33); selection-background-color: rgb(0, 90, 140); selection-color: "
        "rgb(255, 255, 255); }"
        "QAbstractItemView:disabled, QLineEdit:disabled { background-color: rgb(240, 240, 240);"
        " color: rgb(105, 105, 105); }"
        "QPushButton { color: rgb(33, 33, 33); background-color: rgb(225, 225, 225); border: 1px "
        "solid rgb(150, 150, 150);"
        " border-radius: 3px; padding: 4px 14px; min-width: 60px; }"
        "QPushButton:hover { background-color: rgb(210, 225, 240); border-color: rgb(0, 90, 140); }"
        "QPushButton:pressed { background-color: rgb(190, 210, 230); }"
        "QPushButton:default { border: 2px solid rgb(0, 90, 140); }"
        "QPushButton:disabled { color: rgb(105, 105, 105); background-color: rgb(235, 235, 235); }"
        "QToolButton { background-color: transparent; }"
        "QToolButton:hover { background-color: rgb(210, 225, 240); }"
        "QToolTip { color: rgb(230,230,230); background-color: rgb(12, 12, 12); border: #996633; "
        "}");
}

void DialogLook::apply(QWidget *dialog)
{
    if (!dialog)
        return;
    dialog->setStyleSheet(styleSheet());
    // A page's sheet without selectors still wins over the rules above for
    // push buttons; a button's own sheet always wins.
    const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        button->setStyleSheet(QStringLiteral(
            "QPushButton { color: rgb(33, 33, 33); background-color: rgb(225, 225, 225);"
            " border: 1px solid rgb(150, 150, 150); border-radius: 3px; padding: 4px 14px; "
            "min-width: 60px; }"
            "QPushButton:hover { background-color: rgb(210, 225, 240); border-color: rgb(0, 90, "
            "140); }"
            "QPushButton:pressed { background-color: rgb(190, 210, 230); }"
            "QPushButton:default { border: 2px solid rgb(0, 90, 140); }"
            "QPushButton:disabled { color: rgb(105, 105, 105); background-color: rgb(235, 235, "
            "235); }"));
}

QMessageBox *DialogLook::question(QWidget *parent, const QString &title, const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Question, title, text,
                                QMessageBox::Yes | QMessageBox::No, parent);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::No);
    apply(box);
    return box;
}

QFileDialog *DialogLook::fileDialog(QWidget *parent, const QString &caption, const QString &dir,
                                    const QString &filter, bool save)
{
    auto *dialog = new QFileDialog(parent, caption, dir, filter);
    dialog->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (save)
        dialog->setOption(QFileDialog::DontConfirmOverwrite);
    // Qt's own dialog, so that the look above applies on every desktop.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    apply(dialog);
    return dialog;
}
