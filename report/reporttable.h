#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

class PeriodReport;
class PeriodStatistics;

// The tables of a report as its CSV files carry them (RFC 4180, UTF-8,
// comma separated): the summary (one line per device channel), the
// excursions (one line per excursion) and the days (one line per day and
// channel). Times carry their UTC offset; a text that a spreadsheet would
// take for a formula is guarded with a leading apostrophe.
class ReportTable
{
public:
    using Rows = QVector<QStringList>;

    static QStringList summaryHeader();
    static Rows summaryRows(const PeriodReport &report);
    static QStringList excursionHeader();
    static Rows excursionRows(const PeriodReport &report);
    static QStringList dayHeader();
    static Rows dayRows(const PeriodReport &report);

    // A value with two decimals, as the report prints it.
    static QString valueText(double value);
    // A time as ISO 8601 with its UTC offset in the report's zone.
    static QString stampText(const PeriodStatistics &statistics, qint64 time);
    // A text from the project or the record, safe in a spreadsheet.
    static QString textCell(const QString &text);
    // One CSV field, quoted when it needs to be.
    static QString csvField(const QString &text);
    static QByteArray csv(const QStringList &header, const Rows &rows);
    // The excursions file and the days file beside a summary file "x.csv":
    // "x-excursions.csv", "x-days.csv".
    static QString besidePath(const QString &summaryPath, const QString &what);
};
