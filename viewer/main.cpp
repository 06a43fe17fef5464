// RideZodazo: the data viewer of Quillark Lite Modbus.
#include "common/common.h"
#include "viewer/batchexport.h"
#include "viewer/viewerbenchprobe.h"
#include "viewer/viewerwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextStream>
#include <QTimer>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    // A full disk (or a file size limit) must end in a clean error, not a kill.
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const BatchExport::Options options = BatchExport::parse(arguments);
    QTextStream err(stderr);
    if (options.help) {
        QTextStream out(stdout);
        out << BatchExport::helpText();
        return 0;
    }
    if (options.batch || !options.error.isEmpty()) {
        // A script reads one line of reason on stderr; the log stays quiet
        // unless asked for with QT_LOGGING_RULES.
        if (qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
            QLoggingCategory::setFilterRules(QStringLiteral("*.warning=false"));
        QCoreApplication app(argc, argv);
        QCoreApplication::setOrganizationName(kSettingsOrganisation);
        QCoreApplication::setApplicationName(QStringLiteral("RideZodazo"));
        return BatchExport::run(options, err);
    }

    // Nothing here draws with OpenGL; on an X display Qt would still load the
    // OpenGL stack (Mesa's software renderer where there is no driver: some
    // 50 MB resident). A value set from outside is kept.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(kSettingsOrganisation);
    QCoreApplication::setApplicationName(QStringLiteral("RideZodazo"));
    ViewerWindow window;
    window.resize(1280, 800);
    ViewerBenchProbe::installIfAsked(&window);
    window.show();
    // Without a file the window opens empty, its Open button and recent list
    // at hand; a file that cannot be read leaves the same, with the reason.
    // The file is opened once the window has met the window system and its
    // layout has settled.
    if (!options.projectPath.isEmpty())
        QTimer::singleShot(0, &window,
                           [&window, &options] { window.openProject(options.projectPath); });
    return app.exec();
}
