#include "core/imaging/vector/vector_image.h"

#include "core/base/errors.h"
#include "core/imaging/picture.h"
#include "core/imaging/vector/pdf_reader.h"
#include "core/imaging/vector/svg_reader.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace sw {

namespace {

// The libraries read from memory; the picture loader hands a stream.
std::vector<uint8_t> RestOf(TStream& stream)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.Remaining()));
    stream.ReadBuffer(bytes.data(), bytes.size());
    return bytes;
}

} // namespace

void TSvgImage::LoadFromStream(TStream& stream)
{
    ReadSvgBitmap(RestOf(stream), m_render, *this);
}

void TSvgImage::SaveToStream(TStream&)
{
    throw EInvalidGraphicOperation("SVG pictures cannot be saved");
}

void TPdfImage::LoadFromStream(TStream& stream)
{
    ReadPdfBitmap(RestOf(stream), m_render, *this);
}

void TPdfImage::SaveToStream(TStream&)
{
    throw EInvalidGraphicOperation("PDF pictures cannot be saved");
}

void RegisterVectorImageFormats()
{
    static bool registered = false;
    if (registered)
        return;
    TPicture::RegisterFileFormat(
        "svg", "Scalable Vector Graphics", [] { return std::make_unique<TSvgImage>(); });
    TPicture::RegisterFileFormat(
        "pdf", "Portable Document Format", [] { return std::make_unique<TPdfImage>(); });
    registered = true;
}

} // namespace sw
