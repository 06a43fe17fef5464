#include "report/reportpainter.h"

#include <QBuffer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <limits>

#include "report/haccpsections.h"
#include "report/periodreport.h"
#include "report/reportlayout.h"
#include "report/reportoutput.h"
#include "report/reportsections.h"

namespace
{

constexpr int kPageWidth = ReportPainter::kPageWidth;
constexpr int kPageHeight = ReportPainter::kPageHeight;
constexpr int kPdfResolution = 300;
constexpr qint64 kPdfBytesPerPage = 6000; // a page of a long table, compressed

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

ReportPainter::ReportPainter(const PeriodReport &report) : m_report(report) {}

ReportPainter::~ReportPainter() = default;

void ReportPainter::render(Canvas &canvas, int totalPages) const
{
    ReportLayout layout(
        m_report, [&canvas]() { return canvas.painter(); },
        [&canvas]() { return canvas.newPage(); }, totalPages);
    m_pageCount = run(layout);
}

int ReportPainter::pageCount() const
{
    if (m_pageCount < 0) {
        ReportLayout layout(
            m_report, []() { return static_cast<QPainter *>(nullptr); }, []() { return true; }, 0);
        m_pageCount = run(layout);
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

int ReportPainter::run(ReportLayout &layout) const
{
    layout.beginPage();
    switch (m_report.kind()) {
    case PeriodReport::Kind::Daily: ReportSections::daily(layout); break;
    case PeriodReport::Kind::Weekly:
    case PeriodReport::Kind::Monthly: ReportSections::period(layout); break;
    case PeriodReport::Kind::Haccp: HaccpSections::paint(layout); break;
    }
    return layout.page();
}

QByteArray ReportPainter::pdf(QString *error) const
{
    // Room for the whole file at once: the writer adds it in small pieces.
    QByteArray data;
    data.reserve(int(std::min<qint64>(qint64(pageCount()) * kPdfBytesPerPage + (1 << 16),
                                      std::numeric_limits<int>::max() / 2)));
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setResolution(kPdfResolution);
    writer.setTitle(QStringLiteral("%1 %2").arg(m_report.projectTitle(), m_report.title()));
    writer.setCreator(QStringLiteral("DavavoZurer"));
    if (!paint(&writer)) {
        *error = QStringLiteral("Cannot make the PDF.");
        return QByteArray();
    }
    return data;
}

bool ReportPainter::writePdf(const QString &path, QString *error) const
{
    const QByteArray data = pdf(error);
    if (data.isEmpty())
        return false;
    ReportOutput output(
        ReportOutput::projectFiles(m_report.project().path, m_report.project().databasePath()));
    return output.add(path, data, error) && output.commit(error);
}

QVector<QImage> ReportPainter::pageImages(int width) const
{
    const int total = pageCount();
    ImageCanvas canvas(width);
    render(canvas, total);
    return canvas.finish();
}
