#pragma once

// The cells the cut lines make, as the Cells mode and the cell overlay see
// them, and the one way an edit reaches a cell's properties. Plain data, no
// Qt: rows and columns count from 1, pixels from 0.

#include "core/base/colors.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cell_properties.h"
#include "core/project/cut_grid.h"
#include "core/project/cut_lines.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace sw {

// Picture pixels from Left up to Right and from Top up to Bottom.
struct TCellBounds {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

class TCellGrid {
public:
    TCellGrid() = default;
    // The cells of the run's cut grid, as the run clips them.
    explicit TCellGrid(TCutGrid grid);
    // Every entry counts, checked or not, in list order; a caption that is
    // no number counts as 0.
    TCellGrid(const TCutLines& columns, const TCutLines& rows, int width, int height);

    const TCutGrid& CutGrid() const { return m_grid; }
    int Rows() const { return m_grid.Rows(); }
    int Columns() const { return m_grid.Columns(); }
    bool Contains(TCellRef cell) const { return m_grid.Contains(cell.Row, cell.Column); }
    // The cell whose pixels hold (x, y); none off the picture. Of cells
    // without pixels, the one after them.
    std::optional<TCellRef> CellAt(int x, int y) const;
    // The pixels of the cell with the given span; Contains(cell) assumed,
    // a span beyond the grid stops at its edge. A cell without pixels gets
    // no width (or height) where the pixels before it end.
    TCellBounds Bounds(TCellRef cell, int spanColumns = 1, int spanRows = 1) const;

private:
    TCutGrid m_grid { 0, 0, {}, {} };
};

// A cut line as the editor holds it: where it cuts, in picture pixels, and
// whether it is ticked (drawn; it cuts either way).
struct TEditorLine {
    int32_t Position = 0;
    bool Checked = true;
    bool operator==(const TEditorLine&) const = default;
};
using TEditorLines = std::vector<TEditorLine>;

// The lines as the project file and a run read them: the position as plain
// decimal text.
TCutLines CutLinesOf(const TEditorLines& lines);
// The cells that lines make over a picture of width x height.
TCellGrid CellGridOf(const TEditorLines& columns, const TEditorLines& rows, int width, int height);
// Puts line into lines, which are in ascending order, after every line not
// past it; gives its index.
size_t InsertEditorLine(TEditorLines& lines, TEditorLine line);
// Moves the line at index (< size) to position and gives its new index;
// lines at one place keep the order they had, as a stable sort leaves them.
size_t MoveEditorLine(TEditorLines& lines, size_t index, int32_t position);

// The entries of cells that fit the grid, taken in order while they keep the
// core's layout check passing: what the editor draws and checks edits
// against. The others stay in the project for lines that make room again;
// a run refuses them.
TCellPropertyMap FittingCells(const TCellPropertyMap& cells, int rows, int columns);

// The one colour of the bounds' pixels in picture (24-bit rows), or none
// when they hold two or none at all.
std::optional<TColor> FlatColorOf(const TPixelView& picture, const TCellBounds& bounds);

// cells with one property of cell set to value, read as the project file
// reads it (an empty value gives the default). The cell is then checked by
// the core against the fitting others: its layout, a new name for being
// unique, a format for being known; and what a run would refuse or leave
// out: a Fill or Span edit that leaves Fill=auto over pixels of more than
// one colour (checked when picture, the 24-bit rows the grid cuts, is
// given), a Link or Alt on a skipped cell, which has neither image nor
// area to carry them. Fails with ECellPropertyError, which names the cell.
TCellPropertyMap WithCellProperty(const TCellPropertyMap& cells, TCellRef cell, std::string_view property,
    std::string_view value, const TCellGrid& grid, std::string_view nameTemplate,
    std::string_view projectName, const std::optional<TPixelView>& picture = std::nullopt);

// The cell an arrow key moves to from the one selected: the next one past
// its span in that direction, taken to the anchor of a span over it;
// the selection stays at the grid's edge. fitting as FittingCells gives.
TCellRef NeighbourCell(
    const TCellPropertyMap& fitting, const TCellGrid& grid, TCellRef from, int rowStep, int columnStep);

// The stretches of a cut line at position that lie inside no span, as
// [from, to) along the line, over 0 up to extent.
std::vector<std::pair<int, int>> OpenStretches(
    const TCellPropertyMap& fitting, const TCellGrid& grid, bool vertical, int position, int extent);

} // namespace sw
