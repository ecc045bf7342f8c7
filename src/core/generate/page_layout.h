#pragma once

// What a page shows, apart from how a file is written: its style, its tracks
// and cells, what a cell holds instead of an image, and the page's options.

#include "core/base/colors.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// The markup a page is written in. Classic is the borderless table of the
// early web, shaped by the page file's extension (TPageKind); the others are
// whole documents whatever the extension: Html5 a standards-mode table with
// sizes and alt text, Email the table that mail clients keep intact (all
// sizes as attributes, no style sheet, an outer centring table), Grid a CSS
// grid that scales down with the window and keeps the design's aspect.
enum class TPageStyle { Classic, Html5, Email, Grid };

// "classic", "html5", "email", "grid"; names are matched without regard to
// ASCII case, and an unknown name gives nothing.
const char* PageStyleName(TPageStyle style);
std::optional<TPageStyle> PageStyleFromName(std::string_view name);

// Live text or a button that a cell shows in place of its image, every size
// in page pixels and every default already taken from the cell's pixels.
struct TPageContent {
    bool Button = false;
    // As the project writes it: "\n" breaks the line (CellTextLines).
    std::string Text;
    std::string Font;
    int Size = 0;
    int LineHeight = 0;
    TColor Color = 0;
    TColor Background = 0; // of the whole cell
    std::string Align = "left"; // as CSS writes it
    bool Bold = false;
    std::array<int, 4> Padding {}; // top, right, bottom, left
    // A button's face, centred in the cell.
    TColor Face = 0;
    int FaceWidth = 0;
    int FaceHeight = 0;
    int Radius = 0;

    bool operator==(const TPageContent&) const = default;
};

// One more file of a cell's image: its MIME type ("image/avif") and
// addresses, as TPageCell's Source and HalfSource.
struct TPageSource {
    std::string Type;
    std::string Source;
    std::string HalfSource {};
};

// One cell of a page: a rectangle of the grid of column and row tracks,
// anchored at Column of its row and covering ColumnSpan x RowSpan tracks.
// Sizes are in the picture's pixels; the page shows them divided by the
// layout's Scale.
struct TPageCell {
    int Column = 0; // from 0
    int ColumnSpan = 1;
    int RowSpan = 1;
    int Width = 0; // of the image (the union of the tracks when spanned)
    int Height = 0;
    // The image's address as the page refers to it (already a URL: any
    // escaping a file name needs is done; see UrlPathEscaped). Unused for a
    // fill or a skipped cell.
    std::string Source;
    // Written in every style but Classic: an image's alt text, the label of
    // a cell without an image.
    std::string Alt;
    // Wraps the image in a link when not empty; a cell without an image
    // holds a link block of its size. Only what IsSafeLink allows.
    std::string Link;
    std::optional<TColor> Fill; // no image: a cell painted in this RGB colour
    bool Skip = false; // no image and no content: an empty cell of its size
    // No image: live text or a button, on its Link when it has one.
    std::optional<TPageContent> Content;
    // What stands in an image cell's place while its image is not shown:
    // the colour the cell reads as from afar. Written by the e-mail style.
    std::optional<TColor> Background {};
    // The image at half its size (a 2x design's @1x file), as Source is
    // written: the page offers both by pixel density. Empty: none.
    std::string HalfSource {};
    // The same image in other formats, best first: the page makes the
    // cell a <picture> whose sources come before the image (html5, grid).
    std::vector<TPageSource> Sources {};
};

// The cells of one row track, left to right; cells that another cell's
// span covers are left out.
struct TPageRow {
    std::vector<TPageCell> Cells;
    // On narrow screens (html5, grid) the band of this row, with every row
    // a span ties to it, shows its cells one under another at full width.
    bool Stack = false;
};

// What a page shows: the picture's size, its tracks and its cells. Classic
// writes the rows and cells as listed and needs no tracks; every other style
// needs one row per row track and cells that cover every track once. Every
// size must be a multiple of Scale.
struct TPageLayout {
    int Width = 0;
    int Height = 0;
    // 2 for a design drawn at twice the size it is shown: the page halves
    // every size, the images keep theirs.
    int Scale = 1;
    std::vector<int> ColumnWidths;
    std::vector<int> RowHeights;
    std::vector<TPageRow> Rows;
};

constexpr int kDefaultFold = 900;
constexpr int kDefaultBreakpoint = 600;

struct TPageOptions {
    TPageStyle Style = TPageStyle::Classic;
    // Classic's snippet header; the meta description of html5 and grid
    // pages when not empty.
    std::string Description;
    std::string Title; // the title of every other style; empty: the product's
    std::string Lang = "en"; // the page's language (a BCP 47 tag), for every style but Classic
    // Put before every image's Source when not empty (a '/' is added when it
    // does not end in one), for images kept on another server. Only what
    // IsSafeLink allows.
    std::string BaseUrl;
    // E-mail: the preview text an inbox shows after the subject; hidden in
    // the message itself. Empty: none.
    std::string Preheader {};
    // html5 and grid: images whose top lies Fold picture pixels down or
    // lower load lazily, and the largest image above it first; below
    // Breakpoint CSS pixels of window width stacked rows stack.
    int Fold = kDefaultFold;
    int Breakpoint = kDefaultBreakpoint;
};

} // namespace sw
