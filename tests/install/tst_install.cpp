#include "recordfixture.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

using TestSupport::ProgramRun;

// Runs a tool (cpack, a validator) or an installed program to its end.
ProgramRun run(const QString &program, const QStringList &arguments,
               const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
               int timeoutMs = 60000)
{
    return TestSupport::runProgram(program, arguments, env, timeoutMs);
}

QString describe(const ProgramRun &run, const QString &what)
{
    return QString("%1: exit %2 (-1: did not finish)\n%3%4")
        .arg(what)
        .arg(run.code)
        .arg(run.out, run.err);
}
// Fails with what the run wrote unless it ended with exit code 0.
#define QVERIFY_RAN(run, what) QVERIFY2((run).code == 0, qPrintable(describe(run, what)))

// Environment of an installed program run by a test: offscreen, with a
// home, configuration and runtime folder of its own under scratch, UTC, and
// nothing of the build tree to help it along.
QProcessEnvironment isolatedEnvironment(const QString &scratch)
{
    const QString home = scratch + "/home";
    const QString runtime = scratch + "/runtime";
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config");
    env.insert("XDG_DATA_HOME", home + "/.local/share");
    env.insert("XDG_CACHE_HOME", home + "/.cache");
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.insert("TMPDIR", scratch);
    env.insert("TZ", "UTC");
    env.remove("LD_LIBRARY_PATH");
    env.remove("QT_PLUGIN_PATH");
    return env;
}

// Starts an installed window program and checks that it is still running
// 3.5 s later; for the recorder, counted from when it holds its instance lock
// (its splash lasts 2.5 s). Returns what went wrong, or an empty text.
QString runProblem(const QString &binary, const QStringList &arguments, const QString &scratch)
{
    QProcess program;
    program.setProcessEnvironment(isolatedEnvironment(scratch));
    program.setWorkingDirectory(scratch);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(binary, arguments);
    if (!program.waitForStarted(10000))
        return "does not start: " + program.errorString();

    const auto locked = [&] {
        QFile lock(scratch + "/runtime/Quillark Lite Modbus.lock");
        return lock.open(QIODevice::ReadOnly) &&
               lock.readLine().trimmed().toLongLong() == program.processId();
    };
    QString problem;
    if (binary.endsWith("/quillark-lite-modbus") && !QTest::qWaitFor(locked, 30000))
        problem = "never got ready";
    if (problem.isEmpty()) {
        QTest::qWait(3500);
        if (program.state() != QProcess::Running)
            problem = QString("ended with exit code %1").arg(program.exitCode());
    }
    program.kill();
    program.waitForFinished(10000);
    const QString output = QString::fromLocal8Bit(program.readAll());
    return problem.isEmpty() ? problem : problem + "\n" + output;
}

} // namespace

// The Debian package of this build tree, made by cpack into a temporary
// folder: its control fields read with dpkg-deb, lintian's verdict, and what
// it installs (unpacked with dpkg-deb): the layout, the desktop integration
// files checked by their own validators, and the programs started from there.
class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void control();
    void layout_data();
    void layout();
    void onlyProgramsAndData();
    void desktopEntries_data();
    void desktopEntries();
    void appstreamMetadata();
    void projectFilesOpenInTheViewer();
    void siblingsWorkFromThePrefix_data();
    void siblingsWorkFromThePrefix();
    void windowsStartFromThePrefix_data();
    void windowsStartFromThePrefix();
    void iconsAreTheGeneratorsOutput();
    void lintianFindsNoError();

private:
    QString installed(const QString &relative) const { return m_prefix + '/' + relative; }

    QTemporaryDir m_workDir;
    QString m_deb;
    QString m_root; // the unpacked package
    QString m_prefix;
    QString m_project;  // the demo project with a recording
    QProcess m_lintian; // runs while the other checks do
};

void tst_Install::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    const ProgramRun cpack = run(QStringLiteral(QK_CPACK_COMMAND),
                                 {"--config", TestSupport::binaryDir() + "/CPackConfig.cmake", "-G",
                                  "DEB", "-B", m_workDir.path()},
                                 QProcessEnvironment::systemEnvironment(), 120000);
    QVERIFY_RAN(cpack, "cpack");
    const QStringList debs = QDir(m_workDir.path()).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_workDir.filePath(debs.first());
    QVERIFY2(debs.first().startsWith("quillark-lite-modbus_"), qPrintable(debs.first()));
    m_lintian.start("lintian", {"--no-cfg", "--fail-on", "error", m_deb});
    m_root = m_workDir.filePath("root");
    const ProgramRun unpack = run("dpkg-deb", {"-x", m_deb, m_root});
    QVERIFY_RAN(unpack, "dpkg-deb -x");
    m_prefix = m_root + "/usr";

    // A copy of the installed demo project with 10 minutes of one device
    // recorded at 1 s from 2026-01-01 12:00:00 UTC: channel 1 steps 20.0, 20.5
    // ... 23.5 and again (mean 21.75), channel 2 stays 50.
    m_project = m_workDir.filePath("demo.qlk");
    QVERIFY(QFile::copy(installed("share/doc/quillark-lite-modbus/examples/demo.qlk"), m_project));
    QVector<TestSupport::RecordRow> rows;
    for (int i = 0; i < 600; ++i)
        rows.append({"e2E3ZDlhYjEzLTQ3Yz", 20.0 + (i % 8) * 0.5, 50.0, 1767268800 + i});
    QVERIFY(TestSupport::appendRecordRows(m_workDir.filePath("demo.dat"), rows, false));
}

void tst_Install::control()
{
    const ProgramRun fields =
        run("dpkg-deb", {"-W",
                         QStringLiteral("--showformat=${Package}\\t${Version}\\t${Section}\\t"
                                        "${Maintainer}\\t${Depends}\\t${Description}"),
                         m_deb});
    QVERIFY_RAN(fields, "dpkg-deb -W");
    const QStringList control = fields.out.split('\t');
    QCOMPARE(control.mid(0, 3), (QStringList{"quillark-lite-modbus", "1.03", "science"}));
    QVERIFY(control.value(3).contains('@'));
    QVERIFY2(control.value(5).count('\n') >= 3, "no long description");

    // Worked out from the binaries by dpkg-shlibdeps, not written by hand.
    const QStringList depends = control.value(4).split(", ");
    for (const char *package : {"libc6", "libqt5core5a", "libqt5widgets5", "libqt5serialbus5",
                                "libqt5multimedia5", "libqt5network5", "libsqlite3-0"})
        QVERIFY2(!depends.filter(QRegularExpression(QString("^%1( |$)").arg(package))).isEmpty(),
                 qPrintable(package + (" missing in: " + control.value(4))));
}

// The files every installation holds, relative to the prefix. A non-empty
// source is the file in the source tree the installed one must equal (after
// decompression when gzipped); one without is a program.
void tst_Install::layout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("gzipped");
    const auto add = [](const QString &path, const QString &source, bool gzipped = false) {
        QTest::newRow(qPrintable(path)) << path << source << gzipped;
    };
    const bool withViewer = QK_HAS_VIEWER, withReport = QK_HAS_REPORT;
    QStringList programs{"quillark-lite-modbus", "quillark-gateway-sim"};
    QStringList ids{"org.quillark.LiteModbus"};
    for (const auto &[with, program] :
         {std::pair{withViewer, "RideZodazo"}, std::pair{withReport, "DavavoZurer"}}) {
        if (with) {
            programs << program;
            ids << QString("org.quillark.") + program;
        }
    }
    for (const QString &program : programs) {
        add("bin/" + program, QString());
        add(QString("share/man/man1/%1.1.gz").arg(program), "packaging/man/" + program + ".1",
            true);
    }
    for (const QString &id : ids) {
        add(QString("share/applications/%1.desktop").arg(id), "packaging/" + id + ".desktop");
        add(QString("share/icons/hicolor/scalable/apps/%1.svg").arg(id),
            "packaging/icons/" + id + ".svg");
    }
    add("share/icons/hicolor/scalable/mimetypes/application-x-quillark-project.svg",
        "packaging/icons/application-x-quillark-project.svg");
    add("share/mime/packages/quillark-lite-modbus.xml", "packaging/quillark-project.xml");
    add("share/metainfo/org.quillark.LiteModbus.metainfo.xml",
        "packaging/org.quillark.LiteModbus.metainfo.xml");
    const QString doc = "share/doc/quillark-lite-modbus/";
    add(doc + "README.md", "README.md");
    add(doc + "examples/demo.qlk", "examples/demo.qlk");
    add(doc + "copyright", "packaging/copyright");
    add(doc + "changelog.gz", "packaging/changelog", true);
}

void tst_Install::layout()
{
    QFETCH(QString, path);
    QFETCH(QString, source);
    QFETCH(bool, gzipped);

    const QFileInfo info(installed(path));
    QVERIFY2(info.isFile(), "not installed");
    QCOMPARE(info.isExecutable(), source.isEmpty());
    QVERIFY(info.permissions().testFlag(QFileDevice::ReadOther));
    if (source.isEmpty())
        return;
    QFile original(TestSupport::sourceDir() + '/' + source);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray content;
    if (gzipped) {
        const ProgramRun gzip = run("gzip", {"-dc", info.filePath()});
        QVERIFY2(gzip.code == 0, "not a gzip file");
        content = gzip.out.toUtf8(); // decoded and encoded alike
    } else {
        QFile copy(info.filePath());
        QVERIFY(copy.open(QIODevice::ReadOnly));
        content = copy.readAll();
    }
    QVERIFY2(content == original.readAll(), "differs from its source");
}

void tst_Install::onlyProgramsAndData()
{
    // Users get programs and data: no static libraries, headers, test
    // programs or CMake files; the programs need nothing of the build tree.
    QDirIterator it(m_root, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    QVERIFY(it.hasNext());
    while (it.hasNext()) {
        const QString path = it.next();
        const QString file = QDir(m_prefix).relativeFilePath(path);
        QVERIFY2(file.startsWith("bin/") || file.startsWith("share/"), qPrintable(file));
        QVERIFY2(!file.contains("tst_") && !file.endsWith(".a") && !file.endsWith(".h") &&
                     !file.endsWith(".cmake"),
                 qPrintable(file));
        if (!file.startsWith("bin/"))
            continue;
        const ProgramRun dynamic = run("readelf", {"-d", path});
        QVERIFY_RAN(dynamic, file);
        QVERIFY2(!dynamic.out.contains("RPATH") && !dynamic.out.contains("RUNPATH"),
                 qPrintable(file + " carries a library search path:\n" + dynamic.out));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("LD_LIBRARY_PATH");
        const ProgramRun libraries = run("ldd", {path}, env);
        QVERIFY2(libraries.code == 0 && !libraries.out.contains("not found"),
                 qPrintable(describe(libraries, file)));
    }
}

void tst_Install::desktopEntries_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("opensProjects");
    QTest::newRow("recorder") << QString("quillark-lite-modbus") << false;
    if (QK_HAS_VIEWER)
        QTest::newRow("viewer") << QString("RideZodazo") << true;
    if (QK_HAS_REPORT)
        QTest::newRow("report") << QString("DavavoZurer") << false;
}

void tst_Install::desktopEntries()
{
    QFETCH(QString, program);
    QFETCH(bool, opensProjects);
    const QString id = "org.quillark." + (program.startsWith("quillark") ? "LiteModbus" : program);

    const QString path = installed("share/applications/" + id + ".desktop");
    const ProgramRun validate = run("desktop-file-validate", {path});
    QVERIFY2(validate.code == 0 && (validate.out + validate.err).trimmed().isEmpty(),
             qPrintable(describe(validate, "desktop-file-validate")));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    // The first group is [Desktop Entry] (the validator holds to it).
    const QString text = QString::fromUtf8(file.readAll());
    const auto entry = [&text](const char *key) {
        return QRegularExpression(QString("^%1=(.*)$").arg(key),
                                  QRegularExpression::MultilineOption)
            .match(text)
            .captured(1)
            .trimmed();
    };

    // The menu starts the installed program by name (bin/ is on PATH).
    const QStringList exec = entry("Exec").split(' ', Qt::SkipEmptyParts);
    QVERIFY(!exec.isEmpty());
    QCOMPARE(exec.first(), program);
    QVERIFY(QFileInfo(installed("bin/" + program)).isExecutable());

    // Its icon is the theme's (installed as its source: see layout).
    QCOMPARE(entry("Icon"), id);

    // Only the viewer takes project files, and it is handed the file.
    const QStringList types = entry("MimeType").split(';', Qt::SkipEmptyParts);
    QCOMPARE(types.contains("application/x-quillark-project"), opensProjects);
    if (opensProjects)
        QVERIFY(exec.contains("%f") || exec.contains("%F"));
}

void tst_Install::appstreamMetadata()
{
    const QString path = installed("share/metainfo/org.quillark.LiteModbus.metainfo.xml");
    const ProgramRun validate = run("appstreamcli", {"validate", "--no-net", path});
    QVERIFY_RAN(validate, "appstreamcli validate");

    // The component names the installed desktop entry and programs.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(file.readAll());
    const auto elements = [&xml](const char *name) {
        QStringList texts;
        auto it = QRegularExpression(QString("<%1[ >][^<]*").arg(name)).globalMatch(xml);
        while (it.hasNext())
            texts << it.next().captured().section('>', 1).trimmed();
        return texts;
    };
    const QString launchable = elements("launchable").value(0);
    QCOMPARE(launchable, elements("id").value(0) + ".desktop");
    QVERIFY(QFileInfo::exists(installed("share/applications/" + launchable)));
    const QStringList binaries = elements("binary");
    QVERIFY(binaries.contains("quillark-lite-modbus"));
    for (const QString &binary : binaries) {
        if ((binary == "RideZodazo" && !QK_HAS_VIEWER) ||
            (binary == "DavavoZurer" && !QK_HAS_REPORT))
            continue;
        QVERIFY2(QFileInfo::exists(installed("bin/" + binary)), qPrintable(binary));
    }
}

void tst_Install::projectFilesOpenInTheViewer()
{
    // Build the MIME cache of the prefix as the package's trigger does, and
    // let Qt's own MIME database (the desktop's rules) recognise a project.
    const ProgramRun update = run("update-mime-database", {installed("share/mime")});
    QVERIFY_RAN(update, "update-mime-database");
    QTemporaryDir dataHome;
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (installed("share") + ":/usr/share").toLocal8Bit());

    const QMimeType type = QMimeDatabase().mimeTypeForFile(
        installed("share/doc/quillark-lite-modbus/examples/demo.qlk"));
    QCOMPARE(type.name(), QString("application/x-quillark-project"));
    QVERIFY(type.inherits("text/plain"));
    QCOMPARE(type.comment(), QString("Quillark project"));
    QVERIFY(QFileInfo::exists(
        installed("share/icons/hicolor/scalable/mimetypes/" + type.iconName() + ".svg")));
    const QMimeType upper =
        QMimeDatabase().mimeTypeForFile("/nowhere/COLD ROOM.QLK", QMimeDatabase::MatchExtension);
    QCOMPARE(upper.name(), type.name());

    // The desktop's handler cache of the prefix sends the type to the viewer
    // and to nothing else.
    if (!QK_HAS_VIEWER)
        return;
    const QString applications = installed("share/applications");
    const ProgramRun handlers = run("update-desktop-database", {applications});
    QVERIFY_RAN(handlers, "update-desktop-database");
    QFile cache(applications + "/mimeinfo.cache");
    QVERIFY(cache.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString content = QString::fromUtf8(cache.readAll());
    QVERIFY2(
        content.contains("\napplication/x-quillark-project=org.quillark.RideZodazo.desktop;\n"),
        qPrintable(content));
}

void tst_Install::siblingsWorkFromThePrefix_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QStringList>("expected");
    if (QK_HAS_VIEWER)
        QTest::newRow("viewer CSV export")
            << "RideZodazo" << QStringList{"--csv"} << "recording.csv"
            << QStringList{"2026-01-01T12:00:00+00:00,1767268800,20.00,50.00,",
                           "2026-01-01T12:09:59+00:00,1767269399,23.50,50.00,"};
    if (QK_HAS_REPORT) {
        QTest::newRow("report PDF") << "DavavoZurer" << QStringList{"--date", "2026-01-01", "--pdf"}
                                    << "day.pdf" << QStringList{"%PDF-"};
        QTest::newRow("report CSV")
            << "DavavoZurer" << QStringList{"--date", "2026-01-01", "--csv"} << "day.csv"
            << QStringList{
                   "Cold room "
                   "1,e2E3ZDlhYjEzLTQ3Yz,Temperature,°C,ok,20.00,2026-01-01T12:00:00+00:00,23.50,",
                   ",21.75,600,86400,"};
    }
}

void tst_Install::siblingsWorkFromThePrefix()
{
    QFETCH(QString, program);
    QFETCH(QStringList, options);
    QFETCH(QString, output);
    QFETCH(QStringList, expected);

    const QString outputPath = m_workDir.filePath(output);
    const ProgramRun batch = run(installed("bin/" + program), options << outputPath << m_project,
                                 isolatedEnvironment(m_workDir.filePath(QTest::currentDataTag())));
    QVERIFY_RAN(batch, program);
    QFile file(outputPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    for (const QString &text : expected)
        QVERIFY2(content.contains(text), qPrintable(text + "\nnot in:\n" + content.right(600)));
}

void tst_Install::windowsStartFromThePrefix_data()
{
    // The recorder finds its siblings beside itself and hands over the
    // project path in single quotes, as one argument; the file manager hands
    // the viewer the plain path.
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument"); // %1: the project
    QTest::newRow("recorder") << "quillark-lite-modbus" << QString();
    if (QK_HAS_VIEWER) {
        QTest::newRow("viewer from the recorder") << "RideZodazo" << QString("'%1'");
        QTest::newRow("viewer from the file manager") << "RideZodazo" << QString("%1");
    }
    if (QK_HAS_REPORT)
        QTest::newRow("report from the recorder") << "DavavoZurer" << QString("'%1'");
}

void tst_Install::windowsStartFromThePrefix()
{
    QFETCH(QString, program);
    QFETCH(QString, argument);
    const QString problem =
        runProblem(installed("bin/" + program),
                   argument.isEmpty() ? QStringList() : QStringList{argument.arg(m_project)},
                   m_workDir.filePath(QTest::currentDataTag()));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_Install::iconsAreTheGeneratorsOutput()
{
    const ProgramRun check =
        run("bash", {TestSupport::sourceDir() + "/packaging/make_icons.sh", "--check"});
    QVERIFY_RAN(check, "make_icons.sh --check");
}

void tst_Install::lintianFindsNoError()
{
    // It may well have ended while the other checks ran.
    const bool finished = TestSupport::waitUntilFinished(m_lintian, 150000);
    if (!finished)
        m_lintian.kill();
    const QString out = QString::fromUtf8(m_lintian.readAllStandardOutput());
    const QString told = "lintian:\n" + out + QString::fromUtf8(m_lintian.readAllStandardError());
    QVERIFY2(finished, qPrintable(told));
    qInfo().noquote() << out; // warnings and notes are shown, not failed on
    QVERIFY2(m_lintian.exitStatus() == QProcess::NormalExit && m_lintian.exitCode() == 0 &&
                 !out.contains(QRegularExpression("^E: ", QRegularExpression::MultilineOption)),
             qPrintable(told));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
