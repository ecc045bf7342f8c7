#include "core/layout/line_suggestions.h"

#include <gtest/gtest.h>

#include <functional>

namespace sw {
namespace {

using TColour = std::function<uint32_t(int32_t x, int32_t y)>;

std::vector<uint8_t> Paint(int32_t width, int32_t height, const TColour& colour)
{
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t c = colour(x, y);
            uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = static_cast<uint8_t>(c);
            p[1] = static_cast<uint8_t>(c >> 8);
            p[2] = static_cast<uint8_t>(c >> 16);
        }
    return pixels;
}

TLineSuggestions Suggest(int32_t width, int32_t height, const TColour& colour)
{
    const std::vector<uint8_t> pixels = Paint(width, height, colour);
    return SuggestCutLines(
        TPixelRows { width, height, [&](int32_t y) { return &pixels[static_cast<size_t>(y) * width * 3]; } });
}

bool Inside(int32_t x, int32_t y, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    return x >= left && x < right && y >= top && y < bottom;
}

// A noisy texture: no two neighbours alike, no row or column flat.
uint32_t Noise(int32_t x, int32_t y)
{
    return (static_cast<uint32_t>(x * 7919 + y * 104729) * 2654435761u) & 0xFFFFFF;
}

TEST(LineSuggestionsTest, FindsWhereADesignWantsCutting)
{
    struct Case {
        const char* what;
        int32_t width;
        int32_t height;
        TColour colour;
        std::vector<int32_t> columns;
        std::vector<int32_t> rows;
    };
    const Case cases[] = {
        { "a box on a plain ground: the edges of the bands around it", 100, 60,
            [](int32_t x, int32_t y) { return Inside(x, y, 20, 10, 50, 30) ? 0xC03020u : 0xFFFFFFu; },
            { 20, 50 }, { 10, 30 } },
        { "text-like specks between margins: only the margins' edges", 100, 60,
            [](int32_t x, int32_t y) {
                return Inside(x, y, 10, 20, 90, 40) && (x + y) % 5 == 0 ? 0x000000u : 0xFFFFFFu;
            },
            { 10, 90 }, { 20, 40 } },
        { "two noisy halves meeting along a column and a row", 80, 40,
            [](int32_t x, int32_t y) {
                return (Noise(x, y) & 0x0F0F0F) + (x < 30 ? 0 : 0x808080) + (y < 25 ? 0 : 0x404040);
            },
            { 30 }, { 25 } },
        { "a gradient has no edges", 120, 30,
            [](int32_t x, int32_t) { return static_cast<uint32_t>(x * 2) * 0x010101u; }, {}, {} },
        { "a plain picture has no edges", 50, 50, [](int32_t, int32_t) { return 0x336699u; }, {}, {} },
        { "a two-pixel soft edge gives one line", 60, 20,
            [](int32_t x, int32_t) { return x < 30 ? 0x000000u
                                         : x == 30 ? 0x808080u
                                                   : 0xFFFFFFu; }, { 30 },
            {} },
        { "a lone noisy picture gives nothing", 64, 64, Noise, {}, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TLineSuggestions found = Suggest(c.width, c.height, c.colour);
        EXPECT_EQ(found.Columns, c.columns);
        EXPECT_EQ(found.Rows, c.rows);
    }
}

TEST(LineSuggestionsTest, EmptyOrUnreadablePicturesGiveNothing)
{
    EXPECT_TRUE(SuggestCutLines(TPixelRows { 0, 10, [](int32_t) { return nullptr; } }).Columns.empty());
    const TLineSuggestions none = SuggestCutLines(TPixelRows { 10, 10, [](int32_t) { return nullptr; } });
    EXPECT_TRUE(none.Columns.empty() && none.Rows.empty());
}

TEST(LineSuggestionsTest, ScoreCountsFoundMissedAndExtra)
{
    const TSuggestionScore score = ScoreSuggestions({ 10, 31, 70, 200 }, { 12, 30, 100 }, 2);
    EXPECT_EQ(score.Found, 2);
    EXPECT_EQ(score.Missed, 1);
    EXPECT_EQ(score.Extra, 2);
}

} // namespace
} // namespace sw
