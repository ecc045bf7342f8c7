#pragma once

// WebP files out, for cells, through libwebp with the settings its own
// command-line encoder uses by default (method 4, no preset), so a cell
// and the same pixels given to that encoder come out alike.

#include "core/base/colors.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sw {

struct TWebpOptions {
    // Lossless keeps every visible pixel exact; lossy trades detail for size.
    bool Lossless = false;
    // Lossy quality, 1 (smallest) to 100 (best); values outside are clamped.
    // Lossless files ignore it and use the library's default effort.
    int Quality = 90;
    // Pixels of this colour (0x00BBGGRR, alpha ignored) are written fully
    // transparent.
    std::optional<TColor> TransparentColor;
};

// EInvalidGraphicOperation "Cannot write a WebP image of W x H pixels (at
// most 16383 x 16383)" for a size the format cannot hold.
void CheckWebpWritable(int64_t width, int64_t height);

// The pixels as a WebP file, with an alpha channel only when some pixel is
// not fully opaque. EInvalidGraphicOperation for an empty view or one over
// 16383 pixels wide or high (the format's limit); EOutOfResources when the
// library runs out of memory.
std::vector<uint8_t> WriteWebp(const TPixelView& pixels, const TWebpOptions& options = {});

} // namespace sw
