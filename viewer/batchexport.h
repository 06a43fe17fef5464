#pragma once

#include "viewer/csvexporter.h"

#include <QString>
#include <QStringList>

class QTextStream;

// The command line of the viewer. With --csv it exports without a window:
//
//   RideZodazo --csv out.csv [--from "YYYY-MM-DD hh:mm:ss"] [--to "..."]
//              [--device NUMBER ...] [--separator S] [--decimal-comma] [--bom]
//              [--full-precision] project.qlk|record.dat
//
// and exits 0 when the file was written, else with one of the codes below
// and a one-line reason on stderr.
class BatchExport
{
public:
    enum ExitCode {
        Ok = 0,
        UsageError = 1,    // unknown option, bad date, missing project argument
        ProjectError = 2,  // project file unreadable, unknown device
        DatabaseError = 3, // no database, not a record database, locked, damaged
        WriteError = 4,    // output cannot be written (folder, full disk)
    };

    // What the command line asks for.
    struct Options {
        bool help = false;
        bool batch = false; // --csv given
        QString csvPath;
        QString projectPath; // without the single quotes the recorder adds
        QString from;
        QString to;
        QStringList devices;
        CsvExporter::Format format;
        QString error; // set when the line cannot be understood
    };

    static Options parse(const QStringList &arguments);
    static QString helpText();
    // Runs the export; messages go to `err`.
    static int run(const Options &options, QTextStream &err);

    // A SQLite file not named as a project: a record file opened on its own.
    static bool isRecordFile(const QString &path);
    // The recorder hands the path over in single quotes.
    static QString unquotePath(const QString &path);
};
