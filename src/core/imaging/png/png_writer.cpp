#include "core/imaging/png/png_writer.h"

#include "core/base/errors.h"

#include <libdeflate.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace sw {

namespace {

constexpr uint8_t kSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

enum TColorType : uint8_t {
    kGrey = 0,
    kTruecolor = 2,
    kIndexed = 3,
    kGreyAlpha = 4,
    kTruecolorAlpha = 6,
};

enum TFilter : uint8_t { kNone = 0, kSub = 1, kUp = 2, kAverage = 3, kPaeth = 4 };
// Not a PNG filter: each row takes the filter whose output has the least
// sum of magnitudes (bytes read as signed), the usual cheap predictor of
// what deflates best.
constexpr int kAdaptive = 5;

// The trials that pick the filters run at libdeflate's fastest level, whose
// ranking of the candidates is nearly always that of the final deflate.
// Levels 11 and 12 gain about 1 % more at several times the cost.
constexpr int kTrialLevel = 1;
constexpr int kFlatLevel = 9;
constexpr int kFinalLevel = 10;
// Data that deflates to under an eighth of its size at the trial level
// is flat (panels, text on plain ground): there the stronger search gains
// little and costs the most.
constexpr size_t kFlatRatio = 8;

// Above this many filtered bytes only the adaptive filters are tried.
constexpr size_t kTrialAllLimit = size_t(1) << 22;

// Longer image data is split over several IDAT chunks.
constexpr size_t kMaxChunkData = size_t(1) << 24;

// One picture ready for filtering: packed rows of samples plus the
// palette and transparency chunks' contents. The rows are held when they
// are few enough to be filtered several ways; otherwise each is made when
// it is filtered, so that a picture at the pixel limit is not held again.
struct TRaster {
    uint8_t ColorType = kTruecolor;
    uint8_t BitDepth = 8;
    uint32_t Width = 0;
    uint32_t Height = 0;
    size_t RowBytes = 0;
    // Bytes of one whole pixel (at least 1): the distance the Sub, Average
    // and Paeth filters look back.
    size_t FilterUnit = 1;
    std::vector<uint8_t> Rows;
    // Writes row y's RowBytes into out, which it finds zeroed; used when
    // Rows is empty.
    std::function<void(uint32_t y, uint8_t* out)> MakeRow;
    std::vector<uint8_t> Palette; // PLTE
    std::vector<uint8_t> Transparency; // tRNS
    size_t Size() const { return RowBytes * Height; }
    // Row y, from Rows or made in scratch.
    const uint8_t* Row(uint32_t y, std::vector<uint8_t>& scratch) const
    {
        if (!Rows.empty())
            return Rows.data() + y * RowBytes;
        std::fill(scratch.begin(), scratch.end(), uint8_t(0));
        MakeRow(y, scratch.data());
        return scratch.data();
    }
};

[[noreturn]] void Refuse(const std::string& message)
{
    throw EInvalidGraphicOperation(message);
}

struct TCompressorFree {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

libdeflate_compressor* Compressor(int level)
{
    // Making a strong compressor costs more than compressing a small cell,
    // so each thread keeps one per level.
    thread_local std::array<std::unique_ptr<libdeflate_compressor, TCompressorFree>, 13> compressors;
    auto& compressor = compressors[static_cast<size_t>(level)];
    if (!compressor) {
        compressor.reset(libdeflate_alloc_compressor(level));
        if (!compressor)
            throw EOutOfResources("Out of memory");
    }
    return compressor.get();
}

// Compressed bytes in a buffer of the worst case's size, of which only
// the part written is ever touched.
struct TCompressed {
    std::unique_ptr<uint8_t[]> Bytes;
    size_t Size = 0;
};

TCompressed ZlibCompress(const std::vector<uint8_t>& data, int level)
{
    libdeflate_compressor* compressor = Compressor(level);
    const size_t bound = libdeflate_zlib_compress_bound(compressor, data.size());
    TCompressed out { std::make_unique_for_overwrite<uint8_t[]>(bound), 0 };
    out.Size = libdeflate_zlib_compress(compressor, data.data(), data.size(), out.Bytes.get(), bound);
    if (out.Size == 0)
        Refuse("PNG image data could not be compressed");
    return out;
}

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

void FilterRow(
    uint8_t filter, const uint8_t* row, const uint8_t* prior, size_t size, size_t unit, uint8_t* out)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t left = i >= unit ? row[i - unit] : 0;
        const uint8_t upLeft = i >= unit ? prior[i - unit] : 0;
        uint8_t predicted = 0;
        switch (filter) {
        case kSub:
            predicted = left;
            break;
        case kUp:
            predicted = prior[i];
            break;
        case kAverage:
            predicted = static_cast<uint8_t>((left + prior[i]) / 2);
            break;
        case kPaeth:
            predicted = Paeth(left, prior[i], upLeft);
            break;
        default:
            break;
        }
        out[i] = static_cast<uint8_t>(row[i] - predicted);
    }
}

unsigned SignedMagnitude(const uint8_t* bytes, size_t size)
{
    unsigned sum = 0;
    for (size_t i = 0; i < size; ++i)
        sum += static_cast<unsigned>(std::abs(static_cast<int8_t>(bytes[i])));
    return sum;
}

// The image data before deflate: each row preceded by its filter type.
std::vector<uint8_t> Filtered(const TRaster& raster, int strategy)
{
    const size_t rowBytes = raster.RowBytes;
    std::vector<uint8_t> out((rowBytes + 1) * raster.Height);
    const std::vector<uint8_t> zeros(rowBytes, 0);
    std::vector<uint8_t> trial(strategy == kAdaptive ? rowBytes : 0);
    // Made rows alternate between two buffers, so the prior one stays.
    const size_t made = raster.Rows.empty() ? rowBytes : 0;
    std::vector<uint8_t> scratch[2] = { std::vector<uint8_t>(made), std::vector<uint8_t>(made) };
    const uint8_t* prior = zeros.data();
    for (uint32_t y = 0; y < raster.Height; ++y) {
        const uint8_t* row = raster.Row(y, scratch[y % 2]);
        uint8_t* line = out.data() + y * (rowBytes + 1);
        if (strategy != kAdaptive) {
            line[0] = static_cast<uint8_t>(strategy);
            FilterRow(line[0], row, prior, rowBytes, raster.FilterUnit, line + 1);
        } else {
            unsigned best = ~0u;
            for (uint8_t filter = kNone; filter <= kPaeth; ++filter) {
                FilterRow(filter, row, prior, rowBytes, raster.FilterUnit, trial.data());
                const unsigned magnitude = SignedMagnitude(trial.data(), rowBytes);
                if (magnitude < best) {
                    best = magnitude;
                    line[0] = filter;
                    std::copy(trial.begin(), trial.end(), line + 1);
                }
            }
        }
        prior = row;
    }
    return out;
}

// The raster's image data filtered by the strategy that deflates shortest
// at the trial level, with that trial's size. With one strategy to try
// there is no trial, and the filtering waits for the final deflate: of two
// layouts of a large picture only the one written is ever filtered.
struct TFilterChoice {
    std::vector<uint8_t> Data; // empty until filtered
    int Strategy = kNone;
    size_t TrialSize = 0; // 0 when only one strategy was tried
};

TFilterChoice ChooseFilters(const TRaster& raster)
{
    // The strategies that ever won on cells of page designs and photographs
    // for this kind of raster; the others only cost time.
    std::vector<int> strategies;
    if (raster.BitDepth < 8)
        strategies = { kNone, kAdaptive };
    else if (raster.ColorType == kIndexed)
        strategies = { kNone, kSub, kPaeth, kAdaptive };
    else
        strategies = { kAdaptive, kNone, kPaeth };
    if (raster.Size() > kTrialAllLimit)
        return { {}, strategies.front(), 0 };
    TFilterChoice best;
    for (int strategy : strategies) {
        std::vector<uint8_t> data = Filtered(raster, strategy);
        const size_t size = ZlibCompress(data, kTrialLevel).Size;
        if (best.Data.empty() || size < best.TrialSize)
            best = { std::move(data), strategy, size };
    }
    return best;
}

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char (&type)[5], const uint8_t* data, size_t size)
{
    PutU32(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data, data + size);
    PutU32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

std::vector<uint8_t> EncodeFile(const TRaster& raster, TFilterChoice choice)
{
    if (choice.Data.empty())
        choice.Data = Filtered(raster, choice.Strategy);
    const bool flat = choice.TrialSize < choice.Data.size() / kFlatRatio;
    const TCompressed imageData = ZlibCompress(choice.Data, flat ? kFlatLevel : kFinalLevel);
    choice.Data = {};
    std::vector<uint8_t> out(std::begin(kSignature), std::end(kSignature));
    out.reserve(imageData.Size + imageData.Size / kMaxChunkData * 12 + raster.Palette.size()
        + raster.Transparency.size() + 128);
    std::vector<uint8_t> header;
    PutU32(header, raster.Width);
    PutU32(header, raster.Height);
    header.insert(header.end(), { raster.BitDepth, raster.ColorType, 0, 0, 0 });
    PutChunk(out, "IHDR", header.data(), header.size());
    if (!raster.Palette.empty())
        PutChunk(out, "PLTE", raster.Palette.data(), raster.Palette.size());
    if (!raster.Transparency.empty())
        PutChunk(out, "tRNS", raster.Transparency.data(), raster.Transparency.size());
    for (size_t at = 0; at < imageData.Size; at += kMaxChunkData)
        PutChunk(out, "IDAT", imageData.Bytes.get() + at, std::min(kMaxChunkData, imageData.Size - at));
    PutChunk(out, "IEND", nullptr, 0);
    return out;
}

// Pixels as red | green << 8 | blue << 16 | alpha << 24.
uint32_t Pack(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha)
{
    return uint32_t(red) | uint32_t(green) << 8 | uint32_t(blue) << 16 | uint32_t(alpha) << 24;
}
uint8_t Red(uint32_t pixel)
{
    return static_cast<uint8_t>(pixel);
}
uint8_t Green(uint32_t pixel)
{
    return static_cast<uint8_t>(pixel >> 8);
}
uint8_t Blue(uint32_t pixel)
{
    return static_cast<uint8_t>(pixel >> 16);
}
uint8_t Alpha(uint32_t pixel)
{
    return static_cast<uint8_t>(pixel >> 24);
}

// Writes a row's samples (one byte each) into its buffer.
using TRowSamples = std::function<void(uint32_t y, uint8_t* samples)>;

// Samples of depth bits (1, 2, 4 or 8) packed into rows, first sample in
// the high bits.
TRaster PackedRaster(TRowSamples rowSamples, uint32_t width, uint32_t height, uint8_t depth,
    uint8_t colorType, size_t samplesPerPixel)
{
    TRaster raster;
    raster.ColorType = colorType;
    raster.BitDepth = depth;
    raster.Width = width;
    raster.Height = height;
    const size_t samplesPerRow = size_t(width) * samplesPerPixel;
    raster.RowBytes = (samplesPerRow * depth + 7) / 8;
    raster.FilterUnit = std::max<size_t>(1, samplesPerPixel * depth / 8);
    if (depth == 8) {
        raster.MakeRow = std::move(rowSamples);
    } else {
        raster.MakeRow
            = [rowSamples = std::move(rowSamples), samplesPerRow, depth,
                  samples = std::vector<uint8_t>(samplesPerRow)](uint32_t y, uint8_t* out) mutable {
                  rowSamples(y, samples.data());
                  const int perByte = 8 / depth;
                  for (size_t i = 0; i < samplesPerRow; ++i) {
                      const int shift = 8 - depth * (static_cast<int>(i % perByte) + 1);
                      out[i / perByte] = static_cast<uint8_t>(out[i / perByte] | samples[i] << shift);
                  }
              };
    }
    // Rows filtered several ways are made once.
    if (raster.Size() <= kTrialAllLimit) {
        raster.Rows.assign(raster.Size(), 0);
        for (uint32_t y = 0; y < height; ++y)
            raster.MakeRow(y, raster.Rows.data() + y * raster.RowBytes);
    }
    return raster;
}

uint8_t IndexDepth(size_t colors)
{
    return colors <= 2 ? 1 : colors <= 4 ? 2 : colors <= 16 ? 4 : 8;
}

// entries: the palette as packed pixels, those with alpha below 255 first;
// rowIndices writes a row's indices into them.
TRaster IndexedRaster(
    TRowSamples rowIndices, uint32_t width, uint32_t height, const std::vector<uint32_t>& entries)
{
    TRaster raster
        = PackedRaster(std::move(rowIndices), width, height, IndexDepth(entries.size()), kIndexed, 1);
    for (uint32_t entry : entries) {
        raster.Palette.insert(raster.Palette.end(), { Red(entry), Green(entry), Blue(entry) });
        if (Alpha(entry) != 255)
            raster.Transparency.push_back(Alpha(entry));
    }
    return raster;
}

// Up to 256 distinct pixel values with their palette index.
class TColorSet {
public:
    // False once a 257th value turns up; the set is then useless.
    bool Add(uint32_t pixel)
    {
        size_t slot = Slot(pixel);
        if (m_keys[slot] != 0)
            return true;
        if (m_colors.size() == 256)
            return false;
        m_keys[slot] = uint64_t(pixel) + 1;
        m_colors.push_back(pixel);
        return true;
    }
    const std::vector<uint32_t>& Colors() const { return m_colors; }
    void SetIndex(uint32_t pixel, uint8_t index) { m_index[Slot(pixel)] = index; }
    uint8_t Index(uint32_t pixel) const { return m_index[Slot(pixel)]; }

private:
    // The slot holding pixel, or the empty one where it belongs.
    size_t Slot(uint32_t pixel) const
    {
        size_t slot = (pixel * 2654435761u) >> 22;
        while (m_keys[slot] != 0 && m_keys[slot] != uint64_t(pixel) + 1)
            slot = (slot + 1) & (kSlots - 1);
        return slot;
    }
    static constexpr size_t kSlots = 1024;
    std::array<uint64_t, kSlots> m_keys {};
    std::array<uint8_t, kSlots> m_index {};
    std::vector<uint32_t> m_colors;
};

// A view's pixels packed, the transparent colour's with alpha 0.
class TPixelSource {
public:
    TPixelSource(const TPixelView& view, const TPngOptions& options)
        : m_view(view)
        , m_bgr(view.Layout == TPixelLayout::Bgr24)
    {
        if (options.TransparentColor)
            m_transparent = *options.TransparentColor & 0xFFFFFF;
    }
    // Calls take(pixel) for every pixel of row y, left to right.
    template <typename Take> void ForRow(int y, Take&& take) const
    {
        const uint8_t* in = m_view.Row(y);
        const int step = m_view.BytesPerPixel();
        for (int x = 0; x < m_view.Width; ++x, in += step) {
            uint32_t pixel = m_bgr ? Pack(in[2], in[1], in[0], 255) : Pack(in[0], in[1], in[2], in[3]);
            if ((pixel & 0xFFFFFF) == m_transparent)
                pixel &= 0xFFFFFF;
            take(pixel);
        }
    }
    template <typename Take> void ForEach(Take&& take) const
    {
        for (int y = 0; y < m_view.Height; ++y)
            ForRow(y, take);
    }

private:
    TPixelView m_view;
    bool m_bgr;
    // No colour's value when none is transparent.
    uint32_t m_transparent = 0xFFFFFFFF;
};

// What the direct layout needs to know of every pixel.
struct TDirectLayout {
    bool Grey = true;
    bool AlphaChannel = false;
    uint8_t Depth = 8;
    std::optional<uint32_t> Key; // the transparent pixel a tRNS key stands for
};

TDirectLayout DirectLayoutOf(const TPixelSource& source)
{
    bool grey = true;
    bool opaque = true;
    bool binaryAlpha = true;
    // Whether every red value is a level of 1, 2 and 4 bits.
    bool levels[3] = { true, true, true };
    std::optional<uint32_t> firstClear;
    source.ForEach([&](uint32_t p) {
        grey = grey && Red(p) == Green(p) && Green(p) == Blue(p);
        opaque = opaque && Alpha(p) == 255;
        binaryAlpha = binaryAlpha && (Alpha(p) == 0 || Alpha(p) == 255);
        if (!firstClear && Alpha(p) == 0)
            firstClear = p;
        for (int k = 0; k < 3; ++k)
            levels[k] = levels[k] && Red(p) % (255 / ((1u << (1 << k)) - 1)) == 0;
    });
    // A key colour stands for transparency when every transparent pixel has
    // it and no opaque pixel does.
    std::optional<uint32_t> key;
    if (!opaque && binaryAlpha) {
        key = firstClear;
        const uint32_t rgb = *key & 0xFFFFFF;
        bool holds = true;
        source.ForEach(
            [&](uint32_t p) { holds = holds && (Alpha(p) == 0 ? p == *key : (p & 0xFFFFFF) != rgb); });
        if (!holds)
            key.reset();
    }
    TDirectLayout layout;
    layout.Grey = grey;
    layout.AlphaChannel = !opaque && !key;
    layout.Key = key;
    if (grey && !layout.AlphaChannel)
        layout.Depth = levels[0] ? 1 : levels[1] ? 2 : levels[2] ? 4 : 8;
    return layout;
}

// Grey or RGB, with a tRNS key colour or an alpha channel as needed.
TRaster DirectRaster(const TPixelSource& source, uint32_t width, uint32_t height)
{
    const TDirectLayout layout = DirectLayoutOf(source);
    const bool grey = layout.Grey;
    const bool alphaChannel = layout.AlphaChannel;
    const size_t channels = (grey ? 1 : 3) + (alphaChannel ? 1 : 0);
    const unsigned step = 255 / ((1u << layout.Depth) - 1);
    const uint8_t type
        = grey ? (alphaChannel ? kGreyAlpha : kGrey) : (alphaChannel ? kTruecolorAlpha : kTruecolor);
    auto rowSamples = [&source, grey, alphaChannel, step](uint32_t y, uint8_t* out) {
        source.ForRow(static_cast<int>(y), [&](uint32_t p) {
            if (grey) {
                *out++ = static_cast<uint8_t>(Red(p) / step);
            } else {
                *out++ = Red(p);
                *out++ = Green(p);
                *out++ = Blue(p);
            }
            if (alphaChannel)
                *out++ = Alpha(p);
        });
    };
    TRaster raster = PackedRaster(rowSamples, width, height, layout.Depth, type, channels);
    if (const std::optional<uint32_t> key = layout.Key) {
        // 16-bit sample values, whatever the depth.
        if (grey)
            raster.Transparency = { 0, static_cast<uint8_t>(Red(*key) / step) };
        else
            raster.Transparency = { 0, Red(*key), 0, Green(*key), 0, Blue(*key) };
    }
    return raster;
}

void CheckSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        Refuse(Format("Cannot write a PNG image of %d x %d pixels", width, height));
}

} // namespace

std::vector<uint8_t> WritePng(const TPixelView& view, const TPngOptions& options)
{
    CheckSize(view.Width, view.Height);
    const auto width = static_cast<uint32_t>(view.Width);
    const auto height = static_cast<uint32_t>(view.Height);
    // The pixels are read from the view as each pass needs them: a copy
    // would hold a picture at the pixel limit several times over.
    const TPixelSource source(view, options);

    // Only the layout whose trial came out shorter gets the final deflate.
    const TRaster direct = DirectRaster(source, width, height);
    TFilterChoice directChoice = ChooseFilters(direct);
    auto colors = std::make_unique<TColorSet>();
    bool fits = true;
    source.ForEach([&](uint32_t p) { fits = fits && colors->Add(p); });
    if (!fits)
        return EncodeFile(direct, std::move(directChoice));
    std::vector<uint32_t> entries = colors->Colors();
    std::stable_partition(entries.begin(), entries.end(), [](uint32_t p) { return Alpha(p) != 255; });
    for (size_t i = 0; i < entries.size(); ++i)
        colors->SetIndex(entries[i], static_cast<uint8_t>(i));
    const TColorSet& palette = *colors;
    const TRaster indexed = IndexedRaster(
        [&](uint32_t y, uint8_t* out) {
            source.ForRow(static_cast<int>(y), [&](uint32_t p) { *out++ = palette.Index(p); });
        },
        width, height, entries);
    TFilterChoice indexedChoice = ChooseFilters(indexed);
    // The palette and its chunk are paid for by the paletted layout alone.
    auto chunks = [](const TRaster& raster) {
        const size_t overhead = 12; // length, type, CRC
        return (raster.Palette.empty() ? 0 : overhead + raster.Palette.size())
            + (raster.Transparency.empty() ? 0 : overhead + raster.Transparency.size());
    };
    // A layout too large for trials is judged by its bytes before deflate,
    // which for a palette of few colours are a fraction of the direct ones.
    const bool trialled = indexedChoice.TrialSize > 0 && directChoice.TrialSize > 0;
    auto cost = [&](const TRaster& raster, const TFilterChoice& choice) {
        return (trialled ? choice.TrialSize : raster.Size()) + chunks(raster);
    };
    if (cost(indexed, indexedChoice) <= cost(direct, directChoice))
        return EncodeFile(indexed, std::move(indexedChoice));
    return EncodeFile(direct, std::move(directChoice));
}

std::vector<uint8_t> WritePng8(const TIndexedPixels& pixels)
{
    CheckSize(pixels.Width, pixels.Height);
    const size_t paletteSize = pixels.Palette.size();
    if (paletteSize == 0 || paletteSize > 256)
        Refuse(Format("A PNG palette holds 1 to 256 colors, not %zu", paletteSize));
    if (pixels.Indices.size() != size_t(pixels.Width) * size_t(pixels.Height))
        Refuse(Format("%zu color indices given for %d x %d pixels", pixels.Indices.size(), pixels.Width,
            pixels.Height));
    const int transparent = pixels.TransparentIndex.value_or(-1);
    if (pixels.TransparentIndex && (transparent < 0 || size_t(transparent) >= paletteSize))
        Refuse(Format("Transparent index %d is outside the palette of %zu colors", transparent, paletteSize));

    std::array<bool, 256> used {};
    for (uint8_t index : pixels.Indices) {
        if (index >= paletteSize)
            Refuse(Format("Color index %d is outside the palette of %zu colors", index, paletteSize));
        used[index] = true;
    }
    // The transparent entry first keeps tRNS at one byte.
    std::array<uint8_t, 256> remap {};
    std::vector<uint32_t> entries;
    auto take = [&](size_t index) {
        const TRGBQuad& c = pixels.Palette[index];
        remap[index] = static_cast<uint8_t>(entries.size());
        entries.push_back(Pack(c.Red, c.Green, c.Blue, int(index) == transparent ? 0 : 255));
    };
    if (transparent >= 0 && used[static_cast<size_t>(transparent)])
        take(static_cast<size_t>(transparent));
    for (size_t index = 0; index < paletteSize; ++index)
        if (used[index] && int(index) != transparent)
            take(index);
    const auto width = static_cast<uint32_t>(pixels.Width);
    const TRaster raster = IndexedRaster(
        [&](uint32_t y, uint8_t* out) {
            const uint8_t* in = pixels.Indices.data() + size_t(y) * width;
            for (uint32_t x = 0; x < width; ++x)
                out[x] = remap[in[x]];
        },
        width, static_cast<uint32_t>(pixels.Height), entries);
    return EncodeFile(raster, ChooseFilters(raster));
}

} // namespace sw
