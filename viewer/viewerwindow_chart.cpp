// The data viewer's chart: loading the range on show, drawing it with its
// limit lines, the track cursor and the statistics table.
#include "ui_viewerwindow.h"
#include "viewer/viewerwindow.h"

#include "chart/charttime.h"
#include "chart/drawarea.h"
#include "chart/linelayer.h"
#include "chart/xychart.h"
#include "common/common.h"
#include "common/messagedialog.h"
#include "record/recordreader.h"
#include "viewer/summarycache.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace
{

// Room for one more value axis with its labels.
constexpr int kAxisStep = 56;

const int kPalette[] = {0x00D0D0, 0xFF6060, 0xF0C040, 0x70E070, 0xC080FF, 0xFF9040,
                        0x60A0FF, 0xE060C0, 0xA0E0E0, 0xFFB0B0, 0xD0D070, 0x40B080,
                        0x9090FF, 0xE0A070, 0xB0B0B0, 0xFF70A0};

QString timeText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString durationText(qint64 seconds)
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg((seconds % 3600) / 60);
}

QString valueText(double value, const QString &unit)
{
    const QString number = QString::number(value, 'g', 6);
    return unit.isEmpty() ? number : number + QLatin1Char(' ') + unit;
}

} // namespace

void ViewerWindow::setupStatsTable()
{
    QTableWidget *table = ui->table_stats;
    table->setColumnCount(8);
    table->setHorizontalHeaderLabels({tr("Series"), tr("Minimum"), tr("at"), tr("Maximum"),
                                      tr("at"), tr("Mean"), tr("Samples"), tr("Outside limits")});
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionMode(QAbstractItemView::NoSelection);
}

void ViewerWindow::loadRange()
{
    QElapsedTimer clock;
    clock.start();
    m_shown = shownSeries();
    RangeLoader loader(m_reader.get(), m_summaryReady ? m_summary.get() : nullptr,
                       m_intervalSeconds);
    loader.setDeferWideRanges(!m_summaryReady);
    const int columns = std::max(50, ui->chart_viewer->width() - 80);
    if (!loader.load(m_visibleFrom, m_visibleTo, columns, m_shown, &m_views)) {
        ui->label_status->setText(tr("Reading failed: %1").arg(loader.errorText()));
        showMessage(this, QStringLiteral("ERROR"), loader.errorText());
        m_views.clear();
    } else if (loader.deferred()) {
        ui->label_status->setText(
            tr("Building the summary of the recording: this range follows when it is ready."));
    } else if (!m_summaryTimer.isActive() && !m_exporter) {
        ui->label_status->setText(
            tr("%1 to %2  ·  %3 ms%4")
                .arg(timeText(m_visibleFrom), timeText(m_visibleTo))
                .arg(clock.elapsed())
                .arg(loader.usedSummary() ? tr("  ·  from the summary") : QString()));
    }
    m_colors.clear();
    for (const SeriesInfo &info : qAsConst(m_shown)) {
        const int index = m_catalog.indexOf(info.deviceNumber, info.channel);
        m_colors.append(kPalette[std::max(0, index) % 16]);
    }
    fillStatistics();
    loadAlarmContext();
    fillEvents();
}

void ViewerWindow::redrawNow()
{
    drawChart();
}

void ViewerWindow::drawChart()
{
    if (!m_loaded)
        return;
    QChartViewer *viewer = ui->chart_viewer;
    viewer->validateViewPort();
    const double span = double(m_fullTo - m_fullFrom);
    const qint64 from = m_fullFrom + qint64(std::llround(viewer->getViewPortLeft() * span));
    const qint64 to =
        from + std::max<qint64>(1, qint64(std::llround(viewer->getViewPortWidth() * span)));
    const bool moved = from != m_visibleFrom || to != m_visibleTo;
    if (moved || m_reload || m_views.size() != shownSeries().size()) {
        m_visibleFrom = from;
        m_visibleTo = to;
        m_reload = false;
        // The cursor's text belongs to the old range and series.
        ui->label_cursor->clear();
        loadRange();
        updateRangeEdits();
        if (moved && !m_applyingPreset) {
            const QSignalBlocker blocker(ui->combo_preset);
            ui->combo_preset->setCurrentIndex(Custom);
        }
    }

    const int width = std::max(200, viewer->width());
    const int height = std::max(150, viewer->height());

    // One value axis per unit: the first on the left, the next on the right,
    // then outwards on alternate sides.
    QStringList units;
    QVector<int> axisOf;
    for (const SeriesInfo &info : qAsConst(m_shown)) {
        int index = units.indexOf(info.unit);
        if (index < 0) {
            index = units.size();
            units.append(info.unit);
        }
        axisOf.append(index);
    }
    const int axes = std::max(1, int(units.size()));
    const int leftAxes = (axes + 1) / 2;
    const int rightAxes = axes / 2;
    const int plotLeft = 60 + (leftAxes - 1) * kAxisStep;
    const int plotRight = 20 + (rightAxes > 0 ? 40 : 0) + std::max(0, rightAxes - 1) * kAxisStep;

    auto *chart = new XYChart(width, height, 0x303030, ChartColor::Transparent, 0);
    const int plotBackground =
        chart->linearGradientColor(0, 10, 0, height - 30, 0x3c3c3c, 0x202020, false);
    const int plotTop = axes > 1 || !units.value(0).isEmpty() ? 22 : 12;
    chart->setPlotArea(plotLeft, plotTop, std::max(50, width - plotLeft - plotRight),
                       height - plotTop - 30, plotBackground, -1, ChartColor::Transparent,
                       0x60707070, 0x60707070);
    chart->setClipping(0);
    QVector<ChartAxis *> yAxes{chart->yAxis()};
    for (int a = 1; a < axes; ++a)
        yAxes.append(chart->addYAxis());
    for (int a = 0; a < axes; ++a) {
        ChartAxis *axis = yAxes.at(a);
        axis->setPlacement(a % 2 == 0 ? ChartAxis::Left : ChartAxis::Right, (a / 2) * kAxisStep);
        axis->setTitle(units.value(a));
        axis->setTickDensity(30);
    }
    QVector<ChartAxis *> allAxes = yAxes;
    allAxes.append(chart->xAxis());
    for (ChartAxis *axis : qAsConst(allAxes)) {
        axis->setColors(0x80C0C0C0, 0x20F4F4F4, 0x20F4F4F4, -1);
        axis->setWidth(1);
    }
    chart->xAxis()->setTickDensity(90, 18);
    chart->xAxis()->setDateScale(double(m_visibleFrom), double(m_visibleTo));
    const qint64 visibleSpan = m_visibleTo - m_visibleFrom;
    chart->xAxis()->setLabelFormat(visibleSpan <= 1800 ? QStringLiteral("{value|hh:nn:ss}")
                                   : visibleSpan <= 2 * 86400
                                       ? QStringLiteral("{value|hh:nn}")
                                       : QStringLiteral("{value|mm-dd hh:nn}"));

    // Each value axis spans the data on show in its unit; limit lines outside it are clipped.
    for (int a = 0; a < axes; ++a) {
        double low = 0;
        double high = 0;
        bool any = false;
        for (int i = 0; i < m_views.size() && i < axisOf.size(); ++i) {
            if (axisOf.at(i) != a)
                continue;
            for (double y : m_views.at(i).y) {
                if (y == NoValue)
                    continue;
                low = any ? std::min(low, y) : y;
                high = any ? std::max(high, y) : y;
                any = true;
            }
        }
        if (!any) {
            low = 0;
            high = 1;
        }
        const double pad = high > low ? (high - low) * 0.06 : std::max(1.0, std::abs(high) * 0.05);
        yAxes.at(a)->setLinearScale(low - pad, high + pad);
    }

    for (int i = 0; i < m_views.size() && i < m_shown.size(); ++i) {
        const SeriesView &view = m_views.at(i);
        if (view.x.isEmpty())
            continue;
        ChartAxis *axis = yAxes.value(axisOf.value(i), chart->yAxis());
        LineLayer *layer = chart->addLineLayer();
        layer->setUseYAxis(axis);
        layer->setXData(view.x);
        layer->addDataSet(view.y, m_colors.value(i, 0x00D0D0), m_shown.at(i).labelWithUnit());
        layer->setLineWidth(1);
    }
    QVector<ChartAxis *> axisOfSeries;
    for (int i = 0; i < m_shown.size(); ++i)
        axisOfSeries.append(yAxes.value(axisOf.value(i), chart->yAxis()));
    drawAlarmContext(chart, axisOfSeries);
    chart->makeChart();
    delete viewer->chart();
    viewer->setChart(chart);
    if (viewer->isMouseOnPlotArea())
        drawCursor(viewer->plotAreaMouseX());
}

bool ViewerWindow::searchableByTime() const
{
    // Where the clock went back, the rows after the step are read whole by a
    // search: cheap enough for a cursor only while they are few.
    constexpr qint64 kScannedRowsAtMost = 50000;
    if (m_reader->timeOrdered())
        return true;
    const RecordReader::TimeOrderState order = m_reader->timeOrderState();
    return order.broken && m_reader->maxId() - order.orderedUpTo <= kScannedRowsAtMost;
}

QString ViewerWindow::cursorText(qint64 time) const
{
    // Each series shows its sample nearest to the cursor, with that sample's
    // own time: read from the rows around the cursor when the file can be
    // searched by time, else the nearest point drawn (a real sample too:
    // the extremes of a column keep their times).
    const double gap = 2.5 * m_intervalSeconds;
    QVector<double> bestValue(m_shown.size(), NoValue);
    QVector<qint64> bestTime(m_shown.size(), 0);
    QVector<double> bestDistance(m_shown.size(), gap);
    auto consider = [&](int i, qint64 at, double value) {
        const double distance = std::abs(double(at - time));
        if (value != NoValue && distance <= bestDistance.at(i)) {
            bestDistance[i] = distance;
            bestValue[i] = value;
            bestTime[i] = at;
        }
    };
    bool fromRows = false;
    if (m_reader && m_summaryReady && !m_shown.isEmpty() && searchableByTime()) {
        QStringList devices;
        for (const SeriesInfo &info : m_shown) {
            if (!devices.contains(info.deviceNumber))
                devices.append(info.deviceNumber);
        }
        const qint64 reach = qint64(std::ceil(gap));
        fromRows = m_reader->forEachRowInTime(
            time - reach, time + reach, devices, [&](const RecordRow &row) {
                for (int i = 0; i < m_shown.size(); ++i) {
                    const SeriesInfo &info = m_shown.at(i);
                    if (info.deviceNumber.toUtf8() == row.serialNo)
                        consider(i, row.pointDate, info.channel == 1 ? row.channel1 : row.channel2);
                }
                return true;
            });
    }
    if (!fromRows) {
        for (int i = 0; i < m_views.size() && i < m_shown.size(); ++i) {
            const SeriesView &view = m_views.at(i);
            const auto it = std::lower_bound(view.x.begin(), view.x.end(), double(time));
            bestDistance[i] = std::max(gap, double(m_visibleTo - m_visibleFrom) / 500.0);
            for (auto candidate : {it, it == view.x.begin() ? it : it - 1}) {
                if (candidate != view.x.end())
                    consider(i, qint64(*candidate), view.y.at(int(candidate - view.x.begin())));
            }
        }
    }
    const QString day = QDateTime::fromSecsSinceEpoch(time).toString(QStringLiteral("yyyy-MM-dd"));
    QStringList parts{timeText(time)};
    for (int i = 0; i < m_shown.size(); ++i) {
        QString text = m_shown.at(i).label() + QStringLiteral(": ");
        if (bestValue.at(i) == NoValue) {
            text += tr("no value");
        } else {
            QString at = timeText(bestTime.at(i));
            if (at.startsWith(day))
                at = at.mid(11);
            text += tr("%1 at %2").arg(valueText(bestValue.at(i), m_shown.at(i).unit), at);
        }
        parts << text;
    }
    return parts.join(QStringLiteral("   |   "));
}

void ViewerWindow::drawCursor(int mouseX)
{
    XYChart *chart = ui->chart_viewer->chart();
    if (!chart)
        return;
    PlotArea *plotArea = chart->getPlotArea();
    const int x = std::clamp(mouseX, plotArea->getLeftX(), plotArea->getRightX());
    const qint64 time = qint64(std::llround(chart->xAxis()->fromPixel(x)));
    DrawArea *d = chart->initDynamicLayer();
    d->vline(plotArea->getTopY(), plotArea->getBottomY(), x, d->dashLineColor(0x40F4F4F4, 0x0202));
    ui->label_cursor->setText(cursorText(time));
    showEventAt(time, ui->chart_viewer->mapToGlobal(QPoint(x, plotArea->getTopY())));
    ui->chart_viewer->refreshDisplay();
}

void ViewerWindow::fillStatistics()
{
    QTableWidget *table = ui->table_stats;
    table->setRowCount(m_views.size());
    for (int i = 0; i < m_views.size() && i < m_shown.size(); ++i) {
        const SeriesStatistics &s = m_views.at(i).stats;
        const SeriesInfo &info = m_shown.at(i);
        const bool has = s.samples() > 0;
        QString outside = QStringLiteral("-");
        if (s.hasLimits() && has)
            outside = (s.outsideExact() ? QString() : QStringLiteral(">= ")) +
                      durationText(s.outsideSeconds());
        const QStringList cells = {info.labelWithUnit(),
                                   has ? valueText(s.minimum(), info.unit) : QStringLiteral("-"),
                                   has ? timeText(s.minimumTime()) : QString(),
                                   has ? valueText(s.maximum(), info.unit) : QStringLiteral("-"),
                                   has ? timeText(s.maximumTime()) : QString(),
                                   has ? valueText(s.mean(), info.unit) : QStringLiteral("-"),
                                   QString::number(s.samples()),
                                   outside};
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells.at(c));
            if (c == 0)
                item->setForeground(QColor(ChartColor::toQColor(m_colors.value(i))));
            table->setItem(i, c, item);
        }
    }
}

QImage ViewerWindow::chartImage() const
{
    XYChart *chart = ui->chart_viewer->chart();
    return chart ? chart->makeImage() : QImage();
}

QImage ViewerWindow::exportImage() const
{
    // The chart with a title above it (what, and over which range) and a
    // legend below it: a picture that still says what it shows once it is
    // pasted into a report.
    const QImage chart = chartImage();
    if (chart.isNull())
        return chart;
    QFont titleFont = font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    const QFontMetrics titleMetrics(titleFont);
    const QFontMetrics metrics(font());
    constexpr int kMargin = 10;
    constexpr int kSwatch = 22;
    // Legend entries laid out in rows across the picture's width.
    QVector<QRect> places;
    int x = kMargin;
    int y = 0;
    for (const SeriesInfo &info : m_shown) {
        const int width = kSwatch + 6 + metrics.horizontalAdvance(info.labelWithUnit()) + 18;
        if (x > kMargin && x + width > chart.width() - kMargin) {
            x = kMargin;
            y += metrics.height() + 4;
        }
        places.append(QRect(x, y, width, metrics.height()));
        x += width;
    }
    const int titleHeight = titleMetrics.height() + 2 * kMargin;
    const int legendHeight = places.isEmpty() ? 0 : y + metrics.height() + 2 * kMargin;
    QImage image(chart.width(), titleHeight + chart.height() + legendHeight, QImage::Format_RGB32);
    image.fill(QColor(0x30, 0x30, 0x30));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QColor(0xE6, 0xE6, 0xE6));
    painter.setFont(titleFont);
    const QString title =
        tr("%1  ·  %2 to %3")
            .arg(m_project.projectName, timeText(m_visibleFrom), timeText(m_visibleTo));
    painter.drawText(QRect(kMargin, kMargin, image.width() - 2 * kMargin, titleMetrics.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     titleMetrics.elidedText(title, Qt::ElideRight, image.width() - 2 * kMargin));
    painter.drawImage(0, titleHeight, chart);
    painter.setFont(font());
    const int top = titleHeight + chart.height() + kMargin;
    for (int i = 0; i < places.size(); ++i) {
        const QRect place = places.at(i).translated(0, top);
        painter.setPen(QPen(ChartColor::toQColor(m_colors.value(i, 0x00D0D0)), 2));
        painter.drawLine(place.left(), place.center().y(), place.left() + kSwatch,
                         place.center().y());
        painter.setPen(QColor(0xE6, 0xE6, 0xE6));
        painter.drawText(place.adjusted(kSwatch + 6, 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         m_shown.at(i).labelWithUnit());
    }
    return image;
}
