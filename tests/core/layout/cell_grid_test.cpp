#include "core/layout/cell_grid.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sw {
namespace {

// A 40 x 20 picture cut at x = 20 and y = 10: grey everywhere but one blue
// pixel in the lower right cell (R2C2).
struct TPicture {
    static constexpr int kWidth = 40;
    static constexpr int kHeight = 20;
    std::vector<uint8_t> Bytes = std::vector<uint8_t>(size_t(kWidth) * kHeight * 3, 0xF4);
    TPicture()
    {
        uint8_t* blue = &Bytes[(size_t(15) * kWidth + 30) * 3];
        blue[0] = 0xFF;
        blue[1] = 0;
        blue[2] = 0;
    }
    TPixelView View() const { return { Bytes.data(), kWidth, kHeight, kWidth * 3, TPixelLayout::Bgr24 }; }
};

// Edits the run would refuse, or whose value the page would drop without a
// word, are refused as they are made; their neighbours are taken.
TEST(WithCellProperty, RefusesWhatTheRunWouldRefuseOrDrop)
{
    const TPicture picture;
    const TCellGrid grid({ { "20", true } }, { { "10", true } }, TPicture::kWidth, TPicture::kHeight);
    TCellProperties skipped;
    skipped.Skip = true;
    TCellProperties linked;
    linked.Link = "https://example.com/";
    TCellProperties autoFilled;
    autoFilled.Fill = TCellFill::Auto;
    struct Case {
        const char* what;
        TCellPropertyMap cells;
        TCellRef cell;
        const char* property;
        const char* value;
        bool withPicture;
        const char* refusal; // empty: taken
    };
    const Case cases[] = {
        { "auto fill on a flat cell", {}, { 1, 2 }, "Fill", "auto", true, "" },
        { "auto fill over two colours", {}, { 2, 2 }, "fill", "auto", true,
            "Cell R2C2 is not one flat colour, so Fill=auto cannot paint it" },
        { "auto fill with no picture to look at", {}, { 2, 2 }, "Fill", "auto", false, "" },
        { "a span that takes an auto fill over two colours", { { { 1, 2 }, autoFilled } }, { 1, 2 }, "Span",
            "1x2", true, "Cell R1C2 is not one flat colour, so Fill=auto cannot paint it" },
        { "a link on a skipped cell", { { { 1, 1 }, skipped } }, { 1, 1 }, "Link", "https://example.com/",
            true, "Cell R1C1 is skipped, so a link on it would lead nowhere" },
        { "an alt text on a skipped cell", { { { 1, 1 }, skipped } }, { 1, 1 }, "Alt", "Logo", true,
            "Cell R1C1 is skipped, so it has no image for an alt text" },
        { "skipping a linked cell", { { { 1, 1 }, linked } }, { 1, 1 }, "Skip", "1", true,
            "Cell R1C1 is skipped, so a link on it would lead nowhere" },
        { "removing the link of a skipped cell",
            { { { 1, 1 },
                [&] {
                    TCellProperties both = skipped;
                    both.Link = "x";
                    return both;
                }() } },
            { 1, 1 }, "Link", "", true, "" },
        { "a link on a filled cell", { { { 1, 1 }, autoFilled } }, { 1, 1 }, "Link", "https://example.com/",
            true, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<TPixelView> pixels
            = c.withPicture ? std::optional<TPixelView>(picture.View()) : std::nullopt;
        std::string refusal;
        try {
            const TCellPropertyMap edited
                = WithCellProperty(c.cells, c.cell, c.property, c.value, grid, "", "page", pixels);
            EXPECT_NE(edited, c.cells);
        } catch (const ECellPropertyError& error) {
            refusal = error.what();
        }
        EXPECT_EQ(refusal, c.refusal);
    }
}

// The cells are the run's pieces: lines at one place, beyond the picture or
// out of order leave pieces without pixels, which no click lands on.
TEST(CellGrid, CellsAreTheRunsPieces)
{
    struct Case {
        const char* what;
        TCutLines columns;
        TCellRef cell;
        int span;
        TCellBounds bounds;
    };
    const TCutLines twoAtOnePlace { { "20", true }, { "20", false } };
    const TCutLines beyond { { "30", true }, { "60", true } };
    const TCutLines unsorted { { "30", true }, { "10", true } };
    const Case cases[] = {
        { "a plain cut", { { "20", true } }, { 1, 2 }, 1, { 20, 0, 40, 20 } },
        { "a span to the edge", { { "20", true } }, { 1, 1 }, 2, { 0, 0, 40, 20 } },
        { "a span beyond the grid stops at its edge", { { "20", true } }, { 1, 2 }, 5, { 20, 0, 40, 20 } },
        { "between two lines at one place", twoAtOnePlace, { 1, 2 }, 1, { 20, 0, 20, 20 } },
        { "beyond the picture", beyond, { 1, 3 }, 1, { 40, 0, 40, 20 } },
        { "a span over a piece beyond the picture", beyond, { 1, 2 }, 2, { 30, 0, 40, 20 } },
        { "the piece a line out of order leaves empty", unsorted, { 1, 2 }, 1, { 30, 0, 30, 20 } },
        { "a span over it takes only pixels", unsorted, { 1, 1 }, 2, { 0, 0, 30, 20 } },
        { "no number counts as 0", { { "x", true } }, { 1, 1 }, 1, { 0, 0, 0, 20 } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TCellGrid grid(c.columns, {}, 40, 20);
        const TCellBounds bounds = grid.Bounds(c.cell, c.span, 1);
        EXPECT_EQ(std::vector<int>({ bounds.Left, bounds.Top, bounds.Right, bounds.Bottom }),
            std::vector<int>({ c.bounds.Left, c.bounds.Top, c.bounds.Right, c.bounds.Bottom }));
    }

    const TCellGrid grid(twoAtOnePlace, unsorted, 40, 20);
    EXPECT_EQ(grid.CellAt(19, 0), (TCellRef { 1, 1 }));
    EXPECT_EQ(grid.CellAt(20, 0), (TCellRef { 1, 3 }));
    EXPECT_EQ(grid.CellAt(0, 5), (TCellRef { 1, 1 }));
    EXPECT_EQ(grid.CellAt(0, 12), (TCellRef { 3, 1 }));
    EXPECT_EQ(grid.CellAt(0, 20), std::nullopt);
    EXPECT_EQ(grid.CellAt(40, 0), std::nullopt);
    EXPECT_EQ(grid.CellAt(-1, 0), std::nullopt);
}

// The lists stay in order as a stable sort leaves them: a new line goes
// after those at its place, a moved one keeps its rank among equals.
TEST(EditorLines, StayInOrder)
{
    const auto positions = [](const TEditorLines& lines) {
        std::vector<int32_t> at;
        for (const TEditorLine& line : lines)
            at.push_back(line.Position);
        return at;
    };
    TEditorLines lines;
    EXPECT_EQ(InsertEditorLine(lines, { 20, true }), 0u);
    EXPECT_EQ(InsertEditorLine(lines, { 5, true }), 0u);
    EXPECT_EQ(InsertEditorLine(lines, { 100, true }), 2u);
    EXPECT_EQ(InsertEditorLine(lines, { 20, false }), 2u);
    EXPECT_EQ(lines[2], (TEditorLine { 20, false }));
    EXPECT_EQ(positions(lines), (std::vector<int32_t> { 5, 20, 20, 100 }));

    struct Case {
        size_t from;
        int32_t position;
        size_t to;
        std::vector<int32_t> after;
    };
    const Case cases[] = {
        { 0, 150, 3, { 20, 20, 100, 150 } },
        { 3, 1, 0, { 1, 5, 20, 20 } },
        { 0, 20, 0, { 20, 20, 20, 100 } },
        { 3, 20, 3, { 5, 20, 20, 20 } },
        { 1, 50, 2, { 5, 20, 50, 100 } },
    };
    for (const Case& c : cases) {
        TEditorLines moved = lines;
        EXPECT_EQ(MoveEditorLine(moved, c.from, c.position), c.to);
        EXPECT_EQ(positions(moved), c.after);
        EXPECT_EQ(moved[c.to].Checked, lines[c.from].Checked);
    }
    EXPECT_EQ(CutLinesOf(lines)[2], (TCutLineEntry { "20", false }));
}

TEST(FlatColorOf, TheOneColourOfTheBoundsOrNone)
{
    const TPicture picture;
    EXPECT_EQ(FlatColorOf(picture.View(), { 0, 0, 40, 10 }), RGB(0xF4, 0xF4, 0xF4));
    EXPECT_EQ(FlatColorOf(picture.View(), { 30, 15, 31, 16 }), RGB(0, 0, 0xFF));
    EXPECT_EQ(FlatColorOf(picture.View(), { 20, 10, 40, 20 }), std::nullopt);
    // Bounds beyond the picture are clipped; none left, no colour.
    EXPECT_EQ(FlatColorOf(picture.View(), { -5, -5, 10, 5 }), RGB(0xF4, 0xF4, 0xF4));
    EXPECT_EQ(FlatColorOf(picture.View(), { 40, 0, 50, 20 }), std::nullopt);
}

} // namespace
} // namespace sw
