#include "report/reportwindow.h"
#include "ui_reportwindow.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QThread>

#include "common/common.h"
#include "common/messagedialog.h"
#include "report/dayreport.h"
#include "report/reportpainter.h"
#include "report/reporttable.h"

namespace
{
constexpr int kPreviewWidth = 820;
const QString kError = QStringLiteral("ERROR");
const QString kWarning = QStringLiteral("WARNING");
const QString kInformation = QStringLiteral("INFORMATION");
} // namespace

// One reading of a day, handed from the worker thread back to the window.
struct ReportWindow::Job {
    QString projectPath;
    QDate day;
    bool useDefaultDay = false; // the project's own day, found once it is read
    QTimeZone zone;
    std::unique_ptr<DayReport> report = std::make_unique<DayReport>();
    bool projectOk = false;
    bool ok = false;
    QString error;
};

ReportWindow::ReportWindow(QWidget *parent)
    : QWidget(parent), ui(new Ui::ReportWindow), m_zone(QTimeZone::systemTimeZone())
{
    ui->setupUi(this);
    ui->date_day->setDate(QDate::currentDate());
    connect(ui->btn_open, &QPushButton::clicked, this, &ReportWindow::slotOpenProject);
    connect(ui->btn_previous, &QPushButton::clicked, this, &ReportWindow::slotPreviousDay);
    connect(ui->btn_next, &QPushButton::clicked, this, &ReportWindow::slotNextDay);
    connect(ui->date_day, &QDateEdit::dateChanged, this, &ReportWindow::slotDayChanged);
    connect(ui->btn_savePdf, &QPushButton::clicked, this, &ReportWindow::slotSavePdf);
    connect(ui->btn_print, &QPushButton::clicked, this, &ReportWindow::slotPrint);
    connect(ui->btn_saveCsv, &QPushButton::clicked, this, &ReportWindow::slotSaveCsv);
    ui->label_status->setText(tr("Open a project to see its daily report."));
    updateButtons();
}

ReportWindow::~ReportWindow()
{
    if (m_worker) {
        m_worker->wait();
        delete m_worker;
    }
    delete ui;
}

QDate ReportWindow::day() const
{
    return ui->date_day->date();
}

int ReportWindow::previewPageCount() const
{
    return ui->widget_pages->findChildren<QLabel *>().size();
}

QString ReportWindow::statusText() const
{
    return ui->label_status->text();
}

void ReportWindow::askForProject()
{
    auto *dialog = new QFileDialog(this, tr("Open Project"),
                                   QFileInfo(m_projectPath).absolutePath(), tr("Project (*.qlk)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString &path) { openProject(path); });
    dialog->open();
}

void ReportWindow::slotOpenProject()
{
    askForProject();
}

void ReportWindow::openProject(const QString &path, const QDate &day)
{
    m_projectPath = DayReport::unquotedPath(path);
    m_report.reset();
    showPreview();
    ui->label_project->setText(QFileInfo(m_projectPath).fileName());
    setWindowTitle(QStringLiteral("DavavoZurer - %1").arg(QFileInfo(m_projectPath).fileName()));
    if (day.isValid()) {
        const QSignalBlocker block(ui->date_day);
        ui->date_day->setDate(day);
    }
    // Without a day the project's own default is taken once it is read.
    m_readAgain = false;
    if (m_busy) {
        m_readAgain = true;
        m_readAgainDefaultDay = !day.isValid();
        return;
    }
    startReading(!day.isValid());
}

void ReportWindow::slotDayChanged(const QDate &)
{
    if (m_projectPath.isEmpty())
        return;
    if (m_busy) {
        m_readAgain = true;
        m_readAgainDefaultDay = false;
        return;
    }
    startReading();
}

void ReportWindow::slotPreviousDay()
{
    ui->date_day->setDate(ui->date_day->date().addDays(-1));
}

void ReportWindow::slotNextDay()
{
    ui->date_day->setDate(ui->date_day->date().addDays(1));
}

void ReportWindow::startReading(bool useDefaultDay)
{
    auto job = std::make_shared<Job>();
    job->useDefaultDay = useDefaultDay;
    job->projectPath = m_projectPath;
    job->day = ui->date_day->date();
    job->zone = m_zone;
    setBusy(true);
    ui->label_status->setText(tr("Reading %1 ...").arg(job->day.toString(Qt::ISODate)));
    m_worker = QThread::create([job]() {
        job->projectOk = job->report->loadProject(job->projectPath, &job->error);
        if (!job->projectOk)
            return;
        const QDateTime now = QDateTime::currentDateTime().toTimeZone(job->zone);
        if (job->useDefaultDay)
            job->day = DayReport::defaultDay(job->report->project(), now.date());
        job->ok = job->report->compute(job->day, job->zone, now, &job->error);
    });
    connect(m_worker, &QThread::finished, this, [this, job]() { finishReading(job); });
    m_worker->start();
}

void ReportWindow::finishReading(const std::shared_ptr<Job> &job)
{
    m_worker->deleteLater();
    m_worker = nullptr;
    setBusy(false);

    if (m_readAgain || job->projectPath != m_projectPath) {
        m_readAgain = false;
        startReading(m_readAgainDefaultDay);
        return;
    }
    if (job->useDefaultDay && job->day.isValid()) {
        const QSignalBlocker block(ui->date_day);
        ui->date_day->setDate(job->day);
    }
    if (!job->ok) {
        m_report.reset();
        showPreview();
        fail(job->projectOk ? kWarning : kError, job->error);
        emit reportFinished(false);
        return;
    }
    m_report = std::move(job->report);
    showPreview();
    const DayStatistics &statistics = m_report->statistics();
    ui->label_project->setText(m_report->projectTitle());
    ui->label_status->setText(
        statistics.totalRows() == 0
            ? tr("No samples were recorded on %1.").arg(statistics.day().toString(Qt::ISODate))
            : tr("%1: %2 rows, %3 pages.")
                  .arg(statistics.day().toString(Qt::ISODate))
                  .arg(statistics.totalRows())
                  .arg(previewPageCount()));
    updateButtons();
    emit reportFinished(true);
}

void ReportWindow::showPreview()
{
    for (QLabel *page : ui->widget_pages->findChildren<QLabel *>())
        delete page;
    if (!m_report)
        return;
    const QVector<QImage> pages = ReportPainter(*m_report).pageImages(kPreviewWidth);
    for (const QImage &image : pages) {
        auto *page = new QLabel(ui->widget_pages);
        page->setPixmap(QPixmap::fromImage(image));
        page->setFixedSize(image.size());
        page->setAlignment(Qt::AlignHCenter);
        ui->layout_pages->addWidget(page, 0, Qt::AlignHCenter);
        page->show();
    }
    // Lay the pages out now rather than at the next turn of the event loop.
    ui->layout_pages->activate();
    ui->widget_pages->resize(ui->scroll_preview->viewport()->width(),
                             ui->widget_pages->sizeHint().height());
}

void ReportWindow::setBusy(bool busy)
{
    m_busy = busy;
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
    updateButtons();
}

void ReportWindow::updateButtons()
{
    const bool ready = m_report && !m_busy;
    ui->btn_savePdf->setEnabled(ready);
    ui->btn_print->setEnabled(ready);
    ui->btn_saveCsv->setEnabled(ready);
    ui->btn_previous->setEnabled(!m_projectPath.isEmpty());
    ui->btn_next->setEnabled(!m_projectPath.isEmpty());
}

void ReportWindow::fail(const QString &title, const QString &text)
{
    qCWarning(lcReport).noquote() << "ReportWindow :" << text;
    ui->label_status->setText(text);
    showMessage(this, title, text);
}

QString ReportWindow::suggestedPath(const QString &suffix) const
{
    const QFileInfo project(m_projectPath);
    const QString day = ui->date_day->date().toString(Qt::ISODate);
    return project.absolutePath() +
           QStringLiteral("/%1-report-%2.%3").arg(project.completeBaseName(), day, suffix);
}

void ReportWindow::slotSavePdf()
{
    auto *dialog = new QFileDialog(this, tr("Save PDF"), suggestedPath(QStringLiteral("pdf")),
                                   tr("PDF (*.pdf)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("pdf"));
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString &path) { savePdfTo(path); });
    dialog->open();
}

void ReportWindow::slotSaveCsv()
{
    auto *dialog = new QFileDialog(this, tr("Save CSV"), suggestedPath(QStringLiteral("csv")),
                                   tr("CSV (*.csv)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    connect(dialog, &QFileDialog::fileSelected, this,
            [this](const QString &path) { saveCsvTo(path); });
    dialog->open();
}

void ReportWindow::slotPrint()
{
    if (!m_printer) {
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        m_printer->setPageSize(QPageSize(QPageSize::A4));
        m_printer->setFullPage(true);
    }
    m_printer->setDocName(
        QStringLiteral("Daily report %1").arg(ui->date_day->date().toString(Qt::ISODate)));
    auto *dialog = new QPrintDialog(m_printer.get(), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this]() { printTo(m_printer.get()); });
    dialog->open();
}

bool ReportWindow::savePdfTo(const QString &path)
{
    if (!m_report)
        return false;
    QString error;
    if (!ReportPainter(*m_report).writePdf(path, &error)) {
        fail(kError, error);
        return false;
    }
    ui->label_status->setText(tr("Saved %1").arg(QDir::toNativeSeparators(path)));
    return true;
}

bool ReportWindow::saveCsvTo(const QString &path)
{
    if (!m_report)
        return false;
    QString error;
    if (!ReportTable::writeCsv(m_report->statistics(), path, &error)) {
        fail(kError, error);
        return false;
    }
    ui->label_status->setText(tr("Saved %1").arg(QDir::toNativeSeparators(path)));
    return true;
}

bool ReportWindow::printTo(QPrinter *printer)
{
    if (!m_report)
        return false;
    printer->setFullPage(true);
    if (!ReportPainter(*m_report).paint(printer)) {
        fail(kError, tr("The report could not be printed."));
        return false;
    }
    ui->label_status->setText(tr("Printed %1 pages.").arg(ReportPainter(*m_report).pageCount()));
    return true;
}
