#include "report/reportwindow.h"
#include "ui_reportwindow.h"

#include <QCalendarWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextCharFormat>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>

#include "common/common.h"
#include "common/messagedialog.h"
#include "report/periodreport.h"
#include "report/reportoutput.h"
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
    PeriodReport::Kind kind = PeriodReport::Kind::Daily;
    QDate day;
    QDate lastDay;
    double mktEnergy = PeriodStatistics::kDefaultMktEnergy;
    PeriodReport::Outcome outcome = PeriodReport::Outcome::Failed;
    bool useDefaultDay = false; // the project's own day, found once it is read
    QTimeZone zone;
    std::unique_ptr<PeriodReport> report = std::make_unique<PeriodReport>();
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
    connect(ui->date_to, &QDateEdit::dateChanged, this, &ReportWindow::slotDayChanged);
    connect(ui->combo_kind, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ReportWindow::slotKindChanged);
    connect(ui->spin_mkt, &QDoubleSpinBox::editingFinished, this,
            [this]() { slotDayChanged(QDate()); });
    // A picker that reads well on the dark window: dark numbers on white,
    // the days with data in bold blue.
    for (QDateEdit *edit : {ui->date_day, ui->date_to}) {
        QCalendarWidget *calendar = edit->calendarWidget();
        calendar->setStyleSheet(QStringLiteral(
            "QWidget { color: rgb(20, 20, 20); background-color: white; font-weight: normal; }"
            "QAbstractItemView:disabled { color: rgb(150, 150, 150); }"
            "QToolButton { color: rgb(20, 20, 20); }"));
        connect(calendar, &QCalendarWidget::currentPageChanged, this,
                &ReportWindow::slotMonthShown);
    }
    ui->date_to->setDate(QDate::currentDate());
    ui->label_to->setVisible(false);
    ui->date_to->setVisible(false);
    connect(ui->btn_savePdf, &QPushButton::clicked, this, &ReportWindow::slotSavePdf);
    connect(ui->btn_print, &QPushButton::clicked, this, &ReportWindow::slotPrint);
    connect(ui->btn_saveCsv, &QPushButton::clicked, this, &ReportWindow::slotSaveCsv);
    ui->label_status->setText(tr("Open a project to see its report."));
    updateButtons();
}

ReportWindow::~ReportWindow()
{
    if (m_worker) {
        m_worker->waitForFinished();
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
    m_projectPath = PeriodReport::unquotedPath(path);
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

void ReportWindow::setKind(PeriodReport::Kind kind)
{
    ui->combo_kind->setCurrentIndex(int(kind));
}

PeriodReport::Kind ReportWindow::kind() const
{
    return PeriodReport::Kind(ui->combo_kind->currentIndex());
}

void ReportWindow::setLastDay(const QDate &day)
{
    ui->date_to->setDate(day);
}

void ReportWindow::setMktEnergy(double kjPerMol)
{
    ui->spin_mkt->setValue(kjPerMol);
    slotDayChanged(QDate());
}

void ReportWindow::slotKindChanged()
{
    const bool haccp = kind() == PeriodReport::Kind::Haccp;
    ui->label_to->setVisible(haccp);
    ui->date_to->setVisible(haccp);
    if (haccp) {
        // The month around the day chosen, to be narrowed at will.
        int days = 0;
        const QDate first = PeriodReport::periodStart(kind(), ui->date_day->date(), &days);
        const QSignalBlocker block(ui->date_to);
        const QSignalBlocker blockDay(ui->date_day);
        ui->date_to->setDate(first.addDays(days - 1));
        ui->date_day->setDate(first);
    }
    slotDayChanged(QDate());
}

void ReportWindow::slotMonthShown(int year, int month)
{
    markDays(year, month);
}

void ReportWindow::markDays(int year, int month)
{
    QTextCharFormat plain;
    QTextCharFormat marked;
    marked.setFontWeight(QFont::Bold);
    marked.setForeground(QColor(0, 70, 170));
    marked.setBackground(QColor(215, 230, 250));
    const QDate first(year, month, 1);
    const QDate last = first.addDays(first.daysInMonth() - 1);
    for (QDate day : m_marked) {
        ui->date_day->calendarWidget()->setDateTextFormat(day, plain);
        ui->date_to->calendarWidget()->setDateTextFormat(day, plain);
    }
    m_marked.clear();
    if (m_projectPath.isEmpty())
        return;
    ProjectDocument project;
    QString reason;
    if (!project.load(m_projectPath, &reason))
        return;
    m_marked = PeriodReport::daysWithData(project.databasePath(), first, last, m_zone);
    for (QDate day : m_marked) {
        ui->date_day->calendarWidget()->setDateTextFormat(day, marked);
        ui->date_to->calendarWidget()->setDateTextFormat(day, marked);
    }
}

void ReportWindow::slotPreviousDay()
{
    int days = 1;
    const QDate first = PeriodReport::periodStart(kind(), ui->date_day->date(), &days);
    ui->date_day->setDate(kind() == PeriodReport::Kind::Monthly ? first.addMonths(-1)
                                                                : first.addDays(-days));
}

void ReportWindow::slotNextDay()
{
    int days = 1;
    const QDate first = PeriodReport::periodStart(kind(), ui->date_day->date(), &days);
    ui->date_day->setDate(first.addDays(days));
}

void ReportWindow::startReading(bool useDefaultDay)
{
    auto job = std::make_shared<Job>();
    job->useDefaultDay = useDefaultDay;
    job->projectPath = m_projectPath;
    job->day = ui->date_day->date();
    job->lastDay = ui->date_to->date();
    job->kind = kind();
    job->mktEnergy = ui->spin_mkt->value();
    job->zone = m_zone;
    setBusy(true);
    ui->label_status->setText(tr("Reading %1 ...").arg(job->day.toString(Qt::ISODate)));
    m_worker = new QFutureWatcher<void>(this);
    connect(m_worker, &QFutureWatcher<void>::finished, this, [this, job]() { finishReading(job); });
    m_worker->setFuture(QtConcurrent::run([job]() {
        job->projectOk = job->report->loadProject(job->projectPath, &job->error);
        if (!job->projectOk)
            return;
        const QDateTime now = QDateTime::currentDateTime().toTimeZone(job->zone);
        if (job->useDefaultDay)
            job->day = PeriodReport::defaultDay(job->report->project(), job->zone, now.date());
        int days = 1;
        QDate first = PeriodReport::periodStart(job->kind, job->day, &days);
        if (job->kind == PeriodReport::Kind::Haccp && !job->useDefaultDay &&
            job->lastDay >= job->day) {
            first = job->day;
            days = int(std::min<qint64>(job->day.daysTo(job->lastDay) + 1, 366));
        }
        job->outcome = job->report->compute(job->kind, first, days, job->zone, now, &job->error,
                                            job->mktEnergy);
        job->ok = job->outcome != PeriodReport::Outcome::Failed;
    }));
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
        if (job->ok) {
            const QSignalBlocker blockTo(ui->date_to);
            ui->date_to->setDate(job->report->statistics().lastDay());
        }
    }
    markDays(ui->date_day->calendarWidget()->yearShown(),
             ui->date_day->calendarWidget()->monthShown());
    if (!job->ok) {
        m_report.reset();
        showPreview();
        fail(job->projectOk ? kWarning : kError, job->error);
        emit reportFinished(false);
        return;
    }
    m_report = std::move(job->report);
    showPreview();
    const PeriodStatistics &statistics = m_report->statistics();
    ui->label_project->setText(m_report->projectTitle());
    ui->label_status->setText(statistics.totalRows() == 0
                                  ? tr("%1: no data.").arg(m_report->title())
                                  : tr("%1: %2 rows, %3 pages.")
                                        .arg(m_report->title())
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
    QString title = m_report ? m_report->title() : ui->date_day->date().toString(Qt::ISODate);
    title.replace(QLatin1Char(' '), QLatin1Char('-'));
    return project.absolutePath() +
           QStringLiteral("/%1-%2.%3").arg(project.completeBaseName(), title.toLower(), suffix);
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
    m_printer->setDocName(m_report ? m_report->title() : QStringLiteral("Report"));
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
    ReportOutput output(
        ReportOutput::projectFiles(m_report->project().path, m_report->project().databasePath()));
    const bool period = m_report->kind() == PeriodReport::Kind::Weekly ||
                        m_report->kind() == PeriodReport::Kind::Monthly;
    const bool ok =
        output.add(
            path,
            ReportTable::csv(ReportTable::summaryHeader(), ReportTable::summaryRows(*m_report)),
            &error) &&
        output.add(
            ReportTable::besidePath(path, QStringLiteral("excursions")),
            ReportTable::csv(ReportTable::excursionHeader(), ReportTable::excursionRows(*m_report)),
            &error) &&
        (!period ||
         output.add(ReportTable::besidePath(path, QStringLiteral("days")),
                    ReportTable::csv(ReportTable::dayHeader(), ReportTable::dayRows(*m_report)),
                    &error)) &&
        output.commit(&error);
    if (!ok) {
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
