// What a layered design offers the editor: guides and slices as cut lines,
// layer sides as suggestions, text layers as a cell's text.

#include "core/layout/design_cuts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sw {
namespace {

using TPositions = std::vector<int32_t>;

TDesignLayer Layer(const char* name, TRect bounds, bool shown = true)
{
    TDesignLayer layer;
    layer.Name = name;
    layer.Bounds = bounds;
    layer.Shown = shown;
    return layer;
}

TDesignLayer TextLayer(const char* text, TRect bounds, bool shown = true)
{
    TDesignLayer layer = Layer("text", bounds, shown);
    layer.IsText = true;
    layer.Text = text;
    return layer;
}

TDesignSlice Slice(TDesignSlice::TOrigin origin, TRect bounds)
{
    TDesignSlice slice;
    slice.Origin = origin;
    slice.Bounds = bounds;
    return slice;
}

TEST(DesignCuts, GuidesAndDrawnSlicesInsideThePictureBecomeLines)
{
    TLayeredDesign design;
    design.Width = 200;
    design.Height = 100;
    design.Guides = { { false, 50, 1600 }, { true, 30, 960 }, { false, 50, 1600 }, { false, 0, 0 },
        { false, 200, 6400 }, { true, -4, -128 }, { false, 120, 3840 } };
    design.Slices = { Slice(TDesignSlice::TOrigin::Auto, { 0, 0, 200, 100 }),
        Slice(TDesignSlice::TOrigin::Auto, { 0, 0, 10, 10 }),
        Slice(TDesignSlice::TOrigin::User, { 50, 30, 80, 60 }),
        Slice(TDesignSlice::TOrigin::Layer, { 150, 0, 300, 70 }) };
    const TDesignCuts cuts = DesignCutLines(design);
    EXPECT_EQ(cuts.Columns, (TPositions { 50, 80, 120, 150 }));
    EXPECT_EQ(cuts.Rows, (TPositions { 30, 60, 70 }));
    TLayeredDesign plain;
    plain.Width = 10;
    plain.Height = 10;
    EXPECT_TRUE(DesignCutLines(plain).Empty());
}

TEST(DesignCuts, LayerSidesThatCutNoLayerAreSuggested)
{
    TLayeredDesign design;
    design.Width = 400;
    design.Height = 300;
    TDesignLayer group = Layer("group", { 0, 0, 0, 0 });
    group.IsGroup = true;
    design.Layers = {
        Layer("background", { 0, 0, 400, 300 }),
        group,
        // A card and the headline inside it: the card's sides count, the
        // headline's would cut the card.
        Layer("card", { 20, 40, 180, 260 }),
        TextLayer("Title", { 30, 50, 170, 80 }),
        Layer("hidden", { 250, 100, 260, 110 }, false),
        Layer("photo", { 200, 40, 380, 500 }),
    };
    struct TCase {
        const char* Name;
        TLineSuggestions Before;
        TPositions Columns;
        TPositions Rows;
    };
    const TCase cases[] = {
        // 260, the card's foot, would cut the photo.
        { "nothing found in the pixels", {}, { 20, 180, 200, 380 }, { 40 } },
        { "near pixel suggestions win", { { 22, 300 }, { 42, 150 }, {} }, { 22, 180, 200, 300, 380 },
            { 42, 150 } },
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TLineSuggestions found = c.Before;
        AddLayerEdges(found, design);
        EXPECT_EQ(found.Columns, c.Columns);
        EXPECT_EQ(found.Rows, c.Rows);
    }
}

TEST(DesignCuts, TextLayersAreOfferedForTheCellTheyLieIn)
{
    TLayeredDesign design;
    design.Width = 400;
    design.Height = 300;
    design.Layers = {
        TextLayer("Order\rnow ", { 220, 10, 300, 40 }),
        TextLayer("Harbour  Bakery", { 10, 10, 150, 40 }),
        TextLayer("Hidden", { 10, 10, 150, 40 }, false),
        TextLayer("Since 1921", { 10, 50, 150, 70 }),
        TextLayer("", { 10, 80, 150, 90 }),
        Layer("logo", { 10, 10, 40, 40 }),
        TextLayer("Across the line", { 150, 10, 260, 40 }),
    };
    struct TCase {
        TRect Cell;
        std::vector<std::string> Texts;
    };
    const TCase cases[] = {
        { { 0, 0, 200, 100 }, { "Harbour Bakery", "Since 1921" } },
        // By its centre, top to bottom, then left to right.
        { { 200, 0, 400, 100 }, { "Across the line", "Order now" } },
        { { 0, 100, 400, 300 }, {} },
    };
    for (const TCase& c : cases)
        EXPECT_EQ(TextLayersForCell(design, c.Cell), c.Texts) << c.Cell.Left << "," << c.Cell.Top;
}

} // namespace
} // namespace sw
