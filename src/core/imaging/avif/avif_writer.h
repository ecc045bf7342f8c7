#pragma once

// AVIF files out, for cells, through libavif and its AV1 encoder, and back in
// for the cells' own checks (auto's floor, the PSNR of a run's report).

#include "core/base/colors.h"
#include "core/imaging/pixel_view.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sw {

// Encoder speeds run from 0 (slowest, smallest) to 10 (fastest).
constexpr int kMinAvifSpeed = 0;
constexpr int kMaxAvifSpeed = 10;
// The knee of the size/time curve on designers' cells: each step faster
// than 7 saves little time for larger files, each step slower costs several
// times the time for about 1 % of bytes.
constexpr int kDefaultAvifSpeed = 7;

struct TAvifOptions {
    // Lossless stores red, green and blue through the identity matrix at
    // full resolution, so a decoder gives back every pixel exactly.
    bool Lossless = false;
    // Lossy quality, 0 (smallest) to 100 (best); values outside are clamped.
    int Quality = 90;
    // Lossy files halve the colour planes' resolution (4:2:0) unless this
    // is set (4:4:4).
    bool FullChroma = false;
    int Speed = kDefaultAvifSpeed;
    // The encoder's worker threads; below 2 it runs on the caller's thread.
    int Threads = 1;
    // Pixels of this colour (0x00BBGGRR, alpha ignored) are written fully
    // transparent.
    std::optional<TColor> TransparentColor;
};

// The AV1 quantizer (0 best, 63 worst) a quality stands for.
int AvifQuantizer(int quality);

// The pixels as an AVIF file, with an alpha plane (always lossless) only
// when some pixel is not fully opaque. EInvalidGraphicOperation for an
// empty view or a failed encode; EOutOfResources when memory runs out.
std::vector<uint8_t> WriteAvif(const TPixelView& pixels, const TAvifOptions& options = {});

struct TAvifPixels {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba; // straight alpha, rows top down, no padding
};

// An AVIF file's first image as 8-bit RGBA. EInvalidGraphic when the bytes
// are not one or the image is larger than the shared pixel limit.
TAvifPixels ReadAvif(const std::vector<uint8_t>& bytes);

} // namespace sw
