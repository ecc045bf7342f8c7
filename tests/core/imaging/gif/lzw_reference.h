#pragma once

// A plain per-pixel LZW decoder for GIF image data, written for clarity
// rather than speed: codes read one bit at a time from the sub-blocks, a
// prefix/suffix table unwound through a stack one value at a time. The production decoder copies
// whole strings; on any input the two must give the same pixels, warnings
// and final stream position.

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/gif/gif_messages.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace sw::test {

class TReferenceLzw {
public:
    TReferenceLzw(TStream& stream, std::vector<std::string>& warnings)
        : m_stream(stream)
        , m_warnings(warnings)
    { }

    void Decode(uint8_t* pixels, int width, int height, bool interlaced, uint8_t fill)
    {
        std::memset(pixels, fill, size_t(width) * size_t(height));
        uint8_t m = 0;
        if (m_stream.Read(&m, 1) != 1)
            return;
        if (m > 11)
            throw GIFException(gif_message::kInvalidData);
        m_clear = 1 << m;
        m_codeSize = m;
        m_end = m_clear + 1;
        m_width = m + 1;
        m_next = m_clear + 2;
        m_limit = 2 * m_clear;
        try {
            if (!interlaced) {
                for (int64_t i = 0; i < int64_t(width) * height; ++i) {
                    const int value = NextPixel();
                    if (value < 0)
                        break;
                    pixels[i] = static_cast<uint8_t>(value);
                }
            } else {
                int row = 0, step = 8, pass = 0;
                bool stop = false;
                for (int y = 0; y < height && !stop; ++y) {
                    for (int x = 0; x < width; ++x) {
                        const int value = NextPixel();
                        if (value < 0) {
                            stop = true;
                            break;
                        }
                        pixels[size_t(row) * size_t(width) + size_t(x)] = static_cast<uint8_t>(value);
                    }
                    row += step;
                    while (row >= height && pass < 4) {
                        if (pass > 0)
                            step /= 2;
                        ++pass;
                        row = step / 2;
                    }
                }
            }
        } catch (...) {
            throw;
        }
        NextPixel();
    }

    // A code above the next free entry was met: data no encoder writes,
    // which decoders resolve in different ways.
    bool BeyondTable() const { return m_beyondTable; }

private:
    // Appends the next sub-block's bits; false at the end of the stream.
    bool LoadBlock()
    {
        uint8_t size = 0;
        if (m_stream.Read(&size, 1) != 1)
            return false;
        if (size == 0) {
            m_terminator = true;
            return true;
        }
        uint8_t bytes[255];
        const size_t got = m_stream.Read(bytes, size);
        if (got < size)
            m_warnings.push_back(gif_message::kPrematureEndOfData);
        for (size_t i = 0; i < got; ++i)
            for (int bit = 0; bit < 8; ++bit)
                m_bits.push_back((bytes[i] >> bit) & 1);
        return true;
    }

    // Codes are taken one bit at a time from a queue of the sub-blocks'
    // bits, least significant first. The next sub-block is fetched as soon as
    // a code would use up the bits at hand, so a terminator right behind the
    // last code is seen before that code is used; once it is seen, a code
    // needs more bits than its width to be read.
    int ReadCode()
    {
        if (m_first) {
            m_first = false;
            return m_clear;
        }
        if (m_bits.size() <= size_t(m_width)) {
            if (m_terminator) {
                if (m_bits.empty())
                    m_warnings.push_back(gif_message::kBitBufferUnderRun);
                return -1;
            }
            do {
                if (!LoadBlock())
                    return -1;
            } while (m_bits.size() < size_t(m_width) && !m_terminator);
            if (m_bits.size() < size_t(m_width)) {
                // The data ended inside this code.
                m_bits.clear();
                m_warnings.push_back(gif_message::kBitBufferUnderRun);
                return -1;
            }
        }
        int code = 0;
        for (int bit = 0; bit < m_width; ++bit) {
            code |= int(m_bits.front()) << bit;
            m_bits.pop_front();
        }
        return code;
    }

    void Push(int value)
    {
        if (m_top >= 4096)
            throw GIFException(gif_message::kCircularTableEntry);
        m_stack[m_top++] = value;
    }

    int NextLzwValue()
    {
        int code = ReadCode();
        if (code < 0)
            return code;
        if (code == m_clear) {
            for (int i = 0; i < 4096; ++i) {
                m_prefix[i] = 0;
                m_suffix[i] = i < m_clear ? i : 0;
            }
            m_width = m_codeSize + 1;
            m_limit = 2 * m_clear;
            m_next = m_clear + 2;
            m_top = 0;
            do
                code = ReadCode();
            while (code == m_clear);
            m_firstCode = m_oldCode = code;
            return code;
        }
        if (code == m_end) {
            if (!m_terminator) {
                uint8_t size = 0, skip[255];
                while (m_stream.Read(&size, 1) == 1) {
                    if (size == 0) {
                        m_terminator = true;
                        break;
                    }
                    if (m_stream.Read(skip, size) != size)
                        break;
                }
            }
            return -2;
        }
        const int incoming = code;
        if (code > m_next)
            m_beyondTable = true;
        if (code >= m_next) {
            Push(m_firstCode);
            code = m_oldCode;
        }
        while (code >= m_clear) {
            Push(m_suffix[code]);
            if (m_prefix[code] == code)
                throw GIFException(gif_message::kCircularTableEntry);
            code = m_prefix[code];
        }
        m_firstCode = m_suffix[code];
        Push(m_firstCode);
        if (m_next < 4096) {
            m_prefix[m_next] = m_oldCode;
            m_suffix[m_next] = m_firstCode;
            ++m_next;
            if (m_next >= m_limit && m_limit < 4096) {
                m_limit *= 2;
                ++m_width;
            }
        }
        m_oldCode = incoming;
        return m_stack[--m_top];
    }

    int NextPixel() { return m_top > 0 ? m_stack[--m_top] : NextLzwValue(); }

    TStream& m_stream;
    std::vector<std::string>& m_warnings;
    std::deque<bool> m_bits;
    bool m_terminator = false, m_first = true;
    int m_codeSize = 0, m_clear = 0, m_end = 0, m_width = 0, m_next = 0, m_limit = 0;
    int m_firstCode = 0, m_oldCode = 0;
    int m_prefix[4096] = {}, m_suffix[4096] = {}, m_stack[4096] = {};
    int m_top = 0;
    bool m_beyondTable = false;
};

} // namespace sw::test
