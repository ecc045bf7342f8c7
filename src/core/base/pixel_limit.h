#pragma once

// The one bound on the size of a picture any reader accepts. A header that
// claims more is refused before anything is allocated for it, so hostile
// files cannot make a reader allocate far beyond the bytes they hold.

#include <cstdint>
#include <string>

namespace sw {

// A picture's size as a file states it, before anything is decoded.
struct TPictureSize {
    int64_t Width = 0;
    int64_t Height = 0;
};

// 2^26 pixels: 8192 x 8192, about 256 MB as 32-bit pixels.
constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;

// True when a width x height picture (both positive) is over the limit;
// the test cannot overflow.
inline bool ExceedsPixelLimit(int64_t width, int64_t height)
{
    return width > 0 && height > kMaxPicturePixels / width;
}

// "Picture too large (W x H pixels; the limit is 67108864 pixels)" — the one
// wording every reader uses when it refuses a size.
std::string PictureTooLargeMessage(int64_t width, int64_t height);

} // namespace sw
