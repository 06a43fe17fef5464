#pragma once

#include <QImage>
#include <QString>
#include <QVector>

class PeriodReport;
class ReportLayout;
class QPagedPaintDevice;
class QPainter;

// Paints a report on A4 pages (its content laid out by ReportSections or
// HaccpSections). Every page carries the project name, the report's title,
// the time it was made and its page number.
//
// Pages are laid out in tenths of a millimetre, so the same drawing serves
// the PDF file, the printer and the preview.
class ReportPainter
{
public:
    static constexpr int kPageWidth = 2100; // A4, tenths of a millimetre
    static constexpr int kPageHeight = 2970;

    explicit ReportPainter(const PeriodReport &report);
    ~ReportPainter();
    ReportPainter(const ReportPainter &) = delete;
    ReportPainter &operator=(const ReportPainter &) = delete;

    int pageCount() const;
    // Paints every page on a printer or PDF writer set to A4 (whole paper).
    bool paint(QPagedPaintDevice *device) const;
    // The report as an A4 PDF file made by Qt's own writer; empty (with a
    // one-line reason) on failure.
    QByteArray pdf(QString *error) const;
    // Writes the PDF file, guarded as every output of a report is (see
    // ReportOutput). False with a one-line reason.
    bool writePdf(const QString &path, QString *error) const;
    // The pages as pictures `width` pixels wide, for the preview.
    QVector<QImage> pageImages(int width) const;

private:
    class Canvas;
    class ImageCanvas;
    class DeviceCanvas;
    void render(Canvas &canvas, int totalPages) const;
    int run(ReportLayout &layout) const;

    const PeriodReport &m_report;
    mutable int m_pageCount = -1;
};
