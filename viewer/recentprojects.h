#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// The recent projects the recorder keeps in its settings (organisation
// "QuillarkLite", application "Quillark Lite Modbus", group "RecentProjects":
// "list", the names newest first, and "projects", name to path), read and
// added to by the viewer so that both programs offer the same list.
class RecentProjects
{
public:
    // The entries whose file still exists: (name, absolute path), newest first.
    static QVector<QPair<QString, QString>> load();
    // Puts a project at the top of the list (under its name; a name already
    // listed keeps its place but takes the new path).
    static void add(const QString &name, const QString &path);
};
