// Alarm sound, about box and side tools of the main window.
#include "quillarkmain.h"

#include "common/common.h"
#include "common/messagedialog.h"
#include "device/nodedevice.h"
#include "view/projectcenter.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QTimer>

QuillarkMain::AboutBoxHook QuillarkMain::aboutBox = [](QWidget *parent, const QString &title,
                                                       const QString &text) {
    QMessageBox::about(parent, title, text);
};

QuillarkMain::StartDetachedHook QuillarkMain::startDetached = [](const QString &program,
                                                                 const QStringList &arguments) {
    return QProcess::startDetached(program, arguments);
};

void QuillarkMain::slotCommandHelp()
{
    const QString title = tr("About ") + QString(kAppName).remove(QLatin1Char(' '));
    const QString text =
        tr("<p><b><font size=\"5\">%1</font></b></p>").arg(kAppName) +
        tr("<p><font size=\"3\">%1</font></p>").arg(kAppVersion) +
        tr("<p style=\"margin-right:100px\"><img src=\":/img/quillark_lite_Modbus.png\" "
           "width=\"720\" height=\"326\"></p>") +
        tr("<p><font size=\"3\">%1 is data-recording software for the Fennolink wireless sensor "
           "families. It supports up to 32 channels of data recording, with a data viewer and a "
           "data reporter.</font></p>")
            .arg(kAppName) +
        tr("<p>The lastest Version : <a "
           "href=\"https://fennolink.example/download\">Download</a></p>") +
        tr("<p></p>") + tr("<p>Copyright (C) Fennolink. All rights reserved.</p>");
    aboutBox(this, title, text);
}

void QuillarkMain::slotRideZodazoRecord()
{
    startSideTool(QStringLiteral("RideZodazo"));
}

void QuillarkMain::slotReportDaily()
{
    startSideTool(QStringLiteral("DavavoZurer"));
}

void QuillarkMain::startSideTool(const QString &program, const QStringList &options)
{
    if (m_projectFilePath.isEmpty())
        return;
    if (!QFileInfo::exists(databasePath())) {
        showMessage(this, QStringLiteral("WARNING"), QStringLiteral("There is no data file."));
        return;
    }
    if (m_projectCenter) {
        // A running recording's period reaches the tool through the project file.
        writeRecordTime(QStringLiteral("record_stop_time"), m_projectCenter->recordEndTime());
    }

    // The tool takes the project path in single quotes. It is handed over
    // as one argument so that a path with spaces arrives whole.
    const QString path = QFileInfo(m_projectFilePath).absoluteFilePath();
    const QString argument = QLatin1Char('\'') + path + QLatin1Char('\'');
    const QString command =
        QStringList(QStringList{program} + options + QStringList{argument}).join(QLatin1Char(' '));
    qCDebug(lcApp).noquote() << "cmd : " + command;
    // The tools are installed beside this program; elsewhere PATH decides.
    const QString besideUs = QCoreApplication::applicationDirPath() + QLatin1Char('/') + program;
    const QFileInfo beside(besideUs);
    const QString executable = beside.isFile() && beside.isExecutable() ? besideUs : program;
    if (!startDetached(executable, options + QStringList{argument})) {
        qCDebug(lcApp).noquote() << "startDetached : " + command + " failed!";
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("Please check the %1 execution file.").arg(program));
    }
}

void QuillarkMain::slotAlarmAudioPlay()
{
    if (alarmPlaying)
        return;
    m_player->play();
    alarmPlaying = true;
}

void QuillarkMain::slotAlarmAudioStop()
{
    alarmPlaying = false;
    m_alarmRestartTimer->stop();
    m_player->stop();
}

void QuillarkMain::slotPlayerStatusChanged(QMediaPlayer::MediaStatus status)
{
    // Loop the alarm sound until something stops it. An audio back end that
    // ends the media at once (no sound device) must not make this spin, so
    // restarts are at least kAlarmRestartMinMs apart.
    if (status != QMediaPlayer::EndOfMedia || !alarmPlaying)
        return;
    if (m_alarmRestartTimer->isActive())
        return;
    const qint64 since =
        m_alarmRestartClock.isValid() ? m_alarmRestartClock.elapsed() : kAlarmRestartMinMs;
    if (since >= kAlarmRestartMinMs)
        restartAlarmSound();
    else
        m_alarmRestartTimer->start(int(kAlarmRestartMinMs - since));
}

void QuillarkMain::restartAlarmSound()
{
    if (!alarmPlaying)
        return;
    m_alarmRestartClock.start();
    ++m_alarmRestarts;
    m_player->stop();
    m_player->play();
}
