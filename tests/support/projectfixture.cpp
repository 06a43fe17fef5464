#include "projectfixture.h"

#include "app/quillarkmain.h"

#include "app/projectfile.h"
#include "common/messagedialog.h"
#include "device/configureddevice.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGroupBox>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextBrowser>

namespace
{

// As in testsupport.cpp, for tests that use only this part of the support
// library: no notice about the alarm sound unless a test asks for it.
void quietAlarmSoundHere()
{
    QuillarkMain::alarmSoundProblem = nullptr;
}
Q_COREAPP_STARTUP_FUNCTION(quietAlarmSoundHere)

} // namespace

namespace TestSupport
{

namespace
{

ProjectFile::Connection gateway(quint16 port)
{
    ProjectFile::Connection entry;
    entry.ipAddress = QStringLiteral("127.0.0.1");
    entry.port = port;
    entry.model = QStringLiteral("QA100");
    return entry;
}

bool writeConnections(const QString &path, int dataIntervalMs,
                      const QVector<ProjectFile::Connection> &entries)
{
    if (!ProjectFile::create(path, QFileInfo(path).completeBaseName(), dataIntervalMs))
        return false;
    QList<ConfiguredDevice *> devices = ProjectFile::build(entries);
    const bool ok = ProjectFile::write(devices, path);
    qDeleteAll(devices);
    return ok;
}

} // namespace

bool writeProject(const QString &path, int dataIntervalMs, const QVector<quint16> &ports, int nodes,
                  float ch1Min, float ch1Max)
{
    QVector<ProjectFile::Connection> entries;
    for (int c = 0; c < ports.size(); ++c) {
        entries << gateway(ports[c]);
        for (int n = 0; n < nodes; ++n) {
            entries.last().nodes << projectDevice(
                QStringLiteral("QK%1%2")
                    .arg(c, 2, 10, QLatin1Char('0'))
                    .arg(n, 14, 10, QLatin1Char('0')),
                QStringLiteral("Device %1").arg(c * nodes + n + 1), ch1Min, ch1Max, -100, 100);
            entries.last().nodes.last().startAddress = n * 8;
        }
    }
    return writeConnections(path, dataIntervalMs, entries);
}

ProjectDocument::Node projectDevice(const QString &serial, const QString &name, float ch1Min,
                                    float ch1Max, float ch2Min, float ch2Max)
{
    ProjectFile::Node node;
    node.deviceNumber = serial;
    node.deviceName = name;
    node.ch1Name = QStringLiteral("Temperature");
    node.ch2Name = QStringLiteral("Humidity");
    node.ch1Unit = 1;
    node.ch2Unit = 3;
    node.ch1Min = ch1Min;
    node.ch1Max = ch1Max;
    node.ch2Min = ch2Min;
    node.ch2Max = ch2Max;
    return node;
}

bool writeDeviceProject(const QString &path, int dataIntervalMs,
                        const QVector<ProjectDocument::Node> &devices, const QString &recordStart,
                        const QString &recordStop)
{
    QFile::remove(path);
    QVector<ProjectFile::Connection> entries;
    for (int i = 0; i < devices.size(); ++i) {
        if (i % 8 == 0)
            entries << gateway(quint16(502 + i / 8));
        entries.last().nodes << devices.at(i);
        entries.last().nodes.last().startAddress = i % 8 * 8;
    }
    return writeConnections(path, dataIntervalMs, entries) &&
           (recordStart.isNull() ||
            ProjectFile::writeValue(path, QStringLiteral("record_start_time"), recordStart)) &&
           (recordStop.isNull() ||
            ProjectFile::writeValue(path, QStringLiteral("record_stop_time"), recordStop));
}

QString databaseOf(const QString &projectPath)
{
    const QFileInfo project(projectPath);
    return project.absolutePath() + QLatin1Char('/') + project.completeBaseName() +
           QStringLiteral(".dat");
}

QStringList shownMessages(const QWidget *parent)
{
    QStringList out;
    for (MessageDialog *d : parent->findChildren<MessageDialog *>())
        out << d->findChild<QGroupBox *>()->title() + '|' +
                   d->findChild<QTextBrowser *>()->toPlainText();
    return out;
}

QList<QVariantList> sqlRows(const QString &databasePath, const QString &statement)
{
    QList<QVariantList> rows;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("testsupport"));
        db.setDatabaseName(databasePath);
        QSqlQuery q(db);
        if (!db.open() || !q.exec(statement))
            qWarning("sqlRows: %s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
        while (q.isSelect() && q.next()) {
            QVariantList row;
            for (int i = 0; i < q.record().count(); ++i)
                row << q.value(i);
            rows << row;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("testsupport"));
    return rows;
}

QStringList sqlTexts(const QString &databasePath, const QString &statement)
{
    QStringList texts;
    for (const QVariantList &row : sqlRows(databasePath, statement)) {
        QStringList values;
        for (const QVariant &value : row)
            values << (value.isNull() ? QStringLiteral("NULL") : value.toString());
        texts << values.join(QLatin1Char(' '));
    }
    return texts;
}

bool sqliteCli(const QString &databasePath, const QString &sql)
{
    QProcess cli;
    cli.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), databasePath, sql});
    if (!cli.waitForStarted() || (cli.state() != QProcess::NotRunning && !cli.waitForFinished()))
        return false;
    if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
        qWarning("sqlite3: %s: %s", qPrintable(sql), cli.readAllStandardError().constData());
        return false;
    }
    return true;
}

void isolateSettingsIn(const QString &dir)
{
    isolateSettings();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir);
}

} // namespace TestSupport
