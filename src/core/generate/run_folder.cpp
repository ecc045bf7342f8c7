#include "core/generate/run_folder.h"

#include "core/base/errors.h"
#include "core/base/output_file.h"
#include "core/base/sysutils.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace sw {

namespace {

constexpr std::string_view kJournalHeader = "Slicewright renames 1\n";

std::string FolderOf(const std::string& folder)
{
    return folder.empty() ? std::string("./") : folder;
}

bool IsRegularFile(const std::string& fileName)
{
    struct stat info { };
    return ::lstat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The target as the journal stores it: bare inside the folder, whole elsewhere.
std::string JournalTarget(const std::string& folder, const std::string& target)
{
    if (ExtractFilePath(target) == folder)
        return ExtractFileName(target);
    if (!target.empty() && target.front() == kPathSeparator)
        return target;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(target, error);
    return error ? target : absolute.string();
}

std::string JournalText(const std::string& folder, const std::vector<TRename>& renames)
{
    std::string text(kJournalHeader);
    for (const TRename& rename : renames) {
        text += ExtractFileName(rename.From);
        text += '\0';
        text += JournalTarget(folder, rename.To);
        text += '\0';
    }
    return text;
}

// A record is followed only when its temporary file is one a run makes for
// that very target, in the target's folder: a journal cannot move anything else.
bool ApplyRecord(const std::string& folder, const std::string& temporary, const std::string& target)
{
    if (target.empty() || temporary.find(kPathSeparator) != std::string::npos)
        return false;
    if (target.find(kPathSeparator) != std::string::npos && target.front() != kPathSeparator)
        return false;
    const std::string fullTarget = target.front() == kPathSeparator ? target : folder + target;
    const std::optional<std::string> made = TemporaryFileTarget(temporary);
    if (!made || ExtractFileName(fullTarget).rfind(*made, 0) != 0 || made->empty())
        return false;
    const std::string from = ExtractFilePath(fullTarget) + temporary;
    return IsRegularFile(from) && RenameFile(from, fullTarget);
}

// How many of the journal's renames were made; none when it is not one a
// run writes.
int ApplyJournal(const std::string& folder, const std::string& text)
{
    int renamed = 0;
    if (text.rfind(kJournalHeader, 0) != 0)
        return renamed;
    size_t at = kJournalHeader.size();
    while (at < text.size()) {
        const size_t fromEnd = text.find('\0', at);
        const size_t toEnd = fromEnd == std::string::npos ? fromEnd : text.find('\0', fromEnd + 1);
        if (toEnd == std::string::npos)
            break;
        if (ApplyRecord(folder, text.substr(at, fromEnd - at), text.substr(fromEnd + 1, toEnd - fromEnd - 1)))
            ++renamed;
        at = toEnd + 1;
    }
    return renamed;
}

std::vector<std::string> NamesStartingWith(const std::string& folder, std::string_view prefix)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (std::string_view(entry->d_name).substr(0, prefix.size()) == prefix)
                names.push_back(folder + entry->d_name);
        ::closedir(dir);
    }
    return names;
}

// A journal nobody holds: its run is gone.
int CompleteDeadJournal(const std::string& folder, const std::string& journal)
{
    const int fd = ::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return 0;
    struct stat info { };
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return 0;
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxRenameJournalBytes) {
        ::close(fd);
        throw EFOpenError(
            WithDetail("Cannot open file " + journal, "larger than any run writes; remove it to go on"));
    }
    std::string text(static_cast<size_t>(info.st_size), '\0');
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    text.resize(done);
    const int renamed = ApplyJournal(folder, text);
    DeleteFile(journal);
    ::close(fd);
    return renamed;
}

} // namespace

int CompleteRenameJournals(const std::string& folderName)
{
    const std::string folder = FolderOf(folderName);
    int renamed = 0;
    for (const std::string& journal : NamesStartingWith(folder, kRenameJournalPrefix))
        renamed += CompleteDeadJournal(folder, journal);
    return renamed;
}

int RemoveStaleTemporaries(const std::string& folderName, const std::vector<std::string>& extensions)
{
    const std::string folder = FolderOf(folderName);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    std::vector<std::string> stale;
    while (const dirent* entry = ::readdir(dir)) {
        const std::optional<std::string> target = TemporaryFileTarget(entry->d_name);
        if (!target)
            continue;
        const std::string extension = LowerCaseAscii(ExtractFileExt(*target));
        if (std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
            stale.push_back(folder + entry->d_name);
    }
    ::closedir(dir);
    // Only a run that finds the folder free removes these, so none is live.
    for (const std::string& name : NamesStartingWith(folder, kJournalWritingPrefix))
        stale.push_back(name);
    int removed = 0;
    for (const std::string& name : stale)
        if (IsRegularFile(name) && DeleteFile(name))
            ++removed;
    return removed;
}

TRunFolder::TRunFolder(std::string folder, bool exclusive, const std::function<void(const std::string&)>& log,
    const std::function<void()>& waiting)
    : m_folder(FolderOf(folder))
{
    m_fd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    bool alone = ::flock(m_fd, LOCK_EX | LOCK_NB) == 0;
    if (!alone && errno != EWOULDBLOCK) {
        // A file system without locks runs as it did before there were any.
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    if (!alone && !exclusive && ::flock(m_fd, LOCK_SH | LOCK_NB) == 0)
        return;
    if (!alone) {
        log("Another run is writing into " + m_folder + "; waiting for it to finish...");
        Lock(exclusive ? LOCK_EX : LOCK_SH, log, waiting);
        alone = exclusive;
    }
    if (!alone)
        return;
    if (const int renamed = CompleteRenameJournals(m_folder))
        log(Format("Finished the renames of an interrupted run (%d files).", renamed));
    static const std::vector<std::string> kRunExtensions
        = { ".gif", ".jpg", ".jpeg", ".png", ".webp", ".bmp", ".html", ".htm", ".bcs" };
    if (const int removed = RemoveStaleTemporaries(m_folder, kRunExtensions))
        log(Format("Removed %d temporary files of an interrupted run.", removed));
    if (!exclusive)
        Lock(LOCK_SH, log, waiting);
}

TRunFolder::~TRunFolder()
{
    if (m_journalFd >= 0)
        ::close(m_journalFd); // a journal left here is a dead run's now
    if (m_fd >= 0)
        ::close(m_fd); // the lock goes with the descriptor
}

void TRunFolder::Lock(
    int operation, const std::function<void(const std::string&)>& log, const std::function<void()>& waiting)
{
    // With someone to ask, the lock is polled, so the run can stop while it
    // waits; the constructor throws then, so the folder is closed here.
    const int how = waiting ? operation | LOCK_NB : operation;
    while (::flock(m_fd, how) != 0) {
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK || !waiting) {
            // A file system without locks still runs, as it did before locks.
            log("Could not lock " + m_folder + " (" + SystemErrorText(errno) + "); going on without.");
            return;
        }
        try {
            waiting();
        } catch (...) {
            ::close(m_fd);
            m_fd = -1;
            throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

void TRunFolder::Publish(const std::vector<TRename>& renames, const std::function<void(size_t index)>& rename)
{
    CompleteRenameJournals(m_folder);
    if (renames.empty())
        return;
    WriteJournal(renames);
    for (size_t k = 0; k < renames.size(); ++k)
        rename(k);
    DropJournal();
}

// Locked before it has its name, so that no other run ever finds it
// unlocked while this one lives.
void TRunFolder::WriteJournal(const std::vector<TRename>& renames)
{
    static std::atomic<unsigned> counter { 0 };
    const std::string text = JournalText(m_folder, renames);
    std::string writing;
    for (int attempt = 0; m_journalFd < 0; ++attempt) {
        const std::string id = IntToStr(::getpid()) + "-" + IntToStr(counter.fetch_add(1));
        writing = m_folder + kJournalWritingPrefix + id;
        m_journal = m_folder + kRenameJournalPrefix + id;
        m_journalFd = ::open(writing.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (m_journalFd < 0 && (errno != EEXIST || attempt == 100))
            throw EFCreateError(WithDetail("Cannot create file " + writing, SystemErrorText(errno)));
    }
    size_t done = 0;
    bool written = ::flock(m_journalFd, LOCK_EX) == 0 || errno == ENOLCK || errno == EOPNOTSUPP;
    while (written && done < text.size()) {
        const ssize_t n = ::write(m_journalFd, text.data() + done, text.size() - done);
        written = n > 0 || (n < 0 && errno == EINTR);
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    if (!written || ::rename(writing.c_str(), m_journal.c_str()) != 0) {
        const int error = errno;
        DeleteFile(writing);
        ::close(m_journalFd);
        m_journalFd = -1;
        throw EWriteError(WithDetail("Cannot write file " + writing, SystemErrorText(error)));
    }
}

void TRunFolder::DropJournal() noexcept
{
    if (m_journalFd < 0)
        return;
    DeleteFile(m_journal);
    ::close(m_journalFd);
    m_journalFd = -1;
}

void TRunFolder::Abandon() noexcept
{
    DropJournal();
}

} // namespace sw
