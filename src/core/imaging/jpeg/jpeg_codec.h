#pragma once

// The bridge to libjpeg, private to the JPEG module. The library's own
// header stays inside jpeg_codec.cpp.

#include "base/stream.h"

#include <cstdint>

namespace sw {

class TJPEGImage;

struct JpegHeaderInfo {
    uint32_t Width = 0;
    uint32_t Height = 0;
    bool Grayscale = false;
    bool MultiScan = false;
};

// Reads the header of the JPEG file held in data (from position 0). EJPEG
// with the library's code when it is none, or when it asks for more pixels
// than kMaxBitmapPixels.
JpegHeaderInfo ReadJpegHeader(TMemoryStream& data);

// The most scans a file may have; each one costs a pass over the image.
constexpr int kMaxJpegScans = 1000;

} // namespace sw
