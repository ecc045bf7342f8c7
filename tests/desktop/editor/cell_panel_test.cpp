#include "core/imaging/png/png_reader.h"
#include "desktop/editor/cell_panel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace sw {
namespace {

// The page title of the dashboard design: "Store overview".
std::optional<TCellPixels> TitlePixels()
{
    std::ifstream file(SLICEWRIGHT_SOURCE_DIR "/data/designs/dashboard.png", std::ios::binary);
    if (!file)
        return std::nullopt;
    const std::vector<uint8_t> bytes(
        (std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const TPngPicture png = ReadPng(bytes);
    TCellPixels pixels { {}, 386, 71 };
    for (int y = 65; y < 136; ++y)
        for (int x = 272; x < 658; ++x) {
            const uint8_t* rgba = &png.Rgba[(size_t(y) * size_t(png.Width) + size_t(x)) * 4];
            pixels.Bgr.insert(pixels.Bgr.end(), { rgba[2], rgba[1], rgba[0] });
        }
    return pixels;
}

TEST(CellPanelTest, SuggestFromPictureFillsAltForTheCellItWasAskedFor)
{
    const std::optional<TCellPixels> title = TitlePixels();
    if (!title)
        GTEST_SKIP() << "data/designs/dashboard.png is absent";
    TCellPanel panel;
    int edits = 0;
    panel.OnEdit = [&](const std::string&, const std::string&) { ++edits; };
    panel.CellPixels = [&] { return title; };
    panel.show();

    panel.ShowCell(TCellRef { 1, 2 }, {}, "r1_c2", QSize(386, 71));
    panel.btnSuggestText->click();
    EXPECT_FALSE(panel.btnSuggestText->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(panel.edtAlt->text(), QStringLiteral("Store overview"), 30000);
    // A proposal until the user confirms it.
    EXPECT_EQ(edits, 0);
    EXPECT_TRUE(panel.edtAlt->isModified());
    EXPECT_TRUE(panel.btnSuggestText->isEnabled());

    // The selection moved on while reading: the words are not the new cell's.
    panel.ShowCell(TCellRef { 1, 2 }, {}, "r1_c2", QSize(386, 71));
    panel.btnSuggestText->click();
    panel.ShowCell(TCellRef { 2, 2 }, {}, "r2_c2", QSize(386, 71));
    QTRY_VERIFY_WITH_TIMEOUT(panel.btnSuggestText->isEnabled(), 30000);
    EXPECT_TRUE(panel.edtAlt->text().isEmpty());
    EXPECT_EQ(edits, 0);
}

} // namespace
} // namespace sw
