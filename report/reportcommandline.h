#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTimeZone>

class QTextStream;

// The command line of DavavoZurer:
//
//   DavavoZurer                                   asks for a project
//   DavavoZurer project.qlk                       opens the window on it
//   DavavoZurer 'path with spaces/project.qlk'    as the recorder starts it
//   DavavoZurer --date YYYY-MM-DD --pdf out.pdf [--csv out.csv] project.qlk
//                                                 writes the files, no window
class ReportCommandLine
{
public:
    enum ExitCode {
        Success = 0,
        UsageError = 1,   // unknown option, bad date, no project named
        ProjectError = 2, // the project file cannot be read
        DataError = 3,    // no database, or it cannot be read
        WriteError = 4,   // an output file cannot be written
    };

    // False with `error` set when the arguments (without the program name)
    // make no sense.
    bool parse(const QStringList &arguments, QString *error);

    bool help() const { return m_help; }
    // Files are asked for: no window is opened.
    bool batch() const { return !m_pdf.isEmpty() || !m_csv.isEmpty(); }
    QString projectPath() const { return m_project; }
    QDate date() const { return m_date; }
    QString pdfPath() const { return m_pdf; }
    QString csvPath() const { return m_csv; }

    static QString helpText();
    // Writes the files; the exit code, with a one-line reason in `error`.
    int runBatch(const QTimeZone &zone, QString *error) const;

private:
    bool m_help = false;
    QString m_project;
    QDate m_date;
    QString m_pdf;
    QString m_csv;
};
