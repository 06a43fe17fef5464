#pragma once

#include "record/recordcontext.h"

#include <QFutureWatcher>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

namespace Ui
{
class AlarmsWindow;
}

// The recorder's list of alarm events of the open project: unacknowledged
// first, then the newest; filtered by period and device. A person
// acknowledges an event here (name and corrective action) and a second
// person verifies it (name and remark); the entries go into the record file
// with the next write (entriesQueued() asks for it). "Check Journal" checks
// the file's journal off the window's thread.
class AlarmsWindow : public QWidget
{
    Q_OBJECT
public:
    struct Device {
        QString serial;
        QString name;
    };
    // The list is read again this often while the window shows.
    static constexpr int kRefreshMs = 5000;
    enum Column {
        ColStatus,
        ColDevice,
        ColChannel,
        ColStart,
        ColEnd,
        ColDuration,
        ColWorst,
        ColAcknowledgement,
        ColVerification,
        ColumnCount
    };

    AlarmsWindow(const QString &databasePath, const QVector<Device> &devices,
                 QWidget *parent = nullptr);
    ~AlarmsWindow() override;

    // Asks a person for a name and a text (parent, title, the event
    // described, the label of the text) and calls `done` with them once
    // confirmed; nothing when cancelled. A non-blocking AlarmEntryDialog by
    // default, replaced in tests.
    using Done = std::function<void(const QString &name, const QString &text)>;
    using EntryHook = std::function<void(QWidget *, const QString &, const QString &,
                                         const QString &, const Done &)>;
    static EntryHook askEntry;

    // Reads the events again (the filter as set).
    void refresh();
    // The events as listed, row by row.
    const QVector<RecordAlarmEvent> &events() const { return m_events; }
    void setPeriod(const QDateTime &from, const QDateTime &to);
    void selectRow(int row);

public slots:
    void acknowledgeSelected();
    void verifySelected();
    void checkJournal();

signals:
    // Acknowledgements or verifications wait to be written.
    void entriesQueued();
    // The journal check ended (its verdict is shown).
    void journalChecked(const RecordJournalVerdict &verdict);

private:
    void showEvents();
    void journalDone();
    const RecordAlarmEvent *selectedEvent() const;
    QString deviceText(const QString &serial) const;
    QString describe(const RecordAlarmEvent &event) const;

    Ui::AlarmsWindow *ui;
    QString m_databasePath;
    QVector<Device> m_devices;
    QVector<RecordAlarmEvent> m_events;
    QFutureWatcher<RecordJournalVerdict> m_journalWatcher;
    QTimer m_refreshTimer;
    std::shared_ptr<std::atomic<bool>> m_cancelJournal;
};
