#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class PeriodReport;
class QFontMetricsF;
class QPainter;

// Lays out report pages top to bottom, in tenths of a millimetre on A4:
// every page carries the project name, the report's title, the time it was
// made and its page number; a block that does not fit on the page starts a
// new one. Without a painter it only counts the pages.
class ReportLayout
{
public:
    static constexpr int kPageWidth = 2100;
    static constexpr int kPageHeight = 2970;
    static constexpr int kLeft = 150;
    static constexpr int kRight = kPageWidth - 150;
    static constexpr int kWidth = kRight - kLeft;
    static constexpr int kTop = 250;
    static constexpr int kBottom = 2820;

    struct Column {
        // How a line wider than its column shows: cut with an ellipsis
        // (names), whole, the column sized to its widest line at the cost of
        // the columns that may be cut (figures and times), or wrapped onto
        // more lines (free texts such as corrective actions).
        enum class Fit { Cut, Whole, Wrap };
        QString title;
        int width;
        Fit fit = Fit::Cut;
    };

    ReportLayout(const PeriodReport &report, std::function<QPainter *()> painter,
                 std::function<bool()> newPage, int totalPages);

    static QFont font(int size, bool bold = false);
    static const QColor kWarning;

    const PeriodReport &report() const { return m_report; }
    int page() const { return m_page; }
    void beginPage();
    // Starts a new page unless `height` still fits on this one.
    void need(int height);
    int lineHeight(int size) const;
    void text(const QString &line, int size, bool bold = false, const QColor &color = Qt::black,
              int indent = 0);
    // A paragraph wrapped to the page's width.
    void paragraph(const QString &text, int size, int indent = 0);
    void space(int height) { m_y += height; }
    // A table with its header repeated on every page. Each cell holds lines
    // separated by '\n', each shown as its column's fit says; rows for which
    // `marked` is true are shaded.
    void table(const QVector<Column> &columns, const QVector<QStringList> &rows,
               const std::function<bool(int)> &marked = {});
    // A framed box of short paragraphs.
    void box(const QString &title, const QStringList &paragraphs);
    // A picture made only when the page is painted.
    void image(const std::function<QImage()> &picture, int height);
    // Lines to sign on.
    void signature(const QString &title, const QStringList &labels);

private:
    QPainter *painter() { return m_painterOf(); }
    void tableHeader(const QVector<Column> &columns, int height);
    static void cellLines(QPainter *p, const QFontMetricsF &metrics, const QRect &cell,
                          const QStringList &lines);
    int wrappedHeight(const QString &text, int size, int width) const;
    static QVector<Column> fitted(const QVector<Column> &columns, const QVector<QStringList> &rows,
                                  const QFontMetricsF &metrics);
    static QString wrapped(const QString &cell, const QFontMetricsF &metrics, qreal width);

    const PeriodReport &m_report;
    std::function<QPainter *()> m_painterOf;
    std::function<bool()> m_newPage;
    int m_totalPages;
    int m_page = 0;
    int m_y = kTop;
};
