#pragma once

// GIF image data travels in data sub-blocks: a length byte (1..255) followed
// by that many bytes, the run ended by a zero-length block. TGIFWriter cuts
// a byte stream into such blocks; the terminator is left to the caller.

#include "core/base/stream.h"

#include <cstddef>
#include <cstdint>

namespace sw {

// A write-only stream over another stream. Bytes are collected in a 256-byte
// buffer (length byte first) and go out as one block of 255 as soon as 255 are
// waiting; Flush writes the last, shorter block, or nothing when no byte is
// waiting, so no empty sub-block ever precedes the terminator.
// Read and Seek raise GIFException "Invalid stream operation".
class TGIFWriter : public TStream {
public:
    static constexpr size_t kMaxBlock = 255;

    explicit TGIFWriter(TStream& stream)
        : m_stream(stream)
    { }
    // Flushes what is waiting. Errors of the output stream are swallowed
    // here; call Flush to see them.
    ~TGIFWriter() override;
    TGIFWriter(const TGIFWriter&) = delete;
    TGIFWriter& operator=(const TGIFWriter&) = delete;

    size_t Read(void* buffer, size_t count) override;
    size_t Write(const void* buffer, size_t count) override;
    int64_t Seek(int64_t offset, SeekOrigin origin) override;

    // The encoder's per-byte path: no virtual call, one block write per 255 bytes.
    void PutByte(uint8_t value)
    {
        m_buffer[m_fill++] = value;
        if (m_fill == kMaxBlock + 1)
            WriteFullBlock();
    }

    void Flush();
    bool Waiting() const { return m_fill > 1; }

private:
    void WriteFullBlock();

    TStream& m_stream;
    uint8_t m_buffer[kMaxBlock + 1] = {};
    size_t m_fill = 1;
};

} // namespace sw
