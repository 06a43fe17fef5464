#include "common/common.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

static const QString kProgram = TestSupport::binaryDir() + QStringLiteral("/quillark-lite-modbus");

// The real program (offscreen) and its single-instance rule.
class tst_Main : public QObject
{
    Q_OBJECT

private slots:
    void secondStartEndsAtOnceAndKilledInstanceDoesNotBlock();
    void benchmarkHookOpensTheRecentProjectAndQuits();
};

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
    {
        TestSupport::isolateSettingsIn(dir.filePath("config"));
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation,
                           kAppName);
        settings.setValue("RecentProjects/list", QStringList{"bench"});
        settings.setValue("RecentProjects/projects", QVariantHash{{"bench", project}});
    }
    const QString probe = dir.filePath("probe");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", dir.path());
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("QUILLARK_BENCH_PROBE", probe);
    env.insert("QUILLARK_BENCH_OPEN_RECENT", "1");
    env.insert("QUILLARK_BENCH_EXIT", "1");
    QCOMPARE(TestSupport::runProgram(kProgram, {}, env).code, 0);
    QFile file(probe);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith("window ") && lines[1].startsWith("project "));
    QVERIFY(lines[0].mid(7).toLongLong() <= lines[1].mid(8).toLongLong());
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
