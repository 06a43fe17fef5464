#include "app/benchprobe.h"
#include "app/quillarkmain.h"
#include "app/splashscreen.h"
#include "app/terminationsignals.h"
#include "common/common.h"

#include <QApplication>
#include <QDir>
#include <QLockFile>
#include <QPixmap>
#include <QStandardPaths>
#include <QTimer>

namespace
{

constexpr int kSplashMs = 2500;

QtMessageHandler g_defaultHandler = nullptr;

// The audio library's own lines when no sound server runs. The window says
// it once, in words, with what it means for the alarms; these lines would
// only repeat it in the library's terms.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg &&
        (text.startsWith(QLatin1String("PulseAudioService: pa_context_connect()")) ||
         text == QLatin1String("Warning: \"Failed to connect: Connection refused\"")))
        return;
    g_defaultHandler(type, context, text);
}

// One lock per user, named after the program. The runtime folder is private
// to the user; the temporary folder serves where there is none.
QString instanceLockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    QDir().mkpath(dir);
    return dir + QLatin1Char('/') + kAppName + QStringLiteral(".lock");
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything is drawn with the raster engine. Left alone, the X11 plugin
    // loads the OpenGL stack at start, which on a machine without a graphics
    // driver is Mesa's software renderer with LLVM: some 50 MB resident for
    // nothing. A value set from outside is kept.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    g_defaultHandler = qInstallMessageHandler(messageHandler);
    QApplication app(argc, argv);
    BenchProbe::installIfAsked(&app);

    // Single instance: a second start ends at once and shows nothing. The lock
    // holds the owner's process id, so the lock of an instance that died
    // without cleaning up is recognised as stale and taken over; a live
    // instance's lock never goes stale with age.
    const QString lockPath = instanceLockPath();
    QLockFile instanceLock(lockPath);
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock(0)) {
        if (instanceLock.error() == QLockFile::LockFailedError) {
            qCDebug(lcApp).noquote() << "main : another instance is running";
            return 0;
        }
        // The lock could not even be written (no such folder, no permission):
        // do not keep the user from working because of that.
        qCDebug(lcApp).noquote() << "main : cannot create the instance lock" << lockPath;
    }

    SplashScreen splash(QPixmap(QStringLiteral(":/img/LoadingLite.png")));
    splash.show();
    splash.showMessage(QStringLiteral("[") + kAppVersion + QStringLiteral("] Loading modules..."),
                       Qt::AlignHCenter | Qt::AlignBottom, Qt::darkGray);

    QuillarkMain window;
    if (TerminationSignals *signalWatch = TerminationSignals::install(&app))
        QObject::connect(signalWatch, &TerminationSignals::requested, &window,
                         &QuillarkMain::endOnSignal);
    app.processEvents();

    // The splash stays on for its full time while the event loop already runs.
    QTimer::singleShot(kSplashMs, &window, [&window, &splash]() {
        window.show();
        splash.finish(&window);
    });
    return app.exec();
}
