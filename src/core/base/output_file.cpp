#include "core/base/output_file.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

namespace {

// Six letters that differ between calls and between processes; O_EXCL
// settles any clash.
std::string UniqueSuffix()
{
    static std::atomic<uint64_t> counter { 0 };
    uint64_t seed = static_cast<uint64_t>(::getpid()) * 0x9E3779B97F4A7C15ull
        ^ static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
        ^ (counter.fetch_add(1) * 0xBF58476D1CE4E5B9ull);
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kLetters[seed % 36];
        seed /= 36;
    }
    return suffix;
}

// A hidden name beside the target; the name part is shortened so that the
// suffix cannot push it past the file system's limit.
std::string TemporaryNameFor(const std::string& fileName)
{
    constexpr size_t kKeep = 200;
    const std::string name = ExtractFileName(fileName).substr(0, kKeep);
    return ExtractFilePath(fileName) + "." + name + ".tmp" + UniqueSuffix();
}

} // namespace

std::string SystemErrorText(int error)
{
    const char* text = std::strerror(error);
    if (text && *text)
        return text;
    return Format("I/O error %d", error);
}

TOutputFile::TOutputFile(std::string fileName)
    : m_fileName(std::move(fileName))
{ }

TOutputFile::~TOutputFile()
{
    Discard();
}

int TOutputFile::Create()
{
    Discard();
    m_published = false;
    if (m_fileName.empty() || m_fileName.back() == kPathSeparator) {
        errno = m_fileName.empty() ? ENOENT : EISDIR;
        return -1;
    }

    struct stat old { };
    const bool exists = ::lstat(m_fileName.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode)) {
        // Non-blocking so that a pipe without a reader fails instead of
        // waiting for one.
        const int fd = ::open(m_fileName.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }

    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string tempName = TemporaryNameFor(m_fileName);
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return -1;
        m_tempName = tempName;
        // A replaced file keeps its permissions.
        if (exists && S_ISREG(old.st_mode))
            ::fchmod(fd, old.st_mode & 07777);
        return fd;
    }
    errno = EEXIST;
    return -1;
}

bool TOutputFile::Publish()
{
    if (m_tempName.empty()) {
        m_published = true;
        return true;
    }
    if (::rename(m_tempName.c_str(), m_fileName.c_str()) != 0) {
        const int error = errno;
        Discard();
        errno = error;
        return false;
    }
    m_tempName.clear();
    m_published = true;
    return true;
}

void TOutputFile::Discard() noexcept
{
    if (m_tempName.empty())
        return;
    const int error = errno;
    ::unlink(m_tempName.c_str());
    m_tempName.clear();
    errno = error;
}

} // namespace sw
