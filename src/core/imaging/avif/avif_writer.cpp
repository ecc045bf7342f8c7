#include "core/imaging/avif/avif_writer.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"

#include <avif/avif.h>

#include <algorithm>
#include <memory>
#include <string>

namespace sw {

namespace {

struct TImageDeleter {
    void operator()(avifImage* image) const { avifImageDestroy(image); }
};
struct TEncoderDeleter {
    void operator()(avifEncoder* encoder) const { avifEncoderDestroy(encoder); }
};
struct TDecoderDeleter {
    void operator()(avifDecoder* decoder) const { avifDecoderDestroy(decoder); }
};
using TImagePtr = std::unique_ptr<avifImage, TImageDeleter>;

// Owns the bytes an encode hands back.
class TOutput {
public:
    TOutput() = default;
    ~TOutput() { avifRWDataFree(&m_data); }
    TOutput(const TOutput&) = delete;
    TOutput& operator=(const TOutput&) = delete;
    avifRWData* Data() { return &m_data; }

private:
    avifRWData m_data AVIF_DATA_EMPTY;
};

[[noreturn]] void Fail(avifResult result, const char* what)
{
    if (result == AVIF_RESULT_OUT_OF_MEMORY)
        throw EOutOfResources("Out of memory");
    throw EInvalidGraphicOperation(
        std::string("AVIF ") + what + " failed (" + avifResultToString(result) + ")");
}

// The view as red, green, blue, alpha rows with the transparent colour's
// alpha at 0; empty when every pixel stays opaque.
std::vector<uint8_t> WithTransparency(const TPixelView& view, std::optional<TColor> transparent)
{
    std::vector<uint8_t> rgba(size_t(view.Width) * size_t(view.Height) * 4);
    const uint32_t key = transparent ? (*transparent & 0xFFFFFF) : 0x1000000;
    const bool bgr = view.Layout == TPixelLayout::Bgr24;
    bool translucent = false;
    uint8_t* out = rgba.data();
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* in = view.Row(y);
        for (int x = 0; x < view.Width; ++x, in += view.BytesPerPixel(), out += 4) {
            out[0] = bgr ? in[2] : in[0];
            out[1] = in[1];
            out[2] = bgr ? in[0] : in[2];
            out[3] = bgr ? 255 : in[3];
            if (RGB(out[0], out[1], out[2]) == key)
                out[3] = 0;
            translucent = translucent || out[3] != 255;
        }
    }
    if (!translucent)
        rgba.clear();
    return rgba;
}

} // namespace

int AvifQuantizer(int quality)
{
    const int clamped = std::clamp(quality, 0, 100);
    return ((100 - clamped) * AVIF_QUANTIZER_WORST_QUALITY + 50) / 100;
}

std::vector<uint8_t> WriteAvif(const TPixelView& view, const TAvifOptions& options)
{
    if (view.Width <= 0 || view.Height <= 0 || ExceedsPixelLimit(view.Width, view.Height))
        throw EInvalidGraphicOperation("Cannot write an AVIF image of " + std::to_string(view.Width) + " x "
            + std::to_string(view.Height) + " pixels");
    const avifPixelFormat yuv
        = options.Lossless || options.FullChroma ? AVIF_PIXEL_FORMAT_YUV444 : AVIF_PIXEL_FORMAT_YUV420;
    TImagePtr image(avifImageCreate(uint32_t(view.Width), uint32_t(view.Height), 8, yuv));
    if (!image)
        throw EOutOfResources("Out of memory");
    image->yuvRange = AVIF_RANGE_FULL;
    image->colorPrimaries = AVIF_COLOR_PRIMARIES_BT709;
    image->transferCharacteristics = AVIF_TRANSFER_CHARACTERISTICS_SRGB;
    // The identity matrix stores green, blue and red as the planes
    // themselves: nothing is rounded on the way in or out.
    image->matrixCoefficients
        = options.Lossless ? AVIF_MATRIX_COEFFICIENTS_IDENTITY : AVIF_MATRIX_COEFFICIENTS_BT601;

    const std::vector<uint8_t> rgba = WithTransparency(view, options.TransparentColor);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.depth = 8;
    if (!rgba.empty()) {
        rgb.format = AVIF_RGB_FORMAT_RGBA;
        rgb.pixels = const_cast<uint8_t*>(rgba.data());
        rgb.rowBytes = uint32_t(view.Width) * 4;
    } else {
        // Read only: libavif's RGB side is not const-qualified.
        rgb.format = view.Layout == TPixelLayout::Bgr24 ? AVIF_RGB_FORMAT_BGR : AVIF_RGB_FORMAT_RGBA;
        rgb.ignoreAlpha = AVIF_TRUE;
        rgb.pixels = const_cast<uint8_t*>(view.Data);
        rgb.rowBytes = static_cast<uint32_t>(view.Stride);
    }
    if (const avifResult result = avifImageRGBToYUV(image.get(), &rgb); result != AVIF_RESULT_OK)
        Fail(result, "colour conversion");

    const std::unique_ptr<avifEncoder, TEncoderDeleter> encoder(avifEncoderCreate());
    if (!encoder)
        throw EOutOfResources("Out of memory");
    encoder->codecChoice = AVIF_CODEC_CHOICE_AOM;
    encoder->maxThreads = std::max(options.Threads, 1);
    encoder->speed = std::clamp(options.Speed, kMinAvifSpeed, kMaxAvifSpeed);
    const int quantizer = options.Lossless ? AVIF_QUANTIZER_LOSSLESS : AvifQuantizer(options.Quality);
    encoder->minQuantizer = quantizer;
    encoder->maxQuantizer = quantizer;
    TOutput output;
    if (const avifResult result = avifEncoderWrite(encoder.get(), image.get(), output.Data());
        result != AVIF_RESULT_OK)
        Fail(result, "encoding");
    return { output.Data()->data, output.Data()->data + output.Data()->size };
}

TAvifPixels ReadAvif(const std::vector<uint8_t>& bytes)
{
    const std::unique_ptr<avifDecoder, TDecoderDeleter> decoder(avifDecoderCreate());
    TImagePtr image(avifImageCreateEmpty());
    if (!decoder || !image)
        throw EOutOfResources("Out of memory");
    decoder->maxThreads = 1;
    decoder->imageSizeLimit
        = static_cast<uint32_t>(std::min<int64_t>(kMaxPicturePixels, decoder->imageSizeLimit));
    avifResult result = avifDecoderReadMemory(decoder.get(), image.get(), bytes.data(), bytes.size());
    if (result != AVIF_RESULT_OK)
        throw EInvalidGraphic(std::string("AVIF image is not valid (") + avifResultToString(result) + ")");
    if (image->width == 0 || image->height == 0 || ExceedsPixelLimit(image->width, image->height))
        throw EInvalidGraphic("AVIF image is not valid (its size is out of range)");
    TAvifPixels pixels;
    pixels.Width = static_cast<int>(image->width);
    pixels.Height = static_cast<int>(image->height);
    pixels.Rgba.resize(size_t(image->width) * size_t(image->height) * 4);
    avifRGBImage rgb;
    avifRGBImageSetDefaults(&rgb, image.get());
    rgb.depth = 8;
    rgb.format = AVIF_RGB_FORMAT_RGBA;
    rgb.pixels = pixels.Rgba.data();
    rgb.rowBytes = image->width * 4;
    result = avifImageYUVToRGB(image.get(), &rgb);
    if (result != AVIF_RESULT_OK)
        throw EInvalidGraphic(std::string("AVIF image is not valid (") + avifResultToString(result) + ")");
    return pixels;
}

} // namespace sw
