// Alarm sound, about box and side tools of the main window.
#include "quillarkmain.h"

#include "common/common.h"

#include <QMessageBox>

QuillarkMain::AboutBoxHook QuillarkMain::aboutBox =
    [](QWidget *parent, const QString &title, const QString &text) { QMessageBox::about(parent, title, text); };

void QuillarkMain::slotCommandHelp()
{
    const QString title = tr("About ") + QString(kAppName).remove(QLatin1Char(' '));
    const QString text =
        tr("<p><b><font size=\"5\">%1</font></b></p>").arg(kAppName)
        + tr("<p><font size=\"3\">%1</font></p>").arg(kAppVersion)
        + tr("<p style=\"margin-right:100px\"><img src=\":/img/quillark_lite_Modbus.png\" width=\"720\" height=\"326\"></p>")
        + tr("<p><font size=\"3\">%1 is data-recording software for the Fennolink wireless sensor "
             "families. It supports up to 32 channels of data recording, with a data viewer and a "
             "data reporter.</font></p>")
              .arg(kAppName)
        + tr("<p>The lastest Version : <a href=\"https://fennolink.example/download\">Download</a></p>")
        + tr("<p></p>")
        + tr("<p>Copyright (C) Fennolink. All rights reserved.</p>");
    aboutBox(this, title, text);
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
    m_player->stop();
}

void QuillarkMain::slotPlayerStatusChanged(QMediaPlayer::MediaStatus status)
{
    // Loop the alarm sound until something stops it.
    if (status == QMediaPlayer::EndOfMedia) {
        m_player->stop();
        m_player->play();
    }
}
