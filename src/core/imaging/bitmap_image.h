#pragma once

// The pixel store behind TBitmap, and the pixel codec shared by the bitmap,
// its canvas and the BMP reader and writer (bmp_file.h). Private to the
// imaging module; both are implemented in bitmap.cpp.

#include "core/base/colors.h"
#include "core/base/huge_pages.h"
#include "core/imaging/pixel_format.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

namespace sw {

// Pixel bytes that are not written when allocated: a store is filled or
// decoded into right after it is made, and writing a picture of many
// megapixels twice shows.
class TPixelBytes {
public:
    TPixelBytes() = default;
    TPixelBytes(const TPixelBytes& other) { *this = other; }
    TPixelBytes& operator=(const TPixelBytes& other)
    {
        if (this != &other) {
            Allocate(other.m_size);
            if (m_size > 0)
                std::memcpy(m_bytes.get(), other.m_bytes.get(), m_size);
        }
        return *this;
    }
    TPixelBytes(TPixelBytes&&) noexcept = default;
    TPixelBytes& operator=(TPixelBytes&&) noexcept = default;

    uint8_t* data() { return m_bytes.get(); }
    const uint8_t* data() const { return m_bytes.get(); }
    size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    void clear()
    {
        m_bytes.reset();
        m_size = 0;
    }
    // count bytes of unspecified content; std::bad_alloc when there is no room.
    void Allocate(size_t count)
    {
        clear();
        if (count == 0)
            return;
        // Aligned and rounded up, so that a large store is huge pages from
        // end to end.
        const bool huge = count >= kHugePagesFrom;
        const size_t held = huge ? (count + kHugePage - 1) & ~(kHugePage - 1) : count;
        void* bytes = huge ? std::aligned_alloc(kHugePage, held) : std::malloc(count);
        if (!bytes)
            throw std::bad_alloc();
        AdviseHugePages(bytes, held);
        m_bytes.reset(static_cast<uint8_t*>(bytes));
        m_size = count;
    }

private:
    struct TFree {
        void operator()(uint8_t* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<uint8_t[], TFree> m_bytes;
    size_t m_size = 0;
};

constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;

struct TBitmapImage {
    int Width = 0;
    int Height = 0;
    int BitCount = kDisplayBitsPerPixel;
    // Device-dependent: the display's layout (24 bits, no colour table).
    bool Device = true;
    uint32_t Compression = kCompressionNone; // none, or bit fields for 16/32 bits
    uint32_t Masks[3] = { 0, 0, 0 }; // red, green, blue; only with bit fields
    std::vector<TRGBQuad> ColorTable; // 1..8 bits per pixel
    std::vector<TRGBQuad> Palette; // above 8 bits, when read with a colour table
    int32_t XPelsPerMeter = 0;
    int32_t YPelsPerMeter = 0;
    uint32_t ColorsImportant = 0;
    // Read from a file with the 12-byte header: written back in that form.
    bool OS2 = false;
    // A run-length encoded file as read, written back while unchanged.
    std::vector<uint8_t> FileBytes;
    // Rows top to bottom, RowBytes() apart.
    TPixelBytes Pixels;

    bool Empty() const { return Width <= 0 || Height <= 0; }
    int64_t RowBytes() const { return RowBytesFor(Width, BitCount); }
    uint8_t* Row(int y) { return Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(RowBytes()); }
    const uint8_t* Row(int y) const
    {
        return Pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(RowBytes());
    }

    // Allocates zeroed pixels for the current size (none when empty).
    void Allocate();
    // Allocates pixels for the current size, every row filled with an RGB
    // colour (row padding zero).
    void AllocateFilled(TColor rgb);
    // Allocates pixels for the current size and zeroes only the row padding
    // (with a last byte that pixels cover partly); the pixels themselves are
    // left for the caller to write.
    void AllocateForOverwrite();

    static int64_t RowBytesFor(int64_t width, int bitCount) { return (width * bitCount + 31) / 32 * 4; }
};

// Reads and writes pixels of any store layout as RGB colours (0x00BBGGRR).
class TPixelCodec {
public:
    explicit TPixelCodec(const TBitmapImage& image);

    // The raw value of pixel x in a row: a table index, or packed bits.
    uint32_t GetRaw(const uint8_t* row, int x) const;
    void PutRaw(uint8_t* row, int x, uint32_t raw) const;
    TColor Decode(uint32_t raw) const;
    // The raw value closest to an RGB colour (nearest table entry for
    // indexed stores).
    uint32_t Encode(TColor rgb) const;

    TColor Get(const uint8_t* row, int x) const { return Decode(GetRaw(row, x)); }
    void Put(uint8_t* row, int x, TColor rgb) const { PutRaw(row, x, Encode(rgb)); }

private:
    int m_bitCount;
    const std::vector<TRGBQuad>* m_table;
    uint32_t m_masks[3];
    int m_shift[3];
    int m_width[3];
    mutable std::unordered_map<TColor, uint32_t> m_nearest;
};

} // namespace sw
