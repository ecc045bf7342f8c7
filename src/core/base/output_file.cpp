#include "core/base/output_file.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace sw {

namespace {

constexpr size_t kKeep = 200;
constexpr std::string_view kTemporaryMark = ".tmp";
constexpr size_t kSuffixLength = 6;

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
    for (size_t i = 0; i < kSuffixLength; ++i) {
        suffix += kLetters[seed % 36];
        seed /= 36;
    }
    return suffix;
}

// A hidden name beside the target; the name part is shortened so that the
// suffix cannot push it past the file system's limit.
std::string TemporaryNameFor(const std::string& fileName)
{
    const std::string name = ExtractFileName(fileName).substr(0, kKeep);
    return ExtractFilePath(fileName) + "." + name + std::string(kTemporaryMark) + UniqueSuffix();
}

// Up to count bytes; fewer only at the end of the file or on an error.
size_t ReadAll(int fd, uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done;
}

} // namespace

bool FileHoldsBytes(const std::string& fileName, std::span<const uint8_t> bytes)
{
    struct stat info { };
    if (::lstat(fileName.c_str(), &info) != 0 || !S_ISREG(info.st_mode)
        || static_cast<uint64_t>(info.st_size) != bytes.size())
        return false;
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    // One byte more than expected tells a file that grew since the stat.
    std::vector<uint8_t> found(bytes.size() + 1);
    const size_t read = ReadAll(fd, found.data(), found.size());
    ::close(fd);
    return read == bytes.size() && std::equal(bytes.begin(), bytes.end(), found.begin());
}

std::optional<std::string> TemporaryFileTarget(std::string_view baseName)
{
    const size_t fixed = 1 + kTemporaryMark.size() + kSuffixLength;
    if (baseName.size() <= fixed || baseName.size() > fixed + kKeep || baseName.front() != '.')
        return std::nullopt;
    const std::string_view suffix = baseName.substr(baseName.size() - kSuffixLength);
    const bool letters = std::all_of(suffix.begin(), suffix.end(),
        [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
    if (!letters
        || baseName.substr(baseName.size() - kSuffixLength - kTemporaryMark.size(), kTemporaryMark.size())
            != kTemporaryMark)
        return std::nullopt;
    return std::string(baseName.substr(1, baseName.size() - fixed));
}

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

bool TOutputFile::MatchesTarget() const
{
    if (m_tempName.empty())
        return false;
    struct stat info { };
    if (::lstat(m_tempName.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    const int fd = ::open(m_tempName.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool read = ReadAll(fd, bytes.data(), bytes.size()) == bytes.size();
    ::close(fd);
    return read && FileHoldsBytes(m_fileName, bytes);
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
