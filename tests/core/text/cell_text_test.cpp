#include "core/imaging/png/png_reader.h"
#include "core/text/cell_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace sw {
namespace {

TPixelView ViewOf(const std::vector<uint8_t>& bgr, int width, int height)
{
    return { bgr.data(), width, height, ptrdiff_t(width) * 3, TPixelLayout::Bgr24 };
}

// Every pixel grey g, with a band of grey band across the middle rows.
std::vector<uint8_t> Banded(int width, int height, uint8_t ground, uint8_t band)
{
    std::vector<uint8_t> bgr(size_t(width) * size_t(height) * 3, ground);
    for (int y = height / 3; y < 2 * height / 3; ++y)
        std::fill_n(bgr.begin() + ptrdiff_t(y) * width * 3, width * 3, band);
    return bgr;
}

TEST(PrepareForReadingTest, CellsThatCannotHoldTextGiveNothing)
{
    struct TCase {
        const char* Name;
        uint8_t Ground;
        uint8_t Band;
        TCellBounds Bounds;
    };
    const TCase cases[] = {
        { "flat", 200, 200, { 0, 0, 40, 30 } },
        { "faint", 200, 180, { 0, 0, 40, 30 } },
        { "no pixels", 255, 0, { 10, 10, 10, 30 } },
    };
    for (const TCase& c : cases) {
        const std::vector<uint8_t> bgr = Banded(40, 30, c.Ground, c.Band);
        EXPECT_EQ(PrepareForReading(ViewOf(bgr, 40, 30), c.Bounds).Width, 0) << c.Name;
    }
}

TEST(PrepareForReadingTest, LightOnDarkBecomesDarkOnWhiteAndIsScaledWithAMargin)
{
    for (const auto& [ground, band] : { std::pair<uint8_t, uint8_t> { 20, 240 }, { 240, 20 } }) {
        const std::vector<uint8_t> bgr = Banded(40, 30, ground, band);
        const TReadImage image = PrepareForReading(ViewOf(bgr, 40, 30), { 0, 0, 40, 30 });
        ASSERT_GT(image.Width, 40 * 2);
        EXPECT_EQ(image.Grey.size(), size_t(image.Width) * size_t(image.Height));
        const auto at = [&](int x, int y) { return image.Grey[size_t(y) * size_t(image.Width) + size_t(x)]; };
        EXPECT_EQ(at(0, 0), 255); // margin
        EXPECT_GT(at(image.Width / 2, image.Height / 6), 200) << int(ground); // ground
        EXPECT_LT(at(image.Width / 2, image.Height / 2), 50) << int(ground); // band
    }
}

TEST(ReadScaleTest, SmallCellsGrowAndHugeOnesStayWithinTheLimit)
{
    EXPECT_DOUBLE_EQ(ReadScale(200, 40), 3.0);
    for (const auto& [width, height] : { std::pair { 3000, 3000 }, { 20000, 20000 }, { 100000, 2 } }) {
        const double scale = ReadScale(width, height);
        EXPECT_LE(double(width) * scale * double(height) * scale, double(kMaxReadPixels) * 1.001);
    }
}

TEST(CellTextTest, HoldsTextNeedsAWordAndConfidence)
{
    struct TCase {
        std::vector<TTextWord> Words;
        bool Holds;
    };
    const TCase cases[] = {
        { {}, false },
        { { { "Shop", 90 } }, true },
        { { { "a", 95 }, { "|", 95 } }, false },
        { { { "Shop", 90 }, { "now", 50 } }, false },
        { { { "\xC3\xA9t\xC3\xA9", 80 } }, true },
    };
    for (const TCase& c : cases) {
        TCellText text;
        text.Words = c.Words;
        EXPECT_EQ(text.HoldsText(), c.Holds) << text.Text();
    }
}

class DesignTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::ifstream file(SLICEWRIGHT_SOURCE_DIR "/data/designs/dashboard.png", std::ios::binary);
        if (!file)
            GTEST_SKIP() << "data/designs/dashboard.png is absent";
        const std::vector<uint8_t> bytes(
            (std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        m_png = ReadPng(bytes);
    }
    // The picture's top left: the sidebar's head and the page's title.
    TPixelView TopLeft() const
    {
        return { m_png.Rgba.data(), 658, 136, ptrdiff_t(m_png.Width) * 4, TPixelLayout::Rgba32 };
    }
    TPngPicture m_png;
};

TEST_F(DesignTextTest, ReadsTheWordsOfACell)
{
    TTextReader reader;
    EXPECT_EQ(reader.Read(TopLeft(), { 272, 65, 658, 136 }).Text(), "Store overview");
}

TEST_F(DesignTextTest, ProposesForEmptyAltsOfCellsWithAnImage)
{
    const TCellGrid grid({ { "240", true } }, { { "65", true } }, 658, 136);
    TCellPropertyMap cells;
    cells[{ 1, 2 }].Alt = "Search";
    cells[{ 2, 1 }].Skip = true;
    const std::vector<TTextProposal> proposals = ProposeCellTexts(TopLeft(), grid, cells, 2);
    ASSERT_EQ(proposals.size(), 2U);
    EXPECT_EQ(proposals[0].Cell, (TCellRef { 1, 1 }));
    EXPECT_EQ(proposals[0].Text, "Larkspur");
    EXPECT_EQ(proposals[0].Property, "Alt");
    EXPECT_EQ(proposals[1].Cell, (TCellRef { 2, 2 }));
    EXPECT_EQ(proposals[1].Text, "Store overview");

    EXPECT_TRUE(ProposeCellTexts(TopLeft(), grid, cells, 1, [](int, int) { return false; }).empty());
}

} // namespace
} // namespace sw
