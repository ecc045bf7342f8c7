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

namespace {

using TContext = std::unique_ptr<spng_ctx, TContextFree>;

// A decoder over the file whose size has been checked against the pixel
// limit and against what its bytes can hold, before any pixel is made.
TContext OpenPng(std::span<const uint8_t> bytes, spng_ihdr& header)
{
    if (!IsPngSignature(bytes))
        Invalid("no PNG signature");
    TContext context(spng_ctx_new(0));
    if (!context)
        throw EOutOfResources("Out of memory");
    spng_ctx* png = context.get();
    Check(spng_set_png_buffer(png, bytes.data(), bytes.size()));
    Check(spng_set_chunk_limits(png, kChunkSizeLimit, kChunkCacheLimit));
    Check(spng_get_ihdr(png, &header));
    if (ExceedsPixelLimit(header.width, header.height))
        throw EInvalidGraphic(PictureTooLargeMessage(header.width, header.height));
    if (FilteredSize(header) > uint64_t(bytes.size()) * kMaxDeflateRatio)
        Invalid("the file is too short for its size");
    return context;
}

// The translucent pixel as blue, green, red over white.
void BlendOntoWhite(const uint8_t* rgba, uint8_t* bgr)
{
    const unsigned alpha = rgba[3];
    const unsigned white = 255 * (255 - alpha);
    bgr[0] = static_cast<uint8_t>((rgba[2] * alpha + white + 127) / 255);
    bgr[1] = static_cast<uint8_t>((rgba[1] * alpha + white + 127) / 255);
    bgr[2] = static_cast<uint8_t>((rgba[0] * alpha + white + 127) / 255);
}

// The image data's last CRC is only read with the chunks after it. A file
// cut short after its image data still reads; damage inside it does not.
void CheckAfterImage(spng_ctx* png)
{
    const int status = spng_decode_chunks(png);
    if (status != 0 && status != SPNG_IO_EOF && status != SPNG_IO_ERROR)
        Check(status);
}

} // namespace

TPngPicture ReadPng(std::span<const uint8_t> bytes)
{
    spng_ihdr header {};
    const TContext context = OpenPng(bytes, header);
    spng_ctx* png = context.get();
    TPngPicture picture;
    picture.Width = static_cast<int>(header.width);
    picture.Height = static_cast<int>(header.height);
    size_t size = 0;
    Check(spng_decoded_image_size(png, SPNG_FMT_RGBA8, &size));
    picture.Rgba.resize(size);
    Check(spng_decode_image(png, picture.Rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS));
    CheckAfterImage(png);
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
        for (int x = 0; x < picture.Width; ++x, in += 4, out += 3)
            BlendOntoWhite(in, out);
    }
    bitmap.Assign(result);
}

void ReadPngBitmap(std::span<const uint8_t> bytes, TBitmap& bitmap)
{
    spng_ihdr header {};
    const TContext context = OpenPng(bytes, header);
    spng_ctx* png = context.get();
    TBitmap result;
    result.SetPixelFormat(TPixelFormat::pf24bit);
    result.SetSizeForOverwrite(static_cast<int>(header.width), static_cast<int>(header.height));
    // Row by row into the bitmap, so the picture is never held twice. An
    // interlaced row carries only its pass's pixels, at their columns.
    static constexpr uint32_t kPassStart[7] = { 0, 4, 0, 2, 0, 1, 0 };
    static constexpr uint32_t kPassStep[7] = { 8, 8, 4, 4, 2, 2, 1 };
    const bool interlaced = header.interlace_method != SPNG_INTERLACE_NONE;
    std::vector<uint8_t> row(size_t(header.width) * 4);
    Check(spng_decode_image(png, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE));
    for (;;) {
        spng_row_info info {};
        int status = spng_get_row_info(png, &info);
        if (status == SPNG_EOI)
            break;
        Check(status);
        status = spng_decode_row(png, row.data(), row.size());
        if (status != 0 && status != SPNG_EOI)
            Check(status);
        if (info.row_num >= header.height || info.pass < 0 || info.pass > 6)
            Invalid("a row outside the picture");
        const uint32_t first = interlaced ? kPassStart[info.pass] : 0;
        const uint32_t step = interlaced ? kPassStep[info.pass] : 1;
        uint8_t* out = result.ScanLine(static_cast<int>(info.row_num));
        for (uint32_t x = first; x < header.width; x += step)
            BlendOntoWhite(row.data() + size_t(x) * 4, out + size_t(x) * 3);
        if (status == SPNG_EOI)
            break;
    }
    CheckAfterImage(png);
    bitmap.Assign(result);
}

void LoadPngBitmap(TStream& stream, TBitmap& bitmap)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.Remaining()));
    stream.ReadBuffer(bytes.data(), bytes.size());
    ReadPngBitmap(bytes, bitmap);
}

} // namespace sw
