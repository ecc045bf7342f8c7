#pragma once

// GIF image data writer: the code-size byte, the pixel block compressed by
// GIF's variable-width LZW (codes packed least significant bit first), the
// bytes cut into data sub-blocks and the zero-length block that ends them.

#include "core/base/stream.h"
#include "core/imaging/gif/gif_sub_blocks.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sw {

// Writes the whole image data of one frame to stream.
// codeSize: bits per pixel index; values below 2 are written as 2.
// colorLimit: the frame's colour count; every pixel must be below it, else
//   GIFException "Color not in color table" is raised after the sub-blocks
//   already produced have been written, and the terminator is not written.
// pixels: width x height indices, rows top to bottom (may be null when the
//   frame is empty: only the end code is written then).
// interlace: codes follow GIF's four-pass row order instead of top to bottom.
// Errors of the stream pass to the caller.
void EncodeFrame(TStream& stream, int codeSize, int colorLimit, const uint8_t* pixels, bool interlace,
    int height, int width);

// The same image data from the run-length encoder (TRLEEncoder).
void EncodeFrameRunLength(TStream& stream, int codeSize, int colorLimit, const uint8_t* pixels,
    bool interlace, int height, int width);

// The LZW string table: (prefix code, pixel) -> code. Each slot holds
// (key << 12) | code with key = prefix * 256 + pixel (20 bits, since a prefix
// is at most 4094); an empty slot has all bits set. Open addressing with a
// power-of-two size and a multiplicative hash keeps each probe short and free
// of divisions; the layout decides only speed, never the codes written.
class THashTable {
public:
    static constexpr int kBits = 13;
    static constexpr uint32_t kSize = 1u << kBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFFu;

    THashTable() { Clear(); }
    void Clear();

    static uint32_t Key(uint32_t prefix, uint32_t pixel) { return (prefix << 8) | pixel; }

    // The slot holding key, or the empty slot where it would be stored.
    // The table never holds more than 4096 keys, so an empty slot always exists.
    uint32_t* Find(uint32_t key)
    {
        uint32_t index = (key * 0x9E3779B1u) >> (32 - kBits);
        for (;;) {
            uint32_t* slot = &m_slots[index];
            if ((*slot >> 12) == key || *slot == kEmpty)
                return slot;
            index = (index + 1) & (kSize - 1);
        }
    }
    static bool Used(uint32_t slot) { return (slot >> 12) != (kEmpty >> 12); }
    static int Code(uint32_t slot) { return static_cast<int>(slot & 0xFFF); }
    static void Store(uint32_t* slot, uint32_t key, uint32_t code) { *slot = (key << 12) | code; }

private:
    std::array<uint32_t, kSize> m_slots;
};

// Code output, bit packing and the pixel walk shared by GIF encoders.
class TGIFEncoder {
public:
    TGIFEncoder(TStream& stream, int codeSize, int colorLimit);
    virtual ~TGIFEncoder() = default;
    TGIFEncoder(const TGIFEncoder&) = delete;
    TGIFEncoder& operator=(const TGIFEncoder&) = delete;

    // Writes everything from the code-size byte to the terminator.
    void Encode(const uint8_t* pixels, bool interlace, int height, int width);

protected:
    // Compresses the frame, ending with the last prefix but not the end code.
    virtual void Compress() = 0;

    // Appends one code at the current width, then steps the width. Whole
    // bytes go to a local buffer with one 8-byte store per code, and from
    // there to the sub-block writer in large pieces.
    void Output(int code)
    {
        m_accumulator |= static_cast<uint64_t>(code) << m_bitCount;
        m_bitCount += m_codeWidth;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(m_out + m_outFill, &m_accumulator, 8);
            const int bytes = m_bitCount >> 3;
            m_outFill += static_cast<size_t>(bytes);
            m_accumulator >>= 8 * bytes;
            m_bitCount &= 7;
        } else {
            for (; m_bitCount >= 8; m_bitCount -= 8, m_accumulator >>= 8)
                m_out[m_outFill++] = static_cast<uint8_t>(m_accumulator);
        }
        if (m_outFill > sizeof m_out - 8)
            DrainOutput();
        StepWidth();
    }
    // Hands the whole bytes waiting in the local buffer to the writer.
    void DrainOutput();
    void OutputEndCode();
    void StepWidth()
    {
        if (m_nextFree > m_maxCode || m_clearPending) {
            if (m_clearPending) {
                m_codeWidth = m_initialWidth;
                m_clearPending = false;
            } else {
                ++m_codeWidth;
            }
            m_maxCode = m_codeWidth == 12 ? 4096 : (1 << m_codeWidth) - 1;
        }
    }

    // Raises "Color not in color table" when pixel is not below the colour limit.
    void CheckPixel(uint8_t pixel) const
    {
        if (pixel >= m_colorLimit)
            ThrowColorNotInTable();
    }
    [[noreturn]] static void ThrowColorNotInTable();

    // Calls visit(first, end) for each run of contiguous pixels in walk order:
    // the whole block, or one row at a time when interlaced.
    template <typename Visit> void Walk(Visit&& visit) const;

    TStream& m_stream;
    TGIFWriter m_writer;
    int m_codeSize;
    int m_colorLimit;
    int m_initialWidth;
    int m_codeWidth;
    int m_maxCode;
    int m_clearCode;
    int m_endCode;
    int m_firstFree;
    int m_nextFree;
    bool m_clearPending = false;
    uint64_t m_accumulator = 0;
    int m_bitCount = 0;
    uint8_t m_out[4096];
    size_t m_outFill = 0;

    const uint8_t* m_pixels = nullptr;
    bool m_interlace = false;
    int m_height = 0;
    int m_width = 0;
};

// The LZW string-table encoder. Codes up to 4094 are assigned; the first miss
// after code 4094 has been assigned sends a clear code (at 12 bits) instead.
class TLZWEncoder : public TGIFEncoder {
public:
    using TGIFEncoder::TGIFEncoder;

protected:
    void Compress() override;

private:
    void Clear();
    // Compresses from pixel to end after the string prefix; returns the
    // string being extended at the end.
    uint32_t CompressSpan(const uint8_t* pixel, const uint8_t* end, uint32_t prefix);
    // With the prefix the single pixel it names, follows the known strings
    // of that pixel repeated over the equal pixels from pixel on; returns
    // the first pixel not taken.
    const uint8_t* FollowRun(const uint8_t* pixel, const uint8_t* end, uint32_t& prefix) const;
    THashTable m_table;
    // m_runCodes[c][k] is the code of the string of k + 2 pixels c. The
    // strings of one repeated pixel in the table always form such an unbroken
    // series, so a run of equal pixels can follow it without table lookups;
    // the codes written stay exactly those of the lookups.
    std::array<std::vector<uint16_t>, 256> m_runCodes;
    // The code of the longest known string of repeated c, or c itself.
    std::array<uint16_t, 256> m_runTop {};
};

// Codes built from runs of equal pixels instead of a string table. Of the
// strings a decoder adds, only those of one repeated pixel are followed, by
// their length; each run is written with the longest such strings known, so
// the table grows as a decoder grows it and no other decoding is needed.
class TRLEEncoder : public TGIFEncoder {
public:
    using TGIFEncoder::TGIFEncoder;

protected:
    void Compress() override;

private:
    void Clear();
    void EncodeRun(uint8_t pixel, size_t count);
    // Writes code, the string of length copies of pixel, and keeps track of
    // the string the decoder adds on reading it.
    void Emit(int code, uint8_t pixel, size_t length);

    // m_runCodes[c][k] is the code of the string of k + 2 pixels c.
    std::array<std::vector<uint16_t>, 256> m_runCodes;
    bool m_havePrevious = false;
    uint8_t m_previousPixel = 0;
    size_t m_previousLength = 0;
};

} // namespace sw
