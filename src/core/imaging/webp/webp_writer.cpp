#include "core/imaging/webp/webp_writer.h"

#include "core/base/errors.h"

#include <webp/encode.h>

#include <algorithm>

namespace sw {

namespace {

[[noreturn]] void Refuse(const std::string& message)
{
    throw EInvalidGraphicOperation(message);
}

// Owns what libwebp allocates for one encode.
class TEncoding {
public:
    TEncoding()
    {
        if (!WebPPictureInit(&m_picture) || !WebPConfigInit(&m_config))
            Refuse("The WebP library does not match the version built against");
        WebPMemoryWriterInit(&m_writer);
    }
    ~TEncoding()
    {
        WebPPictureFree(&m_picture);
        WebPMemoryWriterClear(&m_writer);
    }
    TEncoding(const TEncoding&) = delete;
    TEncoding& operator=(const TEncoding&) = delete;

    WebPPicture& Picture() { return m_picture; }
    WebPConfig& Config() { return m_config; }

    std::vector<uint8_t> Encode()
    {
        if (!WebPValidateConfig(&m_config))
            Refuse("Invalid WebP encoder settings");
        m_picture.writer = WebPMemoryWrite;
        m_picture.custom_ptr = &m_writer;
        if (!WebPEncode(&m_config, &m_picture)) {
            if (m_picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY
                || m_picture.error_code == VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY)
                throw EOutOfResources("Out of memory");
            Refuse(Format("WebP encoding failed (libwebp error %d)", static_cast<int>(m_picture.error_code)));
        }
        return std::vector<uint8_t>(m_writer.mem, m_writer.mem + m_writer.size);
    }

private:
    WebPPicture m_picture {};
    WebPConfig m_config {};
    WebPMemoryWriter m_writer {};
};

// The view as blue, green, red, alpha rows with the transparent colour's
// alpha at 0; empty when no pixel needs an alpha below 255.
std::vector<uint8_t> WithTransparency(const TPixelView& view, std::optional<TColor> transparent)
{
    std::vector<uint8_t> bgra(size_t(view.Width) * size_t(view.Height) * 4);
    const uint32_t key = transparent ? (*transparent & 0xFFFFFF) : 0x1000000;
    bool translucent = false;
    uint8_t* out = bgra.data();
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* in = view.Row(y);
        for (int x = 0; x < view.Width; ++x, in += view.BytesPerPixel(), out += 4) {
            const bool bgr = view.Layout == TPixelLayout::Bgr24;
            out[0] = bgr ? in[0] : in[2];
            out[1] = in[1];
            out[2] = bgr ? in[2] : in[0];
            out[3] = bgr ? 255 : in[3];
            if (RGB(out[2], out[1], out[0]) == key)
                out[3] = 0;
            translucent = translucent || out[3] != 255;
        }
    }
    if (!translucent)
        bgra.clear();
    return bgra;
}

} // namespace

void CheckWebpWritable(int64_t width, int64_t height)
{
    if (width <= 0 || height <= 0 || width > WEBP_MAX_DIMENSION || height > WEBP_MAX_DIMENSION)
        Refuse(Format("Cannot write a WebP image of %lld x %lld pixels (at most %d x %d)",
            static_cast<long long>(width), static_cast<long long>(height), WEBP_MAX_DIMENSION,
            WEBP_MAX_DIMENSION));
}

std::vector<uint8_t> WriteWebp(const TPixelView& view, const TWebpOptions& options)
{
    CheckWebpWritable(view.Width, view.Height);
    TEncoding encoding;
    WebPConfig& config = encoding.Config();
    config.lossless = options.Lossless ? 1 : 0;
    if (!options.Lossless)
        config.quality = static_cast<float>(std::clamp(options.Quality, 1, 100));

    WebPPicture& picture = encoding.Picture();
    picture.width = view.Width;
    picture.height = view.Height;
    // Lossless works on ARGB; lossy converts straight to YUV.
    picture.use_argb = options.Lossless ? 1 : 0;
    const auto stride = static_cast<int>(view.Stride);
    int imported = 0;
    const bool plainBgr = view.Layout == TPixelLayout::Bgr24 && !options.TransparentColor;
    const bool plainRgba = view.Layout == TPixelLayout::Rgba32 && !options.TransparentColor;
    if (plainBgr) {
        imported = WebPPictureImportBGR(&picture, view.Data, stride);
    } else if (plainRgba) {
        imported = WebPPictureImportRGBA(&picture, view.Data, stride);
    } else {
        const std::vector<uint8_t> bgra = WithTransparency(view, options.TransparentColor);
        if (bgra.empty() && view.Layout == TPixelLayout::Bgr24)
            imported = WebPPictureImportBGR(&picture, view.Data, stride);
        else if (bgra.empty())
            imported = WebPPictureImportRGBA(&picture, view.Data, stride);
        else
            imported = WebPPictureImportBGRA(&picture, bgra.data(), view.Width * 4);
    }
    if (!imported)
        throw EOutOfResources("Out of memory");
    return encoding.Encode();
}

} // namespace sw
