#pragma once

#include <QJsonArray>
#include <QString>
#include <QStringList>

class QProcess;
class QProcessEnvironment;

// Helpers shared by the test programs.
namespace TestSupport
{

// Puts QSettings and standard locations into test mode so that a test never
// touches the user's real settings. Call before the first QSettings is made.
void isolateSettings();

// Absolute path of the source tree (for tools and data files).
QString sourceDir();
// Absolute path of the build tree (for built tools such as the gateway simulator).
QString binaryDir();

// The rows of a CSV file as Python's csv module reads them (strict quoting,
// a byte order mark skipped), or nothing, with a warning, when it cannot.
QJsonArray csvReadByPython(const QString &path, QChar delimiter = QLatin1Char(','));

// The text of a PDF file as pdftotext (poppler) reads it, page by page;
// nothing when it cannot.
QStringList pdfPages(const QString &path);

// A digest of a file's content (empty when it cannot be read), to tell
// that a file was left alone.
QByteArray fileDigest(const QString &path);

// Waits until the process has ended, also when it ended before this call
// (waitForFinished() is false then, e.g. after other tests ran the event
// loop). False when it never started or still runs after timeoutMs.
bool waitUntilFinished(QProcess &process, int timeoutMs);

// How a program run to its end went: its exit code (-1 when it did not end
// in time, -2 when it crashed) and what it wrote.
struct ProgramRun {
    int code = -1;
    QString out;
    QString err;
};
// Runs `program` in `environment` until it ends; killed after timeoutMs.
ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QProcessEnvironment &environment, int timeoutMs = 60000);

// Makes a file or folder writable by its owner or not; for root, whom modes
// do not stop, through the immutable flag. False where neither works.
bool setWritable(const QString &path, bool writable);

} // namespace TestSupport
