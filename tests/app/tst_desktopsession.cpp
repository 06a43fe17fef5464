// The real program under Xvfb, driven with xdotool as a user would: open the
// demo project through the file dialog, record, stop, close the project and
// exit. Both gateways of the demo run in this process on loopback. A
// screenshot is kept for every step in <build>/test-screens/desktop.
#include "gatewaysimulator.h"
#include "testsupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class tst_DesktopSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void openRecordStopCloseExit();

private:
    QString run(const QString &program, const QStringList &arguments);
    void click(int x, int y);
    void screenshot(const QString &name);
    bool waitFor(const std::function<bool()> &condition, int timeoutMs);
    int visibleWindows(qint64 pid);
    void openMenuAndChoose(qint64 pid, int x, int y);

    QTemporaryDir m_dir;
    QProcess m_xvfb;
    QString m_display;
    QString m_screens;
    QPoint m_origin;
    QProcessEnvironment m_env;
};

QString tst_DesktopSession::run(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.setProcessEnvironment(m_env);
    p.start(program, arguments);
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

void tst_DesktopSession::click(int x, int y)
{
    run("xdotool", {"mousemove", QString::number(m_origin.x() + x), QString::number(m_origin.y() + y), "click", "1"});
}

void tst_DesktopSession::screenshot(const QString &name)
{
    const QString file = m_screens + "/" + name + ".png";
    run("import", {"-window", "root", file});
    QVERIFY2(QFileInfo(file).size() > 0, qPrintable(file));
}

bool tst_DesktopSession::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (condition())
            return true;
        QTest::qWait(200); // keeps the in-process gateways answering
    }
    return condition();
}

int tst_DesktopSession::visibleWindows(qint64 pid)
{
    return run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)})
        .split('\n', Qt::SkipEmptyParts)
        .size();
}

// Opens the title bar's "Project" menu and picks the entry at (x, y).
void tst_DesktopSession::openMenuAndChoose(qint64 pid, int x, int y)
{
    const int before = visibleWindows(pid);
    click(263, 18);
    QVERIFY(waitFor([&] { return visibleWindows(pid) > before; }, 5000));
    QTest::qWait(300);
    screenshot(QStringLiteral("menu-%1").arg(y));
    click(x, y);
    QVERIFY(waitFor([&] { return visibleWindows(pid) == before; }, 5000));
}

void tst_DesktopSession::initTestCase()
{
    for (const char *tool : {"Xvfb", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(tool)));
    }
    if (!QFileInfo::exists(TestSupport::binaryDir() + "/quillark-lite-modbus"))
        QSKIP("the program is not built");
    QVERIFY(m_dir.isValid());

    m_xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    QVERIFY(m_xvfb.waitForStarted(5000));
    QVERIFY(waitFor([&] { return m_xvfb.canReadLine(); }, 10000));
    m_display = ":" + QString::fromLatin1(m_xvfb.readLine()).trimmed();

    m_screens = TestSupport::binaryDir() + "/test-screens/desktop";
    QDir(m_screens).removeRecursively();
    QVERIFY(QDir().mkpath(m_screens));

    m_env = QProcessEnvironment::systemEnvironment();
    m_env.insert("DISPLAY", m_display);
    m_env.insert("QT_QPA_PLATFORM", "xcb");
    m_env.insert("HOME", m_dir.filePath("home"));
    m_env.insert("XDG_CONFIG_HOME", m_dir.filePath("home/.config"));
    // A private runtime folder: the single-instance lock of other running
    // copies of the program must not stop this one.
    QVERIFY(QDir().mkpath(m_dir.filePath("runtime")));
    QFile::setPermissions(m_dir.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_env.insert("XDG_RUNTIME_DIR", m_dir.filePath("runtime"));
    QVERIFY(QDir().mkpath(m_dir.filePath("home/.config")));
}

void tst_DesktopSession::cleanupTestCase()
{
    if (m_xvfb.state() != QProcess::NotRunning) {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000))
            m_xvfb.kill();
    }
}

void tst_DesktopSession::openRecordStopCloseExit()
{
    // The two gateways of the demo, on free loopback ports.
    GatewaySimulator::Options options;
    options.port = 0;
    options.devices = 8;
    GatewaySimulator first(options), second(options);
    QVERIFY(first.start() && second.start());

    QFile demo(TestSupport::sourceDir() + "/examples/demo.qlk");
    QVERIFY(demo.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(demo.readAll());
    QVERIFY(text.contains("\\\"DevicePort\\\": \\\"1502\\\"") && text.contains("\\\"DevicePort\\\": \\\"1503\\\""));
    text.replace("\\\"DevicePort\\\": \\\"1502\\\"", QString("\\\"DevicePort\\\": \\\"%1\\\"").arg(first.serverPort()));
    text.replace("\\\"DevicePort\\\": \\\"1503\\\"", QString("\\\"DevicePort\\\": \\\"%1\\\"").arg(second.serverPort()));
    const QString project = m_dir.filePath("demo.qlk");
    {
        QFile out(project);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(text.toUtf8());
    }

    QProcess app;
    app.setProcessEnvironment(m_env);
    app.setProcessChannelMode(QProcess::MergedChannels);
    app.setStandardOutputFile(m_screens + "/program.log");
    app.start(TestSupport::binaryDir() + "/quillark-lite-modbus", QStringList());
    QVERIFY(app.waitForStarted(5000));

    // The main window appears after the splash.
    QString window;
    QVERIFY(waitFor([&] {
        const QStringList ids = run("xdotool", {"search", "--onlyvisible", "--name", "^Quillark Lite Modbus$"})
                                    .split('\n', Qt::SkipEmptyParts);
        for (const QString &id : ids) {
            if (run("xdotool", {"getwindowgeometry", id}).contains("1152x620")) {
                window = id;
                return true;
            }
        }
        return false;
    }, 20000));
    const QRegularExpressionMatch at =
        QRegularExpression("Position: (\\d+),(\\d+)").match(run("xdotool", {"getwindowgeometry", window}));
    QVERIFY(at.hasMatch());
    m_origin = QPoint(at.captured(1).toInt(), at.captured(2).toInt());
    QTest::qWait(500);
    screenshot("1-start");

    // "Open Project", type the path into the file dialog.
    click(306, 180);
    QVERIFY(waitFor([&] {
        return !run("xdotool", {"search", "--onlyvisible", "--name", "^Open Project$"}).trimmed().isEmpty();
    }, 10000));
    QTest::qWait(500);
    screenshot("2-dialog");
    run("xdotool", {"type", "--delay", "20", project});
    run("xdotool", {"key", "Return"});
    const QString database = m_dir.filePath("demo.dat");
    QVERIFY(waitFor([&] { return QFileInfo::exists(database); }, 10000));
    QVERIFY(waitFor([&] { return first.requestCount() >= 2 && second.requestCount() >= 2; }, 10000));
    screenshot("3-open");

    // Record for a few seconds, then stop.
    auto projectValue = [&](const char *key) { return QSettings(project, QSettings::IniFormat).value(key).toString(); };
    click(68, 572);
    QVERIFY(waitFor([&] { return !projectValue("record_start_time").isEmpty(); }, 10000));
    QTest::qWait(4000);
    screenshot("4-recording");
    click(68, 572);
    QVERIFY(waitFor([&] { return !projectValue("record_stop_time").isEmpty(); }, 10000));
    QTest::qWait(500);
    screenshot("5-stopped");

    // Project > Close, then Project > Exit.
    openMenuAndChoose(app.processId(), 262, 77);
    if (QTest::currentTestFailed())
        return;
    QTest::qWait(800);
    screenshot("6-closed");
    const int before = visibleWindows(app.processId());
    click(263, 18);
    QVERIFY(waitFor([&] { return visibleWindows(app.processId()) > before; }, 5000));
    QTest::qWait(300);
    click(256, 131);
    QVERIFY(waitFor([&] { return app.state() == QProcess::NotRunning; }, 10000));
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.exitCode(), 0);

    // What the session left behind.
    QVERIFY(projectValue("record_start_time") <= projectValue("record_stop_time"));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "desktop");
        db.setDatabaseName(database);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("select count(*), sum(channel1 is null and channel2 is null), count(distinct serialno) "
                       "from fennolink"));
        QVERIFY(q.next());
        QVERIFY2(q.value(0).toInt() >= 16 * 3, qPrintable(q.value(0).toString()));
        QCOMPARE(q.value(1).toInt(), 16); // one gap row per device
        QCOMPARE(q.value(2).toInt(), 16);
    }
    QSqlDatabase::removeDatabase("desktop");
    QSettings recent(m_dir.filePath("home/.config/QuillarkLite/Quillark Lite Modbus.conf"), QSettings::IniFormat);
    QCOMPARE(recent.value("RecentProjects/list").toStringList(), QStringList{"demo"});
}

QTEST_MAIN(tst_DesktopSession)
#include "tst_desktopsession.moc"
