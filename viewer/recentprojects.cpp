#include "viewer/recentprojects.h"

#include "common/common.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariantHash>

namespace
{

QSettings *recentSettings()
{
    auto *settings = new QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                   kSettingsOrganisation, kAppName);
    settings->beginGroup(QStringLiteral("RecentProjects"));
    return settings;
}

} // namespace

QVector<QPair<QString, QString>> RecentProjects::load()
{
    QScopedPointer<QSettings> settings(recentSettings());
    const QStringList list = settings->value(QStringLiteral("list")).toStringList();
    const QVariantHash projects = settings->value(QStringLiteral("projects")).toHash();
    QVector<QPair<QString, QString>> entries;
    for (const QString &name : list) {
        const QString path = projects.value(name).toString();
        if (!path.isEmpty() && QFileInfo(path).isFile())
            entries.append(qMakePair(name, path));
    }
    return entries;
}

void RecentProjects::add(const QString &name, const QString &path)
{
    if (name.isEmpty())
        return;
    QScopedPointer<QSettings> settings(recentSettings());
    QStringList list = settings->value(QStringLiteral("list")).toStringList();
    QVariantHash projects = settings->value(QStringLiteral("projects")).toHash();
    if (!list.contains(name))
        list.prepend(name);
    projects.insert(name, QFileInfo(path).absoluteFilePath());
    settings->setValue(QStringLiteral("list"), list);
    settings->setValue(QStringLiteral("projects"), projects);
}
