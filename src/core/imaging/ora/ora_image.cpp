#include "core/imaging/ora/ora_image.h"

#include "core/base/errors.h"
#include "core/imaging/ora/ora_reader.h"
#include "core/imaging/picture.h"

#include <memory>

namespace sw {

void TOraImage::LoadFromStream(TStream& stream)
{
    LoadOraBitmap(stream, *this);
}

void TOraImage::SaveToStream(TStream&)
{
    throw EInvalidGraphicOperation("OpenRaster pictures cannot be saved");
}

void RegisterOraImageFormat()
{
    static bool registered = false;
    if (registered)
        return;
    TPicture::RegisterFileFormat("ora", "OpenRaster", [] { return std::make_unique<TOraImage>(); });
    registered = true;
}

} // namespace sw
