#include "core/imaging/gif/lzw_decoder.h"

#include "core/base/errors.h"
#include "core/imaging/gif/gif_messages.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace sw {

namespace {

constexpr int kTableSize = 4096;
constexpr int kMaxBlock = 255;
// Bytes after the data, so that a code is always assembled from three bytes.
constexpr int kSlack = 8;

inline void Copy16(uint8_t* target, const uint8_t* source)
{
    uint8_t chunk[16];
    std::memcpy(chunk, source, 16);
    std::memcpy(target, chunk, 16);
}

// Copies a string that lies wholly before target. With room to spare it copies
// in 16-byte chunks and may scribble up to 15 bytes past the string, which the
// following strings (or the final fill) overwrite. Returns the bytes written.
inline int64_t CopyString(uint8_t* target, const uint8_t* source, int length, int64_t room)
{
    if (length + 16 <= room) {
        for (int i = 0; i < length; i += 16)
            Copy16(target + i, source + i);
        return length;
    }
    const int64_t count = std::min<int64_t>(length, room);
    std::memcpy(target, source, static_cast<size_t>(count));
    return count;
}

} // namespace

// An entry is either exact (length > 0: its string is length bytes at start,
// somewhere in the pixels already written, or one byte of the root row) or
// must be walked through prefix and suffix. Only corrupt data makes entries of
// the second kind: a code after a clear that names no string, a code beyond
// the next free entry, or an entry built on either.
struct TLZWDecoder::TTables {
    uint16_t prefix[kTableSize];
    uint8_t suffix[kTableSize];
    uint16_t length[kTableSize];
    const uint8_t* start[kTableSize];
    uint8_t roots[kTableSize + 16];
    uint8_t stack[kTableSize];
    uint8_t buffer[2 + kMaxBlock + kSlack];
};

TLZWDecoder::TLZWDecoder(TByteReader& reader, TLZWWarningHandler warning)
    : m_reader(reader)
    , m_warning(std::move(warning))
    , m_tables(new TTables) // Start() sets every entry a frame reads
{
    for (int i = 0; i < kTableSize + 16; ++i)
        m_tables->roots[i] = static_cast<uint8_t>(i);
}

TLZWDecoder::~TLZWDecoder() = default;

void TLZWDecoder::Warn(const char* message) const
{
    if (m_warning)
        m_warning(message);
}

void TLZWDecoder::Start(int codeSize)
{
    TTables& t = *m_tables;
    m_codeSize = codeSize;
    m_clearCode = 1 << codeSize;
    m_endCode = m_clearCode + 1;
    m_codeWidth = codeSize + 1;
    m_widthLimit = 2 * m_clearCode;
    m_nextFree = m_clearCode + 2;
    for (int i = 0; i < m_clearCode; ++i) {
        t.prefix[i] = 0;
        t.suffix[i] = static_cast<uint8_t>(i);
        t.length[i] = 1;
        t.start[i] = &t.roots[i];
    }
    for (int i = m_clearCode; i < kTableSize; ++i) {
        t.prefix[i] = 0;
        t.suffix[i] = 0;
        t.length[i] = 0;
        t.start[i] = nullptr;
    }
    std::memset(t.buffer, 0, sizeof t.buffer);
    m_bitPosition = 0;
    m_bitLimit = 0;
    m_lastByte = 2;
    m_terminatorSeen = false;
    m_dataEnded = false;
    m_clearFirst = true;
    m_oldCode = 0;
    m_firstValue = 0;
    m_oldStart = nullptr;
    m_oldLength = 0;
    m_oldExact = false;
    m_pending = 0;
}

void TLZWDecoder::ResetTable()
{
    TTables& t = *m_tables;
    // Entries at and above the next free one are still zero from the last reset.
    for (int i = m_clearCode; i < m_nextFree; ++i) {
        t.prefix[i] = 0;
        t.suffix[i] = 0;
        t.length[i] = 0;
    }
    m_codeWidth = m_codeSize + 1;
    m_widthLimit = 2 * m_clearCode;
    m_nextFree = m_clearCode + 2;
    m_pending = 0;
}

bool TLZWDecoder::Refill()
{
    if (m_terminatorSeen) {
        if (m_bitPosition >= m_bitLimit)
            Warn(gif_message::kBitBufferUnderRun);
        return false;
    }
    if (m_dataEnded)
        return false;
    TTables& t = *m_tables;
    // A 12-bit code can straddle two one-byte sub-blocks, so keep loading
    // until the code is whole or the data has ended.
    do {
        t.buffer[0] = t.buffer[m_lastByte - 2];
        t.buffer[1] = t.buffer[m_lastByte - 1];
        if (m_reader.AtEnd()) {
            m_dataEnded = true;
            return false;
        }
        const uint8_t size = m_reader.U8();
        size_t got = 0;
        if (size == 0) {
            m_terminatorSeen = true;
        } else {
            got = std::min<size_t>(size, m_reader.Remaining());
            m_reader.CopyTo(t.buffer + 2, got);
            if (got < size)
                Warn(gif_message::kPrematureEndOfData);
        }
        std::memset(t.buffer + 2 + got, 0, kSlack);
        m_bitPosition = m_bitPosition - m_bitLimit + 16;
        m_lastByte = 2 + static_cast<int>(got);
        m_bitLimit = m_lastByte * 8;
    } while (m_bitPosition + m_codeWidth > m_bitLimit && !m_terminatorSeen);
    if (m_bitPosition + m_codeWidth > m_bitLimit) {
        // The data ended inside this code: its missing bits do not exist, so
        // it yields no pixel.
        m_bitPosition = m_bitLimit;
        Warn(gif_message::kBitBufferUnderRun);
        return false;
    }
    return true;
}

inline int TLZWDecoder::ReadCode()
{
    if (m_clearFirst) {
        m_clearFirst = false;
        return m_clearCode;
    }
    // The next block is fetched already when the code ends exactly at the
    // block's end, so a terminator right behind the last code is seen early.
    if (m_bitPosition + m_codeWidth >= m_bitLimit && !Refill())
        return -1;
    const uint8_t* bytes = m_tables->buffer + (m_bitPosition >> 3);
    const uint32_t bits = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8)
        | (static_cast<uint32_t>(bytes[2]) << 16);
    const int code = static_cast<int>((bits >> (m_bitPosition & 7)) & ((1u << m_codeWidth) - 1));
    m_bitPosition += m_codeWidth;
    return code;
}

int TLZWDecoder::ReadFirstAfterClear()
{
    int code;
    do {
        code = ReadCode();
    } while (code == m_clearCode);
    if (code >= 0) {
        m_oldCode = code;
        m_firstValue = static_cast<uint8_t>(code);
    }
    return code;
}

void TLZWDecoder::SkipRest()
{
    for (;;) {
        if (m_reader.AtEnd()) {
            m_dataEnded = true;
            return;
        }
        const uint8_t size = m_reader.U8();
        if (size == 0) {
            // Remembered so that a later code request does not take the
            // blocks after the image data for more sub-blocks.
            m_terminatorSeen = true;
            return;
        }
        if (m_reader.Remaining() < size) {
            m_reader.Skip(m_reader.Remaining());
            m_dataEnded = true;
            return;
        }
        m_reader.Skip(size);
    }
}

inline void TLZWDecoder::AddEntry(uint8_t suffix, const uint8_t* start, int length)
{
    TTables& t = *m_tables;
    t.prefix[m_nextFree] = static_cast<uint16_t>(m_oldCode);
    t.suffix[m_nextFree] = suffix;
    t.start[m_nextFree] = start;
    t.length[m_nextFree] = static_cast<uint16_t>(length);
    ++m_nextFree;
    if (m_nextFree >= m_widthLimit && m_widthLimit < kTableSize) {
        m_widthLimit *= 2;
        ++m_codeWidth;
    }
}

int TLZWDecoder::SlowWalk(int code)
{
    TTables& t = *m_tables;
    const int incoming = code;
    int count = 0;
    auto push = [&](uint8_t value) {
        if (count == kTableSize)
            throw GIFException(gif_message::kCircularTableEntry);
        t.stack[count++] = value;
    };
    if (code >= m_nextFree) {
        push(m_firstValue);
        code = m_oldCode;
    }
    while (code >= m_clearCode) {
        push(t.suffix[code]);
        if (t.prefix[code] == code)
            throw GIFException(gif_message::kCircularTableEntry);
        code = t.prefix[code];
    }
    m_firstValue = t.suffix[code];
    push(m_firstValue);
    if (m_nextFree < kTableSize)
        AddEntry(m_firstValue, nullptr, 0);
    m_oldCode = incoming;
    m_oldExact = false;
    return count;
}

int64_t TLZWDecoder::DecodeInto(uint8_t* out, int64_t total)
{
    TTables& t = *m_tables;
    int64_t position = 0;
    while (position < total) {
        const int code = ReadCode();
        if (code < 0)
            break;
        uint8_t* target = out + position;
        const int64_t room = total - position;
        const int length = t.length[code];
        if (length != 0) {
            const int64_t written = CopyString(target, t.start[code], length, room);
            if (m_nextFree < kTableSize)
                AddEntry(*target, m_oldStart, m_oldExact ? m_oldLength + 1 : 0);
            m_oldCode = code;
            m_firstValue = *target;
            m_oldStart = target;
            m_oldLength = length;
            m_oldExact = true;
            m_pending = length - static_cast<int>(written);
            position += written;
            continue;
        }
        if (code == m_clearCode) {
            ResetTable();
            const int first = ReadFirstAfterClear();
            if (first < 0)
                break;
            *target = static_cast<uint8_t>(first);
            m_oldStart = target;
            m_oldLength = 1;
            // A first code that is not a root names no string of its own yet:
            // entries built on it must be walked.
            m_oldExact = first < m_clearCode;
            ++position;
            continue;
        }
        if (code == m_endCode) {
            if (!m_terminatorSeen)
                SkipRest();
            break;
        }
        if (code == m_nextFree && m_oldExact) {
            // The string of the code being defined: the previous string plus
            // its own first value.
            const uint8_t first = *m_oldStart;
            const int newLength = m_oldLength + 1;
            int64_t written = CopyString(target, m_oldStart, m_oldLength, room);
            if (written < room)
                target[written++] = m_firstValue;
            const bool exact = first == m_firstValue;
            AddEntry(first, m_oldStart, exact ? newLength : 0);
            m_oldCode = code;
            m_firstValue = first;
            m_oldStart = target;
            m_oldLength = newLength;
            m_oldExact = exact;
            m_pending = newLength - static_cast<int>(written);
            position += written;
            continue;
        }
        const int count = SlowWalk(code);
        const int64_t written = std::min<int64_t>(count, room);
        for (int64_t i = 0; i < written; ++i)
            target[i] = t.stack[count - 1 - i];
        m_pending = count - static_cast<int>(written);
        position += written;
    }
    return position;
}

void TLZWDecoder::NextValueAfterEnd()
{
    if (m_pending > 0) {
        --m_pending;
        return;
    }
    const int code = ReadCode();
    if (code < 0)
        return;
    if (code == m_clearCode) {
        ResetTable();
        ReadFirstAfterClear();
    } else if (code == m_endCode) {
        if (!m_terminatorSeen)
            SkipRest();
    } else {
        SlowWalk(code);
    }
}

void TLZWDecoder::Deinterlace(uint8_t* pixels, int width, int height)
{
    // Row s of the decoded order belongs at row destination[s]: rows 0, 8,
    // 16, ...; 4, 12, ...; 2, 6, ...; 1, 3, 5, ...
    std::vector<int> source(static_cast<size_t>(height), -1);
    int row = 0;
    int step = 8;
    int pass = 0;
    for (int s = 0; s < height; ++s) {
        source[static_cast<size_t>(row)] = s;
        row += step;
        while (row >= height && pass < 4) {
            if (pass > 0)
                step /= 2;
            ++pass;
            row = step / 2;
        }
    }
    // Follow each cycle of the permutation with one row of scratch.
    const size_t rowBytes = static_cast<size_t>(width);
    std::vector<uint8_t> scratch(rowBytes);
    auto rowAt = [&](int r) { return pixels + rowBytes * static_cast<size_t>(r); };
    for (int first = 0; first < height; ++first) {
        if (source[static_cast<size_t>(first)] < 0 || source[static_cast<size_t>(first)] == first)
            continue;
        std::memcpy(scratch.data(), rowAt(first), rowBytes);
        int at = first;
        for (;;) {
            const int from = source[static_cast<size_t>(at)];
            source[static_cast<size_t>(at)] = -1;
            if (from == first) {
                std::memcpy(rowAt(at), scratch.data(), rowBytes);
                break;
            }
            std::memcpy(rowAt(at), rowAt(from), rowBytes);
            at = from;
        }
    }
}

void TLZWDecoder::DecodeFrame(uint8_t* pixels, int width, int height, bool interlaced, uint8_t fillValue)
{
    if (width < 0 || height < 0)
        throw std::invalid_argument("DecodeFrame: negative frame size");
    const int64_t total = static_cast<int64_t>(width) * height;
    if (total > 0 && pixels == nullptr)
        throw std::invalid_argument("DecodeFrame: no pixel block");
    m_decoded = 0;
    if (m_reader.AtEnd()) {
        if (total > 0)
            std::memset(pixels, fillValue, static_cast<size_t>(total));
        return;
    }
    const uint8_t codeSize = m_reader.U8();
    if (codeSize > kMaxCodeSize)
        throw GIFException(gif_message::kInvalidData);
    Start(codeSize);
    m_decoded = DecodeInto(pixels, total);
    NextValueAfterEnd();
    if (m_decoded < total)
        std::memset(pixels + m_decoded, fillValue, static_cast<size_t>(total - m_decoded));
    if (interlaced && height > 1 && width > 0)
        Deinterlace(pixels, width, height);
}

} // namespace sw
