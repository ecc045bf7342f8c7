#include "generate/picture_formats.h"

#include "imaging/gif/gif_image.h"
#include "imaging/jpeg/jpeg_image.h"

#include <mutex>

namespace sw {

void RegisterPictureFormats()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterJpegImageFormats();
        RegisterGifImageFormat();
    });
}

} // namespace sw
