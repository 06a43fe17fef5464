// The command line of DavavoZurer: the arguments, and the real program in
// batch mode with its exit codes.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "report/reportcommandline.h"
#include "reportfixture.h"
#include "testsupport.h"

using namespace ReportFixture;

class tst_ReportCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_project;

    // The run of the real program; of its stderr only its own lines.
    static TestSupport::ProgramRun run(const QStringList &arguments)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TZ", "Europe/Berlin");
        environment.remove("QT_QPA_PLATFORM"); // batch mode needs no screen of its own
        TestSupport::ProgramRun result = TestSupport::runProgram(
            TestSupport::binaryDir() + "/DavavoZurer", arguments, environment);
        // Qt's own start-up notes aside, the reason is one line.
        const QStringList lines = result.err.split('\n');
        result.err = lines.filter(QRegularExpression("^DavavoZurer: ")).join(QString());
        return result;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
        QDir().mkpath(m_dir.path() + "/with space");
        m_project = writeRecording(m_dir.path() + "/with space", "coldstore");
    }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("parsed"); // batch|project|date, or empty when refused
        QTest::newRow("nothing: ask") << QStringList() << "0||";
        QTest::newRow("by hand") << QStringList{"/p/a.qlk"} << "0|/p/a.qlk|";
        QTest::newRow("from the recorder") << QStringList{"'/p/a.qlk'"} << "0|/p/a.qlk|";
        // A single-string command splits a quoted path at its spaces.
        QTest::newRow("quoted, split at spaces")
            << QStringList{"'/p/my", "cold", "store.qlk'"} << "0|/p/my cold store.qlk|";
        QTest::newRow("week window") << QStringList{"--kind", "weekly", "p.qlk"} << "0|p.qlk|";
        QTest::newRow("unknown kind") << QStringList{"--kind", "yearly", "p.qlk"} << "";
        QTest::newRow("batch") << QStringList{"--date", "2026-03-10", "--pdf", "o.pdf", "p.qlk"}
                               << "1|p.qlk|2026-03-10";
        QTest::newRow("csv only") << QStringList{"--csv", "o.csv", "p.qlk"} << "1|p.qlk|";
        QTest::newRow("bad date") << QStringList{"--date", "2026-02-30", "--pdf", "o.pdf", "p.qlk"}
                                  << "";
        QTest::newRow("no value") << QStringList{"p.qlk", "--pdf"} << "";
        QTest::newRow("unknown option") << QStringList{"--pfd", "o.pdf", "p.qlk"} << "";
        QTest::newRow("no project") << QStringList{"--pdf", "o.pdf"} << "";
        QTest::newRow("two projects") << QStringList{"a.qlk", "b.qlk"} << "";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, parsed);
        ReportCommandLine commandLine;
        QString error;
        const bool ok = commandLine.parse(arguments, &error);
        QCOMPARE(error.isEmpty(), ok);
        const QStringList got{QString::number(commandLine.batch()), commandLine.projectPath(),
                              commandLine.date().toString(Qt::ISODate)};
        QCOMPARE(ok ? got.join('|') : QString(), parsed);
    }

    // Each run's exit code and the files it leaves: %P the project, %D its
    // database, %O a folder for the outputs.
    void batch_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("files"); // left in %O afterwards
        QTest::addColumn<QString>("error");

        QTest::newRow("day") << QStringList{"--date", "2026-03-10", "--pdf", "%O/d.pdf",
                                            "--csv",  "%O/d.csv",   "%P"}
                             << 0 << QStringList{"d-excursions.csv", "d.csv", "d.pdf"} << "";
        QTest::newRow("week") << QStringList{"--week",   "2026-W13", "--every-row", "--pdf",
                                             "%O/w.pdf", "--csv",    "%O/w.csv",    "%P"}
                              << 0
                              << QStringList{"w-days.csv", "w-excursions.csv", "w.csv", "w.pdf"}
                              << "";
        QTest::newRow("month") << QStringList{"--month",  "2026-03", "--mkt-energy", "60", "--pdf",
                                              "%O/m.pdf", "%P"}
                               << 0 << QStringList{"m.pdf"} << "";
        QTest::newRow("haccp") << QStringList{"--haccp",    "--from", "2026-03-09", "--to",
                                              "2026-03-11", "--pdf",  "%O/h.pdf",   "%P"}
                               << 0 << QStringList{"h.pdf"} << "";
        QTest::newRow("no data: written, own code")
            << QStringList{"--date", "2026-03-28", "--csv", "%O/e.csv", "%P"} << 5
            << QStringList{"e-excursions.csv", "e.csv"} << "No data";
        QTest::newRow("haccp without its days") << QStringList{"--haccp", "--pdf", "%O/h.pdf", "%P"}
                                                << 1 << QStringList{} << "--from and --to";
        QTest::newRow("bad week") << QStringList{"--week", "2026-49", "--pdf", "%O/x.pdf", "%P"}
                                  << 1 << QStringList{} << "YYYY-Www";
        QTest::newRow("bad energy") << QStringList{"--mkt-energy", "-3", "--pdf", "%O/x.pdf", "%P"}
                                    << 1 << QStringList{} << "kJ/mol";
        QTest::newRow("no project")
            << QStringList{"--pdf", "%O/x.pdf", "%O/none.qlk"} << 2 << QStringList{} << "none.qlk";
        QTest::newRow("no database") << QStringList{"--pdf", "%O/x.pdf", "%O/nodata.qlk"} << 3
                                     << QStringList{} << "There is no data file.";
        QTest::newRow("onto the database") << QStringList{"--pdf", "%D", "%P"} << 4 << QStringList{}
                                           << "file of the project itself";
        QTest::newRow("onto the project") << QStringList{"--csv", "%P", "%P"} << 4 << QStringList{}
                                          << "file of the project itself";
        QTest::newRow("onto a device") << QStringList{"--csv", "/dev/null", "%P"} << 4
                                       << QStringList{} << "not a regular file";
        QTest::newRow("onto a folder")
            << QStringList{"--pdf", "%O", "%P"} << 4 << QStringList{} << "not a regular file";
        QTest::newRow("one fails, none written")
            << QStringList{"--pdf", "%O/ok.pdf", "--csv", "%O/missing/x.csv", "%P"} << 4
            << QStringList{} << "missing/x.csv";
    }

    void batch()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, files);
        QFETCH(QString, error);
        QTemporaryDir out;
        QVERIFY(writeProject(out.path() + "/nodata.qlk"));
        const QString database = m_dir.path() + "/with space/coldstore.dat";
        const QString project = m_project;
        const QByteArray before =
            TestSupport::fileDigest(database) + TestSupport::fileDigest(project);
        for (QString &argument : arguments)
            argument.replace("%P", project).replace("%D", database).replace("%O", out.path());
        const auto result = run(arguments);
        QTEST(result.code, "code");
        QVERIFY2(result.err.contains(error), qPrintable(result.err));
        QStringList left = QDir(out.path()).entryList(QDir::Files | QDir::Hidden);
        left.removeAll("nodata.qlk");
        QCOMPARE(left, files);
        QCOMPARE(TestSupport::fileDigest(database) + TestSupport::fileDigest(project), before);
    }

    // A pipe and "-" are streams: written to, never replaced.
    void streams()
    {
        QTemporaryDir out;
        const QString fifo = out.path() + "/pipe";
        QCOMPARE(QProcess::execute("mkfifo", {fifo}), 0);
        QProcess reader;
        reader.start("cat", {fifo});
        QVERIFY(reader.waitForStarted());
        const TestSupport::ProgramRun piped =
            run({"--date", "2026-03-10", "--csv", fifo, m_project});
        QCOMPARE(piped.code, 0);
        QVERIFY(reader.state() == QProcess::NotRunning || reader.waitForFinished(30000));
        QVERIFY(reader.readAllStandardOutput().startsWith("Device,Device number"));
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());

        const TestSupport::ProgramRun standard =
            run({"--date", "2026-03-10", "--csv", "-", m_project});
        QCOMPARE(standard.code, 0);
        QVERIFY(standard.out.contains("Fridge,QKTEST000000000001,Temperature"));
    }

    // What an auditor reads: the CSV through Python's csv module, the PDF
    // through pdftotext.
    void contents()
    {
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QTemporaryDir out;
        const QString name = "=2+3 cold room with a very long name"; // 36 characters
        QVERIFY(writeProject(out.path() + "/c.qlk", name));
        QVERIFY(TestSupport::appendRecordRows(out.path() + "/c.dat", rows(), false));
        const QString project = out.path() + "/c.qlk";

        QCOMPARE(run({"--date", "2026-03-11", "--pdf", out.path() + "/d.pdf", "--csv",
                      out.path() + "/d.csv", project})
                     .code,
                 0);
        const QJsonArray summary = TestSupport::csvReadByPython(out.path() + "/d.csv");
        QCOMPARE(summary.size(), 5);
        QCOMPARE(summary.at(1).toArray().at(0).toString(), "'" + name); // no formula
        QCOMPARE(summary.at(1).toArray().at(6).toString(), QString("2026-03-11T00:00:00+01:00"));
        QCOMPARE(summary.at(3).toArray().at(4).toString(), QString("no data")); // the freezer
        const QJsonArray excursions =
            TestSupport::csvReadByPython(out.path() + "/d-excursions.csv");
        QCOMPARE(excursions.size(), 2);
        QCOMPARE(excursions.at(1).toArray().at(8).toString(), QString("open, data missing"));
        const QString day = TestSupport::pdfPages(out.path() + "/d.pdf").join('\n');
        QVERIFY(day.contains("How the figures are counted"));
        QVERIFY(day.contains("open, data missing"));
        QVERIFY(day.contains(name.mid(1))); // whole in its cell: the figures leave it room

        QCOMPARE(run({"--month", "2026-03", "--pdf", out.path() + "/m.pdf", project}).code, 0);
        const QString month = TestSupport::pdfPages(out.path() + "/m.pdf").join('\n');
        QVERIFY(month.contains("Monthly Report"));
        QVERIFY(month.contains("= 83.144 kJ/mol"));
        QVERIFY(month.contains("Sun 2026-03-29"));

        QCOMPARE(run({"--haccp", "--from", "2026-03-10", "--to", "2026-03-10", "--pdf",
                      out.path() + "/h.pdf", project})
                     .code,
                 0);
        const QString haccp = TestSupport::pdfPages(out.path() + "/h.pdf").join('\n');
        for (const char *text : {"HACCP Report", "Findings: 6", "FINDING: no corrective action",
                                 "FINDING: not monitored from 09:59:50 to 10:10:00",
                                 "Journal verification: no journal", "Responsible person"})
            QVERIFY2(haccp.contains(text), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(tst_ReportCommandLine)
#include "tst_reportcommandline.moc"
