// The data viewer's window: opening a project or a record file on its own,
// the recent list, and devices the file holds but the project does not list.
#include "ui_viewerwindow.h"
#include "viewer/viewerwindow.h"

#include "common/common.h"
#include "common/messagedialog.h"
#include "record/recordcontext.h"
#include "record/recordreader.h"
#include "viewer/batchexport.h"
#include "viewer/recentprojects.h"
#include "viewer/summarycache.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>

#include <limits>

namespace
{

// Rows read at each end of a file to find its devices at once.
constexpr int kDeviceProbeRows = 2000;

// The data interval of a file without settings: the step between the first
// two rows of its first device.
int intervalFromRows(RecordReader &reader)
{
    QByteArray first;
    qint64 firstTime = 0;
    qint64 step = 0;
    reader.forEachRowAfterId(0, 500, [&](const RecordRow &row) {
        if (first.isEmpty()) {
            first = row.serialNo;
            firstTime = row.pointDate;
        } else if (row.serialNo == first) {
            step = row.pointDate - firstTime;
            return false;
        }
        return true;
    });
    return step > 0 && step < 86400 ? int(step) : 10;
}

} // namespace

ViewerWindow::SavePathHook ViewerWindow::askOpenPath =
    [](QWidget *parent, const QString &caption, const QString &suggested, const QString &filter) {
        return QFileDialog::getOpenFileName(parent, caption, suggested, filter);
    };

void ViewerWindow::openFile()
{
    const QString folder =
        m_project.path.isEmpty() ? QString() : QFileInfo(m_project.path).absolutePath();
    const QString path = askOpenPath(
        this, tr("Open a project or a record file"), folder,
        tr("Projects and record files (*.qlk *.dat);;Projects (*.qlk);;Record files (*.dat);;"
           "All files (*)"));
    if (!path.isEmpty())
        openProject(path);
}

void ViewerWindow::fillRecentMenu()
{
    m_recentMenu->clear();
    m_recentMenu->addAction(tr("Open..."), this, &ViewerWindow::openFile);
    const auto entries = RecentProjects::load();
    if (!entries.isEmpty())
        m_recentMenu->addSection(tr("Recent projects"));
    for (const auto &entry : entries) {
        // An action's text takes & for a shortcut: double it to show it.
        QString name = entry.first;
        QAction *action =
            m_recentMenu->addAction(name.replace(QLatin1Char('&'), QLatin1String("&&")));
        action->setToolTip(entry.second);
        const QString path = entry.second;
        connect(action, &QAction::triggered, this, [this, path] { openProject(path); });
    }
}

void ViewerWindow::showError(const QString &text)
{
    ui->label_status->setText(text);
    showLastingMessage(this, QStringLiteral("ERROR"), text);
}

bool ViewerWindow::openProject(const QString &path)
{
    const QString filePath = BatchExport::unquotePath(path);
    if (BatchExport::isRecordFile(filePath)) {
        ProjectDocument bare;
        bare.path = QFileInfo(filePath).absoluteFilePath();
        bare.projectName = QFileInfo(filePath).fileName();
        return openSource(bare, filePath, true);
    }
    ProjectDocument project;
    if (!project.load(filePath)) {
        showError(tr("%1 cannot be read as a project file: %2").arg(filePath, project.errorText()));
        return false;
    }
    if (!openSource(project, project.databasePath(), false))
        return false;
    RecentProjects::add(project.projectName, project.path);
    return true;
}

bool ViewerWindow::openSource(const ProjectDocument &project, const QString &databasePath,
                              bool bare)
{
    auto reader = std::make_unique<RecordReader>();
    if (!reader->open(databasePath)) {
        showError(reader->errorText());
        return false;
    }
    stopSummaryBuild();
    if (m_exporter)
        cancelWork();
    m_project = project;
    m_databasePath = databasePath;
    m_bareDatabase = bare;
    m_reader = std::move(reader);
    m_intervalSeconds = m_project.dataInterval >= 1000 ? m_project.dataInterval / 1000 : 10;
    RecordContext context(*m_reader);
    const bool keepsSettings = context.hasSettings();
    m_keepsSettings = keepsSettings;
    if (bare) {
        QVector<RecordDeviceSettings> devices;
        if (keepsSettings)
            devices = context.settingsAt(std::numeric_limits<qint64>::max() / 2);
        m_catalog.load(devices);
        m_intervalSeconds = !devices.isEmpty() && devices.constFirst().intervalMs >= 1000
                                ? devices.constFirst().intervalMs / 1000
                                : intervalFromRows(*m_reader);
    } else {
        m_catalog.load(m_project);
    }
    // Devices the file holds beyond those listed are shown under their number.
    for (const QString &number : m_reader->serialNumbersAtEnds(kDeviceProbeRows))
        m_catalog.addUnlisted(number);
    // The statistics judge each time by the limits then in force.
    if (keepsSettings)
        m_catalog.setInForce(context.settingsBetween(0, std::numeric_limits<qint64>::max() / 2));
    setWindowTitle(QStringLiteral("RideZodazo - ") + m_project.projectName);
    setupSeriesTree();
    m_history.clear();
    m_dataFrom = m_dataTo = m_fullFrom = m_fullTo = 0;
    m_visibleFrom = m_visibleTo = 0;
    m_views.clear();
    m_shown.clear();
    m_loaded = true;
    // The summary (from its cache) first: it carries the time order the
    // bounds need, which would otherwise take a read of every row.
    startSummary();
    refreshBounds();
    updateProjectLabel();
    applyPreset(Preset(ui->combo_preset->currentIndex()));
    return true;
}

void ViewerWindow::updateProjectLabel()
{
    int unlisted = 0;
    for (const SeriesInfo &info : m_catalog.all())
        unlisted += info.notInProject && info.channel == 1 ? 1 : 0;
    QString text =
        m_project.projectName + QStringLiteral("  ·  ") + intervalText(m_intervalSeconds * 1000);
    if (m_bareDatabase)
        text += tr("  ·  record file without its project");
    else if (unlisted > 0)
        text += tr("  ·  %n device(s) in the file but not in the project, shown by number", "",
                   unlisted);
    if (!m_bareDatabase && !m_keepsSettings)
        text += tr("  ·  limits as the project file has them now (the file keeps no settings)");
    ui->label_project->setText(text);
}

void ViewerWindow::addUnlistedDevices(const QStringList &numbers)
{
    QVector<int> shown;
    for (const SeriesInfo &info : shownSeries())
        shown.append(m_catalog.indexOf(info.deviceNumber, info.channel));
    bool added = false;
    for (const QString &number : numbers)
        added = m_catalog.addUnlisted(number) || added;
    if (!added)
        return;
    setupSeriesTree();
    for (int i = 0; i < m_catalog.size(); ++i)
        setSeriesShown(i, shown.contains(i));
    updateProjectLabel();
}
