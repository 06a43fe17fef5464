// The figures of daily, weekly and monthly reports, read from real record
// databases with known values and checked against figures worked out by hand.

#include <QTemporaryDir>
#include <QtTest>

#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "record/recordreader.h"
#include "report/haccpsections.h"
#include "report/periodreport.h"
#include "report/reportpainter.h"
#include "reportfixture.h"
#include "testsupport.h"

using namespace ReportFixture;

namespace
{

const QDateTime kLater(QDate(2027, 1, 1), QTime(12, 0), Qt::UTC);
using Kind = PeriodReport::Kind;

} // namespace

class tst_PeriodReport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_project;

    QString m_probe;

    PeriodReport compute(const QDate &day, const QDateTime &now = kLater, int days = 1,
                         Kind kind = Kind::Daily, const QString &project = QString())
    {
        PeriodReport report;
        QString error;
        if (!report.loadProject(project.isEmpty() ? m_project : project, &error) ||
            report.compute(kind, day, days, berlin(), now, &error) == PeriodReport::Outcome::Failed)
            qWarning() << error;
        return report;
    }

    // Each excursion as "from-to duration worst value" and its marks.
    static QStringList excursionTexts(const PeriodStatistics &s, const PeriodStatistics::Channel &c)
    {
        QStringList texts;
        for (const PeriodStatistics::Excursion &e : c.excursions)
            texts << QString("%1-%2 %3 worst %4%5%6%7")
                         .arg(s.timeText(e.start), s.timeText(e.end),
                              PeriodStatistics::durationText(e.duration()))
                         .arg(e.worst, 0, 'f', 2)
                         .arg(e.fromBefore ? " from before" : "", e.intoAfter ? " into next" : "",
                              e.dataMissing ? " open" : "");
        return texts;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
        m_project = writeRecording(m_dir.path());
        m_probe = writeProbe(m_dir.path());
    }

    void channelFigures_data()
    {
        QTest::addColumn<QDate>("day");
        QTest::addColumn<int>("days");
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("channel");
        QTest::addColumn<qint64>("samples");
        QTest::addColumn<qint64>("expected");
        // Completeness; minimum and maximum, each "value at time"; mean.
        QTest::addColumn<QString>("figures");
        QTest::addColumn<int>("gaps");
        QTest::addColumn<int>("excursions");
        QTest::addColumn<qint64>("secondsOutside");

        const QDate day(2026, 3, 10);
        // 8640 slots less 60 (gap at 10:00) and 180 (stop at 12:00 with its NULL row);
        // sum 29*9 + 9.5 + 5*1 + 0.4 + 12*8.5 + 8352*5 = 42137.9, / 8400 = 5.0164.
        QTest::newRow("fridge temperature")
            << day << 1 << 0 << 0 << qint64(8400) << qint64(8640)
            << "97.2; 0.40 at 15:00:30; 9.50 at 00:01:40; 5.02" << 2 << 3 << qint64(300 + 60 + 120);
        // Alarm off: the spike to 95 is no excursion.
        QTest::newRow("fridge humidity, alarm off")
            << day << 1 << 0 << 1 << qint64(8400) << qint64(8640)
            << "97.2; 50.00 at 00:00:00; 95.00 at 13:00:00; 50.01" << 2 << 0 << qint64(0);
        QTest::newRow("freezer, nothing recorded")
            << day << 1 << 1 << 0 << qint64(0) << qint64(8640) << "0.0; ; ; " << 1 << 0
            << qint64(0);
        // Still outside from the day before until the data end at 00:09:50:
        // open, its time outside up to the last reading.
        QTest::newRow("next day, partly recorded")
            << day.addDays(1) << 1 << 0 << 0 << qint64(60) << qint64(8640)
            << "0.7; 8.50 at 00:00:00; 8.50 at 00:00:00; 8.50" << 1 << 1 << qint64(590);
        QTest::newRow("spring forward, 23 hours")
            << QDate(2026, 3, 29) << 1 << 0 << 0 << qint64(8280) << qint64(8280)
            << "100.0; 4.00 at 00:00:00 CET; 4.00 at 00:00:00 CET; 4.00" << 0 << 0 << qint64(0);
        QTest::newRow("fall back, 25 hours")
            << QDate(2026, 10, 25) << 1 << 0 << 0 << qint64(9000) << qint64(9000)
            << "100.0; 4.00 at 00:00:00 CEST; 4.00 at 00:00:00 CEST; 4.00" << 0 << 0 << qint64(0);
        // The week of the clocks going forward: six empty days and one of 23 h.
        QTest::newRow("week 2026-W13")
            << QDate(2026, 3, 23) << 7 << 0 << 0 << qint64(8280) << qint64(6 * 8640 + 8280)
            << "13.8; 4.00 at 2026-03-29 00:00:00 CET; 4.00 at 2026-03-29 00:00:00 CET; 4.00" << 1
            << 0 << qint64(0);
        // March: from 23:50 on the 9th (9.0, outside until 00:05:00 on the
        // 10th: 900 s), 15:00 on the 10th (60 s), 23:58 on the 10th until the
        // data end at 00:09:50 on the 11th (710 s); 60 + 8400 + 60 + 8280 readings.
        QTest::newRow("month 2026-03")
            << QDate(2026, 3, 1) << 31 << 0 << 0 << qint64(16800) << qint64(30 * 8640 + 8280)
            << "6.3; 0.40 at 2026-03-10 15:00:30 CET; 9.50 at 2026-03-10 00:01:40 CET; 4.54" << 5
            << 3 << qint64(900 + 60 + 710);
    }

    void channelFigures()
    {
        QFETCH(QDate, day);
        QFETCH(int, days);
        QFETCH(int, device);
        QFETCH(int, channel);
        const PeriodReport report =
            compute(day, kLater, days, days == 1 ? Kind::Daily : Kind::Monthly);
        QVERIFY(report.hasStatistics());
        const PeriodStatistics &s = report.statistics();
        QCOMPARE(s.devices().size(), 2);
        const PeriodStatistics::Figures &f = s.devices().at(device).channel[channel].total;
        const PeriodStatistics::Channel &c = s.devices().at(device).channel[channel];
        QTEST(f.samples, "samples");
        QTEST(f.expected, "expected");
        const auto valueAt = [&](double v, qint64 t) {
            return f.samples ? QString("%1 at %2").arg(v, 0, 'f', 2).arg(s.timeText(t)) : QString();
        };
        QTEST(QStringList({QString::number(f.completeness(), 'f', 1),
                           valueAt(f.minimum, f.minimumTime), valueAt(f.maximum, f.maximumTime),
                           f.samples ? QString::number(f.mean(), 'f', 2) : QString()})
                  .join("; "),
              "figures");
        QTEST(c.gaps.size(), "gaps");
        QTEST(c.excursions.size(), "excursions");
        QTEST(f.secondsOutside, "secondsOutside");
        // The days add up to the period.
        qint64 samples = 0;
        qint64 outside = 0;
        for (const PeriodStatistics::Figures &d : c.days) {
            samples += d.samples;
            outside += d.secondsOutside;
        }
        QCOMPARE(samples, f.samples);
        QCOMPARE(outside, f.secondsOutside);
    }

    void excursionsAndGapsOfTheDay()
    {
        const PeriodReport report = compute(QDate(2026, 3, 10));
        const PeriodStatistics &s = report.statistics();
        QCOMPARE(s.periodSeconds(), qint64(86400));
        const PeriodStatistics::Channel &c = s.devices().at(0).channel[0];
        QCOMPARE(excursionTexts(s, c),
                 (QStringList{"00:00:00-00:05:00 0:05:00 worst 9.50 from before",
                              "15:00:00-15:01:00 0:01:00 worst 0.40",
                              "23:58:00-24:00:00 0:02:00 worst 8.50 into next"}));
        QCOMPARE(c.worst, 0.4); // 1.6 below the low limit is further out than 1.5 above
        QStringList gaps;
        for (const PeriodStatistics::Gap &g : c.gaps)
            gaps << line(s.timeText(g.from), s.timeText(g.to), g.length());
        QCOMPARE(gaps, (QStringList{"09:59:50 10:10:00 610", "11:59:50 12:30:00 1810"}));

        const PeriodStatistics::Device &fridge = s.devices().at(0);
        QCOMPARE(fridge.rows, qint64(8401));
        QCOMPARE(fridge.nullRows, qint64(1));
        QCOMPARE(s.foreignRows(), qint64(1));
        // The freezer's whole day is one gap.
        const PeriodStatistics::Channel &freezer = s.devices().at(1).channel[0];
        QCOMPARE(freezer.gaps.at(0).from, s.periodStart());
        QCOMPARE(freezer.gaps.at(0).length(), qint64(86400));
        QVERIFY(freezer.excursions.isEmpty());
    }

    void dayWithoutRowsAndDayNotOver()
    {
        PeriodReport empty = compute(QDate(2026, 3, 28));
        QVERIFY(empty.hasStatistics() && !empty.hasData());
        QCOMPARE(empty.statistics().devices().at(0).channel[0].total.samples, qint64(0));

        // Made at 06:00 the same day: the trailing gap ends now, not at midnight.
        const QDate day(2026, 3, 11);
        const QDateTime six = QDateTime(day, QTime(6, 0), berlin());
        const PeriodReport today = compute(day, six);
        const PeriodStatistics::Channel &c = today.statistics().devices().at(0).channel[0];
        QCOMPARE(c.gaps.size(), 1);
        QCOMPARE(c.gaps.at(0).to, six.toSecsSinceEpoch());
        QCOMPARE(c.gaps.at(0).length(), qint64(6 * 3600 - 590));
    }

    // A reading equal to the printed limit is inside; readings that stop
    // while outside leave the excursion open; the mean kinetic temperature
    // of 8274 x 5.0, 30 x 25.0, 5 x 22.11 and 1 x 22.10 degrees C is
    // (dH/R) / -ln(sum(exp(-dH/(R T))) / 8310) - 273.15: 5.32 at 83.144
    // kJ/mol (dH/R = 9999.93 K) and 5.21 at 60 kJ/mol.
    void probeDay()
    {
        const PeriodReport report = compute(QDate(2026, 11, 2), kLater, 1, Kind::Haccp, m_probe);
        const PeriodStatistics &s = report.statistics();
        const PeriodStatistics::Channel &c = s.devices().at(0).channel[0];
        QCOMPARE(excursionTexts(s, c), (QStringList{"12:00:10-12:01:00 0:00:50 worst 22.11",
                                                    "20:00:00-20:04:50 0:04:50 worst 25.00 open"}));
        QCOMPARE(c.total.secondsOutside, qint64(50 + 290));
        QCOMPARE(c.total.secondsUnmonitored, qint64(3310));
        QCOMPARE(c.total.samples, qint64(8310));
        double mkt = 0;
        QVERIFY(s.meanKineticTemperature(c, &mkt));
        QCOMPARE(QString::number(mkt, 'f', 2), QString("5.32"));
        QVERIFY(!s.meanKineticTemperature(s.devices().at(0).channel[1], &mkt)); // humidity
        // Two breaches without a corrective action and one gap.
        QCOMPARE(HaccpSections::findings(report), 3);
        QCOMPARE(report.journal().state, RecordJournalVerdict::State::NoJournal);
        QVERIFY(!report.settingsFromRecord());

        PeriodReport other;
        QString error;
        QVERIFY(other.loadProject(m_probe, &error));
        other.compute(Kind::Weekly, QDate(2026, 11, 2), 7, berlin(), kLater, &error, 60.0);
        QVERIFY(other.statistics().meanKineticTemperature(
            other.statistics().devices().at(0).channel[0], &mkt));
        QCOMPARE(QString::number(mkt, 'f', 2), QString("5.21"));
        QCOMPARE(other.title(), QString("Weekly report 2026-W45"));
    }

    // The recorder's own alarm events: one breach acknowledged with its
    // corrective action and verified, one left alone, a gap of half an hour
    // and the rest of the day unmonitored; the journal is intact.
    void haccpFromTheRecord()
    {
        const QString serial = "QKTEST000000000009";
        const QString project = m_dir.path() + "/haccp.qlk";
        QVERIFY(writeProjectOf(project,
                               {TestSupport::projectDevice(serial, "Cold room", 10, 30, 0, 0)},
                               "2026-11-03 04:00:00", 60000));
        InsertSerialData::clearQueue();
        InsertSerialData::clearContextQueue();
        AlarmTracker::reset();
        InsertSerialData db(m_dir.path() + "/haccp.dat", "haccp");
        QVERIFY(db.createConnection());
        const qint64 start = at(QDate(2026, 11, 3), 0, 0);
        for (int m = 0; m < 240; ++m) {
            if (m >= 150 && m < 180)
                continue;
            const double value = m >= 30 && m < 40 ? 35.0 : (m >= 90 && m < 95 ? 5.0 : 20.0);
            InsertSerialData::appendRecord({serial, value, NoValue, quint32(start + 60 * m)});
            AlarmTracker::noteSample(serial, 1, value, value < 10 || value > 30, 10, 30,
                                     start + 60 * m);
        }
        AlarmTracker::closeAll(start + 240 * 60);
        QVERIFY(db.insertNow());
        PeriodReport first = compute(QDate(2026, 11, 3), kLater, 1, Kind::Haccp, project);
        QCOMPARE(first.alarmEvents().size(), 2);
        const QString action = "Door closed, compressor restarted, the product moved to cold "
                               "room 2 and its temperature taken again after an hour: 4.1 C";
        AlarmTracker::acknowledge(first.alarmEvents().at(0).token, "Ann", action, start + 45 * 60);
        AlarmTracker::verify(first.alarmEvents().at(0).token, "Bob", "Checked", start + 50 * 60);
        QVERIFY(db.insertNow());

        const PeriodReport report = compute(QDate(2026, 11, 3), kLater, 1, Kind::Haccp, project);
        QCOMPARE(HaccpSections::findings(report), 3);
        QCOMPARE(report.journal().state, RecordJournalVerdict::State::Intact);
        QString error;
        const QString pdf = m_dir.path() + "/haccp.pdf";
        QVERIFY2(ReportPainter(report).writePdf(pdf, &error), qPrintable(error));
        const QString text = TestSupport::pdfPages(pdf).join('\n');
        for (const QString &word : action.split(' ')) // wrapped in its cell, never cut
            QVERIFY2(text.contains(word), qPrintable(word));
        QVERIFY(!text.contains(QChar(0x2026)));
        for (const char *expected : {"Findings: 3", "Journal verification: record intact", "Ann",
                                     "Bob", "FINDING: no corrective action",
                                     "FINDING: not monitored from 02:29:00 to 03:00:00 (0:31:00)",
                                     "FINDING: not monitored from 03:59:00 to 24:00:00"})
            QVERIFY2(text.contains(expected), expected);
    }

    // Figures of a long period are never cut in the summary: a month out of
    // range every other ten minutes is 2160 excursions and almost 360 hours
    // outside.
    void longFiguresWhole()
    {
        const QString serial = "QKTEST000000000010";
        const QString project = m_dir.path() + "/long.qlk";
        QVERIFY(writeProjectOf(project, {TestSupport::projectDevice(serial, "Room", 10, 30, 0, 0)},
                               "2026-12-01 00:00:00", 600000));
        QVector<TestSupport::RecordRow> rows;
        for (qint64 t = at(QDate(2026, 11, 1), 0, 0); t < at(QDate(2026, 12, 1), 0, 0); t += 600)
            rows.append({serial, (t / 600) % 2 ? 35.0 : 20.0, 50, t});
        QVERIFY(TestSupport::appendRecordRows(m_dir.path() + "/long.dat", rows));
        const PeriodReport report = compute(QDate(2026, 11, 1), kLater, 30, Kind::Monthly, project);
        QString error;
        const QString pdf = m_dir.path() + "/long.pdf";
        QVERIFY2(ReportPainter(report).writePdf(pdf, &error), qPrintable(error));
        const QString summary = TestSupport::pdfPages(pdf).first();
        QVERIFY(summary.contains("2160"));
        QVERIFY(summary.contains("359:50:00")); // the last one open at the end
        QVERIFY(!summary.contains(QRegularExpression("\\d\u2026")));
    }

    // Settings as the record keeps them: limits 2..8 at 10 min until the
    // 16th, 0..10 at 5 min from then on; 9.0 throughout is outside for the
    // first 15 days only and the month is complete at both intervals.
    void settingsChangeInTheMonth()
    {
        const qint64 change = at(QDate(2026, 11, 16), 0, 0);
        const PeriodStatistics::Settings before{0, 600, {2, 0}, {8, 0}};
        const PeriodStatistics::Settings after{change, 300, {0, 0}, {10, 0}};
        PeriodStatistics s;
        s.start(QDate(2026, 11, 1), 30, berlin(), 600000, kLater.toSecsSinceEpoch());
        s.addDevice("Room", QString(kFridge), "Temperature", 1, "C", 0, 0, "Humidity", 3, "%RH", 0,
                    0, {after, before});
        for (qint64 t = s.windowStart(); t < s.windowEnd(); t += t < change ? 600 : 300)
            s.addRow({0, kFridge, 9.0, 50.0, t});
        s.finish();
        const PeriodStatistics::Channel &c = s.devices().at(0).channel[0];
        QCOMPARE(c.total.expected, qint64(15 * 144 + 15 * 288));
        QCOMPARE(c.total.samples, c.total.expected);
        QCOMPARE(c.excursions.size(), 1);
        QVERIFY(c.excursions.at(0).fromBefore && !c.excursions.at(0).dataMissing);
        QCOMPARE(c.excursions.at(0).end, change);
        QCOMPARE(c.total.secondsOutside, change - s.periodStart());
        QCOMPARE(c.days.at(14).secondsOutside, qint64(86400));
        QCOMPARE(c.days.at(15).secondsOutside, qint64(0));
        QVERIFY(c.gaps.isEmpty());
        QCOMPARE(c.low, 0.0); // the limits in force at the end
        QCOMPARE(c.high, 10.0);
    }

    // Two halves read at once come out as one pass, wherever the rows are
    // cut: inside an excursion, a gap, at a NULL row, with limits changing.
    void readInTwoHalves()
    {
        const QVector<Row> all = rows();
        const PeriodStatistics::Settings before{0, 10, {2, 0}, {8, 0}};
        const PeriodStatistics::Settings after{
            at(QDate(2026, 3, 10), 15, 0, 20), 10, {2, 0}, {4.5, 0}};
        PeriodStatistics fresh;
        fresh.start(QDate(2026, 3, 1), 31, berlin(), 10000, kLater.toSecsSinceEpoch());
        fresh.addDevice("Fridge", QString(kFridge), "T", 1, "C", 0, 0, "H", 3, "%RH", 0, 0,
                        {before, after});
        fresh.addDevice("Freezer", QString(kFreezer), "T", 1, "C", -30, -15, "H", 3, "%RH", 0, 0);
        const auto feed = [&](PeriodStatistics &s, int from, int to) {
            for (int i = from; i < to; ++i)
                s.add(all.at(i).serial == kFridge ? 0 : -1, all.at(i).time, all.at(i).ch1,
                      all.at(i).ch2);
        };
        PeriodStatistics one = fresh;
        feed(one, 0, all.size());
        one.finish();
        const QStringList expected = dump(one);
        // Cut around every change of value, NULL row and gap, and here and there.
        QSet<int> cuts;
        for (int i = 1; i < all.size(); ++i) {
            const Row &a = all.at(i - 1);
            const Row &b = all.at(i);
            if (i % 997 == 0 || a.serial != b.serial || b.time - a.time != 10 ||
                !(a.ch1 == b.ch1) || !(a.ch2 == b.ch2))
                cuts << i - 1 << i << i + 1;
        }
        cuts.remove(0);
        cuts.remove(all.size());
        for (const int cut : qAsConst(cuts)) {
            PeriodStatistics first = fresh;
            PeriodStatistics later = fresh;
            later.startLater();
            feed(first, 0, cut);
            feed(later, cut, all.size());
            QVERIFY(later.appendable());
            first.append(later);
            first.finish();
            QCOMPARE(dump(first), expected);
        }
        // The report's own halves, each read by a connection of its own.
        PeriodReport split;
        QString error;
        QVERIFY(split.loadProject(m_project, &error));
        split.setRowsToSplit(1);
        QVERIFY(split.compute(Kind::Monthly, QDate(2026, 3, 1), 31, berlin(), kLater, &error) ==
                PeriodReport::Outcome::Done);
        QCOMPARE(dump(split.statistics()),
                 dump(compute(QDate(2026, 3, 1), kLater, 31, Kind::Monthly).statistics()));
    }

    // Completeness counts the interval the data show when the project's
    // differs, and says so.
    void intervalFromTheData_data()
    {
        QTest::addColumn<int>("projectMs");
        QTest::addColumn<QString>("note");
        QTest::newRow("agrees") << 10000 << "";
        QTest::newRow("project says a minute") << 60000 << "names a data interval of 60 s";
        QTest::newRow("project names none") << 0 << "names no data interval";
    }

    void intervalFromTheData()
    {
        QFETCH(int, projectMs);
        QFETCH(QString, note);
        const QString project = m_dir.path() + "/interval.qlk";
        QVERIFY(writeProjectOf(project,
                               {TestSupport::projectDevice(kProbe, "Probe", 2, 22.1f, 0, 0)},
                               "2026-11-02 23:59:59", projectMs));
        QFile::copy(m_dir.path() + "/probe.dat", m_dir.path() + "/interval.dat");
        const PeriodReport report = compute(QDate(2026, 11, 2), kLater, 1, Kind::Daily, project);
        QCOMPARE(report.statistics().devices().at(0).channel[0].total.expected, qint64(8640));
        const QString notes = report.notes().join(' ');
        QVERIFY2(note.isEmpty()
                     ? !notes.contains("interval of") && !notes.contains("no data interval")
                     : notes.contains(note),
                 qPrintable(notes));
    }

    void periods_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDate>("first");
        QTest::newRow("week 49") << "2026-W49" << QDate(2026, 11, 30);
        QTest::newRow("week 1 starts in December") << "2026-W01" << QDate(2025, 12, 29);
        QTest::newRow("week 53 of 2026") << "2026-W53" << QDate(2026, 12, 28);
        QTest::newRow("no week 53 in 2027") << "2027-W53" << QDate();
        QTest::newRow("month") << "2026-11" << QDate(2026, 11, 1);
        QTest::newRow("month 13") << "2026-13" << QDate();
    }

    void periods()
    {
        QFETCH(QString, text);
        QTEST(text.contains('W') ? PeriodReport::weekStart(text) : PeriodReport::monthStart(text),
              "first");
    }

    void projectAndDatabaseErrors()
    {
        PeriodReport report;
        QString error;
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
        QVERIFY(writeProject(bare));
        QVERIFY(
            report.loadProject("'" + bare + "'", &error)); // quoted as the recorder hands it over
        const auto failed = [&]() {
            return report.compute(Kind::Daily, QDate(2026, 3, 10), 1, berlin(), kLater, &error) ==
                   PeriodReport::Outcome::Failed;
        };
        QVERIFY(failed());
        QCOMPARE(error, PeriodReport::kNoDataFile);

        QFile junk(m_dir.path() + "/bare.dat");
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        QVERIFY(failed());
        QVERIFY2(error.contains("not a record database"), qPrintable(error));
    }

    void defaultDay_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QString>("stop");
        QTest::addColumn<QDate>("expected");
        const QString stop = "2026-03-10 18:00:00";
        QTest::newRow("stopped") << "2026-03-01 08:00:00" << stop << QDate(2026, 3, 10);
        // Running or never stopped: the last day the record holds.
        QTest::newRow("recording again") << "2026-03-12 08:00:00" << stop << QDate(2026, 10, 25);
        QTest::newRow("no stop time") << QString() << QString() << QDate(2026, 10, 25);
    }

    void defaultDay()
    {
        QFETCH(QString, start);
        QFETCH(QString, stop);
        PeriodReport report;
        QString error;
        QVERIFY(report.loadProject(m_project, &error));
        ProjectDocument project = report.project();
        project.recordStartTime = start;
        project.recordStopTime = stop;
        QTEST(PeriodReport::defaultDay(project, berlin(), QDate(2026, 12, 6)), "expected");
        // The picker marks the days that hold data.
        const QSet<QDate> marked = PeriodReport::daysWithData(
            project.databasePath(), QDate(2026, 3, 1), QDate(2026, 3, 31), berlin());
        QCOMPARE(marked, (QSet<QDate>{QDate(2026, 3, 9), QDate(2026, 3, 10), QDate(2026, 3, 11),
                                      QDate(2026, 3, 29)}));
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
        QVERIFY(writeProject(project));
        QVERIFY(TestSupport::appendRecordRows(m_dir.path() + "/stepped.dat", rows, false));
        const PeriodReport report = compute(QDate(2026, 3, 10), kLater, 1, Kind::Daily, project);
        QVERIFY(!report.timeOrdered());
        QCOMPARE(report.statistics().devices().at(0).channel[0].total.samples, qint64(8640));
    }
};

QTEST_MAIN(tst_PeriodReport)
#include "tst_periodreport.moc"
