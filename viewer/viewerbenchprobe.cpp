#include "viewer/viewerbenchprobe.h"

#include "chart/qchartviewer.h"
#include "viewer/viewerwindow.h"

#include <QApplication>
#include <QFile>
#include <QTimer>
#include <QWheelEvent>

#include <time.h>

void ViewerBenchProbe::installIfAsked(ViewerWindow *window)
{
    const QString path = qEnvironmentVariable("QUILLARK_BENCH_PROBE");
    if (path.isEmpty())
        return;
    auto *probe = new ViewerBenchProbe(path, window);
    window->findChild<QChartViewer *>(QStringLiteral("chart_viewer"))->installEventFilter(probe);
    connect(window, &ViewerWindow::summaryBuilt, probe, [probe] {
        probe->m_summarySeen = true;
        probe->note("summary");
        probe->next();
    });
}

ViewerBenchProbe::ViewerBenchProbe(const QString &path, ViewerWindow *window)
    : QObject(window), m_path(path), m_window(window),
      m_wheels(qEnvironmentVariableIntValue("QUILLARK_BENCH_WHEEL")),
      m_waitSummary(qEnvironmentVariableIntValue("QUILLARK_BENCH_WAIT_SUMMARY") == 1),
      m_exit(qEnvironmentVariableIntValue("QUILLARK_BENCH_EXIT") == 1)
{
}

void ViewerBenchProbe::note(const QByteArray &what, qint64 value)
{
    if (value < 0) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        value = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    QFile file(m_path);
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write(what + ' ' + QByteArray::number(value) + '\n');
}

void ViewerBenchProbe::next()
{
    if (!m_chartSeen || (m_waitSummary && !m_summarySeen && !m_window->summaryReady()) ||
        m_wheelPending)
        return;
    auto *viewer = m_window->findChild<QChartViewer *>(QStringLiteral("chart_viewer"));
    if (m_wheels > 0) {
        --m_wheels;
        // Alternately in and out, so the range stays wide.
        const QPoint centre(viewer->getPlotAreaLeft() + viewer->getPlotAreaWidth() / 2,
                            viewer->getPlotAreaTop() + viewer->getPlotAreaHeight() / 2);
        QWheelEvent wheel(centre, viewer->mapToGlobal(centre), QPoint(),
                          QPoint(0, m_wheels % 2 ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        m_wheelPending = true;
        note("wheel");
        QApplication::sendEvent(viewer, &wheel);
        return;
    }
    if (!m_exit || m_started)
        return;
    m_started = true;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                note("vmhwm", line.mid(6).trimmed().split(' ').value(0).toLongLong());
        }
    }
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

bool ViewerBenchProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && m_window->isLoaded()) {
        auto *viewer = static_cast<QChartViewer *>(watched);
        if (viewer->chart() && !m_chartSeen) {
            m_chartSeen = true;
            note("chart");
            QTimer::singleShot(0, this, &ViewerBenchProbe::next);
        } else if (m_wheelPending && !viewer->chartUpdatePending()) {
            m_wheelPending = false;
            note("wheel-painted");
            QTimer::singleShot(0, this, &ViewerBenchProbe::next);
        }
    }
    return false;
}
