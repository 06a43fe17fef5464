#include "common/common.h"
#include "gatewayfixture.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QProcess>
#include <QSettings>

#include <QTemporaryDir>
#include <QtTest>
#include <sqlite3.h>

static const QString kProgram = TestSupport::binaryDir() + QStringLiteral("/quillark-lite-modbus");

// The real program (offscreen, and on an X display) and its single-instance rule.
class tst_Main : public QObject
{
    Q_OBJECT

private slots:
    void secondStartEndsAtOnceAndKilledInstanceDoesNotBlock();
    void benchmarkHookOpensTheRecentProjectAndQuits();
    void recordsOnAnXDisplay_data();
    void recordsOnAnXDisplay();
};

namespace
{

// A project at `project` that the start screen lists first, and the
// environment of a program run that opens it through the benchmark hook
// (which notes first paints in `probe`).
QProcessEnvironment openingRecent(const QTemporaryDir &dir, const QString &project,
                                  const QString &probe)
{
    TestSupport::isolateSettingsIn(dir.filePath("config"));
    {
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation,
                           kAppName);
        settings.setValue("RecentProjects/list", QStringList{"bench"});
        settings.setValue("RecentProjects/projects", QVariantHash{{"bench", project}});
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QUILLARK_BENCH_PROBE", probe);
    env.insert("QUILLARK_BENCH_OPEN_RECENT", "1");
    return env;
}

} // namespace

void tst_Main::secondStartEndsAtOnceAndKilledInstanceDoesNotBlock()
{
    TestSupport::isolateSettings();
    QTemporaryDir runtimeDir; // keeps the lock apart from a program the user runs
    QVERIFY(runtimeDir.isValid());
    // Offscreen as this test (ctest's environment); the reason is a debug line, off by default.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtimeDir.path());
    env.insert("QT_LOGGING_RULES", "quillark.app.debug=true");
    auto start = [&](QProcess &process) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(kProgram, QStringList());
        return process.waitForStarted(10000);
    };
    // Process id written in the instance lock; 0 while there is none.
    auto lockOwner = [&] {
        QFile lock(runtimeDir.filePath("Quillark Lite Modbus.lock"));
        return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
    };

    QProcess first, second, next, third;
    QVERIFY(start(first));
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == first.processId(); }, 20000));
    QVERIFY(start(second) && TestSupport::waitUntilFinished(second, 20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(second.readAll().contains("another instance is running"), "ended for another reason");
    QCOMPARE(first.state(), QProcess::Running);

    // SIGKILL leaves the lock behind; the next start takes it over and keeps running.
    const qint64 deadPid = first.processId();
    first.kill();
    QVERIFY(TestSupport::waitUntilFinished(first, 10000));
    QCOMPARE(lockOwner(), deadPid);
    QVERIFY(start(next));
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == next.processId(); }, 20000));

    // ...and it in turn keeps a further start out.
    QVERIFY(start(third) && TestSupport::waitUntilFinished(third, 20000));
    QCOMPARE(third.exitCode(), 0);
    QCOMPARE(next.state(), QProcess::Running);
    next.kill();
    QVERIFY(TestSupport::waitUntilFinished(next, 10000));
}

// The benchmark hook: first paints of the window and of the project centre
// noted in order, the project opened from the recent list, then the program
// quits by itself.
void tst_Main::benchmarkHookOpensTheRecentProjectAndQuits()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const TestSupport::DeadPort dead; // the gateway stays unreachable
    const QString project = dir.filePath("bench.qlk");
    QVERIFY(TestSupport::writeProject(project, 1000, {dead.port()}));
    const QString probe = dir.filePath("probe");
    QProcessEnvironment env = openingRecent(dir, project, probe);
    env.insert("QUILLARK_BENCH_EXIT", "1");
    QCOMPARE(TestSupport::runProgram(kProgram, {}, env).code, 0);
    QFile file(probe);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith("window ") && lines[1].startsWith("project "));
    QVERIFY(lines[0].mid(7).toLongLong() <= lines[1].mid(8).toLongLong());
}

void tst_Main::recordsOnAnXDisplay_data()
{
    QTest::addColumn<bool>("displayEnds");
    QTest::newRow("SIGTERM") << false;
    QTest::newRow("the X server ends") << true;
}

void tst_Main::recordsOnAnXDisplay()
{
    // The program on an X server (Xvfb, which picks a free display), polling
    // a gateway on loopback, starts recording as a user's click would. On
    // SIGTERM, or when the display goes away under it (Qt then ends the
    // program), it stops the recording as Stop would: each device's closing
    // row without values goes in, after every row still waiting.
    QFETCH(bool, displayEnds);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    GatewaySimulator gateway(TestSupport::frozenGateway(2));
    QVERIFY(gateway.start());
    const QString project = dir.filePath("bench.qlk");
    QVERIFY(TestSupport::writeProject(project, 1000, {gateway.serverPort()}, 2));
    QProcess xvfb;
    xvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
    QVERIFY2(xvfb.waitForStarted(), "Xvfb is not installed");
    QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() != QProcess::Running, 30000);
    const QByteArray display = xvfb.readLine().trimmed();
    QVERIFY2(!display.isEmpty(), "Xvfb did not start");
    QProcessEnvironment env = openingRecent(dir, project, dir.filePath("probe"));
    env.insert("DISPLAY", ":" + display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("QUILLARK_BENCH_USE", "1");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(kProgram, QStringList());
    QVERIFY(program.waitForStarted());
    const auto devicesRecorded = [&dir](const QByteArray &where = QByteArray()) {
        sqlite3 *db = nullptr;
        sqlite3_stmt *query = nullptr;
        int devices = 0;
        if (sqlite3_open_v2(dir.filePath("bench.dat").toUtf8(), &db, SQLITE_OPEN_READONLY,
                            nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "select count(distinct serialno) from fennolink " + where, -1,
                               &query, nullptr) == SQLITE_OK &&
            sqlite3_step(query) == SQLITE_ROW)
            devices = sqlite3_column_int(query, 0);
        sqlite3_finalize(query);
        sqlite3_close(db);
        return devices;
    };
    QTRY_VERIFY_WITH_TIMEOUT(devicesRecorded() == 2 || program.state() != QProcess::Running, 60000);
    QCOMPARE(program.state(), QProcess::Running);
    (displayEnds ? xvfb : program).terminate();
    QVERIFY(TestSupport::waitUntilFinished(program, 30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), displayEnds ? 1 : 0);
    xvfb.terminate();
    QVERIFY(TestSupport::waitUntilFinished(xvfb, 30000));
    QCOMPARE(devicesRecorded("where channel1 is null and channel2 is null"), 2);
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
