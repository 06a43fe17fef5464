// Alarm events in the recorder against the loopback gateway: an excursion
// recorded, acknowledged (its sound stops, another device's does not) and
// verified by a second person from the Alarms window, then found in the
// record file and its journal.
#include "app/alarmentrydialog.h"
#include "app/alarmswindow.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

class tst_AlarmsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void alarmAcknowledgedVerifiedAndJournaled();
    void entryDialog();

private:
    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    AlarmsWindow::EntryHook m_defaultEntry;
};

// The dialog the window opens by default: OK only with a name and a text,
// both handed over trimmed, without a nested event loop.
void tst_AlarmsWindow::entryDialog()
{
    QWidget parent;
    QStringList given;
    m_defaultEntry(&parent, QStringLiteral("Acknowledge Alarm"), QStringLiteral("<b>event</b>"),
                   QStringLiteral("Corrective action"),
                   [&given](const QString &name, const QString &text) { given << name << text; });
    auto *dialog = parent.findChild<AlarmEntryDialog *>();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("label_event"))->textFormat(),
             Qt::PlainText);
    QPushButton *ok = dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
    QVERIFY(!ok->isEnabled());
    dialog->findChild<QLineEdit *>(QStringLiteral("editName"))->setText(QStringLiteral(" Ann "));
    QVERIFY(!ok->isEnabled());
    dialog->findChild<QPlainTextEdit *>()->setPlainText(QStringLiteral("Door shut\n"));
    QVERIFY(ok->isEnabled());
    ok->click();
    QCOMPARE(given, (QStringList{QStringLiteral("Ann"), QStringLiteral("Door shut")}));
}

void tst_AlarmsWindow::initTestCase()
{
    m_defaultEntry = AlarmsWindow::askEntry;
    QVERIFY(m_settingsDir.isValid() && m_dir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
    InsertSerialData::clearQueue();
}

void tst_AlarmsWindow::alarmAcknowledgedVerifiedAndJournaled()
{
    GatewaySimulator sim(TestSupport::frozenGateway(2));
    QVERIFY(sim.start());
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(20, 50, 1, 1));
    sim.setHoldingRegisters(8, TestSupport::nodeBlock(20, 50, 1, 1));
    const QString path = m_dir.filePath(QStringLiteral("alarms.qlk"));
    QVERIFY(TestSupport::writeProject(path, 1000, {sim.serverPort()}, 2, 10, 30));
    QuillarkMain w;
    emit w.m_projectMain->projectLoaded(path);
    const QList<NodeDevice *> nodes = w.m_deviceList.first()->nodeList();
    QTRY_COMPARE_WITH_TIMEOUT(nodes[0]->ch1Text(), QStringLiteral("20.00"), 10000);
    w.slotStartRecord();

    // Out of range while recording: the sound and an open event.
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(35.5f, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(w.alarmPlaying, 8000);
    QTRY_COMPARE(AlarmTracker::openEvents().size(), 1);
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(37.25f, 50, 1, 1));

    w.menuAction(QStringLiteral("actionAlarms"))->trigger();
    AlarmsWindow *window = w.m_alarmsWindow;
    QVERIFY(window && window->isVisible());
    auto *table = window->findChild<QTableWidget *>(QStringLiteral("tableEvents"));
    QTRY_COMPARE(table->rowCount(), 1);
    QCOMPARE(table->item(0, AlarmsWindow::ColStatus)->text(),
             QStringLiteral("Active, unacknowledged"));
    QCOMPARE(table->item(0, AlarmsWindow::ColEnd)->text(), QStringLiteral("open"));

    // Acknowledged: this event no longer sounds, though the value stays out.
    QStringList asked;
    QString name = QStringLiteral("<i>Ann</i>");
    AlarmsWindow::askEntry = [&](QWidget *, const QString &title, const QString &, const QString &,
                                 const AlarmsWindow::Done &done) {
        asked << title;
        done(name, QStringLiteral("Closed the <b>door</b>"));
    };
    window->verifySelected(); // nothing selected
    window->selectRow(0);
    window->verifySelected(); // not acknowledged yet
    QVERIFY(asked.isEmpty());
    window->acknowledgeSelected();
    QCOMPARE(asked, QStringList{QStringLiteral("Acknowledge Alarm")});
    QTRY_VERIFY_WITH_TIMEOUT(!w.alarmPlaying, 3000);
    QVERIFY(nodes[0]->alarm1());
    QVERIFY(table->item(0, AlarmsWindow::ColAcknowledgement)
                ->text()
                .startsWith(QStringLiteral("<i>Ann</i>, ")));
    QVERIFY(table->item(0, AlarmsWindow::ColAcknowledgement)
                ->text()
                .endsWith(QStringLiteral(": Closed the <b>door</b>")));

    // Another device out of range sounds again.
    sim.setHoldingRegisters(8, TestSupport::nodeBlock(5, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(w.alarmPlaying, 8000);
    sim.setHoldingRegisters(8, TestSupport::nodeBlock(20, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!w.alarmPlaying, 8000);

    // The same person cannot verify; a second one can.
    window->refresh();
    int row = 0;
    while (row < window->events().size() &&
           window->events().at(row).serialNo != nodes[0]->deviceNumber())
        ++row;
    window->selectRow(row);
    window->acknowledgeSelected(); // already acknowledged
    window->verifySelected();
    QVERIFY(
        TestSupport::shownMessages(window).join('\n').contains(QStringLiteral("second person")));
    name = QStringLiteral("Bob");
    window->verifySelected();
    QVERIFY(table->item(row, AlarmsWindow::ColVerification)
                ->text()
                .startsWith(QStringLiteral("Bob, ")));

    // Back inside, then Stop: every event ended and everything written.
    sim.setHoldingRegisters(0, TestSupport::nodeBlock(20, 50, 1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(!nodes[0]->alarm1(), 8000);
    w.slotStopRecord();
    QTRY_VERIFY_WITH_TIMEOUT(InsertSerialData::pendingContextCount() == 0 &&
                                 InsertSerialData::pendingCount() == 0,
                             10000);
    window->refresh();
    QCOMPARE(window->events().size(), 2);
    for (const RecordAlarmEvent &event : window->events())
        QVERIFY(!event.isOpen());
    const RecordAlarmEvent first = window->events().at(row);
    QCOMPARE(first.worst, 37.25);
    QCOMPARE(first.ackBy, QStringLiteral("<i>Ann</i>"));
    QCOMPARE(first.verifiedBy, QStringLiteral("Bob"));
    QCOMPARE(table->item(row, AlarmsWindow::ColStatus)->text(), QStringLiteral("Ended, verified"));

    // In the file's journal, and intact.
    const QString database = w.m_insertSerialData->databasePath();
    auto journalEntries = [&](const QString &tables) {
        return TestSupport::sqlRows(database,
                                    "select count(*) from qk_journal where tbl in (" + tables + ")")
            .value(0)
            .value(0)
            .toInt();
    };
    QCOMPARE(journalEntries("'qk_alarm_acks', 'qk_alarm_verifications'"), 2);
    QVector<RecordJournalVerdict> verdicts;
    connect(window, &AlarmsWindow::journalChecked,
            [&verdicts](const RecordJournalVerdict &verdict) { verdicts << verdict; });
    window->checkJournal();
    QTRY_COMPARE_WITH_TIMEOUT(verdicts.size(), 1, 20000);
    QCOMPARE(verdicts.first().state, RecordJournalVerdict::State::Intact);
    QVERIFY(window->findChild<QLabel *>(QStringLiteral("label_journal"))
                ->text()
                .startsWith(QStringLiteral("Journal: record intact")));

    // The settings in force are in the chain too: a limit widened afterwards shows.
    QVERIFY(journalEntries("'qk_settings'") >= 2);
    QVERIFY(TestSupport::sqliteCli(database, QStringLiteral("update qk_settings set ch1_high = 40 "
                                                            "where entry = 1")));
    window->checkJournal();
    QTRY_COMPARE_WITH_TIMEOUT(verdicts.size(), 2, 20000);
    QCOMPARE(verdicts.last().text(),
             QStringLiteral("record altered: qk_settings row 1 was changed"));
    sim.stop();
}

QTEST_MAIN(tst_AlarmsWindow)
#include "tst_alarmswindow.moc"
