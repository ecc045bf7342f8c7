#include "core/imaging/gif/gif_color_map.h"

#include "core/base/errors.h"
#include "core/base/vector_limit.h"
#include "core/imaging/gif/gif_messages.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <utility>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define SLICEWRIGHT_GIF_SIMD 1
#endif

namespace sw {

int ColorBits(int colors)
{
    int bits = 0;
    while (bits < 8 && (1 << bits) < colors)
        ++bits;
    if (colors > 0 && bits == 0)
        bits = 1;
    return bits;
}

const TGIFColor& TGIFColorMap::Color(int index) const
{
    if (index < 0 || index >= m_count)
        throw GIFException(gif_message::kInvalidColorIndex);
    return m_entries[static_cast<size_t>(index)];
}

TGIFColor& TGIFColorMap::Color(int index)
{
    if (index < 0 || index >= m_count)
        throw GIFException(gif_message::kInvalidColorIndex);
    return m_entries[static_cast<size_t>(index)];
}

void TGIFColorMap::Clear()
{
    m_entries.clear();
    m_count = 0;
    m_sorted = false;
}

void TGIFColorMap::EnsureCapacity(int needed)
{
    if (needed <= Capacity())
        return;
    const int capacity = needed <= 16 ? 16 : std::min(kMaxGIFColors, (needed + 31) / 32 * 32);
    m_entries.resize(static_cast<size_t>(capacity));
}

int TGIFColorMap::AppendColor(TColor color)
{
    return AppendColor(TGIFColor { GetRValue(color), GetGValue(color), GetBValue(color) });
}

int TGIFColorMap::AppendColor(const TGIFColor& color)
{
    if (m_count >= kMaxGIFColors)
        throw GIFException(gif_message::kColorTableOverflow);
    EnsureCapacity(m_count + 1);
    m_entries[static_cast<size_t>(m_count)] = color;
    m_sorted = false;
    return m_count++;
}

void TGIFColorMap::RemoveColor(int index)
{
    if (index < 0 || index >= m_count)
        throw GIFException(gif_message::kInvalidColorIndex);
    std::copy(m_entries.begin() + index + 1, m_entries.begin() + m_count, m_entries.begin() + index);
    --m_count;
    m_sorted = false;
}

void TGIFColorMap::ImportTable(const std::vector<TRGBQuad>& table)
{
    Clear();
    const int count = static_cast<int>(std::min<size_t>(table.size(), kMaxGIFColors));
    EnsureCapacity(count);
    for (int i = 0; i < count; ++i) {
        const TRGBQuad& quad = table[static_cast<size_t>(i)];
        m_entries[static_cast<size_t>(i)] = TGIFColor { quad.Red, quad.Green, quad.Blue };
    }
    m_count = count;
}

namespace {

struct TUsage {
    uint64_t Pixels;
    int Index;
};

// The order of equal counts is part of the file format's observable output,
// so this exact partitioning scheme is kept rather than std::sort.
void QuickSortByUsage(TUsage* usage, int left, int right)
{
    int i;
    do {
        i = left;
        int j = right;
        const uint64_t pivot = usage[(left + right) >> 1].Pixels;
        do {
            while (usage[i].Pixels > pivot)
                ++i;
            while (usage[j].Pixels < pivot)
                --j;
            if (i <= j) {
                std::swap(usage[i], usage[j]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (left < j)
            QuickSortByUsage(usage, left, j);
        left = i;
    } while (i < right);
}

// Eight indices per load and store: the lookups are what remains.
void RemapPortable(uint8_t* pixels, size_t count, const TColorRemap& remap)
{
    size_t x = 0;
    for (; x + 8 <= count; x += 8) {
        uint64_t word;
        std::memcpy(&word, pixels + x, 8);
        uint64_t mapped = 0;
        for (int k = 0; k < 64; k += 8)
            mapped |= uint64_t(remap[(word >> k) & 0xFF]) << k;
        std::memcpy(pixels + x, &mapped, 8);
    }
    for (; x < count; ++x)
        pixels[x] = remap[pixels[x]];
}

#ifdef SLICEWRIGHT_GIF_SIMD
// The table in sixteen pieces of sixteen, looked up by the index's low half.
// A shuffle gives zero where its selector has bit 7 set, so for an index
// below 128, selectors index, index - 16, ... pick pieces 0 up to the
// index's own high half and no further; xor-ing each piece with the one
// before it makes that chain add up to the index's own piece. Indices of
// 128 and up run the same chain on pieces 8 to 15, each half with the other
// half's selectors forced to 0xFF. The result starts as the index, so the
// pieces are those of remap[i] ^ i, and a difference that is zero, as
// between two pieces left alone, costs nothing.
__attribute__((target("avx2"))) void RemapAvx2(uint8_t* pixels, size_t count, const TColorRemap& remap)
{
    alignas(16) std::array<uint8_t, kMaxGIFColors> change;
    for (size_t i = 0; i < change.size(); ++i)
        change[i] = static_cast<uint8_t>(remap[i] ^ i);
    // Per half: the pieces' differences and the selector offsets they take.
    __m256i steps[2][8];
    __m256i offsets[2][8];
    int used[2] = { 0, 0 };
    bool moves = false;
    for (int p = 0; p < 16; ++p) {
        const __m128i piece = _mm_load_si128(reinterpret_cast<const __m128i*>(change.data() + 16 * p));
        const __m128i before = p % 8 == 0
            ? _mm_setzero_si128()
            : _mm_load_si128(reinterpret_cast<const __m128i*>(change.data() + 16 * (p - 1)));
        const __m128i difference = _mm_xor_si128(piece, before);
        moves = moves || !_mm_testz_si128(piece, piece);
        if (_mm_testz_si128(difference, difference))
            continue;
        int& n = used[p / 8];
        steps[p / 8][n] = _mm256_broadcastsi128_si256(difference);
        offsets[p / 8][n] = _mm256_set1_epi8(static_cast<char>(16 * (p % 8)));
        ++n;
    }
    if (!moves)
        return;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i half = _mm256_set1_epi8(static_cast<char>(0x80));
    size_t x = 0;
    for (; x + 32 <= count; x += 32) {
        const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + x));
        const __m256i flipped = _mm256_xor_si256(index, half);
        const __m256i lower = _mm256_or_si256(index, _mm256_cmpgt_epi8(zero, index));
        const __m256i upper = _mm256_or_si256(flipped, _mm256_cmpgt_epi8(zero, flipped));
        __m256i result = index;
        for (int k = 0; k < used[0]; ++k)
            result = _mm256_xor_si256(
                result, _mm256_shuffle_epi8(steps[0][k], _mm256_sub_epi8(lower, offsets[0][k])));
        for (int k = 0; k < used[1]; ++k)
            result = _mm256_xor_si256(
                result, _mm256_shuffle_epi8(steps[1][k], _mm256_sub_epi8(upper, offsets[1][k])));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(pixels + x), result);
    }
    RemapPortable(pixels + x, count - x, remap);
}

// 128-entry byte lookups in one instruction: two for the table's halves and
// the index's bit 7 to choose between them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void RemapAvx512(
    uint8_t* pixels, size_t count, const TColorRemap& remap)
{
    const __m512i low0 = _mm512_loadu_si512(remap.data());
    const __m512i low1 = _mm512_loadu_si512(remap.data() + 64);
    const __m512i high0 = _mm512_loadu_si512(remap.data() + 128);
    const __m512i high1 = _mm512_loadu_si512(remap.data() + 192);
    for (size_t x = 0; x < count; x += 64) {
        // The last block's bytes past the count are neither read nor written.
        const size_t left = count - x;
        const __mmask64 inside = left >= 64 ? ~__mmask64(0) : (__mmask64(1) << left) - 1;
        const __m512i index = _mm512_maskz_loadu_epi8(inside, pixels + x);
        const __m512i low = _mm512_permutex2var_epi8(low0, index, low1);
        const __m512i high = _mm512_permutex2var_epi8(high0, index, high1);
        _mm512_mask_storeu_epi8(
            pixels + x, inside, _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high));
    }
}
#endif

} // namespace

std::vector<TRemapKernel> IndexRemappers()
{
    std::vector<TRemapKernel> kernels { RemapPortable };
#ifdef SLICEWRIGHT_GIF_SIMD
    if (VectorLevelAllowed(TVectorLevel::Avx2) && __builtin_cpu_supports("avx2"))
        kernels.push_back(RemapAvx2);
    if (VectorLevelAllowed(TVectorLevel::Avx512) && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("avx512vbmi"))
        kernels.push_back(RemapAvx512);
#endif
    return kernels;
}

void RemapIndices(std::span<uint8_t> pixels, const TColorRemap& remap)
{
    static const TRemapKernel remapper = IndexRemappers().back();
    remapper(pixels.data(), pixels.size(), remap);
}

TColorRemap RemapForHeld(const TColorRemap& remap, const TColorCounts& counts)
{
    // The shuffle kernel pays for each piece of sixteen whose change
    // (remap[i] ^ i) differs from the piece before it in its half: a free
    // entry repeats that piece's change, or keeps its index at a half's start.
    TColorRemap table = remap;
    for (size_t i = 0; i < table.size(); ++i)
        if (counts[i] == 0)
            table[i] = static_cast<uint8_t>(i % 128 < 16 ? i : table[i - 16] ^ (i - 16) ^ i);
    return table;
}

namespace {

// Eight pixels at a time (count a multiple of eight), one per set.
// Spelled out: the compiler does not unroll this at -O2.
inline void CountEach(const uint8_t* p, size_t count, TPartialCounts& partial)
{
    for (size_t k = 0; k < count; k += 8) {
        ++partial[0][p[k]];
        ++partial[1][p[k + 1]];
        ++partial[2][p[k + 2]];
        ++partial[3][p[k + 3]];
        ++partial[4][p[k + 4]];
        ++partial[5][p[k + 5]];
        ++partial[6][p[k + 6]];
        ++partial[7][p[k + 7]];
    }
}

void CountPortable(const uint8_t* p, size_t count, TPartialCounts& partial)
{
    for (; count >= 16; count -= 16, p += 16) {
        // Flat artwork is mostly runs: sixteen equal indices count at once.
        // Photos rarely pass this test, so its branch stays predictable,
        // which a test on eight was not.
        uint64_t low;
        uint64_t high;
        std::memcpy(&low, p, 8);
        std::memcpy(&high, p + 8, 8);
        const uint64_t pattern = p[0] * 0x0101010101010101u;
        if (((low ^ pattern) | (high ^ pattern)) == 0) {
            partial[0][p[0]] += 16;
            continue;
        }
        CountEach(p, 16, partial);
    }
    for (; count > 0; --count, ++p)
        ++partial[0][*p];
}

#ifdef SLICEWRIGHT_GIF_SIMD
// A block of 64 pixels rarely holds more than a few indices: each round
// counts every pixel equal to the first one not yet counted with one compare
// and a population count. A block that needs more than eight rounds is
// finished pixel by pixel, and the blocks after it, likely as busy, are
// counted plainly for a while. Equal::Mask(block, index) gives a bit per
// pixel of the block equal to index.
template <typename Equal>
__attribute__((always_inline)) inline void CountByRounds(
    const uint8_t* p, size_t count, TPartialCounts& partial)
{
    constexpr size_t kBlock = 64;
    constexpr size_t kRounds = 8; // one per set
    constexpr size_t kPause = 15;
    size_t plain = 0;
    for (; count >= kBlock; count -= kBlock, p += kBlock) {
        if (plain > 0) {
            --plain;
            CountEach(p, kBlock, partial);
            continue;
        }
        uint64_t left = ~uint64_t(0);
        for (size_t round = 0; left != 0 && round < kRounds; ++round) {
            const uint8_t index = p[std::countr_zero(left)];
            const uint64_t same = Equal::Mask(p, index);
            partial[round][index] += uint32_t(std::popcount(same));
            left &= ~same;
        }
        if (left != 0) {
            plain = kPause;
            for (; left != 0; left &= left - 1)
                ++partial[0][p[std::countr_zero(left)]];
        }
    }
    CountPortable(p, count, partial);
}

struct TEqualAvx2 {
    __attribute__((target("avx2"))) static uint64_t Mask(const uint8_t* block, uint8_t index)
    {
        const __m256i wanted = _mm256_set1_epi8(static_cast<char>(index));
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
        return uint64_t(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted))))
            | uint64_t(uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)))) << 32;
    }
};

struct TEqualAvx512 {
    __attribute__((target("avx512f,avx512bw"))) static uint64_t Mask(const uint8_t* block, uint8_t index)
    {
        return _mm512_cmpeq_epi8_mask(_mm512_loadu_si512(block), _mm512_set1_epi8(static_cast<char>(index)));
    }
};

__attribute__((target("avx2,popcnt,bmi"))) void CountAvx2(
    const uint8_t* p, size_t count, TPartialCounts& partial)
{
    CountByRounds<TEqualAvx2>(p, count, partial);
}

__attribute__((target("avx512f,avx512bw,popcnt,bmi"))) void CountAvx512(
    const uint8_t* p, size_t count, TPartialCounts& partial)
{
    CountByRounds<TEqualAvx512>(p, count, partial);
}
#endif

} // namespace

std::vector<TCountKernel> ColorCountKernels()
{
    std::vector<TCountKernel> kernels { CountPortable };
#ifdef SLICEWRIGHT_GIF_SIMD
    if (VectorLevelAllowed(TVectorLevel::Avx2) && __builtin_cpu_supports("avx2")
        && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi"))
        kernels.push_back(CountAvx2);
    if (VectorLevelAllowed(TVectorLevel::Avx512) && __builtin_cpu_supports("avx512bw")
        && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi"))
        kernels.push_back(CountAvx512);
#endif
    return kernels;
}

namespace {

TCountKernel ChosenCountKernel()
{
    static const TCountKernel chosen = ColorCountKernels().back();
    return chosen;
}

} // namespace

TColorCounter::TColorCounter()
    : m_kernel(ChosenCountKernel())
{ }

void TColorCounter::Count(std::span<const uint8_t> pixels)
{
    constexpr uint64_t kFlushAt = uint64_t(1) << 31;
    const uint8_t* p = pixels.data();
    size_t left = pixels.size();
    while (left > 0) {
        if (m_pending >= kFlushAt / 2)
            Flush();
        const size_t chunk = std::min<size_t>(left, kFlushAt / 2);
        m_kernel(p, chunk, m_partial);
        p += chunk;
        left -= chunk;
        m_pending += chunk;
    }
}

const TColorCounts& TColorCounter::Totals()
{
    Flush();
    return m_totals;
}

void TColorCounter::Flush()
{
    for (size_t c = 0; c < kMaxGIFColors; ++c) {
        uint64_t sum = 0;
        for (auto& partial : m_partial) {
            sum += partial[c];
            partial[c] = 0;
        }
        m_totals[c] += sum;
    }
    m_pending = 0;
}

bool TGIFColorMap::SortByUsage(std::span<uint8_t> pixels, TColorRemap& remap)
{
    if (m_count <= 1)
        return false;
    TColorCounter counter;
    counter.Count(pixels);
    const TColorCounts& counts = counter.Totals();
    if (!SortByCounts(counts, remap))
        return false;
    RemapIndices(pixels, RemapForHeld(remap, counts));
    return true;
}

bool TGIFColorMap::SortByCounts(const TColorCounts& counts, TColorRemap& remap)
{
    if (m_count <= 1)
        return false;
    m_sorted = true;

    std::array<TUsage, kMaxGIFColors> usage;
    for (int i = 0; i < m_count; ++i)
        usage[static_cast<size_t>(i)] = TUsage { counts[static_cast<size_t>(i)], i };
    QuickSortByUsage(usage.data(), 0, m_count - 1);

    bool moved = false;
    for (int i = 0; i < m_count && !moved; ++i)
        moved = usage[static_cast<size_t>(i)].Index != i;
    if (!moved)
        return false;

    for (int i = 0; i < kMaxGIFColors; ++i)
        remap[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    int used = m_count;
    for (int position = 0; position < m_count; ++position) {
        const TUsage& entry = usage[static_cast<size_t>(position)];
        remap[static_cast<size_t>(entry.Index)] = static_cast<uint8_t>(position);
        if (entry.Pixels == 0 && used == m_count)
            used = position;
    }

    std::vector<TGIFColor> reordered(m_entries.size());
    for (int i = 0; i < m_count; ++i)
        reordered[remap[static_cast<size_t>(i)]] = m_entries[static_cast<size_t>(i)];
    m_entries = std::move(reordered);
    m_count = used;
    return true;
}

void TGIFColorMap::SaveToStream(TStream& stream) const
{
    if (m_count == 0)
        return;
    const size_t entries = size_t(1) << ColorBits(m_count);
    std::vector<uint8_t> bytes(entries * 3, 0);
    for (int i = 0; i < m_count; ++i) {
        const TGIFColor& color = m_entries[static_cast<size_t>(i)];
        bytes[size_t(i) * 3] = color.Red;
        bytes[size_t(i) * 3 + 1] = color.Green;
        bytes[size_t(i) * 3 + 2] = color.Blue;
    }
    stream.WriteBuffer(bytes.data(), bytes.size());
}

void TGIFColorMap::Load(TByteReader& reader, int count)
{
    if (count < 0 || count > kMaxGIFColors)
        throw GIFException(gif_message::kColorTableOverflow);
    Clear();
    const std::span<const uint8_t> bytes = reader.Bytes(size_t(count) * 3);
    EnsureCapacity(count);
    for (int i = 0; i < count; ++i)
        m_entries[static_cast<size_t>(i)]
            = TGIFColor { bytes[size_t(i) * 3], bytes[size_t(i) * 3 + 1], bytes[size_t(i) * 3 + 2] };
    m_count = count;
}

} // namespace sw
