// JPEG loading path: any bytes give a picture or a clean exception, the way
// the picture loader and the main window use it (load, then assign to a
// bitmap).
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/jpeg/jpeg_image.h"

#include <cstddef>
#include <cstdint>

namespace {

// The library itself refuses more than kMaxBitmapPixels (tested apart);
// decoding that many takes seconds and most of the fuzzer's memory, so
// runs stop below it.
constexpr int64_t kFuzzMaxPixels = int64_t(1) << 22;
// Small pictures also go through the slower paths: palette output, the
// scan-by-scan display and the encoder.
constexpr int64_t kFuzzSmallPixels = int64_t(1) << 16;

bool Decode(const uint8_t* data, size_t size, bool otherPaths)
{
    sw::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
    sw::TJPEGImage image;
    if (otherPaths) {
        image.SetDecodeDepth(sw::TJPEGPixelFormat::Depth8);
        image.SetShowProgressive(true);
        image.SetDecodeSpeed(sw::TJPEGPerformance::Fast);
        image.SetDecodeScale(1);
    }
    try {
        image.LoadFromStream(stream);
        const int64_t pixels = int64_t(image.Width()) * image.Height();
        if (pixels > (otherPaths ? kFuzzSmallPixels : kFuzzMaxPixels))
            return false;
        sw::TBitmap bitmap;
        bitmap.Assign(image);
        if (bitmap.Empty())
            return false;
        bitmap.Canvas().Pixel(bitmap.Width() - 1, bitmap.Height() - 1);
        if (otherPaths) {
            sw::TJPEGImage encoder;
            encoder.Assign(bitmap);
            sw::TMemoryStream out;
            encoder.SaveToStream(out);
        }
        return pixels <= kFuzzSmallPixels;
    } catch (const sw::Exception&) {
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (Decode(data, size, false))
        Decode(data, size, true);
    return 0;
}
