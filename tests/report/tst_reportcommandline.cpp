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

    struct Run {
        int code = -1;
        QString out;
        QString err;
    };

    Run run(const QStringList &arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TZ", "Europe/Berlin");
        environment.remove("QT_QPA_PLATFORM"); // batch mode needs no screen of its own
        process.setProcessEnvironment(environment);
        process.start(TestSupport::binaryDir() + "/DavavoZurer", arguments);
        Run result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished();
            return result;
        }
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        // Qt's own start-up notes aside, the reason is one line.
        for (const QString &line : QString::fromUtf8(process.readAllStandardError()).split('\n')) {
            if (line.startsWith("DavavoZurer: "))
                result.err += line;
        }
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
        QTest::addColumn<bool>("ok");
        QTest::addColumn<bool>("batch");
        QTest::addColumn<QString>("project");
        QTest::addColumn<QString>("date");

        QTest::newRow("nothing: ask") << QStringList() << true << false << ""
                                      << "";
        QTest::newRow("by hand") << QStringList{"/p/a.qlk"} << true << false << "/p/a.qlk"
                                 << "";
        QTest::newRow("from the recorder")
            << QStringList{"'/p/a.qlk'"} << true << false << "/p/a.qlk"
            << "";
        // A single-string command splits a quoted path at its spaces.
        QTest::newRow("quoted, split at spaces") << QStringList{"'/p/my", "cold", "store.qlk'"}
                                                 << true << false << "/p/my cold store.qlk"
                                                 << "";
        QTest::newRow("batch") << QStringList{"--date", "2026-03-10", "--pdf", "o.pdf", "p.qlk"}
                               << true << true << "p.qlk"
                               << "2026-03-10";
        QTest::newRow("csv only") << QStringList{"--csv", "o.csv", "p.qlk"} << true << true
                                  << "p.qlk"
                                  << "";
        QTest::newRow("bad date") << QStringList{"--date", "2026-02-30", "--pdf", "o.pdf", "p.qlk"}
                                  << false << true << ""
                                  << "";
        QTest::newRow("no value") << QStringList{"p.qlk", "--pdf"} << false << false << ""
                                  << "";
        QTest::newRow("unknown option")
            << QStringList{"--pfd", "o.pdf", "p.qlk"} << false << false << ""
            << "";
        QTest::newRow("no project") << QStringList{"--pdf", "o.pdf"} << false << true << ""
                                    << "";
        QTest::newRow("two projects") << QStringList{"a.qlk", "b.qlk"} << false << false << ""
                                      << "";
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, ok);
        ReportCommandLine commandLine;
        QString error;
        QCOMPARE(commandLine.parse(arguments, &error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (!ok)
            return;
        QTEST(commandLine.batch(), "batch");
        QTEST(commandLine.projectPath(), "project");
        QTEST(commandLine.date().toString(Qt::ISODate), "date");
    }

    void batchExitCodes()
    {
        const QString out = m_dir.path() + "/out";
        QDir().mkpath(out);

        Run help = run({"--help"});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains("--pdf") && help.out.contains("--csv") &&
                help.out.contains("--date"));

        Run done = run({"--date", "2026-03-10", "--pdf", out + "/day.pdf", "--csv",
                        out + "/day.csv", m_project});
        QCOMPARE(done.code, 0);
        QVERIFY(done.err.isEmpty());
        QVERIFY(QFileInfo(out + "/day.pdf").size() > 1000);
        QVERIFY(QFile(out + "/day.pdf").open(QIODevice::ReadOnly));
        QFile csv(out + "/day.csv");
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QVERIFY(csv.readAll().contains("Fridge,QKTEST000000000001,Temperature"));

        // Without --date: the day recording stopped (2026-03-10 in the project file).
        QCOMPARE(run({"--csv", out + "/default.csv", m_project}).code, 0);
        QFile defaultCsv(out + "/default.csv");
        QVERIFY(defaultCsv.open(QIODevice::ReadOnly));
        QVERIFY(defaultCsv.readAll().contains("2026-03-10 15:00:30"));

        Run usage = run({"--date", "yesterday", "--pdf", out + "/x.pdf", m_project});
        QCOMPARE(usage.code, int(ReportCommandLine::UsageError));
        QVERIFY(usage.err.contains("YYYY-MM-DD"));

        Run project = run({"--pdf", out + "/x.pdf", m_dir.path() + "/none.qlk"});
        QCOMPARE(project.code, int(ReportCommandLine::ProjectError));
        QVERIFY(project.err.contains("none.qlk"));

        writeProject(m_dir.path() + "/nodata.qlk", "nodata.dat");
        Run data = run({"--pdf", out + "/x.pdf", m_dir.path() + "/nodata.qlk"});
        QCOMPARE(data.code, int(ReportCommandLine::DataError));
        QCOMPARE(data.err, QString("DavavoZurer: There is no data file."));

        Run write = run({"--date", "2026-03-10", "--pdf", out + "/missing/x.pdf", m_project});
        QCOMPARE(write.code, int(ReportCommandLine::WriteError));
        QVERIFY(write.err.contains("missing/x.pdf"));
        QVERIFY(!QFile::exists(out + "/x.pdf"));
    }
};

QTEST_GUILESS_MAIN(tst_ReportCommandLine)
#include "tst_reportcommandline.moc"
