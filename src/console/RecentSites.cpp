#include "RecentSites.h"

#include <QDir>
#include <QSettings>

namespace tarvo {

namespace {

const QString kKey = QStringLiteral("sites/recent");

QSettings userSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tarvo"), QStringLiteral("Tarvo"));
}

QString absolute(const QString& folder)
{
    return QDir::cleanPath(QDir(folder).absolutePath());
}

} // namespace

QStringList RecentSites::list()
{
    return userSettings().value(kKey).toStringList();
}

void RecentSites::add(const QString& folder)
{
    QStringList sites = list();
    const QString path = absolute(folder);
    sites.removeAll(path);
    sites.prepend(path);
    while (sites.size() > kMost)
        sites.removeLast();
    userSettings().setValue(kKey, sites);
}

void RecentSites::remove(const QString& folder)
{
    QStringList sites = list();
    sites.removeAll(absolute(folder));
    userSettings().setValue(kKey, sites);
}

} // namespace tarvo
