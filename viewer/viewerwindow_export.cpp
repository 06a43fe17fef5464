// The data viewer's window: the exports to CSV (its separator and decimal
// mark as last chosen) and to PNG.
#include "ui_viewerwindow.h"
#include "viewer/viewerwindow.h"

#include "common/messagedialog.h"
#include "record/recordreader.h"
#include "viewer/csvexporter.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

namespace
{

// Rows written between two looks at the event loop.
constexpr qint64 kExportSliceRows = 200000;

const QString kCsvGroup = QStringLiteral("CsvExport");

} // namespace

void ViewerWindow::setupCsvChoice()
{
    ui->combo_separator->addItem(tr("Comma"), QStringLiteral(","));
    ui->combo_separator->addItem(tr("Semicolon"), QStringLiteral(";"));
    ui->combo_separator->addItem(tr("Tab"), QStringLiteral("tab"));
    ui->combo_decimal->addItem(tr("Decimal point"), false);
    ui->combo_decimal->addItem(tr("Decimal comma"), true);
    // As last chosen; at first as the spreadsheets of this system's locale
    // read it.
    CsvFormat format = CsvFormat::forLocale();
    QSettings settings;
    settings.beginGroup(kCsvGroup);
    format.setSeparatorName(settings.value(QStringLiteral("separator")).toString());
    format.decimalComma =
        settings.value(QStringLiteral("decimalComma"), format.decimalComma).toBool();
    ui->combo_separator->setCurrentIndex(
        std::max(0, ui->combo_separator->findData(format.separatorName())));
    ui->combo_decimal->setCurrentIndex(format.decimalComma ? 1 : 0);
    const auto remember = [this] {
        const CsvFormat chosen = csvFormat();
        QSettings settings;
        settings.beginGroup(kCsvGroup);
        settings.setValue(QStringLiteral("separator"), chosen.separatorName());
        settings.setValue(QStringLiteral("decimalComma"), chosen.decimalComma);
    };
    connect(ui->combo_separator, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            remember);
    connect(ui->combo_decimal, QOverload<int>::of(&QComboBox::currentIndexChanged), this, remember);
}

CsvFormat ViewerWindow::csvFormat() const
{
    CsvFormat format;
    format.setSeparatorName(ui->combo_separator->currentData().toString());
    format.decimalComma = ui->combo_decimal->currentData().toBool();
    // The byte order mark makes spreadsheets read the units' characters right.
    format.bom = true;
    return format;
}

QString ViewerWindow::besideProject(const char *extension) const
{
    return QFileInfo(m_project.path).absolutePath() + QLatin1Char('/') + m_project.projectName +
           QLatin1String(extension);
}

void ViewerWindow::exportCsv()
{
    if (!m_loaded || m_exporter)
        return;
    const QVector<SeriesInfo> series = shownSeries();
    if (series.isEmpty()) {
        showMessage(this, QStringLiteral("WARNING"), tr("Choose at least one channel to export."));
        return;
    }
    const CsvFormat format = csvFormat();
    const QString conflict = format.conflict();
    if (!conflict.isEmpty()) {
        showMessage(this, QStringLiteral("WARNING"), conflict);
        return;
    }
    const QString path =
        askSavePath(this, tr("Export CSV"), besideProject(".csv"), tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(m_reader->path()).absoluteFilePath()) {
        showError(tr("The CSV file would replace the record database."));
        return;
    }
    m_exporter = std::make_unique<CsvExporter>(m_reader.get(), series, m_visibleFrom, m_visibleTo,
                                               path, format);
    if (!m_exporter->start()) {
        showError(m_exporter->errorText());
        m_exporter.reset();
        emit exportFinished(false);
        return;
    }
    showWork(tr("Exporting to %1...").arg(QFileInfo(path).fileName()));
    m_exportTimer.start();
}

void ViewerWindow::exportStep()
{
    if (!m_exporter)
        return;
    const CsvExporter::State state = m_exporter->step(kExportSliceRows);
    ui->progress_work->setValue(int(1000 * m_exporter->progress()));
    if (state == CsvExporter::State::Running)
        return;
    m_exportTimer.stop();
    const bool ok = state == CsvExporter::State::Done;
    const QString text =
        ok ? tr("Exported %1 lines.").arg(m_exporter->linesWritten()) : m_exporter->errorText();
    m_exporter.reset();
    endWork(text);
    if (!ok)
        showError(text);
    emit exportFinished(ok);
}

void ViewerWindow::cancelWork()
{
    if (!m_exporter)
        return;
    m_exportTimer.stop();
    m_exporter->cancel();
    m_exporter.reset();
    endWork(tr("Export cancelled; no file was written."));
    emit exportFinished(false);
}

void ViewerWindow::exportPng()
{
    if (!m_loaded)
        return;
    const QString path =
        askSavePath(this, tr("Export PNG"), besideProject(".png"), tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    const QImage image = exportImage();
    QSaveFile file(path);
    if (image.isNull() || !file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") ||
        !file.commit()) {
        showError(tr("The picture could not be written to %1.").arg(path));
        return;
    }
    ui->label_status->setText(tr("Picture written to %1.").arg(QFileInfo(path).fileName()));
}
