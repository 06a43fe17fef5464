#include "report/reportlayout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QVarLengthArray>

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

void ReportLayout::table(const QVector<Column> &columns, const QVector<QStringList> &rows,
                         const std::function<bool(int)> &marked)
{
    const int line = lineHeight(kCellSize);
    const int headerHeight = 2 * line;
    need(headerHeight + line);
    tableHeader(columns, headerHeight);
    const QFontMetricsF metrics(font(kCellSize));
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList &cells = rows.at(r);
        int lines = 1;
        for (const QString &cell : cells)
            lines = std::max(lines, int(cell.count(QLatin1Char('\n'))) + 1);
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
