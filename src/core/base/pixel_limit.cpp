#include "core/base/pixel_limit.h"

#include "core/base/errors.h"

namespace sw {

std::string PictureTooLargeMessage(int64_t width, int64_t height)
{
    return Format("Picture too large (%lld x %lld pixels; the limit is %lld pixels)",
        static_cast<long long>(width), static_cast<long long>(height),
        static_cast<long long>(kMaxPicturePixels));
}

} // namespace sw
