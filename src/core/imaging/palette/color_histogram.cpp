#include "core/imaging/palette/color_histogram.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"

#include <algorithm>
#include <cstdlib>

namespace sw::palette {
namespace {

constexpr uint32_t kEmptyKey = 0xFFFFFFFF;
// Boxes keep 6 bits per channel: 2^18 of them.
constexpr int kBoxBits = 6;
constexpr size_t kBoxCount = size_t(1) << (3 * kBoxBits);

constexpr uint32_t Pack(uint32_t red, uint32_t green, uint32_t blue)
{
    return (red << 16) | (green << 8) | blue;
}

constexpr uint32_t BoxKey(uint32_t packed)
{
    return ((packed >> 18) << 12) | (((packed >> 10) & 0x3F) << 6) | ((packed >> 2) & 0x3F);
}

// Counts colours exactly in a hash table (open addressing, linear probing)
// sized for twice the colours it may hold, until there are too many; then in
// an array of every box, indexed by the box's bits, so that the similar
// colours of neighbouring pixels land near each other in memory. The array
// is made only for pictures of more pixels than it has boxes.
class TColorTable {
public:
    explicit TColorTable(int64_t pixelCount)
    {
        const int64_t most = std::min<int64_t>(pixelCount, kExactHistogramLimit + 1);
        m_bits = 4;
        while ((int64_t(1) << m_bits) < 2 * most)
            ++m_bits;
        m_colors.resize(size_t(1) << m_bits);
    }

    bool Exact() const { return m_boxes.empty(); }

    void Add(uint32_t packed, uint32_t count)
    {
        if (Exact()) {
            TColorSlot& slot = Probe(packed);
            if (slot.Key == kEmptyKey) {
                if (m_used == kExactHistogramLimit) {
                    ToBoxes();
                    Add(packed, count);
                    return;
                }
                slot.Key = packed;
                ++m_used;
            }
            slot.Count += count;
            return;
        }
        // Sums of the channel bits below the box (2 bits each) keep the box's
        // mean exact. Under the pixel limit of 2^26 they fit 32 bits.
        TBox& box = m_boxes[BoxKey(packed)];
        box.Count += count;
        box.LowRed += ((packed >> 16) & 3) * count;
        box.LowGreen += ((packed >> 8) & 3) * count;
        box.LowBlue += (packed & 3) * count;
    }

    std::vector<TColorPoint> Points() const
    {
        std::vector<TColorPoint> points;
        if (Exact()) {
            for (const TColorSlot& slot : m_colors) {
                if (slot.Key == kEmptyKey)
                    continue;
                TColorPoint point;
                point.Count = slot.Count;
                point.Red = uint8_t(slot.Key >> 16);
                point.Green = uint8_t(slot.Key >> 8);
                point.Blue = uint8_t(slot.Key);
                point.SumRed = uint64_t(point.Red) * slot.Count;
                point.SumGreen = uint64_t(point.Green) * slot.Count;
                point.SumBlue = uint64_t(point.Blue) * slot.Count;
                points.push_back(point);
            }
            return points;
        }
        for (uint32_t key = 0; key < kBoxCount; ++key) {
            const TBox& box = m_boxes[key];
            if (box.Count == 0)
                continue;
            TColorPoint point;
            point.Count = box.Count;
            point.SumRed = uint64_t((key >> 12) << 2) * box.Count + box.LowRed;
            point.SumGreen = uint64_t(((key >> 6) & 0x3F) << 2) * box.Count + box.LowGreen;
            point.SumBlue = uint64_t((key & 0x3F) << 2) * box.Count + box.LowBlue;
            const uint64_t half = box.Count / 2;
            point.Red = uint8_t((point.SumRed + half) / box.Count);
            point.Green = uint8_t((point.SumGreen + half) / box.Count);
            point.Blue = uint8_t((point.SumBlue + half) / box.Count);
            points.push_back(point);
        }
        return points;
    }

private:
    struct TColorSlot {
        uint32_t Key = kEmptyKey;
        uint32_t Count = 0;
    };
    struct TBox {
        uint32_t Count = 0;
        uint32_t LowRed = 0;
        uint32_t LowGreen = 0;
        uint32_t LowBlue = 0;
    };

    TColorSlot& Probe(uint32_t key)
    {
        const size_t mask = m_colors.size() - 1;
        size_t at = (key * 2654435761u) >> (32 - m_bits);
        while (m_colors[at].Key != key && m_colors[at].Key != kEmptyKey)
            at = (at + 1) & mask;
        return m_colors[at];
    }

    void ToBoxes()
    {
        m_boxes.resize(kBoxCount);
        const std::vector<TColorSlot> colors = std::move(m_colors);
        m_colors.clear();
        for (const TColorSlot& slot : colors)
            if (slot.Key != kEmptyKey)
                Add(slot.Key, slot.Count);
    }

    std::vector<TColorSlot> m_colors;
    std::vector<TBox> m_boxes;
    int m_bits = 0;
    int64_t m_used = 0;
};

} // namespace

void CheckPixelView(const TPixelView& view)
{
    if (view.Width < 0 || view.Height < 0)
        throw EInvalidGraphicOperation(
            Format("Invalid picture size (%d x %d pixels)", view.Width, view.Height));
    if (ExceedsPixelLimit(view.Width, view.Height))
        throw EInvalidGraphicOperation(PictureTooLargeMessage(view.Width, view.Height));
    if (view.Width == 0 || view.Height == 0)
        return;
    if (view.Data == nullptr || view.Layout != TPixelLayout::Bgr24
        || std::abs(view.Stride) < ptrdiff_t(view.Width) * 3)
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
        const uint8_t* pixel = view.Data + y * view.Stride;
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
                    table.Add(runColor, runLength);
            }
            runColor = packed;
            runLength = 1;
        }
        if (runColor == transparentKey)
            transparentCount += runLength;
        else
            table.Add(runColor, runLength);
    }
    m_transparentCount = transparentCount;
    m_exact = table.Exact();
    m_points = table.Points();
}

} // namespace sw::palette
