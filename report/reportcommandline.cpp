#include "report/reportcommandline.h"

#include <QDateTime>

#include "report/dayreport.h"
#include "report/reportpainter.h"
#include "report/reporttable.h"

QString ReportCommandLine::helpText()
{
    return QStringLiteral(
        "Usage: DavavoZurer [options] [project.qlk]\n"
        "The daily report of a Quillark Lite Modbus recording.\n"
        "\n"
        "Without --pdf or --csv the report window opens (on the project, when one is named).\n"
        "\n"
        "Options:\n"
        "  --date YYYY-MM-DD   the day of the report (default: the day recording stopped,\n"
        "                      or today while recording)\n"
        "  --pdf FILE          write the report as an A4 PDF file and exit\n"
        "  --csv FILE          write the summary table as CSV and exit\n"
        "  -h, --help          show this text\n"
        "\n"
        "Exit codes: 0 done, 1 wrong arguments, 2 project file not readable,\n"
        "3 record database missing or not readable, 4 output not writable.\n");
}

bool ReportCommandLine::parse(const QStringList &arguments, QString *error)
{
    QStringList positional;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const auto value = [&](QString *target) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                *error = QStringLiteral("%1 needs a value.").arg(argument);
                return false;
            }
            *target = arguments.at(++i);
            return true;
        };
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            m_help = true;
        } else if (argument == QLatin1String("--pdf")) {
            if (!value(&m_pdf))
                return false;
        } else if (argument == QLatin1String("--csv")) {
            if (!value(&m_csv))
                return false;
        } else if (argument == QLatin1String("--date")) {
            QString text;
            if (!value(&text))
                return false;
            m_date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!m_date.isValid()) {
                *error = QStringLiteral("--date wants a day as YYYY-MM-DD, not \"%1\".").arg(text);
                return false;
            }
        } else if (argument.startsWith(QLatin1String("--")) && positional.isEmpty()) {
            *error = QStringLiteral("Unknown option %1 (see --help).").arg(argument);
            return false;
        } else {
            positional.append(argument);
        }
    }
    // The recorder hands the path over in single quotes within one command
    // string, which the system may have split at the spaces of the path.
    const QString joined = positional.join(QLatin1Char(' '));
    if (positional.size() > 1 && !joined.startsWith(QLatin1Char('\''))) {
        *error = QStringLiteral("Only one project file, please (see --help).");
        return false;
    }
    m_project = DayReport::unquotedPath(joined);
    if (batch() && m_project.isEmpty() && !m_help) {
        *error = QStringLiteral("Name the project file (see --help).");
        return false;
    }
    return true;
}

int ReportCommandLine::runBatch(const QTimeZone &zone, QString *error) const
{
    DayReport report;
    if (!report.loadProject(m_project, error))
        return ProjectError;
    const QDateTime now = QDateTime::currentDateTime().toTimeZone(zone);
    const QDate day =
        m_date.isValid() ? m_date : DayReport::defaultDay(report.project(), now.date());
    if (!report.compute(day, zone, now, error))
        return DataError;
    if (!m_pdf.isEmpty() && !ReportPainter(report).writePdf(m_pdf, error))
        return WriteError;
    if (!m_csv.isEmpty() && !ReportTable::writeCsv(report.statistics(), m_csv, error))
        return WriteError;
    return Success;
}
