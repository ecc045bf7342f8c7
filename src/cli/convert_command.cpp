#include "cli/convert_command.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/picture.h"

#include <memory>

namespace sw::cli {

namespace {

enum class OutputKind { Bmp, Gif, Jpeg };

OutputKind OutputKindOf(const std::string& output)
{
    const std::string extension = LowerCaseAscii(ExtractFileExt(output));
    if (extension == ".bmp")
        return OutputKind::Bmp;
    if (extension == ".gif")
        return OutputKind::Gif;
    if (extension == ".jpg" || extension == ".jpeg")
        return OutputKind::Jpeg;
    throw Exception(
        Format("Unsupported output extension (%s)", extension.empty() ? "none" : extension.c_str()));
}

std::unique_ptr<TGraphic> OutputGraphic(OutputKind kind, const TBitmap& bitmap)
{
    switch (kind) {
    case OutputKind::Bmp:
        return std::make_unique<TBitmap>(bitmap);
    case OutputKind::Gif: {
        auto gif = std::make_unique<TGIFImage>();
        gif->Assign(bitmap);
        // The frame takes its transparency entry from the bitmap's fixed colour.
        if (bitmap.Transparent())
            gif->SetTransparent(true);
        return gif;
    }
    case OutputKind::Jpeg: {
        auto jpeg = std::make_unique<TJPEGImage>();
        jpeg->Assign(bitmap);
        return jpeg;
    }
    }
    throw Exception("Unsupported output kind");
}

void WriteOutput(TGraphic& graphic, const std::string& output)
{
    TMemoryStream encoded;
    graphic.SaveToStream(encoded);
    try {
        encoded.SaveToFile(output);
    } catch (const EWriteError&) {
        DeleteFile(output);
        throw;
    }
}

} // namespace

void RunConvert(const std::string& input, const std::string& output, std::optional<TColor> transparent)
{
    const OutputKind kind = OutputKindOf(output);

    TPicture picture;
    picture.LoadFromFile(input);
    TBitmap bitmap;
    bitmap.Assign(*picture.Graphic());
    if (transparent) {
        bitmap.SetTransparent(true);
        bitmap.SetTransparentColor(*transparent);
    }

    const std::unique_ptr<TGraphic> graphic = OutputGraphic(kind, bitmap);
    WriteOutput(*graphic, output);
}

} // namespace sw::cli
