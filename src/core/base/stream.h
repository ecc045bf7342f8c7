#pragma once

// Byte streams over memory and files. Readers of outside bytes use
// ReadBuffer, which throws on a short read instead of returning zeros.

#include "core/base/output_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace sw {

enum class SeekOrigin { Begin, Current, End };

class TStream {
public:
    virtual ~TStream() = default;

    // Reads up to count bytes; returns how many were read.
    virtual size_t Read(void* buffer, size_t count) = 0;
    // Writes count bytes; returns how many were written.
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;

    int64_t Position() { return Seek(0, SeekOrigin::Current); }
    void SetPosition(int64_t position) { Seek(position, SeekOrigin::Begin); }
    int64_t Size();
    int64_t Remaining() { return Size() - Position(); }

    // Exactly count bytes or EReadError "Stream read error".
    void ReadBuffer(void* buffer, size_t count);
    // Exactly count bytes or EWriteError "Stream write error", naming the
    // file and the system's reason when the stream has them.
    void WriteBuffer(const void* buffer, size_t count);
    uint8_t ReadByte();
    uint16_t ReadU16LE();
    uint32_t ReadU32LE();
    void WriteByte(uint8_t value) { WriteBuffer(&value, 1); }
    void WriteU16LE(uint16_t value);
    void WriteU32LE(uint32_t value);
    // Copies count bytes (all that is left when count is 0) from source.
    int64_t CopyFrom(TStream& source, int64_t count);
    // Exactly the pieces, one after the other, as ReadBuffer and WriteBuffer
    // of each would (and failing as they do); a file hands them to the system
    // together, so the rows of a picture need neither a call each nor a copy.
    void ReadPieces(std::span<const std::span<uint8_t>> pieces);
    void WritePieces(std::span<const std::span<const uint8_t>> pieces);

protected:
    // Bytes read or written in all; the stream's own Read or Write of each
    // piece unless the stream has a better way.
    virtual size_t ReadScattered(std::span<const std::span<uint8_t>> pieces);
    virtual size_t WriteGathered(std::span<const std::span<const uint8_t>> pieces);
    // "FILE: REASON" for the last failed write, or empty.
    virtual std::string WriteFailureDetail() const { return {}; }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> bytes)
        : m_bytes(std::move(bytes))
    { }

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }
    std::vector<uint8_t>& Bytes() { return m_bytes; }
    void Clear();
    void LoadFromFile(const std::string& fileName);
    void SaveToFile(const std::string& fileName) const;

private:
    std::vector<uint8_t> m_bytes;
    size_t m_position = 0;
};

enum class FileMode { OpenRead, Create };

// A file opened for reading ("Cannot open file %s (REASON)") or created for
// writing ("Cannot create file %s (REASON)"). A created file is written as a
// TOutputFile: under a temporary name, never through a link, and put in
// place by Close; a stream destroyed before that leaves the name as it was.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, FileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

    const std::string& FileName() const { return m_fileName; }
    // Where a created file's bytes wait until Publish; empty otherwise.
    std::string TemporaryFileName() const;
    // Finish, then Publish.
    void Close();
    // Flushes and closes; throws EWriteError when buffered bytes cannot be
    // written. A created file is not yet under its name.
    void Finish();
    // Puts a finished created file in place (EFCreateError when it cannot);
    // without it the temporary file goes with the stream.
    void Publish();

protected:
    std::string WriteFailureDetail() const override;
    size_t ReadScattered(std::span<const std::span<uint8_t>> pieces) override;
    size_t WriteGathered(std::span<const std::span<const uint8_t>> pieces) override;

private:
    std::string m_fileName;
    std::FILE* m_file = nullptr;
    std::unique_ptr<TOutputFile> m_output; // created files only
    int m_error = 0; // errno of the last failed write
};

} // namespace sw
