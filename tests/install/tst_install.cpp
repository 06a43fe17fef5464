#include "installcheck.h"
#include "recordfixture.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QMimeDatabase>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

// `cmake --install` of this build tree into a temporary DESTDIR: the layout,
// the desktop integration files checked by their own validators, and the
// installed recorder started from there.
class tst_Install : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layout_data();
    void layout();
    void onlyProgramsAndData();
    void programsNeedNothingFromTheBuildTree();
    void desktopEntries_data();
    void desktopEntries();
    void appstreamMetadata();
    void projectFilesOpenInTheViewer();
    void recorderStartsFromThePrefix();
    void siblingsWorkFromThePrefix_data();
    void siblingsWorkFromThePrefix();
    void siblingWindowsStartOnAProject_data();
    void siblingWindowsStartOnAProject();
    void iconsAreTheGeneratorsOutput();

private:
    QString recordedProject();

    QString installed(const QString &relative) const
    {
        return m_prefix + QLatin1Char('/') + relative;
    }
    static QByteArray gunzip(const QString &path);

    QTemporaryDir m_destDir;
    QString m_prefix;
    QTemporaryDir m_projectDir;
};

QByteArray tst_Install::gunzip(const QString &path)
{
    QProcess gzip;
    gzip.start(QStringLiteral("gzip"), {QStringLiteral("-dc"), path});
    if (!gzip.waitForFinished(20000) || gzip.exitCode() != 0)
        return QByteArray();
    return gzip.readAllStandardOutput();
}

void tst_Install::initTestCase()
{
    QVERIFY(m_destDir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), m_destDir.path());
    const InstallCheck::Result install =
        InstallCheck::run(QStringLiteral(QK_CMAKE_COMMAND),
                          {QStringLiteral("--install"), TestSupport::binaryDir(),
                           QStringLiteral("--prefix"), QStringLiteral("/usr")},
                          env);
    QVERIFY2(install.ok(), qPrintable(install.describe(QStringLiteral("cmake --install"))));
    m_prefix = m_destDir.path() + QStringLiteral("/usr");
}

void tst_Install::layout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("gzipped");
    for (const InstallCheck::ExpectedFile &file :
         InstallCheck::expectedFiles(QK_HAS_VIEWER, QK_HAS_REPORT))
        QTest::newRow(qPrintable(file.path))
            << file.path << file.source << file.executable << file.gzipped;
}

void tst_Install::layout()
{
    QFETCH(QString, path);
    QFETCH(QString, source);
    QFETCH(bool, executable);
    QFETCH(bool, gzipped);

    const QFileInfo info(installed(path));
    QVERIFY2(info.isFile(), "not installed");
    QCOMPARE(info.isExecutable(), executable);
    QVERIFY(info.permissions().testFlag(QFileDevice::ReadOther));
    if (source.isEmpty())
        return;
    QFile original(TestSupport::sourceDir() + QLatin1Char('/') + source);
    QVERIFY(original.open(QIODevice::ReadOnly));
    QByteArray content;
    if (gzipped) {
        content = gunzip(info.filePath());
        QVERIFY2(!content.isEmpty(), "not a gzip file");
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
    // programs or CMake files (bin/ holds ELF programs: readelf below).
    QStringList files;
    QDirIterator it(m_destDir.path(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(m_prefix).relativeFilePath(it.next());
    QVERIFY(!files.isEmpty());
    for (const QString &file : qAsConst(files)) {
        QVERIFY2(file.startsWith(QLatin1String("bin/")) || file.startsWith(QLatin1String("share/")),
                 qPrintable(file));
        QVERIFY2(!file.contains(QLatin1String("tst_")) && !file.endsWith(QLatin1String(".a")) &&
                     !file.endsWith(QLatin1String(".h")) && !file.endsWith(QLatin1String(".cmake")),
                 qPrintable(file));
    }
}

void tst_Install::programsNeedNothingFromTheBuildTree()
{
    const QStringList programs = QDir(installed(QStringLiteral("bin"))).entryList(QDir::Files);
    QVERIFY(programs.contains(QStringLiteral("quillark-lite-modbus")));
    for (const QString &program : programs) {
        const QString path = installed(QStringLiteral("bin/") + program);
        const InstallCheck::Result dynamic =
            InstallCheck::run(QStringLiteral("readelf"), {QStringLiteral("-d"), path});
        QVERIFY2(dynamic.ok(), qPrintable(dynamic.describe(program)));
        QVERIFY2(!dynamic.out.contains(QLatin1String("RPATH")) &&
                     !dynamic.out.contains(QLatin1String("RUNPATH")),
                 qPrintable(program + QStringLiteral(" carries a library search path:\n") +
                            dynamic.out));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LD_LIBRARY_PATH"));
        const InstallCheck::Result libraries =
            InstallCheck::run(QStringLiteral("ldd"), {path}, env);
        QVERIFY2(libraries.ok() && !libraries.out.contains(QLatin1String("not found")),
                 qPrintable(libraries.describe(program)));
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
    const InstallCheck::Result validate =
        InstallCheck::run(QStringLiteral("desktop-file-validate"), {path});
    QVERIFY2(validate.ok() && validate.out.trimmed().isEmpty() && validate.err.trimmed().isEmpty(),
             qPrintable(validate.describe(QStringLiteral("desktop-file-validate"))));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    QHash<QString, QString> entry;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        else if (inMainGroup && line.contains(QLatin1Char('=')))
            entry.insert(line.section(QLatin1Char('='), 0, 0), line.section(QLatin1Char('='), 1));
    }

    // The menu starts the installed program by name (bin/ is on PATH).
    const QStringList exec =
        entry.value(QStringLiteral("Exec")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVERIFY(!exec.isEmpty());
    QCOMPARE(exec.first(), program);
    QVERIFY(QFileInfo(installed(QStringLiteral("bin/") + program)).isExecutable());

    // Its icon is the theme's (installed as its source: see layout).
    QCOMPARE(entry.value(QStringLiteral("Icon")), id);

    // Only the viewer takes project files, and it is handed the file.
    const QStringList types =
        entry.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    QCOMPARE(types.contains(QStringLiteral("application/x-quillark-project")), opensProjects);
    if (opensProjects)
        QVERIFY(exec.contains(QStringLiteral("%f")) || exec.contains(QStringLiteral("%F")));
}

void tst_Install::appstreamMetadata()
{
    const QString path =
        installed(QStringLiteral("share/metainfo/org.quillark.LiteModbus.metainfo.xml"));
    const InstallCheck::Result validate =
        InstallCheck::run(QStringLiteral("appstreamcli"),
                          {QStringLiteral("validate"), QStringLiteral("--no-net"), path});
    QVERIFY2(validate.ok(), qPrintable(validate.describe(QStringLiteral("appstreamcli validate"))));

    // The component names the installed desktop entry and programs.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    QString id, launchable;
    QStringList binaries;
    while (xml.readNext() != QXmlStreamReader::Invalid && !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("id"))
            id = xml.readElementText();
        else if (xml.name() == QLatin1String("launchable"))
            launchable = xml.readElementText();
        else if (xml.name() == QLatin1String("binary"))
            binaries << xml.readElementText();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(launchable, id + QStringLiteral(".desktop"));
    QVERIFY(QFileInfo::exists(installed(QStringLiteral("share/applications/") + launchable)));
    QVERIFY(binaries.contains(QStringLiteral("quillark-lite-modbus")));
    for (const QString &binary : qAsConst(binaries)) {
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
    const InstallCheck::Result update = InstallCheck::run(
        QStringLiteral("update-mime-database"), {installed(QStringLiteral("share/mime"))});
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
    const InstallCheck::Result handlers =
        InstallCheck::run(QStringLiteral("update-desktop-database"), {applications});
    QVERIFY2(handlers.ok(),
             qPrintable(handlers.describe(QStringLiteral("update-desktop-database"))));
    QFile cache(applications + QStringLiteral("/mimeinfo.cache"));
    QVERIFY(cache.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString content = QString::fromUtf8(cache.readAll());
    QVERIFY2(content.contains(QStringLiteral(
                 "\napplication/x-quillark-project=org.quillark.RideZodazo.desktop;\n")),
             qPrintable(content));
}

void tst_Install::recorderStartsFromThePrefix()
{
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString problem = InstallCheck::recorderRunProblem(
        installed(QStringLiteral("bin/quillark-lite-modbus")), scratch.path());
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
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
    const InstallCheck::Result batch = InstallCheck::run(
        installed(QStringLiteral("bin/") + program), options << outputPath << project,
        InstallCheck::isolatedEnvironment(scratch.path()));
    QVERIFY2(batch.ok(), qPrintable(batch.describe(program)));
    QFile file(outputPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString content = QString::fromUtf8(file.readAll());
    for (const QString &text : expected)
        QVERIFY2(content.contains(text),
                 qPrintable(text + QStringLiteral("\nnot in:\n") + content.right(600)));
}

void tst_Install::siblingWindowsStartOnAProject_data()
{
    // The recorder finds them beside itself and hands over the project path
    // in single quotes, as one argument; the file manager hands the viewer
    // the plain path.
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("quoted");
    if (QK_HAS_VIEWER) {
        QTest::newRow("viewer from the recorder") << "RideZodazo" << true;
        QTest::newRow("viewer from the file manager") << "RideZodazo" << false;
    }
    if (QK_HAS_REPORT)
        QTest::newRow("report from the recorder") << "DavavoZurer" << true;
}

void tst_Install::siblingWindowsStartOnAProject()
{
    QFETCH(QString, program);
    QFETCH(bool, quoted);
    const QString recorderDir =
        QFileInfo(installed(QStringLiteral("bin/quillark-lite-modbus"))).path();
    QVERIFY(QFileInfo(recorderDir + QLatin1Char('/') + program).isExecutable());
    const QString project = recordedProject();
    QVERIFY(!project.isEmpty());
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString argument = quoted ? QLatin1Char('\'') + project + QLatin1Char('\'') : project;
    const QString problem = InstallCheck::runProblem(recorderDir + QLatin1Char('/') + program,
                                                     {argument}, scratch.path(), 3000);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void tst_Install::iconsAreTheGeneratorsOutput()
{
    const InstallCheck::Result check =
        InstallCheck::run(QStringLiteral("bash"),
                          {TestSupport::sourceDir() + QStringLiteral("/packaging/make_icons.sh"),
                           QStringLiteral("--check")});
    QVERIFY2(check.ok(), qPrintable(check.describe(QStringLiteral("make_icons.sh --check"))));
}

QTEST_GUILESS_MAIN(tst_Install)
#include "tst_install.moc"
