#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTimeZone>

#include "report/periodreport.h"

// The command line of DavavoZurer:
//
//   DavavoZurer                                   asks for a project
//   DavavoZurer [--kind K] project.qlk            opens the window on it
//   DavavoZurer 'path with spaces/project.qlk'    as the recorder starts it
//   DavavoZurer --date YYYY-MM-DD --pdf out.pdf [--csv out.csv] project.qlk
//   DavavoZurer --week 2026-W49 --pdf out.pdf [--csv out.csv] project.qlk
//   DavavoZurer --month 2026-11 --pdf out.pdf [--csv out.csv] project.qlk
//   DavavoZurer --haccp --from YYYY-MM-DD --to YYYY-MM-DD --pdf out.pdf project.qlk
//                                                 write the files, no window
class ReportCommandLine
{
public:
    enum ExitCode {
        Success = 0,
        UsageError = 1,   // unknown option, bad date, no project named
        ProjectError = 2, // the project file cannot be read
        DataError = 3,    // no database, or it cannot be read
        WriteError = 4,   // an output file cannot be written
        NoData = 5,       // the files were written, but the period holds no data
    };

    // False with `error` set when the arguments (without the program name)
    // make no sense.
    bool parse(const QStringList &arguments, QString *error);

    bool help() const { return m_help; }
    // Files are asked for: no window is opened.
    bool batch() const { return !m_pdf.isEmpty() || !m_csv.isEmpty(); }
    QString projectPath() const { return m_project; }
    PeriodReport::Kind kind() const { return m_kind; }
    // The first day of the period (invalid: the report's default).
    QDate date() const { return m_date; }
    // Days of the period (0: as the kind has it).
    int days() const { return m_days; }
    double mktEnergy() const { return m_mktEnergy; }
    QString pdfPath() const { return m_pdf; }
    QString csvPath() const { return m_csv; }

    static QString helpText();
    // Writes the files; the exit code, with a one-line reason in `error`.
    int runBatch(const QTimeZone &zone, QString *error) const;

private:
    bool m_help = false;
    QString m_project;
    PeriodReport::Kind m_kind = PeriodReport::Kind::Daily;
    QDate m_date;
    QDate m_to;
    int m_days = 0;
    double m_mktEnergy = PeriodStatistics::kDefaultMktEnergy;
    bool m_everyRow = false;
    QString m_pdf;
    QString m_csv;
};
