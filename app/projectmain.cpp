#include "projectmain.h"
#include "ui_projectmain.h"

#include "common/messagedialog.h"
#include "common/common.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

ProjectMain::FileDialogHook ProjectMain::saveFileDialog =
    [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
        return QFileDialog::getSaveFileName(parent, caption, dir, filter);
    };

ProjectMain::FileDialogHook ProjectMain::openFileDialog =
    [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    };

namespace {

const QString kFilter = QStringLiteral("*.qlk");

QString documentsDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// Makes sure the project file can be opened as asked (created when writing);
// tells the user when it cannot.
bool canOpen(QWidget *parent, const QString &path, QIODevice::OpenMode mode, const char *where)
{
    QFile file(path);
    if (file.open(mode))
        return true;
    qCDebug(lcApp).noquote() << where << ": cannot open" << path << file.errorString();
    showMessage(parent, QStringLiteral("ERROR"), QStringLiteral("Unable to open the project file."));
    return false;
}

} // namespace

ProjectMain::ProjectMain(const QStringList &recentList, const QHash<QString, QVariant> &recentMap,
                         QWidget *parent)
    : QWidget(parent), ui(new Ui::ProjectMain)
{
    ui->setupUi(this);

    QStringList shown;
    for (const QString &name : recentList) {
        // The settings store may hold anything: skip names without a usable
        // path and names listed twice rather than show entries that lead nowhere.
        const QVariant value = recentMap.value(name);
        if (name.isEmpty() || value.userType() != QMetaType::QString || shown.contains(name))
            continue;
        const QString path = value.toString();
        if (path.isEmpty())
            continue;
        shown.append(name);

        const QFileInfo info(path);
        QString dir = info.path();
        if (dir.length() > kMaxRecentDirLength)
            dir = dir.left(kMaxRecentDirLength) + QStringLiteral("...");
        const QString text = name + QStringLiteral("\t[") + dir + QLatin1Char('/')
                             + info.fileName() + QLatin1Char(']');

        auto *item = new QListWidgetItem(text);
        item->setData(Qt::ToolTipRole, path);
        ui->listWidget->addItem(item);
        m_itemPaths.insert(item, path);
    }

    connect(ui->btn_create, &QCommandLinkButton::clicked, this, &ProjectMain::slotCreateProject);
    connect(ui->btn_open, &QCommandLinkButton::clicked, this, &ProjectMain::slotOpenProject);
    connect(ui->listWidget, &QListWidget::itemActivated, this, &ProjectMain::slotRecentProject);
}

ProjectMain::~ProjectMain()
{
    delete ui;
}

QString ProjectMain::tooLongMessage(const QString &fileName)
{
    return QLatin1Char('"') + fileName
           + QStringLiteral("\" is too long.\nPlease retry.\nMax Length is 20 charactors.");
}

bool ProjectMain::checkFileNameLength(const QString &path)
{
    const QString fileName = QFileInfo(path).fileName();
    if (fileName.length() <= kMaxFileNameLength)
        return true;
    qCDebug(lcApp).noquote() << "ProjectMain::checkFileNameLength : too long" << fileName;
    showMessage(this, QStringLiteral("ERROR"), tooLongMessage(fileName));
    return false;
}

void ProjectMain::slotCreateProject()
{
    QString path = saveFileDialog(this, QStringLiteral("Create Project"), documentsDir(), kFilter);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".qlk");
    if (!checkFileNameLength(path))
        return;

    if (!canOpen(this, path, QIODevice::WriteOnly, "ProjectMain::slotCreateProject"))
        return;
    qCDebug(lcApp).noquote() << "ProjectMain::slotCreateProject :" << path;
    emit projectCreated(path);
}

void ProjectMain::slotOpenProject()
{
    const QString path = openFileDialog(this, QStringLiteral("Open Project"), documentsDir(), kFilter);
    if (path.isEmpty())
        return;
    if (!checkFileNameLength(path))
        return;

    if (!canOpen(this, path, QIODevice::ReadOnly, "ProjectMain::slotOpenProject"))
        return;
    qCDebug(lcApp).noquote() << "ProjectMain::slotOpenProject :" << path;
    emit projectLoaded(path);
}

void ProjectMain::slotRecentProject(QListWidgetItem *item)
{
    const auto it = m_itemPaths.constFind(item);
    if (it == m_itemPaths.constEnd())
        return;
    const QString path = it.value().toString();
    qCDebug(lcApp).noquote() << "ProjectMain::slotRecentProject :" << path;
    emit projectLoaded(path);
}
