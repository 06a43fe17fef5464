// Pages, the life of an open project and the recent projects of the main window.
#include "quillarkmain.h"
#include "ui_quillarkmain.h"

#include "app/projectfile.h"
#include "app/projectmain.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "device/configureddevice.h"
#include "device/linknoticeboard.h"
#include "device/nodedevice.h"
#include "project/projectmanager.h"
#include "record/insertserialdata.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

const QString QuillarkMain::kRecentGroup = QStringLiteral("RecentProjects");

QuillarkMain::CriticalBoxHook QuillarkMain::criticalBox = [](const QString &title,
                                                             const QString &text) {
    QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
};

QuillarkMain::ExitHook QuillarkMain::exitProgram = [](int code) { QCoreApplication::exit(code); };

namespace
{

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
constexpr int kMaxDirectoryShown = 40;

QString recordTimeText(qint64 seconds)
{
    if (seconds == 0)
        return QString();
    return QDateTime::fromSecsSinceEpoch(seconds).toString(kTimeFormat);
}

} // namespace

// ---- pages -----------------------------------------------------------------

void QuillarkMain::showStartScreen()
{
    delete m_projectMain;
    m_projectMain = new ProjectMain(m_recentList, m_recentMap);
    connect(m_projectMain, &ProjectMain::projectCreated, this, &QuillarkMain::projectCreated);
    connect(m_projectMain, &ProjectMain::projectLoaded, this, &QuillarkMain::projectLoaded);
    m_pageLayout->addWidget(m_projectMain);
    m_projectMain->show();
}

void QuillarkMain::removeStartScreen()
{
    if (!m_projectMain)
        return;
    m_pageLayout->removeWidget(m_projectMain);
    m_projectMain->close();
    // The start screen may be the sender of the signal being handled.
    m_projectMain->deleteLater();
    m_projectMain->setParent(nullptr);
    m_projectMain = nullptr;
}

void QuillarkMain::removeProjectManager()
{
    if (!m_projectManager)
        return;
    m_pageLayout->removeWidget(m_projectManager);
    m_projectManager->close();
    // The editor may be the sender of the signal being handled.
    m_projectManager->setParent(nullptr);
    m_projectManager->deleteLater();
    m_projectManager = nullptr;
}

void QuillarkMain::removeProjectCenter()
{
    if (!m_projectCenter)
        return;
    m_pageLayout->removeWidget(m_projectCenter);
    m_projectCenter->close();
    delete m_projectCenter;
    m_projectCenter = nullptr;
}

void QuillarkMain::setProjectEntriesEnabled(bool enabled)
{
    m_actAddDelete->setEnabled(enabled);
    m_actClose->setEnabled(enabled);
    m_actRefreshDevices->setEnabled(enabled);
    m_actForwarding->setEnabled(enabled);
    m_actDataViewer->setEnabled(enabled);
    m_actAlarms->setEnabled(enabled);
    m_reportMenu->setEnabled(enabled);
    m_actExpansionMode->setEnabled(enabled);
}

void QuillarkMain::showProjectPath()
{
    QString dir = QFileInfo(m_projectFilePath).absolutePath();
    if (dir.size() > kMaxDirectoryShown)
        dir = dir.left(kMaxDirectoryShown) + QStringLiteral("...");
    ui->label_projectname->setText(dir + QLatin1Char('/') + m_projectName + QStringLiteral(".qlk"));
}

void QuillarkMain::slotShowHideItem(bool checked)
{
    if (m_projectCenter)
        m_projectCenter->setEmptyCellsVisible(!checked);
}

// ---- project transitions ---------------------------------------------------

void QuillarkMain::projectCreated(QString path)
{
    deleteInsertSerialData();
    removeStartScreen();

    m_projectFilePath = path;
    m_projectName = QFileInfo(path).completeBaseName();
    showProjectPath();
    m_keepFileInterval = false;
    QString error;
    projectFileSaved(ProjectFile::create(path, m_projectName, dataIntervalMs, &error), error);

    delete m_projectManager;
    m_projectManager = new ProjectManager;
    connect(m_projectManager, &ProjectManager::projectListConfirm, this,
            &QuillarkMain::projectListConfirm);
    m_pageLayout->addWidget(m_projectManager);
    m_projectManager->show();

    projectOpen = false;
    setProjectEntriesEnabled(false);
    m_actClose->setEnabled(true);
}

void QuillarkMain::projectLoaded(QString path)
{
    ProjectDocument document;
    if (!document.load(path)) {
        showMessage(this, QStringLiteral("ERROR"), document.errorText());
        return;
    }
    m_deviceList = ProjectFile::build(document.connections);

    deleteInsertSerialData();
    removeStartScreen();

    m_projectFilePath = path;
    m_projectName = QFileInfo(path).completeBaseName();
    addRecentProject();

    m_projectName = document.projectName;
    QString note = document.warningText();
    m_keepFileInterval = !isValidDataInterval(document.dataInterval);
    if (!m_keepFileInterval) {
        dataIntervalMs = document.dataInterval;
    } else {
        // A missing or unknown interval would run the device timer at 0 ms
        // or at a value the editor cannot show. The file keeps its value
        // until the user picks an interval.
        dataIntervalMs = kDefaultDataIntervalMs;
        const QString stored =
            document.dataIntervalText.isEmpty()
                ? QStringLiteral("The project file gives no data interval")
                : QStringLiteral("The data interval \"%1\" of the project file is not one "
                                 "the program offers")
                      .arg(document.dataIntervalText.left(40));
        const QString interval =
            stored + QStringLiteral("; the project runs at %1.").arg(intervalText(dataIntervalMs));
        qCWarning(lcApp).noquote() << "QuillarkMain::projectLoaded :" << interval;
        note = note.isEmpty() ? interval : note + QStringLiteral("\n\n") + interval;
    }
    if (!note.isEmpty())
        showMessage(this,
                    document.warnings.isEmpty() ? QStringLiteral("INFORMATION")
                                                : QStringLiteral("WARNING"),
                    note);

    showProjectPath();
    ui->label_interval->setText(QStringLiteral("Interval : ") + intervalText(dataIntervalMs));

    projectOpen = true;
    setProjectEntriesEnabled(true);
    openProjectCenter();
}

void QuillarkMain::projectListConfirm(QList<ConfiguredDevice *> list)
{
    if (list != m_deviceList) {
        // The editor built the list anew from names and addresses only; a
        // device kept in the list keeps its units and alarm limits.
        keepNodeSettings(m_deviceList, list);
        // The pollers it replaces go.
        for (ConfiguredDevice *device : qAsConst(m_deviceList)) {
            if (device && !list.contains(device)) {
                device->close();
                delete device;
            }
        }
        m_deviceList = list;
    }
    removeProjectManager();

    slotUpdateProjectFile();
    // A loaded project whose file gave no usable interval keeps the file's
    // value: the editor of an open project cannot change the interval.
    if (!m_keepFileInterval) {
        QString error;
        projectFileSaved(ProjectFile::writeDataInterval(m_projectFilePath, dataIntervalMs, &error),
                         error);
    }
    ui->label_interval->setText(QStringLiteral("Interval : ") + intervalText(dataIntervalMs));
    addRecentProject();

    projectOpen = true;
    setProjectEntriesEnabled(true);
    openProjectCenter();
}

void QuillarkMain::keepNodeSettings(const QList<ConfiguredDevice *> &from,
                                    const QList<ConfiguredDevice *> &to)
{
    QHash<QString, const NodeDevice *> previous;
    for (const NodeDevice *node : ConfiguredDevice::allNodes(from)) {
        if (!previous.contains(node->deviceNumber()))
            previous.insert(node->deviceNumber(), node);
    }
    if (previous.isEmpty())
        return;
    for (NodeDevice *node : ConfiguredDevice::allNodes(to)) {
        const NodeDevice *old = previous.value(node->deviceNumber());
        if (!old || old == node)
            continue;
        node->setUnits(old->ch1Unit(), old->ch2Unit());
        node->setCustomUnits(old->ch1CustomUnit(), old->ch2CustomUnit());
        node->setAlarmRange(old->ch1Min(), old->ch1Max(), old->ch2Min(), old->ch2Max());
    }
}

void QuillarkMain::slotUpdateProjectFile()
{
    QString error;
    projectFileSaved(ProjectFile::write(m_deviceList, m_projectFilePath, &error), error);
    // A change of a device's options while recording holds from now on.
    recordSettingsInForce();
}

void QuillarkMain::projectFileSaved(bool ok, const QString &error)
{
    if (ok) {
        m_projectSaveErrorShown = false;
        return;
    }
    qCWarning(lcApp).noquote() << "QuillarkMain : the project file could not be saved :"
                               << m_projectFilePath << ":" << error;
    // Told once until a save works again: every option change would repeat it.
    if (m_projectSaveErrorShown)
        return;
    m_projectSaveErrorShown = true;
    showMessage(
        this, QStringLiteral("ERROR"),
        QStringLiteral("The project file could not be saved:\n%1\n%2\nThe changes are kept only "
                       "until the project is closed.")
            .arg(QDir::toNativeSeparators(m_projectFilePath), error));
}

QString QuillarkMain::databasePath() const
{
    const QString stored = ProjectFile::databaseName(m_projectFilePath);
    const QString path = ProjectDocument::databasePathFor(m_projectFilePath, stored);
    if (QFileInfo(path).fileName() != stored)
        qCDebug(lcApp).noquote() << "QuillarkMain::databasePath : databaseName" << stored
                                 << "read as" << QFileInfo(path).fileName();
    return path;
}

void QuillarkMain::openProjectCenter()
{
    removeProjectCenter();
    m_projectCenter = new ProjectCenter(m_projectFilePath);
    connect(m_projectCenter, &ProjectCenter::clickRecord, this, &QuillarkMain::slotToggleRecord);
    connect(m_projectCenter, &ProjectCenter::updateProjectFile, this,
            &QuillarkMain::slotUpdateProjectFile);

    if (!createInsertSerialData(databasePath())) {
        // The program is ending; nothing may use the missing database.
        delete m_projectCenter;
        m_projectCenter = nullptr;
        return;
    }
    m_projectCenter->setDeviceList(m_deviceList);
    m_pageLayout->addWidget(m_projectCenter);
    m_projectCenter->show();

    for (ConfiguredDevice *device : qAsConst(m_deviceList)) {
        if (device)
            connect(device, &ConfiguredDevice::linkNotice, m_linkNotices, &LinkNoticeBoard::post,
                    Qt::UniqueConnection);
    }
    writeDevice();
    if (projectOpen)
        m_deviceTimer->start(dataIntervalMs);
    startForwarding();
}

int QuillarkMain::databaseRetryMs = 2000;
int QuillarkMain::databaseRetries = 15;

bool QuillarkMain::createInsertSerialData(const QString &path)
{
    m_insertSerialData = new InsertSerialData(path, m_databaseId, this);
    if (m_insertSerialData->createConnection()) {
        qCDebug(lcApp).noquote() << "QuillarkMain::createInsertSerialData : " + path;
        connectDatabase();
        return true;
    }
    const bool locked = m_insertSerialData->openFailedLocked();
    delete m_insertSerialData;
    m_insertSerialData = nullptr;
    if (locked) {
        // A lock is temporary: the project opens without recording and the
        // file is tried again for a while, never waited for on this thread.
        qCWarning(lcApp).noquote()
            << "QuillarkMain : database file locked by another program :" << path;
        if (!m_dbRetryTimer) {
            m_dbRetryTimer = new QTimer(this);
            m_dbRetryTimer->setSingleShot(true);
            connect(m_dbRetryTimer, &QTimer::timeout, this, &QuillarkMain::retryDatabase);
        }
        m_dbRetriesLeft = databaseRetries;
        m_dbRetryTimer->start(databaseRetryMs);
        showMessage(this, QStringLiteral("WARNING"),
                    QStringLiteral("The database file\n%1\nis locked by another program. The "
                                   "project runs without recording while the file is tried "
                                   "again for %2 seconds.")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(qint64(databaseRetryMs) * databaseRetries / 1000));
        return true;
    }
    criticalBox(QStringLiteral("ERROR"), QStringLiteral("Create database error!\nExit program."));
    close();
    exitProgram(0);
    return false;
}

void QuillarkMain::connectDatabase()
{
    m_dbWarningShown = false;
    m_droppedTold = InsertSerialData::droppedCount();
    connect(m_insertSerialData, &InsertSerialData::writeFailed, this,
            &QuillarkMain::slotDatabaseWriteFailed);
    connect(m_insertSerialData, &InsertSerialData::writeRecovered, this,
            &QuillarkMain::slotDatabaseWriteRecovered);
    connect(m_insertSerialData, &InsertSerialData::databaseRecreated, this,
            &QuillarkMain::slotDatabaseRecreated);
    connect(m_insertSerialData, &InsertSerialData::timeBoundsChecked, this,
            &QuillarkMain::slotRecordTimesChecked);
    if (m_projectCenter) {
        m_projectCenter->setRecordTimes(recordTimeText(m_insertSerialData->startDateTime()),
                                        recordTimeText(m_insertSerialData->endDateTime()));
        // An old file's rows are read once by the writer for where the clock
        // went back; the period may then be wider.
        m_insertSerialData->checkTimeBounds();
    }
}

void QuillarkMain::retryDatabase()
{
    if (m_insertSerialData || !m_projectCenter)
        return;
    const QString path = databasePath();
    m_insertSerialData = new InsertSerialData(path, m_databaseId, this);
    if (m_insertSerialData->createConnection()) {
        connectDatabase();
        showMessage(this, QStringLiteral("INFORMATION"),
                    QStringLiteral("The database file\n%1\nis open: recording is possible.")
                        .arg(QDir::toNativeSeparators(path)));
        return;
    }
    const bool locked = m_insertSerialData->openFailedLocked();
    delete m_insertSerialData;
    m_insertSerialData = nullptr;
    if (locked && --m_dbRetriesLeft > 0) {
        m_dbRetryTimer->start(databaseRetryMs);
        return;
    }
    qCWarning(lcApp).noquote() << "QuillarkMain : database file still unusable, no recording :"
                               << path;
    showLastingMessage(this, QStringLiteral("WARNING"),
                       QStringLiteral("The database file\n%1\ncannot be opened (%2). The project "
                                      "runs without recording; close it and open it again to "
                                      "record.")
                           .arg(QDir::toNativeSeparators(path),
                                locked ? QStringLiteral("another program keeps it locked")
                                       : QStringLiteral("it cannot be written")));
}

void QuillarkMain::deleteInsertSerialData()
{
    if (m_dbRetryTimer)
        m_dbRetryTimer->stop();
    if (!m_insertSerialData)
        return;
    qCDebug(lcApp).noquote() << "QuillarkMain::deleteInsertSerialData()";
    m_resolving = true;
    resolveUnwrittenRows();
    m_resolving = false;
    delete m_insertSerialData;
    m_insertSerialData = nullptr;
}

void QuillarkMain::endOnSignal(int signalNumber)
{
    endProgram(QStringLiteral("on signal %1").arg(signalNumber), false);
}

void QuillarkMain::endUnattended(const QString &why)
{
    endProgram(why, true);
}

void QuillarkMain::endProgram(const QString &why, bool unattended)
{
    // Asked to end while the user is asked about rows that cannot be
    // written: that question is answered first.
    if (m_resolving) {
        QTimer::singleShot(200, this, [this, why, unattended] { endProgram(why, unattended); });
        return;
    }
    // A second request while the last rows are written changes nothing.
    if (m_ending)
        return;
    m_ending = true;
    m_unattended = unattended;
    qCWarning(lcApp).noquote() << "QuillarkMain : ending" << why
                               << (m_bIsRecordStart ? "; recording stopped, its rows written" : "");
    closeDown();
    QCoreApplication::quit();
}

void QuillarkMain::clearProjectState()
{
    alarmPlaying = false;
    m_alarmRestartTimer->stop();
    m_player->stop();

    // Stop a running recording first: it writes its last rows and turns the
    // project entries back on, which the lines below undo.
    if (m_bIsRecordStart)
        slotStopRecord();

    projectOpen = false;
    setProjectEntriesEnabled(false);
    ui->label_projectname->clear();
    ui->label_interval->clear();

    if (m_deviceTimer->isActive())
        m_deviceTimer->stop();
    m_linkNotices->clear();
    stopForwarding();
    deleteInsertSerialData();
    closeAlarms();
    detachNodeViews();

    for (ConfiguredDevice *device : qAsConst(m_deviceList)) {
        if (!device)
            continue;
        device->close();
        delete device;
    }
    m_deviceList.clear();
    dataIntervalMs = kDefaultDataIntervalMs;
}

void QuillarkMain::detachNodeViews()
{
    alarmPlaying = false;
    if (m_alarmRestartTimer)
        m_alarmRestartTimer->stop();
    if (m_player)
        m_player->stop();
    for (NodeDevice *node : ConfiguredDevice::allNodes(m_deviceList)) {
        node->clearProjectList();
        node->clearChartView();
        node->clearTiles();
    }
}

void QuillarkMain::slotCloseProject()
{
    clearProjectState();
    removeProjectCenter();
    removeProjectManager();
    m_actExpansionMode->setChecked(false);
    showStartScreen();
}

void QuillarkMain::slotAddDeviceProject()
{
    if (m_bIsRecordStart)
        return;
    detachNodeViews();
    if (m_deviceTimer->isActive())
        m_deviceTimer->stop();
    stopForwarding();
    deleteInsertSerialData();

    projectOpen = false;
    setProjectEntriesEnabled(false);
    m_actClose->setEnabled(true);

    removeProjectCenter();
    m_actExpansionMode->setChecked(false);

    delete m_projectManager;
    m_projectManager = new ProjectManager;
    m_projectManager->setIntervalDisabled(true);
    connect(m_projectManager, &ProjectManager::projectListConfirm, this,
            &QuillarkMain::projectListConfirm);
    m_projectManager->loadDeviceList(m_deviceList);
    m_pageLayout->addWidget(m_projectManager);
    m_projectManager->show();

    for (ConfiguredDevice *device : qAsConst(m_deviceList)) {
        if (device)
            device->close();
    }
}

void QuillarkMain::slotRefreshDevice()
{
    if (!projectOpen)
        return;
    for (ConfiguredDevice *device : qAsConst(m_deviceList)) {
        if (device)
            device->refresh();
    }
}

// ---- recent projects -------------------------------------------------------

namespace
{

QSettings *recentSettings()
{
    auto *settings = new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                   kSettingsOrganisation, kAppName);
    settings->beginGroup(QuillarkMain::kRecentGroup);
    return settings;
}

} // namespace

void QuillarkMain::loadRecentProjects()
{
    QScopedPointer<QSettings> settings(recentSettings());
    m_recentList = settings->value(QStringLiteral("list")).toStringList();
    m_recentMap = settings->value(QStringLiteral("projects")).toHash();
}

void QuillarkMain::saveRecentProjects()
{
    QScopedPointer<QSettings> settings(recentSettings());
    settings->setValue(QStringLiteral("list"), m_recentList);
    settings->setValue(QStringLiteral("projects"), m_recentMap);
}

void QuillarkMain::pruneRecentProjects()
{
    const QStringList names = m_recentMap.keys();
    for (const QString &name : names) {
        if (!QFileInfo(m_recentMap.value(name).toString()).isFile()) {
            m_recentMap.remove(name);
            m_recentList.removeOne(name);
        }
    }
}

void QuillarkMain::addRecentProject()
{
    if (m_recentMap.contains(m_projectName) || m_recentList.contains(m_projectName))
        return;
    m_recentMap.insert(m_projectName, QFileInfo(m_projectFilePath).absoluteFilePath());
    m_recentList.prepend(m_projectName);
    pruneRecentProjects();
    saveRecentProjects();
}
