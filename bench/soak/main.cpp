// Soak run of the main window with 8 simulated gateways (separate processes,
// 2 devices each) at a 1-second interval, recording on and the chart view of
// one device open.
//
//   bench_soak [--minutes N | --seconds N] [--extra-rows N] [--log]
//
// Prints the CPU share of one core used by this process (after start-up),
// the resident memory at minute 1 and at the end, and the rows written
// against the rows expected from the replies received while recording.
//
// --extra-rows N accelerates the recording: besides the gateways' samples,
// N rows a second of 16 more devices (one row per device and second of
// simulated time) go through the record database's queue and writer thread,
// so that days of rows reach the file in minutes. Resident memory is then
// printed every 30 s, to show whether it grows with the file.
#include "app/projectfile.h"
#include "app/projectmain.h"
#include "app/quillarkmain.h"
#include "bench/procstats.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/modbusdevice.h"
#include "device/nodedevice.h"
#include "record/insertserialdata.h"
#include "view/projectcenter.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <memory>
#include <unistd.h>

namespace
{

constexpr int kGateways = 8;
constexpr int kDevicesPerGateway = 2;

quint16 freePort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}

} // namespace

// Friend of the main window: reaches its pollers and record switch.
class SoakBench
{
public:
    static QList<ConfiguredDevice *> devices(QuillarkMain &w) { return w.m_deviceList; }
    static ProjectMain *startScreen(QuillarkMain &w) { return w.m_projectMain; }
    static ProjectCenter *center(QuillarkMain &w) { return w.m_projectCenter; }
    static bool recording(QuillarkMain &w) { return w.m_bIsRecordStart; }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);

    int seconds = 600;
    bool log = false;
    int extraRows = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--minutes") && i + 1 < args.size())
            seconds = args[++i].toInt() * 60;
        else if (args[i] == QLatin1String("--seconds") && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == QLatin1String("--log"))
            log = true;
        else if (args[i] == QLatin1String("--extra-rows") && i + 1 < args.size())
            extraRows = args[++i].toInt();
    }
    if (!log)
        QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    QTextStream out(stdout);

    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       dir.filePath(QStringLiteral("settings")));

    // The gateways, each its own process on loopback.
    std::vector<std::unique_ptr<QProcess>> gateways;
    QVector<ProjectFile::Connection> connections;
    for (int g = 0; g < kGateways; ++g) {
        const quint16 port = freePort();
        auto process = std::make_unique<QProcess>();
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(QStringLiteral(QK_GATEWAY_SIM),
                       {QStringLiteral("--port"), QString::number(port),
                        QStringLiteral("--devices"), QString::number(kDevicesPerGateway)});
        if (!process->waitForStarted(5000) || !process->waitForReadyRead(5000)) {
            out << "cannot start the gateway simulator\n";
            return 1;
        }
        gateways.push_back(std::move(process));
        ProjectFile::Connection c;
        c.ipAddress = QStringLiteral("127.0.0.1");
        c.port = port;
        c.model = QStringLiteral("QA100");
        for (int d = 0; d < kDevicesPerGateway; ++d) {
            ProjectFile::Node n;
            n.startAddress = d * 8;
            n.deviceNumber =
                QStringLiteral("SOAK%1").arg(g * kDevicesPerGateway + d, 14, 10, QLatin1Char('0'));
            n.deviceName = QStringLiteral("Soak %1").arg(g * kDevicesPerGateway + d + 1);
            n.ch1Name = QStringLiteral("Temperature");
            n.ch2Name = QStringLiteral("Humidity");
            n.ch1Unit = 1;
            n.ch2Unit = 3;
            n.ch1Min = 0;
            n.ch1Max = 50;
            n.ch2Min = 0;
            n.ch2Max = 100;
            c.nodes << n;
        }
        connections << c;
    }
    const QString project = dir.filePath(QStringLiteral("soak.qlk"));
    ProjectFile::create(project, QStringLiteral("soak"), 1000);
    {
        QList<ConfiguredDevice *> built = ProjectFile::build(connections);
        ProjectFile::write(built, project);
        qDeleteAll(built);
    }

    QuillarkMain w;
    w.show();
    emit SoakBench::startScreen(w)->projectLoaded(project);
    ProjectCenter *center = SoakBench::center(w);
    if (!center) {
        out << "project did not open\n";
        return 1;
    }
    const QList<ConfiguredDevice *> devices = SoakBench::devices(w);
    center->slotDeviceClicked(devices.first()->nodeList().first());

    // Replies received while recording: each carries one row per device.
    qint64 expectedRows = 0;
    for (ConfiguredDevice *device : devices) {
        auto *modbus = dynamic_cast<ModbusDevice *>(device->device());
        QObject::connect(modbus, &ModbusDevice::readyRead, &app, [&w, &expectedRows, device] {
            if (SoakBench::recording(w))
                expectedRows += device->nodeList().size();
        });
    }

    long rssMinute1 = 0;
    double cpuStart = 0;
    QElapsedTimer wall;
    QTimer::singleShot(3000, &app, [&] {
        // Start-up is over: connections are up. Record from here.
        center->findChild<QToolButton *>(QStringLiteral("btn_record"))->click();
        cpuStart = ProcStats::cpuSeconds();
        wall.start();
        out << "recording for " << seconds << " s" << Qt::endl;
    });
    QTimer::singleShot(3000 + 60000, &app, [&] { rssMinute1 = ProcStats::residentKiB(); });
    // The accelerated rows, 10 times a second, written as they come.
    qint64 extraWritten = 0;
    quint32 simulated = quint32(QDateTime::currentSecsSinceEpoch()) - 90u * 86400u;
    QTimer extra;
    QTimer rssLog;
    if (extraRows > 0) {
        QObject::connect(&extra, &QTimer::timeout, &app, [&] {
            if (!SoakBench::recording(w))
                return;
            auto *db = w.findChild<InsertSerialData *>();
            for (int i = 0; i < extraRows / 10; ++i, ++extraWritten) {
                const int device = int(extraWritten % 16);
                if (device == 0)
                    ++simulated;
                InsertSerialData::appendRecord(
                    {QStringLiteral("FAST%1").arg(device, 14, 10, QLatin1Char('0')),
                     double(float(20 + (extraWritten % 1000) * 0.01)), 50.0, simulated});
            }
            if (db)
                db->writeQueued();
        });
        extra.start(100);
        QObject::connect(&rssLog, &QTimer::timeout, &app, [&] {
            out << "t=" << wall.elapsed() / 1000 << " s: rss " << ProcStats::residentKiB()
                << " KiB, extra rows " << extraWritten << " ("
                << QString::number(double(extraWritten) / 16 / 86400, 'f', 2)
                << " days of 16 devices), waiting " << InsertSerialData::pendingCount() << Qt::endl;
        });
        rssLog.start(30000);
    }
    QTimer::singleShot(3000 + seconds * 1000, &app, [&] {
        center->findChild<QToolButton *>(QStringLiteral("btn_record"))->click();
        app.quit();
    });
    app.exec();

    const double cpu = ProcStats::cpuSeconds() - cpuStart;
    const double elapsed = wall.elapsed() / 1000.0;
    const long rssEnd = ProcStats::residentKiB();
    const QString database = dir.filePath(QStringLiteral("soak.dat"));
    w.close();

    qint64 rows = 0, gapRows = 0;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("soak"));
        db.setDatabaseName(database);
        if (db.open()) {
            QSqlQuery q(db);
            q.exec(QStringLiteral(
                "select count(*), sum(channel1 is null and channel2 is null) from fennolink"));
            if (q.next()) {
                rows = q.value(0).toLongLong();
                gapRows = q.value(1).toLongLong();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("soak"));
    for (auto &p : gateways) {
        p->terminate();
        p->waitForFinished(3000);
    }

    out << "devices: " << kGateways * kDevicesPerGateway << " on " << kGateways
        << " gateways, interval 1 s" << (log ? ", debug log on" : ", debug log off") << "\n";
    out << "recorded: " << QString::number(elapsed, 'f', 1) << " s\n";
    out << "cpu: " << QString::number(cpu, 'f', 2)
        << " s = " << QString::number(100.0 * cpu / elapsed, 'f', 2) << " % of one core\n";
    out << "rss at minute 1: "
        << (rssMinute1 ? QString::number(rssMinute1) + " KiB" : QStringLiteral("n/a"))
        << ", at the end: " << rssEnd << " KiB\n";
    out << "database: " << QString::number(double(QFileInfo(database).size()) / 1048576.0, 'f', 1)
        << " MiB, extra rows queued: " << extraWritten << "\n";
    out << "rows written: " << rows << " (" << gapRows << " gap rows), expected: " << expectedRows
        << " + " << devices.size() * kDevicesPerGateway << " gap rows\n";
    return 0;
}
