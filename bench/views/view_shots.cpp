// Renders the project centre with 16 devices (one in alarm) and the chart
// view with a full 240-sample history and the track cursor under the mouse to
// PNG files. The older part of the history is made up; the newest samples
// come from the gateway simulator, run in-process on loopback and polled like
// the program does. Run it under Xvfb to see the real window system at work.
//
//   view_shots <output folder>

#include "chart/qchartviewer.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "view/chartview.h"
#include "view/dashboard.h"
#include "view/projectcenter.h"

#include "gatewaysimulator.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>
#include <QtMath>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    dataIntervalMs = 1000;

    // Two gateways with eight devices each.
    GatewaySimulator::Options options;
    options.port = 0;
    options.devices = 8;
    options.updateMs = 0;
    std::unique_ptr<GatewaySimulator> sims[2];
    for (auto &sim : sims) {
        sim = std::make_unique<GatewaySimulator>(options);
        QString error;
        if (!sim->start(&error)) {
            std::fprintf(stderr, "simulator: %s\n", qPrintable(error));
            return 1;
        }
    }

    std::vector<std::unique_ptr<ConfiguredDevice>> owned;
    QList<ConfiguredDevice *> devices;
    for (int c = 0; c < 2; ++c) {
        auto device = std::make_unique<ConfiguredDevice>();
        device->setDeviceInfo(QStringLiteral("127.0.0.1"), sims[c]->serverPort());
        for (int i = 0; i < 8; ++i) {
            const int n = c * 8 + i + 1;
            auto *node = new NodeDevice(
                QStringLiteral("QL2600-%1").arg(n, 11, 10, QLatin1Char('0')), device.get());
            node->startAddress = i * 8;
            if (n == 3)
                node->setNames(QString(), QString(), QString());
            else if (n == 6)
                node->setNames(
                    QStringLiteral("A device name much too long for any tile on this board"),
                    QStringLiteral("Temperature"), QStringLiteral("Humidity"));
            else
                node->setNames(QStringLiteral("Room %1").arg(n), QStringLiteral("Temp"),
                               QStringLiteral("Hum"));
            node->setUnits(1, n == 9 ? 4 : 3);
            node->setCustomUnits(QString(), n == 9 ? QStringLiteral("ppm") : QString());
            node->setAlarmRange(0, 30, 0, 0);
            device->addNode(node);
        }
        devices.append(device.get());
        owned.push_back(std::move(device));
    }

    // The main window's central frame gives the centre its dark background.
    QFrame frame;
    frame.setObjectName(QStringLiteral("centralFrame"));
    frame.setStyleSheet(QStringLiteral(
        "QFrame#centralFrame { background-color: qlineargradient(spread:pad, x1:0, y1:0, "
        "x2:0, y2:1, stop:0 rgba(49, 49, 49, 255), stop:1 rgba(73, 73, 73, 255)); }"));
    auto *layout = new QVBoxLayout(&frame);
    layout->setContentsMargins(6, 6, 6, 6);
    ProjectCenter center(QStringLiteral("/tmp/Demo Plant.qlk"));
    layout->addWidget(&center);
    center.setDeviceList(devices);
    frame.resize(1022, 476);
    center.setDatabaseSize(5242880);
    center.setRecordState(true);
    frame.show();
    if (!QTest::qWaitForWindowExposed(&frame))
        return 1;

    const QDateTime now = QDateTime::currentDateTime();
    for (ConfiguredDevice *device : devices)
        device->deviceConnected();
    constexpr int kLive = 12;
    for (int s = 239; s >= kLive; --s) {
        int k = 0;
        for (ConfiguredDevice *device : devices) {
            for (NodeDevice *node : device->nodeList()) {
                const double phase = (240 - s) / 20.0 + k;
                double t = 22 + 3 * qSin(phase) + k * 0.1;
                if (k == 4)
                    t = 31.5 + qSin(phase); // in alarm
                QString ch2 = QString::number(45 + 8 * qCos(phase / 2), 'f', 2);
                if (k == 8)
                    ch2 = QString::number(1000.0 + 400 * qCos(phase / 3), 'f', 2);
                if (k == 12 && s > 200)
                    ch2.clear(); // a few missing values at the start of the history
                node->setData(QString::number(t, 'f', 2), ch2, QStringLiteral("-63"),
                              QStringLiteral("97"), now.addSecs(-s), false);
                ++k;
            }
        }
    }
    // The newest samples: the simulator's values, one poll per second as at
    // a 1 s interval; device 5 is pushed above its range.
    for (int poll = 0; poll < kLive; ++poll) {
        for (int d = 0; d < 16; ++d) {
            const double phase = (240 - kLive + poll) / 20.0 + d;
            float ch1 = float(22 + 3 * qSin(phase) + d * 0.1);
            if (d == 4)
                ch1 = float(31.5 + qSin(phase));
            float ch2 = float(45 + 8 * qCos(phase / 2));
            if (d == 8)
                ch2 = float(1000.0 + 400 * qCos(phase / 3));
            sims[d / 8]->setDeviceValues(d % 8, ch1, ch2, -60 - d, 97);
        }
        for (ConfiguredDevice *device : devices)
            device->poll();
        QTest::qWait(1000);
    }
    QTest::qWait(100);
    frame.grab().save(out + QStringLiteral("/dashboard.png"));

    center.slotDeviceClicked(devices.first()->nodeList().at(4));
    QTest::qWait(100);
    QChartViewer *viewer = center.chartView()->chartViewer1();
    QTest::mouseMove(viewer, QPoint(viewer->width() * 2 / 3, viewer->height() / 2));
    QTest::qWait(100);
    QTest::mouseMove(viewer, QPoint(viewer->width() * 2 / 3 + 3, viewer->height() / 2));
    QTest::qWait(100);
    frame.grab().save(out + QStringLiteral("/chartview.png"));

    for (auto &device : owned) {
        device->close();
        for (NodeDevice *node : device->nodeList()) {
            node->clearChartView();
            node->clearTiles();
            node->clearProjectList();
        }
    }
    return 0;
}
