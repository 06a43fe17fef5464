#pragma once

#include "common/projectdocument.h"
#include "record/recordcontext.h"
#include "viewer/csvexporter.h"
#include "viewer/rangeloader.h"
#include "viewer/seriescatalog.h"

#include <QFuture>
#include <QPair>
#include <QTimer>
#include <QVector>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

namespace Ui
{
class ViewerWindow;
}

class QMenu;
class RecordReader;
class SummaryCache;
class ChartAxis;
class XYChart;

// The data viewer's window: the channels of a project's recording on one
// time chart with presets, pickers, zoom, pan, back, a track cursor, alarm
// limit lines, per-series statistics of the range on show, Follow, and
// export to CSV and PNG.
//
// The chart's full range is the recording (grown to any range asked for);
// the range on show is the chart's view port within it.
class ViewerWindow : public QWidget
{
    Q_OBJECT
public:
    // Asks for a file name to save to (empty: cancelled). Tests answer it.
    using SavePathHook = std::function<QString(QWidget *, const QString &caption,
                                               const QString &suggested, const QString &filter)>;
    static SavePathHook askSavePath;
    // Asks for a file to open (empty: cancelled). Tests answer it.
    static SavePathHook askOpenPath;

    enum Preset { LastHour, Last24Hours, Last7Days, RecordingPeriod, Everything, Custom };

    explicit ViewerWindow(QWidget *parent = nullptr);
    ~ViewerWindow() override;

    // Opens a project and its recording, or a record file on its own (its
    // devices named by number, or as the file describes them); false, with a
    // message that stays until closed, when it cannot be read. A failed open
    // leaves what was on show.
    bool openProject(const QString &path);
    bool isLoaded() const { return m_loaded; }

    // The series on show, in catalog order.
    QVector<SeriesInfo> shownSeries() const;
    void setSeriesShown(int catalogIndex, bool shown);
    // The range on show, Unix seconds.
    qint64 visibleFrom() const { return m_visibleFrom; }
    qint64 visibleTo() const { return m_visibleTo; }
    void showRange(qint64 from, qint64 to);
    void applyPreset(Preset preset);
    bool goBack();
    const QVector<SeriesView> &seriesViews() const { return m_views; }
    // The alarm events of the range on show, of the series on show.
    const QVector<RecordAlarmEvent> &alarmEvents() const { return m_events; }
    // The event text under the mouse (empty when there is none).
    QString eventTip() const { return m_eventTip; }
    // The cursor text for a time (what the cursor line shows).
    QString cursorText(qint64 time) const;
    bool summaryReady() const { return m_summaryReady; }
    bool exportRunning() const { return m_exporter != nullptr; }
    // Redraws now (the viewer's own redraws are merged and come later).
    void redrawNow();
    // The chart picture on show, and as exported: with a title and a legend.
    QImage chartImage() const;
    QImage exportImage() const;

public slots:
    // Asks for a project or record file and opens it.
    void openFile();
    void exportCsv();
    void exportPng();
    void cancelWork();
    void setFollow(bool follow);
    // Reads what was recorded since (bounds, summary) and, with Follow on,
    // moves the range to the newest data. Called every two seconds.
    void refreshFromDatabase();

signals:
    void exportFinished(bool ok);
    void summaryBuilt();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool openSource(const ProjectDocument &project, const QString &databasePath, bool bare);
    void fillRecentMenu();
    // Lists devices the file holds but the project does not, under their number.
    void addUnlistedDevices(const QStringList &numbers);
    void showError(const QString &text);
    void updateProjectLabel();
    void setupSeriesTree();
    void setupStatsTable();
    void refreshBounds();
    void setViewPortFor(qint64 from, qint64 to);
    void pushHistory();
    void loadRange();
    void drawChart();
    void drawCursor(int mouseX);
    bool searchableByTime() const;
    void fillStatistics();
    void setupEventsTable();
    void loadAlarmContext();
    void fillEvents();
    QString alarmEventText(const RecordAlarmEvent &event) const;
    void drawAlarmContext(XYChart *chart, const QVector<ChartAxis *> &axisOfSeries);
    void showEventAt(qint64 time, const QPoint &globalPos);
    void startSummary();
    void summaryStep();
    void stopSummaryBuild();
    void setupCsvChoice();
    // The CSV format chosen beside the export button.
    CsvFormat csvFormat() const;
    // A file named after the project, in its folder, for an export.
    QString besideProject(const char *extension) const;
    void exportStep();
    void showWork(const QString &text);
    void endWork(const QString &text);
    void updateRangeEdits();
    // Shows the range the fields name, explaining a time a change of summer
    // time skipped or showed twice.
    void applyRangeEdits();
    void updateModeButtons();
    void onWheel(QWheelEvent *event);

    Ui::ViewerWindow *ui;
    ProjectDocument m_project;
    QString m_databasePath;
    bool m_bareDatabase = false; // a record file opened without its project
    QMenu *m_recentMenu = nullptr;
    SeriesCatalog m_catalog;
    std::unique_ptr<RecordReader> m_reader;
    std::unique_ptr<SummaryCache> m_summary;
    // The summary being built on its own thread.
    std::unique_ptr<SummaryCache> m_building;
    QFuture<void> m_buildFuture;
    std::atomic<qint64> m_buildProgress{0};
    std::atomic<bool> m_buildCancel{false};
    std::atomic<bool> m_buildDone{false};
    qint64 m_buildResult = 0;
    qint64 m_buildUpTo = 0;
    QString m_buildError;
    bool m_summaryReady = false;
    int m_intervalSeconds = 10;
    bool m_keepsSettings = false; // the file keeps the settings in force

    qint64 m_dataFrom = 0; // first and last time in the database
    qint64 m_dataTo = 0;
    qint64 m_fullFrom = 0; // the chart's full range
    qint64 m_fullTo = 0;
    qint64 m_visibleFrom = 0;
    qint64 m_visibleTo = 0;
    QVector<QPair<qint64, qint64>> m_history;
    QPair<qint64, qint64> m_pressRange;

    QVector<SeriesInfo> m_shown;
    QVector<SeriesView> m_views;
    QVector<int> m_colors;
    QVector<RecordAlarmEvent> m_events;
    QVector<RecordDeviceSettings> m_settings;
    QString m_eventTip;
    bool m_loaded = false;
    bool m_applyingPreset = false;
    bool m_reload = false; // the range on show is read again at the next redraw

    QTimer m_summaryTimer;
    QTimer m_exportTimer;
    QTimer m_followTimer;
    std::unique_ptr<CsvExporter> m_exporter;
    bool m_follow = false;
};
