// Recording throughput: batches of 16 rows queued through InsertSerialData as
// the nodes queue them, handed to the record database's writer thread with
// writeQueued() as the window's database timer does, and timed until they are
// committed and taken back, against the same rows written by the same statement through
// SQLite's C API: one prepared 16-row insert, one transaction per batch, the
// same settings, both on files in /tmp. The two alternate block by block
// within each run; rows per CPU-second of the whole process (every thread)
// and per wall second, the ratio taken per run, the median of the per-run
// ratios reported. A fourth side hands the C API's statement to a thread of
// its own and waits for it, as the first side waits for our writer: the floor
// of any write path that keeps the disk off the caller's thread.
//
//   bench_recording [batches] [runs] [--log] [--only-ours|--only-here|--only-ceiling|--only-floor]
//                   [--one-hour]
//   bench_recording --open FILE   what the recorder reads when it opens FILE
#include "record/insertserialdata.h"
#include "record/recordschema.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace
{

constexpr int kBatch = 16;

// Rows of one hour at most: no hour of samples completes, so the journal
// seals none (to see what the seals cost at this compressed pace).
bool g_oneHour = false;

// CPU time the caller's thread spent waiting for a batch to be done. The
// window does not wait (it takes the outcome at its next tick); the benchmark
// waits only to keep every batch at 16 rows, so this is reported apart.
double g_waitCpu = 0;

double threadCpuNow()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

std::vector<SerialRecord> makeRows(int batches)
{
    std::vector<SerialRecord> rows;
    rows.reserve(size_t(batches) * kBatch);
    const quint32 start = 1700000000;
    for (int b = 0; b < batches; ++b) {
        for (int d = 0; d < kBatch; ++d) {
            SerialRecord r;
            r.serialNo = QStringLiteral("QA100-%1").arg(d + 1, 12, 10, QLatin1Char('0'));
            // Readings as the devices deliver them: float32 widened to double.
            r.channel1 = double(float(20.0 + (b % 500) * 0.01 + d * 0.1));
            r.channel2 = (b + d) % 97 == 0 ? NoValue : double(float(45.0 + (b % 300) * 0.03));
            r.pointDate = start + quint32(g_oneHour ? b * 3000 / std::max(batches, 1) : b);
            rows.push_back(r);
        }
    }
    return rows;
}

// Both writers take the same rows block by block; the blocks alternate
// between them so that both see the same machine load.
class OursWriter
{
public:
    // handOver: the window's path through the writer thread; else the same
    // code on the caller's thread (insertNow()), which shows what the
    // hand-over itself costs.
    OursWriter(const QString &path, bool handOver)
        : m_db(path, QStringLiteral("bench")), m_handOver(handOver)
    {
        m_ok = m_db.createConnection();
    }
    bool ok() const { return m_ok; }
    bool write(const SerialRecord *rows, size_t count)
    {
        for (size_t i = 0; m_ok && i < count; i += kBatch) {
            for (int j = 0; j < kBatch; ++j)
                InsertSerialData::appendRecord(rows[i + size_t(j)]);
            if (m_handOver) {
                // The window's path: handed to the writer thread with
                // writeQueued(). The window takes the outcome at its next
                // tick and goes on meanwhile; here each batch is waited for
                // on the writer's own condition, so that every batch stays
                // at 16 rows like the anchor's (the wait costs us, not the
                // anchor).
                m_ok = m_db.writeQueued();
                const double wait0 = threadCpuNow();
                m_db.waitForWriter();
                g_waitCpu += threadCpuNow() - wait0;
                m_ok = m_ok && !m_db.isWriting();
            } else {
                m_ok = m_db.insertNow();
            }
            m_ok = m_ok && !m_db.lastWriteFailed() && InsertSerialData::pendingCount() == 0;
        }
        return m_ok;
    }

private:
    InsertSerialData m_db;
    bool m_handOver;
    bool m_ok = false;
};

class CApiWriter
{
public:
    explicit CApiWriter(const QString &path)
    {
        if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK)
            return;
        const char *setup[] = {
            "PRAGMA page_size = 4096",          "PRAGMA cache_size = 1024",
            "PRAGMA journal_mode = WAL",        "PRAGMA synchronous = NORMAL",
            RecordSchema::fennolinkStatement(),
        };
        for (const char *sql : setup) {
            if (!exec(sql))
                return;
        }
        QByteArray insert(
            "insert into fennolink (serialno, channel1, channel2, pointDate) values ");
        for (int j = 0; j < kBatch; ++j)
            insert += j == 0 ? "(?,?,?,?)" : ",(?,?,?,?)";
        m_ok = sqlite3_prepare_v2(m_db, insert.constData(), -1, &m_insert, nullptr) == SQLITE_OK &&
               sqlite3_prepare_v2(m_db, "BEGIN IMMEDIATE", -1, &m_begin, nullptr) == SQLITE_OK &&
               sqlite3_prepare_v2(m_db, "COMMIT", -1, &m_commit, nullptr) == SQLITE_OK;
    }
    ~CApiWriter()
    {
        sqlite3_finalize(m_insert);
        sqlite3_finalize(m_begin);
        sqlite3_finalize(m_commit);
        sqlite3_close(m_db);
    }
    bool ok() const { return m_ok; }
    // serials: the device numbers as UTF-8, made once, as a plain C program would hold them.
    bool write(const SerialRecord *rows, const QByteArray *serials, size_t count)
    {
        for (size_t i = 0; m_ok && i < count; i += kBatch) {
            m_ok = step(m_begin);
            int index = 1;
            for (int j = 0; m_ok && j < kBatch; ++j) {
                const SerialRecord &r = rows[i + size_t(j)];
                const QByteArray &serial = serials[i + size_t(j)];
                sqlite3_bind_text(m_insert, index++, serial.constData(), serial.size(),
                                  SQLITE_STATIC);
                if (r.channel1 == NoValue)
                    sqlite3_bind_null(m_insert, index++);
                else
                    sqlite3_bind_double(m_insert, index++, r.channel1);
                if (r.channel2 == NoValue)
                    sqlite3_bind_null(m_insert, index++);
                else
                    sqlite3_bind_double(m_insert, index++, r.channel2);
                sqlite3_bind_int64(m_insert, index++, r.pointDate);
            }
            m_ok = m_ok && step(m_insert);
            m_ok = m_ok && step(m_commit);
        }
        return m_ok;
    }

private:
    static bool step(sqlite3_stmt *statement)
    {
        const bool done = sqlite3_step(statement) == SQLITE_DONE;
        sqlite3_reset(statement);
        return done;
    }
    bool exec(const char *sql)
    {
        char *error = nullptr;
        if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
            sqlite3_free(error);
            return false;
        }
        return true;
    }

    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr, *m_begin = nullptr, *m_commit = nullptr;
    bool m_ok = false;
};

// The C API's statement on a thread of its own: each batch handed over under a
// mutex, the thread woken by a condition, the caller waiting on another until
// the batch is committed, as with our writer thread.
class CApiThreadWriter
{
public:
    explicit CApiThreadWriter(const QString &path) : m_writer(path)
    {
        if (m_writer.ok())
            m_thread = std::thread([this] { run(); });
    }
    ~CApiThreadWriter()
    {
        if (m_thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_quit = true;
            }
            m_wake.notify_one();
            m_thread.join();
        }
    }
    bool ok() const { return m_writer.ok(); }
    bool write(const SerialRecord *rows, const QByteArray *serials, size_t count)
    {
        bool ok = true;
        for (size_t i = 0; ok && i < count; i += kBatch) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_rows = rows + i;
            m_serials = serials + i;
            m_pending = true;
            // Both sides are woken with the lock free, as our writer does.
            lock.unlock();
            m_wake.notify_one();
            lock.lock();
            const double wait0 = threadCpuNow();
            m_done.wait(lock, [this] { return !m_pending; });
            g_waitCpu += threadCpuNow() - wait0;
            ok = m_ok;
        }
        return ok;
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_pending || m_quit; });
            if (m_quit)
                return;
            lock.unlock();
            const bool ok = m_writer.write(m_rows, m_serials, kBatch);
            lock.lock();
            m_ok = ok;
            m_pending = false;
            lock.unlock();
            m_done.notify_one();
            lock.lock();
        }
    }

    CApiWriter m_writer;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_done;
    const SerialRecord *m_rows = nullptr;
    const QByteArray *m_serials = nullptr;
    bool m_pending = false, m_quit = false, m_ok = true;
};

double cpuNow()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Bytes this process read: through read() calls (rchar) and from the disk
// (read_bytes, 0 when the file was in the page cache).
void ioNow(qint64 *rchar, qint64 *readBytes)
{
    QFile f(QStringLiteral("/proc/self/io"));
    *rchar = *readBytes = 0;
    if (!f.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            *rchar = line.mid(6).trimmed().toLongLong();
        else if (line.startsWith("read_bytes:"))
            *readBytes = line.mid(11).trimmed().toLongLong();
    }
}

// Opens FILE as the recorder does when a project opens (writer, first and
// last time) and reports what that read against the file's size; then waits
// for the one-time reading of rows a file keeps no time order for.
int openBench(const QString &path)
{
    const qint64 size = QFileInfo(path).size();
    qint64 r0 = 0, b0 = 0, r1 = 0, b1 = 0, r2 = 0, b2 = 0;
    QElapsedTimer timer;
    ioNow(&r0, &b0);
    timer.start();
    InsertSerialData db(path, QStringLiteral("open"));
    if (!db.createConnection())
        return 1;
    const qint64 first = db.startDateTime();
    const qint64 last = db.endDateTime();
    const double openSeconds = double(timer.nsecsElapsed()) / 1e9;
    ioNow(&r1, &b1);
    const bool pending = db.timeBoundsPending();
    while (db.timeBoundsPending())
        QThread::msleep(20);
    const double allSeconds = double(timer.nsecsElapsed()) / 1e9;
    ioNow(&r2, &b2);
    std::printf("%s: %.0f MiB, first %lld last %lld\n", qPrintable(path), double(size) / 1048576.0,
                first, last);
    std::printf("open (writer, first and last time): %.3f s, rchar %.2f MiB (%.4f %% of the file), "
                "read_bytes %.2f MiB\n",
                openSeconds, double(r1 - r0) / 1048576.0, 100.0 * double(r1 - r0) / double(size),
                double(b1 - b0) / 1048576.0);
    if (pending)
        std::printf("then, once for a file that kept no time order, in the writer's idle time: "
                    "%.1f s, rchar %.0f MiB\n",
                    allSeconds - openSeconds, double(r2 - r1) / 1048576.0);
    else
        std::printf("no rows left to read for the time order\n");
    return 0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool log = args.removeAll(QStringLiteral("--log")) > 0;
    if (!log)
        QLoggingCategory::setFilterRules(QStringLiteral("quillark.record.debug=false"));
    const int open = args.indexOf(QStringLiteral("--open"));
    if (open >= 0)
        return openBench(args.value(open + 1));
    // For profiling one side alone.
    const bool onlyOurs = args.removeAll(QStringLiteral("--only-ours")) > 0;
    const bool onlyHere = args.removeAll(QStringLiteral("--only-here")) > 0;
    const bool onlyCeiling = args.removeAll(QStringLiteral("--only-ceiling")) > 0;
    const bool onlyFloor = args.removeAll(QStringLiteral("--only-floor")) > 0;
    const bool only = onlyOurs || onlyHere || onlyCeiling || onlyFloor;
    g_oneHour = args.removeAll(QStringLiteral("--one-hour")) > 0;
    const int batches = args.value(0, QStringLiteral("20000")).toInt();
    const int runs = args.value(1, QStringLiteral("5")).toInt();

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/qk-bench-recording-XXXXXX"));
    const std::vector<SerialRecord> rows = makeRows(batches);
    std::vector<QByteArray> serials;
    for (const SerialRecord &r : rows)
        serials.push_back(r.serialNo.toUtf8());

    // Four sides, taking the same rows block by block in a rotating order:
    // 0 the window's path (writer thread), 1 the same code on the caller's
    // thread, 2 the C API, 3 the C API handed to a thread of its own.
    constexpr int kSides = 4;
    const char *names[kSides] = {"writer path", "same code, no hand-over", "C API",
                                 "C API, same hand-over"};
    const bool active[kSides] = {!only || onlyOurs, !only || onlyHere, !only || onlyCeiling,
                                 !only || onlyFloor};
    constexpr size_t kBlock = 256 * kBatch;
    // Ratios per run: each of the first two sides and the fourth against the
    // C API, and the writer path against the fourth.
    std::vector<double> cpuRatio[kSides], wallRatio[kSides];
    // The writer path and the fourth side against the C API without the
    // caller's wait for each batch (which the window does not do).
    // [2]: the writer path against the fourth side, both without that wait.
    std::vector<double> noWaitRatio[3];
    for (int run = 0; run < runs; ++run) {
        OursWriter thread(dir.filePath(QStringLiteral("ours%1.dat").arg(run)), true);
        OursWriter here(dir.filePath(QStringLiteral("here%1.dat").arg(run)), false);
        CApiWriter capi(dir.filePath(QStringLiteral("capi%1.dat").arg(run)));
        CApiThreadWriter floor(dir.filePath(QStringLiteral("floor%1.dat").arg(run)));
        if (!thread.ok() || !here.ok() || !capi.ok() || !floor.ok()) {
            std::fprintf(stderr, "cannot open the databases\n");
            return 1;
        }
        qint64 ns[kSides] = {0, 0, 0, 0};
        double cpu[kSides] = {0, 0, 0, 0};
        double waited[kSides] = {0, 0, 0, 0};
        QElapsedTimer timer;
        for (size_t i = 0; i < rows.size(); i += kBlock) {
            const size_t n = std::min(kBlock, rows.size() - i);
            for (int k = 0; k < kSides; ++k) {
                const int side = int((i / kBlock + size_t(k)) % kSides);
                if (!active[side])
                    continue;
                timer.start();
                const double cpu0 = cpuNow();
                const double wait0 = g_waitCpu;
                const bool ok = side == 0   ? thread.write(&rows[i], n)
                                : side == 1 ? here.write(&rows[i], n)
                                : side == 2 ? capi.write(&rows[i], &serials[i], n)
                                            : floor.write(&rows[i], &serials[i], n);
                if (!ok)
                    return 1;
                ns[side] += timer.nsecsElapsed();
                cpu[side] += cpuNow() - cpu0;
                waited[side] += g_waitCpu - wait0;
            }
        }
        std::printf("run %d, rows per CPU-second (per wall second):", run + 1);
        for (int side = 0; side < kSides; ++side)
            std::printf(" %s %.0f (%.0f);", names[side],
                        double(rows.size()) / std::max(cpu[side], 1e-9),
                        double(rows.size()) / std::max(double(ns[side]) / 1e9, 1e-9));
        std::printf("\n");
        for (int side : {0, 1, 3}) {
            cpuRatio[side].push_back(cpu[2] / std::max(cpu[side], 1e-9));
            wallRatio[side].push_back(double(ns[2]) / std::max(double(ns[side]), 1.0));
        }
        cpuRatio[2].push_back(cpu[3] / std::max(cpu[0], 1e-9));
        wallRatio[2].push_back(double(ns[3]) / std::max(double(ns[0]), 1.0));
        for (int side : {0, 3})
            noWaitRatio[side == 0 ? 0 : 1].push_back(cpu[2] /
                                                     std::max(cpu[side] - waited[side], 1e-9));
        noWaitRatio[2].push_back((cpu[3] - waited[3]) / std::max(cpu[0] - waited[0], 1e-9));
        std::printf("  the caller's wait, CPU-seconds: writer path %.3f of %.3f, C API, same "
                    "hand-over %.3f of %.3f\n",
                    waited[0], cpu[0], waited[3], cpu[3]);
    }
    std::printf("batches of %d, %d batches, median of %d runs, debug log %s\n", kBatch, batches,
                runs, log ? "on" : "off");
    const auto spread = [](const std::vector<double> &v) {
        return QStringLiteral("median %1, lowest %2, highest %3")
            .arg(median(v), 0, 'f', 2)
            .arg(*std::min_element(v.begin(), v.end()), 0, 'f', 2)
            .arg(*std::max_element(v.begin(), v.end()), 0, 'f', 2);
    };
    const auto values = [](const std::vector<double> &v) {
        QStringList list;
        for (double x : v)
            list << QString::number(x, 'f', 3);
        return list.join(QLatin1Char(' '));
    };
    const auto report = [&](const char *side, const char *anchor, int index) {
        std::printf("%s against %s: per CPU-second %s; per wall second %s\n", side, anchor,
                    qPrintable(spread(cpuRatio[index])), qPrintable(spread(wallRatio[index])));
        std::printf("QKROW\trecording, %s, rows per CPU-second\t%s\tx\t%s\n", side, anchor,
                    qPrintable(values(cpuRatio[index])));
    };
    if (!only) {
        report(names[0], "C API, same 16-row statement", 0);
        report(names[1], "C API, same 16-row statement", 1);
        report(names[3], "C API, same 16-row statement", 3);
        report(names[0], "C API, same statement, same hand-over", 2);
        for (int k = 0; k < 3; ++k) {
            const char *side = k == 1 ? "C API, same hand-over" : "writer path";
            const char *anchor =
                k == 2 ? "C API, same statement, same hand-over" : "C API, same 16-row statement";
            std::printf("%s, the caller's wait left out, against %s: per CPU-second %s\n", side,
                        anchor, qPrintable(spread(noWaitRatio[k])));
            std::printf("QKROW\trecording, %s, caller's wait left out, rows per CPU-second\t%s\t"
                        "x\t%s\n",
                        side, anchor, qPrintable(values(noWaitRatio[k])));
        }
    }

    // A full queue (a day of rows at the fastest rate) written at once, as
    // after a long time without an open database: one insertNow() call (the
    // window itself writes it in slices from the writer thread). Left out
    // when profiling one side.
    if (!only) {
        const std::vector<SerialRecord> day =
            makeRows(int(InsertSerialData::kDefaultQueueLimit / kBatch));
        InsertSerialData db(dir.filePath(QStringLiteral("backlog.dat")), QStringLiteral("backlog"));
        if (!db.createConnection())
            return 1;
        for (const SerialRecord &r : day)
            InsertSerialData::appendRecord(r);
        QElapsedTimer timer;
        timer.start();
        const bool ok = db.insertNow();
        std::printf("full queue of %zu rows in one insertNow(): %s in %.2f s\n", day.size(),
                    ok ? "written" : "FAILED", double(timer.nsecsElapsed()) / 1e9);
    }
    return 0;
}
