// The alarm events of the main window: the "Alarms" entry and its window,
// and which alarms still sound.
#include "quillarkmain.h"

#include "app/alarmswindow.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"

#include <QAction>
#include <QMenu>
#include <QTimer>

void QuillarkMain::buildAlarmsEntry()
{
    m_actAlarms =
        makeAction(m_recordMenu, QStringLiteral("Alarms"), QStringLiteral("actionAlarms"));
    m_actAlarms->setEnabled(false);
    connect(m_actAlarms, &QAction::triggered, this, &QuillarkMain::slotShowAlarms);
}

bool QuillarkMain::anyAlarmSounding() const
{
    for (const NodeDevice *node : ConfiguredDevice::allNodes(m_deviceList)) {
        const QString serial = node->deviceNumber();
        if ((node->alarm1() && !AlarmTracker::isSilenced(serial, 1)) ||
            (node->alarm2() && !AlarmTracker::isSilenced(serial, 2)))
            return true;
    }
    return false;
}

void QuillarkMain::slotShowAlarms()
{
    if (!projectOpen)
        return;
    if (!m_alarmsWindow) {
        QVector<AlarmsWindow::Device> devices;
        for (const NodeDevice *node : ConfiguredDevice::allNodes(m_deviceList))
            devices.append({node->deviceNumber(), node->deviceName()});
        m_alarmsWindow = new AlarmsWindow(databasePath(), devices, this);
        connect(m_alarmsWindow, &AlarmsWindow::entriesQueued, this,
                &QuillarkMain::slotAlarmEntriesQueued);
    }
    m_alarmsWindow->refresh();
    m_alarmsWindow->show();
    m_alarmsWindow->raise();
}

void QuillarkMain::slotAlarmEntriesQueued()
{
    // The sound follows at once; the entries go into the file now, or are
    // retried by the database timer while the file cannot take them.
    if (!anyAlarmSounding())
        slotAlarmAudioStop();
    if (!m_insertSerialData || !m_insertSerialData->isOpened())
        return;
    m_insertSerialData->writeQueued(10000);
    if (!m_dbTimer->isActive())
        m_dbTimer->start(1500);
}

void QuillarkMain::closeAlarms()
{
    delete m_alarmsWindow;
    AlarmTracker::reset();
}
