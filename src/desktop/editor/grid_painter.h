#pragma once

// Paints what the grid shows over the picture: the checked cut lines in the
// canvas's carried-over pen, then the editor's own marks (suggestions, the
// selected line, a drag's guide, the cells' overlay, fills and selection).
// It reads plain values, so what a paint shows depends on nothing but them.

#include "core/layout/cell_grid.h"
#include "core/layout/line_suggestions.h"
#include "core/layout/zoom_mapping.h"
#include "core/project/cut_lines.h"
#include "desktop/editor/grid_canvas.h"

#include <cstdint>
#include <optional>

class QPainter;
class QRect;

namespace sw {

// A line along a column (Vertical) or a row, at a picture position.
struct TGridMark {
    bool Vertical = true;
    int32_t Position = 0;
};

// One paint's input; the pointers outlive the paint.
struct TGridScene {
    const TEditorLines* Columns = nullptr;
    const TEditorLines* Rows = nullptr;
    // The cells the lines make and the project's cells fitted to them.
    const TCellGrid* Grid = nullptr;
    const TCellPropertyMap* Fitting = nullptr;
    // Whether the project has cell properties or a selected cell: without
    // either there are no cell marks to draw.
    bool HasCellMarks = false;
    const TLineSuggestions* Suggestions = nullptr;
    std::optional<TGridMark> SelectedLine;
    std::optional<TGridMark> Guide;
    bool Overlay = false;
    // In the Cells mode, the selected cell is outlined.
    bool CellsMode = false;
    std::optional<TCellRef> SelectedCell;
};

class TGridPainter {
public:
    // The canvas whose pen carries over from one paint to the next.
    const TGridCanvas& Canvas() const { return m_canvas; }

    // Strokes a whole cut line in the pen as a click sets it; outside a
    // paint only the pen changes.
    void StrokeLine(bool vertical, int32_t position, int width, int height);

    void Paint(QPainter& painter, const QRect& area, const TZoomMapping& zoom, int width, int height,
        const TGridScene& scene);

private:
    void PaintLines(const TGridScene& scene, int width, int height);
    // A checked line less its stretches inside spans.
    void PaintLine(bool vertical, int32_t position, const TGridScene& scene, int width, int height);
    void PaintMarks(
        QPainter& painter, const TZoomMapping& zoom, int width, int height, const TGridScene& scene);
    void PaintOverlay(QPainter& painter, const TZoomMapping& zoom, const TGridScene& scene);
    void PaintCellMarks(QPainter& painter, const TZoomMapping& zoom, const TGridScene& scene);
    void PaintSelectedCell(QPainter& painter, const TZoomMapping& zoom, const TGridScene& scene);

    TGridCanvas m_canvas;
};

} // namespace sw
