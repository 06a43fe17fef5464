#include "viewer/viewerwindow.h"

#include "chart/chartdataset.h"
#include "chart/linelayer.h"
#include "chart/qchartviewer.h"
#include "chart/xychart.h"
#include "projectfixture.h"
#include "record/insertserialdata.h"
#include "testsupport.h"
#include "viewerfixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace ViewerFixture;

namespace
{

constexpr qint64 kStart = 1767225600;   // 2026-01-01 00:00 UTC
constexpr int kWeekPolls = 7 * 24 * 60; // one a minute
constexpr qint64 kGapFrom =
    kStart + 3 * 86400 + 12 * 3600; // an hour with nothing, after a NULL row
constexpr qint64 kGapTo = kGapFrom + 3600;

QStringList serials16()
{
    QStringList serials;
    for (int d = 0; d < 16; ++d)
        serials << QStringLiteral("QKVIEW%1").arg(d + 1, 12, 10, QLatin1Char('0'));
    return serials;
}

double weekValue(int d, int c, qint64 t)
{
    if (t == kGapFrom)
        return kNull;
    const double day = std::sin(double(t - kStart) / 86400.0 * 2 * M_PI);
    return (c == 1 ? 18 + d * 0.8 : 40 + d * 2) + day * (c == 1 ? 4 : 10) +
           ((t / 60 + d) % 1440 == 0 ? 9 : 0);
}

void saveShot(QWidget *widget, const QString &name)
{
    const QString folder = TestSupport::binaryDir() + QStringLiteral("/test-screens");
    QDir().mkpath(folder);
    widget->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// A left-button drag in steps (QTest::mouseMove carries no buttons).
void drag(QWidget *widget, QPoint from, QPoint to)
{
    QTest::mousePress(widget, Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 10; ++i) {
        const QPoint p = from + (to - from) * i / 10;
        QMouseEvent move(QEvent::MouseMove, p, widget->mapToGlobal(p), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
        QTest::qWait(30);
    }
    QTest::mouseRelease(widget, Qt::LeftButton, Qt::NoModifier, to);
}

} // namespace

class tst_ViewerWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_project;
    QString m_answer; // what the save dialog answers

    bool openWindow(ViewerWindow &window)
    {
        window.resize(1280, 800);
        window.show();
        QSignalSpy built(&window, &ViewerWindow::summaryBuilt);
        if (!window.openProject(m_project))
            return false;
        if (!window.summaryReady() && !built.wait(30000))
            return false;
        return QTest::qWaitForWindowExposed(&window);
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QStandardPaths::setTestModeEnabled(true);
        ViewerWindow::askSavePath = [this](QWidget *, const QString &, const QString &,
                                           const QString &) { return m_answer; };
        m_project = m_dir.filePath(QStringLiteral("week.qlk"));
        QVector<Device> devices;
        for (const QString &serial : serials16()) {
            devices.append(device(serial, QStringLiteral("Room %1").arg(devices.size() + 1)));
            devices.last().ch1Min = 10;
            devices.last().ch1Max = 24;
        }
        QVERIFY(writeProject(m_project, devices, 60000, QStringLiteral("2026-01-02 00:00:00"),
                             QStringLiteral("2026-01-03 00:00:00")));
        QVector<Row> rows = polls(serials16(), kStart, kWeekPolls, 60, weekValue);
        rows.erase(
            std::remove_if(rows.begin(), rows.end(),
                           [](const Row &r) { return r.time > kGapFrom && r.time < kGapTo; }),
            rows.end());
        QVERIFY(appendRows(databaseOf(m_project), rows));
    }

    // Presets, wheel zoom, a drawn rectangle, drag pan and Back, with the
    // picture of a week of 16 devices and of a zoomed hour with a gap.
    void rangesZoomPanAndBack()
    {
        ViewerWindow window;
        QVERIFY(openWindow(window));
        for (int i = 2; i < 32; ++i)
            window.setSeriesShown(i, i % 2 == 0); // channel 1 of all 16
        window.applyPreset(ViewerWindow::Everything);
        QCOMPARE(window.visibleFrom(), kStart);
        QCOMPARE(window.visibleTo(), kStart + qint64(kWeekPolls - 1) * 60);
        QCOMPARE(window.shownSeries().size(), 17);
        saveShot(&window, QStringLiteral("viewer-week-16-devices"));
        // One value axis per unit, each line and limit line on its unit's axis.
        auto *viewer = window.findChild<QChartViewer *>(QStringLiteral("chart_viewer"));
        XYChart *chart = viewer->chart();
        QCOMPARE(chart->yAxisCount(), 2);
        QCOMPARE(chart->yAxis()->title(), window.shownSeries().at(0).unit);
        for (int z = 0; z < chart->getLayerCount(); ++z) {
            const ChartDataSet *line = chart->getLayerByZ(z)->getDataSetByZ(0);
            const ChartAxis *axis = line->getUseYAxis();
            QVERIFY(axis->hasScale() && !axis->title().isEmpty());
            if (line->getDataName() != QStringLiteral("limit"))
                QVERIFY2(line->getDataName().endsWith(QStringLiteral("(%1)").arg(axis->title())),
                         qPrintable(line->getDataName()));
        }

        window.applyPreset(ViewerWindow::LastHour);
        QCOMPARE(window.visibleTo() - window.visibleFrom(), qint64(3600));
        window.applyPreset(ViewerWindow::RecordingPeriod);
        QCOMPARE(
            QDateTime::fromSecsSinceEpoch(window.visibleFrom()).toString("yyyy-MM-dd hh:mm:ss"),
            QStringLiteral("2026-01-02 00:00:00"));
        QVERIFY(window.goBack());
        QCOMPARE(window.visibleTo() - window.visibleFrom(), qint64(3600));

        // The wheel zooms in around the mouse.
        window.applyPreset(ViewerWindow::Last24Hours);
        const QPoint centre(viewer->getPlotAreaLeft() + viewer->getPlotAreaWidth() / 2,
                            viewer->getPlotAreaTop() + viewer->getPlotAreaHeight() / 2);
        QWheelEvent wheel(centre, viewer->mapToGlobal(centre), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewer, &wheel);
        QTRY_VERIFY(window.visibleTo() - window.visibleFrom() < 86400);
        const qint64 zoomed = window.visibleTo() - window.visibleFrom();
        QVERIFY(std::abs(zoomed - 86400 * 4 / 5) < 120);

        // A drag moves the range back in time and keeps its width.
        const qint64 before = window.visibleFrom();
        drag(viewer, centre, centre + QPoint(200, 0));
        QTRY_VERIFY(window.visibleFrom() < before);
        QVERIFY(std::abs((window.visibleTo() - window.visibleFrom()) - zoomed) <= 2);
        QTest::qWait(50); // the release is taken in through the event loop
        QVERIFY(window.goBack());
        QCOMPARE(window.visibleFrom(), before);

        // A drawn rectangle zooms onto its width.
        window.findChild<QPushButton *>(QStringLiteral("btn_zoom"))->click();
        drag(viewer, centre, centre + QPoint(100, 30));
        QTRY_VERIFY(window.visibleTo() - window.visibleFrom() < zoomed / 2);

        // The hour of the gap, drawn as a gap.
        window.showRange(kGapFrom - 1800, kGapTo + 1800);
        const SeriesView &view = window.seriesViews().at(0);
        int breaks = 0;
        for (double y : view.y)
            breaks += y == NoValue ? 1 : 0;
        QCOMPARE(breaks, 1);
        const QString cursor = window.cursorText(kGapFrom + 1800);
        QVERIFY2(cursor.contains(QStringLiteral("no value")), qPrintable(cursor));
        QVERIFY2(window.cursorText(kGapFrom - 600)
                     .contains(QString::number(weekValue(0, 1, kGapFrom - 600), 'g', 6)),
                 qPrintable(window.cursorText(kGapFrom - 600)));
        QTest::mouseMove(viewer, centre);
        saveShot(&window, QStringLiteral("viewer-zoomed-hour-gap"));
    }

    // The table shows each series' statistics of the range on show.
    void statisticsTable()
    {
        ViewerWindow window;
        QVERIFY(openWindow(window));
        // One day, whole minutes: device 1 peaks once a day at +9.
        window.showRange(kStart, kStart + 86400 - 1);
        auto *table = window.findChild<QTableWidget *>(QStringLiteral("table_stats"));
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 6)->text(), QString::number(1440));
        const SeriesStatistics &s = window.seriesViews().at(0).stats;
        QCOMPARE(s.maximumTime(), kStart); // the spike at midnight
        QCOMPARE(s.maximum(), weekValue(0, 1, kStart));
        QVERIFY(table->item(0, 3)->text().startsWith(QString::number(s.maximum(), 'g', 6)));
        QVERIFY(s.outsideSeconds() > 0); // 18 + 4 + 9 > 24
    }

    void exportsCsvAndPng()
    {
        ViewerWindow window;
        QVERIFY(openWindow(window));
        window.showRange(kStart, kStart + 3599);
        QSignalSpy finished(&window, &ViewerWindow::exportFinished);
        m_answer = m_dir.filePath(QStringLiteral("hour.csv"));
        window.exportCsv();
        QVERIFY(window.exportRunning() || finished.count() == 1);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QFile csv(m_answer);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), 61);

        // Cancel: the export of the whole week stops and leaves no file.
        window.applyPreset(ViewerWindow::Everything);
        m_answer = m_dir.filePath(QStringLiteral("week.csv"));
        window.exportCsv();
        QVERIFY(window.exportRunning());
        window.findChild<QPushButton *>(QStringLiteral("btn_cancel"))->click();
        QVERIFY(!window.exportRunning());
        QVERIFY(!QFileInfo::exists(m_answer));

        m_answer = m_dir.filePath(QStringLiteral("chart.png"));
        window.exportPng();
        QImage image(m_answer);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), window.chartImage().size());

        // A folder that does not exist: a message, no file.
        m_answer = m_dir.filePath(QStringLiteral("missing/x.csv"));
        window.exportCsv();
        QVERIFY(!window.exportRunning());
        QVERIFY(!TestSupport::shownMessages(&window)
                     .filter(QStringLiteral("does not exist"))
                     .isEmpty());
    }

    void openErrors()
    {
        ViewerWindow window;
        QVERIFY(!window.openProject(m_dir.filePath(QStringLiteral("nothing.qlk"))));
        const QString lonely = m_dir.filePath(QStringLiteral("lonely.qlk"));
        QVERIFY(writeProject(lonely, {device(QStringLiteral("L1"), QStringLiteral("L"))}, 1000));
        QVERIFY(!window.openProject(lonely));
        const QStringList messages = TestSupport::shownMessages(&window);
        QCOMPARE(messages.size(), 2);
        QVERIFY(messages.at(0).startsWith(QStringLiteral("ERROR|")));
        QVERIFY2(messages.at(1).contains(QStringLiteral("There is no record database")),
                 qPrintable(messages.at(1)));
    }

    // The recorder writes 16 devices a second into the file while the
    // viewer follows, pans and redraws: no row is lost, no write fails.
    void readsWhileTheRecorderWrites()
    {
        QTemporaryDir dir;
        const QString project = dir.filePath(QStringLiteral("live.qlk"));
        QVector<Device> devices;
        for (const QString &serial : serials16())
            devices.append(device(serial, serial));
        QVERIFY(writeProject(project, devices, 1000));
        const QString database = databaseOf(project);

        InsertSerialData recorder(database, QStringLiteral("live"));
        QVERIFY(recorder.createConnection());
        QSignalSpy failures(&recorder, &InsertSerialData::writeFailed);
        const qint64 dropped = InsertSerialData::droppedCount();
        auto record = [&](qint64 t) {
            for (int d = 0; d < 16; ++d) {
                SerialRecord row;
                row.serialNo = serials16().at(d);
                row.channel1 = double(t % 1000) + d;
                row.channel2 = d;
                row.pointDate = quint32(t);
                InsertSerialData::appendRecord(row);
            }
            recorder.writeQueued();
        };
        const qint64 start = 1780000000;
        for (int s = 0; s < 60; ++s)
            record(start + s);
        QVERIFY(recorder.insertNow());

        ViewerWindow window;
        window.resize(1000, 700);
        window.show();
        QVERIFY(window.openProject(project));
        QTRY_VERIFY(window.summaryReady());
        window.setFollow(true);
        const int seconds = 1500;
        for (int s = 60; s < seconds; ++s) {
            record(start + s);
            if (s % 20 == 0) {
                window.refreshFromDatabase();
                QVERIFY(window.visibleTo() <= start + s);
            }
            if (s % 50 == 0) {
                window.showRange(start, start + s / 2); // a look back
                window.setFollow(true);
            }
            QCoreApplication::processEvents();
        }
        recorder.finishWrites();
        QVERIFY(recorder.insertNow());
        window.refreshFromDatabase();
        QCOMPARE(failures.count(), 0);
        QCOMPARE(InsertSerialData::droppedCount(), dropped);
        QCOMPARE(InsertSerialData::pendingCount(), qsizetype(0));
        QCOMPARE(TestSupport::sqlRows(
                     database,
                     QStringLiteral("select count(*), count(distinct pointDate) from fennolink"))
                     .value(0),
                 (QVariantList{qint64(16) * seconds, qint64(seconds)}));
        QCOMPARE(window.visibleTo(), start + seconds - 1);
        QCOMPARE(window.seriesViews().at(0).stats.samples() > 0, true);
    }
};

QTEST_MAIN(tst_ViewerWindow)
#include "tst_viewerwindow.moc"
