// The timers that drive acquisition and recording, and the record switch.
#include "quillarkmain.h"
#include "ui_quillarkmain.h"

#include "app/projectfile.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <cstdlib>
#include <utility>

namespace
{

constexpr int kDbTimerMs = 1500;
// Rows waiting before a batch is written: fewer with a single connection.
constexpr int kBatchRowsSingle = 8;
constexpr int kBatchRows = 16;
// Upper bound of one periodic write: normally a batch is 8 to 32 rows, but
// after a long write failure the queue can hold a day of samples. Written in
// slices of this size, the backlog drains at several thousand rows a second
// while each tick stays short.
constexpr qsizetype kMaxRowsPerWrite = 10000;
// Rows never wait much longer than this, whatever their number: a slow
// interval fills a batch only after minutes, and a crash would lose them.
constexpr qint64 kMaxWaitMs = 4000;

} // namespace

void QuillarkMain::slotStdTimer()
{
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    ui->label_datetime->setText(now);

    if (!m_projectCenter)
        return;

    if (!m_projectCenter->recordStartTime().isEmpty() &&
        !m_projectCenter->recordEndTime().isEmpty())
        checkDatabaseSize();
    if (m_insertSerialData && (m_bIsRecordStart || InsertSerialData::pendingCount() > 0))
        m_insertSerialData->checkFile();
    // While rows cannot be written the record bar says so, until they are.
    const bool failing = m_insertSerialData && m_insertSerialData->lastWriteFailed();
    m_projectCenter->setWriteProblem(failing ? m_insertSerialData->lastWriteError() : QString(),
                                     InsertSerialData::pendingCount());
    tellDroppedRows();

    if (m_bIsRecordStart)
        m_projectCenter->setRecordEndTime(now);

    // Alarm scan: the sound plays while any channel of any node is in alarm.
    // An acknowledged event no longer sounds while it lasts.
    if (anyAlarmSounding())
        slotAlarmAudioPlay();
    else
        slotAlarmAudioStop();
}

void QuillarkMain::writeDevice()
{
    if (!projectOpen)
        return;
    for (ConfiguredDevice *device : qAsConst(m_deviceList)) {
        if (device)
            device->poll();
    }
}

void QuillarkMain::writeDb()
{
    if (!m_insertSerialData || !m_insertSerialData->isOpened())
        return;
    // First takes back a batch the writer has finished, if any.
    const bool writing = m_insertSerialData->isWriting();
    const qsizetype waiting = InsertSerialData::pendingCount();
    // Alarm entries go at once, recording or not.
    if (InsertSerialData::pendingContextCount() > 0 && !writing) {
        m_insertSerialData->writeQueued(kMaxRowsPerWrite);
        return;
    }
    if (waiting == 0 && InsertSerialData::pendingContextCount() == 0) {
        // After Stop the timer runs until the last row is written.
        if (!m_bIsRecordStart)
            m_dbTimer->stop();
        return;
    }
    // One batch with the writer at a time; its outcome comes back by itself.
    if (writing)
        return;
    const int threshold = m_deviceList.size() < 2 ? kBatchRowsSingle : kBatchRows;
    if (waiting >= threshold || !m_bIsRecordStart ||
        InsertSerialData::oldestPendingAgeMs() >= kMaxWaitMs)
        m_insertSerialData->writeQueued(kMaxRowsPerWrite);
}

void QuillarkMain::slotToggleRecord()
{
    if (m_bIsRecordStart)
        slotStopRecord();
    else
        slotStartRecord();
}

void QuillarkMain::writeRecordTime(const QString &key, const QString &value)
{
    QString error;
    projectFileSaved(ProjectFile::writeValue(m_projectFilePath, key, value, &error), error);
}

QuillarkMain *QuillarkMain::s_endAtExit = nullptr;

void QuillarkMain::endAtExit()
{
    // Only while the application lives (after main() returned there is
    // nothing left to end), and only from the window's own thread.
    if (QuillarkMain *window = std::exchange(s_endAtExit, nullptr)) {
        if (QCoreApplication::instance() &&
            QThread::currentThread() == QCoreApplication::instance()->thread())
            window->endUnattended(QStringLiteral("as the program is made to exit (the display "
                                                 "it was shown on went away)"));
    }
}

void QuillarkMain::slotStartRecord()
{
    qCDebug(lcApp).noquote() << "QuillarkMain::slotStartRecord";
    if (!m_insertSerialData) {
        // The database file was locked by another program at open.
        showMessage(this, QStringLiteral("WARNING"),
                    QStringLiteral("Recording is not possible: the database file is not open "
                                   "(another program holds it locked)."));
        return;
    }
    toggleRecordState(true);
    // Qt ends the program with exit() when the connection to the display
    // breaks (the desktop session ended under a running recording): the
    // recording is then stopped and its rows written on the way out. The
    // hook is set once recording has started, after everything the way out
    // uses was made, so that it runs before their destructors (the row
    // queues are made on first use: here at the latest).
    InsertSerialData::pendingCount();
    InsertSerialData::pendingContextCount();
    static const bool hooked = std::atexit(&QuillarkMain::endAtExit) == 0;
    if (hooked)
        s_endAtExit = this;

    if (m_dbTimer->isActive())
        m_dbTimer->stop();
    if (m_insertSerialData && m_insertSerialData->isOpened())
        m_dbTimer->start(kDbTimerMs);

    ui->label_record_state->setPixmap(*m_pixRecording);
    recordSettingsInForce();

    if (m_projectCenter) {
        m_projectCenter->setRecordState(true);
        writeRecordTime(QStringLiteral("record_start_time"), m_projectCenter->recordStartTime());
    }
}

void QuillarkMain::slotStopRecord()
{
    qCDebug(lcApp).noquote() << "QuillarkMain::slotStopRecord";
    toggleRecordState(false);

    // The waiting rows (each node's no-value row among them) go at once,
    // and a backlog left by a write failure in capped slices over the next
    // ticks, never in one long write.
    if (m_insertSerialData && m_insertSerialData->isOpened()) {
        if (!m_dbTimer->isActive())
            m_dbTimer->start(kDbTimerMs);
        m_insertSerialData->writeQueued(kMaxRowsPerWrite);
    }

    ui->label_record_state->setPixmap(*m_pixReady);

    if (m_projectCenter) {
        m_projectCenter->setRecordState(false);
        writeRecordTime(QStringLiteral("record_stop_time"), m_projectCenter->recordEndTime());
    }
}

void QuillarkMain::recordSettingsInForce()
{
    if (!m_insertSerialData || !m_bIsRecordStart)
        return;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    QVector<RecordDeviceSettings> settings;
    for (const NodeDevice *node : ConfiguredDevice::allNodes(m_deviceList)) {
        RecordDeviceSettings entry;
        entry.validFrom = now;
        entry.intervalMs = dataIntervalMs;
        entry.serialNo = node->deviceNumber();
        entry.deviceName = node->deviceName();
        entry.startAddress = node->startAddress;
        entry.ch1Name = node->ch1Name();
        entry.ch2Name = node->ch2Name();
        entry.ch1Unit = node->ch1Unit();
        entry.ch2Unit = node->ch2Unit();
        entry.ch1Custom = node->ch1CustomUnit();
        entry.ch2Custom = node->ch2CustomUnit();
        entry.ch1Low = node->ch1Min();
        entry.ch1High = node->ch1Max();
        entry.ch2Low = node->ch2Min();
        entry.ch2High = node->ch2Max();
        settings.append(entry);
    }
    // Written with the next batch of rows (in force from `now` all the same).
    m_insertSerialData->recordSettings(settings);
}

void QuillarkMain::toggleRecordState(bool on)
{
    m_bIsRecordStart = on;
    for (NodeDevice *node : ConfiguredDevice::allNodes(m_deviceList)) {
        // The row without values marks the end of the recording one interval
        // after the last request.
        if (!on)
            node->insertNoValue();
        node->setRecord(on);
    }
    // Events are kept while recording only: they end with it.
    if (!on)
        AlarmTracker::closeAll(QDateTime::currentSecsSinceEpoch());
    qCDebug(lcApp).noquote().nospace()
        << "QuillarkMain::toggleRecordState : m_bIsRecordStart : " << on;

    m_actExit->setEnabled(!on);
    m_actAddDelete->setEnabled(!on);
    m_actClose->setEnabled(!on);
}

void QuillarkMain::slotDatabaseWriteFailed(const QString &error)
{
    qCDebug(lcApp).noquote() << "QuillarkMain::slotDatabaseWriteFailed : " << error;
    if (m_dbWarningShown)
        return;
    m_dbWarningShown = true;
    // Stays until dismissed: the disk may fill while nobody watches.
    showLastingMessage(this, QStringLiteral("WARNING"),
                       QStringLiteral("Recorded data cannot be written to the database file "
                                      "(%1).\nThe data is kept in memory and writing is retried; "
                                      "the record bar shows how many rows wait.")
                           .arg(error))
        ->setObjectName(QStringLiteral("writeFailedMessage"));
    if (m_projectCenter)
        m_projectCenter->setWriteProblem(error, InsertSerialData::pendingCount());
}

void QuillarkMain::slotDatabaseWriteRecovered()
{
    qCDebug(lcApp).noquote() << "QuillarkMain::slotDatabaseWriteRecovered";
    m_dbWarningShown = false;
    if (m_projectCenter)
        m_projectCenter->setWriteProblem(QString(), 0);
}
