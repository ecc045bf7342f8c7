#include "core/layout/cell_grid.h"

#include "core/generate/cell_format.h"

#include <algorithm>
#include <cstring>

namespace sw {

namespace {

std::vector<int> Edges(const TCutLines& lines, int extent)
{
    std::vector<int> at { 0 };
    for (const TCutLineEntry& line : lines)
        at.push_back(std::clamp(CutLinePosition(line.Caption).value_or(0), 0, extent));
    at.push_back(extent);
    return at;
}

// The 1-based piece holding pixel p: the last piece starting at or before
// it that has pixels, so empty pieces from lines at one place are passed over.
std::optional<int> PieceAt(const std::vector<int>& edges, int p)
{
    if (p < 0 || p >= edges.back())
        return std::nullopt;
    for (size_t k = edges.size() - 1; k-- > 0;)
        if (edges[k] <= p && p < edges[k + 1])
            return static_cast<int>(k) + 1;
    return std::nullopt;
}

} // namespace

TCellGrid::TCellGrid(const TCutLines& columns, const TCutLines& rows, int width, int height)
    : m_columnEdges(Edges(columns, std::max(width, 0)))
    , m_rowEdges(Edges(rows, std::max(height, 0)))
{ }

bool TCellGrid::Contains(TCellRef cell) const
{
    return cell.Row >= 1 && cell.Row <= Rows() && cell.Column >= 1 && cell.Column <= Columns();
}

std::optional<TCellRef> TCellGrid::CellAt(int x, int y) const
{
    const std::optional<int> column = PieceAt(m_columnEdges, x);
    const std::optional<int> row = PieceAt(m_rowEdges, y);
    if (!column || !row)
        return std::nullopt;
    return TCellRef { *row, *column };
}

TCellBounds TCellGrid::Bounds(TCellRef cell, int spanColumns, int spanRows) const
{
    const auto edge = [](const std::vector<int>& edges, int index) {
        return edges[static_cast<size_t>(std::clamp(index, 0, static_cast<int>(edges.size()) - 1))];
    };
    return TCellBounds { edge(m_columnEdges, cell.Column - 1), edge(m_rowEdges, cell.Row - 1),
        edge(m_columnEdges, cell.Column - 1 + spanColumns), edge(m_rowEdges, cell.Row - 1 + spanRows) };
}

TCellPropertyMap FittingCells(const TCellPropertyMap& cells, int rows, int columns)
{
    // Mostly all of them fit, which one check shows.
    try {
        CheckCellLayout(cells, rows, columns);
        return cells;
    } catch (const ECellPropertyError&) { }
    TCellPropertyMap fitting;
    for (const auto& [cell, properties] : cells) {
        fitting[cell] = properties;
        try {
            CheckCellLayout(fitting, rows, columns);
        } catch (const ECellPropertyError&) {
            fitting.erase(cell);
        }
    }
    return fitting;
}

std::optional<TColor> FlatColorOf(const TPixelView& picture, const TCellBounds& bounds)
{
    const int left = std::max(bounds.Left, 0);
    const int top = std::max(bounds.Top, 0);
    const int right = std::min(bounds.Right, picture.Width);
    const int bottom = std::min(bounds.Bottom, picture.Height);
    if (left >= right || top >= bottom || picture.Layout != TPixelLayout::Bgr24)
        return std::nullopt;
    const uint8_t* first = picture.Row(top) + ptrdiff_t(left) * 3;
    for (int y = top; y < bottom; ++y) {
        const uint8_t* row = picture.Row(y);
        for (int x = left; x < right; ++x)
            if (std::memcmp(row + ptrdiff_t(x) * 3, first, 3) != 0)
                return std::nullopt;
    }
    return RGB(first[2], first[1], first[0]);
}

namespace {

bool IsProperty(std::string_view property, std::string_view name)
{
    return property.size() == name.size()
        && std::equal(property.begin(), property.end(), name.begin(),
            [](char a, char b) { return (a | 0x20) == (b | 0x20); });
}

// What a run would refuse, or leave out of the page without a word.
void CheckCellContent(const TCellProperties& properties, TCellRef cell, std::string_view property,
    const TCellGrid& grid, const std::optional<TPixelView>& picture)
{
    const bool placing
        = IsProperty(property, "Link") || IsProperty(property, "Alt") || IsProperty(property, "Skip");
    if (placing && properties.Skip && !properties.Link.empty())
        throw ECellPropertyError(
            "Cell " + CellLabel(cell) + " is skipped, so a link on it would lead nowhere");
    if (placing && properties.Skip && !properties.Alt.empty())
        throw ECellPropertyError(
            "Cell " + CellLabel(cell) + " is skipped, so it has no image for an alt text");
    const bool covering = IsProperty(property, "Fill") || IsProperty(property, "Span");
    if (!covering || properties.Fill != TCellFill::Auto || !picture)
        return;
    const TCellBounds bounds = grid.Bounds(cell, properties.SpanColumns, properties.SpanRows);
    // A cell without pixels is left out like any empty piece.
    if (bounds.Width() > 0 && bounds.Height() > 0 && !FlatColorOf(*picture, bounds))
        throw ECellPropertyError(
            "Cell " + CellLabel(cell) + " is not one flat colour, so Fill=auto cannot paint it");
}

} // namespace

TCellPropertyMap WithCellProperty(const TCellPropertyMap& cells, TCellRef cell, std::string_view property,
    std::string_view value, const TCellGrid& grid, std::string_view nameTemplate,
    std::string_view projectName, const std::optional<TPixelView>& picture)
{
    TCellProperties properties;
    if (const auto it = cells.find(cell); it != cells.end())
        properties = it->second;
    SetCellProperty(properties, cell, property, value);

    TCellPropertyMap others = cells;
    others.erase(cell);
    TCellPropertyMap checked = FittingCells(others, grid.Rows(), grid.Columns());
    if (!properties.IsPlain())
        checked[cell] = properties;
    CheckCellLayout(checked, grid.Rows(), grid.Columns());
    if (!properties.Name.empty())
        CheckCellNames(checked, nameTemplate, projectName, grid.Rows(), grid.Columns());
    if (!properties.Format.empty())
        CellFormatOf({ { "Format", properties.Format } }, "Cell " + CellLabel(cell));
    CheckCellContent(properties, cell, property, grid, picture);

    TCellPropertyMap result = cells;
    if (properties.IsPlain())
        result.erase(cell);
    else
        result[cell] = properties;
    return result;
}

TCellRef NeighbourCell(
    const TCellPropertyMap& fitting, const TCellGrid& grid, TCellRef from, int rowStep, int columnStep)
{
    TCellProperties span;
    if (const auto it = fitting.find(from); it != fitting.end())
        span = it->second;
    TCellRef next = from;
    if (rowStep > 0)
        next.Row += span.SpanRows;
    else if (rowStep < 0)
        next.Row -= 1;
    if (columnStep > 0)
        next.Column += span.SpanColumns;
    else if (columnStep < 0)
        next.Column -= 1;
    if (!grid.Contains(next))
        return from;
    return CoveringCell(fitting, next);
}

std::vector<std::pair<int, int>> OpenStretches(
    const TCellPropertyMap& fitting, const TCellGrid& grid, bool vertical, int position, int extent)
{
    std::vector<std::pair<int, int>> gaps;
    for (const auto& [cell, properties] : fitting) {
        if (!properties.Spans())
            continue;
        const TCellBounds bounds = grid.Bounds(cell, properties.SpanColumns, properties.SpanRows);
        const int low = vertical ? bounds.Left : bounds.Top;
        const int high = vertical ? bounds.Right : bounds.Bottom;
        if (low < position && position < high)
            gaps.emplace_back(vertical ? bounds.Top : bounds.Left, vertical ? bounds.Bottom : bounds.Right);
    }
    std::sort(gaps.begin(), gaps.end());
    std::vector<std::pair<int, int>> open;
    int at = 0;
    for (const auto& [from, to] : gaps) {
        if (from > at)
            open.emplace_back(at, std::min(from, extent));
        at = std::max(at, to);
    }
    if (at < extent)
        open.emplace_back(at, extent);
    return open;
}

} // namespace sw
