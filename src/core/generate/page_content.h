#pragma once

// Live text and buttons in place of a cell's image: what they look like,
// read from the project and, where it says nothing, from the cell's pixels;
// and the markup each page style writes for them. A text or button cell
// keeps its box: its content is clipped, never grows the row.

#include "core/base/colors.h"
#include "core/generate/page_layout.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cell_properties.h"

#include <optional>
#include <string>

namespace sw {

constexpr const char* kDefaultTextFont = "Arial, Helvetica, sans-serif";

// The contrast of two colours as WCAG defines it, from 1 to 21.
double ContrastRatio(TColor a, TColor b);

// What the cell with properties (text or a button) shows, sized for a page
// at scale. pixels are the cell's own (24-bit rows). What the project leaves
// open comes from them: the background is the Fill (or, without one, the
// dominant colour; a button's the colour around its face), a button's face
// the dominant colour of the cell's middle band and its size the area of
// that colour; the text's size from the height of its lines of ink, its
// alignment and side padding from where the ink lies, its colour the
// design's when it is readable on the background (WCAG AA), else black or
// white, whichever reads better. Text that would not fit the cell's height
// at that size is made smaller.
TPageContent PageContentOf(
    const TCellProperties& properties, const TPixelView& pixels, int scale, std::optional<TColor> fill);

namespace page {

// The whole table cell of a text or button cell: td is its opening tag
// without the closing '>' (spans, and sizes where the style states them).
// The e-mail style draws a button twice: VML for Outlook for Windows, a
// padded link for every other client.
std::string ContentCell(std::string td, const TPageCell& cell, int scale, TPageStyle style);
// The grid style's item for a text or button cell at row (from 0).
std::string ContentGridItem(size_t row, const TPageCell& cell);

} // namespace page

} // namespace sw
