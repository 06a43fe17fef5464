#include "app/quillarkmain.h"
#include "app/splashscreen.h"
#include "app/topcustomframe.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QAction>
#include <QMenu>
#include <QtTest>

// The main window's frame: full screen, the title bar's menu, the alarm sound
// and the splash before it.
class tst_QuillarkMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullScreenToggles_data();
    void fullScreenToggles();
    void alarmLoopIsPaced();
    void splashStaysUntilTheWindowShows();
};

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
    // The title bar's Project button opens its menu.
    QTest::mouseClick(w.findChild<QWidget *>("command_project"), Qt::LeftButton);
    QTRY_VERIFY(w.projectMenu()->isVisible());
}

// Tests have no sound device: the sound goes to a silent media back end
// (tests/support/silentplayer) whose state follows play() and stop().
void tst_QuillarkMain::initTestCase()
{
    TestSupport::isolateSettings();
    QCoreApplication::addLibraryPath(QStringLiteral(QK_TEST_PLUGINS));
    qputenv("QT_MULTIMEDIA_PREFERRED_PLUGINS", "silentplayer");
}

// Where the sound cannot play the user is told once, in plain words, why.
void tst_QuillarkMain::alarmLoopIsPaced()
{
    QuillarkMain::alarmSoundProblem = [] { return QStringLiteral("no sound server is running"); };
    QuillarkMain w;
    const QString told = QStringLiteral("WARNING|The alarm sound is unavailable: no sound server "
                                        "is running. Alarms are still shown on the dashboard and "
                                        "recorded.");
    QTRY_COMPARE(TestSupport::shownMessages(&w), QStringList{told});
    QCOMPARE(w.m_player->media().request().url(), QUrl("qrc:///critical.mp3"));
    w.slotAlarmAudioPlay();
    w.slotAlarmAudioPlay();
    QVERIFY(w.alarmPlaying);
    QCOMPARE(w.m_player->state(), QMediaPlayer::PlayingState);

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
    QCOMPARE(w.m_player->state(), QMediaPlayer::PlayingState);

    // Once stopped, nothing restarts the sound.
    const int before = w.m_alarmRestarts;
    w.slotAlarmAudioStop();
    QVERIFY(!w.alarmPlaying && !w.m_alarmRestartTimer->isActive());
    burst();
    QTest::qWait(QuillarkMain::kAlarmRestartMinMs + 100);
    QCOMPARE(w.m_alarmRestarts, before);
    QCOMPARE(w.m_player->state(), QMediaPlayer::StoppedState);
    QCOMPARE(TestSupport::shownMessages(&w), QStringList{told}); // once, whatever the player said
    QuillarkMain::alarmSoundProblem = nullptr;
}

// The splash stays through clicks until the main window shows.
void tst_QuillarkMain::splashStaysUntilTheWindowShows()
{
    SplashScreen splash(QPixmap(QStringLiteral(":/img/LoadingLite.png")));
    QVERIFY(!splash.pixmap().isNull());
    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    QTest::mouseClick(&splash, Qt::LeftButton);
    QTest::mouseDClick(&splash, Qt::LeftButton);
    QTest::mouseClick(&splash, Qt::RightButton);
    QCoreApplication::processEvents();
    QVERIFY(splash.isVisible());

    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    splash.finish(&window);
    QTRY_VERIFY(!splash.isVisible());
}

QTEST_MAIN(tst_QuillarkMain)
#include "tst_quillarkmain.moc"
