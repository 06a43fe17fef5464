#include "viewer/viewerwindow.h"

#include "viewer/recentprojects.h"

#include "chart/chartdataset.h"
#include "chart/linelayer.h"
#include "chart/qchartviewer.h"
#include "chart/xychart.h"
#include "common/common.h"
#include "projectfixture.h"
#include "record/recordjournal.h"
#include "recordfixture.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>
#include <QtTest>

#include <cmath>

using namespace TestSupport;

namespace
{

constexpr qint64 kStart = 1767225600;    // 2026-01-01 00:00 UTC
constexpr int kWeekPolls = 14 * 24 * 60; // one a minute: the summary draws it whole
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
        return kNoReading;
    const double day = std::sin(double(t - kStart) / 86400.0 * 2 * M_PI);
    return (c == 1 ? 18 + d * 0.8 : 40 + d * 2) + day * (c == 1 ? 4 : 10) +
           ((t / 60 + d) % 1440 == 0 ? 9 : 0);
}

// The probe of the seconds project: it crosses its limits in mid-minute.
double probeValue(qint64 t)
{
    return 20 + 4.5 * std::sin(double(t) / 97.0) + double(t % 7) / 100;
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
    QString m_answer;  // what the save and open dialogs answer
    QString m_seconds; // one device a second for three days, its clock once back
    QString m_markup;  // names that look like markup
    QString m_partly;  // a project that lists 15 of the 16 devices recorded
    int m_fresh = 0;

    bool openWindow(ViewerWindow &window, const QString &path = QString())
    {
        window.resize(1280, 800);
        window.show();
        QSignalSpy built(&window, &ViewerWindow::summaryBuilt);
        if (!window.openProject(path.isEmpty() ? m_project : path))
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
        ViewerWindow::askOpenPath = ViewerWindow::askSavePath;
        m_project = m_dir.filePath(QStringLiteral("week.qlk"));
        QVector<ProjectDocument::Node> devices;
        for (const QString &serial : serials16())
            devices << projectDevice(serial, QStringLiteral("Room %1").arg(devices.size() + 1), 10,
                                     24);
        QVERIFY(writeDeviceProject(m_project, 60000, devices, QStringLiteral("2026-01-02 00:00:00"),
                                   QStringLiteral("2026-01-03 00:00:00")));
        QVector<Row> rows = polls(serials16(), kStart, kWeekPolls, 60, weekValue);
        rows.erase(
            std::remove_if(rows.begin(), rows.end(),
                           [](const Row &r) { return r.time > kGapFrom && r.time < kGapTo; }),
            rows.end());
        QVERIFY(appendRecordRows(databaseOf(m_project), rows));

        QVERIFY(writeDeviceProject(m_dir.filePath(QStringLiteral("lonely.qlk")), 1000,
                                   devices.mid(0, 1)));
        m_partly = m_dir.filePath(QStringLiteral("partly.qlk"));
        QVERIFY(writeDeviceProject(m_partly, 60000, devices.mid(0, 15)));
        QVERIFY(QFile::copy(databaseOf(m_project), databaseOf(m_partly)));
        m_markup = m_dir.filePath(QStringLiteral("markup.qlk"));
        QVERIFY(writeDeviceProject(
            m_markup, 60000,
            {projectDevice(serials16().at(0), QStringLiteral("<i>Room</i> &amp;"))}));
        QSettings(m_markup, QSettings::IniFormat)
            .setValue(QStringLiteral("projectName"),
                      QStringLiteral("<b>Bold</b><img src=/dev/zero>"));
        QVERIFY(QFile::copy(databaseOf(m_project), databaseOf(m_markup)));

        // A value that crosses its limits in mid-minute, then 1,800 seconds at
        // 99 °C recorded after the clock went back an hour.
        m_seconds = m_dir.filePath(QStringLiteral("seconds.qlk"));
        const QString probe = QStringLiteral("QKSEC000000000001");
        QVERIFY(writeDeviceProject(m_seconds, 1000,
                                   {projectDevice(probe, QStringLiteral("Probe"), 16, 24)}));
        QVector<Row> seconds = polls({probe}, kStart, 3 * 86400, 1, [](int, int c, qint64 t) {
            return c == 2 ? 50.0 : probeValue(t);
        });
        for (qint64 t = kStart + 2 * 86400; t < kStart + 2 * 86400 + 1800; ++t)
            seconds.append({probe, 99, 50, t});
        QVERIFY(appendRecordRows(databaseOf(m_seconds), seconds));
        // Two excursions the recorder's alarm saw: one acknowledged with its
        // corrective action, one still open.
        const QString events =
            QStringLiteral(
                "insert into qk_alarm_events (token, serialno, channel, high, limit_value, "
                "start_time, end_time, worst) values (1, '%1', 1, 1, 24, %2, %3, 24.5), "
                "(2, '%1', 1, 0, 16, %4, null, 15.5);"
                "insert into qk_alarm_acks (event_token, ack_by, ack_at, action) values "
                "(1, 'Ann', %3, '<b>Door closed</b>, fan checked');")
                .arg(probe)
                .arg(kStart + 3600)
                .arg(kStart + 3 * 3600)
                .arg(kStart + 20 * 3600);
        QVERIFY(sqliteCli(databaseOf(m_seconds), RecordJournal::kTablesSql + events));
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
        QCOMPARE(window.seriesViews().at(0).y.count(NoValue), 1);
        const QString cursor = window.cursorText(kGapFrom + 1800);
        QVERIFY2(cursor.contains(QStringLiteral("no value")), qPrintable(cursor));
        QVERIFY2(window.cursorText(kGapFrom - 600)
                     .contains(QString::number(weekValue(0, 1, kGapFrom - 600), 'g', 6)),
                 qPrintable(window.cursorText(kGapFrom - 600)));
        QTest::mouseMove(viewer, centre);

        // Times that summer time skipped or showed twice, typed as on the
        // wall, explained in the status line as on the command line.
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        auto *from = window.findChild<QDateTimeEdit *>(QStringLiteral("edit_from"));
        auto *to = window.findChild<QDateTimeEdit *>(QStringLiteral("edit_to"));
        auto *status = window.findChild<QLabel *>(QStringLiteral("label_status"));
        const qint64 shown = window.visibleFrom();
        from->setDateTime(QDateTime(QDate(2026, 3, 29), QTime(2, 30), Qt::UTC));
        window.findChild<QPushButton *>(QStringLiteral("btn_apply"))->click();
        QVERIFY2(status->text().contains(QStringLiteral("2026-03-29 02:30:00 does not exist")),
                 qPrintable(status->text()));
        QCOMPARE(window.visibleFrom(), shown);
        from->setDateTime(QDateTime(QDate(2026, 10, 25), QTime(2, 30), Qt::UTC));
        to->setDateTime(QDateTime(QDate(2026, 10, 25), QTime(2, 45), Qt::UTC));
        window.findChild<QPushButton *>(QStringLiteral("btn_apply"))->click();
        QVERIFY2(
            status->text().contains(QStringLiteral("earlier one, 2026-10-25T02:30:00+02:00")) &&
                status->text().contains(QStringLiteral("later one, 2026-10-25T02:45:00+01:00")),
            qPrintable(status->text()));
        QCOMPARE(window.visibleTo() - window.visibleFrom(), qint64(4500));
        qputenv("TZ", zone);
        if (zone.isEmpty())
            qunsetenv("TZ");
        tzset();
    }

    void exportsCsvAndPng()
    {
        ViewerWindow window;
        QVERIFY(openWindow(window));
        window.showRange(kStart, kStart + 3599);
        QSignalSpy finished(&window, &ViewerWindow::exportFinished);
        m_answer = m_dir.filePath(QStringLiteral("hour.csv"));
        window.exportCsv();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toBool(), true);
        QFile csv(m_answer);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(csv.readAll().count('\n'), 61);
        // Tab and decimal comma, kept for the next window; a comma for both is refused.
        auto *separator = window.findChild<QComboBox *>(QStringLiteral("combo_separator"));
        auto *decimal = window.findChild<QComboBox *>(QStringLiteral("combo_decimal"));
        separator->setCurrentIndex(separator->findText(QStringLiteral("Tab")));
        decimal->setCurrentIndex(decimal->findText(QStringLiteral("Decimal comma")));
        window.exportCsv();
        QTRY_COMPARE(finished.count(), 2);
        QFile tabbed(m_answer);
        QVERIFY(tabbed.open(QIODevice::ReadOnly));
        const QList<QByteArray> cells = tabbed.readAll().split('\n').at(1).split('\t');
        QCOMPARE(cells.size(), 3 + window.shownSeries().size());
        QVERIFY2(cells.at(3).contains(',') && !cells.at(3).contains('.'), cells.at(3).constData());
        const ViewerWindow next;
        for (const QComboBox *box : {separator, decimal})
            QCOMPARE(next.findChild<QComboBox *>(box->objectName())->currentIndex(),
                     box->currentIndex());
        separator->setCurrentIndex(separator->findText(QStringLiteral("Comma")));
        window.exportCsv();
        QVERIFY(!window.exportRunning());
        QVERIFY(!shownMessages(&window).filter(QStringLiteral("decimal comma")).isEmpty());
        decimal->setCurrentIndex(decimal->findText(QStringLiteral("Decimal point")));

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
        const QImage image(m_answer);
        // The chart, with a title above and a legend below it.
        QCOMPARE(image.width(), window.chartImage().width());
        QVERIFY(image.height() > window.chartImage().height() + 40);

        // A folder that does not exist: a message, no file.
        m_answer = m_dir.filePath(QStringLiteral("missing/x.csv"));
        window.exportCsv();
        QVERIFY(!window.exportRunning());
        QVERIFY(!TestSupport::shownMessages(&window)
                     .filter(QStringLiteral("does not exist"))
                     .isEmpty());
    }

    // How a user meets the window: opened from the summary's cache or not
    // (the chart drawn to the viewer's size either way), a failed open that
    // leaves its reason on screen and is followed by a good one through the
    // Open button, a record file on its own, and names shown as written.
    void opens_data()
    {
        // Opened first (may fail), then through the Open button; what the
        // project label then says, and the first device row in the list.
        QTest::addColumn<QStringList>("open");
        const QString room = QStringLiteral("Room 1");
        QTest::newRow("uncached") << QStringList{"", "@FRESH@", "week", room};
        QTest::newRow("cached") << QStringList{"", "@PROJECT@", "week", room};
        QTest::newRow("failed, then good")
            << QStringList{"@DIR@/nothing.qlk", "@PROJECT@", "week", room};
        QTest::newRow("no database, then good")
            << QStringList{"@DIR@/lonely.qlk", "@PROJECT@", "week", room};
        QTest::newRow("record file alone")
            << QStringList{"", "@DATABASE@", "without its project", serials16().at(0)};
        QTest::newRow("markup in names")
            << QStringList{"", "@MARKUP@", "<b>Bold</b><img src=/dev/zero>", "<i>Room</i>"};
        QTest::newRow("devices not in the project")
            << QStringList{"", "@PARTLY@", "1 device(s) in the file but not in the project", room};
    }
    void opens()
    {
        QFETCH(QStringList, open);
        const QString first = open.at(0), second = open.at(1), label = open.at(2),
                      device = open.at(3);
        auto resolve = [this](QString path) {
            if (path == QLatin1String("@FRESH@")) {
                // A copy of the week under a new name: no cache yet.
                path = m_dir.filePath(QStringLiteral("fresh%1.qlk").arg(++m_fresh));
                QFile::copy(m_project, path);
                QSettings(path, QSettings::IniFormat)
                    .setValue("databaseName", QFileInfo(path).completeBaseName() + ".dat");
                QFile::copy(databaseOf(m_project), databaseOf(path));
            }
            return path.replace(QStringLiteral("@PROJECT@"), m_project)
                .replace(QStringLiteral("@DATABASE@"), databaseOf(m_project))
                .replace(QStringLiteral("@MARKUP@"), m_markup)
                .replace(QStringLiteral("@PARTLY@"), m_partly)
                .replace(QStringLiteral("@DIR@"), m_dir.path());
        };
        ViewerWindow window;
        window.resize(1280, 800);
        window.show();
        // Opened at once, as the program does with a file on its command
        // line: before the first layout.
        m_answer = resolve(second);
        if (first.isEmpty())
            QVERIFY(window.openProject(m_answer));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *status = window.findChild<QLabel *>(QStringLiteral("label_status"));
        if (!first.isEmpty()) {
            QVERIFY(!window.openProject(resolve(first)));
            QVERIFY(!window.isLoaded());
            const QString reason = QFileInfo(resolve(first)).completeBaseName();
            QVERIFY2(status->text().contains(reason), qPrintable(status->text()));
            QCOMPARE(TestSupport::shownMessages(&window).size(), 1);
            window.findChild<QToolButton *>(QStringLiteral("btn_open"))->click();
        }
        QVERIFY(window.isLoaded());
        QTRY_VERIFY_WITH_TIMEOUT(window.summaryReady(), 30000);
        // The error of the failed open is still there to be read.
        QCOMPARE(TestSupport::shownMessages(&window).size(), first.isEmpty() ? 0 : 1);

        auto *project = window.findChild<QLabel *>(QStringLiteral("label_project"));
        QCOMPARE(project->textFormat(), Qt::PlainText);
        QVERIFY2(project->text().contains(label), qPrintable(project->text()));
        auto *tree = window.findChild<QTreeWidget *>(QStringLiteral("tree_series"));
        QVERIFY2(tree->topLevelItem(0)->text(0).startsWith(device),
                 qPrintable(tree->topLevelItem(0)->text(0)));
        // The chart fills the viewer, however the layout settled.
        auto *viewer = window.findChild<QChartViewer *>(QStringLiteral("chart_viewer"));
        QTRY_VERIFY(viewer->chart() && viewer->chart()->getHeight() == viewer->height() &&
                    viewer->chart()->getWidth() == viewer->width());
        QVERIFY(viewer->getPlotAreaTop() + viewer->getPlotAreaHeight() > viewer->height() - 60);
        // ... and the window gives its height to the chart and the lists.
        const QWidget *splitter = window.findChild<QWidget *>(QStringLiteral("splitter_main"));
        QVERIFY2(splitter->geometry().bottom() > window.height() - 50,
                 qPrintable(QString::number(splitter->geometry().bottom())));
        // A project opened is offered by the recorder's recent list too.
        bool listed = false;
        for (const auto &entry : RecentProjects::load())
            listed = listed || entry.second == QFileInfo(m_answer).absoluteFilePath();
        QCOMPARE(listed, second != QLatin1String("@DATABASE@"));
    }

    // Three days of a sample a second: the cursor shows each series' nearest
    // real sample, with that sample's time, at a zoom where a column holds
    // hours, and its text goes when the range changes.
    void wideRangeOfSeconds()
    {
        ViewerWindow window;
        QVERIFY(openWindow(window, m_seconds));
        window.applyPreset(ViewerWindow::Everything);
        // The whole recording, though its last rows are older than others.
        QCOMPARE(window.visibleTo(), kStart + 3 * 86400 - 1);
        for (const qint64 t : {kStart + 3600 + 17, kStart + 86400 + 7 * 3600 + 44 * 60 + 35}) {
            const QString expected =
                QString::number(probeValue(t), 'g', 6) + QStringLiteral(" °C at ") +
                QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("hh:mm:ss"));
            QVERIFY2(window.cursorText(t).contains(expected),
                     qPrintable(window.cursorText(t) + " / " + expected));
        }
        auto *viewer = window.findChild<QChartViewer *>(QStringLiteral("chart_viewer"));
        auto *cursor = window.findChild<QLabel *>(QStringLiteral("label_cursor"));
        const QPoint centre(viewer->getPlotAreaLeft() + viewer->getPlotAreaWidth() / 2,
                            viewer->getPlotAreaTop() + viewer->getPlotAreaHeight() / 2);
        QMouseEvent move(QEvent::MouseMove, centre, viewer->mapToGlobal(centre), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewer, &move);
        QTRY_VERIFY(!cursor->text().isEmpty());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(viewer, &leave);
        window.showRange(kStart, kStart + 600);
        QVERIFY2(cursor->text().isEmpty(), qPrintable(cursor->text()));

        // The time outside the limits over days, exact although most minutes
        // lie partly outside and the clock once went back.
        window.applyPreset(ViewerWindow::Everything);
        qint64 outside = 1800; // the samples at 99 °C
        for (qint64 t = kStart; t < kStart + 3 * 86400; ++t)
            outside += probeValue(t) < 16 || probeValue(t) > 24;
        QVERIFY(outside > 1800);
        const SeriesStatistics &s = window.seriesViews().at(0).stats;
        QVERIFY(s.outsideExact());
        QCOMPARE(s.outsideSeconds(), outside);
        auto *table = window.findChild<QTableWidget *>(QStringLiteral("table_stats"));
        QCOMPARE(s.maximum(), 99.0); // after the clock went back
        QVERIFY(table->item(0, 3)->text().startsWith(QStringLiteral("99 ")));
        QVERIFY2(!table->item(0, 7)->text().contains(QStringLiteral(">=")),
                 qPrintable(table->item(0, 7)->text()));

        // Alarm events: shaded spans, listed beside the statistics, and the
        // one under the mouse with its corrective action as written.
        window.showRange(kStart, kStart + 86400);
        QCOMPARE(window.alarmEvents().size(), 2);
        auto *events = window.findChild<QTableWidget *>(QStringLiteral("table_events"));
        QCOMPARE(events->rowCount(), 2);
        QCOMPARE(events->item(0, 5)->text(), QStringLiteral("<b>Door closed</b>, fan checked"));
        QCOMPARE(events->item(1, 2)->text(), QStringLiteral("still open"));
        const int x = viewer->chart()->getXCoor(double(kStart + 2 * 3600));
        const int y = viewer->getPlotAreaTop() + 5;
        const QColor inside = window.chartImage().pixelColor(x, y);
        const QColor before =
            window.chartImage().pixelColor(viewer->chart()->getXCoor(double(kStart + 1800)), y);
        QVERIFY2(inside.red() > before.red() + 20, qPrintable(inside.name() + before.name()));
        QMouseEvent over(QEvent::MouseMove, QPoint(x, y + 20), viewer->mapToGlobal(QPoint(x, y)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewer, &over);
        QTRY_VERIFY2(window.eventTip().contains(QStringLiteral("Acknowledged by Ann: <b>Door "
                                                               "closed</b>, fan checked")),
                     qPrintable(window.eventTip()));
    }

    // 16 devices a second are written into the file while the viewer
    // follows, looks back and follows again.
    void readsWhileTheRecorderWrites()
    {
        QTemporaryDir dir;
        const QString project = dir.filePath(QStringLiteral("live.qlk"));
        QVector<ProjectDocument::Node> devices;
        for (const QString &serial : serials16())
            devices << projectDevice(serial, serial);
        QVERIFY(writeDeviceProject(project, 1000, devices));
        const qint64 start = 1780000000;
        auto record = [&](qint64 from, int seconds) {
            return appendRecordRows(databaseOf(project),
                                    polls(serials16(), from, seconds, 1, [](int d, int, qint64 t) {
                                        return double(t % 1000) + d;
                                    }));
        };
        QVERIFY(record(start, 60));
        ViewerWindow window;
        QVERIFY(openWindow(window, project));
        window.setFollow(true);
        for (int s = 60; s < 1500; s += 20) {
            QVERIFY(record(start + s, 20));
            window.refreshFromDatabase();
            QCOMPARE(window.visibleTo(), start + s + 19);
            if (s % 100 == 0) {
                window.showRange(start, start + s / 2); // a look back
                window.setFollow(true);
            }
            QCoreApplication::processEvents();
        }
        QVERIFY(window.seriesViews().at(0).stats.samples() > 0);
    }
};

QTEST_MAIN(tst_ViewerWindow)
#include "tst_viewerwindow.moc"
