#pragma once

// The peers' encoders as every benchmark calls them, into memory: giflib
// writing one frame of palette indices, libjpeg-turbo writing 24-bit rows
// at quality 90 with its defaults (4:2:0). Each call sets up its library
// afresh, as a program encoding one picture would.

#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h> // after <cstdio>: it uses FILE

namespace sw::bench {

inline int AppendToVector(GifFileType* file, const GifByteType* data, int count)
{
    auto* out = static_cast<std::vector<uint8_t>*>(file->UserData);
    out->insert(out->end(), data, data + count);
    return count;
}

// What giflib is given: a picture's frame as our GIF writer makes it, its
// palette indices and its colour table padded to 2^Bits() entries.
struct TIndexImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;
    std::vector<GifColorType> Colors;
    int ColorCount = 0;
    int Bits() const { return ColorBits(ColorCount); }
};

inline TIndexImage IndexImageOf(const TBitmap& bitmap)
{
    TGIFImage image;
    image.Assign(bitmap);
    const TGIFSubImage& frame = image.Images()[0];
    TIndexImage result;
    result.Width = frame.Width();
    result.Height = frame.Height();
    result.Pixels = frame.Data();
    result.ColorCount = frame.ColorMap().Count();
    result.Colors.assign(size_t(1) << result.Bits(), GifColorType { 0, 0, 0 });
    for (int i = 0; i < result.ColorCount; ++i) {
        const TGIFColor& c = frame.ColorMap()[i];
        result.Colors[size_t(i)] = GifColorType { c.Red, c.Green, c.Blue };
    }
    return result;
}

// A whole single-frame file, since giflib writes nothing less. colours
// holds 2^bits entries.
inline void EncodeWithGiflib(const uint8_t* indices, int width, int height,
    std::span<const GifColorType> colors, int bits, std::vector<uint8_t>& out)
{
    out.clear();
    int error = 0;
    GifFileType* gif = EGifOpen(&out, AppendToVector, &error);
    if (gif == nullptr)
        throw std::runtime_error("EGifOpen failed");
    ColorMapObject* map = GifMakeMapObject(int(colors.size()), colors.data());
    bool ok = EGifPutScreenDesc(gif, width, height, bits, 0, nullptr) == GIF_OK
        && EGifPutImageDesc(gif, 0, 0, width, height, false, map) == GIF_OK;
    // giflib takes rows through a non-const pointer but only reads them.
    auto* row = const_cast<GifPixelType*>(indices);
    for (int y = 0; ok && y < height; ++y, row += width)
        ok = EGifPutLine(gif, row, width) == GIF_OK;
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    if (!ok)
        throw std::runtime_error("giflib failed to write");
}

// first is the top row of blue, green, red pixels; stride the bytes from
// one row to the next. Returns the file's size.
inline size_t EncodeWithLibjpeg(const uint8_t* first, ptrdiff_t stride, int width, int height)
{
    std::vector<JSAMPROW> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[size_t(y)] = const_cast<JSAMPROW>(first + stride * y);
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr error {};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* output = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &output, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height)
        jpeg_write_scanlines(
            &cinfo, rows.data() + cinfo.next_scanline, cinfo.image_height - cinfo.next_scanline);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::free(output);
    return size;
}

inline void EncodeWithGiflib(const TIndexImage& image, std::vector<uint8_t>& out)
{
    EncodeWithGiflib(image.Pixels.data(), image.Width, image.Height, image.Colors, image.Bits(), out);
}

} // namespace sw::bench
