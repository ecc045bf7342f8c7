#pragma once

// The colours of a picture with their pixel counts, the input of the palette
// maker. Colours are kept exact while there are few enough of them to refine
// a palette over; past that they are gathered into boxes of 4 x 4 x 4 colours
// that keep the exact sum of their pixels, so a box's mean is still exact.

#include "core/imaging/palette/palette_color.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sw::palette {

struct TColorPoint {
    // The mean colour rounded; for an exact histogram the colour itself.
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    uint32_t Count = 0;
    // Sums of the channel values of the pixels counted here.
    uint64_t SumRed = 0;
    uint64_t SumGreen = 0;
    uint64_t SumBlue = 0;
};

// EInvalidGraphicOperation for a view whose sizes or rows do not add up, and
// the readers' size message for one beyond their pixel limit.
void CheckPixelView(const TPixelView& view);

// More distinct colours than this and the histogram turns to boxes.
constexpr int kExactHistogramLimit = 1 << 16;

class TColorHistogram {
public:
    // Counts the view's pixels, leaving out those of the transparent colour.
    // The view must be valid and within the pixel limit.
    TColorHistogram(const TPixelView& view, std::optional<TPaletteColor> transparent);

    bool Exact() const { return m_exact; }
    int64_t TransparentCount() const { return m_transparentCount; }
    const std::vector<TColorPoint>& Points() const { return m_points; }

private:
    bool m_exact = true;
    int64_t m_transparentCount = 0;
    std::vector<TColorPoint> m_points;
};

} // namespace sw::palette
