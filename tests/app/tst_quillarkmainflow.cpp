// The main window driven end to end through its start screen against a Modbus
// gateway on loopback: load, live values, recording checked with plain SQL,
// Add/Delete, close, the recent projects and new projects. Then the project
// file as a user meets it: what a load leaves out and a missing interval are
// told, a file that cannot be saved is told once, and names from the file are
// shown literally everywhere.
#include "app/projectfile.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "common/common.h"
#include "common/projectdocument.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "gatewayfixture.h"
#include "loopbackpeers.h"
#include "project/projectmanager.h"
#include "project/treemodel.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"
#include "view/dashboarddeviceitem.h"
#include "view/projectcenter.h"

#include <QAction>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QSettings>
#include <QTextDocument>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include <unistd.h>

namespace
{

// One connection on a closed loopback port (nothing answers; the window only
// needs the names) holding `nodes` as JSON texts.
QByteArray deviceList(const QList<QByteArray> &nodes)
{
    QByteArray json =
        R"({"devices":[{"DeviceInterface":"127.0.0.1","DevicePort":"9","DeviceModel":"QA100","nodes":[)";
    for (int i = 0; i < nodes.size(); ++i)
        json += (i ? "," : "") + nodes.at(i);
    return json + "]}]}";
}

QByteArray node(int start, const QString &name, const QString &id, const QString &ch1 = "CH1",
                const QString &unit = QString())
{
    const QJsonObject entry{{"StartAddress", QString::number(start)},
                            {"DeviceName", name},
                            {"DeviceNumber", id},
                            {"Ch1Name", ch1},
                            {"ch1_unit", "4"},
                            {"ch1_custom", unit}};
    return QJsonDocument(entry).toJson(QJsonDocument::Compact);
}

bool makeProject(const QString &path, const QVariant &interval, const QByteArray &json)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("projectName", QFileInfo(path).completeBaseName());
    if (interval.isValid())
        settings.setValue("DataInterval", interval);
    settings.setValue("DeviceList", json);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

QStringList recentList()
{
    QSettings s(QSettings::NativeFormat, QSettings::UserScope, "QuillarkLite",
                "Quillark Lite Modbus");
    return s.value("RecentProjects/list").toStringList();
}

void checkProjectEntries(QuillarkMain &w, bool enabled)
{
    for (const char *name : {"actionAddDelete", "actionClose", "actionRefreshDevices",
                             "actionDataViewer", "actionExpansionMode"})
        QVERIFY2(w.menuAction(name)->isEnabled() == enabled, name);
}

// What a tool tip shows: rich text where Qt takes it for such.
QString shownToolTip(const QString &tip)
{
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

} // namespace

class tst_QuillarkMainFlow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void loadRecordStopAgainstSimulator();
    void recentListAndNewProjects();
    void leftOutAndIntervalTold_data();
    void leftOutAndIntervalTold();
    void failedSaveToldOnce();
    void namesShownLiterally();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QTemporaryDir m_settingsDir;
};

void tst_QuillarkMainFlow::init()
{
    QVERIFY(m_settingsDir.isValid());
    TestSupport::isolateSettingsIn(m_settingsDir.path());
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "QuillarkLite", "Quillark Lite Modbus")
        .clear();
    dataIntervalMs = 10000;
    InsertSerialData::clearQueue();
}

void tst_QuillarkMainFlow::cleanup()
{
    // A test that failed half way may have left a file locked.
    if (geteuid() == 0)
        QProcess::execute("chattr", {"-R", "-i", m_dir->path()});
}

void tst_QuillarkMainFlow::loadRecordStopAgainstSimulator()
{
    GatewaySimulator sim(TestSupport::frozenGateway(2));
    QVERIFY(sim.start());
    const float ch[] = {21.5f, 48.25f, -3.75f, 61.5f}; // ch1, ch2 of each device
    sim.setDeviceValues(0, ch[0], ch[1], 170, 70);
    sim.setDeviceValues(1, ch[2], ch[3], 170, 70);
    const QString path = m_dir->filePath("flow.qlk");
    const QString database = m_dir->filePath("flow.dat");
    QVERIFY(TestSupport::writeProject(path, 1000, {sim.serverPort()}, 2));
    QuillarkMain w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.m_projectCenter && w.projectOpen && !w.m_projectMain);
    QCOMPARE(recentList(), QStringList{"flow"});
    checkProjectEntries(w, true);

    // Live values reach the dashboard's tiles (the nodes' are checked in the rows recorded).
    const QList<NodeDevice *> nodes = w.m_deviceList.first()->nodeList();
    QCOMPARE(nodes.size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(nodes[1]->ch2Tile()->findChild<QLabel *>("label_number")->text(),
                              "61.50", 10000);

    // Record through the centre's button for a few intervals; closing is refused meanwhile.
    auto *record = w.m_projectCenter->findChild<QToolButton *>("btn_record");
    record->click();
    QVERIFY(w.m_bIsRecordStart && w.m_dbTimer->isActive());
    QVERIFY(!w.menuAction("actionExit")->isEnabled() && !w.menuAction("actionClose")->isEnabled());
    const QString startText = w.m_projectCenter->recordStartTime();
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_start_time").toString(),
             startText);
    QVERIFY(!w.close());
    // Batches of 8 rows with one connection.
    QTRY_VERIFY_WITH_TIMEOUT(TestSupport::sqlRows(database, "select id from fennolink").size() >= 8,
                             15000);
    const qint64 lastPoll = w.m_deviceList.first()->lastPollTime().toSecsSinceEpoch();
    record->click();
    QVERIFY(!w.m_bIsRecordStart);
    // The last rows go by the writer's thread; the timer stops once they are out.
    QTRY_COMPARE(InsertSerialData::pendingCount(), 0);
    QTRY_VERIFY(!w.m_dbTimer->isActive());
    QVERIFY(w.menuAction("actionExit")->isEnabled());
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("record_stop_time").toString(),
             w.m_projectCenter->recordEndTime());

    const qint64 start = QDateTime::fromString(startText, "yyyy-MM-dd hh:mm:ss").toSecsSinceEpoch();
    for (int n = 0; n < 2; ++n) {
        const QList<QVariantList> rows =
            TestSupport::sqlRows(database, "select channel1, channel2, pointDate "
                                           "from fennolink where serialno = '" +
                                               nodes[n]->deviceNumber() + "' order by id");
        QVERIFY2(rows.size() >= 5, qPrintable(QString::number(rows.size())));
        // The gateway's values, then one gap row one interval after the last poll.
        for (int i = 0; i + 1 < rows.size(); ++i) {
            QCOMPARE(rows[i][0].toDouble(), double(ch[2 * n]));
            QCOMPARE(rows[i][1].toDouble(), double(ch[2 * n + 1]));
            QVERIFY(rows[i][2].toLongLong() >= start);
        }
        QVERIFY(rows.last()[0].isNull() && rows.last()[1].isNull());
        QCOMPARE(rows.last()[2].toLongLong(), lastPoll + 1);
    }

    // Refresh, then Add/Delete: the editor holds the list; confirming brings new pollers.
    w.menuAction("actionRefreshDevices")->trigger();
    QVERIFY(w.m_deviceList.first()->isRefreshPending());
    w.menuAction("actionAddDelete")->trigger();
    QVERIFY(w.m_projectManager && !w.m_projectCenter && !w.projectOpen && !w.m_insertSerialData);
    QVERIFY(!w.m_deviceTimer->isActive());
    QCOMPARE(w.m_projectManager->model()->rowCount(w.m_projectManager->model()->index(0, 0)), 2);
    w.m_projectManager->slotProjectListConfirm();
    QTRY_VERIFY(!w.m_projectManager);
    QVERIFY(w.m_projectCenter && w.projectOpen && w.m_deviceTimer->isActive());
    QTRY_COMPARE(w.m_deviceList.first()->nodeList().first()->ch1Text(),
                 QString::number(ch[0], 'f', 2));
    // The re-made devices keep their units and alarm limits.
    const NodeDevice *kept = w.m_deviceList.first()->nodeList().last();
    QCOMPARE(kept->ch1Unit(), 1);
    QCOMPARE(kept->ch2Unit(), 3);
    QCOMPARE(kept->alarmRange(), (QVector<float>{-100.f, 100.f, -100.f, 100.f}));

    // Close: the start screen is back, nothing of the project is left, the interval is reset.
    w.menuAction("actionClose")->trigger();
    QVERIFY(w.m_projectMain && !w.m_projectCenter && !w.projectOpen && !w.m_insertSerialData);
    QVERIFY(w.m_deviceList.isEmpty() && !w.m_deviceTimer->isActive());
    QCOMPARE(dataIntervalMs, 10000);
    for (const char *name : {"label_interval", "label_projectname"})
        QVERIFY(w.findChild<QLabel *>(name)->text().isEmpty());
    checkProjectEntries(w, false);
    QVERIFY(w.close());
}

void tst_QuillarkMainFlow::recentListAndNewProjects()
{
    const TestSupport::DeadPort dead; // nobody listens: values stay empty
    const QString first = m_dir->filePath("first.qlk"), second = m_dir->filePath("second.qlk");
    QVERIFY(TestSupport::writeProject(first, 5000, {dead.port()}) &&
            TestSupport::writeProject(second, 60000, {dead.port()}));
    QuillarkMain w;
    // Opening a known project again leaves the list as it is.
    for (const QString &path : {first, second, first}) {
        emit w.m_projectMain->projectLoaded(path);
        QVERIFY(w.projectOpen);
        w.menuAction("actionClose")->trigger();
    }
    QCOMPARE(recentList(), (QStringList{"second", "first"}));

    // A new project: start screen -> editor.
    auto create = [&](const QString &name) {
        const QString path = m_dir->filePath(name + ".qlk");
        QFile(path).open(QIODevice::WriteOnly);
        emit w.m_projectMain->projectCreated(path);
        return path;
    };
    const QString draft = create("draft");
    QVERIFY(w.m_projectManager && !w.m_projectMain && !w.projectOpen);
    QVERIFY(w.menuAction("actionClose")->isEnabled() &&
            !w.menuAction("actionAddDelete")->isEnabled());

    // Closed before its list was confirmed, it is refused on load.
    w.menuAction("actionClose")->trigger();
    QTRY_VERIFY(!w.m_projectManager);
    ProjectMain *screen = w.m_projectMain;
    QVERIFY(screen);
    emit screen->projectLoaded(draft);
    QVERIFY(w.m_projectMain == screen && !w.m_projectCenter && !w.projectOpen);
    QCOMPARE(TestSupport::shownMessages(&w),
             QStringList{"ERROR|There is no device information!\nThe project has no device list: "
                         "its devices were never confirmed in the project editor."});
    QCOMPARE(recentList(), (QStringList{"second", "first"}));

    // Confirmed, it opens at the default interval and heads the list.
    const QString fresh = create("fresh");
    QList<ConfiguredDevice *> devices;
    QVERIFY(ProjectFile::read(first, &devices));
    emit w.m_projectManager->projectListConfirm(devices);
    QTRY_VERIFY(!w.m_projectManager);
    QVERIFY(w.m_projectCenter && w.projectOpen);
    QCOMPARE(w.findChild<QLabel *>("label_interval")->text(), "Interval : 10 sec");
    QCOMPARE(recentList(), (QStringList{"fresh", "second", "first"}));
    QCOMPARE(QSettings(fresh, QSettings::IniFormat).value("DeviceList"),
             QSettings(first, QSettings::IniFormat).value("DeviceList"));

    // A recent entry whose file vanished is dropped by the next window.
    w.menuAction("actionClose")->trigger();
    QVERIFY(QFile::remove(second));
    QuillarkMain next;
    QCOMPARE(next.m_recentList, (QStringList{"fresh", "first"}));
    QCOMPARE(next.m_projectMain->findChild<QListWidget *>()->count(), 2);
}

// A load that leaves devices out (bad start address, an ID used twice) or
// finds no usable interval says so in one message, and the file keeps its interval
// through an Add/Delete confirmation.
void tst_QuillarkMainFlow::leftOutAndIntervalTold_data()
{
    QTest::addColumn<QVariant>("interval");
    QTest::addColumn<int>("devices"); // |devices| at 0, 8, ...; -1 adds a bad address, -2 a twin
    QTest::addColumn<QString>("message");
    const QString none = "The project file gives no data interval; the project runs at 10 sec.";
    const QString left = "WARNING|Some entries of the project file were left out:\n- Device ";
    QTest::newRow("all fine") << QVariant(1000) << 3 << QString();
    QTest::newRow("no interval") << QVariant() << 3 << "INFORMATION|" + none;
    QTest::newRow("interval abc") << QVariant("abc") << 3
                                  << "INFORMATION|The data interval \"abc\" of the project file "
                                     "is not one the program offers; the project runs at 10 sec.";
    QTest::newRow("bad address, no interval")
        << QVariant() << -1
        << left +
               "\"Odd\" (ID 0x10) under 127.0.0.1:9: its \"StartAddress\" \"0x10\" is not a "
               "whole number from 0 to 106.\n\n" +
               none;
    QTest::newRow("two devices, one ID")
        << QVariant(1000) << -2
        << left + "\"Twin\" (ID ID1) under 127.0.0.1:9: its \"DeviceNumber\" \"ID1\" is already "
                  "used by another device of the project.";
}

void tst_QuillarkMainFlow::leftOutAndIntervalTold()
{
    QFETCH(QVariant, interval);
    QFETCH(int, devices);
    QFETCH(QString, message);
    QList<QByteArray> nodes;
    for (int i = 0; i < qAbs(devices); ++i)
        nodes << node(i * 8, QStringLiteral("D%1").arg(i), QStringLiteral("ID%1").arg(i));
    if (devices == -1)
        nodes << QByteArray(R"({"StartAddress":"0x10","DeviceName":"Odd","DeviceNumber":"0x10"})");
    if (devices == -2)
        nodes << node(16, "Twin", "ID1");
    const QString path = m_dir->filePath("plant.qlk");
    QVERIFY(makeProject(path, interval, deviceList(nodes)));
    QuillarkMain w;
    w.show();
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.findChild<ProjectCenter *>());
    QCOMPARE(TestSupport::shownMessages(&w),
             message.isEmpty() ? QStringList() : QStringList{message});
    const bool usable = isValidDataInterval(interval.toInt());
    QCOMPARE(dataIntervalMs, usable ? interval.toInt() : kDefaultDataIntervalMs);

    // Add/Delete and confirm: the device list is rewritten, the interval the
    // user never chose is not.
    w.menuAction("actionAddDelete")->trigger();
    auto *editor = w.findChild<ProjectManager *>();
    QVERIFY(editor);
    emit editor->findChild<QToolButton *>("btn_confirm")->clicked();
    QTRY_VERIFY(w.findChild<ProjectCenter *>());
    QSettings stored(path, QSettings::IniFormat);
    QCOMPARE(stored.value("DataInterval"),
             interval.isValid() ? QVariant(interval.toString()) : QVariant());
    ProjectDocument document;
    QVERIFY(document.load(path));
    QCOMPARE(document.nodes().size(), qAbs(devices));
}

// A read-only project file: the user is told once (with the reason); once
// writable again the next save goes through and a later failure is told
// again. (What the file holds meanwhile is the project file test's.)
void tst_QuillarkMainFlow::failedSaveToldOnce()
{
    const QString path = m_dir->filePath("locked.qlk");
    QVERIFY(makeProject(path, 1000, deviceList({node(0, "Freezer", "F1")})));
    QuillarkMain w;
    w.show();
    emit w.m_projectMain->projectLoaded(path);
    auto *center = w.findChild<ProjectCenter *>();
    QVERIFY(center && TestSupport::shownMessages(&w).isEmpty());
    auto lock = [&](bool locked) { return TestSupport::setWritable(path, !locked); };
    if (!lock(true))
        QSKIP("no way to make a file read-only here");
    emit center->updateProjectFile();
    emit center->updateProjectFile();
    emit center->clickRecord(); // start: writes "record_start_time"
    emit center->clickRecord(); // stop
    const QString told =
        "ERROR|The project file could not be saved:\n" + QDir::toNativeSeparators(path) +
        "\nThe file is read-only.\nThe changes are kept only until the project is closed.";
    QCOMPARE(TestSupport::shownMessages(&w), QStringList{told});

    QVERIFY(lock(false));
    emit center->updateProjectFile(); // goes through: a later failure is told again
    QVERIFY(lock(true));
    emit center->updateProjectFile();
    QVERIFY(lock(false));
    QCOMPARE(TestSupport::shownMessages(&w), (QStringList{told, told}));
}

// Names that look like markup are shown as typed: in the tiles, the device
// list, the chart view, tool tips and messages. An image named by a name is
// never loaded, "<b>" is never bold.
void tst_QuillarkMainFlow::namesShownLiterally()
{
    const QString image = m_dir->filePath("big.png");
    QImage big(300, 300, QImage::Format_RGB32);
    big.fill(Qt::red);
    QVERIFY(big.save(image));
    const QString bold = "<b>Freezer</b> with a name long enough to be cut in a tile";
    const QString img = "<img src=\"" + image + "\">";
    const QString path = m_dir->filePath("markup.qlk");
    QVERIFY(makeProject(
        path, 1000,
        deviceList({node(0, bold, "<i>ID</i>", img, "<u>u</u>"), node(8, "Plain", "P2"),
                    QByteArray(R"({"StartAddress":"x","DeviceName":"<b>left out</b>"})")})));
    QSettings(path, QSettings::IniFormat).setValue("projectName", "<b>P</b>");
    QuillarkMain w;
    w.show();
    emit w.m_projectMain->projectLoaded(path);
    QVERIFY(w.findChild<ProjectCenter *>());
    QCoreApplication::processEvents();

    int marked = 0;
    for (QLabel *label : w.findChildren<QLabel *>()) {
        const QString text = label->text();
        if (!text.contains('<'))
            continue;
        ++marked;
        QVERIFY2(label->textFormat() == Qt::PlainText || !Qt::mightBeRichText(text),
                 qPrintable(text));
        QVERIFY2(label->sizeHint().height() < 100, qPrintable(text));
        if (!label->toolTip().isEmpty())
            QVERIFY(QStringList({bold, img}).contains(shownToolTip(label->toolTip())));
    }
    QVERIFY(marked >= 4);
    for (QListWidget *list : w.findChildren<QListWidget *>()) {
        for (int i = 0; i < list->count(); ++i) {
            const QString tip = list->item(i)->toolTip();
            if (tip.contains('<'))
                QCOMPARE(shownToolTip(tip), "<i>ID</i>");
        }
    }
    const QStringList shown = TestSupport::shownMessages(&w);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.at(0).contains("Device \"<b>left out</b>\" (ID )"), qPrintable(shown.at(0)));
}

QTEST_MAIN(tst_QuillarkMainFlow)
#include "tst_quillarkmainflow.moc"
