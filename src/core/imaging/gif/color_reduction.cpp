#include "core/imaging/gif/color_reduction.h"

#include "core/base/errors.h"
#include "core/base/vector_limit.h"
#include "core/imaging/gif/gif_messages.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace sw {

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

// The level as a sum of threshold tests: the same values as (c + 3) / 51.
constexpr uint8_t LevelByThresholds(uint8_t c)
{
    return static_cast<uint8_t>((c >= 48) + (c >= 99) + (c >= 150) + (c >= 201) + (c >= 252));
}

// Mark: kCubeMarker instead of the index where the pixel is exactly key.
template <bool Mark> void MapRowPortableT(const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key)
{
    for (int x = 0; x < width; ++x) {
        const uint8_t blue = bgr[3 * x];
        const uint8_t green = bgr[3 * x + 1];
        const uint8_t red = bgr[3 * x + 2];
        const auto index = static_cast<uint8_t>(
            36 * LevelByThresholds(red) + 6 * LevelByThresholds(green) + LevelByThresholds(blue));
        if constexpr (Mark)
            indices[x] = blue == key.Blue && green == key.Green && red == key.Red ? kCubeMarker : index;
        else
            indices[x] = index;
    }
}

void MapRowPortable(const uint8_t* bgr, uint8_t* indices, int width)
{
    MapRowPortableT<false>(bgr, indices, width, TBgrKey {});
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SLICEWRIGHT_CUBE_SIMD 1

// Shuffle masks that gather one channel of 16 pixels (48 bytes, loaded as
// three 16-byte parts) from one of the parts; 0x80 leaves a slot zero.
struct TGatherMasks {
    alignas(16) uint8_t Bytes[3][3][16]; // channel, part, slot
};

constexpr TGatherMasks MakeGatherMasks()
{
    TGatherMasks masks {};
    for (int channel = 0; channel < 3; ++channel)
        for (int part = 0; part < 3; ++part)
            for (int slot = 0; slot < 16; ++slot) {
                const int at = 3 * slot + channel;
                masks.Bytes[channel][part][slot] = at / 16 == part ? static_cast<uint8_t>(at % 16) : 0x80;
            }
    return masks;
}

constexpr TGatherMasks kGather = MakeGatherMasks();

// Compilers at -O2 leave the stride-3 loop scalar; these spell the vector
// form out. Both give MapRowPortable's bytes.
__attribute__((target("ssse3"))) inline __m128i Gather128(__m128i a, __m128i b, __m128i c, int channel)
{
    const auto* m = kGather.Bytes[channel];
    return _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(a, _mm_load_si128(reinterpret_cast<const __m128i*>(m[0]))),
            _mm_shuffle_epi8(b, _mm_load_si128(reinterpret_cast<const __m128i*>(m[1])))),
        _mm_shuffle_epi8(c, _mm_load_si128(reinterpret_cast<const __m128i*>(m[2]))));
}

// The levels in 16-bit halves: (c + 3) * 1286 >> 16 equals (c + 3) / 51 for
// every byte, and a saturating add of 3 still gives 5 for 253 to 255. The
// multiplies leave the shuffle unit to the gather, which has plenty.
__attribute__((target("ssse3"))) inline void Levels128(__m128i c, __m128i& even, __m128i& odd)
{
    const __m128i biased = _mm_adds_epu8(c, _mm_set1_epi8(3));
    const __m128i scale = _mm_set1_epi16(1286);
    even = _mm_mulhi_epu16(_mm_and_si128(biased, _mm_set1_epi16(0x00FF)), scale);
    odd = _mm_mulhi_epu16(_mm_srli_epi16(biased, 8), scale);
}

// 6(6r + g) + b per 16-bit half, joined back into bytes.
__attribute__((target("ssse3"))) inline __m128i CubeIndex128(__m128i blue, __m128i green, __m128i red)
{
    __m128i b[2], g[2], r[2];
    Levels128(blue, b[0], b[1]);
    Levels128(green, g[0], g[1]);
    Levels128(red, r[0], r[1]);
    const __m128i six = _mm_set1_epi16(6);
    __m128i index[2];
    for (int half = 0; half < 2; ++half)
        index[half] = _mm_add_epi16(
            _mm_mullo_epi16(_mm_add_epi16(_mm_mullo_epi16(r[half], six), g[half]), six), b[half]);
    return _mm_or_si128(index[0], _mm_slli_epi16(index[1], 8));
}

template <bool Mark>
__attribute__((target("ssse3"))) void MapRowSsse3T(
    const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key)
{
    const __m128i keyBlue = _mm_set1_epi8(static_cast<char>(key.Blue));
    const __m128i keyGreen = _mm_set1_epi8(static_cast<char>(key.Green));
    const __m128i keyRed = _mm_set1_epi8(static_cast<char>(key.Red));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = bgr + size_t(x) * 3;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        const __m128i blueBytes = Gather128(a, b, c, 0);
        const __m128i greenBytes = Gather128(a, b, c, 1);
        const __m128i redBytes = Gather128(a, b, c, 2);
        const __m128i index = CubeIndex128(blueBytes, greenBytes, redBytes);
        if constexpr (!Mark) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(indices + x), index);
        } else {
            // The marker is all ones: or-ing the match mask sets it.
            const __m128i match = _mm_and_si128(
                _mm_and_si128(_mm_cmpeq_epi8(blueBytes, keyBlue), _mm_cmpeq_epi8(greenBytes, keyGreen)),
                _mm_cmpeq_epi8(redBytes, keyRed));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(indices + x), _mm_or_si128(index, match));
        }
    }
    MapRowPortableT<Mark>(bgr + size_t(x) * 3, indices + x, width - x, key);
}

void MapRowSsse3(const uint8_t* bgr, uint8_t* indices, int width)
{
    MapRowSsse3T<false>(bgr, indices, width, TBgrKey {});
}

// Two 16-pixel groups side by side, one per 128-bit lane, so the in-lane
// shuffles of the narrower form still apply.
__attribute__((target("avx2"))) inline __m256i Mask256(const uint8_t* bytes)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes)));
}

__attribute__((target("avx2"))) inline __m256i Gather256(__m256i a, __m256i b, __m256i c, int channel)
{
    const auto* m = kGather.Bytes[channel];
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(a, Mask256(m[0])), _mm256_shuffle_epi8(b, Mask256(m[1]))),
        _mm256_shuffle_epi8(c, Mask256(m[2])));
}

// The same on two 16-pixel groups side by side.
__attribute__((target("avx2"))) inline void Levels256(__m256i c, __m256i& even, __m256i& odd)
{
    const __m256i biased = _mm256_adds_epu8(c, _mm256_set1_epi8(3));
    const __m256i scale = _mm256_set1_epi16(1286);
    even = _mm256_mulhi_epu16(_mm256_and_si256(biased, _mm256_set1_epi16(0x00FF)), scale);
    odd = _mm256_mulhi_epu16(_mm256_srli_epi16(biased, 8), scale);
}

__attribute__((target("avx2"))) inline __m256i CubeIndex256(__m256i blue, __m256i green, __m256i red)
{
    __m256i b[2], g[2], r[2];
    Levels256(blue, b[0], b[1]);
    Levels256(green, g[0], g[1]);
    Levels256(red, r[0], r[1]);
    const __m256i six = _mm256_set1_epi16(6);
    __m256i index[2];
    for (int half = 0; half < 2; ++half)
        index[half] = _mm256_add_epi16(
            _mm256_mullo_epi16(_mm256_add_epi16(_mm256_mullo_epi16(r[half], six), g[half]), six), b[half]);
    return _mm256_or_si256(index[0], _mm256_slli_epi16(index[1], 8));
}

__attribute__((target("avx2"))) inline __m256i LoadPair(const uint8_t* low, const uint8_t* high)
{
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}

template <bool Mark>
__attribute__((target("avx2"))) void MapRowAvx2T(const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key)
{
    const __m256i keyBlue = _mm256_set1_epi8(static_cast<char>(key.Blue));
    const __m256i keyGreen = _mm256_set1_epi8(static_cast<char>(key.Green));
    const __m256i keyRed = _mm256_set1_epi8(static_cast<char>(key.Red));
    int x = 0;
    for (; x + 32 <= width; x += 32) {
        const uint8_t* p = bgr + size_t(x) * 3;
        const __m256i a = LoadPair(p, p + 48);
        const __m256i b = LoadPair(p + 16, p + 64);
        const __m256i c = LoadPair(p + 32, p + 80);
        const __m256i blueBytes = Gather256(a, b, c, 0);
        const __m256i greenBytes = Gather256(a, b, c, 1);
        const __m256i redBytes = Gather256(a, b, c, 2);
        const __m256i index = CubeIndex256(blueBytes, greenBytes, redBytes);
        if constexpr (!Mark) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(indices + x), index);
        } else {
            const __m256i match = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi8(blueBytes, keyBlue),
                                                       _mm256_cmpeq_epi8(greenBytes, keyGreen)),
                _mm256_cmpeq_epi8(redBytes, keyRed));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(indices + x), _mm256_or_si256(index, match));
        }
    }
    MapRowSsse3T<Mark>(bgr + size_t(x) * 3, indices + x, width - x, key);
}

void MapRowAvx2(const uint8_t* bgr, uint8_t* indices, int width)
{
    MapRowAvx2T<false>(bgr, indices, width, TBgrKey {});
}

// Byte permutes across the whole register: a channel of 64 pixels is
// gathered from 192 bytes by two, and its level is a 64-entry lookup on the
// channel's top six bits. Each range of four values holds at most one
// threshold (48, 99, 150, 201, 252): the level is the range's base, plus one
// where the value reaches the range's threshold; ranges without one get 255,
// which none of their values reaches.
struct TQuadLevels {
    alignas(64) uint8_t Gather[3][2][64]; // channel; from the first 128 bytes, from the last 64
    alignas(64) uint8_t Base[3][64]; // blue, green, red, weighted 1, 6, 36
    alignas(64) uint8_t Threshold[64];
};

constexpr TQuadLevels MakeQuadLevels()
{
    TQuadLevels table {};
    for (int channel = 0; channel < 3; ++channel)
        for (int i = 0; i < 64; ++i) {
            const int at = 3 * i + channel;
            table.Gather[channel][0][i] = static_cast<uint8_t>(at & 127);
            table.Gather[channel][1][i] = static_cast<uint8_t>(at & 63);
        }
    constexpr int kWeights[3] = { 1, 6, 36 };
    for (int range = 0; range < 64; ++range) {
        // The level just below the range, so that 252, which starts the
        // last range, is compared: a threshold of 255 would be reached there.
        const int base = range == 0 ? 0 : LevelByThresholds(static_cast<uint8_t>(4 * range - 1));
        for (int channel = 0; channel < 3; ++channel)
            table.Base[channel][range] = static_cast<uint8_t>(kWeights[channel] * base);
        table.Threshold[range] = 255;
        for (int c = 4 * range + 3; c >= 4 * range; --c)
            if (LevelByThresholds(static_cast<uint8_t>(c)) != base)
                table.Threshold[range] = static_cast<uint8_t>(c);
    }
    return table;
}

constexpr TQuadLevels kQuadLevels = MakeQuadLevels();

#define SLICEWRIGHT_AVX512_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

SLICEWRIGHT_AVX512_TARGET inline __m512i Load512(const uint8_t* bytes)
{
    return _mm512_load_si512(reinterpret_cast<const void*>(bytes));
}

// table[index & 63] per byte. The unmasked intrinsic's undefined start
// value trips GCC 12's uninitialised-use warning; the full mask is the same
// instruction.
SLICEWRIGHT_AVX512_TARGET inline __m512i Lookup64(__m512i table, __m512i index)
{
    return _mm512_maskz_permutexvar_epi8(~__mmask64(0), index, table);
}

// Mark: also the pixels that are exactly key.
template <bool Mark>
SLICEWRIGHT_AVX512_TARGET void MapRowAvx512T(const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key)
{
    const uint8_t keys[3] = { key.Blue, key.Green, key.Red };
    const __m512i threshold = Load512(kQuadLevels.Threshold);
    const __m512i weights[3] = { _mm512_set1_epi8(1), _mm512_set1_epi8(6), _mm512_set1_epi8(36) };
    // The pixels whose channel lies in the last 64 bytes: red from pixel 42 on,
    // blue and green from 43.
    constexpr __mmask64 kFromLast[3]
        = { ~((__mmask64(1) << 43) - 1), ~((__mmask64(1) << 43) - 1), ~((__mmask64(1) << 42) - 1) };
    for (int x = 0; x < width; x += 64) {
        // The last block's bytes past the width are neither read nor written.
        const int left = width - x;
        const __mmask64 inside = left >= 64 ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
        const int bytes = 3 * std::min(left, 64);
        auto within = [bytes](int from) {
            const int n = std::clamp(bytes - from, 0, 64);
            return n == 64 ? ~__mmask64(0) : (__mmask64(1) << n) - 1;
        };
        const uint8_t* p = bgr + size_t(x) * 3;
        const __m512i a = _mm512_maskz_loadu_epi8(within(0), p);
        const __m512i b = _mm512_maskz_loadu_epi8(within(64), p + 64);
        const __m512i c = _mm512_maskz_loadu_epi8(within(128), p + 128);
        __m512i index = _mm512_setzero_si512();
        __mmask64 match = inside;
        for (int channel = 0; channel < 3; ++channel) {
            const __m512i values = _mm512_mask_permutexvar_epi8(
                _mm512_permutex2var_epi8(a, Load512(kQuadLevels.Gather[channel][0]), b), kFromLast[channel],
                Load512(kQuadLevels.Gather[channel][1]), c);
            // The permutes read the low six bits; the neighbour's bits
            // shifted in above them play no part.
            const __m512i range = _mm512_srli_epi16(values, 2);
            const __m512i base = Lookup64(Load512(kQuadLevels.Base[channel]), range);
            const __mmask64 above = _mm512_cmpge_epu8_mask(values, Lookup64(threshold, range));
            index = _mm512_add_epi8(index, _mm512_mask_add_epi8(base, above, base, weights[channel]));
            if constexpr (Mark)
                match = _mm512_mask_cmpeq_epi8_mask(
                    match, values, _mm512_set1_epi8(static_cast<char>(keys[channel])));
        }
        if constexpr (Mark)
            index = _mm512_mask_mov_epi8(index, match, _mm512_set1_epi8(static_cast<char>(kCubeMarker)));
        _mm512_mask_storeu_epi8(indices + x, inside, index);
    }
}

void MapRowAvx512(const uint8_t* bgr, uint8_t* indices, int width)
{
    MapRowAvx512T<false>(bgr, indices, width, TBgrKey {});
}

bool HasAvx512Vbmi()
{
    return VectorLevelAllowed(TVectorLevel::Avx512) && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vbmi");
}
#endif

TMapRowKernel ChooseMapRow()
{
    const std::vector<TMapRowKernel> kernels = WebCubeRowMappers();
    return kernels.back();
}

} // namespace

std::vector<TMapRowKernel> WebCubeRowMappers()
{
    std::vector<TMapRowKernel> kernels { MapRowPortable };
#ifdef SLICEWRIGHT_CUBE_SIMD
    if (VectorLevelAllowed(TVectorLevel::Ssse3) && __builtin_cpu_supports("ssse3"))
        kernels.push_back(MapRowSsse3);
    if (VectorLevelAllowed(TVectorLevel::Avx2) && __builtin_cpu_supports("avx2"))
        kernels.push_back(MapRowAvx2);
    if (HasAvx512Vbmi())
        kernels.push_back(MapRowAvx512);
#endif
    return kernels;
}

std::vector<TMarkRowKernel> WebCubeRowMarkers()
{
    std::vector<TMarkRowKernel> kernels { MapRowPortableT<true> };
#ifdef SLICEWRIGHT_CUBE_SIMD
    if (VectorLevelAllowed(TVectorLevel::Ssse3) && __builtin_cpu_supports("ssse3"))
        kernels.push_back(MapRowSsse3T<true>);
    if (VectorLevelAllowed(TVectorLevel::Avx2) && __builtin_cpu_supports("avx2"))
        kernels.push_back(MapRowAvx2T<true>);
    if (HasAvx512Vbmi())
        kernels.push_back(MapRowAvx512T<true>);
#endif
    return kernels;
}

void TNetscapeColorLookup::MapRow(const uint8_t* bgr, uint8_t* indices, int width)
{
    static const TMapRowKernel map = ChooseMapRow();
    map(bgr, indices, width);
}

void TNetscapeColorLookup::MapRowMarking(const uint8_t* bgr, uint8_t* indices, int width, TBgrKey key)
{
    static const TMarkRowKernel map = WebCubeRowMarkers().back();
    map(bgr, indices, width, key);
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
        throw GIFException(Format(gif_message::kUnsupportedDither, static_cast<int>(kind)));
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
        throw GIFException(gif_message::kUnsupportedPixelFormat);
    if (width <= 0 || height <= 0)
        throw GIFException(gif_message::kInvalidDimensions);
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
        throw EOutOfResources(gif_message::kNoMemoryForDib);
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
        throw GIFException(Format(gif_message::kUnsupportedReduction, static_cast<int>(kind)));
    if (dither != TDitherMode::Nearest && dither != TDitherMode::FloydSteinberg)
        throw GIFException(Format(gif_message::kUnsupportedDither, static_cast<int>(dither)));

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
    if (IsIndexedFormat(format)) {
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

} // namespace sw
