#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

#include "common/projectdocument.h"
#include "report/daystatistics.h"

// One daily report: the project it belongs to and the figures of the chosen
// day, read from the project's record database in one pass.
class DayReport
{
public:
    // Shown when the project has no record database (the recorder's own text).
    static const QString kNoDataFile;

    // Reads the project file; false with a one-line reason.
    bool loadProject(const QString &projectPath, QString *error);
    // Reads the day's rows; false with a one-line reason. `now` ends a day
    // that is not over yet and is printed as the time the report was made.
    bool compute(const QDate &day, const QTimeZone &zone, const QDateTime &now, QString *error);

    const ProjectDocument &project() const { return m_project; }
    const DayStatistics &statistics() const { return m_statistics; }
    bool hasStatistics() const { return m_computed; }
    QDateTime generatedAt() const { return m_generatedAt; }
    QString projectTitle() const;
    // False when the recorder's clock went back somewhere in the file.
    bool timeOrdered() const { return m_timeOrdered; }

    // The day a report opens on: the day recording stopped, or today while a
    // recording runs (or when the file names no period).
    static QDate defaultDay(const ProjectDocument &project, const QDate &today);

    // The project path as handed over by the recorder: in single quotes.
    static QString unquotedPath(const QString &argument);

private:
    ProjectDocument m_project;
    DayStatistics m_statistics;
    QDateTime m_generatedAt;
    bool m_computed = false;
    bool m_timeOrdered = true;
};
