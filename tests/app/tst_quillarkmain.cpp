#include "app/alarmentrydialog.h"
#include "app/alarmswindow.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "app/splashscreen.h"
#include "app/topcustomframe.h"
#include "common/common.h"
#include "device/nodedevice.h"
#include "gatewayfixture.h"
#include "projectfixture.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "testsupport.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

// The main window's frame: full screen, the title bar's menu, the alarm sound
// and the alarm events, and the splash before it.
class tst_QuillarkMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fullScreenToggles_data();
    void fullScreenToggles();
    void alarmAcknowledgedVerifiedAndJournaled();
    void entryDialog();
    void alarmLoopIsPaced();
    void splashStaysUntilTheWindowShows();

private:
    QTemporaryDir m_dir;
    AlarmsWindow::EntryHook m_defaultEntry;
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
    QVERIFY(m_dir.isValid());
    m_defaultEntry = AlarmsWindow::askEntry;
    QCoreApplication::addLibraryPath(QStringLiteral(QK_TEST_PLUGINS));
    qputenv("QT_MULTIMEDIA_PREFERRED_PLUGINS", "silentplayer");
}

// Alarm events in the recorder against the loopback gateway: an excursion
// recorded, acknowledged (its sound stops, another device's does not) and
// verified by a second person from the Alarms window, then found in the
// record file and its journal.
void tst_QuillarkMain::alarmAcknowledgedVerifiedAndJournaled()
{
    GatewaySimulator sim(TestSupport::frozenGateway(2));
    QVERIFY(sim.start());
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(20, 50, 1, 1));
    sim.setHoldingRegisters(8, TestSupport::nodeBlock(20, 50, 1, 1));
    const QString path = m_dir.filePath("alarms.qlk");
    QVERIFY(TestSupport::writeProject(path, 1000, {sim.serverPort()}, 2, 10, 30));
    QuillarkMain w;
    emit w.m_projectMain->projectLoaded(path);
    const QList<NodeDevice *> nodes = w.m_deviceList.first()->nodeList();
    QTRY_COMPARE_WITH_TIMEOUT(nodes[0]->ch1Text(), "20.00", 10000);
    w.slotStartRecord();

    // Out of range while recording: the sound and an open event.
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(35.5f, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(w.alarmPlaying, 8000);
    QTRY_COMPARE(AlarmTracker::openEvents().size(), 1);
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(37.25f, 50, 1, 1));

    w.menuAction("actionAlarms")->trigger();
    AlarmsWindow *window = w.m_alarmsWindow;
    QVERIFY(window && window->isVisible());
    auto *table = window->findChild<QTableWidget *>("tableEvents");
    QTRY_COMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, AlarmsWindow::ColStatus)->text(), "Active, unacknowledged");
    QCOMPARE(table->item(0, AlarmsWindow::ColEnd)->text(), "open");

    // Acknowledged: this event no longer sounds, though the value stays out.
    QStringList asked;
    QString name = "<i>Ann</i>";
    AlarmsWindow::askEntry = [&](QWidget *, const QString &title, const QString &, const QString &,
                                 const AlarmsWindow::Done &done) {
        asked << title;
        done(name, "Closed the <b>door</b>");
    };
    window->verifySelected(); // nothing selected
    window->selectRow(0);
    window->verifySelected(); // not acknowledged yet
    QVERIFY(asked.isEmpty());
    window->acknowledgeSelected();
    QCOMPARE(asked, QStringList{"Acknowledge Alarm"});
    QTRY_VERIFY_WITH_TIMEOUT(!w.alarmPlaying, 3000);
    QVERIFY(nodes[0]->alarm1());
    const QString acknowledged = table->item(0, AlarmsWindow::ColAcknowledgement)->text();
    QVERIFY(acknowledged.startsWith("<i>Ann</i>, ") &&
            acknowledged.endsWith(": Closed the <b>door</b>"));

    // Another device out of range sounds again.
    sim.setHoldingRegisters(8, TestSupport::nodeBlock(5, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(w.alarmPlaying, 8000);
    sim.setHoldingRegisters(8, TestSupport::nodeBlock(20, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!w.alarmPlaying, 8000);

    // The same person cannot verify; a second one can. The unacknowledged
    // events come first: the row of the first device's is looked up at each refresh.
    auto refresh = [&] {
        window->refresh();
        int row = 0;
        while (row < window->events().size() &&
               window->events().at(row).serialNo != nodes[0]->deviceNumber())
            ++row;
        return row;
    };
    int row = refresh();
    window->selectRow(row);
    window->acknowledgeSelected(); // already acknowledged
    window->verifySelected();
    QVERIFY(TestSupport::shownMessages(window).join('\n').contains("second person"));
    name = "Bob";
    window->verifySelected();
    QVERIFY(table->item(row, AlarmsWindow::ColVerification)->text().startsWith("Bob, "));

    // Back inside, then Stop: every event ended and everything written.
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(20, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!nodes[0]->alarm1(), 8000);
    w.slotStopRecord();
    QTRY_VERIFY_WITH_TIMEOUT(InsertSerialData::pendingContextCount() == 0 &&
                                 InsertSerialData::pendingCount() == 0,
                             10000);
    row = refresh();
    QCOMPARE(window->events().size(), 2);
    for (const RecordAlarmEvent &event : window->events())
        QVERIFY(!event.isOpen());
    const RecordAlarmEvent first = window->events().at(row);
    QCOMPARE(first.worst, 37.25);
    QCOMPARE(first.ackBy, "<i>Ann</i>");
    QCOMPARE(first.verifiedBy, "Bob");
    QCOMPARE(table->item(row, AlarmsWindow::ColStatus)->text(), "Ended, verified");

    // In the file's journal, with the settings in force at each start, and intact.
    const QString database = w.m_insertSerialData->databasePath();
    const char *counts = "select sum(tbl in ('qk_alarm_acks', 'qk_alarm_verifications')), "
                         "sum(tbl = 'qk_settings') >= 2 from qk_journal";
    QCOMPARE(TestSupport::sqlTexts(database, counts), QStringList{"2 1"});
    QVector<RecordJournalVerdict> verdicts;
    connect(window, &AlarmsWindow::journalChecked,
            [&verdicts](const RecordJournalVerdict &verdict) { verdicts << verdict; });
    window->checkJournal();
    QTRY_COMPARE_WITH_TIMEOUT(verdicts.size(), 1, 20000);
    QCOMPARE(verdicts.first().state, RecordJournalVerdict::State::Intact);
    QVERIFY(
        window->findChild<QLabel *>("label_journal")->text().startsWith("Journal: record intact"));

    // The settings are in the chain too: a limit widened afterwards shows.
    QVERIFY(
        TestSupport::sqliteCli(database, "update qk_settings set ch1_high = 40 where entry = 1"));
    window->checkJournal();
    QTRY_COMPARE_WITH_TIMEOUT(verdicts.size(), 2, 20000);
    QCOMPARE(verdicts.last().text(), "record altered: qk_settings row 1 was changed");
}

// The dialog the window opens by default: OK only with a name and a text,
// both handed over trimmed, without a nested event loop.
void tst_QuillarkMain::entryDialog()
{
    QWidget parent;
    QStringList given;
    m_defaultEntry(&parent, "Acknowledge Alarm", "<b>event</b>", "Corrective action",
                   [&given](const QString &name, const QString &text) { given << name << text; });
    auto *dialog = parent.findChild<AlarmEntryDialog *>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->findChild<QLabel *>("label_event")->textFormat(), Qt::PlainText);
    QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QVERIFY(!ok->isEnabled());
    dialog->findChild<QLineEdit *>("editName")->setText(" Ann ");
    QVERIFY(!ok->isEnabled());
    dialog->findChild<QPlainTextEdit *>()->setPlainText("Door shut\n");
    QVERIFY(ok->isEnabled());
    ok->click();
    QCOMPARE(given, (QStringList{"Ann", "Door shut"}));
}

// Where the sound cannot play the user is told once, in plain words, why.
void tst_QuillarkMain::alarmLoopIsPaced()
{
    QuillarkMain::alarmSoundProblem = [] { return "no sound server is running"; };
    QuillarkMain w;
    const QString told = "WARNING|The alarm sound is unavailable: no sound server is running. "
                         "Alarms are still shown on the dashboard and recorded.";
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
    SplashScreen splash(QPixmap(":/img/LoadingLite.png"));
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
