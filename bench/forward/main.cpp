// Forwarding benchmarks.
//
// 1. A recorded backlog (qk-gendb, 16 devices at 1 s, one day = 1.38 M rows)
//    forwarded to a local influxd, against curl posting the very same
//    line-protocol text in the same 5000-line batches over one kept-alive
//    connection (curl --next). Each run writes into a fresh database; the two
//    alternate in one process and the ratio is taken per run.
// 2. MQTT: the first N rows published at QoS 1 to a local mosquitto, against
//    mqttanchor (a libmosquitto client of our own with the same window of
//    unacknowledged messages) publishing the same topics and payloads. Both
//    are timed until a mosquitto_sub subscribed before the start has
//    received all N messages and the publisher has every acknowledgement.
// 3. Live: 16 rows a second written through the recorder's database writer
//    and 16 live values, with forwarding off and on (InfluxDB and MQTT),
//    alternating; CPU share of one core and resident memory of the process.
#include "bench/procstats.h"
#include "common/common.h"
#include "common/projectdocument.h"
#include "forward/forwarder.h"
#include "forward/forwardformat.h"
#include "forward/forwardposition.h"
#include "forward/mqtttarget.h"
#include "forwardservers.h"
#include "record/insertserialdata.h"
#include "record/recordreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace ForwardTest;

namespace
{

// A project naming the generator's 16 devices, its database a link to `database`.
QString writeProject(const QString &dir, const QString &name, const QString &database)
{
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".qlk");
    QJsonArray connections;
    for (int c = 0; c < 2; ++c) {
        QJsonArray nodes;
        for (int n = 0; n < 8; ++n) {
            const int device = c * 8 + n + 1;
            nodes.append(QJsonObject{{"StartAddress", QString::number(n * 8)},
                                     {"DeviceName", QStringLiteral("Room %1").arg(device)},
                                     {"DeviceNumber", QString::asprintf("QKBENCH%011d", device)},
                                     {"Ch1Name", "Temperature"},
                                     {"Ch2Name", "Humidity"},
                                     {"ch1_unit", "1"},
                                     {"ch1_min", "-20.00"},
                                     {"ch1_max", "40.00"},
                                     {"ch1_custom", ""},
                                     {"ch2_unit", "3"},
                                     {"ch2_min", "0.00"},
                                     {"ch2_max", "100.00"},
                                     {"ch2_custom", ""}});
        }
        connections.append(QJsonObject{{"DeviceInterface", QStringLiteral("127.0.0.1")},
                                       {"DevicePort", QString::number(1502 + c)},
                                       {"DeviceModel", "QA100"},
                                       {"nodes", nodes}});
    }
    QSettings s(path, QSettings::IniFormat);
    s.setValue(QStringLiteral("projectName"), name);
    s.setValue(QStringLiteral("DataInterval"), 1000);
    s.setValue(QStringLiteral("databaseName"), name + QStringLiteral(".dat"));
    s.setValue(QStringLiteral("DeviceList"),
               QJsonDocument(QJsonObject{{"devices", connections}}).toJson());
    s.sync();
    if (!database.isEmpty())
        QFile::link(database, dir + QLatin1Char('/') + name + QStringLiteral(".dat"));
    return path;
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

// CPU seconds of this process's threads whose name starts with one of `prefixes`.
double threadCpuSeconds(const QStringList &prefixes)
{
    double total = 0;
    const double ticks = sysconf(_SC_CLK_TCK);
    for (const QString &task :
         QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(QStringLiteral("/proc/self/task/%1/stat").arg(task));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = f.readAll();
        const QString name = QString::fromUtf8(
            line.mid(line.indexOf('(') + 1, line.lastIndexOf(')') - line.indexOf('(') - 1));
        if (std::none_of(prefixes.begin(), prefixes.end(),
                         [&](const QString &p) { return name.startsWith(p); }))
            continue;
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        total += (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
    }
    return total;
}

// One table row for bench/run.sh: the figure, its anchor, the unit and a value per run.
void row(const char *figure, const char *anchor, const char *unit, const QVector<double> &values)
{
    QStringList text;
    for (double v : values)
        text << QString::number(v, 'f', 3);
    std::printf("QKROW\t%s\t%s\t%s\t%s\n", figure, anchor, unit, qPrintable(text.join(' ')));
    std::fflush(stdout);
}

// mosquitto_sub at QoS 1 on `topic`, ending after `count` messages besides
// the probe it has already received when this returns.
bool startCounter(QProcess &sub, quint16 port, const QString &topic, int count,
                  const QString &outFile)
{
    QFile::remove(outFile);
    sub.setStandardOutputFile(outFile);
    sub.start(QStringLiteral("mosquitto_sub"),
              {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
               QString::number(port), QStringLiteral("-q"), QStringLiteral("1"),
               QStringLiteral("-t"), topic, QStringLiteral("-C"), QString::number(count + 1)});
    if (!sub.waitForStarted(5000))
        return false;
    QString probe = topic;
    probe.replace(QLatin1Char('+'), QStringLiteral("probe"));
    for (int i = 0; i < 100 && QFileInfo(outFile).size() == 0; ++i) {
        QProcess::execute(QStringLiteral("mosquitto_pub"),
                          {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                           QString::number(port), QStringLiteral("-t"), probe, QStringLiteral("-m"),
                           QStringLiteral("probe")});
        QThread::msleep(50);
    }
    return QFileInfo(outFile).size() > 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int days = 1, runs = 3, mqttRows = 200000, liveSeconds = 30;
    bool influxRuns = true;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--days"))
            days = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--runs"))
            runs = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--mqtt-rows"))
            mqttRows = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--live-seconds"))
            liveSeconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--influx-runs"))
            influxRuns = args[i + 1].toInt() > 0;
    }
    QDir().mkpath(QStringLiteral("/tmp/qk-bench"));
    const QString database = QStringLiteral("/tmp/qk-bench/days-%1.dat").arg(days);
    if (QProcess::execute(QStringLiteral(QK_GENDB),
                          {QStringLiteral("--days"), QString::number(days), QStringLiteral("--out"),
                           database}) != 0) {
        std::fprintf(stderr, "qk-gendb failed\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString projectPath = writeProject(dir.path(), QStringLiteral("bench"), database);
    ProjectDocument doc;
    if (!doc.load(projectPath)) {
        std::fprintf(stderr, "project not readable\n");
        return 1;
    }
    RecordReader reader;
    if (!reader.open(database)) {
        std::fprintf(stderr, "%s\n", qPrintable(reader.errorText()));
        return 1;
    }
    const qint64 maxId = reader.maxId();
    std::printf("backlog: %lld rows in %s\n", maxId, qPrintable(database));

    // The anchors' input: the same lines in the same batches, the same topics and payloads.
    ForwardFormat format(doc, QStringLiteral("bench"));
    QStringList batchFiles;
    {
        qint64 after = 0;
        for (int b = 0;; ++b) {
            QByteArray body;
            const qint64 n = reader.forEachRowAfterId(after, 5000, [&](const RecordRow &row) {
                format.appendInfluxLine(body, row);
                after = row.id;
                return true;
            });
            if (n <= 0)
                break;
            const QString file = dir.filePath(QStringLiteral("batch-%1.lp").arg(b));
            QFile f(file);
            f.open(QIODevice::WriteOnly);
            f.write(body);
            batchFiles << file;
        }
    }

    InfluxServer influx;
    const QString influxError = influx.start();
    if (!influxError.isEmpty()) {
        std::fprintf(stderr, "influxd: %s\n", qPrintable(influxError));
        return 1;
    }
    QVector<double> ratios, cpuPerDay;
    for (int r = 0; r < (influxRuns ? runs : 0); ++r) {
        double cpu = 0;
        auto runOurs = [&] {
            const QString db = QStringLiteral("ours%1").arg(r);
            influx.query(QStringLiteral("CREATE DATABASE %1").arg(db));
            ForwardSettings s;
            s.influxUrl = influx.url();
            s.influxDatabase = db;
            s.save(projectPath);
            QFile::remove(ForwardPosition::filePathFor(projectPath, QStringLiteral("influx")));
            Forwarder forwarder(projectPath);
            QElapsedTimer t;
            t.start();
            forwarder.reload();
            if (!waitFor([&] { return forwarder.state(Forwarder::Influx).lastId >= maxId; },
                         600000))
                std::fprintf(stderr, "ours: timed out: %s\n",
                             qPrintable(forwarder.state(Forwarder::Influx).lastError));
            const double seconds = t.elapsed() / 1000.0;
            // The forwarding thread and Qt's network thread, not the waiting here.
            cpu = threadCpuSeconds({QStringLiteral("forward-"), QStringLiteral("QNetworkAccess")});
            return maxId / seconds;
        };
        auto runCurl = [&] {
            const QString db = QStringLiteral("curl%1").arg(r);
            influx.query(QStringLiteral("CREATE DATABASE %1").arg(db));
            const QString config = dir.filePath(QStringLiteral("curl.cfg"));
            QFile f(config);
            f.open(QIODevice::WriteOnly | QIODevice::Truncate);
            for (int i = 0; i < batchFiles.size(); ++i) {
                if (i > 0)
                    f.write("next\n");
                f.write(QStringLiteral(
                            "url = \"%1/write?db=%2&precision=s\"\ndata-binary = \"@%3\"\nsilent\n"
                            "output = \"/dev/null\"\nheader = \"Content-Type: text/plain; "
                            "charset=utf-8\"\n")
                            .arg(influx.url(), db, batchFiles[i])
                            .toUtf8());
            }
            f.close();
            QElapsedTimer t;
            t.start();
            QProcess::execute(QStringLiteral("curl"), {QStringLiteral("-K"), config});
            return maxId / (t.elapsed() / 1000.0);
        };
        double ours, curl;
        if (r % 2 == 0) {
            ours = runOurs();
            curl = runCurl();
        } else {
            curl = runCurl();
            ours = runOurs();
        }
        // Both wrote every point.
        const auto count = [&](const QString &db) {
            return influx.values(QStringLiteral("SELECT count(Humidity) FROM quillark"), db)
                .value(0)
                .at(1)
                .toDouble();
        };
        std::printf("influx run %d: ours %.0f rows/s (%.2f CPU-s), curl %.0f rows/s, ratio %.2f "
                    "(points %.0f / %.0f)\n",
                    r + 1, ours, cpu, curl, ours / curl, count(QStringLiteral("ours%1").arg(r)),
                    count(QStringLiteral("curl%1").arg(r)));
        std::fflush(stdout);
        ratios << ours / curl;
        cpuPerDay << cpu * 1382400.0 / maxId;
    }
    if (!ratios.isEmpty()) {
        row("forward InfluxDB one-day backlog: ours / curl", "curl, same lines and batches", "x",
            ratios);
        row("forward InfluxDB: CPU of the forwarding and network threads per day of rows", "-", "s",
            cpuPerDay);
    }
    influx.stop();

    // MQTT.
    MosquittoBroker broker;
    const QString brokerError = broker.start();
    if (!brokerError.isEmpty()) {
        std::fprintf(stderr, "mosquitto: %s\n", qPrintable(brokerError));
        return 1;
    }
    const QString messages = dir.filePath(QStringLiteral("messages.txt"));
    {
        QFile f(messages);
        f.open(QIODevice::WriteOnly);
        reader.forEachRowAfterId(0, mqttRows, [&](const RecordRow &row) {
            f.write(format.topic(row.serialNo) + ' ' + format.payload(row) + '\n');
            return true;
        });
    }
    const QString topic = QStringLiteral("bench/bench/+");
    const QString counted = dir.filePath(QStringLiteral("counted.txt"));
    QVector<double> mqttRatios, cpuRatios;
    for (int r = 0; r < runs; ++r) {
        double oursCpu = 0, anchorCpu = 0;
        auto runOurs = [&] {
            QProcess sub;
            if (!startCounter(sub, broker.port(), topic, mqttRows, counted))
                return 0.0;
            ForwardSettings s;
            s.mqttHost = QStringLiteral("127.0.0.1");
            s.mqttPort = broker.port();
            s.mqttPrefix = QStringLiteral("bench");
            s.save(projectPath);
            QFile::remove(ForwardPosition::filePathFor(projectPath, QStringLiteral("mqtt")));
            Forwarder forwarder(projectPath);
            QElapsedTimer t;
            t.start();
            forwarder.reload();
            // Counted at the subscriber, as for the anchor; the rows after the
            // first N are the program's own backlog going on.
            waitFor([&] { return sub.state() == QProcess::NotRunning; }, 600000);
            const double rate = mqttRows / (t.elapsed() / 1000.0);
            // The first N rows' share of the forwarding thread's time.
            oursCpu = threadCpuSeconds({QStringLiteral("forward-")}) * mqttRows /
                      qMax<qint64>(mqttRows, forwarder.state(Forwarder::Mqtt).lastId);
            return rate;
        };
        auto runAnchor = [&] {
            QProcess sub;
            if (!startCounter(sub, broker.port(), topic, mqttRows, counted))
                return 0.0;
            QProcess anchor;
            QElapsedTimer t;
            t.start();
            anchor.start(QStringLiteral(QK_MQTT_ANCHOR),
                         {QStringLiteral("127.0.0.1"), QString::number(broker.port()), messages,
                          QString::number(MqttTarget::kWindow)});
            waitFor([&] { return sub.state() == QProcess::NotRunning; }, 600000);
            const double rate = mqttRows / (t.elapsed() / 1000.0);
            if ((anchor.state() != QProcess::NotRunning && !anchor.waitForFinished(60000)) ||
                anchor.exitCode() != 0)
                std::fprintf(stderr, "mqttanchor failed\n");
            anchorCpu = anchor.readAllStandardOutput().trimmed().split(' ').value(1).toDouble();
            return rate;
        };
        double ours, anchor;
        if (r % 2 == 0) {
            ours = runOurs();
            anchor = runAnchor();
        } else {
            anchor = runAnchor();
            ours = runOurs();
        }
        std::printf("mqtt run %d: ours %.0f msg/s (%.2f CPU-s), libmosquitto client %.0f msg/s "
                    "(%.2f CPU-s), ratio %.2f\n",
                    r + 1, ours, oursCpu, anchor, anchorCpu, ours / anchor);
        std::fflush(stdout);
        mqttRatios << ours / anchor;
        cpuRatios << oursCpu / anchorCpu;
    }
    row(qPrintable(QStringLiteral("forward MQTT %1 rows: ours / anchor").arg(mqttRows)),
        "mqttanchor (libmosquitto, same window)", "x", mqttRatios);
    row("forward MQTT: CPU per message, ours / anchor", "mqttanchor", "x", cpuRatios);

    // Live: 16 rows a second through the recorder's writer, forwarding off and on.
    if (liveSeconds > 0) {
        InfluxServer liveInflux;
        liveInflux.start();
        liveInflux.query(QStringLiteral("CREATE DATABASE live"));
        const QString livePath = writeProject(dir.path(), QStringLiteral("live"), QString());
        ProjectDocument liveDoc;
        liveDoc.load(livePath);
        InsertSerialData writer(liveDoc.databasePath(), QUuid::createUuid().toString(QUuid::Id128));
        writer.createConnection();
        ForwardSettings s;
        s.influxUrl = liveInflux.url();
        s.influxDatabase = QStringLiteral("live");
        s.mqttHost = QStringLiteral("127.0.0.1");
        s.mqttPort = broker.port();
        s.save(livePath);
        quint32 time = 1767225600;
        QVector<double> on, off;
        for (int phase = 0; phase < 4; ++phase) {
            const bool forwarding = phase % 2 == 1;
            Forwarder forwarder(livePath);
            if (forwarding)
                forwarder.reload();
            const double cpu0 = ProcStats::cpuSeconds();
            QElapsedTimer t;
            t.start();
            for (int sec = 0; sec < liveSeconds; ++sec) {
                for (int d = 1; d <= 16; ++d) {
                    SerialRecord rec;
                    rec.serialNo = QString::asprintf("QKBENCH%011d", d);
                    rec.channel1 = 20 + d * 0.1;
                    rec.channel2 = 50 - d * 0.1;
                    rec.pointDate = time;
                    InsertSerialData::appendRecord(rec);
                    forwarder.liveSample(rec.serialNo, rec.channel1, rec.channel2, time);
                }
                ++time;
                writer.insertNow();
                waitFor([&] { return t.elapsed() >= (sec + 1) * 1000; }, 2000);
            }
            const double share = (ProcStats::cpuSeconds() - cpu0) / (t.elapsed() / 1000.0) * 100;
            (forwarding ? on : off) << share;
            std::printf("live, forwarding %s: CPU %.2f %% of one core, resident %.1f MiB%s\n",
                        forwarding ? "on " : "off", share, ProcStats::residentKiB() / 1024.0,
                        forwarding
                            ? qPrintable(QStringLiteral(", influx backlog %1, mqtt backlog %2")
                                             .arg(forwarder.state(Forwarder::Influx).backlog)
                                             .arg(forwarder.state(Forwarder::Mqtt).backlog))
                            : "");
            std::fflush(stdout);
        }
        row("forward live 16 rows/s, both targets: CPU with forwarding on", "-", "% core", on);
        row("forward live 16 rows/s: CPU with forwarding off", "-", "% core", off);
    }
    return 0;
}
