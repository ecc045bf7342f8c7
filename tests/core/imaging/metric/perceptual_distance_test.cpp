// The perceptual distance on made-up cells: what a viewer cannot see stays
// below the visually lossless level, what he can goes above it, and the
// colour under a transparent pixel does not count.

#include "core/imaging/metric/perceptual_distance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;

// A photo-like gradient with a panel of text-like strokes, as RGBA.
Bytes Cell(int width, int height)
{
    Bytes rgba;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool stroke = x > width / 2 && y % 7 < 2 && x % 5 != 0;
            rgba.insert(rgba.end(),
                { uint8_t(stroke ? 20 : 60 + x * 2 % 190), uint8_t(stroke ? 20 : 90 + y * 3 % 160),
                    uint8_t(stroke ? 20 : 150), 255 });
        }
    return rgba;
}

TPixelView View(const Bytes& rgba, int width, int height)
{
    return { rgba.data(), width, height, width * 4, TPixelLayout::Rgba32 };
}

Bytes Changed(Bytes rgba, const std::function<void(uint8_t*, size_t)>& change)
{
    for (size_t i = 0; i < rgba.size(); i += 4)
        change(&rgba[i], i / 4);
    return rgba;
}

TEST(PerceptualDistance, SeparatesUnseenFromSeenChanges)
{
    constexpr int kWidth = 64;
    constexpr int kHeight = 48;
    const Bytes cell = Cell(kWidth, kHeight);
    const TPixelView view = View(cell, kWidth, kHeight);
    struct TCase {
        const char* Name;
        Bytes Decoded;
        bool Visible;
    };
    const TCase cases[] = {
        { "one level of noise",
            Changed(cell, [](uint8_t* p, size_t i) { p[1] = uint8_t(p[1] ^ (i % 3 == 0)); }), false },
        { "strokes faded",
            Changed(cell,
                [](uint8_t* p, size_t) {
                    if (p[0] == 20)
                        p[0] = p[1] = p[2] = 120;
                }),
            true },
        { "colour cast", Changed(cell, [](uint8_t* p, size_t) { p[0] = uint8_t(std::min(255, p[0] + 40)); }),
            true },
    };
    EXPECT_EQ(PerceptualDistance(view, std::nullopt, cell), 0);
    for (const TCase& c : cases) {
        const double distance = PerceptualDistance(view, std::nullopt, c.Decoded);
        EXPECT_EQ(distance > kVisuallyLosslessDistance, c.Visible) << c.Name << ": " << distance;
    }
}

TEST(PerceptualDistance, ColourUnderTransparencyDoesNotCount)
{
    constexpr int kWidth = 40;
    constexpr int kHeight = 40;
    // The left half in the transparent colour; the decoder clears it and
    // gives black beneath.
    const Bytes cell = Changed(Cell(kWidth, kHeight), [](uint8_t* p, size_t i) {
        if (i % kWidth < kWidth / 2)
            p[0] = p[1] = p[2] = 240;
    });
    const Bytes decoded = Changed(cell, [](uint8_t* p, size_t i) {
        if (i % kWidth < kWidth / 2)
            p[0] = p[1] = p[2] = p[3] = 0;
    });
    const TPixelView view = View(cell, kWidth, kHeight);
    EXPECT_LT(PerceptualDistance(view, RGB(240, 240, 240), decoded), 0.01);
    EXPECT_GT(PerceptualDistance(view, std::nullopt, decoded), kVisuallyLosslessDistance);
}

TEST(PerceptualDistance, OddSizesGiveANumber)
{
    for (const auto& [width, height] : { std::pair { 1, 1 }, { 3, 50 }, { 50, 2 }, { 9, 9 } }) {
        const Bytes cell = Cell(width, height);
        const Bytes changed = Changed(cell, [](uint8_t* p, size_t) { p[2] = uint8_t(255 - p[2]); });
        const double distance = PerceptualDistance(View(cell, width, height), std::nullopt, changed);
        EXPECT_TRUE(std::isfinite(distance)) << width << " x " << height;
        EXPECT_GE(distance, 0) << width << " x " << height;
    }
    const Bytes cell = Cell(8, 8);
    EXPECT_TRUE(std::isinf(PerceptualDistance(View(cell, 8, 8), std::nullopt, Bytes(10))));
}

} // namespace
} // namespace sw
