#pragma once

// How different a decoded cell looks from the cell it was made from, as
// libjxl's butteraugli measures it: 0 for the same picture, growing with
// the difference a viewer sees. libjxl documents a distance of 1.0 as
// visually lossless, and its own encoder's default aims there.

#include "core/base/colors.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sw {

constexpr double kVisuallyLosslessDistance = 1.0;

// The largest butteraugli distance over the cell. expected's pixels of
// transparentColor count as transparent; decodedRgba holds expected.Width x
// expected.Height straight-alpha pixels. Where some pixel is not opaque
// both are laid over black and over white and the worse distance counts.
// Infinity when decodedRgba has another size. EOutOfResources when the
// library cannot compute it.
double PerceptualDistance(const TPixelView& expected, std::optional<TColor> transparentColor,
    const std::vector<uint8_t>& decodedRgba);

} // namespace sw
