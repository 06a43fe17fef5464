// Project open on record databases of realistic size: 1, 30 and 59 days of
// 16 devices at 1 s (the last about the 3.9 GiB stop, 81.6 million rows).
//
// Ours: the real window code, from the start screen's "project loaded" to the
// project centre on show (project file, pollers, record database, recording
// period), timed on the window's thread. Anchor: what opening used to do on
// that thread, min(pointDate) and max(pointDate) over the whole table through
// SQLite's C API. The two alternate within each run; the ratio is per run.
// Also reported: how long the scan for times out of order takes in its own
// thread after the first open (later opens in the same process scan only the
// rows added since).
//
// The databases are made by qk-gendb under /tmp/qk-bench (reused when they
// are there) and copied once into /tmp/qk-bench/projectopen, because opening
// a project opens its database for writing.
//
//   bench_projectopen [--days 1,30,59] [--runs 5]
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "record/insertserialdata.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

const QString kShared = QStringLiteral("/tmp/qk-bench");
const QString kOwn = QStringLiteral("/tmp/qk-bench/projectopen");

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The private copy of days-N.dat; empty on failure.
QString database(int days)
{
    const QString shared = kShared + QStringLiteral("/days-%1.dat").arg(days);
    const QString own = kOwn + QStringLiteral("/days-%1.dat").arg(days);
    QDir().mkpath(kOwn);
    // A copy made before is used as it is (the shared file may be in the
    // middle of being made by someone else's run).
    if (QFileInfo(own).size() > 0 && !QFileInfo::exists(own + QStringLiteral(".copying")))
        return own;
    const QString gendb =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../gendb/qk-gendb");
    if (QProcess::execute(gendb, {QStringLiteral("--days"), QString::number(days),
                                  QStringLiteral("--out"), shared}) != 0)
        return QString();
    if (QFileInfo(own).size() != QFileInfo(shared).size()) {
        std::printf("copying %s (%.2f GiB)\n", qPrintable(shared),
                    double(QFileInfo(shared).size()) / (1 << 30));
        std::fflush(stdout);
        QFile::remove(own);
        QFile::remove(own + QStringLiteral("-wal"));
        QFile::remove(own + QStringLiteral("-shm"));
        QFile(own + QStringLiteral(".copying")).open(QIODevice::WriteOnly);
        if (!QFile::copy(shared, own))
            return QString();
        QFile::remove(own + QStringLiteral(".copying"));
    }
    return own;
}

// A project of 16 devices on two gateways nobody listens to, with `db` as
// its database.
QString project(const QString &db, quint16 deadPort)
{
    QFile demo(QStringLiteral(QK_SOURCE_DIR "/examples/demo.qlk"));
    if (!demo.open(QIODevice::ReadOnly))
        return QString();
    QByteArray text = demo.readAll();
    text.replace("\\\"1502\\\"", "\\\"" + QByteArray::number(deadPort) + "\\\"");
    text.replace("\\\"1503\\\"", "\\\"" + QByteArray::number(deadPort) + "\\\"");
    const QString name = QFileInfo(db).completeBaseName();
    const QString path = kOwn + QLatin1Char('/') + name + QStringLiteral(".qlk");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
        return QString();
    out.close();
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(QStringLiteral("projectName"), name);
    settings.setValue(QStringLiteral("databaseName"), name + QStringLiteral(".dat"));
    return path;
}

qint64 anchorNs(const QString &db)
{
    QElapsedTimer timer;
    timer.start();
    sqlite3 *handle = nullptr;
    qint64 sum = 0;
    if (sqlite3_open_v2(QFile::encodeName(db).constData(), &handle, SQLITE_OPEN_READONLY,
                        nullptr) == SQLITE_OK) {
        for (const char *sql :
             {"select min(pointDate) from fennolink", "select max(pointDate) from fennolink"}) {
            sqlite3_stmt *statement = nullptr;
            if (sqlite3_prepare_v2(handle, sql, -1, &statement, nullptr) == SQLITE_OK &&
                sqlite3_step(statement) == SQLITE_ROW)
                sum += sqlite3_column_int64(statement, 0);
            sqlite3_finalize(statement);
        }
    }
    sqlite3_close(handle);
    return sum > 0 ? timer.nsecsElapsed() : -1;
}

// The database part of the open alone: the record database opened and its
// first and last sample time read, as the window does.
qint64 databaseNs(const QString &db)
{
    QElapsedTimer timer;
    timer.start();
    InsertSerialData data(db, QStringLiteral("bench"));
    if (!data.createConnection() || data.startDateTime() <= 0 || data.endDateTime() <= 0)
        return -1;
    return timer.nsecsElapsed();
}

// Opens the project in a fresh window; the time on the window's thread, and
// (first open only) the time until the out-of-order scan has finished.
qint64 oursNs(const QString &path, double *scanSeconds)
{
    QuillarkMain w;
    auto *start = w.findChild<ProjectMain *>();
    if (!start)
        return -1;
    QElapsedTimer timer;
    timer.start();
    emit start->projectLoaded(path);
    const qint64 ns = timer.nsecsElapsed();
    auto *db = w.findChild<InsertSerialData *>();
    if (!db)
        return -1;
    if (scanSeconds) {
        // The scan starts a moment after the open, once the window has had
        // its first paint.
        QElapsedTimer wait;
        wait.start();
        while (!db->timeBoundsPending() && wait.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        const qint64 started = timer.nsecsElapsed();
        while (db->timeBoundsPending())
            QThread::msleep(5);
        *scanSeconds = double(timer.nsecsElapsed() - started) / 1e9;
    }
    w.close();
    return ns;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(
        QStringLiteral("*.debug=false\nqt.*=false\ndefault.warning=false"));
    QStringList args = app.arguments().mid(1);
    QList<int> dayList{1, 30, 59};
    int runs = 5;
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--days")) {
            dayList.clear();
            for (const QString &d : args[i + 1].split(QLatin1Char(',')))
                dayList << d.toInt();
        } else if (args[i] == QLatin1String("--runs")) {
            runs = args[i + 1].toInt();
        }
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 deadPort = probe.serverPort();
    probe.close();

    {
        // The same window on an empty database: what opening costs without rows.
        const QString empty = kOwn + QStringLiteral("/empty.dat");
        QDir().mkpath(kOwn);
        QFile::remove(empty);
        const QString path = project(empty, deadPort);
        std::vector<double> times;
        for (int run = 0; run < runs && !path.isEmpty(); ++run)
            times.push_back(double(oursNs(path, nullptr)) / 1e6);
        std::printf("empty database: open %.1f ms\n", median(times));
        std::fflush(stdout);
    }
    for (int days : qAsConst(dayList)) {
        const QString db = database(days);
        const QString path = db.isEmpty() ? QString() : project(db, deadPort);
        if (path.isEmpty()) {
            std::fprintf(stderr, "cannot prepare %d days\n", days);
            return 1;
        }
        std::vector<double> ours, anchor, ratio, dbPart;
        double scan = 0;
        for (int run = 0; run < runs; ++run) {
            qint64 o = 0, a = 0;
            for (int k = 0; k < 2; ++k) {
                if ((k == 0) == (run % 2 == 0))
                    o = oursNs(path, run == 0 ? &scan : nullptr);
                else
                    a = anchorNs(db);
            }
            if (o < 0 || a < 0) {
                std::fprintf(stderr, "open failed\n");
                return 1;
            }
            const qint64 d = databaseNs(db);
            if (d < 0) {
                std::fprintf(stderr, "database open failed\n");
                return 1;
            }
            dbPart.push_back(double(d) / 1e6);
            ours.push_back(double(o) / 1e6);
            anchor.push_back(double(a) / 1e6);
            ratio.push_back(double(o) / double(a));
        }
        std::printf(
            "%2d days (%.2f GiB): open %.1f ms (max %.1f) of which database %.2f ms (max %.2f); "
            "anchor "
            "full-scan min/max %.0f ms; ratio %.4f; first out-of-order scan in its thread %.1f s\n",
            days, double(QFileInfo(db).size()) / (1 << 30), median(ours),
            *std::max_element(ours.begin(), ours.end()), median(dbPart),
            *std::max_element(dbPart.begin(), dbPart.end()), median(anchor), median(ratio), scan);
        auto joined = [](const std::vector<double> &v) {
            QStringList parts;
            for (double x : v)
                parts << QString::number(x, 'g', 6);
            return parts.join(QLatin1Char(' ')).toStdString();
        };
        std::printf("QKROW\tproject open %d d, window code on its thread / anchor\t"
                    "C API full min/max(pointDate)\tx\t%s\n",
                    days, joined(ratio).c_str());
        std::printf("QKROW\tproject open %d d, window code on its thread\t-\tms\t%s\n", days,
                    joined(ours).c_str());
        std::fflush(stdout);
    }
    return 0;
}
