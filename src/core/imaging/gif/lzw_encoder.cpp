#include "imaging/gif/lzw_encoder.h"

#include "base/errors.h"

#include <cstring>

namespace sw {

namespace {

constexpr int kMaxAssignedCode = 4094;

} // namespace

void THashTable::Clear()
{
    std::memset(m_slots.data(), 0xFF, sizeof m_slots);
}

TGIFEncoder::TGIFEncoder(TStream& stream, int codeSize, int colorLimit)
    : m_stream(stream)
    , m_writer(stream)
    , m_codeSize(codeSize < 2 ? 2 : codeSize)
    , m_colorLimit(colorLimit)
{
    m_initialWidth = m_codeSize + 1;
    m_codeWidth = m_initialWidth;
    m_maxCode = (1 << m_codeWidth) - 1;
    m_clearCode = 1 << m_codeSize;
    m_endCode = m_clearCode + 1;
    m_firstFree = m_clearCode + 2;
    m_nextFree = m_firstFree;
}

void TGIFEncoder::ThrowColorNotInTable()
{
    throw GIFException("Color not in color table");
}

void TGIFEncoder::Encode(const uint8_t* pixels, bool interlace, int height, int width)
{
    m_stream.WriteByte(static_cast<uint8_t>(m_codeSize));
    m_pixels = pixels;
    m_interlace = interlace;
    m_height = height;
    m_width = width;
    try {
        if (pixels != nullptr && height > 0 && width > 0)
            Compress();
        OutputEndCode();
    } catch (...) {
        // The bytes already produced still go out; a failing flush replaces
        // the original error, as any stream error would.
        m_writer.Flush();
        throw;
    }
    m_writer.Flush();
    m_stream.WriteByte(0);
}

void TGIFEncoder::OutputEndCode()
{
    Output(m_endCode);
    // The last byte's spare high bits stay zero.
    while (m_bitCount > 0) {
        m_writer.PutByte(static_cast<uint8_t>(m_accumulator));
        m_accumulator >>= 8;
        m_bitCount = m_bitCount > 8 ? m_bitCount - 8 : 0;
    }
}

template <typename Visit> void TGIFEncoder::Walk(Visit&& visit) const
{
    const size_t rowBytes = static_cast<size_t>(m_width);
    if (!m_interlace) {
        visit(m_pixels, m_pixels + rowBytes * static_cast<size_t>(m_height));
        return;
    }
    // Rows 0, 8, 16, ...; then 4, 12, ...; then 2, 6, ...; then 1, 3, 5, ...
    static constexpr int kStart[4] = { 0, 4, 2, 1 };
    static constexpr int kStep[4] = { 8, 8, 4, 2 };
    for (int pass = 0; pass < 4; ++pass) {
        for (int row = kStart[pass]; row < m_height; row += kStep[pass]) {
            const uint8_t* first = m_pixels + rowBytes * static_cast<size_t>(row);
            visit(first, first + rowBytes);
        }
    }
}

void TLZWEncoder::Clear()
{
    m_clearPending = true;
    Output(m_clearCode);
    m_table.Clear();
    m_nextFree = m_firstFree;
}

void TLZWEncoder::Compress()
{
    Clear();
    bool started = false;
    uint32_t prefix = 0;
    Walk([&](const uint8_t* pixel, const uint8_t* end) {
        if (!started) {
            CheckPixel(*pixel);
            prefix = *pixel++;
            started = true;
        }
        const uint32_t colorLimit = static_cast<uint32_t>(m_colorLimit);
        // The hit path touches only the table; everything else waits for a miss.
        for (; pixel != end; ++pixel) {
            const uint32_t c = *pixel;
            if (c >= colorLimit)
                ThrowColorNotInTable();
            const uint32_t key = THashTable::Key(prefix, c);
            uint32_t* slot = m_table.Find(key);
            if (THashTable::Used(*slot)) {
                prefix = static_cast<uint32_t>(THashTable::Code(*slot));
                continue;
            }
            Output(static_cast<int>(prefix));
            prefix = c;
            if (m_nextFree > kMaxAssignedCode) {
                Clear();
            } else {
                THashTable::Store(slot, key, static_cast<uint32_t>(m_nextFree));
                ++m_nextFree;
            }
        }
    });
    Output(static_cast<int>(prefix));
}

void EncodeFrame(TStream& stream, int codeSize, int colorLimit, const uint8_t* pixels, bool interlace,
    int height, int width)
{
    TLZWEncoder encoder(stream, codeSize, colorLimit);
    encoder.Encode(pixels, interlace, height, width);
}

} // namespace sw
