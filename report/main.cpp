#include <QApplication>
#include <QTextStream>
#include <QTimeZone>

#include "report/reportcommandline.h"
#include "report/reportwindow.h"

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    ReportCommandLine commandLine;
    QString error;
    const bool parsed = commandLine.parse(arguments, &error);
    QTextStream err(stderr);
    if (!parsed) {
        err << "DavavoZurer: " << error << '\n';
        return ReportCommandLine::UsageError;
    }
    if (commandLine.help()) {
        QTextStream(stdout) << ReportCommandLine::helpText();
        return ReportCommandLine::Success;
    }
    // A scheduled report runs without a screen.
    if (commandLine.batch() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuillarkLite"));
    QApplication::setApplicationName(QStringLiteral("DavavoZurer"));

    if (commandLine.batch()) {
        const int code = commandLine.runBatch(QTimeZone::systemTimeZone(), &error);
        if (code != ReportCommandLine::Success)
            err << "DavavoZurer: " << error << '\n';
        return code;
    }

    ReportWindow window;
    window.setKind(commandLine.kind());
    if (commandLine.kind() == PeriodReport::Kind::Haccp && commandLine.days() > 0)
        window.setLastDay(commandLine.date().addDays(commandLine.days() - 1));
    if (commandLine.mktEnergy() != PeriodStatistics::kDefaultMktEnergy)
        window.setMktEnergy(commandLine.mktEnergy());
    window.show();
    if (commandLine.projectPath().isEmpty())
        window.askForProject();
    else
        window.openProject(commandLine.projectPath(), commandLine.date());
    return app.exec();
}
