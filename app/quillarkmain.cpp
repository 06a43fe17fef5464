#include "quillarkmain.h"
#include "ui_quillarkmain.h"

#include "app/projectmain.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "common/plaintext.h"
#include "device/configureddevice.h"
#include "device/linknoticeboard.h"
#include "device/nodedevice.h"
#include "project/projectmanager.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QAudioDeviceInfo>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QVBoxLayout>

namespace
{

const QString kMenuStyle = QStringLiteral("background-color: rgb(203, 203, 203);");
constexpr int kStdTimerMs = 1000;

} // namespace

QuillarkMain::QuillarkMain(QWidget *parent) : QWidget(parent)
{
    // A database identifier unique to this window, used for the connection
    // name of the record database.
    m_databaseId = QString::fromLatin1(QUuid::createUuid().toString().toUtf8().toBase64());

    ui = new Ui::QuillarkMain;
    ui->setupUi(this);
    PlainText::applyTo(this);
    m_pageLayout = new QVBoxLayout(ui->centralFrame);
    m_pageLayout->setContentsMargins(0, 0, 0, 0);
    m_pageLayout->setSpacing(0);

    setWindowTitle(kAppName);
    ui->label_version->setText(kAppVersion);

    connect(ui->menuFrame, &TopCustomFrame::customDoubleClick, this, &QuillarkMain::topDblClick);
    connect(ui->command_project, &QCommandLinkButton::clicked, this,
            &QuillarkMain::slotCommandProject);
    connect(ui->command_record, &QCommandLinkButton::clicked, this,
            &QuillarkMain::slotCommandRecord);
    connect(ui->command_screen, &QCommandLinkButton::clicked, this,
            &QuillarkMain::slotCommandScreen);
    connect(ui->command_help, &QCommandLinkButton::clicked, this, &QuillarkMain::slotCommandHelp);

    ui->label_datetime->setText(
        QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));

    buildMenus();
    m_pixReady = new QPixmap(QStringLiteral(":/img/StateReady.png"));
    m_pixRecording = new QPixmap(QStringLiteral(":/img/StateRecording.png"));

    // Nothing is open yet: only Exit can be chosen.
    projectOpen = false;
    m_actAddDelete->setEnabled(false);
    m_actClose->setEnabled(false);
    m_actRefreshDevices->setEnabled(false);
    m_actDataViewer->setEnabled(false);
    m_reportMenu->setEnabled(false); // its entry in the Record menu follows
    m_actExpansionMode->setEnabled(false);

    loadRecentProjects();
    pruneRecentProjects();
    showStartScreen();

    m_stdTimer = new QTimer(this);
    connect(m_stdTimer, &QTimer::timeout, this, &QuillarkMain::slotStdTimer);
    m_stdTimer->start(kStdTimerMs);
    m_deviceTimer = new QTimer(this);
    // Polls land one interval apart, not wherever a coarse timer lets them.
    m_deviceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_deviceTimer, &QTimer::timeout, this, &QuillarkMain::writeDevice);
    m_linkNotices = new LinkNoticeBoard(this);
    auto *linkLabel = new QLabel(ui->statusFrame);
    linkLabel->setObjectName(QStringLiteral("label_link_notice"));
    linkLabel->setFont(ui->label_projectname->font());
    m_linkNotices->attachLabel(linkLabel);
    if (auto *strip = qobject_cast<QBoxLayout *>(ui->statusFrame->layout()))
        strip->insertWidget(strip->indexOf(ui->label_projectname) + 1, linkLabel, 1);
    m_dbTimer = new QTimer(this);
    connect(m_dbTimer, &QTimer::timeout, this, &QuillarkMain::writeDb);

    // GStreamer's automatic audio output also tries a JACK sink. Where no JACK
    // server runs, its client can block for good inside the player's first
    // setMedia() (seen on plain Debian machines with a fresh home folder),
    // which would freeze the window before it is shown. Keep JACK out unless
    // the user ranks GStreamer's features differently.
    if (qEnvironmentVariableIsEmpty("GST_PLUGIN_FEATURE_RANK"))
        qputenv("GST_PLUGIN_FEATURE_RANK", "jackaudiosink:NONE");
    m_player = new QMediaPlayer(this);
    m_player->setMedia(QUrl(QStringLiteral("qrc:///critical.mp3")));
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
            &QuillarkMain::slotPlayerStatusChanged);
    connect(m_player, QOverload<QMediaPlayer::Error>::of(&QMediaPlayer::error), this, [this] {
        if (alarmSoundProblem) // switched off with the check (tests)
            tellSoundUnavailable(m_player->errorString());
    });
    // Told once the window is up: an alarm system without its sound must
    // say so in words, not in a line of the audio library's.
    QTimer::singleShot(0, this, [this] {
        const QString why = alarmSoundProblem ? alarmSoundProblem() : QString();
        if (!why.isEmpty())
            tellSoundUnavailable(why);
    });
    m_alarmRestartTimer = new QTimer(this);
    m_alarmRestartTimer->setSingleShot(true);
    connect(m_alarmRestartTimer, &QTimer::timeout, this, &QuillarkMain::restartAlarmSound);
}

QuillarkMain::SoundCheckHook QuillarkMain::alarmSoundProblem = [] {
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        return QStringLiteral("this computer has no audio output (no sound server is running)");
    return QString();
};

void QuillarkMain::tellSoundUnavailable(const QString &why)
{
    if (m_soundProblemTold)
        return;
    m_soundProblemTold = true;
    const QString text =
        QStringLiteral("The alarm sound is unavailable: %1. Alarms are still shown on "
                       "the dashboard and recorded.")
            .arg(why.isEmpty() ? QStringLiteral("the audio output failed") : why);
    qCWarning(lcApp).noquote() << "QuillarkMain :" << text;
    showMessage(this, QStringLiteral("WARNING"), text);
}

QuillarkMain::~QuillarkMain()
{
    if (s_endAtExit == this)
        s_endAtExit = nullptr;
    // Pages sit in the page layout and so die with the window as well; they
    // are deleted here first so that they go before the form. The nodes'
    // links to the views go first, then the views, then the pollers.
    detachNodeViews();
    delete m_projectMain;
    m_projectMain = nullptr;
    delete m_projectManager;
    m_projectManager = nullptr;
    delete m_projectCenter;
    m_projectCenter = nullptr;
    deleteInsertSerialData();
    qDeleteAll(m_deviceList);
    m_deviceList.clear();
    delete m_reportMenu;
    delete m_viewMenu;
    delete m_pixReady;
    delete m_pixRecording;
    delete ui;
}

QMenu *QuillarkMain::makeMenu(const QString &title, const QString &objectName, QWidget *parent)
{
    auto *menu = new QMenu(title, parent);
    menu->setObjectName(objectName);
    menu->setStyleSheet(kMenuStyle);
    QFont font = menu->font();
    font.setWeight(QFont::Bold);
    menu->setFont(font);
    return menu;
}

QAction *QuillarkMain::makeAction(QMenu *menu, const QString &text, const QString &objectName)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(objectName);
    return action;
}

void QuillarkMain::buildMenus()
{
    m_projectMenu = makeMenu(QStringLiteral("Project"), QStringLiteral("menuProject"), this);
    m_actAddDelete =
        makeAction(m_projectMenu, QStringLiteral("Add/Delete"), QStringLiteral("actionAddDelete"));
    m_actClose = makeAction(m_projectMenu, QStringLiteral("Close"), QStringLiteral("actionClose"));
    m_projectMenu->addSeparator();
    m_actRefreshDevices = makeAction(m_projectMenu, QStringLiteral("Refresh Devices"),
                                     QStringLiteral("actionRefreshDevices"));
    m_actForwarding =
        makeAction(m_projectMenu, QStringLiteral("Forwarding"), QStringLiteral("actionForwarding"));
    m_actForwarding->setEnabled(false);
    connect(m_actForwarding, &QAction::triggered, this, &QuillarkMain::slotForwarding);
    m_projectMenu->addSeparator();
    m_actExit = makeAction(m_projectMenu, QStringLiteral("Exit"), QStringLiteral("actionExit"));
    connect(m_actAddDelete, &QAction::triggered, this, &QuillarkMain::slotAddDeviceProject);
    connect(m_actClose, &QAction::triggered, this, &QuillarkMain::slotCloseProject);
    connect(m_actRefreshDevices, &QAction::triggered, this, &QuillarkMain::slotRefreshDevice);
    connect(m_actExit, &QAction::triggered, this, &QWidget::close);

    m_recordMenu = makeMenu(QStringLiteral("Record"), QStringLiteral("menuRecord"), this);
    m_actDataViewer =
        makeAction(m_recordMenu, QStringLiteral("Data Viewer"), QStringLiteral("actionDataViewer"));
    connect(m_actDataViewer, &QAction::triggered, this, &QuillarkMain::slotRideZodazoRecord);
    buildAlarmsEntry();
    m_recordMenu->addSeparator();
    m_reportMenu = makeMenu(QStringLiteral("Report"), QStringLiteral("menuReport"), nullptr);
    m_recordMenu->addMenu(m_reportMenu);
    m_actDailyReport = makeAction(m_reportMenu, QStringLiteral("Daily Report"),
                                  QStringLiteral("actionDailyReport"));
    connect(m_actDailyReport, &QAction::triggered, this, &QuillarkMain::slotReportDaily);
    m_actWeeklyReport = makeAction(m_reportMenu, QStringLiteral("Weekly Report"),
                                   QStringLiteral("actionWeeklyReport"));
    m_actMonthlyReport = makeAction(m_reportMenu, QStringLiteral("Monthly Report"),
                                    QStringLiteral("actionMonthlyReport"));
    m_actHaccpReport = makeAction(m_reportMenu, QStringLiteral("HACCP Report"),
                                  QStringLiteral("actionHaccpReport"));
    // Each report starts the report program on its kind.
    const QVector<QPair<QAction *, QString>> reports = {{m_actWeeklyReport, "weekly"},
                                                        {m_actMonthlyReport, "monthly"},
                                                        {m_actHaccpReport, "haccp"}};
    for (const auto &report : reports) {
        const QString kind = report.second;
        connect(report.first, &QAction::triggered, this, [this, kind]() {
            startSideTool(QStringLiteral("DavavoZurer"), {QStringLiteral("--kind"), kind});
        });
    }

    m_viewMenu = makeMenu(QStringLiteral("View"), QStringLiteral("menuView"), nullptr);
    m_actFullScreen =
        makeAction(m_viewMenu, QStringLiteral("FullScreen"), QStringLiteral("actionFullScreen"));
    m_actFullScreen->setCheckable(true);
    connect(m_actFullScreen, &QAction::triggered, this, &QuillarkMain::slotViewFull);
    m_viewMenu->addSeparator();
    m_actExpansionMode = makeAction(m_viewMenu, QStringLiteral("Expansion Mode"),
                                    QStringLiteral("actionExpansionMode"));
    m_actExpansionMode->setCheckable(true);
    connect(m_actExpansionMode, &QAction::triggered, this, &QuillarkMain::slotShowHideItem);
}

QAction *QuillarkMain::menuAction(const QString &objectName) const
{
    for (QMenu *menu : {m_projectMenu, m_recordMenu, m_reportMenu, m_viewMenu}) {
        const QList<QAction *> actions = menu->actions();
        for (QAction *action : actions) {
            if (action->objectName() == objectName)
                return action;
        }
    }
    return nullptr;
}

void QuillarkMain::popupMenu(QMenu *menu, QWidget *button)
{
    // Just below the button; geometry() of a top-level window is its client
    // area on screen, and the button's geometry is relative to the title bar,
    // which sits at the top of the window.
    const QRect buttonRect = button->geometry();
    const QPoint at(geometry().left() + buttonRect.left() + 5,
                    geometry().top() + buttonRect.bottom() + 1);
    menu->move(at);
    menu->show();
}

void QuillarkMain::slotCommandProject()
{
    popupMenu(m_projectMenu, ui->command_project);
}

void QuillarkMain::slotCommandRecord()
{
    popupMenu(m_recordMenu, ui->command_record);
}

void QuillarkMain::slotCommandScreen()
{
    popupMenu(m_viewMenu, ui->command_screen);
}

void QuillarkMain::topDblClick()
{
    if (!isFullScreen()) {
        showFullScreen();
        m_actFullScreen->setChecked(true);
    } else {
        showNormal();
        m_actFullScreen->setChecked(false);
    }
}

void QuillarkMain::slotViewFull(bool checked)
{
    if (checked)
        showFullScreen();
    else
        showNormal();
}

void QuillarkMain::closeDown()
{
    clearProjectState();
    for (QTimer *timer : {m_deviceTimer, m_stdTimer, m_dbTimer})
        timer->stop();
}

void QuillarkMain::closeEvent(QCloseEvent *event)
{
    if (m_bIsRecordStart) {
        qCDebug(lcApp).noquote() << "QuillarkMain::closeEvent : refused while recording";
        event->ignore();
        return;
    }
    closeDown();
    event->accept();
}
