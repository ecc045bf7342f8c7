#pragma once

// PNG pictures in: every colour type and bit depth, interlaced or not,
// decoded through libspng into 8-bit straight RGBA. Colour-space chunks
// (gAMA, iCCP, sRGB) are not applied: the stored values are the picture.

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"

#include <cstdint>
#include <span>
#include <vector>

namespace sw {

struct TPngPicture {
    int Width = 0;
    int Height = 0;
    // Some pixel is not fully opaque.
    bool HasAlpha = false;
    // Width x Height pixels of red, green, blue, alpha; rows top-down with
    // no padding. 16-bit samples keep their high byte.
    std::vector<uint8_t> Rgba;
};

// True when bytes start with the 8-byte PNG signature.
bool IsPngSignature(std::span<const uint8_t> bytes);

// Decodes a whole PNG file. EInvalidGraphic with PictureTooLargeMessage for
// a picture over kMaxPicturePixels, and "PNG image is not valid (reason)"
// for a damaged or truncated file; nothing is allocated for the pixels
// before the size has been checked against the bytes that could fill it.
TPngPicture ReadPng(std::span<const uint8_t> bytes);

// The picture as a 24-bit bitmap, translucent pixels blended onto white.
void PngToBitmap(const TPngPicture& picture, TBitmap& bitmap);

// The same as PngToBitmap(ReadPng(bytes)), decoded row by row into the
// bitmap without the RGBA picture beside it. On failure the bitmap is left
// as it was.
void ReadPngBitmap(std::span<const uint8_t> bytes, TBitmap& bitmap);

// Reads the rest of the stream as a PNG file into a 24-bit bitmap (alpha
// blended onto white): the reading function of the picture loader. On
// failure the bitmap is left as it was.
void LoadPngBitmap(TStream& stream, TBitmap& bitmap);

} // namespace sw
