#include "app/alarmswindow.h"
#include "ui_alarmswindow.h"

#include "app/alarmentrydialog.h"
#include "common/messagedialog.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "record/journalverifier.h"
#include "record/recordreader.h"

#include <QDateTime>
#include <QHeaderView>
#include <QPointer>
#include <QtConcurrent>

#include <algorithm>

namespace
{

QString timeText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString durationText(qint64 seconds)
{
    seconds = qMax<qint64>(0, seconds);
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(seconds / 3600 % 24)
                              .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return seconds >= 86400 ? QStringLiteral("%1 d %2").arg(seconds / 86400).arg(clock) : clock;
}

QString personText(const QString &by, qint64 at, const QString &text)
{
    if (by.isEmpty())
        return QString();
    return QStringLiteral("%1, %2: %3").arg(by, timeText(at), text);
}

} // namespace

AlarmsWindow::EntryHook AlarmsWindow::askEntry = [](QWidget *parent, const QString &title,
                                                    const QString &eventText,
                                                    const QString &textLabel, const Done &done) {
    auto *dialog = new AlarmEntryDialog(title, eventText, textLabel, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, dialog,
                     [dialog, done] { done(dialog->name(), dialog->text()); });
    dialog->open();
};

AlarmsWindow::AlarmsWindow(const QString &databasePath, const QVector<Device> &devices,
                           QWidget *parent)
    : QWidget(parent, Qt::Window), ui(new Ui::AlarmsWindow), m_databasePath(databasePath),
      m_devices(devices), m_cancelJournal(std::make_shared<std::atomic<bool>>(false))
{
    ui->setupUi(this);
    ui->tableEvents->setColumnCount(ColumnCount);
    ui->tableEvents->setHorizontalHeaderLabels(
        {QStringLiteral("Status"), QStringLiteral("Device"), QStringLiteral("Channel"),
         QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Duration"),
         QStringLiteral("Worst value"), QStringLiteral("Acknowledgement"),
         QStringLiteral("Verification")});
    ui->tableEvents->horizontalHeader()->setStretchLastSection(true);
    ui->tableEvents->verticalHeader()->setVisible(false);

    const QDateTime now = QDateTime::currentDateTime();
    setPeriod(QDateTime(now.date().addDays(-7), QTime(0, 0)),
              QDateTime(now.date().addDays(1), QTime(0, 0)));
    ui->comboDevice->addItem(QStringLiteral("All devices"));
    for (const Device &device : m_devices)
        ui->comboDevice->addItem(deviceText(device.serial), device.serial);

    connect(ui->btnRefresh, &QPushButton::clicked, this, &AlarmsWindow::refresh);
    connect(ui->dateFrom, &QDateTimeEdit::editingFinished, this, &AlarmsWindow::refresh);
    connect(ui->dateTo, &QDateTimeEdit::editingFinished, this, &AlarmsWindow::refresh);
    // New events, ends and durations show while the window is open.
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refresh();
    });
    m_refreshTimer.start();
    connect(ui->comboDevice, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &AlarmsWindow::refresh);
    connect(ui->btnAcknowledge, &QPushButton::clicked, this, &AlarmsWindow::acknowledgeSelected);
    connect(ui->btnVerify, &QPushButton::clicked, this, &AlarmsWindow::verifySelected);
    connect(ui->btnCheckJournal, &QPushButton::clicked, this, &AlarmsWindow::checkJournal);
    connect(ui->btnClose, &QPushButton::clicked, this, &QWidget::close);
    connect(&m_journalWatcher, &QFutureWatcher<RecordJournalVerdict>::finished, this,
            &AlarmsWindow::journalDone);
}

AlarmsWindow::~AlarmsWindow()
{
    // A journal check still running stops at its next row or hour.
    *m_cancelJournal = true;
    m_journalWatcher.waitForFinished();
    delete ui;
}

void AlarmsWindow::setPeriod(const QDateTime &from, const QDateTime &to)
{
    ui->dateFrom->setDateTime(from);
    ui->dateTo->setDateTime(to);
}

QString AlarmsWindow::deviceText(const QString &serial) const
{
    for (const Device &device : m_devices) {
        if (device.serial == serial && !device.name.isEmpty())
            return QStringLiteral("%1 (%2)").arg(device.name, serial);
    }
    return serial;
}

QString AlarmsWindow::describe(const RecordAlarmEvent &event) const
{
    return QStringLiteral("%1, CH%2: %3 %4 from %5, worst %6")
        .arg(deviceText(event.serialNo))
        .arg(event.channel)
        .arg(event.high ? QStringLiteral("above") : QStringLiteral("below"))
        .arg(event.limit, 0, 'f', 2)
        .arg(timeText(event.start))
        .arg(event.worst, 0, 'f', 2);
}

void AlarmsWindow::refresh()
{
    const qint64 from = ui->dateFrom->dateTime().toSecsSinceEpoch();
    const qint64 to = ui->dateTo->dateTime().toSecsSinceEpoch();
    const QString serial = ui->comboDevice->currentData().toString();
    const QStringList serials = serial.isEmpty() ? QStringList() : QStringList{serial};

    QString status;
    m_events.clear();
    RecordReader reader;
    if (reader.open(m_databasePath))
        m_events = RecordContext(reader).alarmEvents(from, to, serials);
    else if (reader.status() != RecordReader::Status::NoFile)
        status = QStringLiteral("The record file cannot be read: %1. ").arg(reader.errorText());
    reader.close();

    // Events of this run the file does not show yet.
    for (const RecordAlarmEvent &open : AlarmTracker::openEvents()) {
        const bool known = std::any_of(m_events.cbegin(), m_events.cend(),
                                       [&open](const auto &e) { return e.token == open.token; });
        if (!known && open.start <= to && (serials.isEmpty() || serials.contains(open.serialNo)))
            m_events.append(open);
    }
    AlarmTracker::addPending(&m_events);
    std::stable_sort(m_events.begin(), m_events.end(), [](const auto &a, const auto &b) {
        if (a.isAcknowledged() != b.isAcknowledged())
            return !a.isAcknowledged();
        return a.start > b.start;
    });

    const int unacknowledged = int(std::count_if(
        m_events.cbegin(), m_events.cend(), [](const auto &e) { return !e.isAcknowledged(); }));
    status += QStringLiteral("%1 %2, %3 unacknowledged.")
                  .arg(m_events.size())
                  .arg(m_events.size() == 1 ? QStringLiteral("event") : QStringLiteral("events"))
                  .arg(unacknowledged);
    if (const qsizetype waiting = InsertSerialData::pendingContextCount())
        status += QStringLiteral(" %1 entries wait to be written to the record file.").arg(waiting);
    ui->label_status->setText(status);
    showEvents();
}

void AlarmsWindow::showEvents()
{
    QTableWidget *table = ui->tableEvents;
    // The selected event stays selected, wherever it moved to.
    const RecordAlarmEvent *selected = selectedEvent();
    const qint64 selectedToken = selected ? selected->token : 0;
    table->setRowCount(m_events.size());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (int row = 0; row < m_events.size(); ++row) {
        const RecordAlarmEvent &event = m_events.at(row);
        const QString state = !event.verifiedBy.isEmpty() ? QStringLiteral("verified")
                              : event.isAcknowledged()    ? QStringLiteral("acknowledged")
                                                          : QStringLiteral("unacknowledged");
        const QStringList cells = {
            (event.isOpen() ? QStringLiteral("Active, ") : QStringLiteral("Ended, ")) + state,
            deviceText(event.serialNo),
            QStringLiteral("CH%1").arg(event.channel),
            timeText(event.start),
            event.isOpen() ? QStringLiteral("open") : timeText(event.end),
            durationText((event.isOpen() ? now : event.end) - event.start),
            QStringLiteral("%1 (%2 %3)")
                .arg(event.worst, 0, 'f', 2)
                .arg(event.high ? QStringLiteral("above") : QStringLiteral("below"))
                .arg(event.limit, 0, 'f', 2),
            personText(event.ackBy, event.ackAt, event.action),
            personText(event.verifiedBy, event.verifiedAt, event.remark),
        };
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(cells.at(column));
            if (!event.isAcknowledged())
                item->setForeground(QColor(178, 24, 43));
            table->setItem(row, column, item);
        }
        if (selectedToken != 0 && event.token == selectedToken)
            table->selectRow(row);
    }
    table->resizeColumnsToContents();
}

void AlarmsWindow::selectRow(int row)
{
    ui->tableEvents->selectRow(row);
}

const RecordAlarmEvent *AlarmsWindow::selectedEvent() const
{
    const int row = ui->tableEvents->currentRow();
    if (row < 0 || row >= m_events.size() || !ui->tableEvents->item(row, 0)->isSelected())
        return nullptr;
    return &m_events.at(row);
}

void AlarmsWindow::acknowledgeSelected()
{
    const RecordAlarmEvent *event = selectedEvent();
    if (!event) {
        showMessage(this, QStringLiteral("INFORMATION"), QStringLiteral("Please select an alarm."));
        return;
    }
    if (event->isAcknowledged()) {
        showMessage(this, QStringLiteral("INFORMATION"),
                    QStringLiteral("This alarm has already been acknowledged."));
        return;
    }
    const qint64 token = event->token;
    QPointer<AlarmsWindow> self(this);
    askEntry(this, QStringLiteral("Acknowledge Alarm"), describe(*event),
             QStringLiteral("Corrective action"),
             [self, token](const QString &by, const QString &action) {
                 AlarmTracker::acknowledge(token, by, action, QDateTime::currentSecsSinceEpoch());
                 if (!self)
                     return;
                 emit self->entriesQueued();
                 self->refresh();
             });
}

void AlarmsWindow::verifySelected()
{
    const RecordAlarmEvent *event = selectedEvent();
    QString refusal;
    if (!event)
        refusal = QStringLiteral("Please select an alarm.");
    else if (!event->isAcknowledged())
        refusal = QStringLiteral("An alarm must be acknowledged before it can be verified.");
    else if (!event->verifiedBy.isEmpty())
        refusal = QStringLiteral("This alarm has already been verified.");
    if (!refusal.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"), refusal);
        return;
    }
    const qint64 token = event->token;
    const QString ackBy = event->ackBy;
    QPointer<AlarmsWindow> self(this);
    askEntry(this, QStringLiteral("Verify Alarm"), describe(*event), QStringLiteral("Remark"),
             [self, token, ackBy](const QString &by, const QString &remark) {
                 if (by.trimmed().compare(ackBy.trimmed(), Qt::CaseInsensitive) == 0) {
                     if (self)
                         showMessage(self, QStringLiteral("WARNING"),
                                     QStringLiteral("The verification must be made by a second "
                                                    "person, not by the person who acknowledged "
                                                    "the alarm."));
                     return;
                 }
                 AlarmTracker::verify(token, by, remark, QDateTime::currentSecsSinceEpoch());
                 if (!self)
                     return;
                 emit self->entriesQueued();
                 self->refresh();
             });
}

void AlarmsWindow::checkJournal()
{
    if (m_journalWatcher.isRunning())
        return;
    ui->btnCheckJournal->setEnabled(false);
    ui->label_journal->setText(QStringLiteral("Checking the journal..."));
    const QString path = m_databasePath;
    const std::shared_ptr<std::atomic<bool>> cancel = m_cancelJournal;
    m_journalWatcher.setFuture(QtConcurrent::run(
        [path, cancel] { return JournalVerifier::verifyFile(path, cancel.get()); }));
}

void AlarmsWindow::journalDone()
{
    const RecordJournalVerdict verdict = m_journalWatcher.result();
    ui->btnCheckJournal->setEnabled(true);
    QString text = QStringLiteral("Journal: ") + verdict.text();
    if (verdict.state == RecordJournalVerdict::State::Intact)
        text += QStringLiteral(" (%1 entries, %2 hours of samples checked)")
                    .arg(verdict.entries)
                    .arg(verdict.hours);
    ui->label_journal->setText(text);
    emit journalChecked(verdict);
}
