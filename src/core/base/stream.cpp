#include "core/base/stream.h"

#include "core/base/byte_reader.h"
#include "core/base/errors.h"
#include "core/base/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <system_error>
#include <thread>
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

void TStream::ReadPieces(std::span<const std::span<uint8_t>> pieces)
{
    size_t total = 0;
    for (const std::span<uint8_t>& piece : pieces)
        total += piece.size();
    if (total != 0 && ReadScattered(pieces) != total)
        throw EReadError("Stream read error");
}

void TStream::WritePieces(std::span<const std::span<const uint8_t>> pieces)
{
    size_t total = 0;
    for (const std::span<const uint8_t>& piece : pieces)
        total += piece.size();
    if (total != 0 && WriteGathered(pieces) != total) {
        const std::string detail = WriteFailureDetail();
        throw EWriteError(detail.empty() ? "Stream write error" : WithDetail("Stream write error", detail));
    }
}

size_t TStream::ReadScattered(std::span<const std::span<uint8_t>> pieces)
{
    size_t done = 0;
    for (const std::span<uint8_t>& piece : pieces) {
        const size_t got = piece.empty() ? 0 : Read(piece.data(), piece.size());
        done += got;
        if (got != piece.size())
            break;
    }
    return done;
}

size_t TStream::WriteGathered(std::span<const std::span<const uint8_t>> pieces)
{
    size_t done = 0;
    for (const std::span<const uint8_t>& piece : pieces) {
        const size_t put = piece.empty() ? 0 : Write(piece.data(), piece.size());
        done += put;
        if (put != piece.size())
            break;
    }
    return done;
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

std::string TFileStream::TemporaryFileName() const
{
    return m_output && !m_output->Published() ? m_output->TemporaryFileName() : std::string();
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

namespace {

// The pieces from piece first, byte skip on, through preadv or pwritev
// (call) at position, in batches the system takes; returns the bytes moved,
// fewer at the end of the file or on a failure (errno then set).
template <typename Piece, typename Call>
size_t MovePieces(std::span<const Piece> pieces, off_t position, Call call)
{
    constexpr size_t kBatch = 1024; // IOV_MAX on Linux
    size_t done = 0;
    size_t index = 0;
    size_t skip = 0;
    iovec batch[kBatch];
    while (index < pieces.size()) {
        size_t count = 0;
        for (size_t k = index; k < pieces.size() && count < kBatch; ++k, ++count) {
            const size_t from = k == index ? skip : 0;
            batch[count].iov_base = const_cast<uint8_t*>(pieces[k].data() + from);
            batch[count].iov_len = pieces[k].size() - from;
        }
        const ssize_t moved = call(batch, static_cast<int>(count), position);
        if (moved < 0 && errno == EINTR)
            continue;
        if (moved <= 0)
            break;
        done += static_cast<size_t>(moved);
        position += moved;
        for (size_t left = static_cast<size_t>(moved); index < pieces.size();) {
            const size_t available = pieces[index].size() - skip;
            if (left < available) {
                skip += left;
                break;
            }
            left -= available;
            ++index;
            skip = 0;
        }
    }
    return done;
}

// Reads pieces from position on; a large read is split in two halves read
// side by side, since most of its time is the system zeroing and filling
// new pages, which a second core does as fast as the first.
size_t ReadSideBySide(int fd, std::span<const std::span<uint8_t>> pieces, off_t position)
{
    const auto read = [fd](std::span<const std::span<uint8_t>> part, off_t at) {
        return MovePieces(part, at,
            [fd](const iovec* batch, int count, off_t from) { return ::preadv(fd, batch, count, from); });
    };
    constexpr size_t kSplitFrom = size_t(16) << 20;
    size_t total = 0;
    for (const std::span<uint8_t>& piece : pieces)
        total += piece.size();
    if (total < kSplitFrom || std::thread::hardware_concurrency() < 2)
        return read(pieces, position);
    size_t half = 0;
    size_t split = 0;
    while (split < pieces.size() && half < total / 2)
        half += pieces[split++].size();
    if (split == pieces.size())
        return read(pieces, position);
    size_t second = 0;
    int secondError = 0;
    std::thread reader;
    try {
        reader = std::thread([&] {
            second = read(pieces.subspan(split), position + off_t(half));
            secondError = errno;
        });
    } catch (const std::system_error&) {
        return read(pieces, position);
    }
    const size_t first = read(pieces.first(split), position);
    const int firstError = errno;
    reader.join();
    // Only bytes from the start on count, as with one read.
    if (first != half) {
        errno = firstError;
        return first;
    }
    errno = secondError;
    return first + second;
}

} // namespace

size_t TFileStream::ReadScattered(std::span<const std::span<uint8_t>> pieces)
{
    const off_t start = m_file ? ::ftello(m_file) : -1;
    if (start < 0)
        return TStream::ReadScattered(pieces);
    const size_t done = ReadSideBySide(::fileno(m_file), pieces, start);
    // Past what was read, with stdio's buffer dropped.
    ::fseeko(m_file, start + static_cast<off_t>(done), SEEK_SET);
    return done;
}

size_t TFileStream::WriteGathered(std::span<const std::span<const uint8_t>> pieces)
{
    if (!m_file || !m_output || std::fflush(m_file) != 0)
        return TStream::WriteGathered(pieces);
    const off_t start = ::ftello(m_file);
    if (start < 0)
        return TStream::WriteGathered(pieces);
    const int fd = ::fileno(m_file);
    errno = 0;
    const size_t done = MovePieces(pieces, start,
        [fd](const iovec* batch, int count, off_t at) { return ::pwritev(fd, batch, count, at); });
    const int error = errno;
    ::fseeko(m_file, start + static_cast<off_t>(done), SEEK_SET);
    size_t total = 0;
    for (const std::span<const uint8_t>& piece : pieces)
        total += piece.size();
    if (done != total && m_error == 0)
        m_error = error != 0 ? error : EIO;
    return done;
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
