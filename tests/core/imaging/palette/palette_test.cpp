#include "core/imaging/palette/palette.h"

#include "core/base/errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace sw {
namespace {

struct TPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Bytes; // blue, green, red, rows packed

    TPicture(int width, int height, const std::function<TPaletteColor(int, int)>& colorAt)
        : Width(width)
        , Height(height)
        , Bytes(size_t(width) * size_t(height) * 3)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const TPaletteColor color = colorAt(x, y);
                uint8_t* pixel = &Bytes[(size_t(y) * size_t(width) + size_t(x)) * 3];
                pixel[0] = color.Blue;
                pixel[1] = color.Green;
                pixel[2] = color.Red;
            }
    }

    TPixelView View() const { return { Bytes.data(), Width, Height, ptrdiff_t(Width) * 3 }; }
    TPaletteColor At(int x, int y) const
    {
        const uint8_t* pixel = &Bytes[(size_t(y) * size_t(Width) + size_t(x)) * 3];
        return { pixel[2], pixel[1], pixel[0] };
    }
};

std::vector<uint8_t> Map(const TPicture& picture, const TPalette& palette, TDither dither)
{
    std::vector<uint8_t> indices(size_t(picture.Width) * size_t(picture.Height), 0xEE);
    MapToPalette(picture.View(), palette, dither, indices.data(), picture.Width);
    return indices;
}

std::set<std::tuple<int, int, int>> ColorSet(const std::vector<TPaletteColor>& colors)
{
    std::set<std::tuple<int, int, int>> set;
    for (const TPaletteColor& color : colors)
        set.insert({ color.Red, color.Green, color.Blue });
    return set;
}

// Squared error per channel, each pixel against its entry's colour, or, with
// a block size above 1, each block's mean against the mean of its entries'
// colours: what the eye sees from a distance.
double MeanSquaredError(
    const TPicture& picture, const TPalette& palette, const std::vector<uint8_t>& indices, int block = 1)
{
    double total = 0;
    int count = 0;
    for (int top = 0; top + block <= picture.Height; top += block)
        for (int left = 0; left + block <= picture.Width; left += block) {
            double source[3] = { 0, 0, 0 }, mapped[3] = { 0, 0, 0 };
            for (int y = top; y < top + block; ++y)
                for (int x = left; x < left + block; ++x) {
                    const TPaletteColor s = picture.At(x, y);
                    const TPaletteColor m
                        = palette.Colors[indices[size_t(y) * size_t(picture.Width) + size_t(x)]];
                    source[0] += s.Red, source[1] += s.Green, source[2] += s.Blue;
                    mapped[0] += m.Red, mapped[1] += m.Green, mapped[2] += m.Blue;
                }
            for (int c = 0; c < 3; ++c) {
                const double difference = (source[c] - mapped[c]) / (block * block);
                total += difference * difference;
                ++count;
            }
        }
    return total / count;
}

double Psnr(double meanSquaredError)
{
    return 10 * std::log10(255.0 * 255.0 / meanSquaredError);
}

// Smooth shading with sensor-like noise: far more distinct colours than the
// histogram keeps exactly.
TPicture Photo(int width, int height)
{
    std::mt19937 random(11);
    return TPicture(width, height, [&](int x, int y) {
        const uint32_t noise = random();
        auto channel = [](double value) { return uint8_t(std::clamp(int(value), 0, 255)); };
        return TPaletteColor { channel(
                                   128 + 100 * std::sin(x * 0.02) * std::cos(y * 0.03) + int(noise % 9) - 4),
            channel(128 + 90 * std::sin((x + y) * 0.015) + int((noise >> 8) % 9) - 4),
            channel(100 + 80 * std::cos(x * 0.011 - y * 0.02) + int((noise >> 16) % 9) - 4) };
    });
}

TEST(Palette, FewColoursGetExactlyTheirOwnEntries)
{
    struct Case {
        const char* Description;
        int Colors; // distinct colours in the picture
        int MaxColors;
    };
    const Case cases[] = {
        { "one colour", 1, 256 },
        { "two colours at the smallest size", 2, 2 },
        { "sixteen colours", 16, 256 },
        { "a full palette", 256, 256 },
        { "colours close together", 200, 200 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Description);
        // Colours one level apart in red and green, which a histogram of
        // coarse boxes would merge.
        const TPicture picture(64, 48, [&](int x, int y) {
            const int k = (x * 7 + y * 13) % c.Colors;
            return TPaletteColor { uint8_t(100 + k % 16), uint8_t(50 + k / 16), 200 };
        });
        const TPalette palette = MakePalette(picture.View(), c.MaxColors);
        EXPECT_TRUE(palette.Exact);
        EXPECT_EQ(palette.TransparentIndex, -1);
        ASSERT_EQ(int(palette.Colors.size()), c.Colors);
        EXPECT_EQ(ColorSet(palette.Colors).size(), palette.Colors.size());
        for (const TDither dither : { TDither::None, TDither::FloydSteinberg, TDither::Ordered }) {
            const std::vector<uint8_t> indices = Map(picture, palette, dither);
            EXPECT_EQ(MeanSquaredError(picture, palette, indices), 0.0) << "dither " << int(dither);
        }
    }
}

TEST(Palette, ManyColoursAreCutToTheSizeAsked)
{
    // 257 colours for 256 entries, and three for two: no longer exact, never
    // more entries than asked, and every pixel near its entry.
    struct Case {
        int Colors;
        int MaxColors;
        double MinPsnr;
    };
    for (const Case& c : { Case { 257, 256, 45 }, Case { 3, 2, 20 } }) {
        SCOPED_TRACE(c.Colors);
        const TPicture picture(64, 64, [&](int x, int y) {
            const int k = (x + 64 * y) % c.Colors;
            return TPaletteColor { uint8_t(k % 256), uint8_t(k / 256), 9 };
        });
        const TPalette palette = MakePalette(picture.View(), c.MaxColors);
        EXPECT_FALSE(palette.Exact);
        EXPECT_LE(int(palette.Colors.size()), c.MaxColors);
        EXPECT_GE(int(palette.Colors.size()), c.MaxColors - 1);
        EXPECT_GT(Psnr(MeanSquaredError(picture, palette, Map(picture, palette, TDither::None))), c.MinPsnr);
    }
}

TEST(Palette, TransparentColourKeepsItsOwnEntry)
{
    const TPaletteColor transparent { 240, 240, 240 };
    // The page colour, with shades one level off it that must not be taken
    // for it, around a photo.
    const TPicture photo = Photo(96, 64);
    const TPicture picture(96, 64, [&](int x, int y) {
        if (x < 24)
            return transparent;
        if (x < 32)
            return TPaletteColor { 240, 240, uint8_t(239 + (y % 3)) };
        return photo.At(x, y);
    });
    for (const int maxColors : { 2, 16, 256 }) {
        SCOPED_TRACE(maxColors);
        const TPalette palette = MakePalette(picture.View(), maxColors, transparent);
        ASSERT_EQ(palette.TransparentIndex, 0);
        EXPECT_EQ(palette.Colors[0], transparent);
        EXPECT_LE(int(palette.Colors.size()), maxColors);
        for (const TDither dither : { TDither::None, TDither::FloydSteinberg, TDither::Ordered }) {
            const std::vector<uint8_t> indices = Map(picture, palette, dither);
            for (int y = 0; y < picture.Height; ++y)
                for (int x = 0; x < picture.Width; ++x) {
                    const uint8_t index = indices[size_t(y) * size_t(picture.Width) + size_t(x)];
                    ASSERT_LT(index, palette.Colors.size());
                    ASSERT_EQ(index == 0, picture.At(x, y) == transparent)
                        << "dither " << int(dither) << " at " << x << ", " << y;
                }
        }
    }

    // Few colours: the transparent one first, the rest exact; absent, no entry.
    const TPicture few(8, 8, [&](int x, int) {
        return x < 4 ? transparent : TPaletteColor { 240, 240, 241 };
    });
    const TPalette exact = MakePalette(few.View(), 2, transparent);
    EXPECT_TRUE(exact.Exact);
    EXPECT_EQ(exact.Colors, (std::vector<TPaletteColor> { transparent, { 240, 240, 241 } }));
    const TPalette absent = MakePalette(few.View(), 2, TPaletteColor { 1, 2, 3 });
    EXPECT_EQ(absent.TransparentIndex, -1);
    EXPECT_EQ(absent.Colors.size(), 2u);
}

TEST(Palette, SamePicturesGiveTheSameBytes)
{
    // The same pixels at another address and row spacing, and walked
    // bottom-up, must change nothing.
    const TPicture picture = Photo(300, 240);
    std::vector<uint8_t> padded(size_t(picture.Height) * 1000, 0x5A);
    for (int y = 0; y < picture.Height; ++y)
        std::copy_n(&picture.Bytes[size_t(y) * size_t(picture.Width) * 3], picture.Width * 3,
            &padded[size_t(picture.Height - 1 - y) * 1000]);
    const TPixelView bottomUp { &padded[size_t(picture.Height - 1) * 1000], picture.Width, picture.Height,
        -1000 };

    for (const int maxColors : { 16, 256 }) {
        const TPalette first = MakePalette(picture.View(), maxColors);
        const TPalette second = MakePalette(bottomUp, maxColors);
        EXPECT_FALSE(first.Exact);
        ASSERT_EQ(first.Colors, second.Colors);
        for (const TDither dither : { TDither::None, TDither::FloydSteinberg, TDither::Ordered }) {
            std::vector<uint8_t> again(size_t(picture.Width) * size_t(picture.Height));
            MapToPalette(bottomUp, second, dither, again.data(), picture.Width);
            EXPECT_EQ(Map(picture, first, dither), again) << maxColors << " colours, dither " << int(dither);
        }
    }
}

TEST(Palette, QuantisedPhotoStaysClose)
{
    // Floors a dB under what the quantiser reaches (32 and 22 dB); the web
    // cube gives about 25 dB at 216 colours.
    const TPicture picture = Photo(512, 256);
    for (const auto& [maxColors, minPsnr] : { std::pair { 256, 31.0 }, std::pair { 16, 21.0 } }) {
        const TPalette palette = MakePalette(picture.View(), maxColors);
        EXPECT_EQ(int(palette.Colors.size()), maxColors);
        EXPECT_GT(Psnr(MeanSquaredError(picture, palette, Map(picture, palette, TDither::None))), minPsnr)
            << maxColors;
    }
}

TEST(Palette, DitheringBringsAGradientCloserFromADistance)
{
    // A grey ramp with a tint, on 6 entries: plain mapping bands it, dithering
    // keeps the mean of each 8 x 8 block near the source.
    const TPicture picture(256, 64, [](int x, int y) {
        return TPaletteColor { uint8_t(x), uint8_t(x), uint8_t(std::min(255, x + y / 8)) };
    });
    const TPalette palette = MakePalette(picture.View(), 6);
    ASSERT_FALSE(palette.Exact);
    const double plain = MeanSquaredError(picture, palette, Map(picture, palette, TDither::None), 8);
    for (const TDither dither : { TDither::FloydSteinberg, TDither::Ordered }) {
        const std::vector<uint8_t> indices = Map(picture, palette, dither);
        EXPECT_TRUE(std::all_of(
            indices.begin(), indices.end(), [&](uint8_t index) { return index < palette.Colors.size(); }));
        EXPECT_LT(MeanSquaredError(picture, palette, indices, 8), plain / 2) << "dither " << int(dither);
    }
}

TEST(Palette, EmptyAndOnePixelPictures)
{
    const TPixelView empty { nullptr, 0, 0, 0 };
    const TPalette none = MakePalette(empty, 256);
    EXPECT_TRUE(none.Colors.empty());
    MapToPalette(empty, TPalette { { { 1, 2, 3 } }, -1, true }, TDither::FloydSteinberg, nullptr, 0);

    const TPicture one(1, 1, [](int, int) { return TPaletteColor { 9, 8, 7 }; });
    for (const auto& transparent :
        { std::optional<TPaletteColor> {}, std::optional { TPaletteColor { 9, 8, 7 } } }) {
        const TPalette palette = MakePalette(one.View(), 2, transparent);
        EXPECT_TRUE(palette.Exact);
        EXPECT_EQ(palette.Colors, std::vector<TPaletteColor> { one.At(0, 0) });
        EXPECT_EQ(palette.TransparentIndex, transparent ? 0 : -1);
        EXPECT_EQ(Map(one, palette, TDither::Ordered), std::vector<uint8_t> { 0 });
    }
}

TEST(Palette, RefusesWhatItCannotServe)
{
    auto messageOf = [](const std::function<void()>& run) -> std::string {
        try {
            run();
        } catch (const EInvalidGraphicOperation& e) {
            return e.what();
        }
        return "(no exception)";
    };
    const TPicture picture(4, 4, [](int x, int) { return TPaletteColor { uint8_t(x), 0, 0 }; });
    const TPalette onlyTransparent { { { 0, 0, 0 } }, 0, true };
    uint8_t indices[16];
    struct Case {
        std::function<void()> Run;
        const char* Message;
    };
    const Case cases[] = {
        { [&] { MakePalette(picture.View(), 1); }, "Invalid palette size 1 (expected 2 to 256 colours)" },
        { [&] { MakePalette(picture.View(), 257); }, "Invalid palette size 257 (expected 2 to 256 colours)" },
        { [&] {
             MakePalette({ picture.Bytes.data(), 4, 4, 11 }, 16);
         },
            "Invalid picture rows (11 bytes apart for 4 pixels)" },
        { [&] {
             MakePalette({ nullptr, -1, 4, 12 }, 16);
         },
            "Invalid picture size (-1 x 4 pixels)" },
        { [&] {
             MakePalette({ picture.Bytes.data(), 1 << 14, 1 << 13, 12 }, 16);
         },
            "Picture too large (16384 x 8192 pixels; the limit is 67108864 pixels)" },
        { [&] { MapToPalette(picture.View(), TPalette {}, TDither::None, indices, 4); },
            "Invalid palette of 0 colours (expected 1 to 256)" },
        { [&] {
             MapToPalette(picture.View(), TPalette { { { 0, 0, 0 } }, 1, false }, TDither::None, indices, 4);
         },
            "Invalid transparent entry 1" },
        { [&] { MapToPalette(picture.View(), onlyTransparent, TDither::None, indices, 3); },
            "Invalid index rows (3 bytes apart for 4 pixels)" },
        { [&] { MapToPalette(picture.View(), onlyTransparent, TDither::None, indices, 4); },
            "The palette has no colour for the picture's opaque pixels" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(messageOf(c.Run), c.Message);
}

} // namespace
} // namespace sw
