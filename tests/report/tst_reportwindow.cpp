// The report window driven offscreen: the default day, day steps, the
// preview, the save buttons with their (non-blocking) dialogs, errors.
// Leaves screenshots in <build>/test-screens/report.

#include <QFileDialog>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "report/periodreport.h"
#include "report/reportwindow.h"
#include "reportfixture.h"
#include "testsupport.h"

using namespace ReportFixture;

class tst_ReportWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_project;
    QString m_screens;

    static bool waitForReport(ReportWindow &window, QSignalSpy &spy)
    {
        return spy.wait(30000) && !window.isBusy();
    }

    void shoot(QWidget &widget, const QString &name)
    {
        QVERIFY(widget.grab().save(m_screens + "/" + name + ".png"));
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(m_dir.isValid());
        m_project = writeRecording(m_dir.path(), "coldstore");
        m_screens = TestSupport::binaryDir() + "/test-screens/report";
        QDir().mkpath(m_screens);
    }

    void opensOnTheProjectsDayAndSteps()
    {
        ReportWindow window;
        window.setZone(berlin());
        window.resize(1100, 760);
        window.show();
        QSignalSpy spy(&window, &ReportWindow::reportFinished);
        window.openProject("'" + m_project + "'"); // as the recorder hands it over
        QVERIFY(waitForReport(window, spy));
        QCOMPARE(spy.last().at(0).toBool(), true);
        QCOMPARE(window.day(), QDate(2026, 3, 10));
        QVERIFY(window.previewPageCount() >= 2);
        QVERIFY2(window.statusText().contains("8401 rows"), qPrintable(window.statusText()));
        QVERIFY(window.findChild<QPushButton *>("btn_savePdf")->isEnabled());
        const auto pages = window.findChild<QWidget *>("widget_pages")->findChildren<QLabel *>();
        QVERIFY(pages.first()->isVisible());
        shoot(window, "window");

        QTest::mouseClick(window.findChild<QPushButton *>("btn_next"), Qt::LeftButton);
        QVERIFY(waitForReport(window, spy));
        QCOMPARE(window.report()->statistics().firstDay(), QDate(2026, 3, 11));

        // Several steps while a day is being read: the last day chosen is shown.
        auto *previous = window.findChild<QPushButton *>("btn_previous");
        QTest::mouseClick(previous, Qt::LeftButton);
        QTest::mouseClick(previous, Qt::LeftButton);
        QTest::mouseClick(previous, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy() && window.report() &&
                                     window.report()->statistics().firstDay() == QDate(2026, 3, 8),
                                 30000);
        QCOMPARE(window.statusText(), QString("Daily report 2026-03-08: no data."));
        shoot(window, "window-empty-day");

        // The other kinds, each over its period around the day chosen; the
        // picker marks the days with data.
        QVERIFY(window.markedDays().contains(QDate(2026, 3, 10)));
        QVERIFY(!window.markedDays().contains(QDate(2026, 3, 8)));
        const QVector<QPair<PeriodReport::Kind, QString>> kinds = {
            {PeriodReport::Kind::Weekly, "Weekly report 2026-W10"},
            {PeriodReport::Kind::Monthly, "Monthly report 2026-03"},
            {PeriodReport::Kind::Haccp, "HACCP report 2026-03-01 to 2026-03-31"}};
        for (const auto &kind : kinds) {
            window.setKind(kind.first);
            QTRY_VERIFY_WITH_TIMEOUT(!window.isBusy() && window.report() &&
                                         window.report()->title() == kind.second,
                                     30000);
        }
        shoot(window, "window-haccp");
    }

    void savesPdfCsvAndPrints()
    {
        ReportWindow window;
        window.setZone(berlin());
        window.show();
        QSignalSpy spy(&window, &ReportWindow::reportFinished);
        window.openProject(m_project, QDate(2026, 3, 10));
        QVERIFY(waitForReport(window, spy));
        QCOMPARE(window.day(), QDate(2026, 3, 10));

        // Save PDF asks for the file without blocking; answering it saves.
        QTest::mouseClick(window.findChild<QPushButton *>("btn_savePdf"), Qt::LeftButton);
        QFileDialog *dialog = window.findChild<QFileDialog *>();
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QVERIFY(dialog->selectedFiles().value(0).endsWith("coldstore-daily-report-2026-03-10.pdf"));
        const QString pdf = m_dir.path() + "/chosen.pdf";
        dialog->selectFile(pdf);
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_VERIFY(QFileInfo(pdf).size() > 1000);

        const QString csv = m_dir.path() + "/chosen.csv";
        QVERIFY(window.saveCsvTo(csv));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Fridge"));
        QVERIFY(QFile::exists(m_dir.path() + "/chosen-excursions.csv"));
        // Never onto the project's own files.
        QVERIFY(!window.saveCsvTo(m_project));
        QVERIFY(window.statusText().contains("file of the project itself"));

        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(m_dir.path() + "/printed.pdf");
        QVERIFY(window.printTo(&printer));
        QVERIFY(QFileInfo(m_dir.path() + "/printed.pdf").size() > 1000);

        // A folder that does not exist: told, not hidden.
        QVERIFY(!window.savePdfTo(m_dir.path() + "/missing/x.pdf"));
        QVERIFY(window.statusText().contains("missing/x.pdf"));
    }

    void projectWithoutDatabase()
    {
        QVERIFY(writeProject(m_dir.path() + "/nodata.qlk"));
        ReportWindow window;
        window.setZone(berlin());
        window.show();
        QSignalSpy spy(&window, &ReportWindow::reportFinished);
        window.openProject(m_dir.path() + "/nodata.qlk");
        QVERIFY(waitForReport(window, spy));
        QCOMPARE(spy.last().at(0).toBool(), false);
        QCOMPARE(window.statusText(), PeriodReport::kNoDataFile);
        QCOMPARE(TestSupport::shownMessages(&window),
                 QStringList("WARNING|" + PeriodReport::kNoDataFile));
        QCOMPARE(window.previewPageCount(), 0);
        QVERIFY(!window.findChild<QPushButton *>("btn_savePdf")->isEnabled());
        shoot(window, "window-no-data");
    }
};

QTEST_MAIN(tst_ReportWindow)
#include "tst_reportwindow.moc"
