#include "core/generate/run_folder.h"

#include "core/base/errors.h"
#include "core/base/output_file.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
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

} // namespace

int CompleteRenameJournal(const std::string& folderName)
{
    const std::string folder = FolderOf(folderName);
    const std::string journal = folder + kRenameJournalName;
    if (!IsRegularFile(journal))
        return 0;
    std::string text;
    {
        TFileStream file(journal, FileMode::OpenRead);
        const int64_t size = file.Size();
        if (size < 0 || static_cast<uint64_t>(size) > kMaxRenameJournalBytes)
            throw EFOpenError(
                WithDetail("Cannot open file " + journal, "larger than any run writes; remove it to go on"));
        text.resize(static_cast<size_t>(size));
        file.ReadBuffer(text.data(), text.size());
    }
    int renamed = 0;
    if (text.rfind(kJournalHeader, 0) == 0) {
        size_t at = kJournalHeader.size();
        while (at < text.size()) {
            const size_t fromEnd = text.find('\0', at);
            const size_t toEnd = fromEnd == std::string::npos ? fromEnd : text.find('\0', fromEnd + 1);
            if (toEnd == std::string::npos)
                break; // cut short: the journal was written whole, so nothing follows
            if (ApplyRecord(
                    folder, text.substr(at, fromEnd - at), text.substr(fromEnd + 1, toEnd - fromEnd - 1)))
                ++renamed;
            at = toEnd + 1;
        }
    }
    DeleteFile(journal);
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
        if (*target == kRenameJournalName
            || std::find(extensions.begin(), extensions.end(), extension) != extensions.end())
            stale.push_back(folder + entry->d_name);
    }
    ::closedir(dir);
    int removed = 0;
    for (const std::string& name : stale)
        if (IsRegularFile(name) && DeleteFile(name))
            ++removed;
    return removed;
}

TRunFolder::TRunFolder(std::string folder, bool exclusive, const std::function<void(const std::string&)>& log)
    : m_folder(FolderOf(folder))
    , m_exclusive(exclusive)
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
        Lock(exclusive ? LOCK_EX : LOCK_SH, log);
        alone = exclusive;
    }
    if (!alone)
        return;
    if (const int renamed = CompleteRenameJournal(m_folder))
        log(Format("Finished the renames of an interrupted run (%d files).", renamed));
    static const std::vector<std::string> kRunExtensions
        = { ".gif", ".jpg", ".jpeg", ".png", ".webp", ".bmp", ".html", ".htm", ".bcs" };
    if (const int removed = RemoveStaleTemporaries(m_folder, kRunExtensions))
        log(Format("Removed %d temporary files of an interrupted run.", removed));
    if (!exclusive)
        Lock(LOCK_SH, log);
}

TRunFolder::~TRunFolder()
{
    if (m_fd >= 0)
        ::close(m_fd); // the lock goes with the descriptor
}

void TRunFolder::Lock(int operation, const std::function<void(const std::string&)>& log)
{
    while (::flock(m_fd, operation) != 0)
        if (errno != EINTR) {
            // A file system without locks still runs, as it did before locks.
            log("Could not lock " + m_folder + " (" + SystemErrorText(errno) + "); going on without.");
            return;
        }
}

void TRunFolder::Publish(const std::vector<TRename>& renames, const std::function<void(size_t index)>& rename)
{
    if (m_fd >= 0 && !m_exclusive)
        Lock(LOCK_EX, [](const std::string&) {});
    // Whatever journal is here now is a dead run's: no live one hands over
    // without this lock.
    CompleteRenameJournal(m_folder);
    if (renames.empty())
        return;
    const std::string journal = m_folder + kRenameJournalName;
    const std::string text = JournalText(m_folder, renames);
    {
        TFileStream file(journal, FileMode::Create);
        file.WriteBuffer(text.data(), text.size());
        file.Close();
    }
    m_journalWritten = true;
    for (size_t k = 0; k < renames.size(); ++k)
        rename(k);
    DeleteFile(journal);
    m_journalWritten = false;
}

void TRunFolder::Abandon() noexcept
{
    if (m_journalWritten)
        DeleteFile(m_folder + kRenameJournalName);
    m_journalWritten = false;
}

} // namespace sw
