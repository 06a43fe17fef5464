#pragma once

#include <QDialog>
#include <QString>

class NodeDevice;
class QComboBox;

namespace Ui
{
class SensingOptionDialog;
}

// Edits a sensor node's device name and, per channel, its name, unit and
// alarm range. The device number is shown but cannot be changed.
class SensingOptionDialog : public QDialog
{
    Q_OBJECT

public:
    // The item data of the unit choice whose text is the custom unit.
    static constexpr int kCustomUnitCode = 4;
    static constexpr int kCustomUnitMaxLength = 11;

    SensingOptionDialog(NodeDevice *node, QWidget *parent = nullptr);
    ~SensingOptionDialog() override;

signals:
    void sensingConfirm();

public slots:
    void confirm();
    void slotReject();
    void checkCustomUnitPolicy(int index);

private:
    void fillUnits(QComboBox *box, const QString &customUnit);
    void applyCustomUnitPolicy(QComboBox *box, int index);

    Ui::SensingOptionDialog *ui;
    NodeDevice *m_node;
    QString m_deviceNumber;
};
