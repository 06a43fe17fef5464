#include "report/reportcommandline.h"

#include <QDateTime>

#include "report/reportoutput.h"
#include "report/reportpainter.h"
#include "report/reporttable.h"

QString ReportCommandLine::helpText()
{
    return QStringLiteral(
        "Usage: DavavoZurer [options] [project.qlk]\n"
        "The daily, weekly, monthly and HACCP reports of a Quillark Lite Modbus recording.\n"
        "\n"
        "Without --pdf or --csv the report window opens (on the project, when one is named).\n"
        "\n"
        "Options:\n"
        "  --date YYYY-MM-DD   daily report of that day (default: the day recording stopped,\n"
        "                      else the last day with data)\n"
        "  --week YYYY-Www     weekly report of that ISO week, e.g. 2026-W49\n"
        "  --month YYYY-MM     monthly report of that month, e.g. 2026-11\n"
        "  --haccp             HACCP report, with --from YYYY-MM-DD and --to YYYY-MM-DD\n"
        "  --kind KIND         the window opens on daily, weekly, monthly or haccp\n"
        "  --mkt-energy KJMOL  activation energy of the mean kinetic temperature\n"
        "                      (default 83.144 kJ/mol)\n"
        "  --every-row         read every row of the period, not the figures the recorder\n"
        "                      keeps per quarter hour (slower; the same figures)\n"
        "  --pdf FILE          write the report as an A4 PDF file and exit\n"
        "  --csv FILE          write the summary table as CSV and exit; the excursions go to\n"
        "                      FILE-excursions.csv and, for a week or month, the days to\n"
        "                      FILE-days.csv beside it\n"
        "  -h, --help          show this text\n"
        "\n"
        "FILE may be - (standard output) or a named pipe; the project's own files and other\n"
        "special files are refused. Files appear all together or not at all.\n"
        "\n"
        "Exit codes: 0 done, 1 wrong arguments, 2 project file not readable,\n"
        "3 record database missing or not readable, 4 output not writable,\n"
        "5 written, but the period holds no data.\n");
}

bool ReportCommandLine::parse(const QStringList &arguments, QString *error)
{
    QStringList positional;
    bool haccp = false;
    QString kindText;
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
        const auto day = [&](QDate *target) {
            QString text;
            if (!value(&text))
                return false;
            *target = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!target->isValid())
                *error =
                    QStringLiteral("%1 wants a day as YYYY-MM-DD, not \"%2\".").arg(argument, text);
            return target->isValid();
        };
        QString text;
        if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) {
            m_help = true;
        } else if (argument == QLatin1String("--pdf")) {
            if (!value(&m_pdf))
                return false;
        } else if (argument == QLatin1String("--csv")) {
            if (!value(&m_csv))
                return false;
        } else if (argument == QLatin1String("--date")) {
            if (!day(&m_date))
                return false;
            m_kind = PeriodReport::Kind::Daily;
        } else if (argument == QLatin1String("--from")) {
            if (!day(&m_date))
                return false;
        } else if (argument == QLatin1String("--to")) {
            if (!day(&m_to))
                return false;
        } else if (argument == QLatin1String("--haccp")) {
            haccp = true;
        } else if (argument == QLatin1String("--week") || argument == QLatin1String("--month")) {
            if (!value(&text))
                return false;
            const bool week = argument == QLatin1String("--week");
            m_date = week ? PeriodReport::weekStart(text) : PeriodReport::monthStart(text);
            if (!m_date.isValid()) {
                *error = QStringLiteral("%1 wants %2, not \"%3\".")
                             .arg(argument,
                                  week ? QStringLiteral("a week as YYYY-Www")
                                       : QStringLiteral("a month as YYYY-MM"),
                                  text);
                return false;
            }
            m_kind = week ? PeriodReport::Kind::Weekly : PeriodReport::Kind::Monthly;
            m_days = week ? 7 : m_date.daysInMonth();
        } else if (argument == QLatin1String("--every-row")) {
            m_everyRow = true;
        } else if (argument == QLatin1String("--kind")) {
            if (!value(&kindText))
                return false;
        } else if (argument == QLatin1String("--mkt-energy")) {
            if (!value(&text))
                return false;
            bool ok = false;
            m_mktEnergy = text.toDouble(&ok);
            if (!ok || !(m_mktEnergy > 0 && m_mktEnergy < 1000)) {
                *error = QStringLiteral("--mkt-energy wants kJ/mol above 0, not \"%1\".").arg(text);
                return false;
            }
        } else if (argument.startsWith(QLatin1String("--")) && positional.isEmpty()) {
            *error = QStringLiteral("Unknown option %1 (see --help).").arg(argument);
            return false;
        } else {
            positional.append(argument);
        }
    }
    static const QStringList kinds = {QStringLiteral("daily"), QStringLiteral("weekly"),
                                      QStringLiteral("monthly"), QStringLiteral("haccp")};
    if (!kindText.isEmpty()) {
        if (!kinds.contains(kindText)) {
            *error = QStringLiteral("--kind wants daily, weekly, monthly or haccp.");
            return false;
        }
        m_kind = PeriodReport::Kind(kinds.indexOf(kindText));
    }
    if (haccp) {
        m_kind = PeriodReport::Kind::Haccp;
        if (batch() && (!m_date.isValid() || !m_to.isValid())) {
            *error = QStringLiteral("--haccp wants --from and --to.");
            return false;
        }
        if (m_date.isValid() && m_to.isValid()) {
            if (m_to < m_date || m_date.daysTo(m_to) > 366) {
                *error = QStringLiteral("--to must follow --from, within a year.");
                return false;
            }
            m_days = int(m_date.daysTo(m_to)) + 1;
        }
    } else if (m_to.isValid()) {
        *error = QStringLiteral("--from and --to go with --haccp.");
        return false;
    }
    // The recorder hands the path over in single quotes within one command
    // string, which the system may have split at the spaces of the path.
    const QString joined = positional.join(QLatin1Char(' '));
    if (positional.size() > 1 && !joined.startsWith(QLatin1Char('\''))) {
        *error = QStringLiteral("Only one project file, please (see --help).");
        return false;
    }
    m_project = PeriodReport::unquotedPath(joined);
    if (batch() && m_project.isEmpty() && !m_help) {
        *error = QStringLiteral("Name the project file (see --help).");
        return false;
    }
    return true;
}

int ReportCommandLine::runBatch(const QTimeZone &zone, QString *error) const
{
    PeriodReport report;
    if (!report.loadProject(m_project, error))
        return ProjectError;
    const QDateTime now = QDateTime::currentDateTime().toTimeZone(zone);
    int days = m_days;
    QDate first = m_date;
    if (!first.isValid())
        first = PeriodReport::periodStart(
            m_kind, PeriodReport::defaultDay(report.project(), zone, now.date()), &days);
    else if (days <= 0)
        days = 1;
    report.setUseStretches(!m_everyRow);
    const PeriodReport::Outcome outcome =
        report.compute(m_kind, first, days, zone, now, error, m_mktEnergy);
    if (outcome == PeriodReport::Outcome::Failed)
        return DataError;

    ReportOutput output(
        ReportOutput::projectFiles(report.project().path, report.project().databasePath()));
    if (!m_pdf.isEmpty()) {
        const QByteArray pdf = ReportPainter(report).pdf(error);
        if (pdf.isEmpty() || !output.add(m_pdf, pdf, error))
            return WriteError;
    }
    if (!m_csv.isEmpty()) {
        if (!output.add(
                m_csv,
                ReportTable::csv(ReportTable::summaryHeader(), ReportTable::summaryRows(report)),
                error))
            return WriteError;
        // Beside a file only: a stream carries the summary alone.
        if (!ReportOutput::isStream(m_csv)) {
            if (!output.add(ReportTable::besidePath(m_csv, QStringLiteral("excursions")),
                            ReportTable::csv(ReportTable::excursionHeader(),
                                             ReportTable::excursionRows(report)),
                            error))
                return WriteError;
            if (m_kind == PeriodReport::Kind::Weekly || m_kind == PeriodReport::Kind::Monthly) {
                if (!output.add(
                        ReportTable::besidePath(m_csv, QStringLiteral("days")),
                        ReportTable::csv(ReportTable::dayHeader(), ReportTable::dayRows(report)),
                        error))
                    return WriteError;
            }
        }
    }
    if (!output.commit(error))
        return WriteError;
    if (outcome == PeriodReport::Outcome::NoData) {
        *error = QStringLiteral("No data: the period holds no samples.");
        return NoData;
    }
    return Success;
}
