#include "core/imaging/gif/color_reduction.h"

#include "core/base/errors.h"
#include "core/imaging/gif/gif_image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace sw {

const TGIFDefaults GifDefaults {};

namespace {

const char* const kConverting = "Converting...";

} // namespace

std::vector<TRGBQuad> MakeWebCubePalette()
{
    std::vector<TRGBQuad> palette;
    palette.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.push_back(TRGBQuad { static_cast<uint8_t>(51 * b), static_cast<uint8_t>(51 * g),
                    static_cast<uint8_t>(51 * r), 0 });
    return palette;
}

uint8_t TNetscapeColorLookup::MapColor(uint8_t& red, uint8_t& green, uint8_t& blue) const
{
    const uint8_t index = Index(red, green, blue);
    red = static_cast<uint8_t>(51 * Level(red));
    green = static_cast<uint8_t>(51 * Level(green));
    blue = static_cast<uint8_t>(51 * Level(blue));
    return index;
}

namespace {

// The level as a sum of threshold tests: the same values as (c + 3) / 51,
// in byte arithmetic that the compiler turns into many pixels per step.
inline uint8_t LevelByThresholds(uint8_t c)
{
    return static_cast<uint8_t>((c >= 48) + (c >= 99) + (c >= 150) + (c >= 201) + (c >= 252));
}

inline void MapRowByThresholds(const uint8_t* __restrict bgr, uint8_t* __restrict indices, int width)
{
    for (int x = 0; x < width; ++x) {
        const uint8_t blue = bgr[3 * x];
        const uint8_t green = bgr[3 * x + 1];
        const uint8_t red = bgr[3 * x + 2];
        indices[x] = static_cast<uint8_t>(
            36 * LevelByThresholds(red) + 6 * LevelByThresholds(green) + LevelByThresholds(blue));
    }
}

void MapRowPortable(const uint8_t* bgr, uint8_t* indices, int width)
{
    MapRowByThresholds(bgr, indices, width);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SLICEWRIGHT_CUBE_AVX2 1
// The same loop, compiled for the wider vectors where the processor has them.
__attribute__((target("avx2"))) void MapRowAvx2(const uint8_t* bgr, uint8_t* indices, int width)
{
    MapRowByThresholds(bgr, indices, width);
}
#endif

using TMapRow = void (*)(const uint8_t*, uint8_t*, int);

TMapRow ChooseMapRow()
{
#ifdef SLICEWRIGHT_CUBE_AVX2
    if (__builtin_cpu_supports("avx2"))
        return MapRowAvx2;
#endif
    return MapRowPortable;
}

} // namespace

void TNetscapeColorLookup::MapRow(const uint8_t* bgr, uint8_t* indices, int width)
{
    static const TMapRow map = ChooseMapRow();
    map(bgr, indices, width);
}

uint8_t TDitherEngine::Lookup(uint8_t& red, uint8_t& green, uint8_t& blue)
{
    const uint8_t index = m_lookup.MapColor(red, green, blue);
    m_column += m_direction;
    return index;
}

uint8_t TDitherEngine::MapPixel(uint8_t red, uint8_t green, uint8_t blue)
{
    return Lookup(red, green, blue);
}

void TDitherEngine::TurnRow()
{
    m_direction = -m_direction;
    m_column = m_direction > 0 ? 0 : m_width - 1;
}

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int width, const TColorLookup& lookup)
    : TDitherEngine(width, lookup)
{
    for (TChannel& channel : m_channels)
        channel.ErrorRow.assign(static_cast<size_t>(width) + 2, 0);
}

uint8_t TFloydSteinbergDitherer::MapPixel(uint8_t red, uint8_t green, uint8_t blue)
{
    const int direction = Direction();
    const uint8_t input[3] = { red, green, blue };
    uint8_t value[3];
    for (int c = 0; c < 3; ++c) {
        TChannel& channel = m_channels[c];
        // Integer division truncates toward zero, as the error terms require.
        const int carried
            = (channel.Current + channel.ErrorRow[static_cast<size_t>(m_pointer + direction)] + 8) / 16;
        const int v = std::clamp(input[c] + carried, 0, 255);
        channel.Current = v;
        value[c] = static_cast<uint8_t>(v);
    }
    uint8_t chosen[3] = { value[0], value[1], value[2] };
    const uint8_t index = Lookup(chosen[0], chosen[1], chosen[2]);
    for (int c = 0; c < 3; ++c) {
        TChannel& channel = m_channels[c];
        const int error = value[c] - chosen[c];
        channel.ErrorRow[static_cast<size_t>(m_pointer)] = channel.BelowPrevious + 3 * error;
        channel.BelowPrevious = channel.Below + 5 * error;
        channel.Below = error;
        channel.Current = 7 * error;
    }
    m_pointer += direction;
    return index;
}

void TFloydSteinbergDitherer::TurnRow()
{
    for (TChannel& channel : m_channels) {
        channel.ErrorRow[static_cast<size_t>(m_pointer)] = channel.BelowPrevious;
        channel.Current = 0;
        channel.Below = 0;
        channel.BelowPrevious = 0;
    }
    TDitherEngine::TurnRow();
    m_pointer = Direction() > 0 ? 0 : Width() + 1;
}

std::unique_ptr<TDitherEngine> CreateDitherEngine(TDitherMode kind, int width, const TColorLookup& lookup)
{
    switch (kind) {
    case TDitherMode::Nearest:
        return std::make_unique<TDitherEngine>(width, lookup);
    case TDitherMode::FloydSteinberg:
        return std::make_unique<TFloydSteinbergDitherer>(width, lookup);
    default:
        throw GIFException(Format("Dither kind %d is not supported", static_cast<int>(kind)));
    }
}

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat format)
    : m_bitmap(bitmap)
{
    bitmap.SetPixelFormat(format);
}

TDIBWriter::TDIBWriter(
    TBitmap& target, const std::vector<TRGBQuad>& palette, int height, int width, TPixelFormat format)
    : m_target(target)
{
    if (format != TPixelFormat::pf8bit && format != TPixelFormat::pf24bit)
        throw GIFException("Unsupported PixelFormat");
    if (width <= 0 || height <= 0)
        throw GIFException("Invalid image dimensions");
    try {
        target.Clear();
        target.SetPixelFormat(format);
        if (format == TPixelFormat::pf8bit) {
            std::vector<TRGBQuad> table(
                palette.begin(), palette.begin() + std::min<ptrdiff_t>(ssize(palette), 256));
            table.resize(256, TRGBQuad {});
            target.SetColorTable(table);
        }
        target.SetSizeForOverwrite(width, height);
    } catch (const std::bad_alloc&) {
        throw EOutOfResources("Failed to allocate memory for GIF DIB");
    }
}

std::unique_ptr<TBitmap> ReduceBitmap(TBitmap& bitmap, TColorReduction kind, TDitherMode dither,
    int /*quantizeBits*/, const std::vector<TRGBQuad>* /*palette*/)
{
    auto result = std::make_unique<TBitmap>();
    if (kind == TColorReduction::None) {
        *result = bitmap;
        result->SetPixelFormat(TPixelFormat::pf24bit);
        return result;
    }
    // Checked before the source is touched, so a refused setting leaves it
    // as it was.
    if (kind != TColorReduction::WebCube)
        throw GIFException(Format("Color reduction kind %d is not supported", static_cast<int>(kind)));
    if (dither != TDitherMode::Nearest && dither != TDitherMode::FloydSteinberg)
        throw GIFException(Format("Dither kind %d is not supported", static_cast<int>(dither)));

    TDIBReader reader(bitmap, TPixelFormat::pf24bit);
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    const std::vector<TRGBQuad> cube = MakeWebCubePalette();
    const TNetscapeColorLookup lookup;
    TDIBWriter writer(*result, cube, height, width, TPixelFormat::pf8bit);

    if (dither == TDitherMode::Nearest) {
        // The plain engine carries nothing between pixels, so its serpentine
        // walk gives the same indices as a straight one.
        for (int y = 0; y < height; ++y)
            TNetscapeColorLookup::MapRow(reader.Row(y), writer.Row(y), width);
        return result;
    }

    auto engine = CreateDitherEngine(dither, width, lookup);
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = reader.Row(y);
        uint8_t* target = writer.Row(y);
        for (int x = engine->Column(); x >= 0 && x < width; x = engine->Column()) {
            const uint8_t* pixel = source + size_t(x) * 3;
            target[x] = engine->MapPixel(pixel[2], pixel[1], pixel[0]);
        }
        engine->TurnRow();
    }
    return result;
}

namespace {

bool IsIndexed(TPixelFormat format)
{
    return format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit || format == TPixelFormat::pf8bit;
}

// The table index of pixel x in a row of 1, 4 or 8 bits per pixel; the most
// significant bits hold the leftmost pixel.
uint8_t IndexAt(const uint8_t* row, int x, int bitsPerPixel)
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

int IndexedBits(TPixelFormat format)
{
    return format == TPixelFormat::pf1bit ? 1 : format == TPixelFormat::pf4bit ? 4 : 8;
}

} // namespace

TTransparencyMask::TTransparencyMask(const TBitmap& bitmap, TColor transparentColor)
    : m_width(bitmap.Width())
    , m_height(bitmap.Height())
{
    if (bitmap.Empty()) {
        m_width = m_height = 0;
        return;
    }
    if (IsSystemColor(transparentColor))
        transparentColor = ColorToRGB(transparentColor);
    const uint8_t red = GetRValue(transparentColor);
    const uint8_t green = GetGValue(transparentColor);
    const uint8_t blue = GetBValue(transparentColor);
    m_bits.assign(size_t(m_width) * size_t(m_height), 0);

    const TPixelFormat format = bitmap.PixelFormat();
    if (IsIndexed(format)) {
        std::array<uint8_t, 256> matches {};
        const std::vector<TRGBQuad>& table = bitmap.ColorTable();
        for (size_t i = 0; i < std::min<size_t>(table.size(), 256); ++i)
            matches[i] = table[i].Red == red && table[i].Green == green && table[i].Blue == blue;
        const int bits = IndexedBits(format);
        for (int y = 0; y < m_height; ++y) {
            const uint8_t* row = bitmap.ScanLine(y);
            uint8_t* out = m_bits.data() + size_t(y) * size_t(m_width);
            for (int x = 0; x < m_width; ++x)
                out[x] = matches[IndexAt(row, x, bits)];
        }
        return;
    }

    TBitmap converted;
    const TBitmap* source = &bitmap;
    if (format != TPixelFormat::pf24bit) {
        converted = bitmap;
        converted.SetPixelFormat(TPixelFormat::pf24bit);
        source = &converted;
    }
    for (int y = 0; y < m_height; ++y) {
        const uint8_t* pixel = source->ScanLine(y);
        uint8_t* out = m_bits.data() + size_t(y) * size_t(m_width);
        for (int x = 0; x < m_width; ++x, pixel += 3)
            out[x] = pixel[0] == blue && pixel[1] == green && pixel[2] == red;
    }
}

namespace {

// The transparency entry just appended to the frame's table: kept and
// marked by a graphic control extension when pixels point at it, removed
// again otherwise.
void SettleTransparentEntry(TGIFSubImage& frame, int transparentIndex, bool found)
{
    if (!found) {
        frame.ColorMap().RemoveColor(transparentIndex);
        return;
    }
    auto extension = std::make_unique<TGIFGraphicControlExtension>(&frame);
    extension->SetTransparent(true);
    extension->SetTransparentColorIndex(transparentIndex);
    frame.Extensions().Add(std::move(extension));
}

} // namespace

void ApplyTransparencyMask(TGIFSubImage& frame, const TTransparencyMask& mask)
{
    frame.SortByUsage();
    TGIFLocalColorMap& colors = frame.ColorMap();
    if (colors.Count() == 0 || colors.Count() >= kMaxGIFColors)
        return;
    // Black, whatever the transparent colour is: decoders show the entry's
    // colour only where transparency is ignored.
    const int transparentIndex = colors.AppendColor(TColor(0));
    const auto t = static_cast<uint8_t>(transparentIndex);
    const int width = std::min(frame.Width(), mask.Width());
    const int height = std::min(frame.Height(), mask.Height());
    uint8_t found = 0;
    for (int y = 0; y < height; ++y) {
        uint8_t* pixels = frame.Data().data() + size_t(y) * size_t(frame.Width());
        const uint8_t* bits = mask.Row(y);
        for (int x = 0; x < width; ++x) {
            pixels[x] = bits[x] ? t : pixels[x];
            found |= bits[x];
        }
    }
    SettleTransparentEntry(frame, transparentIndex, found != 0);
}

namespace {

TGIFColor ResolvedTransparentColor(TColor color)
{
    if (IsSystemColor(color))
        color = ColorToRGB(color);
    return TGIFColor { GetRValue(color), GetGValue(color), GetBValue(color) };
}

constexpr uint8_t kTransparentMarker = 255;

// Sets the indices of the row's pixels of exactly the transparent colour to
// kTransparentMarker, an index the cube never gives; true when any was found.
// Only pixels that reduced to candidate, the colour's own cube index, can be
// of that colour.
bool MarkTransparentPixels(uint8_t* row, const uint8_t* bgr, int width, uint8_t candidate, TGIFColor key)
{
    constexpr uint64_t kOnes = 0x0101010101010101u;
    const uint64_t pattern = candidate * kOnes;
    // Eight pixels of the transparent colour as 24 bytes of blue, green, red.
    uint8_t keyBytes[24];
    for (int i = 0; i < 8; ++i) {
        keyBytes[3 * i] = key.Blue;
        keyBytes[3 * i + 1] = key.Green;
        keyBytes[3 * i + 2] = key.Red;
    }
    bool found = false;
    auto markOne = [&](int x) {
        const uint8_t* pixel = bgr + size_t(x) * 3;
        const bool match
            = row[x] == candidate && pixel[0] == key.Blue && pixel[1] == key.Green && pixel[2] == key.Red;
        row[x] = match ? kTransparentMarker : row[x];
        return match;
    };
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        uint64_t word;
        std::memcpy(&word, row + x, 8);
        const uint64_t differ = word ^ pattern;
        // No zero byte in differ: none of the eight is the candidate.
        if (((differ - kOnes) & ~differ & (kOnes << 7)) == 0)
            continue;
        // A stretch of page background: all eight are the colour.
        if (differ == 0 && std::memcmp(bgr + size_t(x) * 3, keyBytes, sizeof keyBytes) == 0) {
            std::memset(row + x, kTransparentMarker, 8);
            found = true;
            continue;
        }
        bool any = false;
        for (int k = 0; k < 8; ++k)
            any |= markOne(x + k);
        found |= any;
    }
    for (; x < width; ++x)
        found |= markOne(x);
    return found;
}

// Eight indices per load and store: the lookups are what remains.
void RemapRow(uint8_t* row, int width, const TColorRemap& remap)
{
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        uint64_t word;
        std::memcpy(&word, row + x, 8);
        uint64_t mapped = 0;
        for (int k = 0; k < 64; k += 8)
            mapped |= uint64_t(remap[(word >> k) & 0xFF]) << k;
        std::memcpy(row + x, &mapped, 8);
    }
    for (; x < width; ++x)
        row[x] = remap[row[x]];
}

// The default path of a frame assign in one sweep over the source and one
// over the pixel block, instead of separate passes for reduction, copying,
// counting, the transparency mask, remapping and marking. The result is the
// same, byte for byte: the kept bitmap is ReduceBitmap's, the table is the
// kept bitmap's sorted by use, and transparency is marked as
// ApplyTransparencyMask marks it. A pixel can equal the transparent colour
// only where it reduced to that colour's cube index, so only those pixels
// are compared with the source. work is converted to 24 bits per pixel;
// frame's pixel block must be empty with room for its size: rows are
// appended, so each byte of both blocks is written once.
template <typename OnRow>
std::unique_ptr<TBitmap> ReduceToWebCubeFrame(
    TGIFSubImage& frame, TBitmap& work, const TBitmap& source, OnRow&& rowDone)
{
    TDIBReader reader(work, TPixelFormat::pf24bit);
    const int width = frame.Width();
    const int height = frame.Height();
    auto kept = std::make_unique<TBitmap>();
    // Shapes the kept bitmap as ReduceBitmap's: 8 bits per pixel, the cube,
    // then black up to 256 entries.
    TDIBWriter(*kept, MakeWebCubePalette(), height, width, TPixelFormat::pf8bit);
    TGIFLocalColorMap& colors = frame.ColorMap();
    colors.ImportTable(kept->ColorTable());

    std::vector<uint8_t>& pixels = frame.Data();
    const size_t stride = size_t(width);
    TColorCounter counter;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = kept->ScanLine(y);
        TNetscapeColorLookup::MapRow(reader.Row(y), row, width);
        pixels.insert(pixels.end(), row, row + stride);
        counter.Count({ row, stride });
        rowDone(y);
    }
    uint8_t* const data = pixels.data();
    if (!source.Transparent())
        return kept;

    const TColorCounts& counts = counter.Totals();
    TColorRemap remap;
    const bool moved = colors.SortByCounts(counts, remap);
    if (!moved)
        for (size_t i = 0; i < remap.size(); ++i)
            remap[i] = static_cast<uint8_t>(i);
    const bool full = colors.Count() == 0 || colors.Count() >= kMaxGIFColors;
    if (full && !moved)
        return kept;
    const int transparentIndex = full ? -1 : colors.AppendColor(TColor(0));

    // Transparent pixels are first marked with an index the cube never
    // gives, which the remap then sends to the transparency entry.
    const TGIFColor key = ResolvedTransparentColor(source.TransparentColor());
    const uint8_t candidate = TNetscapeColorLookup::Index(key.Red, key.Green, key.Blue);
    bool found = false;
    const bool marking = transparentIndex >= 0 && counts[candidate] > 0;
    if (marking)
        remap[kTransparentMarker] = static_cast<uint8_t>(transparentIndex);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = data + size_t(y) * stride;
        if (marking && MarkTransparentPixels(row, reader.Row(y), width, candidate, key))
            found = true;
        RemapRow(row, width, remap);
    }
    if (transparentIndex >= 0)
        SettleTransparentEntry(frame, transparentIndex, found);
    return kept;
}

} // namespace

void TGIFSubImage::Assign(const TBitmap& bitmap)
{
    TGIFImage* owner = Image();
    const TGIFDefaults settings = owner != nullptr ? TGIFDefaults { owner->ReductionKind(),
        owner->DitherKind(), owner->QuantizeBits(), owner->EncodingKind() }
                                                   : GifDefaults;
    auto progress = [owner](TGIFProgressStage stage, int percent) {
        if (owner != nullptr)
            owner->Progress(stage, percent, kConverting);
    };

    progress(TGIFProgressStage::Starting, 0);
    try {
        Clear();
        if (bitmap.Empty()) {
            progress(TGIFProgressStage::Ending, 100);
            return;
        }
        // The descriptor holds 16-bit sizes; a larger bitmap cannot be
        // stored without corrupting the file.
        if (bitmap.Width() > 0xFFFF || bitmap.Height() > 0xFFFF)
            throw GIFException(Format(
                "Image too large for GIF: %d x %d (at most 65535 x 65535)", bitmap.Width(), bitmap.Height()));
        // Sized in the order SetWidth and SetHeight would size it, for the
        // owner's logical-screen checks; the pixel block is made once below
        // instead of zero-filled at each step.
        m_width = static_cast<uint16_t>(bitmap.Width());
        BoundsChanged();
        m_height = static_cast<uint16_t>(bitmap.Height());
        BoundsChanged();

        // A second handle on the same pixels: the in-place conversion for
        // reading stays invisible to the caller's bitmap.
        TBitmap work(bitmap);
        if (!IsIndexed(work.PixelFormat()) && settings.ReductionKind == TColorReduction::WebCube
            && settings.DitherKind == TDitherMode::Nearest) {
            ReserveData();
            m_bitmap = ReduceToWebCubeFrame(*this, work, bitmap, [this](int y) { RowDone(y, kConverting); });
            progress(TGIFProgressStage::Ending, 100);
            return;
        }
        std::unique_ptr<TBitmap> kept;
        if (IsIndexed(work.PixelFormat()))
            kept = std::make_unique<TBitmap>(work);
        else
            kept = ReduceBitmap(
                work, settings.ReductionKind, settings.DitherKind, settings.QuantizeBits, nullptr);

        AllocateData();
        ReadBitmap(*kept);
        m_bitmap = std::move(kept);

        if (bitmap.Transparent())
            ApplyTransparencyMask(*this, TTransparencyMask(work, bitmap.TransparentColor()));
    } catch (...) {
        // Rows are appended as they are made: a failure part-way (a progress
        // listener may abort) still leaves a whole block, the rest zero, so
        // the frame's size and pixels never disagree.
        const size_t pixels = size_t(m_width) * size_t(m_height);
        if (m_data.capacity() >= pixels)
            m_data.resize(pixels, 0);
        progress(TGIFProgressStage::Ending, 0);
        throw;
    }
    progress(TGIFProgressStage::Ending, 100);
}

namespace {

// Distinct colours of a 24-bit image in order of first appearance; a 257th
// overflows the colour table.
class TDistinctColors {
public:
    explicit TDistinctColors(TGIFColorMap& colors)
        : m_colors(colors)
    {
        m_keys.fill(kEmpty);
    }

    uint8_t IndexOf(uint8_t red, uint8_t green, uint8_t blue)
    {
        const uint32_t key = uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16;
        size_t slot = (key * 2654435761u) >> (32 - kBits);
        while (m_keys[slot] != kEmpty) {
            if (m_keys[slot] == key)
                return m_indices[slot];
            slot = (slot + 1) & (kSlots - 1);
        }
        const int index = m_colors.AppendColor(TGIFColor { red, green, blue });
        m_keys[slot] = key;
        m_indices[slot] = static_cast<uint8_t>(index);
        return static_cast<uint8_t>(index);
    }

private:
    static constexpr int kBits = 10; // 1024 slots for at most 256 colours
    static constexpr size_t kSlots = size_t(1) << kBits;
    static constexpr uint32_t kEmpty = 0xFFFFFFFF;
    TGIFColorMap& m_colors;
    std::array<uint32_t, kSlots> m_keys;
    std::array<uint8_t, kSlots> m_indices {};
};

} // namespace

void TGIFSubImage::ReadBitmap(const TBitmap& kept)
{
    const size_t stride = m_width;
    const int width = std::min<int>(m_width, kept.Width());
    const int height = std::min<int>(m_height, kept.Height());
    const TPixelFormat format = kept.PixelFormat();

    if (IsIndexed(format)) {
        m_colorMap.ImportTable(kept.ColorTable());
        const int bits = IndexedBits(format);
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = kept.ScanLine(y);
            uint8_t* out = m_data.data() + size_t(y) * stride;
            if (bits == 8)
                std::memcpy(out, row, size_t(width));
            else
                for (int x = 0; x < width; ++x)
                    out[x] = IndexAt(row, x, bits);
            RowDone(y, kConverting);
        }
        return;
    }

    m_colorMap.Clear();
    TBitmap copy(kept);
    TDIBReader reader(copy, TPixelFormat::pf24bit);
    TDistinctColors distinct(m_colorMap);
    for (int y = 0; y < height; ++y) {
        const uint8_t* pixel = reader.Row(y);
        uint8_t* out = m_data.data() + size_t(y) * stride;
        for (int x = 0; x < width; ++x, pixel += 3)
            out[x] = distinct.IndexOf(pixel[2], pixel[1], pixel[0]);
        RowDone(y, kConverting);
    }
}

} // namespace sw
