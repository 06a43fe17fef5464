#pragma once

#include <QMessageBox>
#include <QString>

class QFileDialog;
class QWidget;

// The look of the standard dialogs (file dialogs, questions) opened from the
// program's dark pages: dark text on a light page of their own, so that they
// never inherit a page's pale text, and disabled entries that look disabled.
class DialogLook
{
public:
    static QString styleSheet();
    static void apply(QWidget *dialog);

    // A Yes/No question in that look; `text` is shown literally. The caller
    // shows it (exec() in program code, offscreen rendering in tests).
    static QMessageBox *question(QWidget *parent, const QString &title, const QString &text);
    // A save (`save` true) or open file dialog in that look; the save dialog
    // does not ask about replacing a file, the caller does.
    static QFileDialog *fileDialog(QWidget *parent, const QString &caption, const QString &dir,
                                   const QString &filter, bool save);
};
