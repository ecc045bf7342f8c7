#include "core/layout/design_cuts.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <tuple>

namespace sw {

namespace {

void AddInside(std::vector<int32_t>& positions, int64_t position, int32_t extent)
{
    if (position > 0 && position < extent)
        positions.push_back(static_cast<int32_t>(position));
}

void SortUnique(std::vector<int32_t>& positions)
{
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
}

TRect Clipped(const TRect& rect, const TLayeredDesign& design)
{
    return { std::max(rect.Left, 0), std::max(rect.Top, 0), std::min(rect.Right, design.Width),
        std::min(rect.Bottom, design.Height) };
}

// The layers whose sides may be cuts: shown, with pixels on the canvas, and
// smaller than nine tenths of it.
std::vector<TRect> EdgeLayers(const TLayeredDesign& design)
{
    const int64_t canvas = int64_t(design.Width) * design.Height;
    std::vector<TRect> rects;
    for (const TDesignLayer& layer : design.Layers) {
        if (!layer.Shown || layer.IsGroup)
            continue;
        const TRect rect = Clipped(layer.Bounds, design);
        if (rect.Width() <= 0 || rect.Height() <= 0)
            continue;
        if (int64_t(rect.Width()) * rect.Height() * 10 >= canvas * 9)
            continue;
        rects.push_back(rect);
    }
    return rects;
}

// The sides (Left and Right, or Top and Bottom) that run through no layer.
std::vector<int32_t> FreeSides(const std::vector<TRect>& rects, bool vertical, int32_t extent)
{
    const auto low = [vertical](const TRect& r) { return vertical ? r.Left : r.Top; };
    const auto high = [vertical](const TRect& r) { return vertical ? r.Right : r.Bottom; };
    std::vector<int32_t> sides;
    for (const TRect& rect : rects) {
        AddInside(sides, low(rect), extent);
        AddInside(sides, high(rect), extent);
    }
    SortUnique(sides);
    std::erase_if(sides, [&](int32_t side) {
        return std::any_of(
            rects.begin(), rects.end(), [&](const TRect& r) { return low(r) < side && side < high(r); });
    });
    return sides;
}

void Merge(std::vector<int32_t>& found, const std::vector<int32_t>& sides, int32_t minGap)
{
    const std::vector<int32_t> before = found;
    for (const int32_t side : sides) {
        const bool near = std::any_of(before.begin(), before.end(),
            [&](int32_t position) { return std::abs(position - side) <= minGap; });
        if (!near)
            found.push_back(side);
    }
    SortUnique(found);
}

std::string OneLine(const std::string& text)
{
    std::string line;
    bool space = false;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = !line.empty();
            continue;
        }
        if (space)
            line += ' ';
        space = false;
        line += c;
    }
    return line;
}

} // namespace

TDesignCuts DesignCutLines(const TLayeredDesign& design)
{
    TDesignCuts cuts;
    for (const TDesignGuide& guide : design.Guides) {
        if (guide.Horizontal)
            AddInside(cuts.Rows, guide.Position, design.Height);
        else
            AddInside(cuts.Columns, guide.Position, design.Width);
    }
    for (const TDesignSlice& slice : design.Slices) {
        if (slice.Origin == TDesignSlice::TOrigin::Auto)
            continue;
        AddInside(cuts.Columns, slice.Bounds.Left, design.Width);
        AddInside(cuts.Columns, slice.Bounds.Right, design.Width);
        AddInside(cuts.Rows, slice.Bounds.Top, design.Height);
        AddInside(cuts.Rows, slice.Bounds.Bottom, design.Height);
    }
    SortUnique(cuts.Columns);
    SortUnique(cuts.Rows);
    return cuts;
}

void AddLayerEdges(TLineSuggestions& suggestions, const TLayeredDesign& design, int32_t minGap)
{
    const std::vector<TRect> rects = EdgeLayers(design);
    Merge(suggestions.Columns, FreeSides(rects, true, design.Width), minGap);
    Merge(suggestions.Rows, FreeSides(rects, false, design.Height), minGap);
}

std::vector<std::string> TextLayersForCell(const TLayeredDesign& design, const TRect& cell)
{
    std::vector<std::tuple<int, int, std::string>> found;
    for (const TDesignLayer& layer : design.Layers) {
        if (!layer.IsText || !layer.Shown)
            continue;
        const int64_t x = (int64_t(layer.Bounds.Left) + layer.Bounds.Right) / 2;
        const int64_t y = (int64_t(layer.Bounds.Top) + layer.Bounds.Bottom) / 2;
        if (x < cell.Left || x >= cell.Right || y < cell.Top || y >= cell.Bottom)
            continue;
        std::string line = OneLine(layer.Text);
        if (!line.empty())
            found.emplace_back(layer.Bounds.Top, layer.Bounds.Left, std::move(line));
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return std::tie(std::get<0>(a), std::get<1>(a)) < std::tie(std::get<0>(b), std::get<1>(b));
    });
    std::vector<std::string> texts;
    for (auto& entry : found)
        texts.push_back(std::move(std::get<2>(entry)));
    return texts;
}

} // namespace sw
