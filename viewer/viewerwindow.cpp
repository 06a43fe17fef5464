// The data viewer's window: opening a project, ranges, history, summary and
// Follow. The chart itself is drawn in viewerwindow_chart.cpp, the exports
// are written in viewerwindow_export.cpp.
#include "viewer/viewerwindow.h"
#include "ui_viewerwindow.h"

#include "chart/xychart.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "record/recordreader.h"
#include "viewer/csvexporter.h"
#include "viewer/localtime.h"
#include "viewer/summarycache.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QThread>
#include <QtConcurrent>

#include <QTreeWidgetItem>
#include <algorithm>

namespace
{

// How often the window looks at the summary being built.
constexpr int kSummaryPollMs = 50;
constexpr int kFollowMs = 2000;
constexpr qint64 kMinSpanSeconds = 60;

} // namespace

ViewerWindow::SavePathHook ViewerWindow::askSavePath =
    [](QWidget *parent, const QString &caption, const QString &suggested, const QString &filter) {
        return QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    };

ViewerWindow::ViewerWindow(QWidget *parent) : QWidget(parent), ui(new Ui::ViewerWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("RideZodazo"));
    // The chart and the lists take every pixel the window gains; the status
    // line never does.
    ui->layout_main->setStretchFactor(ui->splitter_main, 1);
    ui->label_status->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    ui->splitter_main->setStretchFactor(1, 1);
    ui->splitter_main->setSizes({260, 1000});
    ui->splitter_right->setStretchFactor(0, 1);
    ui->splitter_right->setSizes({560, 180});
    ui->progress_work->setVisible(false);
    ui->btn_cancel->setVisible(false);
    ui->combo_preset->addItems({tr("Last hour"), tr("Last 24 hours"), tr("Last 7 days"),
                                tr("Recording period"), tr("Everything"), tr("Chosen range")});
    ui->combo_preset->setCurrentIndex(Everything);
    for (QDateTimeEdit *edit : {ui->edit_from, ui->edit_to})
        edit->setTimeSpec(Qt::UTC);
    setupStatsTable();
    setupEventsTable();
    setupCsvChoice();
    m_recentMenu = new QMenu(this);
    ui->btn_open->setMenu(m_recentMenu);
    ui->btn_open->setPopupMode(QToolButton::MenuButtonPopup);
    connect(ui->btn_open, &QToolButton::clicked, this, &ViewerWindow::openFile);
    connect(m_recentMenu, &QMenu::aboutToShow, this, &ViewerWindow::fillRecentMenu);
    fillRecentMenu();
    ui->label_status->setText(tr("Open a project (.qlk) or a record file (.dat) with Open."));

    QChartViewer *viewer = ui->chart_viewer;
    // The chart is drawn to the viewer's size, never the other way round: the
    // picture shown must not become the size the layout asks for.
    viewer->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    viewer->setMouseMode(QChartViewer::MouseUsageScroll);
    viewer->setScrollAxes(0);
    viewer->setZoomAxes(0);
    viewer->setSelectionFrameColor(QColor(0, 200, 200));
    viewer->setMouseTracking(true);
    viewer->installEventFilter(this);
    updateModeButtons();

    connect(viewer, &QChartViewer::viewPortChanged, this, &ViewerWindow::drawChart);
    connect(viewer, &QChartViewer::mouseMovePlotArea, this,
            [this](QMouseEvent *) { drawCursor(ui->chart_viewer->plotAreaMouseX()); });
    connect(viewer, &QChartViewer::mouseWheel, this, &ViewerWindow::onWheel);
    connect(ui->btn_back, &QPushButton::clicked, this, [this] { goBack(); });
    connect(ui->btn_pan, &QPushButton::clicked, this, [this] {
        ui->chart_viewer->setMouseMode(QChartViewer::MouseUsageScroll);
        updateModeButtons();
    });
    connect(ui->btn_zoom, &QPushButton::clicked, this, [this] {
        ui->chart_viewer->setMouseMode(QChartViewer::MouseUsageZoomIn);
        updateModeButtons();
    });
    connect(ui->check_follow, &QCheckBox::toggled, this, &ViewerWindow::setFollow);
    connect(ui->btn_export_csv, &QPushButton::clicked, this, &ViewerWindow::exportCsv);
    connect(ui->btn_export_png, &QPushButton::clicked, this, &ViewerWindow::exportPng);
    connect(ui->btn_cancel, &QPushButton::clicked, this, &ViewerWindow::cancelWork);
    connect(ui->combo_preset, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { applyPreset(Preset(index)); });
    connect(ui->btn_apply, &QPushButton::clicked, this, &ViewerWindow::applyRangeEdits);
    connect(ui->tree_series, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *, int) {
        m_reload = true;
        ui->chart_viewer->requestViewPortUpdate(true, false);
    });

    connect(&m_summaryTimer, &QTimer::timeout, this, &ViewerWindow::summaryStep);
    m_exportTimer.setInterval(0);
    connect(&m_exportTimer, &QTimer::timeout, this, &ViewerWindow::exportStep);
    m_followTimer.setInterval(kFollowMs);
    connect(&m_followTimer, &QTimer::timeout, this, &ViewerWindow::refreshFromDatabase);
}

ViewerWindow::~ViewerWindow()
{
    stopSummaryBuild();
    if (m_exporter)
        m_exporter->cancel();
    ui->chart_viewer->setChart(nullptr);
    delete ui;
}

void ViewerWindow::refreshBounds()
{
    qint64 first = 0;
    qint64 last = 0;
    // Where the clock went back the reader would read every row for its
    // bounds; the summary knows them.
    const bool fromSummary = m_summaryReady && m_reader && m_reader->timeOrderState().broken &&
                             m_summary->timeBounds(&first, &last);
    if (fromSummary || (m_reader && m_reader->timeBounds(&first, &last))) {
        m_dataFrom = first;
        m_dataTo = last;
    } else if (m_dataFrom == 0 && m_dataTo == 0) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        m_dataFrom = now - 3600;
        m_dataTo = now;
    }
    m_fullFrom = std::min(m_fullFrom == 0 ? m_dataFrom : m_fullFrom, m_dataFrom);
    m_fullTo = std::max(m_fullTo, m_dataTo);
    if (m_fullTo - m_fullFrom < kMinSpanSeconds)
        m_fullTo = m_fullFrom + kMinSpanSeconds;
}

void ViewerWindow::setupSeriesTree()
{
    QTreeWidget *tree = ui->tree_series;
    const QSignalBlocker blocker(tree);
    tree->clear();
    QTreeWidgetItem *device = nullptr;
    for (int i = 0; i < m_catalog.size(); ++i) {
        const SeriesInfo &info = m_catalog.at(i);
        if (!device || device->data(0, Qt::UserRole).toString() != info.deviceNumber) {
            QString name = info.deviceName.isEmpty() ? info.deviceNumber : info.deviceName;
            if (info.notInProject && !m_bareDatabase)
                name += tr(" (not in the project)");
            device = new QTreeWidgetItem(tree, {name});
            device->setData(0, Qt::UserRole, info.deviceNumber);
            // A tool tip that looks like markup is taken for it: escaped, the
            // number shows as it is.
            device->setToolTip(0, QStringLiteral("<span>") + info.deviceNumber.toHtmlEscaped() +
                                      QStringLiteral("</span>"));
            device->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
            device->setExpanded(true);
        }
        const QString text =
            (info.channelName.isEmpty() ? QStringLiteral("CH%1").arg(info.channel)
                                        : info.channelName) +
            (info.unit.isEmpty() ? QString() : QStringLiteral(" (") + info.unit + QLatin1Char(')'));
        auto *item = new QTreeWidgetItem(device, {text});
        item->setData(0, Qt::UserRole, i);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        // The first device is shown at the start.
        item->setCheckState(0, m_catalog.at(i).deviceNumber == m_catalog.at(0).deviceNumber
                                   ? Qt::Checked
                                   : Qt::Unchecked);
    }
}

QVector<SeriesInfo> ViewerWindow::shownSeries() const
{
    QVector<SeriesInfo> shown;
    QTreeWidget *tree = ui->tree_series;
    for (int d = 0; d < tree->topLevelItemCount(); ++d) {
        QTreeWidgetItem *device = tree->topLevelItem(d);
        for (int c = 0; c < device->childCount(); ++c) {
            if (device->child(c)->checkState(0) == Qt::Checked)
                shown.append(m_catalog.at(device->child(c)->data(0, Qt::UserRole).toInt()));
        }
    }
    return shown;
}

void ViewerWindow::setSeriesShown(int catalogIndex, bool shown)
{
    QTreeWidget *tree = ui->tree_series;
    for (int d = 0; d < tree->topLevelItemCount(); ++d) {
        QTreeWidgetItem *device = tree->topLevelItem(d);
        for (int c = 0; c < device->childCount(); ++c) {
            if (device->child(c)->data(0, Qt::UserRole).toInt() == catalogIndex)
                device->child(c)->setCheckState(0, shown ? Qt::Checked : Qt::Unchecked);
        }
    }
}

void ViewerWindow::setViewPortFor(qint64 from, qint64 to)
{
    // The full range grows to hold any range asked for.
    m_fullFrom = std::min(m_fullFrom, from);
    m_fullTo = std::max(m_fullTo, to);
    const double span = double(m_fullTo - m_fullFrom);
    QChartViewer *viewer = ui->chart_viewer;
    viewer->setZoomInLimit(std::min(1.0, double(kMinSpanSeconds) / span), 1);
    viewer->setViewPort(double(from - m_fullFrom) / span, 0, double(to - from) / span, 1);
}

void ViewerWindow::showRange(qint64 from, qint64 to)
{
    if (!m_loaded)
        return;
    if (to - from < kMinSpanSeconds)
        to = from + kMinSpanSeconds;
    setViewPortFor(from, to);
    m_reload = true;
    redrawNow();
}

void ViewerWindow::applyPreset(Preset preset)
{
    if (!m_loaded || preset == Custom)
        return;
    const QSignalBlocker blocker(ui->combo_preset);
    ui->combo_preset->setCurrentIndex(preset);
    qint64 from = m_dataFrom;
    qint64 to = m_dataTo;
    switch (preset) {
    case LastHour: from = to - 3600; break;
    case Last24Hours: from = to - 86400; break;
    case Last7Days: from = to - 7 * 86400; break;
    case RecordingPeriod: {
        qint64 start = 0;
        qint64 stop = 0;
        const bool hasStart = LocalTime::parse(m_project.recordStartTime, &start);
        const bool hasStop = LocalTime::parse(m_project.recordStopTime, &stop, true);
        if (!hasStart) {
            showMessage(this, QStringLiteral("INFORMATION"),
                        tr("The project file names no recording period; everything is shown."));
            break;
        }
        from = start;
        to = hasStop && stop > start ? stop : m_dataTo;
        break;
    }
    case Everything:
    case Custom: break;
    }
    if (m_visibleTo > m_visibleFrom)
        pushHistory();
    m_applyingPreset = true;
    showRange(from, to);
    m_applyingPreset = false;
}

void ViewerWindow::pushHistory()
{
    if (m_visibleTo <= m_visibleFrom)
        return;
    const QPair<qint64, qint64> range(m_visibleFrom, m_visibleTo);
    if (m_history.isEmpty() || m_history.constLast() != range)
        m_history.append(range);
    if (m_history.size() > 100)
        m_history.removeFirst();
    ui->btn_back->setEnabled(true);
}

bool ViewerWindow::goBack()
{
    if (m_history.isEmpty())
        return false;
    const QPair<qint64, qint64> range = m_history.takeLast();
    ui->btn_back->setEnabled(!m_history.isEmpty());
    showRange(range.first, range.second);
    return true;
}

bool ViewerWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A drag or a drawn rectangle changes the range once: Back returns to
    // where the mouse was pressed.
    if (watched == ui->chart_viewer) {
        // The chart is drawn to the viewer's size: whenever the layout gives
        // it another size (the first layout included) it is drawn anew.
        if (event->type() == QEvent::Resize && m_loaded)
            ui->chart_viewer->requestViewPortUpdate(true, false);
        if (event->type() == QEvent::MouseButtonPress)
            m_pressRange = qMakePair(m_visibleFrom, m_visibleTo);
        else if (event->type() == QEvent::MouseButtonRelease &&
                 m_pressRange.second > m_pressRange.first) {
            const QPair<qint64, qint64> before = m_pressRange;
            QTimer::singleShot(0, this, [this, before] {
                if (before != qMakePair(m_visibleFrom, m_visibleTo) &&
                    (m_history.isEmpty() || m_history.constLast() != before)) {
                    m_history.append(before);
                    ui->btn_back->setEnabled(true);
                }
            });
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ViewerWindow::onWheel(QWheelEvent *event)
{
    QChartViewer *viewer = ui->chart_viewer;
    const QPoint position = event->position().toPoint();
    if (!viewer->inPlotArea(position.x(), position.y()))
        return;
    const double factor = event->angleDelta().y() > 0 ? 1.25 : 0.8;
    pushHistory();
    if (viewer->zoomAt(0, position.x(), position.y(), factor))
        viewer->requestViewPortUpdate(true, false);
    event->accept();
}

void ViewerWindow::updateModeButtons()
{
    const int mode = ui->chart_viewer->mouseMode();
    ui->btn_pan->setChecked(mode == QChartViewer::MouseUsageScroll);
    ui->btn_zoom->setChecked(mode == QChartViewer::MouseUsageZoomIn);
}

// The range fields hold the clock as read on the wall (kept as UTC, where no
// hour is skipped or repeated); LocalTime reads it as the command line does.
void ViewerWindow::updateRangeEdits()
{
    for (const auto &[edit, time] :
         {std::pair{ui->edit_from, m_visibleFrom}, std::pair{ui->edit_to, m_visibleTo}}) {
        const QDateTime local = QDateTime::fromSecsSinceEpoch(time);
        edit->setDateTime(QDateTime(local.date(), local.time(), Qt::UTC));
    }
}

void ViewerWindow::applyRangeEdits()
{
    qint64 from = 0;
    qint64 to = 0;
    QString fromNote;
    QString toNote;
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const bool fromOk =
        LocalTime::parse(ui->edit_from->dateTime().toString(format), &from, false, &fromNote);
    const bool toOk =
        LocalTime::parse(ui->edit_to->dateTime().toString(format), &to, true, &toNote);
    QStringList notes;
    for (const QString &note : {fromNote, toNote}) {
        if (!note.isEmpty())
            notes << note + QLatin1Char('.');
    }
    if (fromOk && toOk && to <= from) {
        showMessage(this, QStringLiteral("WARNING"),
                    tr("The end of the range must lie after its start."));
        return;
    }
    if (fromOk && toOk) {
        pushHistory();
        showRange(from, to);
    }
    // Said after the range is drawn, which shows its own line.
    if (!notes.isEmpty())
        ui->label_status->setText(notes.join(QLatin1Char(' ')));
}

void ViewerWindow::startSummary()
{
    m_summary = std::make_unique<SummaryCache>(m_reader->path());
    m_summaryReady = false;
    if (m_summary->load(*m_reader)) {
        m_reader->resumeTimeOrder(m_summary->timeOrder());
        // The rows recorded since, usually few; the cache is written again
        // only when there were some.
        const qint64 added = m_summary->update(*m_reader, 0);
        m_reader->resumeTimeOrder(m_summary->timeOrder());
        m_summaryReady = true;
        if (added > 0)
            m_summary->save();
        addUnlistedDevices(m_summary->serials());
        return;
    }
    // Until the summary has read every row, the rows are taken to be in time
    // order; the check comes with the summary.
    m_reader->setTimeOrdered(true);
    showWork(tr("Building the summary of the recording..."));
    // Built off this thread, on a connection per thread, so that the window
    // stays live; the rows recorded meanwhile follow once it is done.
    m_buildUpTo = m_reader->maxId();
    m_building = std::make_unique<SummaryCache>(m_reader->path());
    m_buildProgress = 0;
    m_buildCancel = false;
    m_buildDone = false;
    // Small files are read on one thread; large ones on a few.
    const int threads = m_buildUpTo < 1000000 ? 1 : std::clamp(QThread::idealThreadCount(), 1, 4);
    SummaryCache *building = m_building.get();
    m_buildFuture = QtConcurrent::run([this, building, threads] {
        m_buildResult =
            building->build(m_buildUpTo, threads, &m_buildProgress, &m_buildCancel, &m_buildError);
        m_buildDone = true;
    });
    m_summaryTimer.start(kSummaryPollMs);
}

void ViewerWindow::summaryStep()
{
    const qint64 upTo = std::max<qint64>(1, m_buildUpTo);
    ui->progress_work->setValue(int(std::min<qint64>(1000, 1000 * m_buildProgress.load() / upTo)));
    if (!m_buildDone)
        return;
    m_summaryTimer.stop();
    m_buildFuture.waitForFinished();
    if (m_buildResult >= 0) {
        m_summary = std::move(m_building);
        if (m_summary->update(*m_reader, 0) < 0) {
            m_buildResult = -1;
            m_buildError = m_reader->errorText();
        }
    }
    m_building.reset();
    if (m_buildResult < 0) {
        m_summary->clear();
        endWork(tr("The summary could not be built: %1").arg(m_buildError));
        return;
    }
    m_reader->resumeTimeOrder(m_summary->timeOrder());
    m_summaryReady = true;
    m_summary->save();
    addUnlistedDevices(m_summary->serials());
    endWork(tr("%1 rows").arg(m_summary->rowsSeen()));
    // The bounds were taken with the rows assumed in time order; now the
    // order is known (the clock may have gone back), they are taken again
    // and a preset on show follows them.
    refreshBounds();
    m_reload = true;
    if (ui->combo_preset->currentIndex() != Custom)
        applyPreset(Preset(ui->combo_preset->currentIndex()));
    else
        redrawNow();
    emit summaryBuilt();
}

void ViewerWindow::stopSummaryBuild()
{
    m_summaryTimer.stop();
    if (m_buildFuture.isRunning()) {
        m_buildCancel = true;
        m_buildFuture.waitForFinished();
    }
    m_building.reset();
}

void ViewerWindow::setFollow(bool follow)
{
    m_follow = follow;
    if (ui->check_follow->isChecked() != follow)
        ui->check_follow->setChecked(follow);
    if (follow) {
        m_followTimer.start();
        refreshFromDatabase();
    } else {
        m_followTimer.stop();
    }
}

void ViewerWindow::refreshFromDatabase()
{
    if (!m_loaded)
        return;
    if (m_summaryReady) {
        m_summary->update(*m_reader, 0);
        m_reader->resumeTimeOrder(m_summary->timeOrder());
    }
    const qint64 oldEnd = m_dataTo;
    refreshBounds();
    if (!m_follow)
        return;
    const qint64 span = std::max<qint64>(m_visibleTo - m_visibleFrom, kMinSpanSeconds);
    if (m_dataTo != oldEnd || m_visibleTo < m_dataTo)
        showRange(m_dataTo - span, m_dataTo);
}

void ViewerWindow::showWork(const QString &text)
{
    ui->label_status->setText(text);
    ui->progress_work->setValue(0);
    ui->progress_work->setVisible(true);
    ui->btn_cancel->setVisible(m_exporter != nullptr);
}

void ViewerWindow::endWork(const QString &text)
{
    ui->label_status->setText(text);
    ui->progress_work->setVisible(m_summaryTimer.isActive() || m_exporter);
    ui->btn_cancel->setVisible(m_exporter != nullptr);
}

void ViewerWindow::closeEvent(QCloseEvent *event)
{
    if (m_exporter)
        cancelWork();
    stopSummaryBuild();
    QWidget::closeEvent(event);
}
