#include "app/quillarkmain.h"
#include "app/topcustomframe.h"
#include "testsupport.h"

#include <QAction>
#include <QMenu>
#include <QTimer>
#include <QtTest>

// The main window's frame without a project: menus, full screen, closing, alarm sound.
class tst_QuillarkMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void enabledStatesAfterConstruction();
    void fullScreenToggles_data();
    void fullScreenToggles();
    void closeRefusedWhileRecording();
    void alarmStartStopAndPacedLoop();
};

void tst_QuillarkMain::enabledStatesAfterConstruction()
{
    QuillarkMain w;
    for (const char *name : {"actionAddDelete", "actionClose", "actionRefreshDevices",
                             "actionDataViewer", "actionExpansionMode"})
        QVERIFY2(w.menuAction(name) && !w.menuAction(name)->isEnabled(), name);
    QVERIFY(!w.reportMenu()->menuAction()->isEnabled());
    QVERIFY(w.menuAction("actionExit")->isEnabled() &&
            w.menuAction("actionFullScreen")->isEnabled());
    // Opening the report submenu makes every report available.
    w.reportMenu()->setEnabled(true);
    for (const char *name :
         {"actionDailyReport", "actionWeeklyReport", "actionMonthlyReport", "actionHaccpReport"})
        QVERIFY2(w.menuAction(name)->isEnabled(), name);
}

void tst_QuillarkMain::fullScreenToggles_data()
{
    QTest::addColumn<bool>("byMenu");
    QTest::newRow("double click on the title bar") << false;
    QTest::newRow("View > FullScreen") << true;
}

void tst_QuillarkMain::fullScreenToggles()
{
    QFETCH(bool, byMenu);
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAction *full = w.menuAction("actionFullScreen");
    for (bool on : {true, false}) {
        if (byMenu)
            full->trigger();
        else
            QTest::mouseDClick(w.findChild<TopCustomFrame *>("menuFrame"), Qt::LeftButton, {},
                               QPoint(600, 20));
        QTRY_COMPARE(w.isFullScreen(), on);
        QCOMPARE(full->isChecked(), on);
    }
}

void tst_QuillarkMain::closeRefusedWhileRecording()
{
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.m_bIsRecordStart = true;
    QVERIFY(!w.close());
    QVERIFY(w.isVisible() && w.m_stdTimer->isActive());
    w.m_bIsRecordStart = false;
    w.menuAction("actionExit")->trigger();
    QVERIFY(!w.isVisible() && !w.m_stdTimer->isActive());
}

// Tests have no sound device: the flag and the player's state are what count.
void tst_QuillarkMain::alarmStartStopAndPacedLoop()
{
    QuillarkMain w;
    QCOMPARE(w.m_player->media().request().url(), QUrl("qrc:///critical.mp3"));
    w.slotAlarmAudioPlay();
    w.slotAlarmAudioPlay();
    QVERIFY(w.alarmPlaying);
    QVERIFY(w.m_player->state() == QMediaPlayer::PlayingState ||
            w.m_player->error() != QMediaPlayer::NoError);

    // An audio stack that ends the media at once: a burst of end-of-media
    // reports restarts the sound at most once, the next restart waits its turn.
    auto burst = [&] {
        for (int i = 0; i < 200; ++i)
            w.slotPlayerStatusChanged(QMediaPlayer::EndOfMedia);
    };
    burst();
    const int afterBurst = w.m_alarmRestarts;
    QVERIFY(afterBurst == 1 || (afterBurst == 0 && w.m_alarmRestartTimer->isActive()));
    QTest::qWait(QuillarkMain::kAlarmRestartMinMs + 200);
    burst();
    QVERIFY(w.m_alarmRestarts >= 1 && w.m_alarmRestarts <= afterBurst + 2);

    // Once stopped, nothing restarts the sound.
    const int before = w.m_alarmRestarts;
    w.slotAlarmAudioStop();
    QVERIFY(!w.alarmPlaying && !w.m_alarmRestartTimer->isActive());
    burst();
    QTest::qWait(QuillarkMain::kAlarmRestartMinMs + 100);
    QCOMPARE(w.m_alarmRestarts, before);
    QCOMPARE(w.m_player->state(), QMediaPlayer::StoppedState);
}

QTEST_MAIN(tst_QuillarkMain)
#include "tst_quillarkmain.moc"
