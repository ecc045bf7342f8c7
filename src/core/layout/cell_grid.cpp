#include "core/layout/cell_grid.h"

#include "core/generate/cell_format.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace sw {

namespace {

std::vector<TGridLine> GridLines(const TCutLines& lines)
{
    std::vector<TGridLine> at;
    at.reserve(lines.size());
    for (const TCutLineEntry& line : lines)
        at.push_back({ CutLinePosition(line.Caption).value_or(0) });
    return at;
}

// The 1-based piece holding pixel p: the last one whose pixels hold it, so
// empty pieces from lines at one place are passed over.
template <typename PieceOf> std::optional<int> PieceAt(int count, const PieceOf& pieceOf, int p)
{
    for (int k = count; k >= 1; --k) {
        const std::optional<TBand>& band = pieceOf(k).Band;
        if (band && band->Start <= p && p < band->End)
            return k;
    }
    return std::nullopt;
}

// A band with pixels as it is; for pieces without, nothing where the last
// piece with pixels before first ends.
template <typename PieceOf> TBand BandOr(const std::optional<TBand>& band, const PieceOf& pieceOf, int first)
{
    if (band)
        return *band;
    int end = 0;
    for (int k = 1; k < first; ++k)
        if (const std::optional<TBand>& piece = pieceOf(k).Band)
            end = piece->End;
    return { end, end };
}

} // namespace

TCellGrid::TCellGrid(TCutGrid grid)
    : m_grid(std::move(grid))
{ }

TCellGrid::TCellGrid(const TCutLines& columns, const TCutLines& rows, int width, int height)
    : m_grid(std::max(width, 0), std::max(height, 0), GridLines(columns), GridLines(rows))
{ }

std::optional<TCellRef> TCellGrid::CellAt(int x, int y) const
{
    const std::optional<int> column = PieceAt(
        Columns(), [this](int k) -> const TGridPiece& { return m_grid.Column(k); }, x);
    const std::optional<int> row = PieceAt(
        Rows(), [this](int k) -> const TGridPiece& { return m_grid.Row(k); }, y);
    if (!column || !row)
        return std::nullopt;
    return TCellRef { *row, *column };
}

TCellBounds TCellGrid::Bounds(TCellRef cell, int spanColumns, int spanRows) const
{
    const TBand across = BandOr(
        m_grid.ColumnBand(cell.Column, std::max(spanColumns, 1)),
        [this](int k) -> const TGridPiece& { return m_grid.Column(k); }, cell.Column);
    const TBand down = BandOr(
        m_grid.RowBand(cell.Row, std::max(spanRows, 1)),
        [this](int k) -> const TGridPiece& { return m_grid.Row(k); }, cell.Row);
    return TCellBounds { across.Start, down.Start, across.End, down.End };
}

TCutLines CutLinesOf(const TEditorLines& lines)
{
    TCutLines captions;
    captions.reserve(lines.size());
    for (const TEditorLine& line : lines)
        captions.push_back({ std::to_string(line.Position), line.Checked });
    return captions;
}

TCellGrid CellGridOf(const TEditorLines& columns, const TEditorLines& rows, int width, int height)
{
    const auto gridLines = [](const TEditorLines& lines) {
        std::vector<TGridLine> at;
        at.reserve(lines.size());
        for (const TEditorLine& line : lines)
            at.push_back({ line.Position });
        return at;
    };
    return TCellGrid(TCutGrid(std::max(width, 0), std::max(height, 0), gridLines(columns), gridLines(rows)));
}

size_t InsertEditorLine(TEditorLines& lines, TEditorLine line)
{
    const auto at = std::upper_bound(lines.begin(), lines.end(), line.Position,
        [](int32_t position, const TEditorLine& other) { return position < other.Position; });
    const size_t index = static_cast<size_t>(at - lines.begin());
    lines.insert(at, line);
    return index;
}

size_t MoveEditorLine(TEditorLines& lines, size_t index, int32_t position)
{
    TEditorLine line = lines[index];
    line.Position = position;
    lines.erase(lines.begin() + static_cast<ptrdiff_t>(index));
    // Before the lines at its new place that stood after it, after those
    // that stood before it.
    size_t to = 0;
    for (size_t k = 0; k < lines.size(); ++k)
        if (lines[k].Position < position || (lines[k].Position == position && k < index))
            to = k + 1;
    lines.insert(lines.begin() + static_cast<ptrdiff_t>(to), line);
    return to;
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
