// Median times of the project file reader and writer on a full project
// (8 connections, 16 devices) on a real file, and of the project editor
// filling its tree from that list, running the start-address cascade over 14
// devices and confirming.
//
//   bench_projectfile [--runs N]

#include "app/projectfile.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "project/projectmanager.h"
#include "project/treemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{

QList<ConfiguredDevice *> fullProject()
{
    QList<ConfiguredDevice *> devices;
    for (int c = 0; c < 8; ++c) {
        auto *device = new ConfiguredDevice;
        device->setDeviceInfo(QStringLiteral("192.168.1.%1").arg(c + 2), 502);
        for (int n = 0; n < 2; ++n) {
            auto *node = new NodeDevice(
                QStringLiteral("%1").arg(c * 2 + n, 18, 10, QLatin1Char('0')), device);
            node->startAddress = n * 8;
            node->setNames(QStringLiteral("DEVICE%1").arg(n + 1), QStringLiteral("CH1"),
                           QStringLiteral("CH2"));
            node->setAlarmRange(-20.f, 8.f, 10.f, 90.f);
            device->addNode(node);
        }
        devices << device;
    }
    return devices;
}

double medianUs(int runs, const std::function<void()> &work)
{
    std::vector<double> samples;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        work();
        samples.push_back(clock.nsecsElapsed() / 1000.0);
    }
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--runs"));
    const int runs = qMax(1, at > 0 && at + 1 < args.size() ? args.at(at + 1).toInt() : 50);

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("bench.qlk"));
    ProjectFile::create(file, QStringLiteral("bench"), 10000);
    const QList<ConfiguredDevice *> devices = fullProject();

    const double writeUs = medianUs(runs, [&] { ProjectFile::write(devices, file); });
    const double readUs = medianUs(runs, [&] {
        QList<ConfiguredDevice *> read;
        ProjectFile::read(file, &read);
        qDeleteAll(read);
    });

    ProjectManager::messageHook = [](QWidget *, const QString &, const QString &) {};
    const double loadUs = medianUs(runs, [&] {
        ProjectManager editor;
        editor.loadDeviceList(devices);
    });

    ProjectManager editor;
    editor.slotProjectAddConnection();
    for (int i = 0; i < 14; ++i)
        editor.slotProjectAddDevice();
    TreeModel *model = editor.model();
    const QModelIndex second = model->index(1, 2, model->index(0, 0));
    int flip = 0;
    const double cascadeUs = medianUs(runs, [&] { model->setData(second, (flip++ % 2) ? 8 : 9); });

    QObject::connect(&editor, &ProjectManager::projectListConfirm,
                     [](const QList<ConfiguredDevice *> &list) { qDeleteAll(list); });
    const double confirmUs = medianUs(runs, [&] { editor.slotProjectListConfirm(); });

    std::printf("project file, 8 connections / 16 devices, %d runs (median)\n", runs);
    std::printf("  write (with backup, synced)  %10.1f us\n", writeUs);
    std::printf("  read and build pollers       %10.1f us\n", readUs);
    std::printf("editor\n");
    std::printf("  loadDeviceList (16 devices)  %10.1f us\n", loadUs);
    std::printf("  cascade over 13 devices      %10.1f us\n", cascadeUs);
    std::printf("  confirm 14 devices           %10.1f us\n", confirmUs);
    qDeleteAll(devices);
    return 0;
}
