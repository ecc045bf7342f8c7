#include "core/imaging/bitmap.h"

#include "core/base/errors.h"
#include "core/imaging/bitmap_image.h"
#include "core/imaging/bmp_file.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>

namespace sw {

namespace {

// Sharing and releasing pixel stores between bitmaps.
std::mutex g_shareLock;

constexpr uint32_t kMasks565[3] = { 0xF800, 0x07E0, 0x001F };
constexpr uint32_t kMasks555[3] = { 0x7C00, 0x03E0, 0x001F };
constexpr uint32_t kMasks888[3] = { 0xFF0000, 0x00FF00, 0x0000FF };

TRGBQuad Quad(uint8_t red, uint8_t green, uint8_t blue)
{
    return TRGBQuad { blue, green, red, 0 };
}

TColor QuadToColor(const TRGBQuad& q)
{
    return RGB(q.Red, q.Green, q.Blue);
}

std::vector<TRGBQuad> MakeStandardPalette()
{
    return { Quad(0, 0, 0), Quad(128, 0, 0), Quad(0, 128, 0), Quad(128, 128, 0), Quad(0, 0, 128),
        Quad(128, 0, 128), Quad(0, 128, 128), Quad(192, 192, 192), Quad(128, 128, 128), Quad(255, 0, 0),
        Quad(0, 255, 0), Quad(255, 255, 0), Quad(0, 0, 255), Quad(255, 0, 255), Quad(0, 255, 255),
        Quad(255, 255, 255) };
}

std::vector<TRGBQuad> MakeHalftonePalette()
{
    std::vector<TRGBQuad> table = MakeStandardPalette();
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                table.push_back(Quad(static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51),
                    static_cast<uint8_t>(b * 51)));
    for (int i = 1; i <= 24; ++i)
        table.push_back(
            Quad(static_cast<uint8_t>(i * 10), static_cast<uint8_t>(i * 10), static_cast<uint8_t>(i * 10)));
    return table;
}

const std::vector<TRGBQuad>& BlackAndWhite()
{
    static const std::vector<TRGBQuad> table = { Quad(0, 0, 0), Quad(255, 255, 255) };
    return table;
}

void ThrowOutOfResources()
{
    throw EOutOfResources("Out of system resources");
}

// The store's pixels copied into another store at the top-left corner,
// converted when the layouts differ; the rest keeps what the new store
// holds.
void CopyTopLeft(const TBitmapImage& from, TBitmapImage& to)
{
    const int width = std::min(from.Width, to.Width);
    const int height = std::min(from.Height, to.Height);
    if (width <= 0 || height <= 0 || from.Pixels.empty() || to.Pixels.empty())
        return;
    if (from.BitCount == to.BitCount && from.BitCount % 8 == 0) {
        const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(from.BitCount / 8);
        for (int y = 0; y < height; ++y)
            std::memcpy(to.Row(y), from.Row(y), bytes);
        return;
    }
    const TPixelCodec source(from);
    const TPixelCodec dest(to);
    const bool sameLayout = from.BitCount == to.BitCount;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t raw = source.GetRaw(from.Row(y), x);
            dest.PutRaw(to.Row(y), x, sameLayout ? raw : dest.Encode(source.Decode(raw)));
        }
}

void Fill(TBitmapImage& image, TColor rgb)
{
    if (image.Pixels.empty())
        return;
    const TPixelCodec codec(image);
    const uint32_t raw = codec.Encode(rgb);
    std::memset(image.Row(0), 0, static_cast<size_t>(image.RowBytes()));
    for (int x = 0; x < image.Width; ++x)
        codec.PutRaw(image.Row(0), x, raw);
    const size_t rowBytes = static_cast<size_t>(image.RowBytes());
    for (int y = 1; y < image.Height; ++y)
        std::memcpy(image.Row(y), image.Row(0), rowBytes);
}

// A copy of the store's format (not its pixels) at another size.
std::shared_ptr<TBitmapImage> SameFormat(const TBitmapImage& image, int width, int height)
{
    auto result = std::make_shared<TBitmapImage>();
    result->Width = width;
    result->Height = height;
    result->BitCount = image.BitCount;
    result->Device = image.Device;
    result->Compression = image.Compression;
    std::copy(std::begin(image.Masks), std::end(image.Masks), std::begin(result->Masks));
    result->ColorTable = image.ColorTable;
    result->Palette = image.Palette;
    result->XPelsPerMeter = image.XPelsPerMeter;
    result->YPelsPerMeter = image.YPelsPerMeter;
    result->ColorsImportant = image.ColorsImportant;
    result->OS2 = image.OS2;
    return result;
}

// The store's format at a new size, for pixels about to be made: a
// monochrome store without a table gets black and white.
std::shared_ptr<TBitmapImage> ResizedFormat(const TBitmapImage& image, int width, int height)
{
    auto result = SameFormat(image, width, height);
    if (result->BitCount == 1 && result->ColorTable.empty())
        result->ColorTable = BlackAndWhite();
    return result;
}

// The result of a ternary raster operation on 24-bit colours: bit i of the
// operation code gives the result for pattern, source, dest bits (i >> 2,
// (i >> 1) & 1, i & 1).
uint32_t RasterOperation(uint32_t code, uint32_t pattern, uint32_t source, uint32_t dest)
{
    uint32_t result = 0;
    for (unsigned i = 0; i < 8; ++i)
        if (code & (1u << i))
            result
                |= ((i & 4) ? pattern : ~pattern) & ((i & 2) ? source : ~source) & ((i & 1) ? dest : ~dest);
    return result & 0xFFFFFF;
}

struct TAxis {
    int Start; // first destination or source coordinate
    int Length; // positive
    bool Flip;
};

TAxis Normalise(int from, int to)
{
    if (to >= from)
        return { from, to - from, false };
    return { to, from - to, true };
}

// Nearest-neighbour source coordinate for destination offset i.
int SourceOffset(int i, const TAxis& dest, const TAxis& source)
{
    int offset = static_cast<int>(((2 * int64_t(i) + 1) * source.Length) / (2 * int64_t(dest.Length)));
    if (dest.Flip != source.Flip)
        offset = source.Length - 1 - offset;
    return offset;
}

// Copies (stretching) sourceRect of source into destRect of dest with a
// raster operation; transparent, when set, is an RGB colour of the source
// left out.
void StretchCopy(TBitmapImage& dest, const TRect& destRect, const TBitmapImage& source,
    const TRect& sourceRect, uint32_t copyMode, TColor brush, std::optional<TColor> transparent)
{
    const TAxis dx = Normalise(destRect.Left, destRect.Right);
    const TAxis dy = Normalise(destRect.Top, destRect.Bottom);
    const TAxis sx = Normalise(sourceRect.Left, sourceRect.Right);
    const TAxis sy = Normalise(sourceRect.Top, sourceRect.Bottom);
    if (dx.Length == 0 || dy.Length == 0 || sx.Length == 0 || sy.Length == 0 || dest.Pixels.empty()
        || source.Pixels.empty())
        return;
    const uint32_t rop = (copyMode >> 16) & 0xFF;
    const bool plainCopy = rop == 0xCC && !transparent;
    const TPixelCodec from(source);
    const TPixelCodec to(dest);
    const int firstRow = std::max(0, -dy.Start);
    const int lastRow = std::min<int64_t>(dy.Length, int64_t(dest.Height) - dy.Start);
    const int firstColumn = std::max(0, -dx.Start);
    const int lastColumn = std::min<int64_t>(dx.Length, int64_t(dest.Width) - dx.Start);

    const bool sameScale = dx.Length == sx.Length && !dx.Flip && !sx.Flip;
    const bool bytewise = plainCopy && sameScale && source.BitCount == dest.BitCount && source.BitCount >= 8
        && source.BitCount % 8 == 0 && (source.BitCount > 8 || source.ColorTable == dest.ColorTable)
        && ((source.BitCount != 16 && source.BitCount != 32)
            || (source.Compression == dest.Compression
                && std::equal(std::begin(source.Masks), std::end(source.Masks), std::begin(dest.Masks))));
    const int pixelBytes = source.BitCount / 8;
    // An indexed picture onto true colour (a GIF frame on its screen): a
    // lookup per pixel rather than a colour conversion, which for a frame
    // at the pixel limit takes seconds. Indices past the table are black,
    // as the codec decodes them.
    const bool indexedToTrue = plainCopy && sameScale && source.BitCount == 8 && dest.BitCount == 24;
    std::array<std::array<uint8_t, 3>, 256> lookup {};
    if (indexedToTrue)
        for (size_t i = 0; i < std::min<size_t>(source.ColorTable.size(), 256); ++i)
            lookup[i] = { source.ColorTable[i].Blue, source.ColorTable[i].Green, source.ColorTable[i].Red };

    for (int i = firstRow; i < lastRow; ++i) {
        const int sourceY = sy.Start + SourceOffset(i, dy, sy);
        if (sourceY < 0 || sourceY >= source.Height)
            continue;
        const uint8_t* sourceRow = source.Row(sourceY);
        uint8_t* destRow = dest.Row(dy.Start + i);
        if (bytewise || indexedToTrue) {
            // Same scale: whole runs inside both bitmaps.
            const int begin = std::max(firstColumn, -(sx.Start));
            const int end = std::min<int64_t>(lastColumn, int64_t(source.Width) - sx.Start);
            if (end > begin && bytewise)
                std::memcpy(destRow + static_cast<size_t>(dx.Start + begin) * pixelBytes,
                    sourceRow + static_cast<size_t>(sx.Start + begin) * pixelBytes,
                    static_cast<size_t>(end - begin) * pixelBytes);
            if (!bytewise && end > begin) {
                const uint8_t* in = sourceRow + sx.Start + begin;
                uint8_t* out = destRow + static_cast<size_t>(dx.Start + begin) * 3;
                for (int j = begin; j < end; ++j, out += 3) {
                    const std::array<uint8_t, 3>& bgr = lookup[*in++];
                    out[0] = bgr[0];
                    out[1] = bgr[1];
                    out[2] = bgr[2];
                }
            }
            continue;
        }
        for (int j = firstColumn; j < lastColumn; ++j) {
            const int sourceX = sx.Start + SourceOffset(j, dx, sx);
            if (sourceX < 0 || sourceX >= source.Width)
                continue;
            const TColor color = from.Get(sourceRow, sourceX);
            if (transparent && color == *transparent)
                continue;
            const int x = dx.Start + j;
            if (plainCopy || rop == 0xCC)
                to.Put(destRow, x, color);
            else
                to.Put(destRow, x, RasterOperation(rop, brush, color, to.Get(destRow, x)));
        }
    }
}

} // namespace

const std::vector<TRGBQuad>& StandardPalette16()
{
    static const std::vector<TRGBQuad> table = MakeStandardPalette();
    return table;
}

const std::vector<TRGBQuad>& HalftonePalette256()
{
    static const std::vector<TRGBQuad> table = MakeHalftonePalette();
    return table;
}

// ---- TBitmapImage and TPixelCodec ----------------------------------------

void TBitmapImage::Allocate()
{
    AllocateForOverwrite();
    if (!Pixels.empty())
        std::memset(Pixels.data(), 0, Pixels.size());
}

void TBitmapImage::AllocateForOverwrite()
{
    Pixels.clear();
    if (Empty())
        return;
    if (int64_t(Width) > kMaxBitmapPixels / Height)
        ThrowOutOfResources();
    try {
        Pixels.Allocate(static_cast<size_t>(RowBytes() * Height));
    } catch (const std::bad_alloc&) {
        ThrowOutOfResources();
    }
    // A byte only partly covered by the last pixels counts as padding.
    const size_t used = static_cast<size_t>(int64_t(Width) * BitCount / 8);
    const size_t padding = static_cast<size_t>(RowBytes()) - used;
    if (padding > 0)
        for (int y = 0; y < Height; ++y)
            std::memset(Row(y) + used, 0, padding);
}

void TBitmapImage::AllocateFilled(TColor rgb)
{
    AllocateForOverwrite();
    Fill(*this, rgb);
}

TPixelCodec::TPixelCodec(const TBitmapImage& image)
    : m_bitCount(image.BitCount)
    , m_table(&image.ColorTable)
{
    const uint32_t* masks = image.Masks;
    if (image.Compression != kCompressionBitFields)
        masks = image.BitCount == 16 ? kMasks555 : kMasks888;
    for (int i = 0; i < 3; ++i) {
        m_masks[i] = masks[i];
        m_shift[i] = masks[i] ? std::countr_zero(masks[i]) : 0;
        m_width[i] = masks[i] ? std::bit_width(masks[i] >> m_shift[i]) : 0;
    }
}

uint32_t TPixelCodec::GetRaw(const uint8_t* row, int x) const
{
    switch (m_bitCount) {
    case 1:
    case 2:
    case 4: {
        // The first pixel sits in the most significant bits of its byte.
        const int bitOffset = x * m_bitCount;
        const int shift = 8 - m_bitCount - bitOffset % 8;
        return (row[bitOffset / 8] >> shift) & ((1u << m_bitCount) - 1);
    }
    case 8:
        return row[x];
    case 16:
        return row[2 * x] | (uint32_t(row[2 * x + 1]) << 8);
    case 24:
        return row[3 * x] | (uint32_t(row[3 * x + 1]) << 8) | (uint32_t(row[3 * x + 2]) << 16);
    default:
        return row[4 * x] | (uint32_t(row[4 * x + 1]) << 8) | (uint32_t(row[4 * x + 2]) << 16)
            | (uint32_t(row[4 * x + 3]) << 24);
    }
}

void TPixelCodec::PutRaw(uint8_t* row, int x, uint32_t raw) const
{
    switch (m_bitCount) {
    case 1:
    case 2:
    case 4: {
        const int bitOffset = x * m_bitCount;
        const int shift = 8 - m_bitCount - bitOffset % 8;
        const uint32_t mask = ((1u << m_bitCount) - 1) << shift;
        uint8_t& byte = row[bitOffset / 8];
        byte = static_cast<uint8_t>((byte & ~mask) | ((raw << shift) & mask));
        return;
    }
    case 8:
        row[x] = static_cast<uint8_t>(raw);
        return;
    case 16:
        row[2 * x] = static_cast<uint8_t>(raw);
        row[2 * x + 1] = static_cast<uint8_t>(raw >> 8);
        return;
    case 24:
        row[3 * x] = static_cast<uint8_t>(raw);
        row[3 * x + 1] = static_cast<uint8_t>(raw >> 8);
        row[3 * x + 2] = static_cast<uint8_t>(raw >> 16);
        return;
    default:
        row[4 * x] = static_cast<uint8_t>(raw);
        row[4 * x + 1] = static_cast<uint8_t>(raw >> 8);
        row[4 * x + 2] = static_cast<uint8_t>(raw >> 16);
        row[4 * x + 3] = static_cast<uint8_t>(raw >> 24);
        return;
    }
}

TColor TPixelCodec::Decode(uint32_t raw) const
{
    if (m_bitCount <= 8)
        return raw < m_table->size() ? QuadToColor((*m_table)[raw]) : clBlack;
    if (m_bitCount == 24)
        return RGB(
            static_cast<uint8_t>(raw >> 16), static_cast<uint8_t>(raw >> 8), static_cast<uint8_t>(raw));
    uint8_t channel[3];
    for (int i = 0; i < 3; ++i) {
        const int width = m_width[i];
        const uint32_t value = (raw & m_masks[i]) >> m_shift[i];
        if (width == 0)
            channel[i] = 0;
        else if (width >= 8)
            channel[i] = static_cast<uint8_t>(value >> (width - 8));
        else {
            const uint32_t top = (1u << width) - 1;
            channel[i] = static_cast<uint8_t>((value * 255 + top / 2) / top);
        }
    }
    return RGB(channel[0], channel[1], channel[2]);
}

uint32_t TPixelCodec::Encode(TColor rgb) const
{
    const uint8_t red = GetRValue(rgb);
    const uint8_t green = GetGValue(rgb);
    const uint8_t blue = GetBValue(rgb);
    if (m_bitCount <= 8) {
        const TColor key = rgb & 0xFFFFFF;
        if (auto found = m_nearest.find(key); found != m_nearest.end())
            return found->second;
        uint32_t best = 0;
        int bestDistance = INT32_MAX;
        const size_t count = std::min<size_t>(m_table->size(), size_t(1) << m_bitCount);
        for (size_t i = 0; i < count && bestDistance != 0; ++i) {
            const TRGBQuad& q = (*m_table)[i];
            const int r = q.Red - red;
            const int g = q.Green - green;
            const int b = q.Blue - blue;
            const int distance = r * r + g * g + b * b;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = static_cast<uint32_t>(i);
            }
        }
        m_nearest.emplace(key, best);
        return best;
    }
    if (m_bitCount == 24)
        return blue | (uint32_t(green) << 8) | (uint32_t(red) << 16);
    const uint8_t channel[3] = { red, green, blue };
    uint32_t raw = 0;
    for (int i = 0; i < 3; ++i) {
        if (m_width[i] == 0)
            continue;
        const uint64_t top = (uint64_t(1) << m_width[i]) - 1;
        raw |= static_cast<uint32_t>(((channel[i] * top + 127) / 255) << m_shift[i]) & m_masks[i];
    }
    return raw;
}

// ---- TCanvas ------------------------------------------------------------

void TCanvas::FillRect(const TRect& rect)
{
    if (m_owner.Empty())
        return;
    const int left = std::max(rect.Left, 0);
    const int top = std::max(rect.Top, 0);
    const int right = std::min(rect.Right, m_owner.Width());
    const int bottom = std::min(rect.Bottom, m_owner.Height());
    if (left >= right || top >= bottom)
        return;
    TBitmapImage& image = m_owner.Changing();
    const TPixelCodec codec(image);
    const uint32_t raw = codec.Encode(ColorToRGB(m_brushColor));
    for (int y = top; y < bottom; ++y) {
        uint8_t* row = image.Row(y);
        for (int x = left; x < right; ++x)
            codec.PutRaw(row, x, raw);
    }
    m_owner.Changed();
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect)
{
    if (m_owner.Empty() || source.m_owner.Empty())
        return;
    // Holding the source store keeps it apart from the destination when both
    // are one store: Changing() then gives the destination a copy.
    std::shared_ptr<TBitmapImage> sourceImage;
    {
        std::lock_guard<std::mutex> lock(g_shareLock);
        sourceImage = source.m_owner.m_image;
    }
    TBitmapImage& image = m_owner.Changing();
    StretchCopy(image, dest, *sourceImage, sourceRect, m_copyMode, ColorToRGB(m_brushColor), std::nullopt);
    m_owner.Changed();
}

TColor TCanvas::Pixel(int x, int y) const
{
    const TBitmapImage& image = *m_owner.m_image;
    if (x < 0 || y < 0 || x >= image.Width || y >= image.Height || image.Pixels.empty())
        return clNone;
    return TPixelCodec(image).Get(image.Row(y), x);
}

void TCanvas::SetPixel(int x, int y, TColor color)
{
    if (x < 0 || y < 0 || x >= m_owner.Width() || y >= m_owner.Height())
        return;
    TBitmapImage& image = m_owner.Changing();
    TPixelCodec(image).Put(image.Row(y), x, ColorToRGB(color));
    m_owner.Changed();
}

// ---- TBitmap ------------------------------------------------------------

TBitmap::TBitmap()
    : m_image(std::make_shared<TBitmapImage>())
{ }

TBitmap::~TBitmap()
{
    std::lock_guard<std::mutex> lock(g_shareLock);
    m_image.reset();
}

TBitmap::TBitmap(const TBitmap& other)
    : TGraphic()
{
    {
        std::lock_guard<std::mutex> lock(g_shareLock);
        m_image = other.m_image;
    }
    m_transparent = other.m_transparent;
    m_transparentColor = other.m_transparentColor;
    m_transparentMode = other.m_transparentMode;
}

TBitmap& TBitmap::operator=(const TBitmap& other)
{
    if (this != &other) {
        ReplaceImage(other.m_image);
        m_transparent = other.m_transparent;
        m_transparentColor = other.m_transparentColor;
        m_transparentMode = other.m_transparentMode;
    }
    return *this;
}

void TBitmap::ReplaceImage(std::shared_ptr<TBitmapImage> image)
{
    std::lock_guard<std::mutex> lock(g_shareLock);
    m_image.swap(image);
    // The old store, if this was its last user, is released here under the lock.
    image.reset();
}

void TBitmap::Unshare()
{
    std::lock_guard<std::mutex> lock(g_shareLock);
    if (m_image.use_count() <= 1)
        return;
    try {
        m_image = std::make_shared<TBitmapImage>(*m_image);
    } catch (const std::bad_alloc&) {
        ThrowOutOfResources();
    }
}

TBitmapImage& TBitmap::Changing()
{
    Unshare();
    m_image->FileBytes.clear();
    m_image->FileBytes.shrink_to_fit();
    return *m_image;
}

int TBitmap::Width() const
{
    return m_image->Width;
}
int TBitmap::Height() const
{
    return m_image->Height;
}
bool TBitmap::Empty() const
{
    return m_image->Empty();
}

void TBitmap::SetWidth(int width)
{
    SetSize(width, Height());
}
void TBitmap::SetHeight(int height)
{
    SetSize(Width(), height);
}

void TBitmap::SetSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == Width() && height == Height())
        return;
    const TBitmapImage& old = *m_image;
    auto image = ResizedFormat(old, width, height);
    image->AllocateFilled(m_canvas ? ColorToRGB(m_canvas->BrushColor()) : clWhite);
    CopyTopLeft(old, *image);
    ReplaceImage(std::move(image));
    Changed();
}

void TBitmap::SetSizeForOverwrite(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    auto image = ResizedFormat(*m_image, width, height);
    image->AllocateForOverwrite();
    ReplaceImage(std::move(image));
    Changed();
}

void TBitmap::Assign(const TGraphic& source)
{
    if (const auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        if (bitmap != this)
            *this = *bitmap;
        Changed();
        return;
    }
    if (!source.AssignTo(*this))
        throw EInvalidGraphicOperation(Format("Cannot assign a %s to a %s", source.ClassName(), ClassName()));
    Changed();
}

void TBitmap::Clear()
{
    ReplaceImage(std::make_shared<TBitmapImage>());
    Changed();
}

TPixelFormat TBitmap::PixelFormat() const
{
    const TBitmapImage& image = *m_image;
    if (image.Device)
        return TPixelFormat::pfDevice;
    const bool bitFields = image.Compression == kCompressionBitFields;
    switch (image.BitCount) {
    case 1:
        return TPixelFormat::pf1bit;
    case 4:
        return TPixelFormat::pf4bit;
    case 8:
        return TPixelFormat::pf8bit;
    case 24:
        return TPixelFormat::pf24bit;
    case 16:
        if (!bitFields)
            return TPixelFormat::pf15bit;
        if (std::equal(std::begin(image.Masks), std::end(image.Masks), std::begin(kMasks565)))
            return TPixelFormat::pf16bit;
        return TPixelFormat::pfCustom;
    case 32:
        return bitFields ? TPixelFormat::pfCustom : TPixelFormat::pf32bit;
    default:
        return TPixelFormat::pfCustom;
    }
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    if (format == PixelFormat())
        return;
    if (format == TPixelFormat::pfCustom)
        throw EInvalidGraphic("Invalid pixel format");
    if (format == TPixelFormat::pf24bit && IsDevice()) {
        // A device store already holds 24-bit rows of blue, green, red, with
        // no table or masks: only its form changes, and its pixels are not
        // copied and converted (a shared store is still copied first).
        Changing().Device = false;
        Changed();
        return;
    }
    const TBitmapImage& old = *m_image;
    auto image = SameFormat(old, old.Width, old.Height);
    image->Device = format == TPixelFormat::pfDevice;
    image->Compression = kCompressionNone;
    std::fill(std::begin(image->Masks), std::end(image->Masks), 0u);
    image->ColorTable.clear();
    image->OS2 = false;
    // A palette read with a file above 8 bits stays with the pixels; colour
    // tables of indexed stores are not carried over into a palette.
    image->Palette = old.BitCount > 8 ? old.Palette : std::vector<TRGBQuad>();
    switch (format) {
    case TPixelFormat::pfDevice:
        image->BitCount = kDisplayBitsPerPixel;
        image->Palette.clear();
        break;
    case TPixelFormat::pf1bit: {
        // A two-colour palette is kept; any other becomes black and white.
        const std::vector<TRGBQuad>& current = old.BitCount <= 8 ? old.ColorTable : old.Palette;
        image->BitCount = 1;
        image->ColorTable = current.size() == 2 ? current : BlackAndWhite();
        image->Palette.clear();
        break;
    }
    case TPixelFormat::pf4bit:
        image->BitCount = 4;
        image->ColorTable = StandardPalette16();
        image->Palette.clear();
        break;
    case TPixelFormat::pf8bit:
        image->BitCount = 8;
        image->ColorTable = HalftonePalette256();
        image->Palette.clear();
        break;
    case TPixelFormat::pf15bit:
        image->BitCount = 16;
        break;
    case TPixelFormat::pf16bit:
        image->BitCount = 16;
        image->Compression = kCompressionBitFields;
        std::copy(std::begin(kMasks565), std::end(kMasks565), std::begin(image->Masks));
        break;
    case TPixelFormat::pf24bit:
        image->BitCount = 24;
        break;
    case TPixelFormat::pf32bit:
        image->BitCount = 32;
        break;
    case TPixelFormat::pfCustom:
        break;
    }
    image->Allocate();
    CopyTopLeft(old, *image);
    ReplaceImage(std::move(image));
    Changed();
}

int TBitmap::BitsPerPixel() const
{
    return m_image->BitCount;
}
bool TBitmap::Monochrome() const
{
    return m_image->BitCount == 1;
}
bool TBitmap::IsDevice() const
{
    return m_image->Device;
}
int TBitmap::RowBytes() const
{
    return static_cast<int>(m_image->RowBytes());
}

uint8_t* TBitmap::ScanLine(int y)
{
    if (y < 0 || y >= Height() || Empty())
        throw EInvalidGraphicOperation("Scan line index out of range");
    TBitmapImage& image = Changing();
    image.Device = false;
    return image.Row(y);
}

const uint8_t* TBitmap::ScanLine(int y) const
{
    if (y < 0 || y >= Height() || Empty())
        throw EInvalidGraphicOperation("Scan line index out of range");
    return m_image->Row(y);
}

TPixelView TBitmap::View24() const
{
    // A device store holds the same rows.
    if (PixelFormat() != TPixelFormat::pf24bit && !IsDevice())
        throw EInvalidGraphicOperation("A pixel view needs a 24-bit bitmap");
    TPixelView view;
    view.Width = Width();
    view.Height = Height();
    view.Layout = TPixelLayout::Bgr24;
    if (view.Width > 0 && view.Height > 0) {
        view.Data = ScanLine(0);
        view.Stride = view.Height > 1 ? ScanLine(1) - view.Data : RowBytes();
    }
    return view;
}

const std::vector<TRGBQuad>& TBitmap::ColorTable() const
{
    return m_image->ColorTable;
}

void TBitmap::SetColorTable(const std::vector<TRGBQuad>& table)
{
    TBitmapImage& image = Changing();
    if (image.BitCount <= 8 && !image.Device) {
        image.ColorTable.assign(table.begin(),
            table.begin()
                + static_cast<ptrdiff_t>(std::min<size_t>(table.size(), size_t(1) << image.BitCount)));
    } else {
        image.Palette.assign(
            table.begin(), table.begin() + static_cast<ptrdiff_t>(std::min<size_t>(table.size(), 256)));
    }
    Changed();
}

const std::vector<TRGBQuad>& TBitmap::Palette() const
{
    return m_image->Palette;
}

uint32_t TBitmap::RedMask() const
{
    return m_image->Compression == kCompressionBitFields ? m_image->Masks[0] : 0;
}
uint32_t TBitmap::GreenMask() const
{
    return m_image->Compression == kCompressionBitFields ? m_image->Masks[1] : 0;
}
uint32_t TBitmap::BlueMask() const
{
    return m_image->Compression == kCompressionBitFields ? m_image->Masks[2] : 0;
}

TCanvas& TBitmap::Canvas()
{
    if (!m_canvas)
        m_canvas = std::make_unique<TCanvas>(*this);
    return *m_canvas;
}

TColor TBitmap::TransparentColor() const
{
    if (m_transparentMode == TTransparentMode::tmFixed)
        return ColorToRGB(m_transparentColor) | kTransparentColorFlag;
    if (Monochrome() || Empty())
        return clWhite | kTransparentColorFlag;
    const TBitmapImage& image = *m_image;
    return TPixelCodec(image).Get(image.Row(image.Height - 1), 0) | kTransparentColorFlag;
}

void TBitmap::SetTransparentColor(TColor color)
{
    m_transparentColor = color;
    m_transparentMode = color == kTransparentColorAuto ? TTransparentMode::tmAuto : TTransparentMode::tmFixed;
    Changed();
}

TTransparentMode TBitmap::TransparentMode() const
{
    return m_transparentMode;
}

void TBitmap::LoadFromStream(TStream& stream)
{
    std::string cutShort;
    ReplaceImage(ReadBmp(stream, &cutShort));
    m_readWarnings.clear();
    if (!cutShort.empty())
        m_readWarnings.push_back(cutShort);
    Changed();
}

void TBitmap::SaveToStream(TStream& stream)
{
    WriteBmp(*m_image, stream);
}

void TGraphic::SaveToClipboardFormat(TClipboardData& data)
{
    TBitmap bitmap;
    bitmap.Assign(*this);
    bitmap.SaveToClipboardFormat(data);
}

void TBitmap::SaveToClipboardFormat(TClipboardData& data)
{
    TMemoryStream file;
    if (m_image->FileBytes.empty()) {
        WriteBmp(*m_image, file);
    } else {
        // A run-length file may leave a gap before its pixels, which the
        // clipboard form cannot express: its decoded rows go instead.
        TBitmapImage decoded = *m_image;
        decoded.FileBytes.clear();
        WriteBmp(decoded, file);
    }
    const std::vector<uint8_t>& bytes = file.Bytes();
    constexpr size_t kFileHeaderSize = 14;
    data.Format = kClipboardDib;
    data.Bytes.assign(
        bytes.size() > kFileHeaderSize ? bytes.begin() + kFileHeaderSize : bytes.end(), bytes.end());
}

void TBitmap::LoadFromClipboardFormat(const TClipboardData& data)
{
    if (data.Format != kClipboardDib)
        throw EInvalidGraphic("Unsupported clipboard format");
    if (data.Bytes.empty()) {
        Clear();
        return;
    }
    // A file header in front; its pixel offset 0 makes the reader take the
    // rows right after the colour table.
    constexpr size_t kFileHeaderSize = 14;
    std::vector<uint8_t> file(kFileHeaderSize + data.Bytes.size(), 0);
    file[0] = 'B';
    file[1] = 'M';
    std::copy(data.Bytes.begin(), data.Bytes.end(), file.begin() + kFileHeaderSize);
    ReplaceImage(ReadBmp(file));
    Changed();
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect)
{
    if (Empty())
        return;
    std::shared_ptr<TBitmapImage> sourceImage;
    {
        std::lock_guard<std::mutex> lock(g_shareLock);
        sourceImage = m_image;
    }
    TBitmap& target = canvas.Owner();
    if (target.Empty())
        return;
    std::optional<TColor> transparent;
    if (Transparent())
        transparent = TransparentColor() & 0xFFFFFF;
    TBitmapImage& image = target.Changing();
    StretchCopy(image, rect, *sourceImage, TRect { 0, 0, Width(), Height() }, canvas.CopyMode(),
        ColorToRGB(canvas.BrushColor()), transparent);
    target.Changed();
}

} // namespace sw
