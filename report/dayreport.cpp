#include "report/dayreport.h"

#include <QFileInfo>

#include "common/common.h"
#include "record/recordreader.h"
#include "report/recordordercache.h"

const QString DayReport::kNoDataFile = QStringLiteral("There is no data file.");

QString DayReport::unquotedPath(const QString &argument)
{
    const QString trimmed = argument.trimmed();
    if (trimmed.size() >= 2 && trimmed.startsWith(QLatin1Char('\'')) &&
        trimmed.endsWith(QLatin1Char('\'')))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

bool DayReport::loadProject(const QString &projectPath, QString *error)
{
    m_computed = false;
    const QString path = unquotedPath(projectPath);
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("There is no project file %1.").arg(path);
        return false;
    }
    QString reason;
    if (!m_project.load(path, &reason)) {
        // One line: batch mode prints it as its reason.
        *error = m_project.reason.isEmpty()
                     ? reason
                     : reason + QLatin1Char(' ') + m_project.reason.simplified();
        return false;
    }
    qCDebug(lcReport).noquote() << "DayReport::loadProject :" << m_project.path;
    return true;
}

QString DayReport::projectTitle() const
{
    return m_project.projectName.isEmpty() ? QFileInfo(m_project.path).completeBaseName()
                                           : m_project.projectName;
}

QDate DayReport::defaultDay(const ProjectDocument &project, const QDate &today)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QDateTime started = QDateTime::fromString(project.recordStartTime, format);
    const QDateTime stopped = QDateTime::fromString(project.recordStopTime, format);
    if (!stopped.isValid() || (started.isValid() && started > stopped))
        return today;
    return stopped.date();
}

bool DayReport::compute(const QDate &day, const QTimeZone &zone, const QDateTime &now,
                        QString *error)
{
    m_computed = false;
    m_generatedAt = now;
    const QString databasePath = m_project.databasePath();
    if (!QFileInfo::exists(databasePath)) {
        *error = kNoDataFile;
        return false;
    }
    RecordReader reader;
    if (!reader.open(databasePath)) {
        *error = reader.errorText();
        return false;
    }
    QString reason;
    if (!RecordOrderCache::apply(reader, &reason)) {
        *error = reason;
        return false;
    }

    m_timeOrdered = reader.timeOrdered();

    const int interval =
        m_project.dataInterval > 0 ? m_project.dataInterval : kDefaultDataIntervalMs;
    m_statistics.start(day, zone, interval, now.toSecsSinceEpoch());
    for (const ProjectDocument::Node &node : m_project.nodes()) {
        m_statistics.addDevice(
            node.deviceName, node.deviceNumber, node.ch1Name,
            unitDisplayText(node.ch1Unit, node.ch1Custom), node.ch1Min, node.ch1Max, node.ch2Name,
            unitDisplayText(node.ch2Unit, node.ch2Custom), node.ch2Min, node.ch2Max);
    }
    const bool read = reader.forEachRowInTime(
        m_statistics.windowStart(), m_statistics.windowEnd() - 1, {}, [this](const RecordRow &row) {
            m_statistics.addRow(row);
            return true;
        });
    if (!read) {
        *error = reader.errorText();
        return false;
    }
    m_statistics.finish();
    m_computed = true;
    qCDebug(lcReport).noquote() << "DayReport::compute :" << day.toString(Qt::ISODate)
                                << m_statistics.totalRows() << "rows";
    return true;
}
