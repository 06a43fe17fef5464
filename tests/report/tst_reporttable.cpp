// The summary table as CSV, read back by Python's csv module.

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtTest>

#include "report/dayreport.h"
#include "report/reporttable.h"
#include "reportfixture.h"
#include "testsupport.h"

using namespace ReportFixture;

class tst_ReportTable : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
        if (!QFile::exists("/usr/bin/python3"))
            QSKIP("/usr/bin/python3 is not installed");
    }

    void csvReadBackByPython()
    {
        // A device name with the characters CSV must quote.
        const QString name = "Fridge, \"north\"";
        writeProject(m_dir.path() + "/store.qlk", "store.dat", name);
        QVERIFY(writeDatabase(m_dir.path() + "/store.dat", rows()));
        DayReport report;
        QString error;
        QVERIFY(report.loadProject(m_dir.path() + "/store.qlk", &error));
        QVERIFY(report.compute(QDate(2026, 3, 10), berlin(), QDateTime::currentDateTime(), &error));
        const QString csv = m_dir.path() + "/store.csv";
        QVERIFY2(ReportTable::writeCsv(report.statistics(), csv, &error), qPrintable(error));

        const QJsonArray table = TestSupport::csvReadByPython(csv);
        QCOMPARE(table.size(), 1 + 4); // header, two devices with two channels each
        QStringList header;
        for (const QJsonValue &v : table.at(0).toArray())
            header.append(v.toString());
        QCOMPARE(header, ReportTable::header());
        const auto cell = [&](int row, const QString &column) {
            return table.at(row).toArray().at(header.indexOf(column)).toString();
        };
        QCOMPARE(cell(1, "Device"), name);
        QCOMPARE(cell(1, "Device number"), QString(kFridge));
        QCOMPARE(cell(1, "Unit"), QString::fromUtf8("\u00b0C"));
        QCOMPARE(cell(1, "Minimum"), QString("0.40"));
        QCOMPARE(cell(1, "Minimum time"), QString("2026-03-10 15:00:30"));
        QCOMPARE(cell(1, "Maximum time"), QString("2026-03-10 00:01:40"));
        QCOMPARE(cell(1, "Mean"), QString("5.02"));
        QCOMPARE(cell(1, "Samples"), QString("8400"));
        QCOMPARE(cell(1, "Expected"), QString("8640"));
        QCOMPARE(cell(1, "Completeness %"), QString("97.2"));
        QCOMPARE(cell(1, "Gaps"), QString("2"));
        QCOMPARE(cell(1, "Low limit"), QString("2.00"));
        QCOMPARE(cell(1, "High limit"), QString("8.00"));
        QCOMPARE(cell(1, "Excursions"), QString("3"));
        QCOMPARE(cell(1, "Time outside s"), QString("480"));
        QCOMPARE(cell(1, "Worst value"), QString("0.40"));
        // Alarm off: no limits and no excursions, rather than zeros.
        QCOMPARE(cell(2, "Channel"), QString("Humidity"));
        QCOMPARE(cell(2, "Low limit"), QString());
        QCOMPARE(cell(2, "Excursions"), QString());
        // Nothing recorded: empty figures, 0 samples.
        QCOMPARE(cell(3, "Device"), QString("Freezer"));
        QCOMPARE(cell(3, "Minimum"), QString());
        QCOMPARE(cell(3, "Samples"), QString("0"));
        QCOMPARE(cell(3, "Completeness %"), QString("0.0"));
    }

    void unwritableFolderIsReported()
    {
        DayStatistics statistics;
        statistics.start(QDate(2026, 3, 10), berlin(), 10000, 0);
        QString error;
        QVERIFY(!ReportTable::writeCsv(statistics, m_dir.path() + "/missing/x.csv", &error));
        QVERIFY(error.contains("missing/x.csv"));
    }
};

QTEST_GUILESS_MAIN(tst_ReportTable)
#include "tst_reporttable.moc"
