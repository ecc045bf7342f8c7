// BMP reader: any bytes give a bitmap or a clean exception.
#include "base/errors.h"
#include "base/stream.h"
#include "imaging/bitmap.h"

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
    // Reading pixels and writing the file back touch every layout path.
    bitmap.Canvas().Pixel(0, 0);
    bitmap.Canvas().Pixel(bitmap.Width() - 1, bitmap.Height() - 1);
    if (int64_t(bitmap.Width()) * bitmap.Height() <= (int64_t(1) << 20)) {
        sw::TMemoryStream out;
        bitmap.SaveToStream(out);
        bitmap.SetPixelFormat(sw::TPixelFormat::pf8bit);
    }
    return 0;
}
