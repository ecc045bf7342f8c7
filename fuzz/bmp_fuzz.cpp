// BMP reader: any bytes give a bitmap or a clean exception. Every input goes
// to the reader; its own pixel limit and data checks are what is fuzzed.
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sw::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
    sw::TBitmap bitmap;
    try {
        bitmap.LoadFromStream(stream);
    } catch (const sw::Exception&) {
        return 0;
    }
    if (bitmap.Empty())
        return 0;
    // Reading pixels and writing the file back touch every layout path. A
    // run-length file of a few bytes may rightly stand for a picture at the
    // pixel limit; converting all of that per pixel would only slow the run.
    bitmap.Canvas().Pixel(0, 0);
    bitmap.Canvas().Pixel(bitmap.Width() - 1, bitmap.Height() - 1);
    if (int64_t(bitmap.Width()) * bitmap.Height() <= (int64_t(1) << 20)) {
        sw::TMemoryStream out;
        bitmap.SaveToStream(out);
        bitmap.SetPixelFormat(sw::TPixelFormat::pf8bit);
    }
    return 0;
}
