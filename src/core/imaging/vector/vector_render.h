#pragma once

// What the SVG and PDF readers share: the size a design is drawn at, checked
// against the pixel limit before anything is allocated for it.

#include "core/imaging/graphic.h"

#include <string>

namespace sw {

struct TRenderSize {
    int Width = 0;
    int Height = 0;
};

// The design's nominal size (in pixels, any fraction rounded up) times
// scale. Throws EInvalidGraphic: "KIND is not valid (no size)" for a size
// that is not positive and finite, the pixel limit's message for one over
// it.
TRenderSize RenderSize(double width, double height, int scale, const std::string& kind);

} // namespace sw
