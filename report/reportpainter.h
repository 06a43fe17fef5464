#pragma once

#include <QImage>
#include <QString>
#include <QVector>

class DayReport;
class QPagedPaintDevice;
class QPainter;

// Lays out and paints a daily report on A4 pages: the summary table first,
// then per device the charts and the details, then the block for the
// reviewer's signature. Every page carries the project name, the day, the
// time the report was made and its page number.
//
// Pages are laid out in tenths of a millimetre, so the same drawing serves
// the PDF file, the printer and the preview.
class ReportPainter
{
public:
    static constexpr int kPageWidth = 2100; // A4, tenths of a millimetre
    static constexpr int kPageHeight = 2970;

    explicit ReportPainter(const DayReport &report);
    ~ReportPainter();
    ReportPainter(const ReportPainter &) = delete;
    ReportPainter &operator=(const ReportPainter &) = delete;

    int pageCount() const;
    // Paints every page on a printer or PDF writer set to A4 (whole paper).
    bool paint(QPagedPaintDevice *device) const;
    // Writes an A4 PDF file with Qt's own writer; it appears whole or not at
    // all. False with a one-line reason.
    bool writePdf(const QString &path, QString *error) const;
    // The pages as pictures `width` pixels wide, for the preview.
    QVector<QImage> pageImages(int width) const;

private:
    class Canvas;
    class ImageCanvas;
    class DeviceCanvas;
    void render(Canvas &canvas, int totalPages) const;

    const DayReport &m_report;
    mutable int m_pageCount = -1;
};
