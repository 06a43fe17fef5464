// Writes a record database of realistic size for the benchmarks: the
// recorder's own table, 16 devices sampled every second (by default), rows in
// time order as the recorder writes them, with a NULL/NULL row per device at
// every simulated stop, and the stretch figures the recorder keeps beside
// them (worked out from the rows once, as for a file written without them).
//
//   qk-gendb --days N --out FILE [--devices 16] [--interval 1] [--start UNIX]
//
// An existing file with the same name is reused when it already holds the
// expected number of rows, so several benchmarks can share one. A file that
// holds other rows (or is busy) is left alone unless --force is given.
#include <sqlite3.h>

#include "record/recordschema.h"
#include "record/recordstretches.h"

#include <QString>

#include <cmath>
#include <cstdio>

#include <cstdlib>
#include <cstring>
#include <string>

namespace
{

std::string serialFor(int device)
{
    char text[32];
    std::snprintf(text, sizeof text, "QKBENCH%011d", device + 1);
    return text;
}

long long countRows(sqlite3 *db)
{
    sqlite3_stmt *statement = nullptr;
    long long rows = -1;
    if (sqlite3_prepare_v2(db, "select count(*) from fennolink", -1, &statement, nullptr) ==
            SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW)
        rows = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return rows;
}

// The stretch figures, unless the file has them already.
bool keepStretches(sqlite3 *db, const char *out)
{
    if (RecordSchema::hasTable(db, "qk_stretches"))
        return true;
    QString error;
    if (!RecordStretches::derive(db, &error)) {
        std::fprintf(stderr, "%s: stretch figures not kept: %s\n", out,
                     error.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s: stretch figures kept\n", out);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    double days = 1;
    int devices = 16;
    int interval = 1;
    long long start = 1767225600; // 2026-01-01 00:00 UTC
    const char *out = nullptr;
    bool force = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--force")) {
            force = true;
            continue;
        }
        if (i + 1 >= argc)
            break;
        if (!std::strcmp(argv[i], "--days"))
            days = std::atof(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--devices"))
            devices = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--interval"))
            interval = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--start"))
            start = std::atoll(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--out"))
            out = argv[i + 1];
        ++i;
    }
    if (!out || days <= 0 || devices <= 0 || interval <= 0) {
        std::fprintf(stderr, "usage: qk-gendb --days N --out FILE [--devices 16] [--interval 1] "
                             "[--start UNIX] [--force]\n");
        return 2;
    }
    const long long samples = (long long)(days * 86400 / interval);
    const long long stopEvery = 6 * 3600 / interval; // a stop and restart every 6 hours
    // Stops fall on the samples 6 h, 12 h, ... after the first, never on the first.
    const long long expected =
        samples * devices + (samples > 0 ? (samples - 1) / stopEvery : 0) * devices;

    sqlite3 *db = nullptr;
    if (sqlite3_open(out, &db) != SQLITE_OK) {
        std::fprintf(stderr, "cannot open %s\n", out);
        return 1;
    }
    RecordSchema::ensureSamples(db, nullptr);
    const long long existing = countRows(db);
    if (existing == expected) {
        std::printf("%s: %lld rows (reused)\n", out, expected);
        const bool ok = keepStretches(db, out);
        sqlite3_close(db);
        return ok ? 0 : 1;
    }
    if (existing != 0 && !force) {
        std::fprintf(stderr,
                     "%s holds %lld rows, not %lld; left alone (use --force to rewrite it)\n", out,
                     existing, expected);
        sqlite3_close(db);
        return 1;
    }
    sqlite3_exec(db, "drop table fennolink; vacuum", nullptr, nullptr, nullptr);
    sqlite3_exec(db, "PRAGMA page_size = 4096; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF",
                 nullptr, nullptr, nullptr);
    RecordSchema::ensureSamples(db, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(
        db,
        "insert into fennolink (serialno, channel1, channel2, pointDate) values (?1, ?2, ?3, ?4)",
        -1, &insert, nullptr);
    std::string serials[64];
    for (int d = 0; d < devices && d < 64; ++d)
        serials[d] = serialFor(d);

    sqlite3_exec(db, "begin", nullptr, nullptr, nullptr);
    long long written = 0;
    for (long long s = 0; s < samples; ++s) {
        const long long t = start + s * interval;
        const bool stop = s > 0 && s % stopEvery == 0;
        for (int d = 0; d < devices; ++d) {
            const std::string &serial = serials[d % 64];
            if (stop) { // the row written at Stop: both channels NULL
                sqlite3_bind_text(insert, 1, serial.c_str(), int(serial.size()), SQLITE_STATIC);
                sqlite3_bind_null(insert, 2);
                sqlite3_bind_null(insert, 3);
                sqlite3_bind_int64(insert, 4, t);
                sqlite3_step(insert);
                sqlite3_reset(insert);
                ++written;
            }
            const double phase = double(s) / 3600.0 + d;
            const float ch1 = float(4.0 + 3.0 * std::sin(phase) + 0.01 * (s % 7));
            const float ch2 = float(55.0 + 10.0 * std::cos(phase * 0.5));
            sqlite3_bind_text(insert, 1, serial.c_str(), int(serial.size()), SQLITE_STATIC);
            sqlite3_bind_double(insert, 2, double(ch1));
            sqlite3_bind_double(insert, 3, double(ch2));
            sqlite3_bind_int64(insert, 4, t);
            sqlite3_step(insert);
            sqlite3_reset(insert);
            ++written;
        }
        if (written >= 1000000) {
            sqlite3_exec(db, "commit; begin", nullptr, nullptr, nullptr);
            written = 0;
        }
        if (s % (86400 / interval) == 0 && s > 0)
            std::fprintf(stderr, "\r%s: day %lld", out, s / (86400 / interval));
    }
    sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    sqlite3_finalize(insert);
    if (!keepStretches(db, out)) {
        sqlite3_close(db);
        return 1;
    }
    // The recorder's files are in write-ahead-log mode.
    sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    std::printf("\n%s: %lld rows\n", out, expected);
    return 0;
}
