// BMP reader: any bytes give a bitmap or a clean exception.
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The reader allows pictures up to kMaxBitmapPixels (tested apart); one of
// them costs a gigabyte and a second, so runs stay below a smaller size read
// from the header here.
constexpr int64_t kFuzzMaxPixels = int64_t(1) << 22;

uint32_t Le(const uint8_t* p, int bytes)
{
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

bool TooLarge(const uint8_t* data, size_t size)
{
    if (size < 26)
        return false;
    const bool core = Le(data + 14, 4) == 12;
    const int64_t width = core ? int64_t(Le(data + 18, 2)) : int64_t(static_cast<int32_t>(Le(data + 18, 4)));
    const int64_t height = core ? int64_t(Le(data + 20, 2)) : int64_t(static_cast<int32_t>(Le(data + 22, 4)));
    return std::abs(width) * std::abs(height) > kFuzzMaxPixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (TooLarge(data, size))
        return 0;
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
