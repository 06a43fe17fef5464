// The figures of a daily report, read from a real record database with known
// values and checked against figures worked out by hand.

#include <QTemporaryDir>
#include <QtTest>

#include "record/recordreader.h"
#include "report/dayreport.h"
#include "report/recordordercache.h"
#include "reportfixture.h"
#include "testsupport.h"

using namespace ReportFixture;

namespace
{

const QDateTime kLater(QDate(2027, 1, 1), QTime(12, 0), Qt::UTC);

QString hms(const DayStatistics &statistics, qint64 t)
{
    return statistics.timeText(t);
}

} // namespace

class tst_DayReport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_project;

    DayReport compute(const QDate &day, const QDateTime &now = kLater)
    {
        DayReport report;
        QString error;
        if (!report.loadProject(m_project, &error) || !report.compute(day, berlin(), now, &error))
            qWarning() << error;
        return report;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
        m_project = writeRecording(m_dir.path());
    }

    void channelFigures_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("channel");
        QTest::addColumn<qint64>("samples");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<QString>("completeness");
        QTest::addColumn<QString>("minimum"); // "value at time"
        QTest::addColumn<QString>("maximum");
        QTest::addColumn<QString>("mean");
        QTest::addColumn<int>("gaps");
        QTest::addColumn<int>("excursions");
        QTest::addColumn<qint64>("secondsOutside");

        const QDate day(2026, 3, 10);
        // 8640 slots less 60 (gap at 10:00) and 180 (stop at 12:00 with its NULL row);
        // sum 29*9 + 9.5 + 5*1 + 0.4 + 12*8.5 + 8352*5 = 42137.9, / 8400 = 5.0164.
        QTest::newRow("fridge temperature")
            << day << 0 << 0 << qint64(8400) << qint64(8640) << "97.2"
            << "0.40 at 15:00:30"
            << "9.50 at 00:01:40"
            << "5.02" << 2 << 3 << qint64(300 + 60 + 120);
        // Alarm off: the spike to 95 is no excursion.
        QTest::newRow("fridge humidity, alarm off")
            << day << 0 << 1 << qint64(8400) << qint64(8640) << "97.2"
            << "50.00 at 00:00:00"
            << "95.00 at 13:00:00"
            << "50.01" << 2 << 0 << qint64(0);
        QTest::newRow("freezer, nothing recorded")
            << day << 1 << 0 << qint64(0) << qint64(8640) << "0.0"
            << ""
            << ""
            << "" << 1 << 0 << qint64(0);
        // Ten minutes after midnight, still outside from the day before.
        QTest::newRow("next day, partly recorded")
            << day.addDays(1) << 0 << 0 << qint64(60) << qint64(8640) << "0.7"
            << "8.50 at 00:00:00"
            << "8.50 at 00:00:00"
            << "8.50" << 1 << 1 << qint64(600);
        QTest::newRow("spring forward, 23 hours")
            << QDate(2026, 3, 29) << 0 << 0 << qint64(8280) << qint64(8280) << "100.0"
            << "4.00 at 00:00:00 CET"
            << "4.00 at 00:00:00 CET"
            << "4.00" << 0 << 0 << qint64(0);
        QTest::newRow("fall back, 25 hours")
            << QDate(2026, 10, 25) << 0 << 0 << qint64(9000) << qint64(9000) << "100.0"
            << "4.00 at 00:00:00 CEST"
            << "4.00 at 00:00:00 CEST"
            << "4.00" << 0 << 0 << qint64(0);
    }

    void channelFigures()
    {
        QFETCH(QDate, day);
        QFETCH(int, device);
        QFETCH(int, channel);
        const DayReport report = compute(day);
        QVERIFY(report.hasStatistics());
        const DayStatistics &s = report.statistics();
        QCOMPARE(s.devices().size(), 2);
        const DayStatistics::Channel &c = s.devices().at(device).channel[channel];
        QTEST(c.samples, "samples");
        QTEST(s.expectedSamples(), "expected");
        QTEST(QString::number(s.completeness(c), 'f', 1), "completeness");
        const auto valueAt = [&](double v, qint64 t) {
            return c.samples ? QString("%1 at %2").arg(v, 0, 'f', 2).arg(hms(s, t)) : QString();
        };
        QTEST(valueAt(c.minimum, c.minimumTime), "minimum");
        QTEST(valueAt(c.maximum, c.maximumTime), "maximum");
        QTEST(c.samples ? QString::number(c.mean(), 'f', 2) : QString(), "mean");
        QTEST(c.gaps.size(), "gaps");
        QTEST(c.excursions.size(), "excursions");
        QTEST(c.secondsOutside, "secondsOutside");
    }

    void excursionsAndGapsOfTheDay()
    {
        const DayReport report = compute(QDate(2026, 3, 10));
        const DayStatistics &s = report.statistics();
        QCOMPARE(s.daySeconds(), qint64(86400));
        const DayStatistics::Channel &c = s.devices().at(0).channel[0];
        QCOMPARE(c.excursions.size(), 3);
        const auto text = [&](const DayStatistics::Excursion &e) {
            return QString("%1-%2 %3 worst %4%5%6")
                .arg(hms(s, e.start), hms(s, e.end), DayStatistics::durationText(e.duration()))
                .arg(e.worst, 0, 'f', 2)
                .arg(e.fromPreviousDay ? " from before" : "", e.intoNextDay ? " into next" : "");
        };
        QCOMPARE(text(c.excursions.at(0)),
                 QString("00:00:00-00:05:00 0:05:00 worst 9.50 from before"));
        QCOMPARE(text(c.excursions.at(1)), QString("15:00:00-15:01:00 0:01:00 worst 0.40"));
        QCOMPARE(text(c.excursions.at(2)),
                 QString("23:58:00-24:00:00 0:02:00 worst 8.50 into next"));
        QCOMPARE(c.worst, 0.4); // 1.6 below the low limit is further out than 1.5 above
        QCOMPARE(c.gaps.size(), 2);
        QCOMPARE(hms(s, c.gaps.at(0).from) + " " + hms(s, c.gaps.at(0).to),
                 QString("09:59:50 10:10:00"));
        QCOMPARE(c.gaps.at(0).length(), qint64(610));
        QCOMPARE(hms(s, c.gaps.at(1).from) + " " + hms(s, c.gaps.at(1).to),
                 QString("11:59:50 12:30:00"));
        QCOMPARE(c.gaps.at(1).length(), qint64(1810));

        const DayStatistics::Device &fridge = s.devices().at(0);
        QCOMPARE(fridge.rows, qint64(8401));
        QCOMPARE(fridge.nullRows, qint64(1));
        QCOMPARE(s.foreignRows(), qint64(1));
        // The freezer's whole day is one gap.
        const DayStatistics::Channel &freezer = s.devices().at(1).channel[0];
        QCOMPARE(freezer.gaps.at(0).from, s.dayStart());
        QCOMPARE(freezer.gaps.at(0).length(), qint64(86400));
        QVERIFY(freezer.excursions.isEmpty());
    }

    void dayWithoutRowsAndDayNotOver()
    {
        DayReport empty = compute(QDate(2026, 3, 28));
        QVERIFY(empty.hasStatistics());
        QCOMPARE(empty.statistics().totalRows(), qint64(0));
        QCOMPARE(empty.statistics().devices().at(0).channel[0].samples, qint64(0));

        // Made at 06:00 the same day: the trailing gap ends now, not at midnight.
        const QDate day(2026, 3, 11);
        const QDateTime six = QDateTime(day, QTime(6, 0), berlin());
        const DayReport today = compute(day, six);
        const DayStatistics::Channel &c = today.statistics().devices().at(0).channel[0];
        QCOMPARE(c.gaps.size(), 1);
        QCOMPARE(c.gaps.at(0).to, six.toSecsSinceEpoch());
        QCOMPARE(c.gaps.at(0).length(), qint64(6 * 3600 - 590));
    }

    void projectAndDatabaseErrors()
    {
        DayReport report;
        QString error;
        QVERIFY(!report.loadProject(m_dir.path() + "/missing.qlk", &error));
        QVERIFY(error.contains("missing.qlk"));

        // A broken device list names its reason, on the one line batch mode prints.
        const QString broken = m_dir.path() + "/broken.qlk";
        {
            QFile file(broken);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[General]\nprojectName=broken\nDeviceList=\"{\\\"devices\\\": [\"\n");
        }
        QVERIFY(!report.loadProject(broken, &error));
        QVERIFY2(error.startsWith(ProjectDocument::kNoDeviceInformation) &&
                     error.contains("JSON") && !error.contains('\n'),
                 qPrintable(error));

        const QString bare = m_dir.path() + "/bare.qlk";
        writeProject(bare, "bare.dat");
        QVERIFY(
            report.loadProject("'" + bare + "'", &error)); // quoted as the recorder hands it over
        QVERIFY(!report.compute(QDate(2026, 3, 10), berlin(), kLater, &error));
        QCOMPARE(error, DayReport::kNoDataFile);

        QFile junk(m_dir.path() + "/bare.dat");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        QVERIFY(!report.compute(QDate(2026, 3, 10), berlin(), kLater, &error));
        QVERIFY2(error.contains("not a record database"), qPrintable(error));
    }

    void defaultDay_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QDate>("expected");
        const QDate today(2026, 12, 6);
        QTest::newRow("stopped") << "2026-03-01 08:00:00"
                                 << "2026-03-10 18:00:00" << QDate(2026, 3, 10);
        QTest::newRow("recording again") << "2026-03-12 08:00:00"
                                         << "2026-03-10 18:00:00" << today;
        QTest::newRow("never recorded") << ""
                                        << "" << today;
    }

    void defaultDay()
    {
        QFETCH(QString, start);
        QFETCH(QString, stop);
        ProjectDocument project;
        project.recordStartTime = start;
        project.recordStopTime = stop;
        QTEST(DayReport::defaultDay(project, QDate(2026, 12, 6)), "expected");
    }

    // Rows out of time order (the clock went back) are still all found.
    void clockStepBackFallsBackToFullScan()
    {
        QVector<Row> rows;
        const qint64 start = at(QDate(2026, 3, 10), 0, 0);
        for (qint64 t = start + 7200; t < start + 86400; t += kInterval)
            rows.append({kFridge, 5.0, 50.0, t});
        // Then the clock went back to 00:00 and the first two hours came after.
        for (qint64 t = start; t < start + 7200; t += kInterval)
            rows.append({kFridge, 5.0, 50.0, t});
        const QString project = m_dir.path() + "/stepped.qlk";
        writeProject(project, "stepped.dat");
        QVERIFY(writeDatabase(m_dir.path() + "/stepped.dat", rows));
        DayReport report;
        QString error;
        QVERIFY(report.loadProject(project, &error));
        QVERIFY(report.compute(QDate(2026, 3, 10), berlin(), kLater, &error));
        QVERIFY(!report.timeOrdered());
        QCOMPARE(report.statistics().devices().at(0).channel[0].samples, qint64(8640));

        // The answer is kept: a second reader learns it from the cache.
        RecordReader reader;
        QVERIFY(reader.open(m_dir.path() + "/stepped.dat"));
        QVERIFY(QFile::exists(RecordOrderCache::cacheFile(reader.path())));
        QVERIFY(RecordOrderCache::apply(reader));
        QVERIFY(!reader.timeOrdered());
    }

    // Rows added after a check are checked on the next run; a file replaced
    // by another is checked again from the start.
    void orderCacheFollowsTheFile()
    {
        const QString path = m_dir.path() + "/growing.dat";
        QVector<Row> rows;
        for (int i = 0; i < 100; ++i)
            rows.append({kFridge, 1.0, 1.0, 1000 + i});
        QVERIFY(writeDatabase(path, rows));
        {
            RecordReader reader;
            QVERIFY(reader.open(path));
            QVERIFY(RecordOrderCache::apply(reader));
            QVERIFY(reader.timeOrdered());
        }
        rows.append({kFridge, 1.0, 1.0, 500}); // a step back in the new row
        QVERIFY(writeDatabase(path, rows));
        {
            RecordReader reader;
            QVERIFY(reader.open(path));
            QVERIFY(RecordOrderCache::apply(reader));
            QVERIFY(!reader.timeOrdered());
        }
        rows.removeLast();
        rows[0].time = 999; // another file, same ids
        QVERIFY(writeDatabase(path, rows));
        RecordReader reader;
        QVERIFY(reader.open(path));
        QVERIFY(RecordOrderCache::apply(reader));
        QVERIFY(reader.timeOrdered());
    }
};

QTEST_GUILESS_MAIN(tst_DayReport)
#include "tst_dayreport.moc"
