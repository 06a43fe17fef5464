#include "report/reportlayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

#include "report/periodreport.h"

namespace
{

constexpr int kHeaderLine = 190;
constexpr int kFooter = 2860;
constexpr int kCellSize = 22;

const QColor kMarkFill(250, 215, 215);
const QColor kHeadFill(225, 230, 238);

} // namespace

const QColor ReportLayout::kWarning(170, 20, 20);

ReportLayout::ReportLayout(const PeriodReport &report, std::function<QPainter *()> painter,
                           std::function<bool()> newPage, int totalPages)
    : m_report(report), m_painterOf(std::move(painter)), m_newPage(std::move(newPage)),
      m_totalPages(totalPages)
{
}

QFont ReportLayout::font(int size, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(size);
    font.setBold(bold);
    // No ligatures: the text of the PDF reads back as it was written.
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

void ReportLayout::beginPage()
{
    ++m_page;
    m_y = kTop;
    QPainter *p = painter();
    if (!p)
        return;
    const QRect head(kLeft, 100, kWidth, 60);
    const QFontMetricsF titleMetrics(font(30, true));
    p->setPen(Qt::black);
    p->setFont(font(30, true));
    p->drawText(head, Qt::AlignLeft | Qt::AlignVCenter,
                titleMetrics.elidedText(m_report.projectTitle(), Qt::ElideRight, kWidth / 3));
    p->setFont(font(26));
    p->drawText(head, Qt::AlignHCenter | Qt::AlignVCenter, m_report.title());
    p->drawText(head, Qt::AlignRight | Qt::AlignVCenter,
                QStringLiteral("Generated at %1")
                    .arg(m_report.generatedAt().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss t"))));
    p->setPen(QPen(Qt::darkGray, 3));
    p->drawLine(kLeft, kHeaderLine, kRight, kHeaderLine);
    p->setPen(Qt::black);
    p->setFont(font(24));
    p->drawText(QRect(kLeft, kFooter, kWidth, 50), Qt::AlignHCenter | Qt::AlignVCenter,
                m_totalPages > 0 ? QStringLiteral("Page %1 of %2").arg(m_page).arg(m_totalPages)
                                 : QStringLiteral("Page %1").arg(m_page));
}

void ReportLayout::need(int height)
{
    if (m_y + height <= kBottom || m_y == kTop)
        return;
    m_newPage();
    beginPage();
}

int ReportLayout::lineHeight(int size) const
{
    return int(QFontMetricsF(font(size)).lineSpacing()) + 4;
}

void ReportLayout::text(const QString &line, int size, bool bold, const QColor &color, int indent)
{
    const int height = lineHeight(size);
    need(height);
    if (QPainter *p = painter()) {
        p->setFont(font(size, bold));
        p->setPen(color);
        const QFontMetricsF metrics(font(size, bold));
        p->drawText(QRect(kLeft + indent, m_y, kWidth - indent, height),
                    Qt::AlignLeft | Qt::AlignVCenter,
                    metrics.elidedText(line, Qt::ElideRight, kWidth - indent));
    }
    m_y += height;
}

int ReportLayout::wrappedHeight(const QString &text, int size, int width) const
{
    const QRectF bounds =
        QFontMetricsF(font(size))
            .boundingRect(QRectF(0, 0, width, 10000), Qt::TextWordWrap | Qt::AlignLeft, text);
    return int(bounds.height()) + 6;
}

void ReportLayout::paragraph(const QString &text, int size, int indent)
{
    const int width = kWidth - indent;
    const int height = wrappedHeight(text, size, width);
    need(height);
    if (QPainter *p = painter()) {
        p->setFont(font(size));
        p->setPen(Qt::black);
        p->drawText(QRect(kLeft + indent, m_y, width, height), Qt::TextWordWrap | Qt::AlignLeft,
                    text);
    }
    m_y += height;
}

void ReportLayout::tableHeader(const QVector<Column> &columns, int height)
{
    if (QPainter *p = painter()) {
        p->fillRect(QRect(kLeft, m_y, kWidth, height), kHeadFill);
        p->setFont(font(kCellSize, true));
        p->setPen(Qt::black);
        int x = kLeft;
        for (const Column &column : columns) {
            p->drawText(QRect(x + 6, m_y, column.width - 12, height),
                        Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, column.title);
            x += column.width;
        }
    }
    m_y += height;
}

QVector<ReportLayout::Column> ReportLayout::fitted(const QVector<Column> &columns,
                                                   const QVector<QStringList> &rows,
                                                   const QFontMetricsF &metrics)
{
    QVector<Column> out = columns;
    int cutWidth = 0;
    for (const Column &column : columns)
        cutWidth += column.fit == Column::Fit::Cut ? column.width : 0;
    if (cutWidth == 0)
        return out;
    // Whole columns as wide as their widest line and their title's longest
    // word; the cut columns share what is left in their given proportions.
    const QFontMetricsF bold(font(kCellSize, true));
    int free = kWidth;
    for (int c = 0; c < out.size(); ++c) {
        if (out[c].fit != Column::Fit::Whole) {
            if (out[c].fit == Column::Fit::Wrap)
                free -= out[c].width;
            continue;
        }
        qreal need = 0;
        for (const QString &word : out[c].title.split(QLatin1Char(' ')))
            need = std::max(need, bold.horizontalAdvance(word));
        for (const QStringList &cells : rows) {
            if (c < cells.size()) {
                for (const QString &line : cells.at(c).split(QLatin1Char('\n')))
                    need = std::max(need, metrics.horizontalAdvance(line));
            }
        }
        out[c].width = int(std::ceil(need)) + 20;
        free -= out[c].width;
    }
    if (free < cutWidth / 3) // the figures would leave the names no room: as given
        return columns;
    for (Column &column : out) {
        if (column.fit == Column::Fit::Cut)
            column.width = column.width * free / cutWidth;
    }
    return out;
}

QString ReportLayout::wrapped(const QString &cell, const QFontMetricsF &metrics, qreal width)
{
    QStringList out;
    for (const QString &line : cell.split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(line) <= width) {
            out << line;
            continue;
        }
        QString current;
        for (const QString &word : line.split(QLatin1Char(' '))) {
            const QString longer = current.isEmpty() ? word : current + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(longer) <= width) {
                current = longer;
                continue;
            }
            if (!current.isEmpty())
                out << current;
            current = word;
            // A word wider than the column goes on in pieces.
            while (metrics.horizontalAdvance(current) > width && current.size() > 1) {
                int n = current.size() - 1;
                while (n > 1 && metrics.horizontalAdvance(current.left(n)) > width)
                    --n;
                out << current.left(n);
                current = current.mid(n);
            }
        }
        out << current;
    }
    return out.join(QLatin1Char('\n'));
}

void ReportLayout::table(const QVector<Column> &given, const QVector<QStringList> &rows,
                         const std::function<bool(int)> &marked)
{
    const int line = lineHeight(kCellSize);
    const int headerHeight = 2 * line;
    need(headerHeight + line);
    const QFontMetricsF metrics(font(kCellSize));
    const QVector<Column> columns = fitted(given, rows, metrics);
    tableHeader(columns, headerHeight);
    for (int r = 0; r < rows.size(); ++r) {
        QStringList cells = rows.at(r);
        int lines = 1;
        for (int c = 0; c < cells.size(); ++c) {
            if (c < columns.size() && columns.at(c).fit == Column::Fit::Wrap)
                cells[c] = wrapped(cells.at(c), metrics, columns.at(c).width - 12);
            lines = std::max(lines, int(cells.at(c).count(QLatin1Char('\n'))) + 1);
        }
        const int height = lines * line + 4;
        if (m_y + height > kBottom) {
            m_newPage();
            beginPage();
            tableHeader(columns, headerHeight);
        }
        if (QPainter *p = painter()) {
            if (marked && marked(r))
                p->fillRect(QRect(kLeft, m_y, kWidth, height), kMarkFill);
            p->setPen(QPen(QColor(200, 200, 200), 1));
            p->drawLine(kLeft, m_y + height, kRight, m_y + height);
            p->setPen(Qt::black);
            p->setFont(font(kCellSize));
            int x = kLeft;
            for (int c = 0; c < columns.size() && c < cells.size(); ++c) {
                const int width = columns.at(c).width - 12;
                QStringList parts = cells.at(c).split(QLatin1Char('\n'));
                for (QString &part : parts)
                    part = metrics.elidedText(part, Qt::ElideRight, width);
                cellLines(p, metrics, QRect(x + 6, m_y + 2, width, height - 4), parts);
                x += columns.at(c).width;
            }
        }
        m_y += height;
    }
    space(30);
}

void ReportLayout::cellLines(QPainter *p, const QFontMetricsF &metrics, const QRect &cell,
                             const QStringList &lines)
{
    // Lines centred as a block, each drawn at its baseline: a table of many
    // pages paints thousands of cells, and a text layout for each costs.
    const qreal leading = metrics.leading();
    const qreal lineHeight = metrics.ascent() + metrics.descent();
    qreal height = -leading;
    QVarLengthArray<qreal, 4> tops;
    for (int i = 0; i < lines.size(); ++i) {
        height = std::ceil(height + leading);
        tops.append(height);
        height += lineHeight;
    }
    const qreal top = cell.y() + (cell.height() - height) / 2 + metrics.ascent();
    for (int i = 0; i < lines.size(); ++i) {
        if (!lines.at(i).isEmpty())
            p->drawText(QPointF(cell.x(), top + tops.at(i)), lines.at(i));
    }
}

void ReportLayout::box(const QString &title, const QStringList &paragraphs)
{
    const int inner = kWidth - 40;
    int height = lineHeight(26) + 30;
    for (const QString &text : paragraphs)
        height += wrappedHeight(text, 22, inner);
    need(height);
    if (QPainter *p = painter()) {
        p->setPen(QPen(Qt::darkGray, 2));
        p->setBrush(Qt::NoBrush);
        p->drawRect(QRect(kLeft, m_y, kWidth, height));
        p->setPen(Qt::black);
        p->setFont(font(26, true));
        p->drawText(QRect(kLeft + 20, m_y + 10, inner, lineHeight(26)),
                    Qt::AlignLeft | Qt::AlignVCenter, title);
        int y = m_y + 10 + lineHeight(26);
        p->setFont(font(22));
        for (const QString &text : paragraphs) {
            const int h = wrappedHeight(text, 22, inner);
            p->drawText(QRect(kLeft + 20, y, inner, h), Qt::TextWordWrap | Qt::AlignLeft, text);
            y += h;
        }
    }
    m_y += height + 30;
}

void ReportLayout::image(const std::function<QImage()> &picture, int height)
{
    need(height + 10);
    if (QPainter *p = painter())
        p->drawImage(QRect(kLeft, m_y, kWidth, height), picture());
    m_y += height + 10;
}

void ReportLayout::signature(const QString &title, const QStringList &labels)
{
    need(160 + 120 * labels.size());
    space(40);
    text(title, 36, true);
    space(40);
    for (const QString &label : labels) {
        if (QPainter *p = painter()) {
            p->setFont(font(28));
            p->setPen(Qt::black);
            p->drawText(QRect(kLeft, m_y, 400, 60), Qt::AlignLeft | Qt::AlignBottom, label);
            p->drawLine(kLeft + 400, m_y + 58, kLeft + 1200, m_y + 58);
        }
        m_y += 120;
    }
}
