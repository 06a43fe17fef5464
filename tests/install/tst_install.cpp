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

// Running the tools (cpack, validators) and the installed programs.
struct Result {
    bool finished = false;
    int exitCode = -1;
    QString out;
    QString err;
    QString describe(const QString &what) const
    {
        return QStringLiteral("%1: %2 (exit %3)\n%4%5")
            .arg(what, finished ? QStringLiteral("finished") : QStringLiteral("did not finish"))
            .arg(exitCode)
            .arg(out, err);
    }
    bool ok() const { return finished && exitCode == 0; }
};

Result run(const QString &program, const QStringList &arguments,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
           int timeoutMs = 60000)
{
    Result result;
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForStarted(10000)) {
        result.err = program + QStringLiteral(" did not start: ") + process.errorString();
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

// Environment of an installed program run by a test: offscreen, with a
// home, configuration and runtime folder of its own under scratch, UTC, and
// nothing of the build tree to help it along.
QProcessEnvironment isolatedEnvironment(const QString &scratch)
{
    const QString home = scratch + QStringLiteral("/home");
    const QString runtime = scratch + QStringLiteral("/runtime");
    QDir().mkpath(home);
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("TMPDIR"), scratch);
    env.insert(QStringLiteral("TZ"), QStringLiteral("UTC"));
    env.remove(QStringLiteral("LD_LIBRARY_PATH"));
    env.remove(QStringLiteral("QT_PLUGIN_PATH"));
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
        return QStringLiteral("does not start: ") + program.errorString();

    const auto locked = [&] {
        QFile lock(scratch + QStringLiteral("/runtime/Quillark Lite Modbus.lock"));
        return lock.open(QIODevice::ReadOnly) &&
               lock.readLine().trimmed().toLongLong() == program.processId();
    };
    QString problem;
    if (binary.endsWith(QLatin1String("/quillark-lite-modbus")) && !QTest::qWaitFor(locked, 30000))
        problem = QStringLiteral("never got ready");
    if (problem.isEmpty()) {
        QTest::qWait(3500);
        if (program.state() != QProcess::Running)
            problem = QStringLiteral("ended with exit code %1").arg(program.exitCode());
    }
    program.kill();
    program.waitForFinished(10000);
    const QString output = QString::fromLocal8Bit(program.readAll());
    return problem.isEmpty() ? problem : problem + QStringLiteral("\n") + output;
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
    QString recordedProject();

    QString installed(const QString &relative) const
    {
        return m_prefix + QLatin1Char('/') + relative;
    }

    QTemporaryDir m_workDir;
    QString m_deb;
    QString m_root; // the unpacked package
    QString m_prefix;
    QProcess m_lintian; // runs while the other checks do
    QTemporaryDir m_projectDir;
};

void tst_Install::initTestCase()
{
    QVERIFY(m_workDir.isValid());
    const Result cpack =
        run(QStringLiteral(QK_CPACK_COMMAND),
            {QStringLiteral("--config"),
             TestSupport::binaryDir() + QStringLiteral("/CPackConfig.cmake"), QStringLiteral("-G"),
             QStringLiteral("DEB"), QStringLiteral("-B"), m_workDir.path()},
            QProcessEnvironment::systemEnvironment(), 120000);
    QVERIFY2(cpack.ok(), qPrintable(cpack.describe(QStringLiteral("cpack"))));
    const QStringList debs =
        QDir(m_workDir.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    m_deb = m_workDir.filePath(debs.first());
    QVERIFY2(debs.first().startsWith(QLatin1String("quillark-lite-modbus_")),
             qPrintable(debs.first()));
    m_lintian.start(
        QStringLiteral("lintian"),
        {QStringLiteral("--no-cfg"), QStringLiteral("--fail-on"), QStringLiteral("error"), m_deb});
    m_root = m_workDir.filePath(QStringLiteral("root"));
    const Result unpack = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpack.ok(), qPrintable(unpack.describe(QStringLiteral("dpkg-deb -x"))));
    m_prefix = m_root + QStringLiteral("/usr");
}

void tst_Install::control()
{
    const Result fields = run(QStringLiteral("dpkg-deb"),
                              {QStringLiteral("-W"),
                               QStringLiteral("--showformat=${Package}\\t${Version}\\t${Section}\\t"
                                              "${Maintainer}\\t${Depends}\\t${Description}"),
                               m_deb});
    QVERIFY2(fields.ok(), qPrintable(fields.describe(QStringLiteral("dpkg-deb -W"))));
    const QStringList control = fields.out.split(QLatin1Char('\t'));
    QCOMPARE(control.mid(0, 3), (QStringList{"quillark-lite-modbus", "1.03", "science"}));
    QVERIFY(control.value(3).contains(QLatin1Char('@')));
    QVERIFY2(control.value(5).count(QLatin1Char('\n')) >= 3, "no long description");

    // Worked out from the binaries by dpkg-shlibdeps, not written by hand.
    const QStringList depends = control.value(4).split(QStringLiteral(", "));
    for (const char *package : {"libc6", "libqt5core5a", "libqt5widgets5", "libqt5serialbus5",
                                "libqt5multimedia5", "libqt5network5", "libsqlite3-0"})
        QVERIFY2(
            !depends.filter(QRegularExpression(QStringLiteral("^%1( |$)").arg(package))).isEmpty(),
            qPrintable(QStringLiteral("%1 missing in: %2").arg(package, control.value(4))));
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
            ids << QStringLiteral("org.quillark.") + program;
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
    QFile original(TestSupport::sourceDir() + QLatin1Char('/') + source);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray content;
    if (gzipped) {
        const Result gzip = run(QStringLiteral("gzip"), {QStringLiteral("-dc"), info.filePath()});
        QVERIFY2(gzip.ok(), "not a gzip file");
        content = gzip.out.toLocal8Bit(); // decoded and encoded alike
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
        QVERIFY2(file.startsWith(QLatin1String("bin/")) || file.startsWith(QLatin1String("share/")),
                 qPrintable(file));
        QVERIFY2(!file.contains(QLatin1String("tst_")) && !file.endsWith(QLatin1String(".a")) &&
                     !file.endsWith(QLatin1String(".h")) && !file.endsWith(QLatin1String(".cmake")),
                 qPrintable(file));
        if (!file.startsWith(QLatin1String("bin/")))
            continue;
        const Result dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), path});
        QVERIFY2(dynamic.ok(), qPrintable(dynamic.describe(file)));
        QVERIFY2(
            !dynamic.out.contains(QLatin1String("RPATH")) &&
                !dynamic.out.contains(QLatin1String("RUNPATH")),
            qPrintable(file + QStringLiteral(" carries a library search path:\n") + dynamic.out));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        const Result libraries = run(QStringLiteral("ldd"), {path}, env);
        QVERIFY2(libraries.ok() && !libraries.out.contains(QLatin1String("not found")),
                 qPrintable(libraries.describe(file)));
    }
}

void tst_Install::desktopEntries_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("opensProjects");
    QTest::newRow("recorder") << "org.quillark.LiteModbus"
                              << "quillark-lite-modbus" << false;
    if (QK_HAS_VIEWER)
        QTest::newRow("viewer") << "org.quillark.RideZodazo"
                                << "RideZodazo" << true;
    if (QK_HAS_REPORT)
        QTest::newRow("report") << "org.quillark.DavavoZurer"
                                << "DavavoZurer" << false;
}

void tst_Install::desktopEntries()
{
    QFETCH(QString, id);
    QFETCH(QString, program);
    QFETCH(bool, opensProjects);

    const QString path = installed(QStringLiteral("share/applications/%1.desktop").arg(id));
    const Result validate = run(QStringLiteral("desktop-file-validate"), {path});
    QVERIFY2(validate.ok() && validate.out.trimmed().isEmpty() && validate.err.trimmed().isEmpty(),
             qPrintable(validate.describe(QStringLiteral("desktop-file-validate"))));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    // The first group is [Desktop Entry] (the validator holds to it).
    const QString text = QString::fromUtf8(file.readAll());
    const auto entry = [&text](const char *key) {
        return QRegularExpression(QStringLiteral("^%1=(.*)$").arg(QLatin1String(key)),
                                  QRegularExpression::MultilineOption)
            .match(text)
            .captured(1)
            .trimmed();
    };

    // The menu starts the installed program by name (bin/ is on PATH).
    const QStringList exec = entry("Exec").split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY(!exec.isEmpty());
    QCOMPARE(exec.first(), program);
    QVERIFY(QFileInfo(installed(QStringLiteral("bin/") + program)).isExecutable());

    // Its icon is the theme's (installed as its source: see layout).
    QCOMPARE(entry("Icon"), id);

    // Only the viewer takes project files, and it is handed the file.
    const QStringList types = entry("MimeType").split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QCOMPARE(types.contains(QStringLiteral("application/x-quillark-project")), opensProjects);
    if (opensProjects)
        QVERIFY(exec.contains(QStringLiteral("%f")) || exec.contains(QStringLiteral("%F")));
}

void tst_Install::appstreamMetadata()
{
    const QString path =
        installed(QStringLiteral("share/metainfo/org.quillark.LiteModbus.metainfo.xml"));
    const Result validate = run(QStringLiteral("appstreamcli"),
                                {QStringLiteral("validate"), QStringLiteral("--no-net"), path});
    QVERIFY2(validate.ok(), qPrintable(validate.describe(QStringLiteral("appstreamcli validate"))));

    // The component names the installed desktop entry and programs.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(file.readAll());
    const auto elements = [&xml](const char *name) {
        QStringList texts;
        auto it = QRegularExpression(QStringLiteral("<%1[ >][^<]*").arg(QLatin1String(name)))
                      .globalMatch(xml);
        while (it.hasNext())
            texts << it.next().captured().section(QLatin1Char('>'), 1).trimmed();
        return texts;
    };
    const QString launchable = elements("launchable").value(0);
    QCOMPARE(launchable, elements("id").value(0) + QStringLiteral(".desktop"));
    QVERIFY(QFileInfo::exists(installed(QStringLiteral("share/applications/") + launchable)));
    const QStringList binaries = elements("binary");
    QVERIFY(binaries.contains(QStringLiteral("quillark-lite-modbus")));
    for (const QString &binary : binaries) {
        if ((binary == QLatin1String("RideZodazo") && !QK_HAS_VIEWER) ||
            (binary == QLatin1String("DavavoZurer") && !QK_HAS_REPORT))
            continue;
        QVERIFY2(QFileInfo::exists(installed(QStringLiteral("bin/") + binary)), qPrintable(binary));
    }
}

void tst_Install::projectFilesOpenInTheViewer()
{
    // Build the MIME cache of the prefix as the package's trigger does, and
    // let Qt's own MIME database (the desktop's rules) recognise a project.
    const Result update =
        run(QStringLiteral("update-mime-database"), {installed(QStringLiteral("share/mime"))});
    QVERIFY2(update.ok(), qPrintable(update.describe(QStringLiteral("update-mime-database"))));
    QTemporaryDir dataHome;
    QVERIFY(dataHome.isValid());
    qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    qputenv("XDG_DATA_DIRS",
            (installed(QStringLiteral("share")) + QStringLiteral(":/usr/share")).toLocal8Bit());

    const QMimeType type = QMimeDatabase().mimeTypeForFile(
        installed(QStringLiteral("share/doc/quillark-lite-modbus/examples/demo.qlk")));
    QCOMPARE(type.name(), QStringLiteral("application/x-quillark-project"));
    QVERIFY(type.inherits(QStringLiteral("text/plain")));
    QCOMPARE(type.comment(), QStringLiteral("Quillark project"));
    QVERIFY(QFileInfo::exists(installed(
        QStringLiteral("share/icons/hicolor/scalable/mimetypes/%1.svg").arg(type.iconName()))));
    const QMimeType upper = QMimeDatabase().mimeTypeForFile(
        QStringLiteral("/nowhere/COLD ROOM.QLK"), QMimeDatabase::MatchExtension);
    QCOMPARE(upper.name(), type.name());

    // The desktop's handler cache of the prefix sends the type to the viewer
    // and to nothing else.
    if (!QK_HAS_VIEWER)
        return;
    const QString applications = installed(QStringLiteral("share/applications"));
    const Result handlers = run(QStringLiteral("update-desktop-database"), {applications});
    QVERIFY2(handlers.ok(),
             qPrintable(handlers.describe(QStringLiteral("update-desktop-database"))));
    QFile cache(applications + QStringLiteral("/mimeinfo.cache"));
    QVERIFY(cache.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString content = QString::fromUtf8(cache.readAll());
    QVERIFY2(content.contains(QStringLiteral(
                 "\napplication/x-quillark-project=org.quillark.RideZodazo.desktop;\n")),
             qPrintable(content));
}

// A copy of the installed demo project with 10 minutes of one device
// recorded at 1 s from 2026-01-01 12:00:00 UTC: channel 1 steps 20.0, 20.5
// ... 23.5 and again (mean 21.75), channel 2 stays 50.
QString tst_Install::recordedProject()
{
    const QString project = m_projectDir.filePath(QStringLiteral("demo.qlk"));
    if (QFileInfo::exists(project))
        return project;
    if (!QFile::copy(installed(QStringLiteral("share/doc/quillark-lite-modbus/examples/demo.qlk")),
                     project))
        return QString();
    QVector<TestSupport::RecordRow> rows;
    for (int i = 0; i < 600; ++i)
        rows.append(
            {QStringLiteral("e2E3ZDlhYjEzLTQ3Yz"), 20.0 + (i % 8) * 0.5, 50.0, 1767268800 + i});
    const bool written = TestSupport::appendRecordRows(
        m_projectDir.filePath(QStringLiteral("demo.dat")), rows, false);
    return written ? project : QString();
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

    const QString project = recordedProject();
    QVERIFY(!project.isEmpty());
    const QString outputPath = m_projectDir.filePath(output);
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const Result batch = run(installed(QStringLiteral("bin/") + program),
                             options << outputPath << project, isolatedEnvironment(scratch.path()));
    QVERIFY2(batch.ok(), qPrintable(batch.describe(program)));
    QFile file(outputPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    for (const QString &text : expected)
        QVERIFY2(content.contains(text),
                 qPrintable(text + QStringLiteral("\nnot in:\n") + content.right(600)));
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
        QTest::newRow("viewer from the recorder") << "RideZodazo"
                                                  << "'%1'";
        QTest::newRow("viewer from the file manager") << "RideZodazo"
                                                      << "%1";
    }
    if (QK_HAS_REPORT)
        QTest::newRow("report from the recorder") << "DavavoZurer"
                                                  << "'%1'";
}

void tst_Install::windowsStartFromThePrefix()
{
    QFETCH(QString, program);
    QFETCH(QString, argument);
    const QString project = recordedProject();
    QVERIFY(!project.isEmpty());
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString problem = runProblem(
        installed(QStringLiteral("bin/") + program),
        argument.isEmpty() ? QStringList() : QStringList{argument.arg(project)}, scratch.path());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_Install::iconsAreTheGeneratorsOutput()
{
    const Result check = run(QStringLiteral("bash"),
                             {TestSupport::sourceDir() + QStringLiteral("/packaging/make_icons.sh"),
                              QStringLiteral("--check")});
    QVERIFY2(check.ok(), qPrintable(check.describe(QStringLiteral("make_icons.sh --check"))));
}

void tst_Install::lintianFindsNoError()
{
    Result lintian;
    // It may well have ended while the other checks ran.
    lintian.finished = TestSupport::waitUntilFinished(m_lintian, 150000);
    if (!lintian.finished)
        m_lintian.kill();
    lintian.exitCode = m_lintian.exitStatus() == QProcess::NormalExit ? m_lintian.exitCode() : -1;
    lintian.out = QString::fromLocal8Bit(m_lintian.readAllStandardOutput());
    lintian.err = QString::fromLocal8Bit(m_lintian.readAllStandardError());
    QVERIFY2(lintian.finished, qPrintable(lintian.describe(QStringLiteral("lintian"))));
    qInfo().noquote() << lintian.out; // warnings and notes are shown, not failed on
    QVERIFY2(lintian.exitCode == 0 &&
                 !lintian.out.contains(QRegularExpression(QStringLiteral("^E: "),
                                                          QRegularExpression::MultilineOption)),
             qPrintable(lintian.describe(QStringLiteral("lintian"))));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
