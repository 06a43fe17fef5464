#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

class DayStatistics;

// The summary table of a daily report, one line per device channel, as the
// CSV file carries it (RFC 4180, UTF-8, comma separated).
class ReportTable
{
public:
    static QStringList header();
    static QVector<QStringList> rows(const DayStatistics &statistics);
    // A value with two decimals, as the report prints it.
    static QString valueText(double value);
    // One CSV field, quoted when it needs to be.
    static QString csvField(const QString &text);
    // Writes the table; the file appears whole or not at all. False with a
    // one-line reason.
    static bool writeCsv(const DayStatistics &statistics, const QString &path, QString *error);
};
