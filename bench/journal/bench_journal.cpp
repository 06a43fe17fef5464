// Times the check of a record file's journal (the chain and every sealed
// hour of samples read again) against sha256sum reading the same file,
// interleaved run by run, the order swapped every run.
//
//   bench_journal [--days 59] [--runs 3] [--file PATH]
//
// The file is written once by the recorder's own writer (RecordWriter, so
// that every hour is sealed as in a real recording): 16 devices at 1 s from
// 2026-01-01 00:00 UTC, a NULL/NULL row per device every 6 hours (a stop),
// the same samples as qk-gendb, in batches of 5 minutes of rows. A file that
// is already there with the right number of rows and a journal is reused.
#include "record/insertserialdata.h"
#include "record/journalverifier.h"
#include "record/recordwriter.h"
#include "record/sqlstatement.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace
{

constexpr int kDevices = 16;
constexpr qint64 kStart = 1767225600;

qint64 expectedRows(qint64 samples)
{
    const qint64 stopEvery = 6 * 3600;
    return samples * kDevices + (samples > 0 ? (samples - 1) / stopEvery : 0) * kDevices;
}

bool fileIsReady(const QString &path, qint64 rows)
{
    if (!QFileInfo::exists(path))
        return false;
    sqlite3 *db = nullptr;
    bool ready = false;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        SqlStatement journal(db, "select count(*) from qk_journal");
        SqlStatement count(db, "select max(id) from fennolink");
        ready = journal.step() == SQLITE_ROW && journal.int64(0) > 1 &&
                count.step() == SQLITE_ROW && count.int64(0) == rows;
    }
    sqlite3_close_v2(db);
    return ready;
}

bool writeRecording(const QString &path, qint64 samples)
{
    QFile::remove(path);
    RecordWriter writer(path);
    QString error;
    if (!writer.open(&error)) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(error));
        return false;
    }
    const qint64 stopEvery = 6 * 3600;
    QVector<QString> serials;
    for (int d = 0; d < kDevices; ++d)
        serials << QStringLiteral("QKBENCH%1").arg(d + 1, 11, 10, QLatin1Char('0'));
    for (qint64 s0 = 0; s0 < samples; s0 += 300) {
        RecordBatch batch;
        batch.rows.reserve(300 * (kDevices + 1));
        for (qint64 s = s0; s < std::min(samples, s0 + 300); ++s) {
            const quint32 t = quint32(kStart + s);
            for (int d = 0; d < kDevices; ++d) {
                if (s > 0 && s % stopEvery == 0)
                    batch.rows.push_back({serials[d], NoValue, NoValue, t});
                const double phase = double(s) / 3600.0 + d;
                batch.rows.push_back({serials[d],
                                      double(float(4.0 + 3.0 * std::sin(phase) + 0.01 * (s % 7))),
                                      double(float(55.0 + 10.0 * std::cos(phase * 0.5))), t});
            }
        }
        writer.writeHere(batch);
        if (!batch.ok) {
            std::fprintf(stderr, "write failed: %s\n", qPrintable(batch.error));
            return false;
        }
        if (s0 % 86400 == 0)
            std::fprintf(stderr, "\rwriting day %lld", s0 / 86400);
    }
    std::fprintf(stderr, "\n");
    return true;
}

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    double days = 59;
    int runs = 3;
    QString path;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--days"))
            days = args[i + 1].toDouble();
        else if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--file"))
            path = args[i + 1];
    }
    if (path.isEmpty())
        path = QStringLiteral("/tmp/qk-bench/journal/days-%1.dat").arg(days);
    QDir().mkpath(QFileInfo(path).absolutePath());
    const qint64 samples = qint64(days * 86400);
    if (!fileIsReady(path, expectedRows(samples))) {
        QElapsedTimer made;
        made.start();
        if (!writeRecording(path, samples))
            return 1;
        std::printf("written by the recorder's writer: %s, %lld rows, %.1f s\n", qPrintable(path),
                    expectedRows(samples), made.elapsed() / 1000.0);
    }
    const double gib = QFileInfo(path).size() / 1073741824.0;

    QVector<double> ours, anchor, ratios;
    for (int run = 0; run < runs; ++run) {
        double checkMs = 0, shaMs = 0;
        for (int step = 0; step < 2; ++step) {
            QElapsedTimer timer;
            timer.start();
            if ((step == 0) == (run % 2 == 0)) {
                const RecordJournalVerdict verdict = JournalVerifier::verifyFile(path);
                checkMs = timer.nsecsElapsed() / 1e6;
                std::printf("run %d: journal check %.0f ms: %s (%lld entries, %lld hours)\n", run,
                            checkMs, qPrintable(verdict.text()), verdict.entries, verdict.hours);
                if (verdict.state != RecordJournalVerdict::State::Intact)
                    return 1;
            } else {
                QProcess sha;
                sha.start(QStringLiteral("sha256sum"), {path});
                if (!sha.waitForStarted() ||
                    (sha.state() != QProcess::NotRunning && !sha.waitForFinished(-1)))
                    return 1;
                shaMs = timer.nsecsElapsed() / 1e6;
                std::printf("run %d: sha256sum %.0f ms\n", run, shaMs);
            }
        }
        ours << checkMs;
        anchor << shaMs;
        ratios << checkMs / shaMs;
    }
    std::printf("file %.2f GiB; journal check median %.0f ms, sha256sum median %.0f ms\n", gib,
                median(ours), median(anchor));
    auto row = [](const char *figure, const char *anchorName, const char *unit,
                  const QVector<double> &values) {
        std::printf("QKROW\t%s\t%s\t%s\t", figure, anchorName, unit);
        for (double v : values)
            std::printf("%.3f ", v);
        std::printf("\n");
    };
    row("journal check, 59-day file", "sha256sum of the file", "x", ratios);
    row("journal check, 59-day file (s)", "-", "s", [&] {
        QVector<double> s;
        for (double v : ours)
            s << v / 1000;
        return s;
    }());
    return 0;
}
