#pragma once

// What a layered design (PSD, OpenRaster) offers the editor beside its
// picture: the designer's guides and slices as cut lines, its layers'
// rectangles as cut suggestions, and the text of its text layers as a
// cell's alternative text.

#include "core/imaging/layered_design.h"
#include "core/layout/line_suggestions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sw {

// Cut positions strictly inside the picture, ascending, each once.
struct TDesignCuts {
    std::vector<int32_t> Columns;
    std::vector<int32_t> Rows;
    bool Empty() const { return Columns.empty() && Rows.empty(); }
};

// The guides, and the sides of the slices the designer drew or made from a
// layer (the ones filled in around them only repeat those sides).
TDesignCuts DesignCutLines(const TLayeredDesign& design);

// Adds the sides of the design's shown layers to suggestions, where such a
// side cuts through no other shown layer and lies further than minGap from
// every suggestion already there. Groups, layers without pixels and layers
// that cover most of the canvas (a background) give no sides.
void AddLayerEdges(TLineSuggestions& suggestions, const TLayeredDesign& design, int32_t minGap = 3);

// The text of the shown text layers whose centre lies in the cell, top to
// bottom and then left to right, each on one line (its line breaks become
// spaces); empty when there are none.
std::vector<std::string> TextLayersForCell(const TLayeredDesign& design, const TRect& cell);

} // namespace sw
