#include "core/imaging/palette/color_histogram.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"

#include <algorithm>
#include <cstdlib>

namespace sw::palette {
namespace {

constexpr uint32_t kEmptyKey = 0xFFFFFFFF;
// Boxes keep 6 bits per channel: 2^18 of them at most.
constexpr int kBoxBits = 6;
constexpr int64_t kMaxBoxes = int64_t(1) << (3 * kBoxBits);

struct TSlot {
    uint32_t Key = kEmptyKey;
    uint32_t Count = 0;
    // Sums of the channel bits below the box (2 bits each), so a box's exact
    // mean survives. Both fit 32 bits under the pixel limit of 2^26.
    uint32_t LowRed = 0;
    uint32_t LowGreen = 0;
    uint32_t LowBlue = 0;
};

constexpr uint32_t Pack(uint32_t red, uint32_t green, uint32_t blue) { return (red << 16) | (green << 8) | blue; }

constexpr uint32_t BoxKey(uint32_t packed)
{
    return ((packed >> 18) << 12) | (((packed >> 10) & 0x3F) << 6) | ((packed >> 2) & 0x3F);
}

// Open addressing with linear probing; the table holds twice the entries it
// can ever get (no more than the pixels, no more than the boxes), so probes
// stay short and it never grows.
class TColorTable {
public:
    explicit TColorTable(int64_t pixelCount)
    {
        const int64_t most = std::min(pixelCount, kMaxBoxes);
        m_bits = 4;
        while ((int64_t(1) << m_bits) < 2 * most)
            ++m_bits;
        m_slots.resize(size_t(1) << m_bits);
    }

    bool Exact() const { return m_exact; }
    const std::vector<TSlot>& Slots() const { return m_slots; }

    // The slot counting this colour, added when new.
    TSlot& Find(uint32_t packed)
    {
        TSlot& slot = Probe(m_exact ? packed : BoxKey(packed));
        if (slot.Key != kEmptyKey)
            return slot;
        if (m_exact && m_used == kExactHistogramLimit) {
            ToBoxes();
            return Find(packed);
        }
        slot.Key = m_exact ? packed : BoxKey(packed);
        ++m_used;
        return slot;
    }

    void Add(TSlot& slot, uint32_t packed, uint32_t count) const
    {
        slot.Count += count;
        if (!m_exact) {
            slot.LowRed += ((packed >> 16) & 3) * count;
            slot.LowGreen += ((packed >> 8) & 3) * count;
            slot.LowBlue += (packed & 3) * count;
        }
    }

private:
    TSlot& Probe(uint32_t key)
    {
        const size_t mask = m_slots.size() - 1;
        size_t at = (key * 2654435761u) >> (32 - m_bits);
        while (m_slots[at].Key != key && m_slots[at].Key != kEmptyKey)
            at = (at + 1) & mask;
        return m_slots[at];
    }

    void ToBoxes()
    {
        std::vector<TSlot> colors;
        colors.reserve(size_t(m_used));
        for (const TSlot& slot : m_slots)
            if (slot.Key != kEmptyKey)
                colors.push_back(slot);
        std::fill(m_slots.begin(), m_slots.end(), TSlot {});
        m_exact = false;
        m_used = 0;
        for (const TSlot& color : colors)
            Add(Find(color.Key), color.Key, color.Count);
    }

    std::vector<TSlot> m_slots;
    int m_bits = 0;
    int64_t m_used = 0;
    bool m_exact = true;
};

} // namespace

void CheckPixelView(const TPixelView& view)
{
    if (view.Width < 0 || view.Height < 0)
        throw EInvalidGraphicOperation(Format("Invalid picture size (%d x %d pixels)", view.Width, view.Height));
    if (ExceedsPixelLimit(view.Width, view.Height))
        throw EInvalidGraphicOperation(PictureTooLargeMessage(view.Width, view.Height));
    if (view.Width == 0 || view.Height == 0)
        return;
    if (view.Pixels == nullptr || std::abs(view.Stride) < ptrdiff_t(view.Width) * 3)
        throw EInvalidGraphicOperation(Format("Invalid picture rows (%lld bytes apart for %d pixels)",
            static_cast<long long>(view.Stride), view.Width));
}

TColorHistogram::TColorHistogram(const TPixelView& view, std::optional<TPaletteColor> transparent)
{
    const int64_t pixelCount = int64_t(view.Width) * view.Height;
    if (pixelCount == 0)
        return;
    TColorTable table(pixelCount);
    // No packed colour has the top byte set, so without a transparent colour
    // nothing matches.
    const uint32_t transparentKey
        = transparent ? Pack(transparent->Red, transparent->Green, transparent->Blue) : kEmptyKey;
    int64_t transparentCount = 0;
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* pixel = view.Pixels + y * view.Stride;
        // Pictures come in runs of one colour; counting a run needs no probe.
        uint32_t runColor = kEmptyKey;
        uint32_t runLength = 0;
        for (int x = 0; x < view.Width; ++x, pixel += 3) {
            const uint32_t packed = Pack(pixel[2], pixel[1], pixel[0]);
            if (packed == runColor) {
                ++runLength;
                continue;
            }
            if (runLength > 0) {
                if (runColor == transparentKey)
                    transparentCount += runLength;
                else
                    table.Add(table.Find(runColor), runColor, runLength);
            }
            runColor = packed;
            runLength = 1;
        }
        if (runColor == transparentKey)
            transparentCount += runLength;
        else
            table.Add(table.Find(runColor), runColor, runLength);
    }
    m_transparentCount = transparentCount;
    m_exact = table.Exact();

    for (const TSlot& slot : table.Slots()) {
        if (slot.Key == kEmptyKey)
            continue;
        TColorPoint point;
        point.Count = slot.Count;
        if (m_exact) {
            point.Red = uint8_t(slot.Key >> 16);
            point.Green = uint8_t(slot.Key >> 8);
            point.Blue = uint8_t(slot.Key);
            point.SumRed = uint64_t(point.Red) * slot.Count;
            point.SumGreen = uint64_t(point.Green) * slot.Count;
            point.SumBlue = uint64_t(point.Blue) * slot.Count;
        } else {
            point.SumRed = uint64_t((slot.Key >> 12) << 2) * slot.Count + slot.LowRed;
            point.SumGreen = uint64_t(((slot.Key >> 6) & 0x3F) << 2) * slot.Count + slot.LowGreen;
            point.SumBlue = uint64_t((slot.Key & 0x3F) << 2) * slot.Count + slot.LowBlue;
            const uint64_t half = slot.Count / 2;
            point.Red = uint8_t((point.SumRed + half) / slot.Count);
            point.Green = uint8_t((point.SumGreen + half) / slot.Count);
            point.Blue = uint8_t((point.SumBlue + half) / slot.Count);
        }
        m_points.push_back(point);
    }
}

} // namespace sw::palette
