// JPEG loading path: any bytes give a picture or a clean exception, the way
// the picture loader and the main window use it (load, then assign to a
// bitmap). Sizes are bounded by the reader itself, not filtered here.
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/jpeg/jpeg_image.h"

#include <cstddef>
#include <cstdint>

namespace {

// otherPaths also takes the slower ways: palette output, the scan-by-scan
// display and the encoder.
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
        return true;
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
