#pragma once

// Reducing bitmaps to at most 256 colours: colour lookups, dither engines,
// row access to bitmaps, ReduceBitmap, and the mask of the pixels of a
// transparent colour. Knows bitmaps only, not GIF frames.

#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_settings.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sw {

// 1, 4 and 8 bits per pixel: pixels are indices into the colour table.
inline bool IsIndexedFormat(TPixelFormat format)
{
    return format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit;
}

// The bits per pixel of an indexed format.
inline int IndexedBits(TPixelFormat format)
{
    return format == TPixelFormat::pf1bit ? 1 : format == TPixelFormat::pf4bit ? 4 : 8;
}

// The table index of pixel x in a row of 1, 4 or 8 bits per pixel; the most
// significant bits hold the leftmost pixel.
inline uint8_t IndexAt(const uint8_t* row, int x, int bitsPerPixel)
{
    switch (bitsPerPixel) {
    case 1:
        return (row[x >> 3] >> (7 - (x & 7))) & 0x01;
    case 4:
        return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
    default:
        return row[x];
    }
}

// 216 entries; entry 36r + 6g + b is (51r, 51g, 51b).
std::vector<TRGBQuad> MakeWebCubePalette();

// A colour as blue, green, red bytes.
struct TBgrKey {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
};

// An index the web cube never gives.
constexpr uint8_t kCubeMarker = 255;

class TColorLookup {
public:
    explicit TColorLookup(int colors)
        : m_colors(colors)
    { }
    virtual ~TColorLookup() = default;

    int Colors() const { return m_colors; }
    // Returns the palette index for the colour and replaces red, green and
    // blue by the palette colour chosen.
    virtual uint8_t MapColor(uint8_t& red, uint8_t& green, uint8_t& blue) const = 0;

private:
    int m_colors;
};

// The web cube by arithmetic: each channel c goes to level (c + 3) / 51, a
// biased truncation (47 gives level 0, 48 gives level 1).
class TNetscapeColorLookup final : public TColorLookup {
public:
    TNetscapeColorLookup()
        : TColorLookup(216)
    { }

    static constexpr uint8_t Level(uint8_t channel) { return static_cast<uint8_t>((channel + 3) / 51); }
    static constexpr uint8_t Index(uint8_t red, uint8_t green, uint8_t blue)
    {
        return static_cast<uint8_t>(36 * Level(red) + 6 * Level(green) + Level(blue));
    }

    uint8_t MapColor(uint8_t& red, uint8_t& green, uint8_t& blue) const override;
    // Maps width pixels of blue, green, red bytes to indices.
    static void MapRow(const uint8_t* bgr, uint8_t* indices, int width);
    // The same, but kCubeMarker where the pixel is exactly key.
    static void MapRowMarking(const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key);
};

// Maps width pixels of blue, green, red bytes to web-cube indices.
using TMapRowKernel = void (*)(const uint8_t* bgr, uint8_t* indices, int width);
// The row mappers this processor can run, the portable one first and the
// one MapRow uses last; all give the same indices.
std::vector<TMapRowKernel> WebCubeRowMappers();
// MapRowMarking's kernels, listed the same way.
using TMarkRowKernel = void (*)(const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key);
std::vector<TMarkRowKernel> WebCubeRowMarkers();

// The plain engine: a lookup per pixel, no error carried. The column starts
// at 0 with direction +1 and moves after every pixel; TurnRow reverses the
// walk, so rows are visited in serpentine order.
class TDitherEngine {
public:
    TDitherEngine(int width, const TColorLookup& lookup)
        : m_width(width)
        , m_lookup(lookup)
    { }
    virtual ~TDitherEngine() = default;
    TDitherEngine(const TDitherEngine&) = delete;
    TDitherEngine& operator=(const TDitherEngine&) = delete;

    int Width() const { return m_width; }
    int Column() const { return m_column; }
    int Direction() const { return m_direction; }

    virtual uint8_t MapPixel(uint8_t red, uint8_t green, uint8_t blue);
    virtual void TurnRow();

protected:
    // The lookup's index; red, green and blue become the chosen colour.
    // Moves the column.
    uint8_t Lookup(uint8_t& red, uint8_t& green, uint8_t& blue);

private:
    int m_width;
    const TColorLookup& m_lookup;
    int m_column = 0;
    int m_direction = 1;
};

// Floyd-Steinberg error diffusion (7/16 ahead, 3/16, 5/16, 1/16 below),
// walking rows in serpentine order.
class TFloydSteinbergDitherer final : public TDitherEngine {
public:
    TFloydSteinbergDitherer(int width, const TColorLookup& lookup);

    uint8_t MapPixel(uint8_t red, uint8_t green, uint8_t blue) override;
    void TurnRow() override;

private:
    struct TChannel {
        std::vector<int> ErrorRow; // width + 2 slots; column c is slot c + 1
        int Current = 0;
        int Below = 0;
        int BelowPrevious = 0;
    };
    TChannel m_channels[3]; // red, green, blue
    int m_pointer = 0;
};

// GIFException for the dither kinds that are not built.
std::unique_ptr<TDitherEngine> CreateDitherEngine(TDitherMode kind, int width, const TColorLookup& lookup);

// Row access: converts the bitmap in place to the format, then gives rows
// counted from the top.
class TDIBReader {
public:
    TDIBReader(TBitmap& bitmap, TPixelFormat format);
    const uint8_t* Row(int y) const { return m_bitmap.ScanLine(y); }

private:
    const TBitmap& m_bitmap;
};

// Builds a device-independent image in the target: 8 bits per pixel (colour
// table: the palette, then black up to 256 entries) or 24 bits per pixel.
// Its pixels are left unspecified: the caller writes every row.
// "Unsupported PixelFormat" for other formats, "Invalid image dimensions"
// for an empty size, EOutOfResources "Failed to allocate memory for GIF DIB"
// when the memory cannot be had.
class TDIBWriter {
public:
    TDIBWriter(
        TBitmap& target, const std::vector<TRGBQuad>& palette, int height, int width, TPixelFormat format);
    uint8_t* Row(int y) { return m_target.ScanLine(y); }

private:
    TBitmap& m_target;
};

// A new bitmap of 8 bits per pixel (24 for None) holding the bitmap reduced
// to the palette of kind. Converts the source to 24 bits per pixel in
// place. The palette argument serves Palette only.
std::unique_ptr<TBitmap> ReduceBitmap(TBitmap& bitmap, TColorReduction kind, TDitherMode dither,
    int quantizeBits, const std::vector<TRGBQuad>* palette);

// One flag per pixel, set where the pixel's red, green and blue equal those
// of the transparent colour (a system colour is resolved first; the flag
// bits above the colour play no part).
class TTransparencyMask {
public:
    TTransparencyMask(const TBitmap& bitmap, TColor transparentColor);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const uint8_t* Row(int y) const { return m_bits.data() + size_t(y) * size_t(m_width); }

private:
    int m_width = 0;
    int m_height = 0;
    std::vector<uint8_t> m_bits;
};

} // namespace sw
