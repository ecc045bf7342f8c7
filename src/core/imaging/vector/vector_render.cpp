#include "core/imaging/vector/vector_render.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"

#include <cmath>
#include <cstdint>

namespace sw {

TRenderSize RenderSize(double width, double height, int scale, const std::string& kind)
{
    if (!std::isfinite(width) || !std::isfinite(height) || width <= 0 || height <= 0)
        throw EInvalidGraphic(kind + " is not valid (no size)");
    if (scale < 1)
        scale = 1;
    // In doubles first: a stated size can be far beyond any integer.
    const double scaledWidth = std::ceil(width * scale - 1e-6);
    const double scaledHeight = std::ceil(height * scale - 1e-6);
    constexpr double kLargest = double(kMaxPicturePixels);
    const int64_t w = int64_t(std::max(1.0, std::min(scaledWidth, kLargest + 1)));
    const int64_t h = int64_t(std::max(1.0, std::min(scaledHeight, kLargest + 1)));
    if (ExceedsPixelLimit(w, h))
        throw EInvalidGraphic(PictureTooLargeMessage(w, h));
    return { static_cast<int>(w), static_cast<int>(h) };
}

} // namespace sw
