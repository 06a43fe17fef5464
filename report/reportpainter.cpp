#include "report/reportpainter.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>

#include <functional>

#include "common/common.h"
#include "report/dayreport.h"
#include "report/reportchart.h"
#include "report/reporttable.h"

namespace
{

constexpr int kLeft = 150;
constexpr int kRight = ReportPainter::kPageWidth - 150;
constexpr int kWidth = kRight - kLeft;
constexpr int kHeaderLine = 190;
constexpr int kTop = 250;
constexpr int kBottom = 2820;
constexpr int kFooter = 2860;
constexpr int kChartHeight = 330;
constexpr int kMaxListed = 40;
constexpr int kPdfResolution = 300;

const QColor kExcursionFill(250, 215, 215);
const QColor kHeadFill(225, 230, 238);
const QColor kWarningText(170, 20, 20);

QFont reportFont(int size, bool bold = false)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(size);
    font.setBold(bold);
    return font;
}

struct Column {
    QString title;
    int width;
};

} // namespace

// Where pages go: a printer or PDF writer, or pictures for the preview. A
// canvas without a painter only counts the pages.
class ReportPainter::Canvas
{
public:
    virtual ~Canvas() = default;
    virtual QPainter *painter() = 0;
    virtual bool newPage() = 0;
};

class ReportPainter::ImageCanvas : public Canvas
{
public:
    explicit ImageCanvas(int width) : m_width(width) { start(); }
    QPainter *painter() override { return m_painter.get(); }
    bool newPage() override
    {
        finishPage();
        start();
        return true;
    }
    QVector<QImage> finish()
    {
        finishPage();
        return m_pages;
    }

private:
    void start()
    {
        QImage page(m_width, m_width * kPageHeight / kPageWidth, QImage::Format_RGB32);
        page.fill(Qt::white);
        m_pages.append(page);
        m_painter = std::make_unique<QPainter>(&m_pages.last());
        m_painter->setRenderHint(QPainter::Antialiasing);
        m_painter->setRenderHint(QPainter::TextAntialiasing);
        m_painter->setRenderHint(QPainter::SmoothPixmapTransform);
        m_painter->scale(double(m_width) / kPageWidth, double(m_width) / kPageWidth);
    }
    void finishPage() { m_painter.reset(); }

    int m_width;
    QVector<QImage> m_pages;
    std::unique_ptr<QPainter> m_painter;
};

class ReportPainter::DeviceCanvas : public Canvas
{
public:
    explicit DeviceCanvas(QPagedPaintDevice *device) : m_device(device)
    {
        if (m_painter.begin(device)) {
            m_painter.setRenderHint(QPainter::Antialiasing);
            m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
            const double scale = double(device->width()) / kPageWidth;
            m_painter.scale(scale, scale);
        }
    }
    bool isActive() const { return m_painter.isActive(); }
    QPainter *painter() override { return m_painter.isActive() ? &m_painter : nullptr; }
    bool newPage() override
    {
        const QTransform transform = m_painter.worldTransform();
        const bool ok = m_device->newPage();
        m_painter.setWorldTransform(transform);
        return ok;
    }
    bool end() { return m_painter.end(); }

private:
    QPagedPaintDevice *m_device;
    QPainter m_painter;
};

class ReportLayout
{
public:
    ReportLayout(const DayReport &report, std::function<QPainter *()> painter,
                 std::function<bool()> newPage, int totalPages)
        : m_report(report), m_statistics(report.statistics()), m_painterOf(std::move(painter)),
          m_newPage(std::move(newPage)), m_totalPages(totalPages)
    {
    }

    int run()
    {
        beginPage();
        introduction();
        summary();
        for (const DayStatistics::Device &device : m_statistics.devices())
            deviceSection(device);
        closing();
        return m_page;
    }

private:
    QPainter *painter() { return m_painterOf(); }

    void beginPage()
    {
        ++m_page;
        m_y = kTop;
        QPainter *p = painter();
        if (!p)
            return;
        p->setPen(Qt::black);
        p->setFont(reportFont(30, true));
        p->drawText(QRect(kLeft, 100, kWidth, 60), Qt::AlignLeft | Qt::AlignVCenter,
                    m_report.projectTitle());
        p->setFont(reportFont(26));
        p->drawText(
            QRect(kLeft, 100, kWidth, 60), Qt::AlignHCenter | Qt::AlignVCenter,
            QStringLiteral("Daily report %1").arg(m_statistics.day().toString(Qt::ISODate)));
        p->drawText(
            QRect(kLeft, 100, kWidth, 60), Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("Generated at %1")
                .arg(m_report.generatedAt().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
        p->setPen(QPen(Qt::darkGray, 3));
        p->drawLine(kLeft, kHeaderLine, kRight, kHeaderLine);
        p->setPen(Qt::black);
        p->setFont(reportFont(24));
        p->drawText(QRect(kLeft, kFooter, kWidth, 50), Qt::AlignHCenter | Qt::AlignVCenter,
                    m_totalPages > 0 ? QStringLiteral("Page %1 of %2").arg(m_page).arg(m_totalPages)
                                     : QStringLiteral("Page %1").arg(m_page));
    }

    // Starts a new page unless `height` still fits on this one.
    void need(int height)
    {
        if (m_y + height <= kBottom || m_y == kTop)
            return;
        m_newPage();
        beginPage();
    }

    int lineHeight(int size) const
    {
        return int(QFontMetricsF(reportFont(size)).lineSpacing()) + 4;
    }

    void text(const QString &line, int size, bool bold = false, const QColor &color = Qt::black,
              int indent = 0)
    {
        const int height = lineHeight(size);
        need(height);
        if (QPainter *p = painter()) {
            p->setFont(reportFont(size, bold));
            p->setPen(color);
            p->drawText(QRect(kLeft + indent, m_y, kWidth - indent, height),
                        Qt::AlignLeft | Qt::AlignVCenter, line);
        }
        m_y += height;
    }

    void space(int height) { m_y += height; }

    void introduction()
    {
        const ProjectDocument &project = m_report.project();
        text(QStringLiteral("Daily Report"), 52, true);
        space(10);
        const QString dayText =
            QLocale::c().toString(m_statistics.day(), QStringLiteral("dddd, d MMMM yyyy"));
        const qint64 hours = m_statistics.daySeconds() / 3600;
        text(QStringLiteral("Day: %1 (%2 hours, %3 to %4)")
                 .arg(dayText)
                 .arg(hours)
                 .arg(QDateTime::fromSecsSinceEpoch(m_statistics.dayStart(), m_statistics.zone())
                          .toString(QStringLiteral("yyyy-MM-dd HH:mm t")),
                      QDateTime::fromSecsSinceEpoch(m_statistics.dayEnd(), m_statistics.zone())
                          .toString(QStringLiteral("yyyy-MM-dd HH:mm t"))),
             28);
        text(QStringLiteral("Project: %1   File: %2").arg(m_report.projectTitle(), project.path),
             28);
        text(QStringLiteral("Database: %1").arg(QFileInfo(project.databasePath()).fileName()), 28);
        const QString interval = intervalText(m_statistics.intervalSeconds() * 1000);
        text(QStringLiteral("Data interval: %1   Samples expected per channel: %2   Rows read: %3")
                 .arg(interval.isEmpty()
                          ? QStringLiteral("%1 s").arg(m_statistics.intervalSeconds())
                          : interval)
                 .arg(m_statistics.expectedSamples())
                 .arg(m_statistics.totalRows()),
             28);
        if (!project.recordStartTime.isEmpty() || !project.recordStopTime.isEmpty())
            text(QStringLiteral("Recording period: %1 to %2")
                     .arg(project.recordStartTime, project.recordStopTime.isEmpty()
                                                       ? QStringLiteral("(running)")
                                                       : project.recordStopTime),
                 28);
        if (m_statistics.totalRows() == 0)
            text(QStringLiteral("No samples were recorded on this day."), 34, true, kWarningText);
        if (m_statistics.foreignRows() > 0)
            text(QStringLiteral("Rows of devices that are not in the project, left out: %1")
                     .arg(m_statistics.foreignRows()),
                 28, false, kWarningText);
        if (!m_report.timeOrdered())
            text(QStringLiteral(
                     "The recorder's clock went back during the recording: rows near the step "
                     "may be out of order."),
                 28, false, kWarningText);
        space(30);
    }

    void summary()
    {
        const QVector<Column> columns = {
            {QStringLiteral("Device"), 270},   {QStringLiteral("Channel"), 200},
            {QStringLiteral("Minimum"), 195},  {QStringLiteral("Maximum"), 195},
            {QStringLiteral("Mean"), 120},     {QStringLiteral("Samples"), 195},
            {QStringLiteral("Complete"), 135}, {QStringLiteral("Gaps"), 75},
            {QStringLiteral("Limits"), 160},   {QStringLiteral("Exc."), 75},
            {QStringLiteral("Outside"), 180}};
        text(QStringLiteral("Summary"), 36, true);
        const int rowHeight = 2 * lineHeight(22);
        const auto header = [&]() {
            need(rowHeight * 2);
            if (QPainter *p = painter()) {
                p->fillRect(QRect(kLeft, m_y, kWidth, rowHeight), kHeadFill);
                p->setFont(reportFont(22, true));
                p->setPen(Qt::black);
                int x = kLeft;
                for (const Column &column : columns) {
                    p->drawText(QRect(x + 6, m_y, column.width - 12, rowHeight),
                                Qt::AlignLeft | Qt::AlignVCenter, column.title);
                    x += column.width;
                }
            }
            m_y += rowHeight;
        };
        header();
        for (const DayStatistics::Device &device : m_statistics.devices()) {
            for (int c = 0; c < 2; ++c) {
                const DayStatistics::Channel &channel = device.channel[c];
                if (m_y + rowHeight > kBottom) {
                    m_newPage();
                    beginPage();
                    header();
                }
                summaryRow(columns, rowHeight, device, channel);
            }
        }
        space(40);
    }

    void summaryRow(const QVector<Column> &columns, int rowHeight,
                    const DayStatistics::Device &device, const DayStatistics::Channel &channel)
    {
        const bool any = channel.samples > 0;
        const bool alarm = channel.alarmOn();
        const auto withTime = [&](double value, qint64 time) {
            return any ? QStringLiteral("%1\n%2").arg(ReportTable::valueText(value),
                                                      m_statistics.timeText(time))
                       : QStringLiteral("-");
        };
        const QStringList cells = {
            device.name + QLatin1Char('\n') + QString::fromUtf8(device.serial),
            channel.unit.isEmpty() ? channel.name
                                   : QStringLiteral("%1\n%2").arg(channel.name, channel.unit),
            withTime(channel.minimum, channel.minimumTime),
            withTime(channel.maximum, channel.maximumTime),
            any ? ReportTable::valueText(channel.mean()) : QStringLiteral("-"),
            QStringLiteral("%1 of\n%2").arg(channel.samples).arg(m_statistics.expectedSamples()),
            QStringLiteral("%1 %").arg(m_statistics.completeness(channel), 0, 'f', 1),
            QString::number(channel.gaps.size()),
            alarm ? QStringLiteral("%1 to\n%2")
                        .arg(ReportTable::valueText(channel.low),
                             ReportTable::valueText(channel.high))
                  : QStringLiteral("off"),
            alarm ? QString::number(channel.excursions.size()) : QStringLiteral("-"),
            alarm ? DayStatistics::durationText(channel.secondsOutside) : QStringLiteral("-")};
        if (QPainter *p = painter()) {
            if (!channel.excursions.isEmpty())
                p->fillRect(QRect(kLeft, m_y, kWidth, rowHeight), kExcursionFill);
            p->setPen(QPen(QColor(200, 200, 200), 1));
            p->drawLine(kLeft, m_y + rowHeight, kRight, m_y + rowHeight);
            p->setPen(Qt::black);
            int x = kLeft;
            for (int i = 0; i < columns.size(); ++i) {
                p->setFont(reportFont(22, i == 9 && !channel.excursions.isEmpty()));
                p->drawText(QRect(x + 6, m_y, columns.at(i).width - 12, rowHeight),
                            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, cells.at(i));
                x += columns.at(i).width;
            }
        }
        m_y += rowHeight;
    }

    void deviceSection(const DayStatistics::Device &device)
    {
        need(lineHeight(34) + lineHeight(26) * 2 + kChartHeight);
        text(QStringLiteral("%1  (%2)").arg(device.name, QString::fromUtf8(device.serial)), 34,
             true);
        text(QStringLiteral("Rows on this day: %1, of them without readings: %2")
                 .arg(device.rows)
                 .arg(device.nullRows),
             24);
        for (const DayStatistics::Channel &channel : device.channel)
            channelSection(channel);
        space(30);
    }

    void channelSection(const DayStatistics::Channel &channel)
    {
        const QString limits = channel.alarmOn() ? QStringLiteral("limits %1 to %2")
                                                       .arg(ReportTable::valueText(channel.low),
                                                            ReportTable::valueText(channel.high))
                                                 : QStringLiteral("alarm off");
        need(lineHeight(26) + kChartHeight + 20);
        text(
            QStringLiteral("%1%2, %3")
                .arg(channel.name,
                     channel.unit.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(channel.unit),
                     limits),
            26, true);
        if (channel.samples > 0) {
            if (QPainter *p = painter()) {
                const QRect target(kLeft, m_y, kWidth, kChartHeight);
                // Drawn at about 200 dots per inch on paper.
                const QImage chart = ReportChart::channelImage(m_statistics, channel, 1400, 257);
                p->drawImage(target, chart);
            }
            m_y += kChartHeight + 10;
        } else {
            text(QStringLiteral("No readings on this day."), 24, false, kWarningText, 30);
        }
        listGaps(channel);
        listExcursions(channel);
        space(10);
    }

    void listGaps(const DayStatistics::Channel &channel)
    {
        if (channel.gaps.isEmpty()) {
            text(QStringLiteral("Gaps longer than 2.5 intervals: none"), 24, false, Qt::black, 30);
            return;
        }
        text(QStringLiteral("Gaps longer than 2.5 intervals: %1").arg(channel.gaps.size()), 24,
             false, Qt::black, 30);
        for (int i = 0; i < channel.gaps.size() && i < kMaxListed; ++i) {
            const DayStatistics::Gap &gap = channel.gaps.at(i);
            text(QStringLiteral("from %1 to %2, length %3")
                     .arg(m_statistics.timeText(gap.from), m_statistics.timeText(gap.to),
                          DayStatistics::durationText(gap.length())),
                 22, false, Qt::black, 60);
        }
        if (channel.gaps.size() > kMaxListed)
            text(QStringLiteral("... and %1 more").arg(channel.gaps.size() - kMaxListed), 22, false,
                 Qt::black, 60);
    }

    void listExcursions(const DayStatistics::Channel &channel)
    {
        if (!channel.alarmOn())
            return;
        if (channel.excursions.isEmpty()) {
            text(QStringLiteral("Excursions: none"), 24, false, Qt::black, 30);
            return;
        }
        text(QStringLiteral("Excursions: %1, total time outside %2, worst value %3")
                 .arg(channel.excursions.size())
                 .arg(DayStatistics::durationText(channel.secondsOutside),
                      ReportTable::valueText(channel.worst)),
             24, true, kWarningText, 30);
        for (int i = 0; i < channel.excursions.size() && i < kMaxListed; ++i) {
            const DayStatistics::Excursion &e = channel.excursions.at(i);
            text(QStringLiteral("from %1%2 to %3%4, duration %5, worst %6")
                     .arg(m_statistics.timeText(e.start),
                          e.fromPreviousDay ? QStringLiteral(" (from the day before)") : QString(),
                          m_statistics.timeText(e.end),
                          e.intoNextDay ? QStringLiteral(" (into the next day)") : QString(),
                          DayStatistics::durationText(e.duration()),
                          ReportTable::valueText(e.worst)),
                 22, false, Qt::black, 60);
        }
        if (channel.excursions.size() > kMaxListed)
            text(QStringLiteral("... and %1 more").arg(channel.excursions.size() - kMaxListed), 22,
                 false, Qt::black, 60);
    }

    void closing()
    {
        need(420);
        space(40);
        text(QStringLiteral("Review"), 36, true);
        space(40);
        for (const QString &label : {QStringLiteral("Checked by"), QStringLiteral("Date")}) {
            if (QPainter *p = painter()) {
                p->setFont(reportFont(28));
                p->setPen(Qt::black);
                p->drawText(QRect(kLeft, m_y, 300, 60), Qt::AlignLeft | Qt::AlignBottom, label);
                p->drawLine(kLeft + 300, m_y + 58, kLeft + 1100, m_y + 58);
            }
            m_y += 120;
        }
    }

    const DayReport &m_report;
    const DayStatistics &m_statistics;
    std::function<QPainter *()> m_painterOf;
    std::function<bool()> m_newPage;
    int m_totalPages;
    int m_page = 0;
    int m_y = kTop;
};

ReportPainter::ReportPainter(const DayReport &report) : m_report(report) {}

ReportPainter::~ReportPainter() = default;

void ReportPainter::render(Canvas &canvas, int totalPages) const
{
    ReportLayout layout(
        m_report, [&canvas]() { return canvas.painter(); },
        [&canvas]() { return canvas.newPage(); }, totalPages);
    m_pageCount = layout.run();
}

int ReportPainter::pageCount() const
{
    if (m_pageCount < 0) {
        ReportLayout layout(
            m_report, []() { return static_cast<QPainter *>(nullptr); }, []() { return true; }, 0);
        m_pageCount = layout.run();
    }
    return m_pageCount;
}

bool ReportPainter::paint(QPagedPaintDevice *device) const
{
    const int total = pageCount();
    DeviceCanvas canvas(device);
    if (!canvas.isActive())
        return false;
    render(canvas, total);
    return canvas.end();
}

bool ReportPainter::writePdf(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        writer.setResolution(kPdfResolution);
        writer.setTitle(
            QStringLiteral("Daily report %1 %2")
                .arg(m_report.projectTitle(), m_report.statistics().day().toString(Qt::ISODate)));
        writer.setCreator(QStringLiteral("DavavoZurer"));
        if (!paint(&writer)) {
            file.cancelWriting();
            *error = QStringLiteral("Cannot write %1.").arg(path);
            return false;
        }
    }
    if (!file.commit()) {
        *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

QVector<QImage> ReportPainter::pageImages(int width) const
{
    const int total = pageCount();
    ImageCanvas canvas(width);
    render(canvas, total);
    return canvas.finish();
}
