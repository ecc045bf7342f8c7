#include "core/generate/cell_writer.h"

#include "core/base/stream.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/metric/perceptual_distance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <avif/avif.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>
#if SLICEWRIGHT_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace sw {
namespace {

constexpr TColor kKey = RGB(255, 0, 255);

// What an outside decoder makes of a cell: RGBA rows, and the JPEG frame's
// layout where there is one.
struct TDecoded {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;
    bool Progressive = false;
    int LumaSampling = 0; // horizontal sampling factor of the first component
};

TDecoded DecodePng(const std::vector<uint8_t>& bytes)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    TDecoded result;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
        return result;
    image.format = PNG_FORMAT_RGBA;
    result.Rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, result.Rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return {};
    }
    result.Width = int(image.width);
    result.Height = int(image.height);
    return result;
}

TDecoded DecodeWebp(const std::vector<uint8_t>& bytes)
{
    TDecoded result;
    uint8_t* pixels = WebPDecodeRGBA(bytes.data(), bytes.size(), &result.Width, &result.Height);
    if (pixels)
        result.Rgba.assign(pixels, pixels + size_t(result.Width) * size_t(result.Height) * 4);
    WebPFree(pixels);
    return result;
}

// libavif's own decoder, apart from our reader.
TDecoded DecodeAvif(const std::vector<uint8_t>& bytes)
{
    TDecoded result;
    avifDecoder* decoder = avifDecoderCreate();
    avifImage* image = avifImageCreateEmpty();
    if (avifDecoderReadMemory(decoder, image, bytes.data(), bytes.size()) == AVIF_RESULT_OK) {
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image);
        rgb.depth = 8;
        rgb.format = AVIF_RGB_FORMAT_RGBA;
        result.Rgba.resize(size_t(image->width) * image->height * 4);
        rgb.pixels = result.Rgba.data();
        rgb.rowBytes = image->width * 4;
        if (avifImageYUVToRGB(image, &rgb) == AVIF_RESULT_OK) {
            result.Width = int(image->width);
            result.Height = int(image->height);
        }
    }
    avifImageDestroy(image);
    avifDecoderDestroy(decoder);
    return result;
}

struct TJpegFailure {
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

TDecoded DecodeJpeg(const std::vector<uint8_t>& bytes)
{
    TDecoded result;
    jpeg_decompress_struct info {};
    TJpegFailure failure {};
    info.err = jpeg_std_error(&failure.Manager);
    failure.Manager.error_exit
        = [](j_common_ptr common) { std::longjmp(reinterpret_cast<TJpegFailure*>(common->err)->Jump, 1); };
    if (setjmp(failure.Jump)) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_RGBA;
    result.Progressive = info.progressive_mode;
    result.LumaSampling = info.comp_info[0].h_samp_factor;
    jpeg_start_decompress(&info);
    result.Width = int(info.output_width);
    result.Height = int(info.output_height);
    result.Rgba.resize(size_t(result.Width) * size_t(result.Height) * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.Rgba.data() + size_t(info.output_scanline) * size_t(result.Width) * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return result;
}

#if SLICEWRIGHT_HAVE_GIFLIB
struct TGifSource {
    const std::vector<uint8_t>* Bytes;
    size_t At = 0;
};

TDecoded DecodeGif(const std::vector<uint8_t>& bytes)
{
    TGifSource source { &bytes };
    int error = 0;
    GifFileType* gif = DGifOpen(
        &source,
        [](GifFileType* file, GifByteType* buffer, int count) {
            auto* from = static_cast<TGifSource*>(file->UserData);
            const int n = static_cast<int>(std::min<size_t>(size_t(count), from->Bytes->size() - from->At));
            std::memcpy(buffer, from->Bytes->data() + from->At, size_t(n));
            from->At += size_t(n);
            return n;
        },
        &error);
    TDecoded result;
    if (!gif)
        return result;
    if (DGifSlurp(gif) == GIF_OK && gif->ImageCount == 1) {
        const SavedImage& image = gif->SavedImages[0];
        const ColorMapObject* colors = image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
        GraphicsControlBlock control {};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, 0, &control);
        result.Width = image.ImageDesc.Width;
        result.Height = image.ImageDesc.Height;
        for (int i = 0; i < result.Width * result.Height; ++i) {
            const int index = image.RasterBits[i];
            const GifColorType color = index < colors->ColorCount ? colors->Colors[index] : GifColorType {};
            result.Rgba.insert(result.Rgba.end(),
                { color.Red, color.Green, color.Blue, uint8_t(index == control.TransparentColor ? 0 : 255) });
        }
    }
    DGifCloseFile(gif, &error);
    return result;
}
#endif

TDecoded Decode(TImageType type, const std::vector<uint8_t>& bytes)
{
    switch (type) {
    case TImageType::Png8:
    case TImageType::Png:
        return DecodePng(bytes);
    case TImageType::Webp:
    case TImageType::WebpLossless:
        return DecodeWebp(bytes);
    case TImageType::Jpg:
    case TImageType::Jpeg:
        return DecodeJpeg(bytes);
    case TImageType::Avif:
    case TImageType::AvifLossless:
        return DecodeAvif(bytes);
    default:
#if SLICEWRIGHT_HAVE_GIFLIB
        return DecodeGif(bytes);
#else
        return {};
#endif
    }
}

// A corner of the transparent colour, flat panels of web-cube colours and,
// unless flat, a gradient of far more than 256 colours.
TBitmap MakeCell(bool flat)
{
    TBitmap cell;
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    cell.SetSize(48, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) {
            TColor color = RGB(uint8_t(x * 5), uint8_t(y * 7), uint8_t(128 + x + y));
            if (flat)
                color = x < 24 ? RGB(0, 51, 153) : RGB(255, 255, 255);
            if (x < 8 && y < 8)
                color = kKey;
            else if (y >= 28)
                color = RGB(204, 51, 51);
            cell.Canvas().SetPixel(x, y, color);
        }
    return cell;
}

TEST(CellWriter, EveryFormatReadsBackInAnOutsideDecoder)
{
    const struct {
        TImageType type;
        bool flat;
        double floor; // dB; 0 asks for every pixel exact
    } cases[] = {
        { TImageType::Gif, true, 0 }, // the flat colours are web-cube colours
        { TImageType::GifAdaptive, true, 0 },
        { TImageType::GifAdaptive, false, 30 },
        { TImageType::Png8, true, 0 },
        { TImageType::Png8, false, 30 },
        { TImageType::Png, false, 0 },
        { TImageType::Jpg, false, 28 },
        { TImageType::Webp, false, 28 },
        { TImageType::WebpLossless, false, 0 },
        { TImageType::Avif, false, 28 },
        { TImageType::AvifLossless, false, 0 },
        { TImageType::Auto, true, 0 },
        { TImageType::Auto, false, 40 },
    };
    // clNone: no pixel is transparent, not even the white of the flat cells.
    for (const auto& c : cases)
        for (const TColor key : { kKey, clNone }) {
            SCOPED_TRACE(
                ImageTypeName(c.type) + (c.flat ? " flat" : " gradient") + (key == clNone ? " none" : ""));
#if !SLICEWRIGHT_HAVE_GIFLIB
            if (c.type == TImageType::Gif || c.type == TImageType::GifAdaptive)
                continue;
#endif
            TBitmap cell = MakeCell(c.flat);
            const TEncodedCell encoded = EncodeCell(cell, std::nullopt, { .Type = c.type }, key);
            if (c.type != TImageType::Auto)
                EXPECT_EQ(encoded.Type, c.type);
            else
                EXPECT_FALSE(encoded.Reason.empty());
            const TDecoded decoded = Decode(encoded.Type, encoded.Bytes);
            ASSERT_EQ(decoded.Width, 48);
            ASSERT_EQ(decoded.Height, 32);

            const bool hasTransparency = encoded.Type != TImageType::Jpg && key != clNone;
            TBitmap flat = MakeCell(c.flat);
            const double psnr
                = CellPsnr(flat.View24(), hasTransparency ? std::optional(kKey) : std::nullopt, decoded.Rgba);
            if (c.floor == 0)
                EXPECT_TRUE(std::isinf(psnr)) << psnr << " dB";
            else
                EXPECT_GE(psnr, c.floor);
            // The transparent corner is see-through wherever the format can say so.
            EXPECT_EQ(decoded.Rgba[3], hasTransparency ? 0 : 255);
            EXPECT_EQ(decoded.Rgba[(31 * 48 + 47) * 4 + 3], 255);
            if (!hasTransparency) {
                for (size_t i = 3; i < decoded.Rgba.size(); i += 4)
                    ASSERT_EQ(decoded.Rgba[i], 255) << i / 4;
            }
        }
}

TEST(CellWriter, DefaultGifAndJpegAreThePlainWritersBytes)
{
    TBitmap cell = MakeCell(false);
    TMemoryStream gif;
    SaveCellGif(gif, cell, kKey);
    TMemoryStream jpeg;
    SaveCellJpeg(jpeg, cell);
    TBitmap again = MakeCell(false);
    EXPECT_EQ(EncodeCell(again, std::nullopt, { .Type = TImageType::Gif }, kKey).Bytes, gif.Bytes());
    EXPECT_EQ(EncodeCell(again, std::nullopt, { .Type = TImageType::Jpg }, kKey).Bytes, jpeg.Bytes());
}

TEST(CellWriter, JpegSettingsReachTheFile)
{
    TBitmap cell = MakeCell(false);
    const TDecoded plain
        = DecodeJpeg(EncodeCell(cell, std::nullopt, { .Type = TImageType::Jpg }, kKey).Bytes);
    EXPECT_FALSE(plain.Progressive);
    EXPECT_EQ(plain.LumaSampling, 2);
    const TCellFormat sharp {
        .Type = TImageType::Jpg, .Progressive = true, .Subsampling = TChromaSubsampling::Full
    };
    const TDecoded full = DecodeJpeg(EncodeCell(cell, std::nullopt, sharp, kKey).Bytes);
    EXPECT_TRUE(full.Progressive);
    EXPECT_EQ(full.LumaSampling, 1);
    const auto size = [&cell](int quality) {
        return EncodeCell(cell, std::nullopt, { .Type = TImageType::Jpg, .Quality = quality }, kKey)
            .Bytes.size();
    };
    EXPECT_LT(size(30), size(90));
}

// A PNG design's own alpha survives in the formats that keep it, and an
// opaque cell is written from its flattened pixels as before.
TEST(CellWriter, KeptAlphaReachesPngAndWebp)
{
    TBitmap cell = MakeCell(true);
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            rgba.insert(rgba.end(), { uint8_t(x), uint8_t(y), 90, uint8_t(x * 5) });
    const TPixelView view { rgba.data(), 48, 32, 48 * 4, TPixelLayout::Rgba32 };
    for (TImageType type : { TImageType::Png, TImageType::WebpLossless, TImageType::Auto }) {
        SCOPED_TRACE(ImageTypeName(type));
        const TEncodedCell encoded = EncodeCell(cell, view, { .Type = type, .KeepAlpha = true }, kKey);
        const TDecoded decoded = Decode(encoded.Type, encoded.Bytes);
        ASSERT_EQ(decoded.Rgba.size(), rgba.size());
        for (size_t i = 3; i < rgba.size(); i += 4)
            ASSERT_EQ(decoded.Rgba[i], rgba[i]) << i / 4;
        const double psnr = CellPsnr(view, kKey, decoded.Rgba);
        if (type == TImageType::Auto)
            EXPECT_GE(psnr, 40.0);
        else
            EXPECT_TRUE(std::isinf(psnr)) << psnr << " dB";
    }
}

// A cell larger than GIF, JPEG or WebP can hold is still written by auto,
// in a format that holds it.
TEST(CellWriter, AutoChoosesAmongFormatsThatHoldTheCell)
{
    const struct {
        int Width, Height;
        bool Noise;
        std::vector<TImageType> Allowed;
    } cases[] = {
        { 1, 70000, false, { TImageType::Png8, TImageType::Png } },
        { 20000, 2, true, { TImageType::Jpg, TImageType::Png } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height));
        TBitmap cell;
        cell.SetPixelFormat(TPixelFormat::pf24bit);
        cell.SetSize(c.Width, c.Height);
        for (int y = 0; y < c.Height; ++y)
            for (int x = 0; x < c.Width; ++x) {
                const uint8_t v = c.Noise ? uint8_t((x * 7919 + y * 104729) % 251) : uint8_t(y % 2 * 200);
                std::fill_n(cell.ScanLine(y) + 3 * x, 3, v);
            }
        const TEncodedCell encoded = EncodeCell(cell, std::nullopt, { .Type = TImageType::Auto }, clNone);
        EXPECT_NE(std::find(c.Allowed.begin(), c.Allowed.end(), encoded.Type), c.Allowed.end())
            << encoded.Reason;
        EXPECT_EQ(Decode(encoded.Type, encoded.Bytes).Width, c.Width);
    }
}

// With a perceptual floor, auto's lossy file is one a viewer cannot tell
// from the cell, as measured again on the file; AVIF competes only when asked.
TEST(CellWriter, AutoKeepsItsPerceptualFloor)
{
    TBitmap cell = MakeCell(false);
    const struct {
        std::optional<double> Floor;
        bool Avif;
    } cases[] = { { std::nullopt, true }, { 1.0, false }, { 1.0, true }, { 0.4, true } };
    for (const auto& c : cases) {
        SCOPED_TRACE((c.Floor ? std::to_string(*c.Floor) : "no floor") + (c.Avif ? " with avif" : ""));
        TCellFormat format { .Type = TImageType::Auto, .MinPsnr = 30 };
        format.MinScore = c.Floor;
        format.AutoAvif = c.Avif;
        const TEncodedCell encoded = EncodeCell(cell, std::nullopt, format, clNone);
        if (!c.Avif) {
            EXPECT_EQ(encoded.Reason.find("avif"), std::string::npos) << encoded.Reason;
            EXPECT_NE(encoded.Type, TImageType::Avif);
        }
        const TDecoded decoded = Decode(encoded.Type, encoded.Bytes);
        ASSERT_EQ(decoded.Width, 48);
        TBitmap flat = MakeCell(false);
        const double distance = PerceptualDistance(flat.View24(), std::nullopt, decoded.Rgba);
        const bool lossy = encoded.Type == TImageType::Jpg || encoded.Type == TImageType::Webp
            || encoded.Type == TImageType::Avif;
        if (c.Floor) {
            EXPECT_LE(distance, *c.Floor) << encoded.Reason;
        }
        EXPECT_EQ(encoded.Score.has_value(), c.Floor && lossy) << encoded.Reason;
        if (encoded.Score) {
            EXPECT_NEAR(*encoded.Score, distance, 1e-3);
        }
        EXPECT_NE(encoded.Reason.find(c.Floor && lossy ? ", distance " : "dB"), std::string::npos)
            << encoded.Reason;
    }
}

} // namespace
} // namespace sw
