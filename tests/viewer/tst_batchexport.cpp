#include "viewer/batchexport.h"

#include "projectfixture.h"
#include "recordfixture.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

using namespace TestSupport;

namespace
{

ProgramRun runViewer(const QStringList &arguments, const QString &shellPrefix = QString())
{
    const QString program = TestSupport::binaryDir() + QStringLiteral("/RideZodazo");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Where summer time begins and ends, as the cases below need.
    env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
    if (shellPrefix.isEmpty())
        return runProgram(program, arguments, env);
    QStringList quoted;
    for (const QString &a : arguments)
        quoted << QLatin1Char('\'') + a + QLatin1Char('\'');
    return runProgram(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"), shellPrefix + QStringLiteral("; exec '") + program +
                                                 QStringLiteral("' ") +
                                                 quoted.join(QLatin1Char(' '))},
                      env);
}

} // namespace

class tst_BatchExport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_project;

private slots:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin"); // as the program is run below
        tzset();
        QVERIFY(QFileInfo::exists(TestSupport::binaryDir() + QStringLiteral("/RideZodazo")));
        // 16 rooms, one poll a second for 5000 s from 2026-01-01 00:00 UTC;
        // beside them a project that lists only 15, two without the file.
        m_project = m_dir.filePath(QStringLiteral("plant.qlk"));
        QVector<ProjectDocument::Node> devices;
        QStringList serials;
        for (int d = 0; d < 16; ++d) {
            serials << QStringLiteral("QKDEV%1").arg(d, 13, 10, QLatin1Char('0'));
            devices << projectDevice(serials.last(), QStringLiteral("Room %1").arg(d + 1));
        }
        QVERIFY(writeDeviceProject(m_project, 1000, devices));
        QVERIFY(appendRecordRows(databaseOf(m_project),
                                 polls(serials, 1767225600, 5000, 1, [](int d, int c, qint64 t) {
                                     return double(d * 10 + c) + double(t % 100) / 4;
                                 })));
        QVERIFY(writeDeviceProject(m_dir.filePath(QStringLiteral("partly.qlk")), 1000,
                                   devices.mid(0, 15)));
        QVERIFY(QFile::copy(databaseOf(m_project), m_dir.filePath(QStringLiteral("partly.dat"))));
        QVERIFY(writeDeviceProject(m_dir.filePath(QStringLiteral("nodb.qlk")), 1000,
                                   devices.mid(0, 1)));
        QVERIFY(writeDeviceProject(m_dir.filePath(QStringLiteral("other.qlk")), 1000,
                                   devices.mid(0, 1)));
        TestSupport::sqlRows(m_dir.filePath(QStringLiteral("other.dat")), "create table notes (x)");
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option")
            << QStringList{"--csv", "@OUT@", "--bogus", "@PROJECT@"} << 1 << "--bogus";
        QTest::newRow("bad from") << QStringList{"--csv", "@OUT@", "--from", "yesterday",
                                                 "@PROJECT@"}
                                  << 1 << "--from";
        QTest::newRow("to before from") << QStringList{"--csv",    "@OUT@",
                                                       "--from",   "2026-01-02 00:00:00",
                                                       "--to",     "2026-01-01 00:00:00",
                                                       "@PROJECT@"}
                                        << 1 << "before";
        QTest::newRow("no project") << QStringList{"--csv", "@OUT@"} << 1 << "project";
        QTest::newRow("missing project")
            << QStringList{"--csv", "@OUT@", "@DIR@/none.qlk"} << 2 << "not exist.\n";
        QTest::newRow("time the clocks skipped")
            << QStringList{"--csv", "@OUT@", "--from", "2026-03-29 02:30:00", "@PROJECT@"} << 1
            << "summer time began";
        QTest::newRow("bad separator")
            << QStringList{"--csv", "@OUT@", "--separator", "|", "@PROJECT@"} << 1 << "tab";
        QTest::newRow("decimal comma with comma")
            << QStringList{"--csv", "@OUT@", "--separator", ",", "--decimal-comma", "@PROJECT@"}
            << 1 << "separator";
        QTest::newRow("unknown device")
            << QStringList{"--csv", "@OUT@", "--device", "NOPE", "@PROJECT@"} << 2 << "NOPE";
        QTest::newRow("no database")
            << QStringList{"--csv", "@OUT@", "@DIR@/nodb.qlk"} << 3 << "nodb.dat";
        QTest::newRow("other database")
            << QStringList{"--csv", "@OUT@", "@DIR@/other.qlk"} << 3 << "fennolink";
        QTest::newRow("folder missing")
            << QStringList{"--csv", "@DIR@/no/x.csv", "@PROJECT@"} << 4 << "no";
    }
    void exitCodes()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, code);
        QFETCH(QString, message);
        const QString out = m_dir.filePath(QStringLiteral("fail.csv"));
        for (QString &a : arguments)
            a.replace(QStringLiteral("@OUT@"), out)
                .replace(QStringLiteral("@PROJECT@"), m_project)
                .replace(QStringLiteral("@DIR@"), m_dir.path());
        const ProgramRun result = runViewer(arguments);
        QCOMPARE(result.code, code);
        QCOMPARE(result.err.count(QLatin1Char('\n')), 1); // one line
        QVERIFY2(result.err.contains(message), qPrintable(result.err));
        QVERIFY(!QFileInfo::exists(out));
    }

    // A bounded export of two devices, the project path in the recorder's quotes.
    void writesTheRangeAsked()
    {
        const QString out = m_dir.filePath(QStringLiteral("two.csv"));
        const QDateTime from = QDateTime::fromSecsSinceEpoch(1767225600 + 100);
        const QDateTime to = QDateTime::fromSecsSinceEpoch(1767225600 + 199);
        const ProgramRun result =
            runViewer({"--csv", out, "--from", from.toString("yyyy-MM-dd hh:mm:ss"), "--to",
                       to.toString("yyyy-MM-dd hh:mm:ss"), "--device", "QKDEV0000000000003",
                       "--device", "QKDEV0000000000000", "'" + m_project + "'"});
        QCOMPARE(result.code, 0);
        QVERIFY2(result.err.isEmpty(), qPrintable(result.err));
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 1 + 100 + 1); // header, 100 seconds, nothing after the last CRLF
        QCOMPARE(lines.at(0),
                 QByteArray("Local time,ISO 8601,Unix time,Room 1 / Temperature (\xc2\xb0"
                            "C),Room 1 / Humidity (%RH),"
                            "Room 4 / Temperature (\xc2\xb0"
                            "C),Room 4 / Humidity (%RH)\r"));
        QVERIFY(lines.at(1).contains(",1767225700,1.00,2.00,31.00,32.00\r"));
    }

    // Spreadsheet options, summer time ending, devices the project no
    // longer lists and a record file on its own, read back by Python.
    void spreadsheetOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        // The delimiter, the note on stderr, the last column's header and
        // its value on the first line.
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("German spreadsheet")
            << QStringList{"--decimal-comma",
                           "--bom",
                           "--from",
                           "2026-01-01 01:01:40",
                           "--to",
                           "2026-01-01 01:01:49",
                           "@PROJECT@"}
            << QStringList{";", "", "Room 16 / Humidity (%RH)", "152,00"};
        QTest::newRow("tab, full precision")
            << QStringList{"--separator",        "tab",      "--full-precision", "--device",
                           "QKDEV0000000000000", "@PROJECT@"}
            << QStringList{"\t", "", "Room 1 / Humidity (%RH)", "2"};
        QTest::newRow("clock shown twice")
            << QStringList{"--from", "2026-10-25 02:30:00", "--to", "2026-10-25 02:30:00",
                           "@PROJECT@"}
            << QStringList{",", "earlier one, 2026-10-25T02:30:00+02:00",
                           "Room 16 / Humidity (%RH)", ""};
        QTest::newRow("device not in the project")
            << QStringList{"--device", "QKDEV0000000000015", "@PARTLY@"}
            << QStringList{",", "exported under their number: QKDEV0000000000015",
                           "QKDEV0000000000015 / CH2", "152.00"};
        QTest::newRow("record file alone")
            << QStringList{"--device", "QKDEV0000000000002", "@DATABASE@"}
            << QStringList{",", "", "QKDEV0000000000002 / CH2", "22.00"};
    }
    void spreadsheetOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        const QString delimiter = expected.at(0), note = expected.at(1), header = expected.at(2),
                      value = expected.at(3);
        const QString out = m_dir.filePath(QStringLiteral("options.csv"));
        QFile::remove(out);
        for (QString &a : arguments)
            a.replace(QStringLiteral("@PROJECT@"), m_project)
                .replace(QStringLiteral("@PARTLY@"), m_dir.filePath(QStringLiteral("partly.qlk")))
                .replace(QStringLiteral("@DATABASE@"), databaseOf(m_project));
        const ProgramRun result = runViewer(QStringList{"--csv", out} + arguments);
        QCOMPARE(result.code, 0);
        QVERIFY2(note.isEmpty() ? result.err.isEmpty() : result.err.contains(note),
                 qPrintable(result.err));
        const QJsonArray table = TestSupport::csvReadByPython(out, delimiter.at(0));
        QVERIFY(table.size() >= 1);
        QCOMPARE(table.at(0).toArray().last().toString(), header);
        QCOMPARE(table.size() > 1 ? table.at(1).toArray().last().toString() : QString(), value);
    }

    // The window started on a record file with the benchmark hook: the
    // chart is painted, wheel steps redraw it, and the program ends by itself.
    void windowWithBenchmarkHook()
    {
        QTemporaryDir dir;
        const QString probe = dir.filePath(QStringLiteral("probe"));
        const ProgramRun result = runViewer(
            {databaseOf(m_project)}, QStringLiteral("export QUILLARK_BENCH_PROBE='%1' "
                                                    "QUILLARK_BENCH_WHEEL=2 "
                                                    "QUILLARK_BENCH_WAIT_SUMMARY=1 "
                                                    "QUILLARK_BENCH_EXIT=1 XDG_CACHE_HOME='%2'")
                                         .arg(probe, dir.path()));
        QCOMPARE(result.code, 0);
        QFile file(probe);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList marks;
        for (const QByteArray &line : file.readAll().split('\n'))
            marks << QString::fromLatin1(line.split(' ').value(0));
        for (const char *mark : {"chart", "summary", "wheel", "wheel-painted", "vmhwm"})
            QVERIFY2(marks.contains(QLatin1String(mark)), mark);
        QCOMPARE(marks.count(QStringLiteral("wheel-painted")), 2);
    }

    // The disk fills during the export: an error, and no file left.
    void fullDiskLeavesNothing()
    {
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("full.csv"));
        const ProgramRun result =
            runViewer({"--csv", out, m_project}, QStringLiteral("ulimit -f 64"));
        QCOMPARE(result.code, int(BatchExport::WriteError));
        QVERIFY2(result.err.contains(QStringLiteral("largest size allowed); nothing was kept")),
                 qPrintable(result.err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_BatchExport)
#include "tst_batchexport.moc"
