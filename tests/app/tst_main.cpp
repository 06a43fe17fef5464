#include "testsupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Starts the real program (offscreen) to check the single-instance rule.
class tst_Main : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secondStartEndsAtOnce();
    void startAfterKilledInstance();
    void cleanup();

private:
    void startProgram(QProcess &process);
    // Process id written in the instance lock; 0 while there is none.
    qint64 lockOwner() const;

    QTemporaryDir m_runtimeDir;
    QString m_program;
};

void tst_Main::initTestCase()
{
    TestSupport::isolateSettings();
    m_program = TestSupport::binaryDir() + QStringLiteral("/quillark-lite-modbus");
    QVERIFY2(QFileInfo(m_program).isExecutable(), qPrintable(m_program));
    QVERIFY(m_runtimeDir.isValid());
}

void tst_Main::cleanup()
{
    // The processes themselves were killed by their QProcess destructors.
    QFile::remove(m_runtimeDir.filePath(QStringLiteral("Quillark Lite Modbus.lock")));
}

void tst_Main::startProgram(QProcess &process)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A private runtime folder keeps the lock apart from a program the user runs.
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir.path());
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_program, QStringList());
}

qint64 tst_Main::lockOwner() const
{
    QFile lock(m_runtimeDir.filePath(QStringLiteral("Quillark Lite Modbus.lock")));
    if (!lock.open(QIODevice::ReadOnly))
        return 0;
    return lock.readLine().trimmed().toLongLong();
}

void tst_Main::secondStartEndsAtOnce()
{
    QProcess first;
    startProgram(first);
    QVERIFY(first.waitForStarted(10000));
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == first.processId(); }, 20000));

    QProcess second;
    startProgram(second);
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY2(second.readAll().contains("another instance is running"), "ended for another reason");

    // The first one is unaffected and still holds the lock.
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(lockOwner(), first.processId());
}

void tst_Main::startAfterKilledInstance()
{
    QProcess crashed;
    startProgram(crashed);
    QVERIFY(crashed.waitForStarted(10000));
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == crashed.processId(); }, 20000));
    const qint64 deadPid = crashed.processId();
    crashed.kill(); // SIGKILL: no chance to remove its lock
    QVERIFY(crashed.waitForFinished(10000));
    QCOMPARE(lockOwner(), deadPid);

    QProcess next;
    startProgram(next);
    QVERIFY(next.waitForStarted(10000));
    // The stale lock is taken over and the new instance keeps running.
    QVERIFY(QTest::qWaitFor([&]() { return lockOwner() == next.processId(); }, 20000));
    QTest::qWait(500);
    QCOMPARE(next.state(), QProcess::Running);

    // ...and it in turn keeps a further start out.
    QProcess third;
    startProgram(third);
    QVERIFY(third.waitForFinished(20000));
    QCOMPARE(third.exitCode(), 0);
    QCOMPARE(next.state(), QProcess::Running);
}

QTEST_MAIN(tst_Main)
#include "tst_main.moc"
