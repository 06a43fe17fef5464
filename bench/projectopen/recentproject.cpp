// Puts one project at the head of the recorder's recent list, in the
// settings store of $XDG_CONFIG_HOME, so that a benchmark can open it the way
// the user does: from the start screen.
//
//   qk-bench-recent PROJECT.qlk
#include "common/common.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return 2;
    const QFileInfo project(app.arguments().at(1));
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation,
                       kAppName);
    settings.beginGroup(QStringLiteral("RecentProjects"));
    QVariantHash projects;
    projects.insert(project.baseName(), project.absoluteFilePath());
    settings.setValue(QStringLiteral("list"), QStringList{project.baseName()});
    settings.setValue(QStringLiteral("projects"), projects);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError ? 0 : 1;
}
