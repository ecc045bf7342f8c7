#include "core/project/cut_grid.h"

#include "core/base/errors.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

struct Piece {
    std::optional<TBand> band;
    std::string reason;
};

// One direction's pieces for lines in list order, as every user of the grid
// sees them: clipped to the picture, or empty with the reason.
TEST(CutGrid, PiecesAreClippedToThePictureOrSayWhyTheyAreEmpty)
{
    struct Case {
        const char* name;
        std::vector<int32_t> columns;
        std::vector<Piece> pieces;
    };
    const std::vector<Case> cases = {
        { "no lines", {}, { { TBand { 0, 40 }, "" } } },
        { "inside", { 10, 25 },
            { { TBand { 0, 10 }, "" }, { TBand { 10, 25 }, "" }, { TBand { 25, 40 }, "" } } },
        { "a repeated line", { 10, 10 },
            { { TBand { 0, 10 }, "" }, { std::nullopt, "columns 10 to 10 give it no width" },
                { TBand { 10, 40 }, "" } } },
        { "lines out of order", { 20, 10 },
            { { TBand { 0, 20 }, "" }, { std::nullopt, "columns 20 to 10 give it no width" },
                { TBand { 10, 40 }, "" } } },
        { "past the picture", { 30, 50, 70 },
            { { TBand { 0, 30 }, "" }, { TBand { 30, 40 }, "" },
                { std::nullopt, "columns 50 to 70 lie outside the picture's width of 40" },
                { std::nullopt, "columns 70 to 40 give it no width" } } },
        { "below zero", { -5 },
            { { std::nullopt, "columns 0 to -5 give it no width" }, { TBand { 0, 40 }, "" } } },
        { "at the edges", { 0, 40 },
            { { std::nullopt, "columns 0 to 0 give it no width" }, { TBand { 0, 40 }, "" },
                { std::nullopt, "columns 40 to 40 give it no width" } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TGridLine> lines;
        for (const int32_t position : c.columns)
            lines.push_back({ position });
        const TCutGrid grid(40, 30, lines, {});
        ASSERT_EQ(grid.Columns(), static_cast<int>(c.pieces.size()));
        for (int k = 1; k <= grid.Columns(); ++k) {
            EXPECT_EQ(grid.Column(k).Band, c.pieces[size_t(k) - 1].band) << k;
            EXPECT_EQ(grid.Column(k).Reason, c.pieces[size_t(k) - 1].reason) << k;
        }
    }
}

TEST(CutGrid, CellsCoverTheirSpanAndTheirEmptyPiecesSayWhy)
{
    const TCutGrid grid = TCutGrid::FromCaptions(40, 30, { "10", "10", "50" }, { "12" });
    struct Case {
        int row, column, spanColumns, spanRows;
        std::optional<TGridRect> rect;
    };
    const std::vector<Case> cases = {
        { 1, 1, 1, 1, TGridRect { { 0, 10 }, { 0, 12 } } }, { 1, 2, 1, 1, std::nullopt },
        { 2, 1, 3, 1, TGridRect { { 0, 40 }, { 12, 30 } } },
        { 1, 2, 2, 2, TGridRect { { 10, 40 }, { 0, 30 } } }, { 1, 4, 1, 1, std::nullopt },
        { 2, 3, 9, 9, TGridRect { { 10, 40 }, { 12, 30 } } }, // stops at the grid's edge
    };
    for (const Case& c : cases)
        EXPECT_EQ(grid.CellRect(c.row, c.column, c.spanColumns, c.spanRows), c.rect)
            << c.row << "," << c.column << " " << c.spanColumns << "x" << c.spanRows;
    EXPECT_EQ(grid.EmptyReason(1, 2), "columns 10 to 10 give it no width");
    EXPECT_EQ(grid.EmptyReason(2, 4), "columns 50 to 40 give it no width");
}

TEST(CutGrid, CaptionsAreReadOnceRowsFirst)
{
    try {
        TCutGrid::FromCaptions(40, 30, { "x1" }, { "10", "12a" });
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'12a' is not a valid integer value");
    }
    EXPECT_EQ(TCutGrid::FromCaptions(40, 30, { "0x10" }, {}).Column(1).Band, (TBand { 0, 16 }));
}

// Lines outside the picture count too: each makes a piece the run reports.
TEST(CutGrid, CellCountIsCappedWhereverTheLinesLie)
{
    const std::vector<std::string> columns(99, "5");
    const TCutGrid atLimit = TCutGrid::FromCaptions(40, 30, columns, std::vector<std::string>(999, "5"));
    EXPECT_EQ(atLimit.CellCount(), 100000);
    atLimit.CheckCellCount();
    EXPECT_THROW(
        TCutGrid::FromCaptions(40, 30, columns, std::vector<std::string>(1000, "5000")).CheckCellCount(),
        Exception);
}

} // namespace
} // namespace sw
