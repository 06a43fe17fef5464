#pragma once

#include <QDate>
#include <QDateTime>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include "common/projectdocument.h"
#include "record/recordcontext.h"
#include "report/periodstatistics.h"

// One report of a project's recording: the project, the kind and period of
// the report and the figures read from the record database in one pass,
// with what the record file tells beside its samples (settings in force,
// alarm events and what was done about them, the journal's verdict).
class PeriodReport
{
public:
    enum class Kind { Daily, Weekly, Monthly, Haccp };
    enum class Outcome { Done, NoData, Failed };

    // Shown when the project has no record database (the recorder's own text).
    static const QString kNoDataFile;

    // Reads the project file; false with a one-line reason.
    bool loadProject(const QString &projectPath, QString *error);
    // Reads the rows of `days` days from `first`: Done, NoData (the period
    // holds no row of the project's devices) or Failed with a one-line
    // reason. `now` ends a period that is not over yet and is printed as the
    // time the report was made.
    Outcome compute(Kind kind, const QDate &first, int days, const QTimeZone &zone,
                    const QDateTime &now, QString *error,
                    double mktEnergy = PeriodStatistics::kDefaultMktEnergy);

    Kind kind() const { return m_kind; }
    const ProjectDocument &project() const { return m_project; }
    const PeriodStatistics &statistics() const { return m_statistics; }
    bool hasStatistics() const { return m_computed; }
    bool hasData() const { return m_statistics.totalRows() > 0; }
    QDateTime generatedAt() const { return m_generatedAt; }
    QString projectTitle() const;
    // "Daily report 2026-03-10", "Weekly report 2026-W49", ...
    QString title() const;
    // False when the recorder's clock went back somewhere in the file.
    bool timeOrdered() const { return m_timeOrdered; }
    // True when limits and interval come from the record file itself.
    bool settingsFromRecord() const { return m_settingsFromRecord; }
    // Remarks for the page: where the settings come from, an interval that
    // disagrees with the data, ...
    QStringList notes() const { return m_notes; }
    // Every settings entry of the period per serial (the first in force at
    // its start); empty when the record keeps none.
    QVector<RecordDeviceSettings> settingsChanges() const { return m_settingsChanges; }
    QVector<RecordAlarmEvent> alarmEvents() const { return m_events; }
    // The recorder's alarm event matching an excursion; null when none.
    const RecordAlarmEvent *eventFor(const QByteArray &serial, int channel,
                                     const PeriodStatistics::Excursion &excursion) const;
    RecordJournalVerdict journal() const { return m_journal; }

    // The day a report opens on: the day recording stopped, else the last
    // day with data; `today` when neither is known.
    static QDate defaultDay(const ProjectDocument &project, const QTimeZone &zone,
                            const QDate &today);
    // The days of [first, last] on which the database holds rows.
    static QSet<QDate> daysWithData(const QString &databasePath, const QDate &first,
                                    const QDate &last, const QTimeZone &zone);
    // "2026-W49" and "2026-11": the first day and the number of days; an
    // invalid date when the text is not one.
    static QDate weekStart(const QString &text);
    static QDate monthStart(const QString &text);
    // The period of a kind around `day`: its first day and length.
    static QDate periodStart(Kind kind, const QDate &day, int *days);

    // The project path as handed over by the recorder: in single quotes.
    static QString unquotedPath(const QString &argument);

    // From this many rows on, two connections read two halves of the period
    // at once (on a file whose rows are in time order).
    static constexpr qint64 kRowsToSplit = 500000;
    void setRowsToSplit(qint64 rows) { m_rowsToSplit = rows; }
    // Whether the stretch figures the recorder keeps stand for the rows
    // where they can (on by default).
    void setUseStretches(bool use) { m_useStretches = use; }

private:
    void readContext(RecordContext &context);
    int intervalFromData(class RecordReader &reader, int projectMs);
    // Feeds the rows of the period's window to the figures; false with a
    // reason on a read error.
    bool readRows(class RecordReader &reader, QString *error);

    Kind m_kind = Kind::Daily;
    ProjectDocument m_project;
    PeriodStatistics m_statistics;
    QDateTime m_generatedAt;
    bool m_computed = false;
    bool m_timeOrdered = true;
    qint64 m_rowsToSplit = kRowsToSplit;
    bool m_useStretches = true;
    bool m_settingsFromRecord = false;
    QStringList m_notes;
    QVector<RecordDeviceSettings> m_settingsChanges;
    QVector<RecordAlarmEvent> m_events;
    RecordJournalVerdict m_journal;
};
