#include "core/project/cut_lines.h"

#include <gtest/gtest.h>

#include <vector>

namespace sw {
namespace {

std::vector<std::string> Captions(const TCutLines& lines)
{
    std::vector<std::string> captions;
    for (const TCutLineEntry& line : lines)
        captions.push_back(line.Caption);
    return captions;
}

TEST(CutLinesTest, ComparesPositionsAsNumbers)
{
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        { "20", "100", -1 }, // textually "100" < "20"
        { "100", "20", 1 },
        { "7", "7", 0 },
        { "0x1F", "31", 0 }, // every spelling of the whole-number rule
        { " 42", "42", 0 },
        { "-5", "3", -1 },
        { "abc", "100000", 1 }, // no number sorts last
        { "abc", "", 0 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(CompareCutLines(c.a, c.b), c.expected) << c.a << " vs " << c.b;
}

TEST(CutLinesTest, AddingKeepsNumericOrderAndDuplicatesInOrderOfAddition)
{
    TCutLines lines;
    AddCutLine(lines, 100, true);
    AddCutLine(lines, 20, false);
    AddCutLine(lines, 5, true);
    EXPECT_EQ(Captions(lines), (std::vector<std::string> { "5", "20", "100" }));

    AddCutLine(lines, 20, true);
    AddCutLine(lines, 20, false);
    const TCutLines expected = {
        { "5", true },
        { "20", false },
        { "20", true },
        { "20", false },
        { "100", true },
    };
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(IsSortedByPosition(lines));
}

TEST(CutLinesTest, SortIsStableForEqualPositionsWrittenDifferently)
{
    TCutLines lines = { { "31", true }, { "9", false }, { "0x1F", false }, { "$1F", true } };
    SortCutLines(lines);
    const TCutLines expected = { { "9", false }, { "31", true }, { "0x1F", false }, { "$1F", true } };
    EXPECT_EQ(lines, expected);
}

TEST(CutLinesTest, GridBoundsExcludeZeroAndTheExtent)
{
    EXPECT_FALSE(IsInsideGrid(0, 105));
    EXPECT_FALSE(IsInsideGrid(-1, 105));
    EXPECT_TRUE(IsInsideGrid(1, 105));
    EXPECT_TRUE(IsInsideGrid(104, 105));
    EXPECT_FALSE(IsInsideGrid(105, 105));
    EXPECT_FALSE(IsInsideGrid(1, 0));
}

TEST(CutLinesTest, CaptionEditsAreNormalisedOrRefused)
{
    struct Case {
        const char* typed;
        std::optional<std::string> stored;
    };
    const Case cases[] = {
        { "50", "50" },
        { "  50", "50" },
        { "+50", "50" },
        { "0x1F", "31" },
        { "$1f", "31" },
        { "104", "104" },
        { "105", std::nullopt }, // the grid's extent
        { "0", std::nullopt },
        { "-3", std::nullopt },
        { "", std::nullopt },
        { "50px", std::nullopt },
        { "5 0", std::nullopt },
        { "99999999999", std::nullopt },
    };
    for (const Case& c : cases)
        EXPECT_EQ(AcceptCaptionEdit(c.typed, 105), c.stored) << '"' << c.typed << '"';
}

} // namespace
} // namespace sw
