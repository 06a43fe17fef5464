#include "viewer/batchexport.h"

#include "common/common.h"
#include "common/projectdocument.h"
#include "record/recordcontext.h"
#include "record/recordreader.h"
#include "viewer/csvexporter.h"
#include "viewer/localtime.h"
#include "viewer/seriescatalog.h"
#include "viewer/summarycache.h"

#include <QFileInfo>
#include <QTextStream>

#include <QFile>
#include <QRegularExpression>

#include <limits>

namespace
{

// Rows read at each end of a file to find the devices it holds.
constexpr int kDeviceProbeRows = 2000;

} // namespace

QString BatchExport::unquotePath(const QString &path)
{
    if (path.size() >= 2 && path.startsWith(QLatin1Char('\'')) && path.endsWith(QLatin1Char('\'')))
        return path.mid(1, path.size() - 2);
    return path;
}

QString BatchExport::helpText()
{
    return QStringLiteral(
        "Usage: RideZodazo [project.qlk]\n"
        "       RideZodazo --csv out.csv [--from \"YYYY-MM-DD hh:mm:ss\"] [--to \"YYYY-MM-DD "
        "hh:mm:ss\"]\n"
        "                  [--device NUMBER ...] [--separator S] [--decimal-comma] [--bom]\n"
        "                  [--full-precision] project.qlk|record.dat\n"
        "\n"
        "Shows the recordings of a Quillark Lite Modbus project, or of a record file on its\n"
        "own, or exports them to CSV. Times are local; the CSV holds each time as a local\n"
        "date-time, in ISO 8601 with its offset and in Unix seconds.\n"
        "\n"
        "Options:\n"
        "  --csv FILE        write the recording to FILE as CSV and exit, without a window\n"
        "  --from TIME       first time to export (local time; default: the first row)\n"
        "  --to TIME         last time to export (local time; default: the last row)\n"
        "  --device NUMBER   export only this device (may be repeated; default: all)\n"
        "  --separator S     field separator: , or ; or tab (default: ,)\n"
        "  --decimal-comma   write 21,50 instead of 21.50 (with ; as separator unless given)\n"
        "  --bom             begin with a UTF-8 byte order mark, for spreadsheets that need it\n"
        "  --full-precision  every digit stored instead of the sensors' two decimals\n"
        "  --help            show this text\n"
        "\n"
        "Exit codes: 0 written, 1 bad command line, 2 project problem, 3 database problem,\n"
        "4 the file could not be written.\n");
}

BatchExport::Options BatchExport::parse(const QStringList &arguments)
{
    Options options;
    QStringList positional;
    bool separatorGiven = false;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        auto value = [&](QString *target) {
            if (i + 1 >= arguments.size()) {
                options.error = QStringLiteral("%1 needs a value.").arg(a);
                return;
            }
            *target = arguments.at(++i);
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            options.help = true;
        } else if (a == QLatin1String("--csv")) {
            options.batch = true;
            value(&options.csvPath);
        } else if (a == QLatin1String("--from")) {
            value(&options.from);
        } else if (a == QLatin1String("--to")) {
            value(&options.to);
        } else if (a == QLatin1String("--device")) {
            QString device;
            value(&device);
            if (!device.isEmpty())
                options.devices.append(device);
        } else if (a == QLatin1String("--separator")) {
            QString separator;
            value(&separator);
            if (!options.format.setSeparatorName(separator) && options.error.isEmpty())
                options.error = QStringLiteral("--separator takes , or ; or tab.");
            separatorGiven = true;
        } else if (a == QLatin1String("--decimal-comma")) {
            options.format.decimalComma = true;
        } else if (a == QLatin1String("--bom")) {
            options.format.bom = true;
        } else if (a == QLatin1String("--full-precision")) {
            options.format.fullPrecision = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            options.error = QStringLiteral("Unknown option %1.").arg(a);
        } else {
            positional.append(unquotePath(a));
        }
        if (!options.error.isEmpty())
            return options;
    }
    if (separatorGiven && options.error.isEmpty())
        options.error = options.format.conflict();
    if (positional.size() > 1)
        options.error = QStringLiteral("Only one project file may be given.");
    else if (!positional.isEmpty())
        options.projectPath = positional.constFirst();
    if (!options.batch &&
        (!options.from.isEmpty() || !options.to.isEmpty() || !options.devices.isEmpty()) &&
        options.error.isEmpty())
        options.error = QStringLiteral("--from, --to and --device go with --csv.");
    if (!options.batch && options.error.isEmpty() &&
        arguments
                .filter(QRegularExpression(QStringLiteral("^--(separator|decimal-comma|bom|full-"
                                                          "precision)$")))
                .size() > 0)
        options.error = QStringLiteral("The CSV options go with --csv.");
    return options;
}

int BatchExport::run(const Options &options, QTextStream &err)
{
    auto say = [&](const QString &text) {
        err << "RideZodazo: " << QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) << '\n';
        err.flush();
    };
    auto failWith = [&](int code, const QString &text) {
        say(text);
        return code;
    };
    if (!options.error.isEmpty())
        return failWith(UsageError, options.error);
    if (options.csvPath.isEmpty())
        return failWith(UsageError, QStringLiteral("--csv needs a file name."));
    if (options.projectPath.isEmpty())
        return failWith(UsageError, QStringLiteral("No project file given."));
    qint64 from = CsvExporter::kUnboundedFrom;
    qint64 to = CsvExporter::kUnboundedTo;
    QStringList notes;
    for (const bool isTo : {false, true}) {
        const QString &text = isTo ? options.to : options.from;
        if (text.isEmpty())
            continue;
        QString note;
        if (!LocalTime::parse(text, isTo ? &to : &from, isTo, &note)) {
            return failWith(
                UsageError,
                note.isEmpty()
                    ? QStringLiteral("%1 \"%2\" is not a time like "
                                     "2026-01-31 08:00:00.")
                          .arg(isTo ? QStringLiteral("--to") : QStringLiteral("--from"), text)
                    : note + QLatin1Char('.'));
        }
        if (!note.isEmpty())
            notes << note;
    }
    if (to < from)
        return failWith(UsageError, QStringLiteral("--to lies before --from."));

    // A project, or a record file on its own (its devices by number).
    SeriesCatalog catalog;
    QString databasePath;
    const bool bare = isRecordFile(options.projectPath);
    if (bare) {
        databasePath = options.projectPath;
    } else {
        ProjectDocument project;
        if (!project.load(options.projectPath)) {
            QString why = project.reason.simplified();
            while (why.endsWith(QLatin1Char('.')))
                why.chop(1);
            return failWith(ProjectError,
                            QStringLiteral("%1 is not a readable project file%2.")
                                .arg(options.projectPath,
                                     why.isEmpty() ? QString() : QStringLiteral(": ") + why));
        }
        catalog.load(project);
        databasePath = project.databasePath();
    }
    if (QFileInfo(databasePath).absoluteFilePath() == QFileInfo(options.csvPath).absoluteFilePath())
        return failWith(UsageError,
                        QStringLiteral("The CSV file would replace the record database."));
    RecordReader reader;
    if (!reader.open(databasePath))
        return failWith(DatabaseError, reader.errorText());
    // The window's summary of this file, when there is one, knows the rows'
    // time order: the range is then found by a search instead of a read of
    // every row.
    SummaryCache summary(databasePath);
    if (summary.load(reader))
        reader.resumeTimeOrder(summary.timeOrder());
    if (bare) {
        RecordContext context(reader);
        if (context.hasSettings())
            catalog.load(context.settingsAt(std::numeric_limits<qint64>::max() / 2));
    }
    QStringList unlisted;
    for (const QString &number : reader.serialNumbersAtEnds(kDeviceProbeRows)) {
        if (catalog.addUnlisted(number))
            unlisted << number;
    }
    if (!bare && !unlisted.isEmpty())
        notes << QStringLiteral("the file holds devices the project does not list; they are "
                                "exported under their number: %1")
                     .arg(unlisted.join(QStringLiteral(", ")));

    QVector<SeriesInfo> series;
    for (const QString &device : options.devices) {
        if (!catalog.deviceNumbers().contains(device))
            return failWith(ProjectError,
                            QStringLiteral("The project has no device %1.").arg(device));
    }
    for (const SeriesInfo &info : catalog.all()) {
        if (options.devices.isEmpty() || options.devices.contains(info.deviceNumber))
            series.append(info);
    }
    if (series.isEmpty())
        return failWith(ProjectError, QStringLiteral("The project has no devices."));

    CsvExporter exporter(&reader, series, from, to, options.csvPath, options.format);
    if (!exporter.start()) {
        const bool readFailed = reader.status() != RecordReader::Status::Ok;
        return failWith(readFailed ? DatabaseError : WriteError, exporter.errorText());
    }
    if (!exporter.run()) {
        const bool readFailed = reader.status() != RecordReader::Status::Ok ||
                                exporter.errorText().startsWith(QLatin1String("Reading"));
        return failWith(readFailed ? DatabaseError : WriteError, exporter.errorText());
    }
    for (const QString &note : qAsConst(notes))
        say(QStringLiteral("note: ") + note + QLatin1Char('.'));
    qCDebug(lcViewer) << "BatchExport::run : lines" << exporter.linesWritten();
    return Ok;
}

bool BatchExport::isRecordFile(const QString &path)
{
    if (QFileInfo(path).suffix().compare(QLatin1String("qlk"), Qt::CaseInsensitive) == 0)
        return false;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(16) == QByteArray("SQLite format 3\0", 16);
}
