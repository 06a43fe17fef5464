#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "app/topcustomframe.h"
#include "testsupport.h"

#include <QAction>
#include <QCommandLinkButton>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QUuid>
#include <QVBoxLayout>
#include <QtTest>

class tst_QuillarkMain : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void frameAfterConstruction();
    void menuEntries_data();
    void menuEntries();
    void enabledStatesAfterConstruction();
    void otherReportsNeverAvailable();
    void menusPopUpBelowTheirButtons_data();
    void menusPopUpBelowTheirButtons();
    void doubleClickTogglesFullScreen();
    void fullScreenMenuEntry();
    void titleBarSignals();
    void closeRefusedWhileRecording();
    void exitEntryCloses();
    void aboutBox();
    void alarmSoundStartsOnce();

private:
    static QStringList entries(QMenu *menu);
};

QStringList tst_QuillarkMain::entries(QMenu *menu)
{
    QStringList out;
    for (QAction *a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

void tst_QuillarkMain::frameAfterConstruction()
{
    QuillarkMain w;
    QCOMPARE(w.objectName(), QStringLiteral("QuillarkMain"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Quillark Lite Modbus"));
    QCOMPARE(w.size(), QSize(1152, 620));
    QCOMPARE(w.findChild<QLabel *>("label_version")->text(), QStringLiteral("V1.03"));
    QCOMPARE(w.findChild<QWidget *>("menuFrame")->metaObject()->className(), "TopCustomFrame");
    QCOMPARE(w.findChild<QWidget *>("menuFrame")->height(), 40);
    for (const char *name : {"label_top_logo", "label_bottom_logo", "label_projectname", "label_interval",
                             "label_record_state", "centralFrame", "statusFrame", "line_1", "line_2",
                             "line_3", "line_4"})
        QVERIFY2(w.findChild<QWidget *>(name), name);
    const QStringList buttons{"command_project", "command_record", "command_screen", "command_help"};
    const QStringList texts{"Project", "Record", "Window", "Help"};
    for (int i = 0; i < buttons.size(); ++i)
        QCOMPARE(w.findChild<QCommandLinkButton *>(buttons[i])->text(), texts[i]);

    const QString clock = w.findChild<QLabel *>("label_datetime")->text();
    QVERIFY2(QDateTime::fromString(clock, "dd/MM/yyyy HH:mm:ss").isValid(), qPrintable(clock));

    // The start screen is the one page of the central area.
    auto *central = w.findChild<QWidget *>("centralFrame");
    auto *layout = qobject_cast<QVBoxLayout *>(central->layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 1);
    QVERIFY(qobject_cast<ProjectMain *>(layout->itemAt(0)->widget()));
    QCOMPARE(w.m_projectMain, layout->itemAt(0)->widget());
    QVERIFY(!w.m_projectManager && !w.m_projectCenter && !w.m_insertSerialData);

    QVERIFY(w.m_stdTimer->isActive());
    QCOMPARE(w.m_stdTimer->interval(), 1000);
    QVERIFY(!w.m_deviceTimer->isActive());
    QVERIFY(!w.m_dbTimer->isActive());
    QVERIFY(!w.projectOpen && !w.m_bIsRecordStart && !w.alarmPlaying);

    QVERIFY(!QUuid(QByteArray::fromBase64(w.m_databaseId.toLatin1())).isNull());
    QuillarkMain other;
    QVERIFY(other.m_databaseId != w.m_databaseId);

    QCOMPARE(w.m_player->media().request().url(), QUrl("qrc:///critical.mp3"));
}

void tst_QuillarkMain::menuEntries_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("project") << "project" << "Project"
                             << QStringList{"Add/Delete", "Close", "-", "Refresh Devices", "-", "Exit"};
    QTest::newRow("record") << "record" << "Record" << QStringList{"Data Viewer", "-", "Report"};
    QTest::newRow("report") << "report" << "Report"
                            << QStringList{"Daily Report", "Weekly Report", "Monthly Report", "HACCP Report"};
    QTest::newRow("view") << "view" << "View" << QStringList{"FullScreen", "-", "Expansion Mode"};
}

void tst_QuillarkMain::menuEntries()
{
    QFETCH(QString, menu);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);

    QuillarkMain w;
    QMenu *m = menu == "project" ? w.projectMenu()
               : menu == "record" ? w.recordMenu()
               : menu == "report" ? w.reportMenu()
                                  : w.viewMenu();
    QCOMPARE(m->title(), title);
    QCOMPARE(this->entries(m), entries);
    QCOMPARE(m->styleSheet(), QStringLiteral("background-color: rgb(203, 203, 203);"));
    QVERIFY(m->font().bold());
}

void tst_QuillarkMain::enabledStatesAfterConstruction()
{
    QuillarkMain w;
    for (const char *name : {"actionAddDelete", "actionClose", "actionRefreshDevices", "actionDataViewer",
                             "actionExpansionMode"}) {
        QAction *a = w.menuAction(name);
        QVERIFY2(a, name);
        QVERIFY2(!a->isEnabled(), name);
    }
    QVERIFY(!w.reportMenu()->menuAction()->isEnabled());
    QVERIFY(w.menuAction("actionExit")->isEnabled());
    QVERIFY(w.menuAction("actionFullScreen")->isEnabled());
    QVERIFY(w.menuAction("actionFullScreen")->isCheckable());
    QVERIFY(w.menuAction("actionExpansionMode")->isCheckable());
    QVERIFY(!w.menuAction("actionFullScreen")->isChecked());
}

void tst_QuillarkMain::otherReportsNeverAvailable()
{
    QuillarkMain w;
    // Even with the submenu open for use, only the daily report can be chosen.
    w.reportMenu()->setEnabled(true);
    QVERIFY(w.reportMenu()->menuAction()->isEnabled());
    QVERIFY(w.menuAction("actionDailyReport")->isEnabled());
    for (const char *name : {"actionWeeklyReport", "actionMonthlyReport", "actionHaccpReport"}) {
        QAction *a = w.menuAction(name);
        QVERIFY2(a && a->isVisible() && !a->isEnabled(), name);
        QVERIFY2(!a->isCheckable(), name);
    }
}

void tst_QuillarkMain::menusPopUpBelowTheirButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("menu");
    QTest::newRow("project") << "command_project" << "Project";
    QTest::newRow("record") << "command_record" << "Record";
    QTest::newRow("window") << "command_screen" << "View";
}

void tst_QuillarkMain::menusPopUpBelowTheirButtons()
{
    QFETCH(QString, button);
    QFETCH(QString, menu);

    QuillarkMain w;
    w.move(30, 20);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *b = w.findChild<QCommandLinkButton *>(button);
    QTest::mouseClick(b, Qt::LeftButton);
    QMenu *m = w.projectMenu()->isVisible() ? w.projectMenu()
               : w.recordMenu()->isVisible() ? w.recordMenu()
                                             : w.viewMenu();
    QVERIFY(m->isVisible());
    QCOMPARE(m->title(), menu);
    const QPoint expected(w.geometry().left() + b->geometry().left() + 5,
                          w.geometry().top() + b->geometry().bottom() + 1);
    // The offscreen platform may add its own 2-pixel frame to the pop-up.
    const QPoint off = m->geometry().topLeft() - expected;
    QVERIFY2(off.x() >= 0 && off.x() <= 2 && off.y() >= 0 && off.y() <= 2,
             qPrintable(QStringLiteral("menu at %1,%2").arg(off.x()).arg(off.y())));
    m->hide();
}

void tst_QuillarkMain::doubleClickTogglesFullScreen()
{
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *frame = w.findChild<TopCustomFrame *>("menuFrame");
    QAction *full = w.menuAction("actionFullScreen");

    QTest::mouseDClick(frame, Qt::LeftButton, {}, QPoint(600, 20));
    QTRY_VERIFY(w.isFullScreen());
    QVERIFY(full->isChecked());

    QTest::mouseDClick(frame, Qt::LeftButton, {}, QPoint(600, 20));
    QTRY_VERIFY(!w.isFullScreen());
    QVERIFY(!full->isChecked());
}

void tst_QuillarkMain::fullScreenMenuEntry()
{
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAction *full = w.menuAction("actionFullScreen");
    full->trigger();
    QVERIFY(full->isChecked());
    QTRY_VERIFY(w.isFullScreen());
    full->trigger();
    QVERIFY(!full->isChecked());
    QTRY_VERIFY(!w.isFullScreen());
}

void tst_QuillarkMain::titleBarSignals()
{
    QWidget parent;
    TopCustomFrame frame(&parent);
    frame.resize(200, 40);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    QSignalSpy click(&frame, &TopCustomFrame::customClick);
    QSignalSpy move(&frame, &TopCustomFrame::customMove);
    QSignalSpy dbl(&frame, &TopCustomFrame::customDoubleClick);
    QTest::mousePress(&frame, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(click.count(), 1);
    QCOMPARE(click.at(0).at(0).toPoint(), frame.mapToGlobal(QPoint(10, 10)));
    QMouseEvent drag(QEvent::MouseMove, QPointF(30, 12), QPointF(frame.mapToGlobal(QPoint(30, 12))),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&frame, &drag);
    QCOMPARE(move.count(), 1);
    QCOMPARE(move.at(0).at(0).toPoint(), frame.mapToGlobal(QPoint(30, 12)));
    QTest::mouseRelease(&frame, Qt::LeftButton, {}, QPoint(30, 12));
    QTest::mouseDClick(&frame, Qt::LeftButton, {}, QPoint(12, 12));
    QCOMPARE(dbl.count(), 1);
}

void tst_QuillarkMain::closeRefusedWhileRecording()
{
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.m_bIsRecordStart = true;
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QVERIFY(w.m_stdTimer->isActive());

    w.m_bIsRecordStart = false;
    QVERIFY(w.close());
    QVERIFY(!w.isVisible());
    QVERIFY(!w.m_stdTimer->isActive());
}

void tst_QuillarkMain::exitEntryCloses()
{
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.menuAction("actionExit")->trigger();
    QVERIFY(!w.isVisible());
}

void tst_QuillarkMain::aboutBox()
{
    QString title, text;
    QuillarkMain::aboutBox = [&](QWidget *, const QString &t, const QString &x) {
        title = t;
        text = x;
    };
    QuillarkMain w;
    QTest::mouseClick(w.findChild<QCommandLinkButton *>("command_help"), Qt::LeftButton);
    QuillarkMain::aboutBox = nullptr;
    QCOMPARE(title, QStringLiteral("About QuillarkLiteModbus"));
    QVERIFY(text.contains("<b><font size=\"5\">Quillark Lite Modbus</font></b>"));
    QVERIFY(text.contains("V1.03"));
    QVERIFY(text.contains(":/img/quillark_lite_Modbus.png"));
    QVERIFY(text.contains("The lastest Version : <a href="));
    QVERIFY(text.contains(">Download</a>"));
}

void tst_QuillarkMain::alarmSoundStartsOnce()
{
    QuillarkMain w;
    w.slotAlarmAudioPlay();
    QVERIFY(w.alarmPlaying);
    w.slotAlarmAudioPlay();
    QVERIFY(w.alarmPlaying);
    w.slotAlarmAudioStop();
    QVERIFY(!w.alarmPlaying);
    QCOMPARE(w.m_player->state(), QMediaPlayer::StoppedState);
}

QTEST_MAIN(tst_QuillarkMain)
#include "tst_quillarkmain.moc"
