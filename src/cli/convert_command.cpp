#include "cli/convert_command.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/generate/run_settings.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_codec.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/picture.h"
#include "core/imaging/png/png_writer.h"
#include "core/imaging/webp/webp_writer.h"

#include <memory>
#include <utility>

namespace sw::cli {

namespace {

enum class OutputKind { Bmp, Gif, Jpeg, Png, Webp };

OutputKind OutputKindOf(const std::string& output)
{
    const std::string extension = LowerCaseAscii(ExtractFileExt(output));
    if (extension == ".bmp")
        return OutputKind::Bmp;
    if (extension == ".gif")
        return OutputKind::Gif;
    if (extension == ".jpg" || extension == ".jpeg")
        return OutputKind::Jpeg;
    if (extension == ".png")
        return OutputKind::Png;
    if (extension == ".webp")
        return OutputKind::Webp;
    throw Exception(
        Format("Unsupported output extension (%s)", extension.empty() ? "none" : extension.c_str()));
}

TImageType CellTypeOf(OutputKind kind)
{
    switch (kind) {
    case OutputKind::Gif:
        return TImageType::Gif;
    case OutputKind::Jpeg:
        return TImageType::Jpg;
    case OutputKind::Webp:
        return TImageType::Webp;
    case OutputKind::Bmp:
    case OutputKind::Png:
        break;
    }
    return TImageType::Png;
}

// Writes the file straight into the stream, which puts it under its name
// only when closed: a picture at the pixel limit is never held twice.
void Encode(OutputKind kind, const TBitmap& bitmap, TStream& file)
{
    std::unique_ptr<TGraphic> graphic;
    switch (kind) {
    case OutputKind::Bmp:
        graphic = std::make_unique<TBitmap>(bitmap);
        break;
    case OutputKind::Gif: {
        auto gif = std::make_unique<TGIFImage>();
        gif->Assign(bitmap);
        // The frame takes its transparency entry from the bitmap's fixed colour.
        if (bitmap.Transparent())
            gif->SetTransparent(true);
        graphic = std::move(gif);
        break;
    }
    case OutputKind::Jpeg: {
        auto jpeg = std::make_unique<TJPEGImage>();
        jpeg->Assign(bitmap);
        graphic = std::move(jpeg);
        break;
    }
    case OutputKind::Png:
    case OutputKind::Webp: {
        TBitmap flat(bitmap);
        // A device store's rows are read as they are; converting would copy them.
        if (flat.PixelFormat() != TPixelFormat::pf24bit && !flat.IsDevice())
            flat.SetPixelFormat(TPixelFormat::pf24bit);
        std::optional<TColor> key;
        if (bitmap.Transparent())
            key = ColorToRGB(bitmap.TransparentColor()) & 0xFFFFFF;
        TWebpOptions options;
        options.TransparentColor = key;
        const std::vector<uint8_t> bytes
            = kind == OutputKind::Png ? WritePng(flat.View24(), { key }) : WriteWebp(flat.View24(), options);
        file.WriteBuffer(bytes.data(), bytes.size());
        return;
    }
    }
    graphic->SaveToStream(file);
}

} // namespace

void CheckCellWritable(TImageType type, int64_t width, int64_t height)
{
    switch (type) {
    case TImageType::Gif:
    case TImageType::GifAdaptive:
        CheckGifWritable(width, height);
        break;
    case TImageType::Jpg:
    case TImageType::Jpeg:
        CheckJpegWritable(width, height);
        break;
    case TImageType::Webp:
    case TImageType::WebpLossless:
        CheckWebpWritable(width, height);
        break;
    case TImageType::Png8:
    case TImageType::Png:
    case TImageType::Auto:
    case TImageType::Avif:
    case TImageType::AvifLossless:
        break;
    }
}

TRenderOptions ConvertRenderOptions(const CliArguments& arguments)
{
    TGenerationSettings settings;
    for (const auto& [option, key] :
        { std::pair { "--scale", "Scale" }, std::pair { "--picture-page", "PicturePage" } }) {
        if (!arguments.Has(option))
            continue;
        const std::string& value = arguments.Options.at(option);
        const TRunKey* row = FindRunKey(key);
        if (!row->Apply(settings, value))
            throw CliUsageError(std::string(option) + " expects " + row->Expects + ", not '" + value + "'");
    }
    return PictureRenderOptions(settings);
}

void RunConvert(const std::string& input, const std::string& output, std::optional<TColor> transparent,
    std::FILE* warnings, const TRenderOptions& render)
{
    const OutputKind kind = OutputKindOf(output);
    // Decoding a picture the output cannot hold would only cost time and
    // memory before the same refusal.
    if (const std::optional<TPictureSize> size = TPicture::HeaderSize(input))
        CheckCellWritable(CellTypeOf(kind), size->Width, size->Height);

    TPicture picture;
    picture.LoadFromFile(input, render);
    TBitmap bitmap;
    bitmap.Assign(*picture.Graphic());
    for (const std::string& warning : picture.Warnings())
        std::fprintf(warnings, "slicewright-cli: warning: %s\n", warning.c_str());
    if (transparent) {
        bitmap.SetTransparent(true);
        bitmap.SetTransparentColor(*transparent);
    }

    // Written under a temporary name and renamed into place: a failed
    // write leaves the previous file as it was.
    TFileStream file(output, FileMode::Create);
    Encode(kind, bitmap, file);
    file.Close();
}

} // namespace sw::cli
