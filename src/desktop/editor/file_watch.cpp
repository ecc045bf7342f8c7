#include "desktop/editor/file_watch.h"

#include "desktop/shell/file_names.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QStringList>
#include <QTimer>

namespace sw {

namespace {

// How long a file must stay unchanged before it is read again.
constexpr int kSettleDelayMs = 200;

std::optional<std::pair<qint64, qint64>> FileStamp(const QString& path)
{
    QFileInfo info(path);
    info.setCaching(false);
    if (!info.isFile())
        return std::nullopt;
    return std::pair { info.size(), info.lastModified().toMSecsSinceEpoch() };
}

QString AbsolutePath(const std::string& fileName)
{
    return QFileInfo(FileNameFromCore(fileName)).absoluteFilePath();
}

} // namespace

TFileWatch::TFileWatch(QObject* parent)
    : QObject(parent)
    , m_watcher(new QFileSystemWatcher(this))
    , m_settleTimer(new QTimer(this))
{
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &TFileWatch::FileChanged);
    m_settleTimer->setSingleShot(true);
    m_settleTimer->setInterval(kSettleDelayMs);
    connect(m_settleTimer, &QTimer::timeout, this, [this] {
        if (!m_held)
            emit Settled();
    });
}

void TFileWatch::Watch(const std::string& pictureFileName, const std::string& projectFileName)
{
    QStringList wanted;
    if (!pictureFileName.empty())
        wanted << AbsolutePath(pictureFileName);
    if (!projectFileName.empty())
        wanted << AbsolutePath(projectFileName);
    const QStringList watched = m_watcher->files();
    for (const QString& file : watched)
        if (!wanted.contains(file))
            m_watcher->removePath(file);
    for (const QString& file : wanted)
        if (!watched.contains(file) && QFileInfo::exists(file))
            m_watcher->addPath(file);
}

void TFileWatch::StampProject(const std::string& projectFileName)
{
    m_projectStamp = projectFileName.empty() ? std::nullopt : FileStamp(FileNameFromCore(projectFileName));
}

TFileWatch::TReload TFileWatch::TakeChanges(
    const std::string& pictureFileName, const std::string& projectFileName)
{
    const QSet<QString> changed = std::exchange(m_changed, {});
    const auto isChanged = [&changed](const std::string& fileName) {
        return !fileName.empty() && changed.contains(AbsolutePath(fileName));
    };
    if (isChanged(projectFileName)) {
        const auto stamp = FileStamp(FileNameFromCore(projectFileName));
        if (stamp && stamp != m_projectStamp) {
            m_projectStamp = stamp;
            return TReload::Project;
        }
    }
    if (isChanged(pictureFileName) && FileStamp(FileNameFromCore(pictureFileName)))
        return TReload::Picture;
    return TReload::None;
}

void TFileWatch::Release()
{
    m_held = false;
    if (!m_changed.isEmpty())
        m_settleTimer->start();
}

void TFileWatch::FileChanged(const QString& path)
{
    m_changed.insert(path);
    m_settleTimer->start();
}

} // namespace sw
