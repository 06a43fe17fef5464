#pragma once

// Helpers shared by the installation and packaging tests: running the tools
// (cmake, cpack, validators) and starting an installed recorder.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <functional>

namespace InstallCheck
{

struct Result {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
    QString describe(const QString &what) const
    {
        return QStringLiteral("%1: %2 (exit %3)\n%4%5")
            .arg(what, finished ? QStringLiteral("finished") : QStringLiteral("did not finish"))
            .arg(exitCode)
            .arg(out, err);
    }
    bool ok() const { return finished && exitCode == 0; }
};

inline Result run(const QString &program, const QStringList &arguments,
                  const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                  int timeoutMs = 60000)
{
    Result result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        result.err = program + QStringLiteral(" did not start: ") + process.errorString();
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// The files every installation holds, relative to the prefix. A non-empty
// source is the file in the source tree the installed one must equal
// (after decompression when gzipped).
struct ExpectedFile {
    QString path;
    QString source;
    bool executable = false;
    bool gzipped = false;
};

inline QList<ExpectedFile> expectedFiles(bool withViewer, bool withReport)
{
    QList<ExpectedFile> files;
    auto add = [&files](const QString &path, const QString &source, bool gzipped = false) {
        files.append({path, source, source.isEmpty(), gzipped});
    };
    QStringList programs{"quillark-lite-modbus", "quillark-gateway-sim"};
    QStringList ids{"org.quillark.LiteModbus"};
    for (const auto &[with, program] :
         {std::pair{withViewer, "RideZodazo"}, std::pair{withReport, "DavavoZurer"}}) {
        if (with) {
            programs << program;
            ids << QStringLiteral("org.quillark.") + program;
        }
    }
    for (const QString &program : programs) {
        add("bin/" + program, QString());
        add(QString("share/man/man1/%1.1.gz").arg(program), "packaging/man/" + program + ".1",
            true);
    }
    for (const QString &id : ids) {
        add(QString("share/applications/%1.desktop").arg(id), "packaging/" + id + ".desktop");
        add(QString("share/icons/hicolor/scalable/apps/%1.svg").arg(id),
            "packaging/icons/" + id + ".svg");
    }
    add("share/icons/hicolor/scalable/mimetypes/application-x-quillark-project.svg",
        "packaging/icons/application-x-quillark-project.svg");
    add("share/mime/packages/quillark-lite-modbus.xml", "packaging/quillark-project.xml");
    add("share/metainfo/org.quillark.LiteModbus.metainfo.xml",
        "packaging/org.quillark.LiteModbus.metainfo.xml");
    const QString doc = "share/doc/quillark-lite-modbus/";
    add(doc + "README.md", "README.md");
    add(doc + "examples/demo.qlk", "examples/demo.qlk");
    add(doc + "copyright", "packaging/copyright");
    add(doc + "changelog.gz", "packaging/changelog", true);
    return files;
}

// Environment of an installed program run by a test: offscreen, with a
// home, configuration and runtime folder of its own under scratch, UTC, and
// nothing of the build tree to help it along.
inline QProcessEnvironment isolatedEnvironment(const QString &scratch)
{
    const QString home = scratch + QStringLiteral("/home");
    const QString runtime = scratch + QStringLiteral("/runtime");
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("TMPDIR"), scratch);
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    env.remove(QStringLiteral("QT_PLUGIN_PATH"));
    return env;
}

// Starts an installed window program and checks that it is still running
// after settleMs, or, for the recorder (ready given), once ready() holds and
// settleMs more have passed. Returns what went wrong, or an empty text.
inline QString runProblem(const QString &binary, const QStringList &arguments,
                          const QString &scratch, int settleMs,
                          const std::function<bool(qint64 pid)> &ready = {})
{
    QProcess program;
    program.setProcessEnvironment(isolatedEnvironment(scratch));
    program.setWorkingDirectory(scratch);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(binary, arguments);
    if (!program.waitForStarted(10000))
        return QStringLiteral("does not start: ") + program.errorString();

    QString problem;
    if (ready && !QTest::qWaitFor([&]() { return ready(program.processId()); }, 30000))
        problem = QStringLiteral("never got ready");
    if (problem.isEmpty()) {
        QTest::qWait(settleMs);
        if (program.state() != QProcess::Running)
            problem = QStringLiteral("ended with exit code %1").arg(program.exitCode());
    }
    program.kill();
    program.waitForFinished(10000);
    const QString output = QString::fromLocal8Bit(program.readAll());
    return problem.isEmpty() ? problem : problem + QStringLiteral("\n") + output;
}

// The installed recorder gets as far as taking its instance lock and is
// still running once the 2.5 s splash is over and its main window is up.
inline QString recorderRunProblem(const QString &binary, const QString &scratch)
{
    const QString lockPath = scratch + QStringLiteral("/runtime/Quillark Lite Modbus.lock");
    auto lockedBy = [lockPath](qint64 pid) {
        QFile lock(lockPath);
        return lock.open(QIODevice::ReadOnly) && lock.readLine().trimmed().toLongLong() == pid;
    };
    return runProblem(binary, QStringList(), scratch, 3500, lockedBy);
}

} // namespace InstallCheck
