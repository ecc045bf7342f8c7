#pragma once

// What a run makes of each cell of the grid, settled before any cell is
// encoded: the run follows it, and the size estimate weighs the same cells.

#include "core/generate/run_settings.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cut_grid.h"

#include <optional>
#include <string>
#include <vector>

namespace sw {

class TBitmap;

enum class TCellRole {
    Image, // a file of its own, and its @1x copy with AlsoHalfSize
    Fill, // a coloured cell without an image: Fill=RRGGBB, or Fill=auto resolved
    Skip, // an empty cell of its size
    Content, // live text or a button: no image, its pixels give the defaults
    Covered, // under another cell's span: no place of its own
    NoPixels, // its pieces lie outside the picture or have no size
};

struct TPlannedCell {
    TCellRef Ref {};
    TCellRole Role = TCellRole::Image;
    TCellProperties Properties {};
    // Image, Fill and Skip: the pixels, its span included.
    TGridRect Rect {};
    // The run's format, or the cell's own with the run's other settings.
    TCellFormat Format {};
    bool OwnFormat = false;
    // The file's name without folder or extension; set for every cell not
    // covered in a row with pixels, as only those are named in a run.
    std::string BaseName;
    TColor FillColor = 0; // Fill; Content with Fill=RRGGBB
    std::string Reason; // NoPixels
};

struct TCellPlan {
    TCutGrid Grid;
    std::string NameTemplate;
    // Every cell of the grid, row by row.
    std::vector<TPlannedCell> Cells;
    const TPlannedCell& At(int row, int column) const
    {
        return Cells[size_t(row - 1) * size_t(Grid.Columns()) + size_t(column - 1)];
    }
};

// Checks what the run refuses before it writes anything, in this order: the
// design's scale (1 or 2; Scale 2 needs an even picture and even cut
// positions, and @1x copies need Scale 2), the number of cells (at most
// kMaxGridCells), the cells' layout and names (ECellPropertyError naming the
// cell), each cell's own format, and that a Fill=auto cell is one flat
// colour (read from picture, 24-bit, and rgba when the cell's format keeps
// alpha); then plans every cell.
TCellPlan PlanCells(TCutGrid grid, const TGenerationSettings& settings, const TPixelView& picture,
    const std::optional<TPixelView>& rgba);

// The picture as 24-bit rows: its own when it is 24-bit (holder then
// shares its pixels), else a converted copy kept in holder.
TPixelView Picture24(const TBitmap& picture, TBitmap& holder);

} // namespace sw
