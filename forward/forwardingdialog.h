#pragma once

#include "forward/forwardsettings.h"
#include "forward/forwardtarget.h"

#include <QDialog>

class Forwarder;

namespace Ui
{
class ForwardingDialog;
}

// The "Forwarding" dialog of the Project menu: the settings of the two
// targets, their state (connected, delivered up to, backlog, rows refused,
// last error in full), a
// "Test connection" button and Save. Shown without a nested event loop.
class ForwardingDialog : public QDialog
{
    Q_OBJECT

public:
    ForwardingDialog(Forwarder *forwarder, QWidget *parent = nullptr);
    ~ForwardingDialog() override;

    // The settings as they stand in the fields.
    ForwardSettings fieldSettings() const;
    void setFieldSettings(const ForwardSettings &settings);

    // The text of a target's state line.
    static QString stateText(const ForwardState &state);

public slots:
    // Checks, stores and applies the fields; false (with a message) when
    // they cannot be used or the file cannot be written.
    bool save();
    void testConnection();

private:
    void showState(int target, const ForwardState &state);
    void showTestResult(int target, bool ok, const QString &text);
    void updateSecretNote();
    void forgetTestResults();

    Ui::ForwardingDialog *ui = nullptr;
    Forwarder *m_forwarder = nullptr;
    QString m_testText[2];
    bool m_testPending[2] = {false, false};
};
