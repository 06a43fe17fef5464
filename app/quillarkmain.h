#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMediaPlayer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>

class QAction;
class QCloseEvent;
class QMenu;
class QPixmap;
class QTimer;
class QLabel;
class QVBoxLayout;

class AlarmsWindow;
class ConfiguredDevice;
class Forwarder;
class InsertSerialData;
class LinkNoticeBoard;
class ProjectCenter;
class ProjectMain;
class ProjectManager;

namespace Ui
{
class QuillarkMain;
}

// The one main window: title bar with its four menu buttons, a central area
// showing one page at a time (start screen, project editor or project
// centre) and a status strip. It owns the open project's pollers, its record
// database, the three timers that drive acquisition and recording, and the
// alarm player.
//
// The work is spread over several files: quillarkmain.cpp (frame, menus,
// full screen, closing), quillarkmain_lifecycle.cpp (pages and projects),
// quillarkmain_recording.cpp (timers and recording), quillarkmain_tools.cpp
// (alarm sound, about box, side tools).
class QuillarkMain : public QWidget
{
    Q_OBJECT

public:
    explicit QuillarkMain(QWidget *parent = nullptr);
    ~QuillarkMain() override;

    // The pop-up menus of the title bar (for tests and for the other files of
    // this class). Each action carries an object name such as "actionClose".
    QMenu *projectMenu() const { return m_projectMenu; }
    QMenu *recordMenu() const { return m_recordMenu; }
    QMenu *reportMenu() const { return m_reportMenu; }
    QMenu *viewMenu() const { return m_viewMenu; }
    // Finds a menu action by object name in any of the menus; null if none.
    QAction *menuAction(const QString &objectName) const;

    // Shows the about box; QMessageBox::about by default, replaced in tests.
    using AboutBoxHook = std::function<void(QWidget *, const QString &, const QString &)>;
    static AboutBoxHook aboutBox;

    // The blocking box shown when the record database cannot be opened
    // (title, text); QMessageBox::critical by default, replaced in tests.
    using CriticalBoxHook = std::function<void(const QString &, const QString &)>;
    static CriticalBoxHook criticalBox;
    // Ends the event loop with the given code after that box;
    // QCoreApplication::exit by default, replaced in tests.
    using ExitHook = std::function<void(int)>;
    static ExitHook exitProgram;
    // A database file locked by another program when a project opens is
    // tried again this often, this many times; meanwhile (and after) the
    // project runs without recording.
    static int databaseRetryMs;
    static int databaseRetries;
    // Why the alarm sound cannot play on this machine (empty when it can);
    // asked once at start. Replaced in tests.
    using SoundCheckHook = std::function<QString()>;
    static SoundCheckHook alarmSoundProblem;
    // Starts a side tool detached (program, arguments); true when it started.
    // QProcess::startDetached by default, replaced in tests.
    using StartDetachedHook = std::function<bool(const QString &, const QStringList &)>;
    static StartDetachedHook startDetached;

    // Rows that cannot be written when a project closes: the user chooses.
    enum class UnwrittenRowsChoice { Retry, SaveToFile, Discard };
    // Asks what to do with them (parent, text); a three-button box by
    // default, replaced in tests.
    using UnwrittenRowsHook = std::function<UnwrittenRowsChoice(QWidget *, const QString &)>;
    static UnwrittenRowsHook unwrittenRowsQuestion;
    // Asks for the file to save them to (parent, suggested path); empty
    // when cancelled. A save-file dialog by default, replaced in tests.
    using SaveFileHook = std::function<QString(QWidget *, const QString &)>;
    static SaveFileHook unwrittenRowsFile;

    // Settings store of the recent projects.
    static const QString kRecentGroup;
    // The database size at which recording stops (3.9 GiB).
    static constexpr double kDatabaseSizeLimit = 3.9 * 1024 * 1024 * 1024;
    // The alarm sound is restarted at most this often, whatever the audio
    // back end reports.
    static constexpr int kAlarmRestartMinMs = 500;

public slots:
    // The system or the terminal asks the program to end (SIGTERM, SIGINT,
    // SIGHUP): a running recording is stopped and its rows written, as Stop
    // and Close would, then the event loop ends.
    void endOnSignal(int signalNumber);
    // The same with nobody left to ask (the display went away): rows that
    // cannot be written go into a file beside the database by themselves.
    void endUnattended(const QString &why);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void topDblClick();
    void slotCommandProject();
    void slotCommandRecord();
    void slotCommandScreen();
    void slotCommandHelp();
    void slotViewFull(bool checked);
    void slotShowHideItem(bool checked);
    void slotCloseProject();
    void slotAddDeviceProject();
    void slotRefreshDevice();
    void slotRideZodazoRecord();
    void slotReportDaily();
    void slotUpdateProjectFile();
    void slotToggleRecord();
    void slotStartRecord();
    void slotStopRecord();
    void projectCreated(QString path);
    void projectLoaded(QString path);
    void projectListConfirm(QList<ConfiguredDevice *> list);
    void slotStdTimer();
    void writeDevice();
    void writeDb();
    void slotAlarmAudioPlay();
    void slotAlarmAudioStop();
    void slotPlayerStatusChanged(QMediaPlayer::MediaStatus status);
    // Says once, plainly, that the alarm sound is unavailable and why.
    void tellSoundUnavailable(const QString &why);
    void slotDatabaseWriteFailed(const QString &error);
    void slotDatabaseWriteRecovered();
    void slotDatabaseRecreated(const QString &reason);
    void slotRecordTimesChecked(qint64 first, qint64 last);
    void slotShowAlarms();
    void slotAlarmEntriesQueued();

private:
    friend class tst_QuillarkMain;
    friend class tst_QuillarkMainFlow;
    friend class tst_QuillarkMainParts;
    friend class tst_RecordingCycle;
    friend class tst_AlarmsWindow;
    friend class SoakBench;

    void buildMenus();
    QMenu *makeMenu(const QString &title, const QString &objectName, QWidget *parent);
    QAction *makeAction(QMenu *menu, const QString &text, const QString &objectName);
    void popupMenu(QMenu *menu, QWidget *button);

    // Project lifecycle (quillarkmain_lifecycle.cpp).
    void showStartScreen();
    void removeStartScreen();
    void removeProjectManager();
    void removeProjectCenter();
    void setProjectEntriesEnabled(bool enabled);
    void showProjectPath();
    void clearProjectState();
    void endProgram(const QString &why, bool unattended);
    // What Close does once the window may go: the project closed (a running
    // recording stopped, its rows written) and the timers stopped.
    void closeDown();
    // Copies units and alarm limits from the nodes of `from` to the nodes of
    // `to` with the same device number.
    static void keepNodeSettings(const QList<ConfiguredDevice *> &from,
                                 const QList<ConfiguredDevice *> &to);
    void detachNodeViews();
    void openProjectCenter();
    bool createInsertSerialData(const QString &databasePath);
    void connectDatabase();
    void retryDatabase();
    void deleteInsertSerialData();
    QString databasePath() const;
    // Tells the user (once until a save works again) that a write of the
    // project file failed, and why.
    void projectFileSaved(bool ok, const QString &error);
    // Stores every device's settings with the data interval, in force from
    // now, in the record file (at each start of recording and each change
    // while recording).
    void recordSettingsInForce();
    void loadRecentProjects();
    void saveRecentProjects();
    void pruneRecentProjects();
    void addRecentProject();

    // Recording (quillarkmain_recording.cpp).
    void toggleRecordState(bool on);
    void writeRecordTime(const QString &key, const QString &value);
    void checkDatabaseSize();
    void tellDroppedRows();
    // Before the record database goes: rows it could not write are kept
    // until the user says what to do with them.
    void resolveUnwrittenRows();

    // Alarm events (quillarkmain_alarms.cpp).
    void buildAlarmsEntry();
    bool anyAlarmSounding() const;
    void closeAlarms();

    // Side tools and alarm sound (quillarkmain_tools.cpp).
    // Starts a sibling program on the project, after `options`.
    void startSideTool(const QString &program, const QStringList &options = {});
    void restartAlarmSound();

    // Forwarding to InfluxDB / MQTT (quillarkmain_forward.cpp).
    void startForwarding();
    void stopForwarding();
    void slotForwarding();
    void showForwardingState();

    // Title bar menus and their entries.
    QMenu *m_projectMenu = nullptr;
    QAction *m_actAddDelete = nullptr;
    QAction *m_actClose = nullptr;
    QAction *m_actRefreshDevices = nullptr;
    QAction *m_actExit = nullptr;
    QMenu *m_recordMenu = nullptr;
    QAction *m_actDataViewer = nullptr;
    QAction *m_actAlarms = nullptr;
    QPointer<AlarmsWindow> m_alarmsWindow;
    QMenu *m_reportMenu = nullptr; // no parent: deleted by the destructor
    QAction *m_actDailyReport = nullptr;
    QAction *m_actWeeklyReport = nullptr;
    QAction *m_actMonthlyReport = nullptr;
    QAction *m_actHaccpReport = nullptr;
    QMenu *m_viewMenu = nullptr; // no parent: deleted by the destructor
    QAction *m_actFullScreen = nullptr;
    QAction *m_actExpansionMode = nullptr;

    // Record state symbols of the status strip.
    QPixmap *m_pixReady = nullptr;
    QPixmap *m_pixRecording = nullptr;

    Ui::QuillarkMain *ui = nullptr;
    // Sits on centralFrame and holds exactly one page at a time.
    QVBoxLayout *m_pageLayout = nullptr;
    ProjectMain *m_projectMain = nullptr;
    ProjectManager *m_projectManager = nullptr;
    ProjectCenter *m_projectCenter = nullptr;

    QTimer *m_stdTimer = nullptr;     // 1000 ms, always running
    QTimer *m_deviceTimer = nullptr;  // at the data interval while a project is open
    QTimer *m_dbTimer = nullptr;      // 1500 ms while recording
    QTimer *m_dbRetryTimer = nullptr; // while the database file is locked at open
    int m_dbRetriesLeft = 0;
    bool m_soundProblemTold = false;
    // Gateway lost/back lines of the open project, shown in the status strip.
    LinkNoticeBoard *m_linkNotices = nullptr;

    bool projectOpen = false;
    QString m_projectName;
    QString m_projectFilePath;
    QList<ConfiguredDevice *> m_deviceList;
    bool m_bIsRecordStart = false;
    bool m_ending = false;     // endProgram() is at work
    bool m_unattended = false; // no questions: nobody can answer them
    bool m_resolving = false;  // rows that cannot be written are being dealt with
    // The window whose recording is ended when the program is made to exit
    // from inside the event loop (see slotStartRecord()).
    static QuillarkMain *s_endAtExit;
    static void endAtExit();
    // The loaded file's "DataInterval" was missing or not allowed: it is not
    // rewritten until the user picks an interval.
    bool m_keepFileInterval = false;
    // A failed project file save has been told and not yet followed by a good one.
    bool m_projectSaveErrorShown = false;

    // Recent projects: name -> project file path, and names most recent first.
    QHash<QString, QVariant> m_recentMap;
    QStringList m_recentList;

    InsertSerialData *m_insertSerialData = nullptr;
    QString m_databaseId;

    QMediaPlayer *m_player = nullptr;
    bool alarmPlaying = false;
    // Pacing of the alarm loop: when the last restart was too recent, the
    // next one waits on this single-shot timer.
    QTimer *m_alarmRestartTimer = nullptr;
    QElapsedTimer m_alarmRestartClock;
    int m_alarmRestarts = 0;

    // A failed batch write is reported once until writing works again.
    bool m_dbWarningShown = false;

    // Forwarding of the open project's rows, its menu entry and its
    // status-strip line (shown only while a target fails).
    Forwarder *m_forwarder = nullptr;
    QAction *m_actForwarding = nullptr;
    QLabel *m_forwardStatus = nullptr;
    // Rows dropped from the full queue that the user has been told of.
    qint64 m_droppedTold = 0;
    // Recording was stopped at the database size limit.
    bool m_sizeLimitReached = false;
};
