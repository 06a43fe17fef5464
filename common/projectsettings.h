#pragma once

#include <QSettings>
#include <QString>
#include <QTemporaryFile>

#include <functional>
#include <memory>

// A project file's keys as the file holds them now. QSettings keeps what it
// read of a file by its path and reads it again only when the file's size or
// modification time (in milliseconds) changed, so a project rewritten within
// the same millisecond to the same size would be read as it was before. The
// keys are read here from a copy under a name used once; where no copy can be
// made, from the file itself.
class ProjectSettings
{
public:
    explicit ProjectSettings(const QString &path);
    QSettings &settings() { return *m_settings; }

    // Every write of a project file goes through here: `change` is made with
    // QSettings on a private copy of the file (again under a name used once),
    // and the project file is replaced by that copy only when all of it was
    // written. A failed write therefore leaves the file as it was and leaves
    // nothing behind in QSettings' own cache, so the next read sees the file
    // as it is on disk. A project reached through a link is saved where the
    // link points; the file keeps its permissions. False on failure, with
    // `error` (if given) saying why in words for the user.
    static bool update(const QString &path, const std::function<void(QSettings &)> &change,
                       QString *error = nullptr);

private:
    QTemporaryFile m_copy;
    std::unique_ptr<QSettings> m_settings;
};
