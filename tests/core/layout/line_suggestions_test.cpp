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
        { "text on a panel: the panel's edges, none at the text's", 100, 60,
            [](int32_t x, int32_t y) {
                if (Inside(x, y, 20, 25, 80, 35) && (x + y) % 5 == 0)
                    return 0x000000u;
                return Inside(x, y, 5, 10, 95, 50) ? 0xE0E0E0u : 0xFFFFFFu;
            },
            { 5, 95 }, { 10, 50 } },
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

// A line of glyph-like marks: bars 6 wide, 3 apart, rows [top, top + height).
bool Glyph(int32_t x, int32_t y, int32_t left, int32_t right, int32_t top, int32_t height)
{
    return x >= left && x < right && y >= top && y < top + height && (x - left) % 9 < 6 && (y - top) % 4 != 3;
}

TEST(LineSuggestionsTest, NoLineCrossesTextOrTheRoomAroundIt)
{
    // Text on a plain ground with a rule under it whose edge runs along the
    // whole picture; a line of text has many changes on its baseline and
    // flat gaps just above and below its ink, all tempting.
    const int32_t width = 240;
    const int32_t height = 120;
    const auto colour = [](int32_t x, int32_t y) {
        if (Glyph(x, y, 12, 228, 30, 20) || Glyph(x, y, 12, 120, 60, 20))
            return 0x202020u;
        return y >= 100 ? 0x3060C0u : 0xFFFFFFu;
    };
    const std::vector<uint8_t> pixels = Paint(width, height, colour);
    TSuggestionSettings settings;
    settings.Partial = true;
    const TLineSuggestions found = SuggestCutLines(
        TPixelRows { width, height, [&](int32_t y) { return &pixels[static_cast<size_t>(y) * width * 3]; } },
        settings);
    EXPECT_EQ(found.Rows, std::vector<int32_t> { 100 });
    // Ink rows 30-49 and 60-79, and a third of their height around them.
    const auto clear = [](int32_t y) { return y <= 23 || y >= 87; };
    for (const int32_t y : found.Rows)
        EXPECT_TRUE(clear(y)) << "row " << y;
    for (const TPartialLine& line : found.Partial) {
        if (line.Vertical)
            EXPECT_TRUE(line.To <= 23 || line.From >= 87 || line.Position < 2 || line.Position >= 238)
                << "column " << line.Position << " from " << line.From << " to " << line.To;
        else
            EXPECT_TRUE(clear(line.Position) || line.From >= 130) << "row " << line.Position;
    }
}

TEST(LineSuggestionsTest, GuttersBetweenCardsBecomePartialColumns)
{
    // A heading across the top keeps the cards' edges from being whole
    // columns; below it, two cards side by side.
    const int32_t width = 200;
    const int32_t height = 120;
    const auto colour = [](int32_t x, int32_t y) {
        if (Glyph(x, y, 10, 190, 15, 12))
            return 0x202020u;
        return Inside(x, y, 20, 60, 90, 110) || Inside(x, y, 110, 60, 180, 110) ? 0xC8C8C8u : 0xFFFFFFu;
    };
    const std::vector<uint8_t> pixels = Paint(width, height, colour);
    TSuggestionSettings settings;
    settings.Partial = true;
    const TLineSuggestions found = SuggestCutLines(
        TPixelRows { width, height, [&](int32_t y) { return &pixels[static_cast<size_t>(y) * width * 3]; } },
        settings);
    EXPECT_TRUE(found.Columns.empty());
    EXPECT_EQ(found.Rows, (std::vector<int32_t> { 60, 110 }));
    const std::vector<TPartialLine> expected = {
        { true, 20, 60, 110, 2, 2 },
        { true, 90, 60, 110, 2, 2 },
        { true, 110, 60, 110, 2, 2 },
        { true, 180, 60, 110, 2, 2 },
    };
    EXPECT_EQ(found.Partial, expected);
    // Without asking, nothing partial, and the whole lines stay the same.
    const TLineSuggestions whole = SuggestCutLines(
        TPixelRows { width, height, [&](int32_t y) { return &pixels[static_cast<size_t>(y) * width * 3]; } });
    EXPECT_TRUE(whole.Partial.empty());
    EXPECT_EQ(whole.Rows, found.Rows);
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
