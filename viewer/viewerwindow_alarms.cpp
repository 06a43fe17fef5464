// The data viewer's window: the alarm events of the range on show (shaded
// spans on the chart, the event under the mouse with what was done about
// it, a list beside the statistics) and the limits in force at each time.
#include "ui_viewerwindow.h"
#include "viewer/viewerwindow.h"

#include "chart/chartaxis.h"
#include "chart/linelayer.h"
#include "chart/xychart.h"
#include "common/alarmlimits.h"
#include "common/common.h"
#include "record/recordreader.h"

#include <QDateTime>
#include <QHeaderView>
#include <QToolTip>

namespace
{

constexpr int kSpanColor = int(0xC0FF4040);     // light red over the grid
constexpr int kOpenSpanColor = int(0xA0FF8000); // still open: orange
constexpr int kLimitColor = int(0x60FF4040);

QString clockText(qint64 seconds)
{
    return seconds == 0 ? QString()
                        : QDateTime::fromSecsSinceEpoch(seconds).toString(
                              QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

void ViewerWindow::setupEventsTable()
{
    QTableWidget *table = ui->table_events;
    table->setColumnCount(7);
    table->setHorizontalHeaderLabels({tr("Alarm"), tr("From"), tr("To"), tr("Worst"),
                                      tr("Acknowledged"), tr("Corrective action"), tr("Verified")});
    table->verticalHeader()->setVisible(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    ui->splitter_tables->setStretchFactor(0, 3);
    ui->splitter_tables->setStretchFactor(1, 2);
}

void ViewerWindow::loadAlarmContext()
{
    m_events.clear();
    m_settings.clear();
    if (!m_reader || m_shown.isEmpty())
        return;
    QStringList devices;
    for (const SeriesInfo &info : qAsConst(m_shown)) {
        if (!devices.contains(info.deviceNumber))
            devices.append(info.deviceNumber);
    }
    RecordContext context(*m_reader);
    for (const RecordAlarmEvent &event : context.alarmEvents(m_visibleFrom, m_visibleTo, devices)) {
        for (const SeriesInfo &info : qAsConst(m_shown)) {
            if (info.deviceNumber == event.serialNo && info.channel == event.channel) {
                m_events.append(event);
                break;
            }
        }
    }
    if (context.hasSettings())
        m_settings = context.settingsBetween(m_visibleFrom, m_visibleTo);
}

QString ViewerWindow::alarmEventText(const RecordAlarmEvent &event) const
{
    QString series = event.serialNo;
    for (const SeriesInfo &info : qAsConst(m_shown)) {
        if (info.deviceNumber == event.serialNo && info.channel == event.channel)
            series = info.label();
    }
    return tr("%1 %2 %3")
        .arg(series, event.high ? tr("above") : tr("below"), QString::number(event.limit, 'g', 6));
}

void ViewerWindow::fillEvents()
{
    QTableWidget *table = ui->table_events;
    table->setRowCount(m_events.size());
    for (int i = 0; i < m_events.size(); ++i) {
        const RecordAlarmEvent &e = m_events.at(i);
        const QStringList cells = {
            alarmEventText(e),
            clockText(e.start),
            e.isOpen() ? tr("still open") : clockText(e.end),
            QString::number(e.worst, 'g', 6),
            e.isAcknowledged() ? tr("%1, %2").arg(e.ackBy, clockText(e.ackAt)) : tr("not yet"),
            e.action,
            e.verifiedBy.isEmpty() ? QString()
                                   : tr("%1, %2").arg(e.verifiedBy, clockText(e.verifiedAt))};
        for (int c = 0; c < cells.size(); ++c)
            table->setItem(i, c, new QTableWidgetItem(cells.at(c)));
    }
    ui->table_events->setVisible(!m_events.isEmpty());
}

void ViewerWindow::drawAlarmContext(XYChart *chart, const QVector<ChartAxis *> &axisOfSeries)
{
    for (const RecordAlarmEvent &e : qAsConst(m_events))
        chart->addXZone(double(std::max(e.start, m_visibleFrom)),
                        double(e.isOpen() ? m_visibleTo : std::min(e.end, m_visibleTo)),
                        e.isOpen() ? kOpenSpanColor : kSpanColor);

    // The limits drawn are those in force at each time: from the file's own
    // settings where it keeps them, else the project's.
    for (int i = 0; i < m_shown.size() && i < axisOfSeries.size(); ++i) {
        const SeriesInfo &info = m_shown.at(i);
        QVector<double> xs;
        QVector<double> lows;
        QVector<double> highs;
        QVector<const RecordDeviceSettings *> entries;
        for (const RecordDeviceSettings &s : qAsConst(m_settings)) {
            if (s.serialNo == info.deviceNumber)
                entries.append(&s);
        }
        if (entries.isEmpty()) {
            if (!info.hasLimits)
                continue;
            xs = {double(m_visibleFrom), double(m_visibleTo)};
            lows = {info.low, info.low};
            highs = {info.high, info.high};
        } else {
            for (int k = 0; k < entries.size(); ++k) {
                const RecordDeviceSettings &s = *entries.at(k);
                const double low = info.channel == 1 ? s.ch1Low : s.ch2Low;
                const double high = info.channel == 1 ? s.ch1High : s.ch2High;
                const qint64 from = std::max(s.validFrom, m_visibleFrom);
                const qint64 to =
                    k + 1 < entries.size() ? entries.at(k + 1)->validFrom : m_visibleTo;
                const bool watched = hasAlarmLimits(low, high);
                xs << double(from) << double(std::max(from, to));
                lows << (watched ? low : NoValue) << (watched ? low : NoValue);
                highs << (watched ? high : NoValue) << (watched ? high : NoValue);
            }
        }
        for (const QVector<double> *ys : {&lows, &highs}) {
            LineLayer *layer = chart->addLineLayer();
            layer->setUseYAxis(axisOfSeries.at(i));
            layer->setXData(xs);
            layer->addDataSet(*ys, kLimitColor, tr("limit"));
        }
    }
}

void ViewerWindow::showEventAt(qint64 time, const QPoint &globalPos)
{
    // Within a few pixels' time of a span.
    const double slack =
        double(m_visibleTo - m_visibleFrom) / std::max(1, ui->chart_viewer->width()) * 4;
    for (const RecordAlarmEvent &e : qAsConst(m_events)) {
        const double end = e.isOpen() ? double(m_visibleTo) : double(e.end);
        if (double(time) < double(e.start) - slack || double(time) > end + slack)
            continue;
        QString text =
            alarmEventText(e) + QLatin1Char('\n') +
            tr("%1 to %2, worst %3")
                .arg(clockText(e.start), e.isOpen() ? tr("still open") : clockText(e.end),
                     QString::number(e.worst, 'g', 6));
        text += QLatin1Char('\n') + (e.isAcknowledged()
                                         ? tr("Acknowledged by %1: %2").arg(e.ackBy, e.action)
                                         : tr("Not acknowledged"));
        if (!e.verifiedBy.isEmpty())
            text += QLatin1Char('\n') + tr("Verified by %1: %2").arg(e.verifiedBy, e.remark);
        // Shown as written: escaped, as markup it would not be.
        QToolTip::showText(globalPos,
                           QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() +
                               QStringLiteral("</p>"),
                           ui->chart_viewer);
        m_eventTip = text;
        return;
    }
    if (!m_eventTip.isEmpty())
        QToolTip::hideText();
    m_eventTip.clear();
}
