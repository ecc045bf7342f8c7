#include "core/imaging/png/png_image.h"

#include "core/imaging/picture.h"
#include "core/imaging/png/png_reader.h"
#include "core/imaging/png/png_writer.h"

#include <memory>

namespace sw {

void TPngImage::LoadFromStream(TStream& stream)
{
    LoadPngBitmap(stream, *this);
}

void TPngImage::SaveToStream(TStream& stream)
{
    TBitmap copy;
    copy.Assign(*this);
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    const std::vector<uint8_t> bytes = WritePng(copy.View24());
    stream.WriteBuffer(bytes.data(), bytes.size());
}

void RegisterPngImageFormat()
{
    static bool registered = false;
    if (registered)
        return;
    TPicture::RegisterFileFormat(
        "png", "Portable Network Graphics", [] { return std::make_unique<TPngImage>(); });
    registered = true;
}

} // namespace sw
