// libFuzzer entry for the project file reader. The first input byte picks the
// level: even, the bytes are the "DeviceList" JSON document handed to the
// parser; odd, the remaining bytes are a whole project file read from disk.
//
//   fuzz_projectfile --make-seeds DIR   writes valid seed inputs into DIR

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/projectfile.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

namespace
{

QTemporaryDir *workDir = nullptr;

QList<ConfiguredDevice *> sampleDevices(int connections, int nodesEach)
{
    QList<ConfiguredDevice *> devices;
    for (int c = 0; c < connections; ++c) {
        auto *device = new ConfiguredDevice;
        device->setDeviceInfo(QStringLiteral("192.168.1.%1").arg(c + 2), quint16(502 + c));
        device->setModel(c % 2 ? QStringLiteral("QB200") : QStringLiteral("QA100"));
        for (int n = 0; n < nodesEach; ++n) {
            auto *node = new NodeDevice(QStringLiteral("e2Y1MGMwMjFjLTBiMD%1").arg(n), device);
            node->startAddress = 8 * n;
            node->setNames(QStringLiteral("DEVICE%1").arg(n + 1), QStringLiteral("CH1"),
                           QStringLiteral("CH2"));
            node->setUnits(n % 5, (n + 1) % 5);
            node->setCustomUnits(QStringLiteral("kPa"), QString());
            node->setAlarmRange(-10.5f, 12.345f, 0.f, 100.f);
            device->addNode(node);
        }
        devices << device;
    }
    return devices;
}

void makeSeeds(const QString &dir)
{
    QDir().mkpath(dir);
    const int shapes[][2] = {{1, 1}, {2, 3}, {8, 2}, {1, 14}};
    int index = 0;
    for (const auto &shape : shapes) {
        const QList<ConfiguredDevice *> devices = sampleDevices(shape[0], shape[1]);
        const QString file = dir + QStringLiteral("/seed%1.qlk").arg(index);
        ProjectFile::create(file, QStringLiteral("seed"), 10000);
        ProjectFile::write(devices, file);
        ProjectFile::write(devices, file);
        QFile in(file);
        in.open(QIODevice::ReadOnly);
        const QByteArray ini = in.readAll();
        in.close();
        QFile::remove(file);

        QFile wholeFile(dir + QStringLiteral("/file%1").arg(index));
        wholeFile.open(QIODevice::WriteOnly);
        wholeFile.write(QByteArray(1, '\1') + ini);
        QFile json(dir + QStringLiteral("/json%1").arg(index));
        json.open(QIODevice::WriteOnly);
        json.write(QByteArray(1, '\0') + ProjectFile::toJson(devices));
        qDeleteAll(devices);
        ++index;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static int appArgc = 1;
    static char *appArgv[] = {(*argv)[0], nullptr};
    new QCoreApplication(appArgc, appArgv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\nqt.*=false"));
    for (int i = 1; i + 1 < *argc; ++i) {
        if (std::strcmp((*argv)[i], "--make-seeds") == 0) {
            makeSeeds(QString::fromLocal8Bit((*argv)[i + 1]));
            std::exit(0);
        }
    }
    workDir = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), int(size - 1));
    QList<ConfiguredDevice *> devices;
    if (data[0] % 2 == 0) {
        QVector<ProjectFile::Connection> connections;
        if (ProjectFile::parse(input, &connections))
            devices = ProjectFile::build(connections);
    } else {
        // A new name each time: QSettings caches parsed files by name.
        static quint64 counter = 0;
        const QString file = workDir->filePath(QStringLiteral("f%1.qlk").arg(++counter));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly))
            std::abort();
        out.write(input);
        out.close();
        ProjectFile::read(file, &devices);
        QFile::remove(file);
    }
    int nodes = 0;
    for (ConfiguredDevice *device : devices) {
        for (NodeDevice *node : device->nodeList()) {
            ++nodes;
            if (node->startAddress < 0 || node->startAddress > ProjectFile::kMaxStartAddress)
                std::abort();
        }
    }
    if (devices.size() > ProjectFile::kMaxConnections || nodes > ProjectFile::kMaxDevices)
        std::abort();
    qDeleteAll(devices);
    return 0;
}
