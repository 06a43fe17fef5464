#pragma once

#include <QDate>
#include <QFutureWatcher>
#include <QSet>
#include <QTimeZone>
#include <QWidget>

#include <memory>

#include "report/periodreport.h"

class QPrinter;

namespace Ui
{
class ReportWindow;
}

// The window of DavavoZurer: choose a project, the kind of report (daily,
// weekly, monthly, HACCP) and its period, see the report as it will print,
// save it as PDF, print it, save its tables as CSV. The day picker marks the
// days that hold data.
//
// The day's rows are read on a worker thread so that the window stays alive
// while a large file is read; the report is shown once it is complete.
class ReportWindow : public QWidget
{
    Q_OBJECT

public:
    explicit ReportWindow(QWidget *parent = nullptr);
    ~ReportWindow() override;

    // Opens a file dialog for the project (without waiting for it).
    void askForProject();
    // Reads the project and shows the report of `day` (its default day when
    // invalid).
    void openProject(const QString &path, const QDate &day = QDate());
    // The kind of report shown (Daily until chosen otherwise).
    void setKind(PeriodReport::Kind kind);
    PeriodReport::Kind kind() const;
    // The last day of a HACCP report.
    void setLastDay(const QDate &day);
    void setMktEnergy(double kjPerMol);
    // The days of the picker's month that hold data.
    QSet<QDate> markedDays() const { return m_marked; }
    // The zone whose midnights bound the day (the system's by default).
    void setZone(const QTimeZone &zone) { m_zone = zone; }

    bool isBusy() const { return m_busy; }
    // The report on show; null before the first one is ready.
    const PeriodReport *report() const { return m_report.get(); }
    QDate day() const;
    int previewPageCount() const;
    QString statusText() const;

    // What the Save PDF, Print and Save CSV buttons do once their dialog is
    // answered. False (and a message) on failure.
    bool savePdfTo(const QString &path);
    bool saveCsvTo(const QString &path);
    bool printTo(QPrinter *printer);

signals:
    // A report was read (or failed to be); the preview is up to date.
    void reportFinished(bool ok);

private slots:
    void slotOpenProject();
    void slotPreviousDay();
    void slotNextDay();
    void slotDayChanged(const QDate &day);
    void slotKindChanged();
    void slotMonthShown(int year, int month);
    void slotSavePdf();
    void slotPrint();
    void slotSaveCsv();

private:
    struct Job;
    void startReading(bool useDefaultDay = false);
    void finishReading(const std::shared_ptr<Job> &job);
    void showPreview();
    void setBusy(bool busy);
    void updateButtons();
    void fail(const QString &title, const QString &text);
    QString suggestedPath(const QString &suffix) const;
    void markDays(int year, int month);
    QSet<QDate> m_marked;

    Ui::ReportWindow *ui;
    QTimeZone m_zone;
    QString m_projectPath;
    std::unique_ptr<PeriodReport> m_report;
    std::unique_ptr<QPrinter> m_printer;
    // The report being read, off the window's thread.
    QFutureWatcher<void> *m_worker = nullptr;
    bool m_busy = false;
    bool m_readAgain = false;
    bool m_readAgainDefaultDay = false;
};
