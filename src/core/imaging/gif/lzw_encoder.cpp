#include "core/imaging/gif/lzw_encoder.h"

#include "core/base/errors.h"
#include "core/imaging/gif/gif_messages.h"

#include <algorithm>
#include <bit>
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
    throw GIFException(gif_message::kColorNotInTable);
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
        DrainOutput();
        m_writer.Flush();
        throw;
    }
    DrainOutput();
    m_writer.Flush();
    m_stream.WriteByte(0);
}

void TGIFEncoder::DrainOutput()
{
    // Emptied first, so that a failing write does not send the bytes twice.
    const size_t fill = m_outFill;
    m_outFill = 0;
    m_writer.Write(m_out, fill);
}

void TGIFEncoder::OutputEndCode()
{
    Output(m_endCode);
    // The last byte's spare high bits stay zero.
    if (m_bitCount > 0) {
        m_out[m_outFill++] = static_cast<uint8_t>(m_accumulator);
        m_accumulator = 0;
        m_bitCount = 0;
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
    for (std::vector<uint16_t>& codes : m_runCodes)
        codes.clear();
    for (size_t c = 0; c < m_runTop.size(); ++c)
        m_runTop[c] = static_cast<uint16_t>(c);
    m_nextFree = m_firstFree;
}

namespace {

// How many of the first limit bytes from first on equal value (limit <= end - first).
size_t EqualRun(const uint8_t* first, size_t limit, uint8_t value)
{
    size_t n = 0;
    if constexpr (std::endian::native == std::endian::little) {
        const uint64_t pattern = value * 0x0101010101010101u;
        for (; n + 8 <= limit; n += 8) {
            uint64_t word;
            std::memcpy(&word, first + n, 8);
            if (const uint64_t differ = word ^ pattern; differ != 0)
                return n + static_cast<size_t>(std::countr_zero(differ) / 8);
        }
    }
    while (n < limit && first[n] == value)
        ++n;
    return n;
}

} // namespace

void TLZWEncoder::Compress()
{
    Clear();
    bool started = false;
    uint32_t prefix = 0;
    Walk([&](const uint8_t* first, const uint8_t* end) {
        if (!started) {
            CheckPixel(*first);
            prefix = *first;
            started = true;
            first = FollowRun(first + 1, end, prefix);
        }
        prefix = CompressSpan(first, end, prefix);
    });
    Output(static_cast<int>(prefix));
}

const uint8_t* TLZWEncoder::FollowRun(const uint8_t* pixel, const uint8_t* end, uint32_t& prefix) const
{
    const std::vector<uint16_t>& codes = m_runCodes[prefix];
    const size_t n
        = EqualRun(pixel, std::min(codes.size(), size_t(end - pixel)), static_cast<uint8_t>(prefix));
    if (n == 0)
        return pixel;
    prefix = codes[n - 1];
    return pixel + n;
}

uint32_t TLZWEncoder::CompressSpan(const uint8_t* pixel, const uint8_t* end, uint32_t prefix)
{
    // The hit path is a plain string-table encoder's; runs cost only on a
    // miss, and only where the next pixel repeats. The output state lives
    // in locals here: the byte stores of the output would otherwise make the
    // compiler reload every member after each code. It goes back to the
    // members before anything else reads them.
    const uint32_t colorLimit = static_cast<uint32_t>(m_colorLimit);
    uint64_t accumulator = m_accumulator;
    int bitCount = m_bitCount;
    size_t fill = m_outFill;
    int codeWidth = m_codeWidth;
    int maxCode = m_maxCode;
    int nextFree = m_nextFree;
    auto store = [&] {
        m_accumulator = accumulator;
        m_bitCount = bitCount;
        m_outFill = fill;
        m_codeWidth = codeWidth;
        m_maxCode = maxCode;
        m_nextFree = nextFree;
    };
    auto load = [&] {
        accumulator = m_accumulator;
        bitCount = m_bitCount;
        fill = m_outFill;
        codeWidth = m_codeWidth;
        maxCode = m_maxCode;
        nextFree = m_nextFree;
    };
    auto emit = [&](uint32_t code) {
        if constexpr (std::endian::native == std::endian::little) {
            accumulator |= uint64_t(code) << bitCount;
            bitCount += codeWidth;
            std::memcpy(m_out + fill, &accumulator, 8);
            const int bytes = bitCount >> 3;
            fill += static_cast<size_t>(bytes);
            accumulator >>= 8 * bytes;
            bitCount &= 7;
            if (fill > sizeof m_out - 8) {
                store();
                DrainOutput();
                fill = 0;
            }
            if (nextFree > maxCode) {
                ++codeWidth;
                maxCode = codeWidth == 12 ? 4096 : (1 << codeWidth) - 1;
            }
        } else {
            store();
            Output(static_cast<int>(code));
            load();
        }
    };
    while (pixel != end) {
        const uint32_t c = *pixel++;
        if (c >= colorLimit) {
            store();
            ThrowColorNotInTable();
        }
        const uint32_t key = THashTable::Key(prefix, c);
        uint32_t* slot = m_table.Find(key);
        if (THashTable::Used(*slot)) {
            prefix = static_cast<uint32_t>(THashTable::Code(*slot));
            continue;
        }
        emit(prefix);
        // A miss on a string of repeated c can only be on the longest one
        // known (a shorter one's extension would have been a hit), so the new
        // string continues the series exactly when the prefix is its top.
        const bool extendsRun = prefix == m_runTop[c];
        prefix = c;
        if (nextFree > kMaxAssignedCode) {
            store();
            Clear();
            load();
            continue;
        }
        THashTable::Store(slot, key, static_cast<uint32_t>(nextFree));
        if (extendsRun) {
            m_runCodes[c].push_back(static_cast<uint16_t>(nextFree));
            m_runTop[c] = static_cast<uint16_t>(nextFree);
        }
        ++nextFree;
        // Follow the known strings of repeated c over the equal pixels ahead.
        if (pixel != end && *pixel == c && m_runTop[c] != c)
            pixel = FollowRun(pixel, end, prefix);
    }
    store();
    return prefix;
}

void TRLEEncoder::Clear()
{
    m_clearPending = true;
    Output(m_clearCode);
    for (std::vector<uint16_t>& codes : m_runCodes)
        codes.clear();
    m_nextFree = m_firstFree;
    m_havePrevious = false;
}

void TRLEEncoder::Emit(int code, uint8_t pixel, size_t length)
{
    Output(code);
    // A decoder adds the previous string plus this one's first pixel, at
    // the code one below the next free one counted here (the count runs one
    // ahead, as in the string-table encoder). The entry is kept when it
    // extends the series of strings of this pixel.
    std::vector<uint16_t>& codes = m_runCodes[pixel];
    if (m_havePrevious && m_previousPixel == pixel && m_previousLength == codes.size() + 1)
        codes.push_back(static_cast<uint16_t>(m_nextFree - 1));
    m_havePrevious = true;
    m_previousPixel = pixel;
    m_previousLength = length;
    if (m_nextFree > kMaxAssignedCode)
        Clear();
    else
        ++m_nextFree;
}

void TRLEEncoder::EncodeRun(uint8_t pixel, size_t count)
{
    while (count > 0) {
        const std::vector<uint16_t>& codes = m_runCodes[pixel];
        const size_t length = std::min(codes.size() + 1, count);
        const int code = length >= 2 ? codes[length - 2] : pixel;
        Emit(code, pixel, length);
        count -= length;
    }
}

void TRLEEncoder::Compress()
{
    Clear();
    Walk([&](const uint8_t* first, const uint8_t* end) {
        while (first != end) {
            const uint8_t pixel = *first;
            CheckPixel(pixel);
            const uint8_t* runEnd = first + 1;
            while (runEnd != end && *runEnd == pixel)
                ++runEnd;
            EncodeRun(pixel, static_cast<size_t>(runEnd - first));
            first = runEnd;
        }
    });
}

void EncodeFrameRunLength(TStream& stream, int codeSize, int colorLimit, const uint8_t* pixels,
    bool interlace, int height, int width)
{
    TRLEEncoder encoder(stream, codeSize, colorLimit);
    encoder.Encode(pixels, interlace, height, width);
}

void EncodeFrame(TStream& stream, int codeSize, int colorLimit, const uint8_t* pixels, bool interlace,
    int height, int width)
{
    TLZWEncoder encoder(stream, codeSize, colorLimit);
    encoder.Encode(pixels, interlace, height, width);
}

} // namespace sw
