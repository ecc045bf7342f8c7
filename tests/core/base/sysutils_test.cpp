#include "core/base/errors.h"
#include "core/base/sysutils.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

struct IntCase {
    const char* text;
    std::optional<int32_t> value;
};

TEST(TryStrToInt, FollowsTheWholeNumberRule)
{
    const IntCase cases[] = {
        { "120", 120 },
        { "+7", 7 },
        { "-5", -5 },
        { "  42", 42 },
        { "0x1F", 31 },
        { "0X1f", 31 },
        { "$1F", 31 },
        { "x1F", 31 },
        { "X1F", 31 },
        { "2147483647", 2147483647 },
        { "-2147483648", INT32_MIN },
        { "0xFFFFFFFF", -1 },
        { "$80000000", INT32_MIN },
        { "2147483648", std::nullopt },
        { "$100000000", std::nullopt },
        { "42px", std::nullopt },
        { "42 ", std::nullopt },
        { "", std::nullopt },
        { "   ", std::nullopt },
        { "0x", std::nullopt },
        { "$", std::nullopt },
        { "-$1F", std::nullopt },
        { "1e3", std::nullopt },
        { "\t42", std::nullopt },
    };
    for (const auto& c : cases)
        EXPECT_EQ(TryStrToInt(c.text), c.value) << '"' << c.text << '"';
}

TEST(StrToInt, NamesTheBadTextInItsMessage)
{
    try {
        StrToInt("12a");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
}

TEST(FileNames, ExtensionStandsAfterTheLastSeparator)
{
    EXPECT_EQ(ExtractFileExt("/a/b/page.swr"), ".swr");
    EXPECT_EQ(ExtractFileExt("/a.b/page"), "");
    EXPECT_EQ(ExtractFileExt("page."), ".");
    EXPECT_EQ(ChangeFileExt("/a.b/page", ".bak"), "/a.b/page.bak");
    EXPECT_EQ(ChangeFileExt("/w/r3.bmp", "_c2.gif"), "/w/r3_c2.gif");
    EXPECT_EQ(ExtractFileName("/w/r3.bmp"), "r3.bmp");
    EXPECT_EQ(ExtractFilePath("/w/r3.bmp"), "/w/");
    EXPECT_EQ(ExtractFilePath("r3.bmp"), "");
}

TEST(WithFullStop, AddsAStopOnlyAfterCharactersSortingAboveIt)
{
    EXPECT_EQ(WithFullStop(""), "");
    EXPECT_EQ(WithFullStop("Bitmap image is not valid"), "Bitmap image is not valid.");
    EXPECT_EQ(WithFullStop("Done."), "Done.");
    EXPECT_EQ(WithFullStop("Wow!"), "Wow!");
    EXPECT_EQ(WithFullStop("(.png)"), "(.png)");
    EXPECT_EQ(WithFullStop("a-"), "a-");
    EXPECT_EQ(WithFullStop("file /"), "file /.");
}

} // namespace
} // namespace sw
