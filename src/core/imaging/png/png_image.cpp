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
        "png", "Portable Network Graphics", [] { return std::make_unique<TPngImage>(); },
        [](std::span<const uint8_t> file) -> std::optional<TPictureSize> {
            // Width and height open the IHDR chunk, at bytes 16 to 23.
            if (file.size() < 24 || !IsPngSignature(file))
                return std::nullopt;
            const auto u32 = [&](size_t at) {
                return int64_t(file[at]) << 24 | int64_t(file[at + 1]) << 16 | int64_t(file[at + 2]) << 8
                    | file[at + 3];
            };
            return TPictureSize { u32(16), u32(20) };
        });
    registered = true;
}

} // namespace sw
