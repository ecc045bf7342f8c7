#pragma once

// The bridge to libjpeg, private to the JPEG module. The library's own
// header stays inside jpeg_codec.cpp.

#include "core/base/stream.h"

#include <cstdint>
#include <string>

namespace sw {

class TJPEGImage;

struct JpegHeaderInfo {
    uint32_t Width = 0;
    uint32_t Height = 0;
    bool Grayscale = false;
    bool MultiScan = false;
};

// Reads the header of the JPEG file held in data (from position 0). EJPEG
// with the library's code when it is none, or with JpegTooLargeMessage when
// it asks for more pixels than kMaxBitmapPixels (2^28: about 800 MB of
// 24-bit rows).
JpegHeaderInfo ReadJpegHeader(TMemoryStream& data);

// "JPEG image of W x H pixels is larger than the N pixels allowed".
std::string JpegTooLargeMessage(uint32_t width, uint32_t height);

// The most scans a file may have; each one costs a pass over the image.
constexpr int kMaxJpegScans = 1000;

} // namespace sw
