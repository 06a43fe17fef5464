#include "common/common.h"
#include "loopbackpeers.h"
#include "projectfixture.h"
#include "testsupport.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

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
    auto start = [&](QProcess &process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir.path());
        // The reason is a debug line, off by default.
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("quillark.app.debug=true"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(TestSupport::binaryDir() + QStringLiteral("/quillark-lite-modbus"),
                      QStringList());
        return process.waitForStarted(10000);
    };
    // Process id written in the instance lock; 0 while there is none.
    auto lockOwner = [&] {
        QFile lock(runtimeDir.filePath(QStringLiteral("Quillark Lite Modbus.lock")));
        return lock.open(QIODevice::ReadOnly) ? lock.readLine().trimmed().toLongLong() : 0;
    };

    QProcess first, second, next, third;
    QVERIFY(start(first));
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == first.processId(); }, 20000));
    QVERIFY(start(second) && second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(second.readAll().contains("another instance is running"), "ended for another reason");
    QCOMPARE(first.state(), QProcess::Running);

    // SIGKILL leaves the lock behind; the next start takes it over and keeps running.
    const qint64 deadPid = first.processId();
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QCOMPARE(lockOwner(), deadPid);
    QVERIFY(start(next));
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == next.processId(); }, 20000));
    QTest::qWait(500);
    QCOMPARE(next.state(), QProcess::Running);

    // ...and it in turn keeps a further start out.
    QVERIFY(start(third) && third.waitForFinished(20000));
    QCOMPARE(third.exitCode(), 0);
    QCOMPARE(next.state(), QProcess::Running);
    next.kill();
    QVERIFY(next.waitForFinished(10000));
}

// The benchmark hook: first paints of the window and of the project centre
// noted in order, the project opened from the recent list, then the program
// quits by itself.
void tst_Main::benchmarkHookOpensTheRecentProjectAndQuits()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const TestSupport::DeadPort dead; // the gateway stays unreachable
    const QString project = dir.filePath(QStringLiteral("bench.qlk"));
    QVERIFY(TestSupport::writeProject(project, 1000, {dead.port()}));
    {
        TestSupport::isolateSettingsIn(dir.filePath(QStringLiteral("config")));
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation,
                           kAppName);
        settings.beginGroup(QStringLiteral("RecentProjects"));
        settings.setValue(QStringLiteral("list"), QStringList{QStringLiteral("bench")});
        settings.setValue(QStringLiteral("projects"),
                          QVariantHash{{QStringLiteral("bench"), project}});
    }
    const QString probe = dir.filePath(QStringLiteral("probe"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("QUILLARK_BENCH_PROBE"), probe);
    env.insert(QStringLiteral("QUILLARK_BENCH_OPEN_RECENT"), QStringLiteral("1"));
    env.insert(QStringLiteral("QUILLARK_BENCH_EXIT"), QStringLiteral("1"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(TestSupport::binaryDir() + QStringLiteral("/quillark-lite-modbus"),
                  QStringList());
    QVERIFY(program.waitForStarted(10000));
    QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QFile file(probe);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].startsWith("window ") && lines[1].startsWith("project "));
    QVERIFY(lines[0].mid(7).toLongLong() <= lines[1].mid(8).toLongLong());
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
