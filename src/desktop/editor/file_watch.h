#pragma once

// Watches the files of the open picture and project. Editors write a file in
// several steps, so the window hears of changes only once they have settled,
// and then learns which file to read again. Our own saves are no change: the
// project's size and time as we last read or wrote it tell them apart.

#include <QObject>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

class QFileSystemWatcher;
class QTimer;

namespace sw {

class TFileWatch : public QObject {
    Q_OBJECT
public:
    enum class TReload : uint8_t { None, Project, Picture };

    explicit TFileWatch(QObject* parent = nullptr);

    // Watches exactly these files; an empty name watches none for its kind.
    void Watch(const std::string& pictureFileName, const std::string& projectFileName);
    // The project file as it is now is ours; empty forgets the stamp.
    void StampProject(const std::string& projectFileName);
    // Which file to read again after the settled changes, forgetting them.
    // Loading the project reads its picture too; a project file changed by
    // someone else is taken as ours from now, so each change is acted on once.
    TReload TakeChanges(const std::string& pictureFileName, const std::string& projectFileName);

    // While held, changes wait; releasing acts on those that came.
    void Hold() { m_held = true; }
    void Release();
    bool Held() const { return m_held; }

signals:
    // Changes have settled; the window asks TakeChanges what to do.
    void Settled();

private:
    void FileChanged(const QString& path);

    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_settleTimer = nullptr;
    QSet<QString> m_changed;
    bool m_held = false;
    std::optional<std::pair<qint64, qint64>> m_projectStamp;
};

} // namespace sw
