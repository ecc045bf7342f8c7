#include "cli/watch_command.h"

#include "core/base/errors.h"
#include "core/base/output_file.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace sw::cli {

namespace {

std::string Normalised(const std::string& fileName)
{
    return std::filesystem::absolute(fileName).lexically_normal().string();
}

// The inotify descriptor, closed on every path.
class TInotify {
public:
    TInotify()
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (m_fd < 0)
            throw Exception(WithDetail("Cannot watch for changes", SystemErrorText(errno)));
    }
    ~TInotify() { ::close(m_fd); }
    TInotify(const TInotify&) = delete;
    TInotify& operator=(const TInotify&) = delete;

    // Watches the folders of files, dropping folders no longer needed.
    void WatchFoldersOf(const std::set<std::string>& files)
    {
        std::set<std::string> folders;
        for (const std::string& file : files)
            folders.insert(std::filesystem::path(file).parent_path().string());
        for (auto it = m_folders.begin(); it != m_folders.end();)
            if (folders.count(it->second) == 0) {
                ::inotify_rm_watch(m_fd, it->first);
                it = m_folders.erase(it);
            } else {
                ++it;
            }
        for (const std::string& folder : folders) {
            const int wd = ::inotify_add_watch(m_fd, folder.c_str(),
                IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_ATTRIB);
            // A folder that is gone (the project now names a picture in a
            // folder still to come) is looked for again after the next run.
            if (wd < 0 && errno == ENOENT)
                continue;
            if (wd < 0)
                throw Exception(WithDetail("Cannot watch folder " + folder, SystemErrorText(errno)));
            m_folders[wd] = folder;
        }
    }

    int Fd() const { return m_fd; }

    // The names of the files the pending events are about.
    std::vector<std::string> ReadChanges()
    {
        std::vector<std::string> names;
        alignas(inotify_event) char buffer[16 * 1024];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            size_t at = 0;
            while (at + sizeof(inotify_event) <= size_t(n)) {
                inotify_event event {};
                std::memcpy(&event, buffer + at, sizeof event);
                const size_t end = at + sizeof(inotify_event) + event.len;
                if (end > size_t(n))
                    break;
                const auto folder = m_folders.find(event.wd);
                if (event.len > 0 && folder != m_folders.end()) {
                    const char* name = buffer + at + sizeof(inotify_event);
                    names.push_back(folder->second + "/" + std::string(name, ::strnlen(name, event.len)));
                }
                at = end;
            }
        }
        return names;
    }

private:
    int m_fd;
    std::map<int, std::string> m_folders;
};

} // namespace

TProjectWatch::TProjectWatch(
    std::vector<GenerateOptions> runs, std::FILE* out, std::FILE* err, std::FILE* progress)
    : m_out(out)
    , m_err(err)
    , m_progress(progress)
{
    for (GenerateOptions& options : runs) {
        options.Settings.KeepUnchanged = true;
        m_watched.push_back({ options, Normalised(options.Project), {} });
    }
}

int TProjectWatch::Generate(TWatched& watched)
{
    try {
        // Read again each time: the project may now name another picture.
        watched.Picture.clear();
        watched.Picture = Normalised(ResolvedPictureFileName(watched.Options));
    } catch (const std::exception&) {
        // The run below reports what is wrong with the project.
    }
    try {
        RunGenerate(watched.Options, m_out, m_err, m_progress);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(m_err, "%s: %s\n", watched.Options.Project.c_str(), WithFullStop(e.what()).c_str());
        std::fflush(m_err);
        if (dynamic_cast<const EAbort*>(&e) && TStopSignals::Stopped())
            throw;
        return 1;
    }
}

int TProjectWatch::RunAll()
{
    int status = 0;
    for (TWatched& watched : m_watched)
        status |= Generate(watched);
    return status;
}

int TProjectWatch::Regenerate(const std::set<std::string>& changed)
{
    int status = 0;
    for (TWatched& watched : m_watched) {
        const bool pictureChanged = !watched.Picture.empty() && changed.count(watched.Picture) != 0;
        if (changed.count(watched.Project) == 0 && !pictureChanged)
            continue;
        if (pictureChanged)
            AwaitWholePicture(watched.Picture);
        status |= Generate(watched);
    }
    return status;
}

namespace {

// Size, change time and identity: what a writer still at work changes.
std::optional<std::tuple<ino_t, off_t, int64_t>> StampOf(const std::string& fileName)
{
    struct stat info { };
    if (::stat(fileName.c_str(), &info) != 0)
        return std::nullopt;
    return std::tuple { info.st_ino, info.st_size,
        int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec };
}

// Reads as the run will; true when the picture reads with nothing missing.
bool ReadsWhole(const std::string& picture)
{
    try {
        TPicture loaded;
        loaded.LoadFromFile(picture);
        TBitmap bitmap;
        bitmap.Assign(*loaded.Graphic());
        return loaded.Warnings().empty();
    } catch (const std::exception&) {
        // A file still being written may not read at all yet.
        return false;
    }
}

} // namespace

void TProjectWatch::AwaitWholePicture(const std::string& picture) const
{
    // A damaged picture is generated after these attempts all the same,
    // and the run says what is missing.
    constexpr int kAttempts = 5;
    constexpr int kMaxSettles = 100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        auto stamp = StampOf(picture);
        for (int settle = 0; settle < kMaxSettles && !TStopSignals::Stopped(); ++settle) {
            std::this_thread::sleep_for(m_settle);
            const auto now = StampOf(picture);
            if (now == stamp)
                break;
            stamp = now;
        }
        if (!stamp || TStopSignals::Stopped() || ReadsWhole(picture))
            return;
    }
}

std::set<std::string> TProjectWatch::WatchedFiles() const
{
    std::set<std::string> files;
    for (const TWatched& watched : m_watched) {
        files.insert(watched.Project);
        if (!watched.Picture.empty())
            files.insert(watched.Picture);
    }
    return files;
}

int WatchProjects(TProjectWatch& watch, std::chrono::milliseconds quiet, const std::atomic<bool>& stop)
{
    using Clock = std::chrono::steady_clock;
    TStopSignals stopSignals;
    TInotify inotify;
    watch.SetSettleTime(quiet);
    try {
        // Watching starts before the first run, so an edit during it counts.
        inotify.WatchFoldersOf(watch.WatchedFiles());
        watch.RunAll();
        std::set<std::string> watched = watch.WatchedFiles();
        inotify.WatchFoldersOf(watched);
        std::set<std::string> pending;
        Clock::time_point due {};
        while (!stop && !TStopSignals::Stopped()) {
            // Short waits, so that stop is seen soon; a signal ends the wait
            // at once.
            int timeout = 200;
            if (!pending.empty())
                timeout = static_cast<int>(std::clamp<int64_t>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count(), 0,
                    200));
            pollfd fd { inotify.Fd(), POLLIN, 0 };
            if (::poll(&fd, 1, timeout) > 0)
                for (const std::string& name : inotify.ReadChanges())
                    if (watched.count(name) != 0) {
                        pending.insert(name);
                        due = Clock::now() + quiet;
                    }
            if (pending.empty() || Clock::now() < due)
                continue;
            watch.Regenerate(pending);
            pending.clear();
            watched = watch.WatchedFiles();
            inotify.WatchFoldersOf(watched);
        }
    } catch (const EAbort&) {
        if (!TStopSignals::Stopped())
            throw;
    }
    return 0;
}

} // namespace sw::cli
