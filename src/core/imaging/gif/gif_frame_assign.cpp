// Making a GIF frame from a bitmap: reduction to at most 256 colours, the
// colour table, and an entry of its own for the transparent colour.

#include "core/imaging/gif/gif_frame_assign.h"
#include "core/base/errors.h"
#include "core/imaging/gif/gif_messages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace sw {

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

// Counting is arithmetic while mapping waits on memory: the next source row
// is fetched in parts while this row's indices are counted, so that mapping
// it finds the bytes in cache.
void CountFetchingAhead(
    TColorCounter& counter, std::span<const uint8_t> row, const uint8_t* next, size_t nextBytes)
{
    // Parts of at least 512 indices: a call per few dozen costs more than
    // the overlap gains on narrow cells.
    const size_t parts = std::clamp<size_t>(row.size() / 512, 1, 8);
    // Parts start at multiples of 64, the counting kernels' block, so that
    // only the row's end is counted by the narrow tail.
    auto start
        = [&](size_t part) { return part == parts ? row.size() : row.size() * part / parts / 64 * 64; };
    for (size_t part = 0; part < parts; ++part) {
#if defined(__GNUC__) || defined(__clang__)
        if (next != nullptr)
            for (size_t at = nextBytes * part / parts; at < nextBytes * (part + 1) / parts; at += 64)
                __builtin_prefetch(next + at);
#endif
        counter.Count(row.subspan(start(part), start(part + 1) - start(part)));
    }
}

TGIFColor ResolvedTransparentColor(TColor color)
{
    if (IsSystemColor(color))
        color = ColorToRGB(color);
    return TGIFColor { GetRValue(color), GetGValue(color), GetBValue(color) };
}

// The default path of a frame assign in one sweep over the source and one
// over the pixel block, instead of separate passes for reduction, copying,
// counting, the transparency mask, remapping and marking. The result is the
// same, byte for byte: the kept bitmap is ReduceBitmap's, the table is the
// kept bitmap's sorted by use, and transparency is marked as
// ApplyTransparencyMask marks it. Pixels of exactly the transparent colour
// get kCubeMarker as they are mapped; they count as the colour's own cube
// index for the sort, and the remap sends the marker to the transparency
// entry. Returns the table from the frame's indices back to the kept
// bitmap's. source holds 24-bit rows of the frame's size; key is the
// transparent colour, if any. frame's pixel block must be empty with room
// for its size: rows are appended, so each byte is written once before the
// remap.
template <typename OnRow>
std::unique_ptr<TColorRemap> ReduceToWebCubeFrame(TGIFSubImage& frame, const TPixelView& source,
    const std::optional<TGIFColor>& transparentKey, OnRow&& rowDone)
{
    const int width = frame.Width();
    const int height = frame.Height();
    // The kept bitmap's table: the cube, then black up to 256 entries.
    std::vector<TRGBQuad> table = MakeWebCubePalette();
    table.resize(kMaxGIFColors, TRGBQuad {});
    TGIFLocalColorMap& colors = frame.ColorMap();
    colors.ImportTable(table);

    auto back = std::make_unique<TColorRemap>();
    for (size_t i = 0; i < back->size(); ++i)
        (*back)[i] = static_cast<uint8_t>(i);
    std::vector<uint8_t>& pixels = frame.Data();
    const size_t stride = size_t(width);
    const bool transparent = transparentKey.has_value();
    const TGIFColor key = transparentKey.value_or(TGIFColor {});
    std::vector<uint8_t> row(stride);
    TColorCounter counter;
    for (int y = 0; y < height; ++y) {
        if (transparent)
            TNetscapeColorLookup::MapRowMarking(
                source.Row(y), row.data(), width, TBgrKey { key.Blue, key.Green, key.Red });
        else
            TNetscapeColorLookup::MapRow(source.Row(y), row.data(), width);
        pixels.insert(pixels.end(), row.begin(), row.end());
        if (transparent)
            CountFetchingAhead(counter, row, y + 1 < height ? source.Row(y + 1) : nullptr, 3 * stride);
        rowDone(y);
    }
    if (!transparent)
        return back;

    const TColorCounts& held = counter.Totals();
    TColorCounts counts = held;
    const uint8_t candidate = TNetscapeColorLookup::Index(key.Red, key.Green, key.Blue);
    const bool found = counts[kCubeMarker] > 0;
    counts[candidate] += counts[kCubeMarker];
    counts[kCubeMarker] = 0;

    TColorRemap remap;
    const bool moved = colors.SortByCounts(counts, remap);
    if (!moved)
        for (size_t i = 0; i < remap.size(); ++i)
            remap[i] = static_cast<uint8_t>(i);
    const bool full = colors.Count() == 0 || colors.Count() >= kMaxGIFColors;
    const int transparentIndex = full ? -1 : colors.AppendColor(TColor(0));
    remap[kCubeMarker]
        = transparentIndex >= 0 && found ? static_cast<uint8_t>(transparentIndex) : remap[candidate];
    if (moved || found)
        RemapIndices(pixels, RemapForHeld(remap, held));
    for (size_t i = 0; i < counts.size(); ++i)
        if (counts[i] > 0)
            (*back)[remap[i]] = static_cast<uint8_t>(i);
    if (transparentIndex >= 0) {
        if (found)
            (*back)[size_t(transparentIndex)] = candidate;
        SettleTransparentEntry(frame, transparentIndex, found);
    }
    return back;
}

} // namespace

TGIFDefaults TGIFSubImage::Settings() const
{
    const TGIFImage* owner = Image();
    return owner != nullptr ? TGIFDefaults { owner->ReductionKind(), owner->DitherKind(),
        owner->QuantizeBits(), owner->EncodingKind() }
                            : GifDefaults;
}

template <typename Fill> void TGIFSubImage::AssignSized(int width, int height, Fill&& fill)
{
    TGIFImage* owner = Image();
    auto progress = [owner](TProgressStage stage, int percent) {
        if (owner != nullptr)
            owner->Progress(stage, percent, gif_message::kConverting);
    };

    progress(TProgressStage::Starting, 0);
    try {
        Clear();
        if (width <= 0 || height <= 0) {
            progress(TProgressStage::Ending, 100);
            return;
        }
        CheckGifWritable(width, height);
        // Sized in the order SetWidth and SetHeight would size it, for the
        // owner's logical-screen checks; the pixel block is made once below
        // instead of zero-filled at each step.
        m_width = static_cast<uint16_t>(width);
        BoundsChanged();
        m_height = static_cast<uint16_t>(height);
        BoundsChanged();
        fill();
    } catch (...) {
        // Rows are appended as they are made: a failure part-way (a progress
        // listener may abort) still leaves a whole block, the rest zero, so
        // the frame's size and pixels never disagree.
        const size_t pixels = size_t(m_width) * size_t(m_height);
        if (m_data.capacity() >= pixels)
            m_data.resize(pixels, 0);
        progress(TProgressStage::Ending, 0);
        throw;
    }
    progress(TProgressStage::Ending, 100);
}

void TGIFSubImage::ReduceRows(const TPixelView& rows, const std::optional<TColor>& transparentColor)
{
    ReserveData();
    std::optional<TGIFColor> key;
    if (transparentColor)
        key = ResolvedTransparentColor(*transparentColor);
    m_keptFrom
        = ReduceToWebCubeFrame(*this, rows, key, [this](int y) { RowDone(y, gif_message::kConverting); });
}

void TGIFSubImage::Assign(const TBitmap& bitmap)
{
    const TGIFDefaults settings = Settings();
    AssignSized(bitmap.Width(), bitmap.Height(), [&] {
        // A second handle on the same pixels: the in-place conversion for
        // reading stays invisible to the caller's bitmap.
        TBitmap work(bitmap);
        if (!IsIndexedFormat(work.PixelFormat()) && settings.ReductionKind == TColorReduction::WebCube
            && settings.DitherKind == TDitherMode::Nearest) {
            const TDIBReader reader(work, TPixelFormat::pf24bit);
            ReduceRows(work.View24(),
                bitmap.Transparent() ? std::optional<TColor>(bitmap.TransparentColor()) : std::nullopt);
            return;
        }
        std::unique_ptr<TBitmap> kept;
        if (IsIndexedFormat(work.PixelFormat()))
            kept = std::make_unique<TBitmap>(work);
        else
            kept = ReduceBitmap(
                work, settings.ReductionKind, settings.DitherKind, settings.QuantizeBits, nullptr);

        AllocateData();
        ReadBitmap(*kept);
        m_bitmap = std::move(kept);

        if (bitmap.Transparent())
            ApplyTransparencyMask(*this, TTransparencyMask(work, bitmap.TransparentColor()));
    });
}

void TGIFSubImage::AssignRows(const TPixelView& rows, std::optional<TColor> transparentColor)
{
    if (rows.Layout != TPixelLayout::Bgr24)
        throw EInvalidGraphicOperation("A GIF frame is made from 24-bit rows");
    const TGIFDefaults settings = Settings();
    if (transparentColor == kTransparentColorAuto && rows.Width > 0 && rows.Height > 0) {
        // A bitmap's automatic colour: its bottom-left pixel.
        const uint8_t* pixel = rows.Row(rows.Height - 1);
        transparentColor = RGB(pixel[2], pixel[1], pixel[0]);
    }
    if (settings.ReductionKind == TColorReduction::WebCube && settings.DitherKind == TDitherMode::Nearest) {
        AssignSized(rows.Width, rows.Height, [&] { ReduceRows(rows, transparentColor); });
        return;
    }
    // Other settings reduce whole bitmaps.
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSizeForOverwrite(std::max(rows.Width, 0), std::max(rows.Height, 0));
    for (int y = 0; y < bitmap.Height(); ++y)
        std::memcpy(bitmap.ScanLine(y), rows.Row(y), size_t(rows.Width) * 3);
    bitmap.SetTransparent(transparentColor.has_value());
    if (transparentColor)
        bitmap.SetTransparentColor(*transparentColor);
    Assign(bitmap);
}

void TGIFSubImage::SettleKeptBitmap() const
{
    if (m_keptFrom == nullptr)
        return;
    auto kept = std::make_unique<TBitmap>();
    TDIBWriter writer(*kept, MakeWebCubePalette(), m_height, m_width, TPixelFormat::pf8bit);
    const size_t width = m_width;
    for (int y = 0; y < m_height; ++y) {
        uint8_t* row = writer.Row(y);
        std::memcpy(row, m_data.data() + size_t(y) * width, width);
        RemapIndices({ row, width }, *m_keptFrom);
    }
    m_bitmap = std::move(kept);
    m_keptFrom.reset();
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

    if (IsIndexedFormat(format)) {
        m_colorMap.ImportTable(kept.ColorTable());
        const int bits = IndexedBits(format);
        uint8_t highest = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = kept.ScanLine(y);
            uint8_t* out = m_data.data() + size_t(y) * stride;
            if (bits == 8)
                std::memcpy(out, row, size_t(width));
            else
                for (int x = 0; x < width; ++x)
                    out[x] = IndexAt(row, x, bits);
            if (width > 0)
                highest = std::max(highest, *std::max_element(out, out + width));
            RowDone(y, gif_message::kConverting);
        }
        // Indices past a short table show black everywhere else (the bitmap,
        // the other formats); black entries keep them so here.
        while (height > 0 && width > 0 && m_colorMap.Count() <= highest)
            m_colorMap.AppendColor(TGIFColor { 0, 0, 0 });
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
        RowDone(y, gif_message::kConverting);
    }
}

} // namespace sw
