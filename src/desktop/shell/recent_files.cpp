#include "desktop/shell/recent_files.h"

#include <QSettings>

namespace sw {

namespace {

constexpr char kKey[] = "RecentProjects";

void Store(const QStringList& files)
{
    QSettings settings;
    settings.setValue(QString::fromUtf8(kKey), files);
}

} // namespace

QStringList WithRecentFile(QStringList files, const QString& fileName)
{
    files.removeAll(fileName);
    files.prepend(fileName);
    while (files.size() > kMaxRecentFiles)
        files.removeLast();
    return files;
}

QStringList TRecentFiles::Files() const
{
    // A hand-edited settings file may hold anything; only the first few
    // non-empty names are taken.
    QStringList files;
    for (const QString& file : QSettings().value(QString::fromUtf8(kKey)).toStringList())
        if (!file.isEmpty() && !files.contains(file) && files.size() < kMaxRecentFiles)
            files.append(file);
    return files;
}

void TRecentFiles::Add(const QString& fileName)
{
    Store(WithRecentFile(Files(), fileName));
}

void TRecentFiles::Remove(const QString& fileName)
{
    QStringList files = Files();
    if (files.removeAll(fileName) > 0)
        Store(files);
}

} // namespace sw
