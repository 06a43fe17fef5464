#include "testsupport.h"

#include "app/quillarkmain.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace
{

// Test machines have no sound server: the recorder's notice about its alarm
// sound is switched off unless a test asks for it.
void quietAlarmSound()
{
    QuillarkMain::alarmSoundProblem = nullptr;
}
Q_COREAPP_STARTUP_FUNCTION(quietAlarmSound)

} // namespace

namespace TestSupport
{

void isolateSettings()
{
    QStandardPaths::setTestModeEnabled(true);
}

QString sourceDir()
{
    return QStringLiteral(QK_SOURCE_DIR);
}

QString binaryDir()
{
    return QStringLiteral(QK_BINARY_DIR);
}

QJsonArray csvReadByPython(const QString &path, QChar delimiter)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f, delimiter=sys.argv[2], "
                                 "strict=True))))\n"),
                  path, QString(delimiter)});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

QStringList pdfPages(const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("pdftotext"),
                  {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return {};
    QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

bool waitUntilFinished(QProcess &process, int timeoutMs)
{
    if (process.state() != QProcess::NotRunning)
        process.waitForFinished(timeoutMs);
    return process.state() == QProcess::NotRunning && process.error() != QProcess::FailedToStart;
}

ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &environment, int timeoutMs)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun run;
    if (!waitUntilFinished(process, timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool setWritable(const QString &path, bool writable)
{
    if (geteuid() == 0)
        return QProcess::execute(QStringLiteral("chattr"),
                                 {writable ? QStringLiteral("-i") : QStringLiteral("+i"), path}) ==
               0;
    const QFile::Permissions kept =
        QFile::ReadOwner | (QFileInfo(path).isDir() ? QFile::ExeOwner : QFile::ReadGroup);
    return QFile::setPermissions(path, writable ? kept | QFile::WriteOwner : kept);
}

} // namespace TestSupport

QByteArray TestSupport::fileDigest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}
