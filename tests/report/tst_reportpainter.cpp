// The daily report as an A4 PDF file, read back with pdftotext (poppler) to
// find the figures, and as preview pages.

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "report/dayreport.h"
#include "report/reportpainter.h"
#include "reportfixture.h"
#include "testsupport.h"

using namespace ReportFixture;

class tst_ReportPainter : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_project;

    // The text of a PDF file, page by page (pdftotext separates pages by form feeds).
    static QStringList pdfPages(const QString &pdf)
    {
        QProcess process;
        process.start("pdftotext", {"-layout", pdf, "-"});
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            return {};
        QStringList pages = QString::fromUtf8(process.readAllStandardOutput()).split('\f');
        if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
            pages.removeLast();
        return pages;
    }

    QStringList writeAndRead(const QDate &day, const QString &name)
    {
        DayReport report;
        QString error;
        const QDateTime made(QDate(2026, 12, 6), QTime(14, 30, 5), berlin());
        if (!report.loadProject(m_project, &error) ||
            !report.compute(day, berlin(), made, &error)) {
            qWarning() << error;
            return {};
        }
        const QString pdf = m_dir.path() + "/" + name;
        if (!ReportPainter(report).writePdf(pdf, &error)) {
            qWarning() << error;
            return {};
        }
        return pdfPages(pdf);
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
        m_project = writeRecording(m_dir.path(), "coldstore");
        if (QStandardPaths::findExecutable("pdftotext").isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
    }

    void figuresInThePdf()
    {
        const QStringList pages = writeAndRead(QDate(2026, 3, 10), "day.pdf");
        QVERIFY(pages.size() >= 2);
        const QString all = pages.join('\n');
        // Summary: minimum and maximum with their times, mean, completeness,
        // limits and time outside (5 + 1 + 2 minutes).
        for (const char *figure :
             {"0.40", "15:00:30", "9.50", "00:01:40", "5.02", "8400 of", "97.2 %", "2.00 to",
              "8.00", "0:08:00", "95.00", "13:00:00", "50.01", "0.0 %"})
            QVERIFY2(all.contains(QLatin1String(figure)), figure);
        // Details: the gaps and the excursions, midnight ones marked.
        for (const char *line :
             {"from 09:59:50 to 10:10:00, length 0:10:10",
              "from 11:59:50 to 12:30:00, length 0:30:10",
              "from 00:00:00 (from the day before) to 00:05:00, duration 0:05:00, worst 9.50",
              "from 15:00:00 to 15:01:00, duration 0:01:00, worst 0.40",
              "from 23:58:00 to 24:00:00 (into the next day), duration 0:02:00, worst 8.50",
              "Excursions: 3, total time outside 0:08:00, worst value 0.40",
              "from 00:00:00 to 24:00:00, length 24:00:00"})
            QVERIFY2(all.simplified().contains(QString(line).simplified()), line);
        QVERIFY(all.contains("Rows of devices that are not in the project, left out: 1"));
        // Closing block on the last page.
        QVERIFY(pages.last().contains("Checked by"));
        QVERIFY(pages.last().contains("Date"));
        // Every page: project, day, time made and its number.
        for (int i = 0; i < pages.size(); ++i) {
            const QString &page = pages.at(i);
            QVERIFY2(page.contains("coldstore"), qPrintable(QString::number(i)));
            QVERIFY(page.contains("Daily report 2026-03-10"));
            QVERIFY(page.contains("Generated at 2026-12-06 14:30:05"));
            QVERIFY2(page.contains(QString("Page %1 of %2").arg(i + 1).arg(pages.size())),
                     qPrintable(page));
        }
        // The summary comes first: the table is on page one, the charts' details later.
        QVERIFY(pages.first().contains("Summary"));
        QVERIFY(!pages.first().contains("Checked by"));
    }

    void dayWithoutRowsSaysSo()
    {
        const QStringList pages = writeAndRead(QDate(2026, 3, 28), "empty.pdf");
        QVERIFY(!pages.isEmpty());
        QVERIFY(pages.first().contains("No samples were recorded on this day."));
        QVERIFY(pages.join('\n').contains("No readings on this day."));
    }

    void dstDayShowsItsLength()
    {
        const QStringList pages = writeAndRead(QDate(2026, 3, 29), "dst.pdf");
        QVERIFY(!pages.isEmpty());
        QVERIFY(pages.first().contains("23 hours"));
        QVERIFY(pages.first().contains("8280 of"));
    }

    void unwritablePathLeavesNothing()
    {
        DayReport report;
        QString error;
        QVERIFY(report.loadProject(m_project, &error));
        QVERIFY(report.compute(QDate(2026, 3, 10), berlin(), QDateTime::currentDateTime(), &error));
        const QString pdf = m_dir.path() + "/no-such-folder/day.pdf";
        QVERIFY(!ReportPainter(report).writePdf(pdf, &error));
        QVERIFY(error.contains("no-such-folder"));
        QVERIFY(!QFile::exists(pdf));
    }

    void previewPagesMatchThePdf()
    {
        DayReport report;
        QString error;
        QVERIFY(report.loadProject(m_project, &error));
        QVERIFY(report.compute(QDate(2026, 3, 10), berlin(), QDateTime::currentDateTime(), &error));
        ReportPainter painter(report);
        const QVector<QImage> images = painter.pageImages(600);
        QCOMPARE(images.size(), painter.pageCount());
        QCOMPARE(images.first().height(), 600 * 297 / 210);
        // Something is drawn on the page, and the excursion rows are shaded.
        bool shaded = false;
        const QImage &first = images.first();
        for (int y = 0; y < first.height() && !shaded; ++y) {
            const QRgb c = first.pixel(first.width() / 2, y);
            shaded = qRed(c) > 240 && qGreen(c) > 200 && qGreen(c) < 225 && qBlue(c) < 225;
        }
        QVERIFY(shaded);
    }
};

QTEST_MAIN(tst_ReportPainter)
#include "tst_reportpainter.moc"
