#pragma once

#include <QSettings>
#include <QString>
#include <QTemporaryFile>

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

private:
    QTemporaryFile m_copy;
    std::unique_ptr<QSettings> m_settings;
};
