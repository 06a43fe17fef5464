#pragma once

#include <QDialog>

namespace Ui
{
class AlarmEntryDialog;
}

// Asks a person for their name and a text about an alarm event (the
// corrective action when acknowledging, a remark when verifying). OK stays
// off until both are filled in. Opened with open(), never exec().
class AlarmEntryDialog : public QDialog
{
    Q_OBJECT
public:
    AlarmEntryDialog(const QString &title, const QString &eventText, const QString &textLabel,
                     QWidget *parent = nullptr);
    ~AlarmEntryDialog() override;

    QString name() const;
    QString text() const;

private:
    void updateOk();

    Ui::AlarmEntryDialog *ui;
};
