#pragma once

#include <QHash>
#include <QMessageBox>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include <functional>

class QDateTime;
class QListWidgetItem;

namespace Ui
{
class ProjectMain;
}

// The start screen: create a project, open one, or pick a recent one.
// It checks the chosen file name and that the file can be opened, then hands
// the path on; it never reads the project's content.
class ProjectMain : public QWidget
{
    Q_OBJECT

public:
    // recentList: project names, most recent first; recentMap: name -> file path.
    ProjectMain(const QStringList &recentList, const QHash<QString, QVariant> &recentMap,
                QWidget *parent = nullptr);
    ~ProjectMain() override;

    // The longest project file name accepted, extension included.
    static constexpr int kMaxFileNameLength = 20;
    // Longer folders are cut to this many characters in the recent list.
    static constexpr int kMaxRecentDirLength = 70;

    // Text of the "name too long" message for a file name.
    static QString tooLongMessage(const QString &fileName);

    // File dialogs used by the two buttons: (parent, caption, directory, filter)
    // -> chosen path or empty. Default to QFileDialog; tests replace them.
    using FileDialogHook =
        std::function<QString(QWidget *, const QString &, const QString &, const QString &)>;
    static FileDialogHook saveFileDialog;
    static FileDialogHook openFileDialog;
    // The question asked before an existing project file is replaced
    // (parent, title, text) -> Yes or No. A readable Yes/No box by default;
    // tests answer it.
    using QuestionHook =
        std::function<QMessageBox::StandardButton(QWidget *, const QString &, const QString &)>;
    static QuestionHook replaceQuestion;

    // Moves the record database `<folder>/<name>.dat` of the project file
    // `projectPath` (with its "-wal", "-shm" and "-journal" companions) aside
    // to `<name>_replaced_<yyyyMMdd-HHmmss>.dat`, so that a new project of
    // the same name starts on a new file and the old recording is kept.
    // True when there was nothing to move or all of it moved; `movedTo`
    // receives the new path (empty when nothing moved). On failure nothing
    // is left half moved and `error` says why.
    static bool moveDatabaseAside(const QString &projectPath, const QDateTime &now,
                                  QString *movedTo, QString *error);

signals:
    void projectCreated(QString path);
    void projectLoaded(QString path);

private slots:
    void slotCreateProject();
    void slotOpenProject();
    void slotRecentProject(QListWidgetItem *item);

private:
    bool checkFileNameLength(const QString &path);

    Ui::ProjectMain *ui;
    QHash<QListWidgetItem *, QVariant> m_itemPaths;
};
