#pragma once

// What every page style writes its markup with: one escaping routine, the
// attributes built on it, the tracks a table is made of, and one function per
// style. Only the page writer's own files include this.

#include "core/generate/page_layout.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sw::page {

// Receives the page's lines, one at a time, without their line ends.
using TLineSink = std::function<void(std::string_view line)>;

// Alt text, links and titles may hold anything the project file can: markup
// characters become references, and so does every non-ASCII character, so
// the text survives a page read in any character set. Broken UTF-8 shows as
// the replacement character; controls, which no attribute may hold, as
// blanks.
std::string HtmlEscaped(std::string_view text);
// Every attribute value of every style is written through here, so no
// address, name or text can end its attribute early.
std::string Attribute(std::string_view name, std::string_view value);
std::string ColorHex(TColor color);
std::string Px(int value);
// What a cell without an image says about itself: its alt text as a label,
// on its link when it has one, else on the cell itself as a picture.
std::string LabelOf(const TPageCell& cell, bool onLink);
// The image's address: the base URL, a '/' when it needs one, the source.
std::string SourceOf(const TPageCell& cell, const std::string& baseUrl);
// The page's title, escaped; the product's when the options give none.
std::string TitleOf(const TPageOptions& options);
// "rtl" for a language tag whose language is written right to left
// (Arabic, Hebrew, Persian, Urdu...), else "ltr".
std::string TextDirection(std::string_view lang);

// The tracks of a table page. Tracks that no cell starts in are merged into
// the one before, so that a table never holds a row or a column made only of
// spanned cells (which browsers collapse).
struct TTableTracks {
    std::vector<char> RowAnchored; // per row track: a cell starts in it
    std::vector<int> ColumnOf; // per column track: its merged column
    std::vector<int> RowOf; // per row track: its merged row
    std::vector<int> Widths; // per merged column, in page pixels
    std::vector<int> Heights; // per merged row, in page pixels

    int ColumnSpan(const TPageCell& cell) const;
    int RowSpan(size_t row, const TPageCell& cell) const;
    // "<td" with the cell's spans in merged tracks, not yet closed.
    std::string CellOpening(size_t row, const TPageCell& cell) const;
};

TTableTracks TableTracks(const TPageLayout& layout);

// The first lines of an html5 or grid page, up to its style sheet: doctype,
// html tag, head, charset, viewport, title and description.
void WebPageHead(const TPageOptions& options, const TLineSink& line);

// The opening <html> tag with the page's language, and its direction for a
// language written right to left.
std::string HtmlTag(const TPageOptions& options);
bool RightToLeft(const TPageOptions& options);
// The head's lines after the viewport: the title, an empty icon and, when
// there is one, the meta description.
void TitleAndDescription(const TPageOptions& options, const TLineSink& line);

// How each image loads: below the fold lazily, the largest image above it
// first.
enum class TLoading { Eager, Lazy, First };
// Per row, per cell of the layout (cells without an image Eager).
std::vector<std::vector<TLoading>> PlanLoading(const TPageLayout& layout, int fold);
// A cell's image: an <img> with its sizes in page pixels, alt text,
// loading hints and, when the cell has an @1x file, both by pixel density;
// with sources, a <picture> holding them first and the <img>. outerAttributes
// go on the outermost element.
std::string ImageOf(const TPageCell& cell, const TPageOptions& options, int scale, TLoading loading,
    const std::string& outerAttributes);

// Consecutive row tracks that spans tie together, or that stack together on
// narrow screens: a page section. Without stacked rows one section holds all.
struct TPageSection {
    size_t First = 0; // row tracks [First, End)
    size_t End = 0;
    bool Stack = false;
};
std::vector<TPageSection> PageSections(const TPageLayout& layout);
// Grid tracks as fractions of the sizes [first, end), each allowed below
// the size of what it holds: "minmax(0,24fr) minmax(0,352fr)".
std::string Fractions(const std::vector<int>& sizes, size_t first, size_t end);
// "@media (max-width:599.98px){", for windows narrower than the breakpoint.
std::string NarrowMedia(int breakpoint);

void WriteHtml5Page(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line);
void WriteEmailPage(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line);
void WriteGridPage(const TPageLayout& layout, const TPageOptions& options, const TLineSink& line);

} // namespace sw::page
