#include "viewer/batchexport.h"

#include "common/common.h"
#include "common/projectdocument.h"
#include "record/recordreader.h"
#include "viewer/csvexporter.h"
#include "viewer/seriescatalog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>

#include <limits>

QString BatchExport::unquotePath(const QString &path)
{
    if (path.size() >= 2 && path.startsWith(QLatin1Char('\'')) && path.endsWith(QLatin1Char('\'')))
        return path.mid(1, path.size() - 2);
    return path;
}

bool BatchExport::parseLocalTime(const QString &text, qint64 *seconds)
{
    const QDateTime time =
        QDateTime::fromString(text.trimmed(), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (!time.isValid())
        return false;
    *seconds = time.toSecsSinceEpoch();
    return true;
}

QString BatchExport::helpText()
{
    return QStringLiteral(
        "Usage: RideZodazo [project.qlk]\n"
        "       RideZodazo --csv out.csv [--from \"YYYY-MM-DD hh:mm:ss\"] [--to \"YYYY-MM-DD "
        "hh:mm:ss\"]\n"
        "                  [--device NUMBER ...] project.qlk\n"
        "\n"
        "Shows the recordings of a Quillark Lite Modbus project, or exports them to CSV.\n"
        "\n"
        "Options:\n"
        "  --csv FILE        write the recording to FILE as CSV and exit, without a window\n"
        "  --from TIME       first time to export (local time; default: the first row)\n"
        "  --to TIME         last time to export (local time; default: the last row)\n"
        "  --device NUMBER   export only this device (may be repeated; default: all)\n"
        "  --help            show this text\n"
        "\n"
        "Exit codes: 0 written, 1 bad command line, 2 project problem, 3 database problem,\n"
        "4 the file could not be written.\n");
}

BatchExport::Options BatchExport::parse(const QStringList &arguments)
{
    Options options;
    QStringList positional;
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
        } else if (a.startsWith(QLatin1String("--"))) {
            options.error = QStringLiteral("Unknown option %1.").arg(a);
        } else {
            positional.append(unquotePath(a));
        }
        if (!options.error.isEmpty())
            return options;
    }
    if (positional.size() > 1)
        options.error = QStringLiteral("Only one project file may be given.");
    else if (!positional.isEmpty())
        options.projectPath = positional.constFirst();
    if (!options.batch &&
        (!options.from.isEmpty() || !options.to.isEmpty() || !options.devices.isEmpty()) &&
        options.error.isEmpty())
        options.error = QStringLiteral("--from, --to and --device go with --csv.");
    return options;
}

int BatchExport::run(const Options &options, QTextStream &err)
{
    auto failWith = [&](int code, const QString &text) {
        err << "RideZodazo: " << QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) << '\n';
        err.flush();
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
    if (!options.from.isEmpty() && !parseLocalTime(options.from, &from))
        return failWith(UsageError,
                        QStringLiteral("--from \"%1\" is not a time like 2026-01-31 08:00:00.")
                            .arg(options.from));
    if (!options.to.isEmpty() && !parseLocalTime(options.to, &to))
        return failWith(
            UsageError,
            QStringLiteral("--to \"%1\" is not a time like 2026-01-31 08:00:00.").arg(options.to));
    if (to < from)
        return failWith(UsageError, QStringLiteral("--to lies before --from."));

    ProjectDocument project;
    if (!project.load(options.projectPath)) {
        const QString why = project.reason.isEmpty()
                                ? QString()
                                : QStringLiteral(": ") + project.reason.simplified();
        return failWith(
            ProjectError,
            QStringLiteral("%1 is not a readable project file%2.").arg(options.projectPath, why));
    }
    SeriesCatalog catalog;
    catalog.load(project);
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

    const QString databasePath = project.databasePath();
    if (QFileInfo(databasePath).absoluteFilePath() == QFileInfo(options.csvPath).absoluteFilePath())
        return failWith(UsageError,
                        QStringLiteral("The CSV file would replace the record database."));
    RecordReader reader;
    if (!reader.open(databasePath))
        return failWith(DatabaseError, reader.errorText());

    CsvExporter exporter(&reader, series, from, to, options.csvPath);
    if (!exporter.start()) {
        const bool readFailed = reader.status() != RecordReader::Status::Ok;
        return failWith(readFailed ? DatabaseError : WriteError, exporter.errorText());
    }
    if (!exporter.run()) {
        const bool readFailed = reader.status() != RecordReader::Status::Ok ||
                                exporter.errorText().startsWith(QLatin1String("Reading"));
        return failWith(readFailed ? DatabaseError : WriteError, exporter.errorText());
    }
    qCDebug(lcViewer) << "BatchExport::run : lines" << exporter.linesWritten();
    return Ok;
}
