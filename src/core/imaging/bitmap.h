#pragma once

// Bitmaps: a pixel store shared between bitmaps assigned from one another
// and copied on the first change, pixel formats, and the canvas.
// TBitmap and TCanvas live in bitmap.cpp; the BMP form that TBitmap reads and
// writes lives in bmp_file.cpp, its pixel store in bitmap_image.h.

#include "core/imaging/graphic.h"
#include "core/imaging/pixel_format.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sw {

enum class TTransparentMode { tmAuto, tmFixed };

// The "no colour chosen" marker of a bitmap's transparent colour.
constexpr TColor kTransparentColorAuto = 0x20000000;
// Bit 25, set on every transparent colour a bitmap reports.
constexpr TColor kTransparentColorFlag = 0x02000000;

// The largest pixel count a bitmap made in memory may have (width x height);
// bigger sizes fail as out of resources rather than being allocated. Files
// are held to the smaller kMaxPicturePixels (core/base/pixel_limit.h).
constexpr int64_t kMaxBitmapPixels = int64_t(1) << 28;

// The palettes used when converting to 4 and 8 bits per pixel; this
// platform has none of its own, so they are fixed here.
// The 16 colours of the classic VGA set in the usual order: black, maroon,
// green, olive, navy, purple, teal, silver (192), grey (128), red, lime,
// yellow, blue, fuchsia, aqua, white.
const std::vector<TRGBQuad>& StandardPalette16();
// 256 colours: the 16 above, then the 6 x 6 x 6 cube of the levels 0, 51,
// 102, 153, 204, 255 (blue fastest, red slowest), then 24 greys 10, 20, ...,
// 240 (values the cube and the 16 do not have).
const std::vector<TRGBQuad>& HalftonePalette256();

class TBitmap;
struct TBitmapImage; // the shared pixel store, private to bitmap.cpp

class TCanvas {
public:
    explicit TCanvas(TBitmap& owner)
        : m_owner(owner)
    { }
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    TColor BrushColor() const { return m_brushColor; }
    void SetBrushColor(TColor color) { m_brushColor = color; }
    // Raster operation; the default 0xCC0020 is a plain source copy.
    uint32_t CopyMode() const { return m_copyMode; }
    void SetCopyMode(uint32_t mode) { m_copyMode = mode; }

    void FillRect(const TRect& rect);
    // Copies source's sourceRect into dest; stretches or shrinks when the
    // two rectangles differ in size. Parts outside either bitmap are clipped.
    void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);
    // RGB colour of one pixel, or clNone (0x1FFFFFFF) outside the bitmap.
    TColor Pixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    TBitmap& Owner() { return m_owner; }

private:
    TBitmap& m_owner;
    TColor m_brushColor = clWhite;
    uint32_t m_copyMode = 0xCC0020;
};

class TBitmap : public TGraphic {
public:
    TBitmap();
    ~TBitmap() override;
    // Copying shares the pixel store (no pixels are copied).
    TBitmap(const TBitmap& other);
    TBitmap& operator=(const TBitmap& other);

    const char* ClassName() const override { return "TBitmap"; }
    int Width() const override;
    int Height() const override;
    bool Empty() const override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void SetSize(int width, int height);
    // A new store of that size in the same format whose pixels are left
    // unspecified (row padding is zero), for a caller that writes every row
    // next, such as a decoder: it saves a pass over the whole picture.
    // Nothing of the old pixels is kept.
    void SetSizeForOverwrite(int width, int height);

    // From a bitmap: share its store and take its transparency settings.
    // From any other kind: ask it to convert itself.
    void Assign(const TGraphic& source) override;
    // Becomes empty ("assign from nothing").
    void Clear();

    TPixelFormat PixelFormat() const;
    // "Invalid pixel format" for pfCustom, unless the bitmap already is custom.
    void SetPixelFormat(TPixelFormat format);
    int BitsPerPixel() const;
    bool Monochrome() const;
    bool IsDevice() const;
    // Bytes from one row to the next: bits per pixel x width, rounded up to 4.
    int RowBytes() const;

    // Row y counted from the top; gives this bitmap its own store first and
    // brings it into device-independent form (a device bitmap then reports
    // pf24bit: same bytes). "Scan line index out of range" outside
    // 0 .. height - 1.
    uint8_t* ScanLine(int y);
    // Read-only row access that never copies the store.
    const uint8_t* ScanLine(int y) const;
    // The rows of a pf24bit bitmap as the cell writers take them; valid
    // while the bitmap is neither changed nor destroyed.
    TPixelView View24() const;

    // Colour table of a 1/4/8-bit bitmap (entries blue, green, red, 0).
    const std::vector<TRGBQuad>& ColorTable() const;
    void SetColorTable(const std::vector<TRGBQuad>& table);
    // Palette of a bitmap above 8 bits read with a colour table (written back).
    const std::vector<TRGBQuad>& Palette() const;
    // Masks of a 16/32-bit store with bit-field compression (else 0).
    uint32_t RedMask() const;
    uint32_t GreenMask() const;
    uint32_t BlueMask() const;

    TCanvas& Canvas();
    bool HasCanvas() const { return m_canvas != nullptr; }

    // Transparent colour as read: fixed mode gives the set colour resolved to
    // RGB; automatic mode gives the bottom-left pixel (0x02FFFFFF for a
    // monochrome bitmap); both with bit 25 set.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);
    TTransparentMode TransparentMode() const;

    // BMP form: see bmp_file.cpp for the layouts written and read. Reading
    // fails with EInvalidGraphic "Bitmap image is not valid" (with the size
    // and the limit added for a picture above the pixel limit) and leaves
    // the bitmap as it was; an empty stream gives an empty bitmap.
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) override;

    void Draw(TCanvas& canvas, const TRect& rect) override;

    // The bitmap as a device-independent bitmap; an empty bitmap gives no
    // bytes. Loading takes only that form ("Unsupported clipboard format"),
    // reads it as a BMP file and leaves the bitmap as it was on failure.
    void SaveToClipboardFormat(TClipboardData& data) override;
    void LoadFromClipboardFormat(const TClipboardData& data) override;

private:
    friend class TCanvas;
    void Unshare();
    // Makes the store this bitmap's own and forgets a file's bytes kept for
    // writing back: called before every change of pixels.
    TBitmapImage& Changing();
    void ReplaceImage(std::shared_ptr<TBitmapImage> image);
    std::shared_ptr<TBitmapImage> m_image;
    std::unique_ptr<TCanvas> m_canvas;
    TColor m_transparentColor = kTransparentColorAuto;
    TTransparentMode m_transparentMode = TTransparentMode::tmAuto;
};

} // namespace sw
