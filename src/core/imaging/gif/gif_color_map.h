#pragma once

// GIF colour tables: up to 256 red, green, blue entries with a count, a
// capacity that grows in steps, and a sorted flag that is stored in the file.

#include "core/base/byte_reader.h"
#include "core/base/colors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sw {

constexpr int kMaxGIFColors = 256;

struct TGIFColor {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    bool operator==(const TGIFColor&) const = default;
};

// 0 for no colours, else the smallest k >= 1 with 2^k >= colors (at most 8).
int ColorBits(int colors);

// A mapping from old to new colour indices, as produced by SortByUsage.
using TColorRemap = std::array<uint8_t, kMaxGIFColors>;

// Rewrites every index i of pixels to remap[i].
void RemapIndices(std::span<uint8_t> pixels, const TColorRemap& remap);
// The kernels RemapIndices can run here, the portable one first and the one
// it uses last; all give the same bytes.
using TRemapKernel = void (*)(uint8_t* pixels, size_t count, const TColorRemap& remap);
std::vector<TRemapKernel> IndexRemappers();

// How many pixels use each index.
using TColorCounts = std::array<uint64_t, kMaxGIFColors>;

// remap at every index some pixel holds (counts[i] > 0), and elsewhere the
// entries that leave RemapIndices the least work; pixels hold no other
// index, so both tables give them the same bytes.
TColorRemap RemapForHeld(const TColorRemap& remap, const TColorCounts& counts);

// Eight interleaved 32-bit sets of counters, so that runs of one index do
// not serialise on a single counter.
using TPartialCounts = std::array<std::array<uint32_t, kMaxGIFColors>, 8>;
// Adds each of count pixels to one of the sets at its index.
using TCountKernel = void (*)(const uint8_t* pixels, size_t count, TPartialCounts& partial);
// The counting kernels this processor can run, the portable one first and
// the one TColorCounter uses by default last; all give the same sums.
std::vector<TCountKernel> ColorCountKernels();

// Counts the uses of each index over any number of pixel runs.
class TColorCounter {
public:
    TColorCounter();
    explicit TColorCounter(TCountKernel kernel)
        : m_kernel(kernel)
    { }

    void Count(std::span<const uint8_t> pixels);
    const TColorCounts& Totals();

private:
    void Flush();

    TCountKernel m_kernel;
    // Added into the totals before they can overflow.
    TPartialCounts m_partial {};
    TColorCounts m_totals {};
    uint64_t m_pending = 0;
};

class TGIFColorMap {
public:
    TGIFColorMap() = default;
    virtual ~TGIFColorMap() = default;
    TGIFColorMap(const TGIFColorMap&) = default;
    TGIFColorMap& operator=(const TGIFColorMap&) = default;

    int Count() const { return m_count; }
    // Entries allocated: 16 when 16 suffice, else the needed count rounded
    // up to a multiple of 32, never above 256.
    int Capacity() const { return static_cast<int>(m_entries.size()); }
    bool Empty() const { return m_count == 0; }
    bool Sorted() const { return m_sorted; }
    void SetSorted(bool value) { m_sorted = value; }

    // "Invalid color index" outside 0 .. Count() - 1.
    const TGIFColor& Color(int index) const;
    TGIFColor& Color(int index);
    const TGIFColor& operator[](int index) const { return Color(index); }

    void Clear();
    // Stores the colour value (0x00BBGGRR) at index Count() and returns that
    // index; "Color table overflow" when 256 entries are already held.
    // Clears the sorted flag.
    int AppendColor(TColor color);
    int AppendColor(const TGIFColor& color);
    // "Invalid color index" outside 0 .. Count() - 1; later entries move down
    // by one. Clears the sorted flag.
    void RemoveColor(int index);
    // Replaces the table by a bitmap's colour table (entries beyond 256 are
    // ignored). The sorted flag is cleared.
    void ImportTable(const std::vector<TRGBQuad>& table);

    // Orders the entries by how many bytes of pixels use them, most used
    // first, rewrites the pixels to the new indices and cuts the table after
    // the last used entry. Returns false when nothing moved (count <= 1, or
    // the order is already right; the table then keeps unused entries).
    // When true, remap[old] gives the new index of every old index below the
    // previous count; indices at or above it map to themselves. Sets the
    // sorted flag unless count <= 1.
    bool SortByUsage(std::span<uint8_t> pixels, TColorRemap& remap);
    // The same, from counts already made (counts[i]: pixels using index i),
    // for callers that remap the pixels themselves: nothing but the table
    // changes. remap is filled whenever true is returned.
    bool SortByCounts(const TColorCounts& counts, TColorRemap& remap);

    // The Count() entries as red, green, blue bytes, then zero entries up to
    // 2^ColorBits(Count()); nothing for an empty table.
    void SaveToStream(TStream& stream) const;
    // Reads count entries of red, green, blue (count 0 .. 256); the reader's
    // short-read error when it holds fewer bytes.
    void Load(TByteReader& reader, int count);

private:
    void EnsureCapacity(int needed);

    std::vector<TGIFColor> m_entries;
    int m_count = 0;
    bool m_sorted = false;
};

class TGIFGlobalColorMap : public TGIFColorMap { };

class TGIFLocalColorMap : public TGIFColorMap { };

} // namespace sw
