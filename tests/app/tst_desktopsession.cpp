// The real program under Xvfb, driven with xdotool as a user would: open the
// demo project through the file dialog, record, stop, close the project and
// exit. The demo's two gateways run in this process on loopback. Every step
// leaves a screenshot in <build>/test-screens/desktop.
#include "gatewaysimulator.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class tst_DesktopSession : public QObject
{
    Q_OBJECT

private slots:
    void openRecordStopCloseExit();
};

void tst_DesktopSession::openRecordStopCloseExit()
{
    for (const char *tool : {"Xvfb", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString screens = TestSupport::binaryDir() + "/test-screens/desktop";
    QPoint origin;
    auto run = [&](const QString &program, const QStringList &arguments) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, arguments);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput());
    };
    auto xdotool = [&](const QStringList &arguments) {
        return run("xdotool", arguments).split('\n', Qt::SkipEmptyParts);
    };
    auto click = [&](int x, int y) {
        xdotool({"mousemove", QString::number(origin.x() + x), QString::number(origin.y() + y),
                 "click", "1"});
    };
    auto screenshot = [&](const QString &name) {
        run("import", {"-window", "root", screens + "/" + name + ".png"});
    };
    // Opens the title bar's "Project" menu and clicks the entry at (x, y).
    // A negative y picks the menu's last entry with the keyboard instead.
    auto chooseFromProjectMenu = [&](qint64 pid, int x, int y) {
        auto windows = [&] {
            return xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}).size();
        };
        const int before = windows();
        click(263, 18);
        const bool opened = QTest::qWaitFor([&] { return windows() > before; }, 5000);
        QTest::qWait(300);
        screenshot(
            QStringLiteral("menu-%1").arg(y < 0 ? QStringLiteral("last") : QString::number(y)));
        if (y < 0)
            xdotool({"key", "Up", "Return"});
        else
            click(x, y);
        return opened;
    };

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    QVERIFY(QTest::qWaitFor([&] { return xvfb.canReadLine(); }, 10000));
    QDir(screens).removeRecursively();
    QVERIFY(QDir().mkpath(screens) && QDir().mkpath(dir.filePath("home/.config")));
    // A private runtime folder: the single-instance lock of other copies must not stop this one.
    QVERIFY(QDir().mkpath(dir.filePath("runtime")));
    QFile::setPermissions(dir.filePath("runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert("DISPLAY", ":" + QString::fromLatin1(xvfb.readLine()).trimmed());
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("HOME", dir.filePath("home"));
    env.insert("XDG_CONFIG_HOME", dir.filePath("home/.config"));
    env.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));

    // The demo project, pointed at two gateways on free loopback ports.
    GatewaySimulator::Options options;
    options.port = 0;
    options.devices = 8;
    GatewaySimulator first(options), second(options);
    QVERIFY(first.start() && second.start());
    QFile demo(TestSupport::sourceDir() + "/examples/demo.qlk");
    QVERIFY(demo.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(demo.readAll());
    const QString port = QStringLiteral("\\\"DevicePort\\\": \\\"%1\\\"");
    QVERIFY(text.contains(port.arg(1502)) && text.contains(port.arg(1503)));
    text.replace(port.arg(1502), port.arg(first.serverPort()))
        .replace(port.arg(1503), port.arg(second.serverPort()));
    const QString project = dir.filePath("demo.qlk");
    QFile out(project);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(text.toUtf8()) > 0);
    out.close();

    QProcess app;
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.setStandardOutputFile(screens + "/program.log");
    app.start(TestSupport::binaryDir() + "/quillark-lite-modbus", QStringList());
    QVERIFY(app.waitForStarted(5000));

    // The main window appears after the splash.
    QString window;
    QVERIFY(QTest::qWaitFor(
        [&] {
            for (const QString &id :
                 xdotool({"search", "--onlyvisible", "--name", "^Quillark Lite Modbus$"})) {
                if (run("xdotool", {"getwindowgeometry", id}).contains("1152x620"))
                    return !(window = id).isEmpty();
            }
            return false;
        },
        20000));
    const QRegularExpressionMatch at = QRegularExpression("Position: (\\d+),(\\d+)")
                                           .match(run("xdotool", {"getwindowgeometry", window}));
    QVERIFY(at.hasMatch());
    origin = QPoint(at.captured(1).toInt(), at.captured(2).toInt());
    QTest::qWait(500);
    screenshot("1-start");
    // Without a sound server the program says so first (the message closes
    // itself after a few seconds); close it as a user would, and go on only
    // once no other window of the program is on show.
    QTest::qWait(1000);
    QVERIFY(QTest::qWaitFor(
        [&] {
            bool other = false;
            for (const QString &id :
                 xdotool({"search", "--onlyvisible", "--pid", QString::number(app.processId())})) {
                const QRegularExpressionMatch box =
                    QRegularExpression("Position: (\\d+),(\\d+).*Geometry: (\\d+)x(\\d+)",
                                       QRegularExpression::DotMatchesEverythingOption)
                        .match(run("xdotool", {"getwindowgeometry", id}));
                if (id == window || !box.hasMatch() || box.captured(3).toInt() >= 1152)
                    continue;
                other = true;
                xdotool({"mousemove",
                         QString::number(box.captured(1).toInt() + box.captured(3).toInt() - 58),
                         QString::number(box.captured(2).toInt() + box.captured(4).toInt() - 19),
                         "click", "1"});
            }
            return !other;
        },
        15000));
    QTest::qWait(500);

    // "Open Project", type the path into the file dialog.
    click(306, 180);
    QVERIFY(QTest::qWaitFor(
        [&] {
            return !xdotool({"search", "--onlyvisible", "--name", "^Open Project$"}).isEmpty();
        },
        10000));
    QTest::qWait(500);
    screenshot("2-dialog");
    xdotool({"type", "--delay", "20", project});
    xdotool({"key", "Return"});
    const QString database = dir.filePath("demo.dat");
    QVERIFY(QTest::qWaitFor([&] { return QFileInfo::exists(database); }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return first.requestCount() >= 2 && second.requestCount() >= 2; },
                            10000));
    screenshot("3-open");

    // Record for a few seconds, then stop.
    auto projectValue = [&](const char *key) {
        return QSettings(project, QSettings::IniFormat).value(key).toString();
    };
    click(68, 572);
    QVERIFY(QTest::qWaitFor([&] { return !projectValue("record_start_time").isEmpty(); }, 10000));
    QTest::qWait(4000);
    screenshot("4-recording");
    click(68, 572);
    QVERIFY(QTest::qWaitFor([&] { return !projectValue("record_stop_time").isEmpty(); }, 10000));
    QTest::qWait(500);
    screenshot("5-stopped");

    // Project > Close, then Project > Exit.
    QVERIFY(chooseFromProjectMenu(app.processId(), 262, 77));
    QTest::qWait(800);
    screenshot("6-closed");
    QVERIFY(chooseFromProjectMenu(app.processId(), 0, -1)); // Exit
    QVERIFY(QTest::qWaitFor([&] { return app.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);
    xvfb.terminate();
    xvfb.waitForFinished(5000);

    // What the session left behind, read from this process.
    QVERIFY(projectValue("record_start_time") <= projectValue("record_stop_time"));
    const QVariantList counts =
        TestSupport::sqlRows(database, "select count(*), sum(channel1 is null and "
                                       "channel2 is null), count(distinct serialno) from fennolink")
            .value(0);
    QVERIFY2(counts.value(0).toInt() >= 16 * 3, qPrintable(counts.value(0).toString()));
    QCOMPARE(counts.value(1).toInt(), 16); // one gap row per device
    QCOMPARE(counts.value(2).toInt(), 16);
    QSettings recent(dir.filePath("home/.config/QuillarkLite/Quillark Lite Modbus.conf"),
                     QSettings::IniFormat);
    QCOMPARE(recent.value("RecentProjects/list").toStringList(), QStringList{"demo"});
}

QTEST_MAIN(tst_DesktopSession)
#include "tst_desktopsession.moc"
