#include "projectmain.h"
#include "ui_projectmain.h"

#include "common/common.h"
#include "common/dialoglook.h"
#include "common/messagedialog.h"
#include "common/plaintext.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace
{

// The file dialogs and the question get a readable look of their own instead
// of the page's pale text; they block, so tests replace them.
QString runFileDialog(QWidget *parent, const QString &caption, const QString &dir,
                      const QString &filter, bool save)
{
    QScopedPointer<QFileDialog> dialog(DialogLook::fileDialog(parent, caption, dir, filter, save));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return QString();
    return dialog->selectedFiles().constFirst();
}

} // namespace

ProjectMain::FileDialogHook ProjectMain::saveFileDialog =
    [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
        return runFileDialog(parent, caption, dir, filter, true);
    };

ProjectMain::FileDialogHook ProjectMain::openFileDialog =
    [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
        return runFileDialog(parent, caption, dir, filter, false);
    };

ProjectMain::QuestionHook ProjectMain::replaceQuestion = [](QWidget *parent, const QString &title,
                                                            const QString &text) {
    QScopedPointer<QMessageBox> box(DialogLook::question(parent, title, text));
    return QMessageBox::StandardButton(box->exec());
};

namespace
{

// Companions SQLite keeps beside a database; they belong to it and move with it.
const char *const kDatabaseCompanions[] = {"-wal", "-shm", "-journal"};

const QString kFilter = QStringLiteral("*.qlk");

QString documentsDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// Makes sure the project file can be opened as asked (created when writing);
// tells the user when it cannot.
bool canOpen(QWidget *parent, const QString &path, QIODevice::OpenMode mode, const char *where)
{
    // A named pipe or a device would hold the window until someone writes
    // into it (or forever): only regular files are opened.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        showMessage(parent, QStringLiteral("ERROR"),
                    QLatin1Char('"') + info.fileName() +
                        QStringLiteral("\" is not a regular file: a project is kept in one."));
        return false;
    }
    QFile file(path);
    if (file.open(mode))
        return true;
    qCDebug(lcApp).noquote() << where << ": cannot open" << path << file.errorString();
    showMessage(parent, QStringLiteral("ERROR"),
                QStringLiteral("Unable to open the project file."));
    return false;
}

} // namespace

ProjectMain::ProjectMain(const QStringList &recentList, const QHash<QString, QVariant> &recentMap,
                         QWidget *parent)
    : QWidget(parent), ui(new Ui::ProjectMain)
{
    ui->setupUi(this);
    PlainText::applyTo(this);

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
        const QString text = name + QStringLiteral("\t[") + dir + QLatin1Char('/') +
                             info.fileName() + QLatin1Char(']');

        auto *item = new QListWidgetItem(text);
        item->setData(Qt::ToolTipRole, PlainText::toolTip(path));
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
    return QLatin1Char('"') + fileName +
           QStringLiteral("\" is too long.\nPlease retry.\nMax Length is 20 charactors.");
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

    // The name is checked with its suffix: "demo" names "demo.qlk". An
    // existing project is replaced only when the user says so.
    const QFileInfo info(path);
    const bool replacing = info.exists();
    if (replacing) {
        const QString question = QLatin1Char('"') + info.fileName() +
                                 QStringLiteral("\" already exists.\nDo you want to replace it?\n"
                                                "Its recorded data is kept under another name.");
        if (info.isFile() &&
            replaceQuestion(this, QStringLiteral("Question"), question) != QMessageBox::Yes)
            return;
    }
    // Checked without emptying anything yet.
    if (!canOpen(this, path, replacing ? QIODevice::ReadWrite : QIODevice::WriteOnly,
                 "ProjectMain::slotCreateProject"))
        return;

    // The new project never takes over a recording lying under its name.
    QString movedTo;
    QString error;
    if (!moveDatabaseAside(path, QDateTime::currentDateTime(), &movedTo, &error)) {
        showMessage(
            this, QStringLiteral("ERROR"),
            QStringLiteral("The recorded data of the old project could not be moved aside:\n%1\n"
                           "The project was not created.")
                .arg(error));
        return;
    }
    if (replacing && !QFile::resize(path, 0)) {
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("Unable to open the project file."));
        return;
    }
    qCDebug(lcApp).noquote() << "ProjectMain::slotCreateProject :" << path;
    // The main window takes this page away while handling the signal.
    QWidget *top = window();
    emit projectCreated(path);
    if (!movedTo.isEmpty())
        showMessage(top, QStringLiteral("INFORMATION"),
                    QStringLiteral("The recorded data of the replaced project was kept as:\n") +
                        QDir::toNativeSeparators(movedTo));
}

bool ProjectMain::moveDatabaseAside(const QString &projectPath, const QDateTime &now,
                                    QString *movedTo, QString *error)
{
    const QFileInfo project(projectPath);
    const QString base = project.completeBaseName();
    const QDir dir = project.absoluteDir();
    const QString database = dir.filePath(base + QStringLiteral(".dat"));
    QStringList from;
    if (QFileInfo::exists(database))
        from << database;
    for (const char *companion : kDatabaseCompanions) {
        if (QFileInfo::exists(database + QLatin1String(companion)))
            from << database + QLatin1String(companion);
    }
    movedTo->clear();
    if (from.isEmpty())
        return true;

    // A name nothing else has, for the database and each companion.
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target;
    for (int n = 1; target.isEmpty(); ++n) {
        const QString candidate = dir.filePath(base + QStringLiteral("_replaced_") + stamp +
                                               (n > 1 ? QStringLiteral("_%1").arg(n) : QString()) +
                                               QStringLiteral(".dat"));
        bool taken = QFileInfo::exists(candidate);
        for (const char *companion : kDatabaseCompanions)
            taken = taken || QFileInfo::exists(candidate + QLatin1String(companion));
        if (!taken)
            target = candidate;
    }

    // Companions first: a database moved without its log would lose the rows
    // still in the log, and the log left behind would meet the new database.
    std::sort(from.begin(), from.end(), [&](const QString &a, const QString &b) {
        return (a != database) > (b != database);
    });
    QList<QPair<QString, QString>> done;
    for (const QString &file : qAsConst(from)) {
        const QString to = target + file.mid(database.size());
        QFile moving(file);
        if (!moving.rename(to)) {
            *error = QDir::toNativeSeparators(file) + QStringLiteral(": ") + moving.errorString();
            qCWarning(lcApp).noquote() << "ProjectMain::moveDatabaseAside :" << *error;
            for (const auto &back : qAsConst(done))
                QFile::rename(back.second, back.first);
            return false;
        }
        done.append({file, to});
    }
    qCDebug(lcApp).noquote() << "ProjectMain::moveDatabaseAside :" << database << "->" << target;
    *movedTo = target;
    return true;
}

void ProjectMain::slotOpenProject()
{
    const QString path =
        openFileDialog(this, QStringLiteral("Open Project"), documentsDir(), kFilter);
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
