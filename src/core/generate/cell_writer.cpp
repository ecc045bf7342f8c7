#include "core/generate/cell_writer.h"

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/base/sysutils.h"
#include "core/imaging/avif/avif_writer.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_codec.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/imaging/metric/perceptual_distance.h"
#include "core/imaging/palette/palette.h"
#include "core/imaging/png/png_reader.h"
#include "core/imaging/png/png_writer.h"
#include "core/imaging/webp/webp_writer.h"

#include <webp/decode.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>

namespace sw {

void SaveCellGif(TStream& stream, TBitmap& cell, TColor transparentColor)
{
    TGIFImage gif;
    // A fixed colour, not the automatic bottom-left pixel, decides which
    // pixels the frame leaves transparent.
    const bool transparent = transparentColor != clNone;
    cell.SetTransparent(transparent);
    if (transparent)
        cell.SetTransparentColor(transparentColor);
    gif.Assign(cell);
    gif.SetTransparent(transparent);
    gif.SaveToStream(stream);
}

void SaveCellGif(TStream& stream, const TPixelView& cell, TColor transparentColor)
{
    TGIFImage gif;
    const bool transparent = transparentColor != clNone;
    gif.AssignRows(cell, transparent ? std::optional<TColor>(transparentColor) : std::nullopt);
    gif.SetTransparent(transparent);
    gif.SaveToStream(stream);
}

void SaveCellGif(const std::string& fileName, TBitmap& cell, TColor transparentColor)
{
    TFileStream file(fileName, FileMode::Create);
    SaveCellGif(file, cell, transparentColor);
    file.Close();
}

void SaveCellJpeg(TStream& stream, TBitmap& cell)
{
    TJPEGImage jpeg;
    jpeg.Assign(cell);
    jpeg.SaveToStream(stream);
}

void SaveCellJpeg(const std::string& fileName, TBitmap& cell)
{
    TFileStream file(fileName, FileMode::Create);
    SaveCellJpeg(file, cell);
    file.Close();
}

namespace {

struct TRgba {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    uint8_t Alpha = 255;
};

TRgba PixelAt(const TPixelView& view, int x, int y)
{
    const uint8_t* p = view.Row(y) + ptrdiff_t(x) * view.BytesPerPixel();
    if (view.Layout == TPixelLayout::Bgr24)
        return { p[2], p[1], p[0], 255 };
    return { p[0], p[1], p[2], p[3] };
}

bool IsKey(const TRgba& pixel, TColor key)
{
    return pixel.Red == (key & 0xFF) && pixel.Green == ((key >> 8) & 0xFF)
        && pixel.Blue == ((key >> 16) & 0xFF);
}

// The colour pixels must have to be transparent, as plain RGB; nothing when
// the run leaves no colour transparent.
using TKey = std::optional<TColor>;

TKey KeyOf(TColor transparentColor)
{
    if (transparentColor == clNone)
        return std::nullopt;
    return ColorToRGB(transparentColor) & 0xFFFFFF;
}

bool AnyPixel(const TPixelView& view, const auto& test)
{
    for (int y = 0; y < view.Height; ++y)
        for (int x = 0; x < view.Width; ++x)
            if (test(PixelAt(view, x, y)))
                return true;
    return false;
}

std::vector<uint8_t> GifBytes(TBitmap& cell, TColor transparentColor)
{
    TMemoryStream stream;
    SaveCellGif(stream, cell, transparentColor);
    return std::move(stream.Bytes());
}

// The cell reduced to a palette made for it and mapped with the cell's
// dithering; the transparent colour keeps an entry of its own.
struct TIndexedCell {
    TPalette Palette;
    std::vector<uint8_t> Indices;
    std::vector<TRGBQuad> Quads;
};

TIndexedCell IndexedCell(const TPixelView& view, int colors, TDither dither, TKey key)
{
    TIndexedCell result;
    std::optional<TPaletteColor> transparent;
    if (key)
        transparent = TPaletteColor { uint8_t(*key & 0xFF), uint8_t((*key >> 8) & 0xFF),
            uint8_t((*key >> 16) & 0xFF) };
    result.Palette = MakePalette(view, colors, transparent);
    result.Indices.resize(size_t(view.Width) * size_t(view.Height));
    MapToPalette(view, result.Palette, dither, result.Indices.data(), view.Width);
    for (const TPaletteColor& color : result.Palette.Colors)
        result.Quads.push_back({ color.Blue, color.Green, color.Red, 0 });
    return result;
}

std::vector<uint8_t> Png8Bytes(const TIndexedCell& cell, const TPixelView& view)
{
    TIndexedPixels pixels;
    pixels.Palette = cell.Quads;
    pixels.Indices = cell.Indices;
    pixels.Width = view.Width;
    pixels.Height = view.Height;
    if (cell.Palette.TransparentIndex >= 0)
        pixels.TransparentIndex = cell.Palette.TransparentIndex;
    return WritePng8(pixels);
}

// Through the GIF object model, so the container is the one the web-cube
// cells get; the frame takes an 8-bit bitmap's table as it is.
std::vector<uint8_t> AdaptiveGifBytes(const TIndexedCell& cell, const TPixelView& view)
{
    TBitmap indexed;
    indexed.SetPixelFormat(TPixelFormat::pf8bit);
    indexed.SetSize(view.Width, view.Height);
    indexed.SetColorTable(cell.Quads);
    for (int y = 0; y < view.Height; ++y)
        std::copy_n(cell.Indices.data() + size_t(y) * size_t(view.Width), view.Width, indexed.ScanLine(y));
    TGIFImage gif;
    gif.Assign(indexed);
    if (cell.Palette.TransparentIndex >= 0 && !gif.Images().Empty()) {
        TGIFSubImage& frame = gif.Images()[0];
        auto control = std::make_unique<TGIFGraphicControlExtension>(&frame);
        control->SetTransparent(true);
        control->SetTransparentColorIndex(cell.Palette.TransparentIndex);
        frame.Extensions().Add(std::move(control));
        gif.SetTransparent(true);
    }
    TMemoryStream stream;
    gif.SaveToStream(stream);
    return std::move(stream.Bytes());
}

std::vector<uint8_t> JpegBytes(const TPixelView& cell, const TCellFormat& format, int quality)
{
    TJpegEncodeOptions options;
    options.Quality = static_cast<uint8_t>(std::clamp(quality, 1, 100));
    options.Progressive = format.Progressive;
    options.FullChroma = format.Subsampling == TChromaSubsampling::Full;
    std::optional<std::vector<uint8_t>> bytes = EncodeJpeg(cell, options, {});
    if (!bytes)
        throw EAbort("Operation aborted");
    return std::move(*bytes);
}

std::vector<uint8_t> WebpBytes(const TPixelView& view, bool lossless, int quality, TKey key)
{
    TWebpOptions options;
    options.Lossless = lossless;
    options.Quality = quality;
    options.TransparentColor = key;
    return WriteWebp(view, options);
}

// One thread per cell: the run already encodes its cells side by side.
std::vector<uint8_t> AvifBytes(
    const TPixelView& view, bool lossless, int quality, const TCellFormat& format, TKey key)
{
    TAvifOptions options;
    options.Lossless = lossless;
    options.Quality = quality;
    options.FullChroma = format.Subsampling == TChromaSubsampling::Full;
    options.Speed = format.AvifSpeed;
    options.TransparentColor = key;
    return WriteAvif(view, options);
}

std::vector<uint8_t> DecodedAvif(const std::vector<uint8_t>& bytes)
{
    return ReadAvif(bytes).Rgba;
}

std::vector<uint8_t> DecodedJpeg(const std::vector<uint8_t>& bytes)
{
    TJpegDecoded decoded;
    DecodeJpeg(bytes, TJpegDecodeOptions {}, {}, decoded);
    const TPixelView view = decoded.Bitmap->View24();
    std::vector<uint8_t> rgba;
    rgba.reserve(size_t(view.Width) * size_t(view.Height) * 4);
    for (int y = 0; y < view.Height; ++y)
        for (int x = 0; x < view.Width; ++x) {
            const TRgba pixel = PixelAt(view, x, y);
            rgba.insert(rgba.end(), { pixel.Red, pixel.Green, pixel.Blue, pixel.Alpha });
        }
    return rgba;
}

std::vector<uint8_t> DecodedWebp(const std::vector<uint8_t>& bytes)
{
    // Straight into the result: a copy would hold a large cell twice.
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    if (WebPGetInfo(bytes.data(), bytes.size(), &width, &height)) {
        rgba.resize(size_t(width) * size_t(height) * 4);
        if (WebPDecodeRGBAInto(bytes.data(), bytes.size(), rgba.data(), rgba.size(), width * 4))
            return rgba;
    }
    throw EInvalidGraphic("WebP image is not valid (the cell just written does not decode)");
}

// The first frame as straight RGBA, its transparent index clear.
std::vector<uint8_t> DecodedGif(const std::vector<uint8_t>& bytes, int width, int height)
{
    TMemoryStream stream(bytes);
    TGIFImage gif;
    gif.LoadFromStream(stream);
    if (gif.Images().Empty())
        throw EInvalidGraphic("GIF image is not valid (the cell just written has no frame)");
    const TGIFSubImage& frame = gif.Images()[0];
    const size_t count = size_t(width) * size_t(height);
    if (frame.Width() != width || frame.Height() != height || frame.Data().size() < count)
        throw EInvalidGraphic("GIF image is not valid (the cell just written has another size)");
    const TGIFColorMap& colors = frame.ActiveColorMap();
    const TGIFGraphicControlExtension* control = frame.GraphicControlExtension();
    const int transparent = control && control->Transparent() ? control->TransparentColorIndex() : -1;
    std::vector<uint8_t> rgba;
    rgba.reserve(count * 4);
    for (size_t i = 0; i < count; ++i) {
        const int index = frame.Data()[i];
        const TGIFColor color = index < colors.Count() ? colors[index] : TGIFColor {};
        rgba.insert(
            rgba.end(), { color.Red, color.Green, color.Blue, uint8_t(index == transparent ? 0 : 255) });
    }
    return rgba;
}

constexpr int kBestQuality = 100;

struct TCandidate {
    TImageType Type = TImageType::Png;
    std::vector<uint8_t> Bytes;
    int Quality = 0;
    double Psnr = 0;
    bool FullChroma = false;
    std::optional<double> Score {}; // when the run sets a perceptual floor
};

// The lowest quality whose file still reaches the floor, by bisection: files shrink with quality far more
// steadily than their error grows, so a few encodes find it.
std::optional<TCandidate> SmallestAboveFloor(TImageType type, const TCellFormat& format,
    const TPixelView& expected, std::optional<TColor> key,
    const std::function<std::vector<uint8_t>(int)>& encode,
    const std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)>& decode)
{
    const auto attempt = [&](int quality) -> std::optional<TCandidate> {
        TCandidate candidate { type, encode(quality), quality, 0 };
        const std::vector<uint8_t> decoded = decode(candidate.Bytes);
        candidate.Psnr = CellPsnr(expected, key, decoded);
        if (candidate.Psnr < format.MinPsnr)
            return std::nullopt;
        // The costlier measure only for files that reach the cheap one.
        if (format.MinScore) {
            candidate.Score = PerceptualDistance(expected, key, decoded);
            if (*candidate.Score > *format.MinScore)
                return std::nullopt;
        }
        return candidate;
    };
    std::optional<TCandidate> best = attempt(kBestQuality);
    if (!best)
        return std::nullopt;
    int low = 1;
    int high = kBestQuality;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (std::optional<TCandidate> found = attempt(middle)) {
            if (found->Bytes.size() <= best->Bytes.size())
                best = std::move(found);
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return best;
}

std::string SizeNote(const std::vector<TCandidate>& others)
{
    std::string note;
    for (const TCandidate& other : others)
        note += "; " + ImageTypeName(other.Type) + " " + IntToStr(static_cast<int64_t>(other.Bytes.size()));
    return note;
}

TEncodedCell Smallest(std::vector<TCandidate> candidates, const std::string& why)
{
    std::stable_sort(candidates.begin(), candidates.end(),
        [](const TCandidate& a, const TCandidate& b) { return a.Bytes.size() < b.Bytes.size(); });
    TCandidate& chosen = candidates.front();
    std::string reason = why + " (" + IntToStr(static_cast<int64_t>(chosen.Bytes.size())) + " bytes"
        + SizeNote({ candidates.begin() + 1, candidates.end() }) + ")";
    return { chosen.Type, std::move(chosen.Bytes), std::move(reason), chosen.Score };
}

// Whether a file of the format can hold the cell (check throws when not).
bool Holds(void (*check)(int64_t width, int64_t height), const TPixelView& cell)
{
    try {
        check(cell.Width, cell.Height);
        return true;
    } catch (const Exception&) {
        return false;
    }
}

// fallbackOnly keeps to the formats every browser shows (gif, png, jpg),
// for the image under a page's <picture> sources.
TEncodedCell AutoCell(
    const TPixelView& bgr, const TPixelView& pixels, const TCellFormat& format, TKey key, bool fallbackOnly)
{
    // A format too small for the cell is no candidate: PNG holds any.
    const bool gifHolds = Holds(CheckGifWritable, bgr);
    const bool jpegHolds = Holds(CheckJpegWritable, bgr);
    // Mail clients show neither WebP nor AVIF.
    const bool webpHolds = Holds(CheckWebpWritable, bgr) && !format.MailSafe && !fallbackOnly;
    const bool avifAllowed = format.AutoAvif && !format.MailSafe && !fallbackOnly;
    const bool translucent = pixels.Layout == TPixelLayout::Rgba32;
    if (!translucent) {
        const TIndexedCell indexed = IndexedCell(bgr, kMaxPaletteColors, TDither::None, key);
        if (indexed.Palette.Exact) {
            std::vector<TCandidate> exact { { TImageType::Png8, Png8Bytes(indexed, bgr) } };
            if (gifHolds)
                exact.push_back({ TImageType::GifAdaptive, AdaptiveGifBytes(indexed, bgr) });
            exact.push_back({ TImageType::Png, WritePng(bgr, { key }) });
            const size_t colors = indexed.Palette.Colors.size();
            return Smallest(std::move(exact),
                IntToStr(static_cast<int64_t>(colors)) + (colors == 1 ? " colour" : " colours") + ", exact");
        }
    }

    // JPEG has neither alpha nor a transparent colour.
    const bool needsTransparency
        = translucent || (key && AnyPixel(bgr, [&key](const TRgba& pixel) { return IsKey(pixel, *key); }));
    std::vector<TCandidate> lossy;
    if (!needsTransparency && jpegHolds) {
        // Saturated colour keeps halved chroma below the floor at any
        // quality; full chroma often reaches it smaller than lossless.
        std::vector<TCellFormat> jpegs { format };
        if (format.Subsampling == TChromaSubsampling::Half) {
            jpegs.push_back(format);
            jpegs.back().Subsampling = TChromaSubsampling::Full;
        }
        for (const TCellFormat& jpegFormat : jpegs)
            if (auto jpeg = SmallestAboveFloor(
                    TImageType::Jpg, format, bgr, std::nullopt,
                    [&](int quality) { return JpegBytes(bgr, jpegFormat, quality); }, DecodedJpeg)) {
                jpeg->FullChroma = jpegFormat.Subsampling == TChromaSubsampling::Full;
                lossy.push_back(std::move(*jpeg));
            }
    }
    if (webpHolds)
        if (auto webp = SmallestAboveFloor(
                TImageType::Webp, format, pixels, key,
                [&](int quality) { return WebpBytes(pixels, false, quality, key); }, DecodedWebp))
            lossy.push_back(std::move(*webp));
    if (avifAllowed)
        if (auto avif = SmallestAboveFloor(
                TImageType::Avif, format, pixels, key,
                [&](int quality) { return AvifBytes(pixels, false, quality, format, key); }, DecodedAvif))
            lossy.push_back(std::move(*avif));
    // A lossless file keeps the cell good too, and at times is the smaller.
    const bool lossyReached = !lossy.empty();
    std::vector<TCandidate> candidates = std::move(lossy);
    candidates.push_back({ TImageType::Png, WritePng(pixels, { key }) });
    if (webpHolds)
        candidates.push_back({ TImageType::WebpLossless, WebpBytes(pixels, true, format.Quality, key) });
    std::stable_sort(candidates.begin(), candidates.end(),
        [](const TCandidate& a, const TCandidate& b) { return a.Bytes.size() < b.Bytes.size(); });
    const TCandidate& chosen = candidates.front();
    std::string why;
    const std::string floor = format.MinScore
        ? Format("%.1f dB and distance %.2f", format.MinPsnr, *format.MinScore)
        : Format("%.1f dB", format.MinPsnr);
    if (chosen.Type == TImageType::Jpg || chosen.Type == TImageType::Webp
        || chosen.Type == TImageType::Avif) {
        why = Format("quality %d%s, %.1f dB", chosen.Quality, chosen.FullChroma ? " 4:4:4" : "",
            std::min(chosen.Psnr, 99.9));
        if (chosen.Score)
            why += Format(", distance %.2f", *chosen.Score);
    } else if (lossyReached) {
        why = "lossless, smaller than any lossy file of " + floor;
    } else {
        why = "no lossy file reached " + floor;
    }
    return Smallest(std::move(candidates), why);
}

// The picture's alpha only where it says something: an opaque cell is the
// same as its flattened pixels.
TPixelView PixelsToEncode(const TPixelView& bgr, const std::optional<TPixelView>& rgba, bool keepAlpha)
{
    const bool translucent
        = keepAlpha && rgba && AnyPixel(*rgba, [](const TRgba& pixel) { return pixel.Alpha != 255; });
    return translucent ? *rgba : bgr;
}

TEncodedCell EncodeRows(const TPixelView& bgr, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor, bool fallbackOnly)
{
    if (bgr.Layout != TPixelLayout::Bgr24)
        throw EInvalidGraphicOperation("A cell is encoded from 24-bit pixels");
    const TKey key = KeyOf(transparentColor);
    if (format.Type == TImageType::Gif) {
        TMemoryStream stream;
        SaveCellGif(stream, bgr, transparentColor);
        return { format.Type, std::move(stream.Bytes()), {} };
    }
    if (format.Type == TImageType::Jpg || format.Type == TImageType::Jpeg)
        return { format.Type, JpegBytes(bgr, format, format.Quality), {} };
    const TPixelView pixels = PixelsToEncode(bgr, rgba, format.KeepAlpha);

    TEncodedCell result;
    result.Type = format.Type;
    switch (format.Type) {
    case TImageType::Gif:
    case TImageType::Jpg:
    case TImageType::Jpeg:
        break;
    case TImageType::GifAdaptive:
        result.Bytes = AdaptiveGifBytes(IndexedCell(bgr, format.Colors, format.Dither, key), bgr);
        break;
    case TImageType::Png8:
        result.Bytes = Png8Bytes(IndexedCell(bgr, format.Colors, format.Dither, key), bgr);
        break;
    case TImageType::Png:
        result.Bytes = WritePng(pixels, { key });
        break;
    case TImageType::Webp:
    case TImageType::WebpLossless:
        result.Bytes = WebpBytes(pixels, format.Type == TImageType::WebpLossless, format.Quality, key);
        break;
    case TImageType::Avif:
    case TImageType::AvifLossless:
        result.Bytes
            = AvifBytes(pixels, format.Type == TImageType::AvifLossless, format.Quality, format, key);
        break;
    case TImageType::Auto:
        result = AutoCell(bgr, pixels, format, key, fallbackOnly);
        break;
    }
    return result;
}

// Shares the pixels unless the cell came in another layout.
TBitmap Flat24(TBitmap& cell)
{
    TBitmap flat(cell);
    if (flat.PixelFormat() != TPixelFormat::pf24bit)
        flat.SetPixelFormat(TPixelFormat::pf24bit);
    return flat;
}

TEncodedCell EncodeBitmap(TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format,
    TColor transparentColor, bool fallbackOnly)
{
    if (format.Type == TImageType::Gif)
        return { format.Type, GifBytes(cell, transparentColor), {} };
    TBitmap flat = Flat24(cell);
    return EncodeRows(flat.View24(), rgba, format, transparentColor, fallbackOnly);
}

} // namespace

TEncodedCell EncodeCellRows(const TPixelView& bgr, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor)
{
    return EncodeRows(bgr, rgba, format, transparentColor, false);
}

TEncodedCell EncodeCell(
    TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format, TColor transparentColor)
{
    return EncodeBitmap(cell, rgba, format, transparentColor, false);
}

TEncodedCell EncodeFallbackCell(
    TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format, TColor transparentColor)
{
    return EncodeBitmap(cell, rgba, format, transparentColor, true);
}

TEncodedCell EncodeSourceCell(TBitmap& cell, const std::optional<TPixelView>& rgba, const TCellFormat& format,
    TImageType sourceType, TColor transparentColor)
{
    const TKey key = KeyOf(transparentColor);
    TBitmap flat = Flat24(cell);
    const TPixelView pixels = PixelsToEncode(flat.View24(), rgba, format.KeepAlpha);
    const bool avif = sourceType == TImageType::Avif || sourceType == TImageType::AvifLossless;
    const bool lossless = sourceType == TImageType::WebpLossless || sourceType == TImageType::AvifLossless;
    if (!avif && !lossless && sourceType != TImageType::Webp)
        throw EInvalidGraphicOperation("A cell's source is webp or avif");
    const auto encode = [&](bool losslessFile, int quality) {
        return avif ? AvifBytes(pixels, losslessFile, quality, format, key)
                    : WebpBytes(pixels, losslessFile, quality, key);
    };
    const TImageType losslessType = avif ? TImageType::AvifLossless : TImageType::WebpLossless;
    if (format.Type != TImageType::Auto || lossless)
        return { lossless ? losslessType : sourceType, encode(lossless, format.Quality), {} };

    std::vector<TCandidate> candidates;
    if (auto lossy = SmallestAboveFloor(
            sourceType, format, pixels, key, [&](int quality) { return encode(false, quality); },
            avif ? DecodedAvif : DecodedWebp))
        candidates.push_back(std::move(*lossy));
    // Lossless AVIF seldom beats a lossy one that reaches the floor, and
    // costs much more to make.
    if (candidates.empty() || !avif)
        candidates.push_back({ losslessType, encode(true, format.Quality) });
    std::stable_sort(candidates.begin(), candidates.end(),
        [](const TCandidate& a, const TCandidate& b) { return a.Bytes.size() < b.Bytes.size(); });
    TCandidate& chosen = candidates.front();
    const std::string why = chosen.Type == losslessType
        ? std::string("lossless")
        : Format("quality %d, %.1f dB", chosen.Quality, std::min(chosen.Psnr, 99.9))
            + (chosen.Score ? Format(", distance %.2f", *chosen.Score) : std::string());
    return { chosen.Type, std::move(chosen.Bytes),
        why + " (" + IntToStr(static_cast<int64_t>(chosen.Bytes.size())) + " bytes)", chosen.Score };
}

double CellPsnr(const TPixelView& expected, std::optional<TColor> transparentColor,
    const std::vector<uint8_t>& decodedRgba)
{
    const size_t count = size_t(expected.Width) * size_t(expected.Height);
    if (count == 0 || decodedRgba.size() != count * 4)
        return 0;
    double squares = 0;
    const uint8_t* decoded = decodedRgba.data();
    for (int y = 0; y < expected.Height; ++y)
        for (int x = 0; x < expected.Width; ++x, decoded += 4) {
            TRgba want = PixelAt(expected, x, y);
            if (transparentColor && IsKey(want, *transparentColor))
                want.Alpha = 0;
            const auto channel = [](int value, int alpha) { return value * alpha / 255.0; };
            const double red = channel(want.Red, want.Alpha) - channel(decoded[0], decoded[3]);
            const double green = channel(want.Green, want.Alpha) - channel(decoded[1], decoded[3]);
            const double blue = channel(want.Blue, want.Alpha) - channel(decoded[2], decoded[3]);
            const double alpha = double(want.Alpha) - decoded[3];
            squares += red * red + green * green + blue * blue + alpha * alpha;
        }
    const double meanSquare = squares / (3.0 * double(count));
    if (meanSquare == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / meanSquare);
}

namespace {

using TMeasure
    = std::function<double(const TPixelView& expected, TKey key, const std::vector<uint8_t>& decoded)>;

// measure on the encoded file decoded back, against the pixels it was made
// to show; nothing when the file holds the cell exactly.
std::optional<double> MeasureEncoded(TBitmap& cell, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor, const TEncodedCell& encoded, const TMeasure& measure)
{
    // Auto keeps its palette files for exact cells only.
    const bool mayLose = encoded.Type == TImageType::Jpg || encoded.Type == TImageType::Jpeg
        || encoded.Type == TImageType::Webp || encoded.Type == TImageType::Avif
        || (format.Type != TImageType::Auto
            && (encoded.Type == TImageType::Gif || encoded.Type == TImageType::GifAdaptive
                || encoded.Type == TImageType::Png8));
    if (!mayLose)
        return std::nullopt;
    const TKey key = KeyOf(transparentColor);
    TBitmap flat(cell);
    if (flat.PixelFormat() != TPixelFormat::pf24bit)
        flat.SetPixelFormat(TPixelFormat::pf24bit);
    const TPixelView bgr = flat.View24();
    const bool translucent
        = format.KeepAlpha && rgba && AnyPixel(*rgba, [](const TRgba& pixel) { return pixel.Alpha != 255; });
    const TPixelView pixels = translucent ? *rgba : bgr;
    switch (encoded.Type) {
    case TImageType::Jpg:
    case TImageType::Jpeg:
        return measure(bgr, std::nullopt, DecodedJpeg(encoded.Bytes));
    case TImageType::Webp:
        return measure(pixels, key, DecodedWebp(encoded.Bytes));
    case TImageType::Avif:
        return measure(pixels, key, DecodedAvif(encoded.Bytes));
    case TImageType::Png8:
        return measure(bgr, key, ReadPng(encoded.Bytes).Rgba);
    default:
        return measure(bgr, key, DecodedGif(encoded.Bytes, bgr.Width, bgr.Height));
    }
}

} // namespace

std::optional<double> EncodedCellPsnr(TBitmap& cell, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor, const TEncodedCell& encoded)
{
    const std::optional<double> psnr
        = MeasureEncoded(cell, rgba, format, transparentColor, encoded, CellPsnr);
    if (psnr && std::isinf(*psnr))
        return std::nullopt;
    return psnr;
}

std::optional<double> EncodedCellScore(TBitmap& cell, const std::optional<TPixelView>& rgba,
    const TCellFormat& format, TColor transparentColor, const TEncodedCell& encoded)
{
    if (encoded.Score)
        return encoded.Score;
    const std::optional<double> score
        = MeasureEncoded(cell, rgba, format, transparentColor, encoded, PerceptualDistance);
    if (score && *score == 0)
        return std::nullopt;
    return score;
}

} // namespace sw
