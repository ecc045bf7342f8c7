#pragma once

// What opening a design file offers beyond its pixels: the page of a PDF to
// open, a layered design's guides and slices as cut lines (asked, never
// taken silently), its layers' sides for Suggest cuts and its text layers'
// text for a cell's alt text. The logic is the core's (design_cuts.h);
// here are the questions and the reading of the file.

#include "core/imaging/layered_design.h"
#include "core/layout/cell_grid.h"
#include "core/layout/design_cuts.h"
#include "core/project/cut_lines.h"
#include "core/project/project_file.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace sw {

// The design record of a PSD or OpenRaster file; nothing for other kinds,
// or when the record cannot be read (the picture may still be: its reader
// says why it cannot).
std::optional<TLayeredDesign> DesignOfPicture(const std::string& fileName);

// The number of pages of a PDF file, 1 for other kinds or a file that
// cannot be read (opening it says why).
int DesignPageCount(const std::string& fileName);

// Asks which of pages to open, starting at current; nothing when cancelled.
// Tests answer in place of the user; empty means the input dialog.
using TPageQuestion = std::function<std::optional<int>(int pages, int current)>;
extern TPageQuestion AskDesignPage;
std::optional<int> AskPage(QWidget* parent, int pages, int current);

// The cut lines the design's guides and slices give, once the user agreed
// to take them (through Services().Confirm); none when there are none or
// the user declined.
TDesignCuts OfferDesignCuts(const TLayeredDesign& design);

// The lines of a design drawn at scale from, moved to where they stand in
// its render at scale to: positions times to / from, any fraction dropped.
// A line that would fall on the picture's edge or on another line goes.
TEditorLines ScaleCutLines(const TEditorLines& lines, int from, int to);

// output with its Scale set to scale, the key gone at the default 1.
std::optional<TOutputValues> OutputAtScale(std::optional<TOutputValues> output, int scale);

// The text layers in the cell as one proposal, lines joined by spaces;
// empty when there are none.
QString DesignTextForCell(const TLayeredDesign& design, const TRect& cell);

} // namespace sw
