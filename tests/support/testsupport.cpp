#include "testsupport.h"

#include <QDebug>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>

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

QJsonArray csvReadByPython(const QString &path)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f, strict=True))))\n"),
                  path});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        qWarning() << python.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(python.readAllStandardOutput()).array();
}

} // namespace TestSupport
