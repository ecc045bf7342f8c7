// What the writer produces, read back by libpng (and checked by pngcheck
// when it is installed): every layout it may choose gives exactly the
// pixels it was given.

#include "core/base/errors.h"
#include "core/imaging/png/png_reader.h"
#include "core/imaging/png/png_writer.h"
#include "png_test_support.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace sw {
namespace {

using test::DecodeWithLibpng;

struct TPixels {
    std::vector<uint8_t> Bytes;
    TPixelView View;
};

// width x height pixels of the layout, colour(x, y) giving red, green,
// blue, alpha; Bgr24 rows are padded to 4 bytes like a bitmap's.
TPixels MakePixels(
    int width, int height, TPixelLayout layout, const std::function<uint32_t(int, int)>& colour)
{
    TPixels pixels;
    const int bytesPerPixel = layout == TPixelLayout::Bgr24 ? 3 : 4;
    const ptrdiff_t stride = (width * bytesPerPixel + 3) / 4 * 4;
    pixels.Bytes.assign(size_t(stride) * size_t(height), 0xEE);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            uint8_t* p = pixels.Bytes.data() + y * stride + x * bytesPerPixel;
            const uint8_t r = uint8_t(c), g = uint8_t(c >> 8), b = uint8_t(c >> 16), a = uint8_t(c >> 24);
            if (layout == TPixelLayout::Bgr24) {
                p[0] = b, p[1] = g, p[2] = r;
            } else {
                p[0] = r, p[1] = g, p[2] = b, p[3] = a;
            }
        }
    }
    pixels.View = { pixels.Bytes.data(), width, height, stride, layout };
    return pixels;
}

uint32_t Rgba(int r, int g, int b, int a = 255)
{
    return uint32_t(r) | uint32_t(g) << 8 | uint32_t(b) << 16 | uint32_t(a) << 24;
}

std::vector<uint8_t> ExpectedRgba(const TPixelView& view, std::optional<TColor> transparent)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < view.Height; ++y) {
        for (int x = 0; x < view.Width; ++x) {
            const uint8_t* p = view.Row(y) + x * view.BytesPerPixel();
            const bool bgr = view.Layout == TPixelLayout::Bgr24;
            const uint8_t r = bgr ? p[2] : p[0], g = p[1], b = bgr ? p[0] : p[2];
            uint8_t a = bgr ? 255 : p[3];
            if (transparent && RGB(r, g, b) == *transparent)
                a = 0;
            out.insert(out.end(), { r, g, b, a });
        }
    }
    return out;
}

uint8_t ColorType(const std::vector<uint8_t>& png)
{
    return png[25];
}
uint8_t BitDepth(const std::vector<uint8_t>& png)
{
    return png[24];
}

bool PngcheckAccepts(const std::vector<uint8_t>& png)
{
    static const bool available = std::system("pngcheck > /dev/null 2>&1") != 127 * 256;
    if (!available)
        return true;
    test::TempFolder folder;
    const std::string path = folder / "cell.png";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
    return std::system(("pngcheck -q " + path + " > /dev/null").c_str()) == 0;
}

TEST(PngWriter, EveryLayoutDecodesToTheSamePixels)
{
    struct TCase {
        const char* Name;
        int Width, Height;
        TPixelLayout Layout;
        std::function<uint32_t(int, int)> Colour;
        std::optional<TColor> Transparent;
        uint8_t ColorType; // the layout the writer should find smallest
        uint8_t BitDepth;
    };
    const TPixelLayout bgr = TPixelLayout::Bgr24, rgba = TPixelLayout::Rgba32;
    auto noise = [](int x, int y) {
        uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
        h ^= h >> 16, h *= 0x85EBCA6Bu, h ^= h >> 13, h *= 0xC2B2AE35u;
        return h ^ (h >> 16);
    };
    const TCase cases[] = {
        { "photo-like", 61, 37, bgr,
            [&](int x, int y) { return (noise(x, y) & 0x0F0F0F) | Rgba(x * 4, y * 6, 90); }, {}, 2, 8 },
        { "two colours", 33, 19, bgr,
            [&](int x, int y) { return noise(x, y) & 64 ? Rgba(20, 40, 80) : Rgba(255, 255, 255); }, {}, 3,
            1 },
        { "200 colours", 40, 40, bgr,
            [&](int x, int y) {
                const int n = int(noise(x, y) % 200);
                return Rgba(n * 37 % 256, n * 91 % 256, n * 13 % 256);
            },
            {}, 3, 8 },
        { "grey levels of 4 bits", 50, 3, bgr,
            [](int x, int) { return Rgba(x % 16 * 17, x % 16 * 17, x % 16 * 17); }, {}, 0, 4 },
        { "grey ramp with noise", 300, 20, bgr,
            [&](int x, int y) {
                int v = (x + int(noise(x, y) % 3)) % 256;
                return Rgba(v, v, v);
            },
            {}, 0, 8 },
        { "transparent colour in a photo", 64, 30, bgr,
            [&](int x, int y) { return x < 10 ? Rgba(240, 240, 240) : (noise(x, y) & 0x3F3F3F) | 0x808000; },
            RGB(240, 240, 240), 2, 8 },
        { "transparent colour, few colours", 20, 20, bgr,
            [](int x, int) { return x < 10 ? Rgba(240, 240, 240) : Rgba(0, 0, 128); }, RGB(240, 240, 240), 3,
            1 },
        { "graded alpha", 70, 20, rgba,
            [&](int x, int y) { return (noise(x, y) & 0xFFFFFF) | uint32_t(x * 3) << 24; }, {}, 6, 8 },
        { "grey with alpha", 300, 4, rgba,
            [](int x, int y) { return Rgba(x % 256, x % 256, x % 256, (x * y) % 256); }, {}, 4, 8 },
        { "cut-out with different colours under it", 300, 4, rgba,
            [&](int x, int y) { return (noise(x, y) & 0xFFFFFF) | (x % 5 ? 0xFF000000u : 0); }, {}, 6, 8 },
        { "one pixel", 1, 1, bgr, [](int, int) { return Rgba(1, 2, 3); }, {}, 2, 8 },
        // Above 4 MiB of rows the writer makes each row as it filters it,
        // and a layout without trials is judged by its size.
        { "photo too large for trials", 1500, 1000, bgr,
            [&](int x, int y) { return (noise(x, y) & 0x0F0F0F) | Rgba(x % 256, y % 256, 90); }, {}, 2, 8 },
        { "two colours, the direct layout too large for trials", 4200, 1100, bgr,
            [&](int x, int y) { return noise(x, y) & 64 ? Rgba(20, 40, 80) : Rgba(255, 255, 255); }, {}, 3,
            1 },
        { "200 colours, both layouts too large for trials", 2100, 2100, bgr,
            [&](int x, int y) {
                const int n = int(noise(x / 3, y / 3) % 200);
                return Rgba(n * 37 % 256, n * 91 % 256, n * 13 % 256);
            },
            {}, 3, 8 },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TPixels pixels = MakePixels(c.Width, c.Height, c.Layout, c.Colour);
        TPngOptions options;
        options.TransparentColor = c.Transparent;
        const std::vector<uint8_t> png = WritePng(pixels.View, options);
        EXPECT_EQ(ColorType(png), c.ColorType);
        EXPECT_EQ(BitDepth(png), c.BitDepth);
        EXPECT_TRUE(PngcheckAccepts(png));
        const auto decoded = DecodeWithLibpng(png);
        ASSERT_TRUE(decoded.has_value());
        ASSERT_EQ(decoded->Width, c.Width);
        ASSERT_EQ(decoded->Height, c.Height);
        EXPECT_TRUE(decoded->Rgba == ExpectedRgba(pixels.View, c.Transparent));
        EXPECT_TRUE(ReadPng(png).Rgba == decoded->Rgba);
    }
}

TEST(PngWriter, PalettedPixelsKeepTheirColoursAndTransparentEntry)
{
    // Entry 1 is unused and entry 2 transparent: the file drops the first
    // and puts the second in front, so tRNS needs one byte.
    const std::vector<TRGBQuad> palette
        = { { 255, 0, 0, 0 }, { 1, 2, 3, 0 }, { 240, 240, 240, 0 }, { 0, 200, 0, 0 } };
    std::vector<uint8_t> indices;
    for (int i = 0; i < 60; ++i)
        indices.push_back(static_cast<uint8_t>(std::vector<int> { 0, 2, 3 }[i % 7 % 3]));
    const std::vector<uint8_t> png = WritePng8({ palette, indices, 12, 5, 2 });
    EXPECT_EQ(ColorType(png), 3);
    EXPECT_EQ(BitDepth(png), 2);
    EXPECT_TRUE(PngcheckAccepts(png));
    const auto decoded = DecodeWithLibpng(png);
    ASSERT_TRUE(decoded.has_value());
    for (size_t i = 0; i < indices.size(); ++i) {
        const TRGBQuad& c = palette[indices[i]];
        const std::vector<uint8_t> want = { c.Red, c.Green, c.Blue, uint8_t(indices[i] == 2 ? 0 : 255) };
        EXPECT_TRUE(std::equal(want.begin(), want.end(), decoded->Rgba.begin() + long(i) * 4))
            << "pixel " << i;
    }
}

TEST(PngWriter, RefusesInputItCannotWrite)
{
    const std::vector<TRGBQuad> palette(4);
    const std::vector<uint8_t> indices(6, 1);
    const std::vector<uint8_t> outside = { 0, 1, 2, 3, 4, 0 };
    struct TCase {
        std::function<void()> Write;
        const char* Message;
    } cases[] = {
        { [] { WritePng(TPixelView {}); }, "Cannot write a PNG image of 0 x 0 pixels" },
        { [&] {
             WritePng8({ palette, outside, 3, 2, {} });
         },
            "Color index 4 is outside the palette of 4 colors" },
        { [&] {
             WritePng8({ palette, indices, 3, 2, 4 });
         },
            "Transparent index 4 is outside the palette of 4 colors" },
        { [&] {
             WritePng8({ palette, indices, 2, 2, {} });
         },
            "6 color indices given for 2 x 2 pixels" },
        { [&] {
             WritePng8({ {}, indices, 3, 2, {} });
         },
            "A PNG palette holds 1 to 256 colors, not 0" },
    };
    for (const TCase& c : cases) {
        try {
            c.Write();
            ADD_FAILURE() << "no exception for " << c.Message;
        } catch (const EInvalidGraphicOperation& e) {
            EXPECT_STREQ(e.what(), c.Message);
        }
    }
}

} // namespace
} // namespace sw
