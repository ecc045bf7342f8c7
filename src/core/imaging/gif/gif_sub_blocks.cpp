#include "core/imaging/gif/gif_sub_blocks.h"

#include "core/base/errors.h"
#include "core/imaging/gif/gif_messages.h"

#include <algorithm>
#include <cstring>

namespace sw {

TGIFWriter::~TGIFWriter()
{
    try {
        Flush();
    } catch (...) {
        // A destructor must not throw; Flush reports the error to callers that ask.
    }
}

size_t TGIFWriter::Read(void*, size_t)
{
    throw GIFException(gif_message::kInvalidStreamOperation);
}

int64_t TGIFWriter::Seek(int64_t, SeekOrigin)
{
    throw GIFException(gif_message::kInvalidStreamOperation);
}

size_t TGIFWriter::Write(const void* buffer, size_t count)
{
    const auto* bytes = static_cast<const uint8_t*>(buffer);
    size_t left = count;
    while (left > 0) {
        const size_t chunk = std::min(left, kMaxBlock + 1 - m_fill);
        std::memcpy(m_buffer + m_fill, bytes, chunk);
        m_fill += chunk;
        bytes += chunk;
        left -= chunk;
        if (m_fill == kMaxBlock + 1)
            WriteFullBlock();
    }
    return count;
}

void TGIFWriter::WriteFullBlock()
{
    m_buffer[0] = static_cast<uint8_t>(kMaxBlock);
    // The fill position returns first so a failed write does not repeat the block.
    m_fill = 1;
    m_stream.WriteBuffer(m_buffer, kMaxBlock + 1);
}

void TGIFWriter::Flush()
{
    if (m_fill <= 1)
        return;
    const size_t length = m_fill - 1;
    m_buffer[0] = static_cast<uint8_t>(length);
    m_fill = 1;
    m_stream.WriteBuffer(m_buffer, length + 1);
}

} // namespace sw
