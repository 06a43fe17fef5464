#pragma once

#include <QList>
#include <QMessageBox>
#include <QModelIndex>
#include <QWidget>
#include <functional>

class ConfiguredDevice;
class QAction;
class QMenu;
class SelectDelegate;
class TreeModel;

namespace Ui
{
class ProjectManager;
}

// The project editor page: connections (gateway address and model) with their
// sensor devices (start address, ID, names) in a tree, checked cell by cell,
// plus the data interval. Confirmation hands the resulting pollers and nodes
// over through projectListConfirm; the receiver owns them.
class ProjectManager : public QWidget
{
    Q_OBJECT

public:
    enum Column {
        AddressColumn = 0,
        ModelColumn = 1,
        StartAddressColumn = 2,
        IdColumn = 3,
        DeviceNameColumn = 4,
        Ch1NameColumn = 5,
        Ch2NameColumn = 6,
        ColumnCount = 8
    };

    static constexpr int kMaxConnections = 8;
    static constexpr int kMaxDevices = 16;
    static constexpr int kMaxStartAddress = 106;
    static constexpr int kStartAddressStep = 8;
    static constexpr int kIdLength = 18;

    // Seams for the blocking questions (delete, devices pushed out by a
    // start address) and for messages; tests replace them, the program leaves
    // them empty (a readable Yes/No box / showMessage).
    using QuestionHook = std::function<QMessageBox::StandardButton(
        QWidget *parent, const QString &title, const QString &text)>;
    using MessageHook =
        std::function<void(QWidget *parent, const QString &title, const QString &message)>;
    static QuestionHook questionHook;
    static MessageHook messageHook;

    explicit ProjectManager(QWidget *parent = nullptr);
    ~ProjectManager() override;

    void loadDeviceList(const QList<ConfiguredDevice *> &devices);
    void setIntervalDisabled(bool disabled);

    TreeModel *model() const { return m_model; }
    QMenu *intervalMenu() const { return m_intervalMenu; }

    // Splits "host:port" as the editor accepts it: the host must be an IP
    // address and a port from 0 to 49151 must be given.
    static bool parseAddress(const QString &text, QString *host = nullptr, quint16 *port = nullptr);
    // A fresh 18-character device ID.
    static QString newDeviceId();

signals:
    void projectListConfirm(QList<ConfiguredDevice *> devices);

public slots:
    void slotDataChanged(const QModelIndex &index);
    void updateActions();
    void slotProjectAddConnection();
    void slotProjectAddDevice();
    void slotProjectRemoveRow();
    void slotProjectListConfirm();
    void slotCommandInterval();
    void slotIntervalChange();

private:
    void checkConnectionCell(const QModelIndex &index);
    // Returns false when the check stopped early (start address replaced or
    // device removed).
    bool checkDeviceCell(const QModelIndex &index);
    void removeDeviceTooHigh(const QPersistentModelIndex &index);
    void removeRowAndRenumber(const QModelIndex &index);
    // The device rows after `row` under `parent` that would have to go when
    // `row` starts at `value` and each following device 8 registers later.
    QList<int> rowsPushedOut(const QModelIndex &parent, int row, int value) const;
    // Asks once (after the current change has been delivered) whether the
    // devices in `rows` may be removed; Yes removes them and moves the rest,
    // No puts `previous` back.
    void askAboutPushedOut(const QPersistentModelIndex &index, const QVariant &previous, int value,
                           const QList<int> &rows);
    QMessageBox::StandardButton ask(const QString &title, const QString &text);
    int deviceCount() const;
    bool appendRow(const QModelIndex &parent, int *row);
    void message(const QString &title, const QString &text);

    Ui::ProjectManager *ui;
    TreeModel *m_model = nullptr;
    SelectDelegate *m_delegate = nullptr;
    QMenu *m_intervalMenu = nullptr;
    QList<QAction *> m_intervalActions;
    // Start addresses written by the editor's own cascade, not by the user.
    int m_cascadeDepth = 0;
    // An old start address being put back: no cascade, no question.
    bool m_restoring = false;
};
