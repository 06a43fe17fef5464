// The daily report of one day of 16 devices at 1 s (1.38 million rows) out
// of a large recording, timed from start to PDF on disk:
//
//   program   DavavoZurer --date D --pdf FILE project.qlk, a child process,
//             wall time and peak resident memory
//   ours      the same work in this process: rows found by id, one pass
//   anchor    the same statistics and PDF from the naive per-device queries
//             select ... where serialno = ? and pointDate between ? and ?
//
// Runs are interleaved (program, ours, anchor, program, ...) and the ratio
// anchor / ours is taken per run. The first program run may also build the
// report's order cache (a check of every row once); that run is shown apart.
//
//   bench_report [--days 59] [--runs 3] [--day 30] [--db FILE]
//
// The database is /tmp/qk-bench/days-N.dat; qk-gendb makes it when it is
// missing. An existing file is opened read-only and never handed to the
// generator (which rebuilds a file whose rows it cannot count).

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

#include "common/common.h"
#include "record/recordreader.h"
#include "record/recordtimeorder.h"
#include "report/periodreport.h"
#include "report/reportpainter.h"

namespace
{

constexpr qint64 kStart = 1767225600; // 2026-01-01 00:00 UTC, as qk-gendb writes

QTextStream out(stdout);

void writeProject(const QString &path, int devices)
{
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("projectName", "bench");
    settings.setValue("DataInterval", 1000);
    settings.setValue("databaseName", "bench.dat");
    QJsonArray nodes;
    for (int i = 1; i <= devices; ++i) {
        nodes.append(QJsonObject{{"StartAddress", QString::number((i - 1) % 8 * 8)},
                                 {"DeviceName", QString("Room %1").arg(i)},
                                 {"DeviceNumber", QString("QKBENCH%1").arg(i, 11, 10, QChar('0'))},
                                 {"Ch1Name", "Temperature"},
                                 {"Ch2Name", "Humidity"},
                                 {"ch1_unit", "1"},
                                 {"ch1_min", "2.00"},
                                 {"ch1_max", "6.50"},
                                 {"ch1_custom", ""},
                                 {"ch2_unit", "3"},
                                 {"ch2_min", "0.00"},
                                 {"ch2_max", "0.00"},
                                 {"ch2_custom", ""}});
    }
    const QJsonObject connection{{"DeviceInterface", "127.0.0.1"},
                                 {"DevicePort", "1502"},
                                 {"DeviceModel", "QA100"},
                                 {"nodes", nodes}};
    settings.setValue("DeviceList",
                      QJsonDocument(QJsonObject{{"devices", QJsonArray{connection}}}).toJson());
}

// The anchor: one query per device over the whole table, then the same
// statistics and the same PDF.
bool naiveReport(const QString &project, const QDate &day, const QString &pdf)
{
    PeriodReport report;
    QString error;
    if (!report.loadProject(project, &error))
        return false;
    PeriodStatistics &statistics = const_cast<PeriodStatistics &>(report.statistics());
    statistics.start(day, 1, QTimeZone::utc(), 1000, QDateTime::currentSecsSinceEpoch());
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(report.project().databasePath()).constData(), &db,
                        SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return false;
    sqlite3_stmt *query = nullptr;
    sqlite3_prepare_v2(db,
                       "select id, serialno, channel1, channel2, pointDate from fennolink "
                       "where serialno = ?1 and pointDate between ?2 and ?3 order by id",
                       -1, &query, nullptr);
    for (const ProjectDocument::Node &node : report.project().nodes()) {
        statistics.addDevice(node.deviceName, node.deviceNumber, node.ch1Name, 1, "°C", node.ch1Min,
                             node.ch1Max, node.ch2Name, 3, "%RH", node.ch2Min, node.ch2Max);
    }
    for (const ProjectDocument::Node &node : report.project().nodes()) {
        const QByteArray serial = node.deviceNumber.toUtf8();
        sqlite3_bind_text(query, 1, serial.constData(), serial.size(), SQLITE_TRANSIENT);
        sqlite3_bind_int64(query, 2, statistics.windowStart());
        sqlite3_bind_int64(query, 3, statistics.windowEnd() - 1);
        RecordRow row;
        row.serialNo = serial;
        while (sqlite3_step(query) == SQLITE_ROW) {
            row.id = sqlite3_column_int64(query, 0);
            row.channel1 = sqlite3_column_type(query, 2) == SQLITE_NULL
                               ? NoValue
                               : sqlite3_column_double(query, 2);
            row.channel2 = sqlite3_column_type(query, 3) == SQLITE_NULL
                               ? NoValue
                               : sqlite3_column_double(query, 3);
            row.pointDate = sqlite3_column_int64(query, 4);
            statistics.addRow(row);
        }
        sqlite3_reset(query);
    }
    sqlite3_finalize(query);
    sqlite3_close(db);
    statistics.finish();
    return ReportPainter(report).writePdf(pdf, &error);
}

qint64 peakChildKb()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss;
}

qint64 peakSelfKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// CPU seconds (user + system) of this process or of its waited-for children.
double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName("QuillarkLite");
    QCoreApplication::setApplicationName("DavavoZurer");
    int days = 59;
    int runs = 3;
    int dayIndex = 30;
    QString db;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--days")
            days = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = args[i + 1].toInt();
        else if (args[i] == "--day")
            dayIndex = args[i + 1].toInt();
        else if (args[i] == "--db")
            db = args[i + 1];
    }
    dayIndex = std::clamp(dayIndex, 0, std::max(0, days - 1));
    if (db.isEmpty())
        db = QString("/tmp/qk-bench/days-%1.dat").arg(days);
    // The generator is only asked for a file that is not there yet: an
    // existing one (perhaps shared, perhaps being read) is only ever read.
    if (!QFile::exists(db)) {
        QDir().mkpath(QFileInfo(db).absolutePath());
        QElapsedTimer made;
        made.start();
        const int code = QProcess::execute(QString(QK_BINARY_DIR) + "/bench/gendb/qk-gendb",
                                           {"--days", QString::number(days), "--out", db});
        if (code != 0) {
            out << "qk-gendb failed\n";
            return 1;
        }
        out << "database " << db << " made in " << made.elapsed() / 1000.0 << " s\n";
    }
    {
        RecordReader reader;
        if (!reader.open(db)) {
            out << reader.errorText() << "\n";
            return 1;
        }
        const qint64 rows = reader.maxId();
        out << "rows " << rows << "\n";
        if (rows < qint64(days) * 86400 * 16) {
            out << "the file is not complete (still being made?)\n";
            return 1;
        }
    }
    QTemporaryDir dir;
    const QString project = dir.path() + "/bench.qlk";
    writeProject(project, 16);
    QFile::link(QFileInfo(db).absoluteFilePath(), dir.path() + "/bench.dat");
    const QDate day = QDateTime::fromSecsSinceEpoch(kStart, Qt::UTC).date().addDays(dayIndex);
    out << "file " << QFileInfo(db).size() / (1024.0 * 1024 * 1024) << " GiB, day "
        << day.toString(Qt::ISODate) << " (UTC), " << runs << " runs\n";

    const QString program = QString(QK_BINARY_DIR) + "/DavavoZurer";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TZ", "UTC");
    double programCpu = 0;
    const auto runProgram = [&](const QString &pdf) {
        const double cpuBefore = cpuSeconds(RUSAGE_CHILDREN);
        QProcess process;
        process.setProcessEnvironment(environment);
        QElapsedTimer timer;
        timer.start();
        process.start(program, {"--date", day.toString(Qt::ISODate), "--pdf", pdf, project});
        process.waitForFinished(-1);
        const double seconds = timer.nsecsElapsed() / 1e9;
        programCpu = cpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
        if (process.exitCode() != 0)
            out << "DavavoZurer failed: " << process.readAllStandardError() << "\n";
        return seconds;
    };

    // The order cache of the report program, emptied for the first run.
    {
        RecordReader cached;
        if (cached.open(dir.path() + "/bench.dat"))
            QFile::remove(RecordTimeOrder::cacheFile(cached.handle()));
    }
    const double first = runProgram(dir.path() + "/first.pdf");
    out << "first program run (order cache built, every row checked once): " << first << " s wall, "
        << programCpu << " s CPU\n";
    out.flush();

    QVector<double> programTimes, programCpus, oursTimes, oursCpus, anchorTimes, anchorCpus, ratios;
    for (int run = 0; run < runs; ++run) {
        programTimes.append(runProgram(dir.path() + "/program.pdf"));
        programCpus.append(programCpu);

        QElapsedTimer timer;
        timer.start();
        double cpu = cpuSeconds(RUSAGE_SELF);
        PeriodReport report;
        QString error;
        if (!report.loadProject(project, &error) ||
            report.compute(PeriodReport::Kind::Daily, day, 1, QTimeZone::utc(),
                           QDateTime::currentDateTimeUtc(),
                           &error) == PeriodReport::Outcome::Failed ||
            !ReportPainter(report).writePdf(dir.path() + "/ours.pdf", &error)) {
            out << "ours failed: " << error << "\n";
            return 1;
        }
        const double ours = timer.nsecsElapsed() / 1e9;
        oursCpus.append(cpuSeconds(RUSAGE_SELF) - cpu);
        const qint64 rows = report.statistics().totalRows();

        timer.restart();
        cpu = cpuSeconds(RUSAGE_SELF);
        if (!naiveReport(project, day, dir.path() + "/anchor.pdf")) {
            out << "anchor failed\n";
            return 1;
        }
        const double anchor = timer.nsecsElapsed() / 1e9;
        anchorCpus.append(cpuSeconds(RUSAGE_SELF) - cpu);
        oursTimes.append(ours);
        anchorTimes.append(anchor);
        ratios.append(anchor / ours);
        out << "run " << run + 1 << ": wall (CPU) program " << programTimes.last() << " s ("
            << programCpus.last() << "), ours " << ours << " s (" << oursCpus.last() << "), anchor "
            << anchor << " s (" << anchorCpus.last() << "), anchor/ours " << anchor / ours
            << ", rows " << rows << "\n";
        out.flush();
    }
    out << "median wall (CPU): program " << median(programTimes) << " s (" << median(programCpus)
        << ") (goal < 2 s), ours " << median(oursTimes) << " s (" << median(oursCpus)
        << "), anchor " << median(anchorTimes) << " s (" << median(anchorCpus) << "), anchor/ours "
        << median(ratios) << "\n";
    // The table rows of bench/run.sh: ours against the naive queries, per run.
    const auto row = [&](const char *figure, const char *anchor, const char *unit,
                         const QVector<double> &values) {
        out << "QKROW\t" << figure << '\t' << anchor << '\t' << unit << '\t';
        for (int i = 0; i < values.size(); ++i)
            out << (i ? " " : "") << values.at(i);
        out << '\n';
    };
    QVector<double> inverse;
    for (double ratio : ratios)
        inverse.append(ratio > 0 ? 1.0 / ratio : 0);
    row("daily report of a day of 16 devices at 1 s, in process", "per-device queries", "x",
        inverse);
    row("daily report, program start to PDF", "absolute", "s", programTimes);
    out << "peak RSS: program " << peakChildKb() / 1024
        << " MB (goal < 200 MB), this process (ours + anchor) " << peakSelfKb() / 1024 << " MB\n";
    return 0;
}
