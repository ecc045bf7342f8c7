#include "core/imaging/psd/psd_image.h"

#include "core/base/errors.h"
#include "core/imaging/picture.h"
#include "core/imaging/psd/psd_reader.h"

#include <memory>

namespace sw {

void TPsdImage::LoadFromStream(TStream& stream)
{
    LoadPsdBitmap(stream, *this);
}

void TPsdImage::SaveToStream(TStream&)
{
    throw EInvalidGraphicOperation("PSD pictures cannot be saved");
}

void RegisterPsdImageFormat()
{
    static bool registered = false;
    if (registered)
        return;
    TPicture::RegisterFileFormat("psd", "Photoshop Document", [] { return std::make_unique<TPsdImage>(); });
    // Known so that a large document is refused with its reason, not as an
    // unknown extension.
    TPicture::RegisterFileFormat(
        "psb", "Photoshop Large Document", [] { return std::make_unique<TPsdImage>(); });
    registered = true;
}

} // namespace sw
