// PNG reading path: any bytes give a picture or a clean exception. Small
// pictures that read are written back (as a bitmap and with their alpha)
// and must read again to the same pixels.
#include "core/base/errors.h"
#include "core/imaging/png/png_reader.h"
#include "core/imaging/png/png_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

// Pictures above this size are rejected before decoding, for speed only:
// the reader's own limit is tested apart.
constexpr int kFuzzMaxSide = 2048;
constexpr int64_t kFuzzWriteBackPixels = int64_t(1) << 14;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    // Width and height sit at bytes 16..23 of every PNG that gets this far.
    if (size >= 24 && sw::IsPngSignature(bytes)) {
        const uint32_t width
            = uint32_t(data[16]) << 24 | uint32_t(data[17]) << 16 | uint32_t(data[18]) << 8 | data[19];
        const uint32_t height
            = uint32_t(data[20]) << 24 | uint32_t(data[21]) << 16 | uint32_t(data[22]) << 8 | data[23];
        if (width > kFuzzMaxSide || height > kFuzzMaxSide)
            return 0;
    }
    sw::TPngPicture picture;
    try {
        picture = sw::ReadPng(bytes);
    } catch (const sw::EInvalidGraphic&) {
        return 0;
    }
    sw::TBitmap bitmap;
    sw::PngToBitmap(picture, bitmap);
    if (int64_t(picture.Width) * picture.Height > kFuzzWriteBackPixels)
        return 0;
    const sw::TPixelView view { picture.Rgba.data(), picture.Width, picture.Height,
        ptrdiff_t(picture.Width) * 4, sw::TPixelLayout::Rgba32 };
    if (sw::ReadPng(sw::WritePng(view)).Rgba != picture.Rgba)
        std::abort();
    return 0;
}
