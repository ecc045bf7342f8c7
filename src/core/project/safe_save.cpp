#include "core/project/safe_save.h"

#include "core/base/sysutils.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

namespace {

int SystemLink(const char* from, const char* to)
{
    return ::linkat(AT_FDCWD, from, AT_FDCWD, to, AT_SYMLINK_FOLLOW);
}

int SystemRename(const char* from, const char* to)
{
    return ::rename(from, to);
}

bool WriteAll(int fd, const char* bytes, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool CopyBytes(int from, int to)
{
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n == 0;
        if (!WriteAll(to, buffer, static_cast<size_t>(n)))
            return false;
    }
}

// A name beside target that no other writer picks: the process id and a
// counter make it unique within this machine, O_EXCL guards the rest.
// The file-name part is shortened so the temporary name stays within the
// file system's name limit whenever the target's own name does.
std::string TemporaryName(const std::string& target, unsigned attempt)
{
    static std::atomic<unsigned> counter { 0 };
    std::string base = ExtractFileName(target);
    if (base.size() > 120)
        base.resize(120);
    return ExtractFilePath(target) + "." + base + "." + std::to_string(::getpid()) + "-"
        + std::to_string(counter.fetch_add(1)) + "-" + std::to_string(attempt) + ".tmp";
}

// Creates a new temporary file beside target; -1 when none can be made.
int CreateTemporary(const std::string& target, std::string& temporary)
{
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        temporary = TemporaryName(target, attempt);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// A temporary file beside target filled by fill and flushed to the disk;
// empty when that fails, with nothing left behind. The file takes the
// permission bits of modeOf when that is a regular file.
std::string WriteTemporary(
    const std::string& target, const std::string& modeOf, const std::function<bool(int fd)>& fill)
{
    std::string temporary;
    const int fd = CreateTemporary(target, temporary);
    if (fd < 0)
        return std::string();
    struct stat old { };
    if (::stat(modeOf.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
    const bool written = fill(fd) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (written && closed)
        return temporary;
    ::unlink(temporary.c_str());
    return std::string();
}

// The rename itself reaches the disk with the folder's own entry list.
void SyncFolderOf(const std::string& fileName)
{
    const std::string folder = ExtractFilePath(fileName);
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool RenameOver(const std::string& temporary, const std::string& target)
{
    if (FileSystemCalls().Rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolderOf(target);
    return true;
}

} // namespace

TFileSystemCalls& FileSystemCalls()
{
    static TFileSystemCalls calls { SystemLink, SystemRename };
    return calls;
}

std::string ResolveSymbolicLinks(const std::string& fileName)
{
    std::string name = fileName;
    // The system gives up after 40 links too.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info { };
        if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return name;
        char target[4096];
        const ssize_t n = ::readlink(name.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target)
            return fileName;
        const std::string next(target, static_cast<size_t>(n));
        name = next.front() == kPathSeparator ? next : ExtractFilePath(name) + next;
    }
    return fileName;
}

bool ReplaceFile(
    const std::string& fileName, const std::string& bytes, const std::function<void()>& beforeReplace)
{
    if (fileName.empty())
        return false;
    const std::string target = ResolveSymbolicLinks(fileName);
    const std::string temporary = WriteTemporary(
        target, target, [&bytes](int fd) { return WriteAll(fd, bytes.data(), bytes.size()); });
    if (temporary.empty())
        return false;
    try {
        if (beforeReplace)
            beforeReplace();
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    return RenameOver(temporary, target);
}

bool ReplaceWithCopy(const std::string& source, const std::string& target)
{
    std::string temporary;
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const std::string name = TemporaryName(target, attempt);
        if (FileSystemCalls().Link(source.c_str(), name.c_str()) == 0) {
            temporary = name;
            break;
        }
        if (errno != EEXIST)
            break;
    }
    // No hard link (another file system, or one without links): the bytes
    // are copied instead.
    if (temporary.empty()) {
        // Not blocking, so a named pipe in the file's place cannot hold the save.
        const int from = ::open(source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (from < 0)
            return false;
        struct stat info { };
        if (::fstat(from, &info) == 0 && S_ISREG(info.st_mode))
            temporary = WriteTemporary(target, source, [from](int fd) { return CopyBytes(from, fd); });
        ::close(from);
        if (temporary.empty())
            return false;
    }
    return RenameOver(temporary, target);
}

} // namespace sw
