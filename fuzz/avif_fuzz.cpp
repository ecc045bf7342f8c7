// AVIF reading path, as auto and the run's report read back the cells they
// write: any bytes give pixels or a clean exception. Small pictures that
// read are written back losslessly and must read again to the same pixels.
#include "core/base/errors.h"
#include "core/imaging/avif/avif_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int64_t kFuzzWriteBackPixels = int64_t(1) << 12;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sw::TAvifPixels pixels;
    try {
        pixels = sw::ReadAvif(std::vector<uint8_t>(data, data + size));
    } catch (const sw::EInvalidGraphic&) {
        return 0;
    }
    if (pixels.Rgba.size() != size_t(pixels.Width) * size_t(pixels.Height) * 4)
        std::abort();
    if (int64_t(pixels.Width) * pixels.Height > kFuzzWriteBackPixels)
        return 0;
    const sw::TPixelView view { pixels.Rgba.data(), pixels.Width, pixels.Height, ptrdiff_t(pixels.Width) * 4,
        sw::TPixelLayout::Rgba32 };
    sw::TAvifOptions options;
    options.Lossless = true;
    options.Speed = sw::kMaxAvifSpeed;
    if (sw::ReadAvif(sw::WriteAvif(view, options)).Rgba != pixels.Rgba)
        std::abort();
    return 0;
}
