#include "core/imaging/png/png_reader.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"

#include <spng.h>

#include <cstring>
#include <memory>

namespace sw {

namespace {

constexpr uint8_t kSignature[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };

// Deflate cannot expand a byte into more than 1032 bytes, so a file's size
// bounds the pixel data it can hold.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Ancillary chunks are never used here; these only stop a file from
// making the library hold many megabytes of text or profiles.
constexpr size_t kChunkSizeLimit = size_t(1) << 24;
constexpr size_t kChunkCacheLimit = size_t(1) << 26;

[[noreturn]] void Invalid(const char* reason)
{
    throw EInvalidGraphic(Format("PNG image is not valid (%s)", reason));
}

void Check(int error)
{
    if (error != 0)
        Invalid(spng_strerror(error));
}

struct TContextFree {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};

// Filtered bytes the image data of a non-interlaced picture inflates to;
// an interlaced one needs a few more.
uint64_t FilteredSize(const spng_ihdr& header)
{
    int channels = 1;
    switch (header.color_type) {
    case SPNG_COLOR_TYPE_TRUECOLOR:
        channels = 3;
        break;
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
        channels = 2;
        break;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
        channels = 4;
        break;
    default:
        break;
    }
    const uint64_t rowBits = uint64_t(header.width) * uint64_t(channels) * header.bit_depth;
    return uint64_t(header.height) * (1 + (rowBits + 7) / 8);
}

} // namespace

bool IsPngSignature(std::span<const uint8_t> bytes)
{
    return bytes.size() >= sizeof kSignature && std::memcmp(bytes.data(), kSignature, sizeof kSignature) == 0;
}

TPngPicture ReadPng(std::span<const uint8_t> bytes)
{
    if (!IsPngSignature(bytes))
        Invalid("no PNG signature");
    std::unique_ptr<spng_ctx, TContextFree> context(spng_ctx_new(0));
    if (!context)
        throw EOutOfResources("Out of memory");
    spng_ctx* png = context.get();
    Check(spng_set_png_buffer(png, bytes.data(), bytes.size()));
    Check(spng_set_chunk_limits(png, kChunkSizeLimit, kChunkCacheLimit));

    spng_ihdr header {};
    Check(spng_get_ihdr(png, &header));
    if (ExceedsPixelLimit(header.width, header.height))
        throw EInvalidGraphic(PictureTooLargeMessage(header.width, header.height));
    if (FilteredSize(header) > uint64_t(bytes.size()) * kMaxDeflateRatio)
        Invalid("the file is too short for its size");

    TPngPicture picture;
    picture.Width = static_cast<int>(header.width);
    picture.Height = static_cast<int>(header.height);
    size_t size = 0;
    Check(spng_decoded_image_size(png, SPNG_FMT_RGBA8, &size));
    picture.Rgba.resize(size);
    Check(spng_decode_image(png, picture.Rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS));
    for (size_t i = 3; i < size; i += 4) {
        if (picture.Rgba[i] != 255) {
            picture.HasAlpha = true;
            break;
        }
    }
    return picture;
}

void PngToBitmap(const TPngPicture& picture, TBitmap& bitmap)
{
    TBitmap result;
    result.SetPixelFormat(TPixelFormat::pf24bit);
    result.SetSizeForOverwrite(picture.Width, picture.Height);
    const uint8_t* in = picture.Rgba.data();
    for (int y = 0; y < picture.Height; ++y) {
        uint8_t* out = result.ScanLine(y);
        for (int x = 0; x < picture.Width; ++x, in += 4, out += 3) {
            const unsigned alpha = in[3];
            const unsigned white = 255 * (255 - alpha);
            out[0] = static_cast<uint8_t>((in[2] * alpha + white + 127) / 255);
            out[1] = static_cast<uint8_t>((in[1] * alpha + white + 127) / 255);
            out[2] = static_cast<uint8_t>((in[0] * alpha + white + 127) / 255);
        }
    }
    bitmap.Assign(result);
}

void LoadPngBitmap(TStream& stream, TBitmap& bitmap)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.Remaining()));
    stream.ReadBuffer(bytes.data(), bytes.size());
    PngToBitmap(ReadPng(bytes), bitmap);
}

} // namespace sw
