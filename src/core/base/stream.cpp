#include "core/base/stream.h"

#include "core/base/byte_reader.h"
#include "core/base/errors.h"
#include "core/base/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

int64_t TStream::Size()
{
    const int64_t here = Position();
    const int64_t end = Seek(0, SeekOrigin::End);
    Seek(here, SeekOrigin::Begin);
    return end;
}

void TStream::ReadBuffer(void* buffer, size_t count)
{
    if (count != 0 && Read(buffer, count) != count)
        throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, size_t count)
{
    if (count != 0 && Write(buffer, count) != count) {
        const std::string detail = WriteFailureDetail();
        throw EWriteError(detail.empty() ? "Stream write error" : WithDetail("Stream write error", detail));
    }
}

uint8_t TStream::ReadByte()
{
    uint8_t value = 0;
    ReadBuffer(&value, 1);
    return value;
}

uint16_t TStream::ReadU16LE()
{
    uint8_t b[2];
    ReadBuffer(b, 2);
    return DecodeU16LE(b);
}

uint32_t TStream::ReadU32LE()
{
    uint8_t b[4];
    ReadBuffer(b, 4);
    return DecodeU32LE(b);
}

void TStream::WriteU16LE(uint16_t value)
{
    const uint8_t b[2] = { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8) };
    WriteBuffer(b, 2);
}

void TStream::WriteU32LE(uint32_t value)
{
    const uint8_t b[4] = { static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24) };
    WriteBuffer(b, 4);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0)
        count = source.Remaining();
    uint8_t buffer[65536];
    int64_t left = count;
    while (left > 0) {
        const size_t chunk = static_cast<size_t>(std::min<int64_t>(left, sizeof buffer));
        source.ReadBuffer(buffer, chunk);
        WriteBuffer(buffer, chunk);
        left -= static_cast<int64_t>(chunk);
    }
    return count;
}

size_t TMemoryStream::Read(void* buffer, size_t count)
{
    if (m_position >= m_bytes.size())
        return 0;
    const size_t n = std::min(count, m_bytes.size() - m_position);
    std::memcpy(buffer, m_bytes.data() + m_position, n);
    m_position += n;
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count)
{
    if (count == 0)
        return 0;
    if (m_position + count > m_bytes.size())
        m_bytes.resize(m_position + count);
    std::memcpy(m_bytes.data() + m_position, buffer, count);
    m_position += count;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin)
{
    int64_t base = 0;
    if (origin == SeekOrigin::Current)
        base = static_cast<int64_t>(m_position);
    else if (origin == SeekOrigin::End)
        base = static_cast<int64_t>(m_bytes.size());
    m_position = static_cast<size_t>(std::max<int64_t>(0, base + offset));
    return static_cast<int64_t>(m_position);
}

void TMemoryStream::Clear()
{
    m_bytes.clear();
    m_position = 0;
}

void TMemoryStream::LoadFromFile(const std::string& fileName)
{
    TFileStream file(fileName, FileMode::OpenRead);
    const int64_t size = file.Size();
    // A pipe or a device has no size to trust.
    if (size < 0)
        throw EReadError("Stream read error");
    m_bytes.resize(static_cast<size_t>(size));
    file.ReadBuffer(m_bytes.data(), m_bytes.size());
    m_position = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName) const
{
    TFileStream file(fileName, FileMode::Create);
    file.WriteBuffer(m_bytes.data(), m_bytes.size());
    file.Close();
}

namespace {

// Only a regular file is read. A folder opens like one, but its size can read
// as 2^63 - 1, which a reader would take for the bytes still to come; opening
// a named pipe would wait, without end, for a writer. Null with errno set.
std::FILE* OpenRegularFile(const std::string& fileName)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        errno = error;
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return file;
}

std::string OpenFailureReason(int error)
{
    return error == EINVAL ? std::string("not a regular file") : SystemErrorText(error);
}

} // namespace

TFileStream::TFileStream(const std::string& fileName, FileMode mode)
    : m_fileName(fileName)
{
    if (mode == FileMode::OpenRead) {
        m_file = OpenRegularFile(fileName);
        if (!m_file)
            throw EFOpenError(WithDetail("Cannot open file " + fileName, OpenFailureReason(errno)));
        // Pictures are read a row at a time: a buffer as large as the file,
        // up to 1 MB, turns thousands of reads into a few.
        constexpr off_t kLargestBuffer = 1 << 20;
        struct stat info { };
        if (::fstat(::fileno(m_file), &info) == 0 && info.st_size > BUFSIZ)
            std::setvbuf(
                m_file, nullptr, _IOFBF, static_cast<size_t>(std::min(info.st_size, kLargestBuffer)));
        return;
    }
    m_output = std::make_unique<TOutputFile>(fileName);
    const int fd = m_output->Create();
    if (fd >= 0) {
        m_file = ::fdopen(fd, "wb");
        if (!m_file) {
            const int error = errno;
            ::close(fd);
            errno = error;
        }
    }
    if (!m_file) {
        const int error = errno;
        m_output.reset();
        throw EFCreateError(WithDetail("Cannot create file " + fileName, SystemErrorText(error)));
    }
}

TFileStream::~TFileStream()
{
    if (m_file)
        std::fclose(m_file);
}

void TFileStream::Close()
{
    Finish();
    Publish();
}

void TFileStream::Finish()
{
    if (!m_file)
        return;
    bool failed = std::fflush(m_file) != 0 || std::ferror(m_file);
    if (failed && m_error == 0)
        m_error = errno;
    if (std::fclose(m_file) != 0) {
        failed = true;
        if (m_error == 0)
            m_error = errno;
    }
    m_file = nullptr;
    if (failed) {
        m_output.reset();
        throw EWriteError(WithDetail("Stream write error", WriteFailureDetail()));
    }
}

void TFileStream::Publish()
{
    if (!m_output || m_output->Published())
        return;
    if (!m_output->Publish()) {
        const int error = errno;
        m_output.reset();
        throw EFCreateError(WithDetail("Cannot create file " + m_fileName, SystemErrorText(error)));
    }
}

std::string TFileStream::WriteFailureDetail() const
{
    return m_error == 0 ? m_fileName : m_fileName + ": " + SystemErrorText(m_error);
}

size_t TFileStream::Read(void* buffer, size_t count)
{
    return m_file ? std::fread(buffer, 1, count, m_file) : 0;
}

size_t TFileStream::Write(const void* buffer, size_t count)
{
    if (!m_file)
        return 0;
    const size_t written = std::fwrite(buffer, 1, count, m_file);
    if (written != count && m_error == 0)
        m_error = errno;
    return written;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin)
{
    if (!m_file)
        return 0;
    const int whence = origin == SeekOrigin::Begin ? SEEK_SET
        : origin == SeekOrigin::Current            ? SEEK_CUR
                                                   : SEEK_END;
    if (!(origin == SeekOrigin::Current && offset == 0))
        std::fseek(m_file, static_cast<long>(offset), whence);
    return static_cast<int64_t>(std::ftell(m_file));
}

} // namespace sw
