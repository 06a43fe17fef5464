// A week recorded through the real writer, which keeps its stretch figures
// as it writes, reported from those figures and from every row: the two
// must agree to the last figure, whatever lies at the stretches' bounds.

#include <QTemporaryDir>
#include <QtTest>

#include "record/insertserialdata.h"
#include "record/recordstretches.h"
#include "record/recordwriter.h"
#include "report/periodreport.h"
#include "reportfixture.h"
#include "testsupport.h"

#include <sqlite3.h>

using namespace ReportFixture;

namespace
{

const QDate kMonday(2026, 3, 23); // the week in which summer time begins
const QDateTime kLater(QDate(2027, 1, 1), QTime(12, 0), Qt::UTC);
const QString kOther = QStringLiteral("SOMEONE-ELSE");
using Kind = PeriodReport::Kind;

RecordDeviceSettings fridgeSettings(qint64 from, double high)
{
    RecordDeviceSettings s;
    s.validFrom = from;
    s.intervalMs = 60000;
    s.serialNo = QString(kFridge);
    s.deviceName = QStringLiteral("Fridge");
    s.ch1Unit = 1;
    s.ch2Unit = 3;
    s.ch1Low = 2;
    s.ch1High = high;
    return s;
}

} // namespace

class tst_StretchReading : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    int m_case = 0;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
    }

    void sameFiguresAsEveryRow_data()
    {
        QTest::addColumn<QString>("feature");
        for (const char *feature :
             {"quiet", "excursion ends at a stretch's first reading",
              "NULL row at a stretch's start while outside", "gap over a stretch's bound",
              "gap inside a stretch", "freezer polled from Thursday on",
              "figures of a stretch lost", "limits change inside a stretch",
              "writer opened again on Wednesday", "hours outside, below then above",
              "hours outside, a NULL row among them", "first days by an older recorder"})
            QTest::newRow(feature) << QString(feature);
    }
    void sameFiguresAsEveryRow()
    {
        QFETCH(QString, feature);
        const QString base = m_dir.path() + "/week" + QString::number(++m_case);
        ProjectDocument::Node freezer =
            TestSupport::projectDevice(QString(kFreezer), "Freezer", -10, 10, 0, 0);
        freezer.ch1Unit = 2; // Fahrenheit
        QVERIFY(writeProjectOf(
            base + ".qlk",
            {TestSupport::projectDevice(QString(kFridge), "Fridge", 2, 8, 0, 0), freezer},
            "2026-03-30 12:00:00", 60000));
        const qint64 s = at(kMonday.addDays(1), 10, 0); // a stretch's bound
        const qint64 from = at(kMonday, 0, 0) - 3600;
        const qint64 to = at(kMonday.addDays(7), 0, 0) + 3600;
        const qint64 reopen = feature.startsWith("writer") ? at(kMonday.addDays(2), 12, 7) : to;
        std::unique_ptr<RecordWriter> writer;
        QString error;
        RecordBatch batch;
        if (feature.startsWith("limits"))
            batch.settings = {fridgeSettings(from, 8), fridgeSettings(s + 300, 5.5),
                              fridgeSettings(s + 2000, 8)};
        // Rows written without stretch figures, summed up by the writer
        // that opens the file after them in its idle time.
        const qint64 older = feature.startsWith("first") ? at(kMonday.addDays(2), 0, 0) : from;
        for (qint64 t = from; t < to; t += 60) {
            if (t >= older && (!writer || (t >= reopen && t - 60 < reopen))) {
                writer.reset(new RecordWriter(base + ".dat"));
                QVERIFY2(writer->open(&error), qPrintable(error));
            }
            double fridge = 5.0 + 0.1 * double((t / 60) % 7);
            if (feature.startsWith("excursion") || feature.startsWith("NULL"))
                fridge = t >= s - 600 && t < s ? 9.0 + 0.1 * double((t / 60) % 3) : fridge;
            if (feature.startsWith("hours") && t >= s && t < s + 3600)
                fridge = t < s + 1800 ? 1.0 + 0.1 * double((t / 60) % 3) : fridge + 4;
            const bool gap = (feature.startsWith("gap over") && t >= s - 300 && t < s + 240) ||
                             (feature.startsWith("gap inside") && t >= s + 120 && t < s + 420) ||
                             (feature.endsWith("then above") && t >= s + 3600 && t < s + 4200);
            if ((feature.startsWith("NULL") && t == s) ||
                (feature.endsWith("among them") && t == s + 2400))
                batch.rows.push_back({QString(kFridge), NoValue, NoValue, quint32(t)});
            else if (!gap)
                batch.rows.push_back({QString(kFridge), fridge, 50.0, quint32(t)});
            if (!feature.startsWith("freezer") || t >= at(kMonday.addDays(3), 13, 13))
                batch.rows.push_back({QString(kFreezer), 0.5 * double((t / 60) % 5),
                                      40.0 + (t / 60) % 3, quint32(t)});
            batch.rows.push_back({kOther, 1.0, 1.0, quint32(t)});
            if (t < older && t + 60 >= older) {
                QVector<TestSupport::RecordRow> rows;
                for (const SerialRecord &row : batch.rows)
                    rows.append({row.serialNo, row.channel1, row.channel2, row.pointDate});
                QVERIFY(TestSupport::appendRecordRows(base + ".dat", rows));
                batch.rows.clear();
            }
            if (t >= older && (batch.rows.size() >= 30 || t + 60 >= to)) {
                writer->writeHere(batch);
                QVERIFY2(batch.ok, qPrintable(batch.error));
                batch.rows.clear();
                batch.settings.clear();
            }
        }
        const auto mark = [&] {
            return TestSupport::sqlRows(base + ".dat", "select summed_to from qk_stretch_mark")
                .value(0)
                .value(0)
                .toLongLong();
        };
        QTRY_VERIFY_WITH_TIMEOUT(mark() >= qint64((older - from) / 60 * 3), 60000);
        writer.reset();
        if (feature.startsWith("figures"))
            TestSupport::sqlRows(base + ".dat", QString("delete from qk_stretches where start = %1 "
                                                        "and serialno = '%2'")
                                                    .arg(s)
                                                    .arg(QString(kFridge)));

        PeriodReport every;
        PeriodReport taken;
        every.setUseStretches(false);
        for (PeriodReport *report : {&every, &taken}) {
            QVERIFY2(report->loadProject(base + ".qlk", &error), qPrintable(error));
            QCOMPARE(report->compute(Kind::Weekly, kMonday, 7, berlin(), kLater, &error),
                     PeriodReport::Outcome::Done);
        }
        QCOMPARE(every.statistics().stretchesTaken(), 0);
        QVERIFY(taken.statistics().rowsFromStretches() <= taken.statistics().totalRows());
        // Most of the week comes from the figures (the first stretch after
        // each opening is never kept, the margins are read).
        QVERIFY(taken.statistics().stretchesTaken() > 600);
        QCOMPARE(dump(taken.statistics()), dump(every.statistics()));
        if (feature == "quiet" || older > from) {
            QCOMPARE(every.statistics().foreignRows(), qint64(7 * 1440 - 60));
            // Worked out again from every row, a file has the same figures,
            // and those of the stretches no writer could keep whole: the
            // first, and the one before the writer after the older one.
            const QString all = "select * from qk_stretches order by start, serialno";
            const QList<QVariantList> kept = TestSupport::sqlRows(base + ".dat", all);
            sqlite3 *db = nullptr;
            sqlite3_open(QFile::encodeName(base + ".dat").constData(), &db);
            QVERIFY(RecordStretches::derive(db, &error));
            sqlite3_close(db);
            const QList<QVariantList> derived = TestSupport::sqlRows(base + ".dat", all);
            for (const QVariantList &row : kept)
                QVERIFY(derived.contains(row));
            QCOMPARE(derived.size(), kept.size() + (older > from ? 6 : 3));
        }
    }
};

QTEST_MAIN(tst_StretchReading)
#include "tst_stretchreading.moc"
