#include "core/picture_formats.h"

#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/ora/ora_image.h"
#include "core/imaging/png/png_image.h"
#include "core/imaging/psd/psd_image.h"

#include <mutex>

namespace sw {

void RegisterPictureFormats()
{
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterJpegImageFormats();
        RegisterGifImageFormat();
        RegisterPngImageFormat();
        RegisterPsdImageFormat();
        RegisterOraImageFormat();
    });
}

} // namespace sw
