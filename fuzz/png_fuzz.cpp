// PNG reading paths (whole and row by row): any bytes give a picture or a
// clean exception. Small pictures that read are written back (as a bitmap
// and with their alpha) and must read again to the same pixels.
#include "core/base/errors.h"
#include "core/imaging/png/png_reader.h"
#include "core/imaging/png/png_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

// Writing back costs far more than reading; only small pictures take it.
constexpr int64_t kFuzzWriteBackPixels = int64_t(1) << 14;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Every input goes to the reader: its own pixel limit and its check of
    // the bytes against the size they claim are what is fuzzed.
    const std::span<const uint8_t> bytes(data, size);
    try {
        sw::TBitmap byRows;
        sw::ReadPngBitmap(bytes, byRows);
    } catch (const sw::EInvalidGraphic&) { }
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
