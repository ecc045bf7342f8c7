#pragma once

// What a project says about single cells: the optional [Cells] section, one
// key "R{row}C{col}.{Property}" per property, rows and columns counted from
// 1 at the top left. A project without the section cuts every cell as an
// image named by the name template.

#include "core/base/colors.h"
#include "core/base/errors.h"

#include <array>
#include <compare>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

class TIniFile;

// A [Cells] key or value that cannot be read, a span or a name that does
// not fit the grid: the message names the cell.
class ECellPropertyError : public Exception {
public:
    using Exception::Exception;
};

constexpr const char* kCellsSection = "Cells";
constexpr const char* kDefaultNameTemplate = "r{row}_c{col}";
// Bounds a span can be written with; the grid bounds it further.
constexpr int kMaxCellSpan = 100000;
// Leaves room for an extension and "@1x" within a file name's 255 bytes.
constexpr size_t kMaxCellNameLength = 200;

enum class TCellFill { None, Color, Auto };
// Auto: what the cell's pixels suggest.
enum class TTextAlign { Auto, Left, Center, Right };
enum class TTextWeight { Auto, Normal, Bold };
// Bounds of the sizes a text cell or a button is written with, in CSS px.
constexpr int kMaxTextSize = 400;
constexpr int kMaxTextPadding = 1000;
constexpr int kMaxButtonRadius = 1000;

struct TCellProperties {
    std::string Name; // the file's base name; empty: the name template's
    std::string Alt;
    std::string Link;
    int SpanColumns = 1;
    int SpanRows = 1;
    TCellFill Fill = TCellFill::None;
    TColor FillColor = 0; // RGB, when Fill is Color
    std::string Format; // a cell format's name; empty: the run's
    bool Skip = false;
    // Live text in place of the image, as the project writes it: "\n"
    // breaks the line, "\\" is one backslash (CellTextLines).
    std::string Text;
    std::string TextFont; // CSS font names; empty: the default
    int TextSize = 0; // CSS px; 0: from the cell's pixels
    std::optional<TColor> TextColor; // RGB; none: from the cell's pixels
    TTextAlign TextAlign = TTextAlign::Auto;
    TTextWeight TextWeight = TTextWeight::Auto;
    // CSS px, top, right, bottom, left; none: from the cell's pixels.
    std::optional<std::array<int, 4>> TextPadding;
    // A link drawn as a button in place of the image: its label, one line.
    std::string Button;
    std::optional<TColor> ButtonColor;
    std::optional<TColor> ButtonTextColor;
    int ButtonRadius = -1; // CSS px; -1: from the cell's pixels
    // A row's own property, kept under column kRowColumn (R{r}.Stack): on
    // narrow screens the row band shows its cells one under another.
    bool Stack = false;

    bool operator==(const TCellProperties&) const = default;
    bool IsPlain() const { return *this == TCellProperties(); }
    bool Spans() const { return SpanColumns > 1 || SpanRows > 1; }
    // Live text or a button in place of the image.
    bool HasContent() const { return !Text.empty() || !Button.empty(); }
    // A filled, skipped, text or button cell has no image file.
    bool HasImage() const { return Fill == TCellFill::None && !Skip && !HasContent(); }
};

// The column under which a row's own properties are kept.
constexpr int kRowColumn = 0;

struct TCellRef {
    int Row = 1;
    int Column = 1;
    auto operator<=>(const TCellRef&) const = default;
};

// Row by row, left to right; plain cells are not kept.
using TCellPropertyMap = std::map<TCellRef, TCellProperties>;

// "R3C2"; "R3" for the row's own properties.
std::string CellLabel(TCellRef cell);

// Whether a page may link to the address: http:, https:, mailto: and tel:
// addresses, relative paths and #anchors may; any other scheme (javascript:,
// data:, ...) may not. The scheme is read as a browser reads it.
bool IsSafeLink(std::string_view link);
// The rule in words, for messages.
constexpr const char* kSafeLinkRule
    = "an http:, https:, mailto: or tel: address, a relative path or a #anchor";

// "RRGGBB" in hexadecimal, red first, a leading '#' allowed; nothing for
// any other text.
std::optional<TColor> ParseRgbHex(std::string_view text);

// The property names as written: Name, Alt, Link, Span, Fill, Format, Skip,
// Text, TextFont, TextSize, TextColor, TextAlign, TextWeight, TextPadding,
// Button, ButtonColor, ButtonTextColor, ButtonRadius, and a row's Stack (0 or
// 1), which only R{r}.Stack carries.
// SetCellProperty reads one value into properties (names match without
// regard to ASCII case): Span is "CxR" with whole numbers from 1 to
// kMaxCellSpan, Fill "RRGGBB" (a leading '#' allowed) or "auto", Skip a
// whole number (not 0: skipped), Name as CheckCellName allows; colours
// "RRGGBB"; TextSize and ButtonRadius whole CSS px; TextAlign left, center
// or right; TextWeight normal or bold; TextPadding one to four whole CSS px
// as CSS orders them; TextFont font names (letters, digits, blanks, '-',
// '_', quotes) separated by commas; an empty value gives the default. A
// Link IsSafeLink refuses, a bad value or an unknown property fails with
// ECellPropertyError naming the cell.
void SetCellProperty(
    TCellProperties& properties, TCellRef cell, std::string_view property, std::string_view value);

// The value of one property as WriteCellProperties writes it (names as
// SetCellProperty matches them); empty for the default or an unknown name.
std::string CellPropertyText(const TCellProperties& properties, std::string_view property);

// Reads every key of [Cells]. A key that is not "R{r}C{c}.{Property}" with
// r, c >= 1 and a known property, or "R{r}.Stack", fails, as a bad value does. Properties that
// come to their defaults leave no entry.
TCellPropertyMap ReadCellProperties(const TIniFile& ini);

// Appends the properties that differ from their defaults, cell by cell, in
// the property order above; nothing at all for a map of plain cells, so such
// a project is written as before.
void WriteCellProperties(TIniFile& ini, const TCellPropertyMap& cells);

// Checks the cells against a grid of rows x columns cells: every cell and
// span inside the grid, no two spans overlapping, no cell under another's
// span carrying properties of its own, no cell both filled and skipped, no
// cell both skipped and holding text or a button, none holding both text
// and a button, no link IsSafeLink refuses.
void CheckCellLayout(const TCellPropertyMap& cells, int rows, int columns);

// The lines of a Text value: "\n" ends a line, "\\" is a backslash, any
// other backslash is kept.
std::vector<std::string> CellTextLines(std::string_view value);

// The cell that covers (row, column): the anchor of the span it lies under,
// or the cell itself. Assumes CheckCellLayout passed.
TCellRef CoveringCell(const TCellPropertyMap& cells, TCellRef cell);

// A file's base name: not empty, not "." or "..", no '/' or '\', no control
// characters, at most kMaxCellNameLength bytes. Fails with
// ECellPropertyError naming the cell.
void CheckCellName(std::string_view name, TCellRef cell);

// The name template with {row}, {col} and {project} replaced; any other
// field or a lone brace fails with ECellPropertyError.
std::string ExpandNameTemplate(std::string_view nameTemplate, TCellRef cell, std::string_view projectName);

// The base name of a cell's file: its Name, else the expanded template
// (kDefaultNameTemplate when nameTemplate is empty), checked.
std::string CellBaseName(const TCellPropertyMap& cells, std::string_view nameTemplate,
    std::string_view projectName, TCellRef cell);

// CheckCellLayout, then the base names of every cell of the grid that gets an image file
// (not covered, filled or skipped): each valid, and no two the same when
// compared without regard to ASCII case (a project moves between systems).
void CheckCellNames(const TCellPropertyMap& cells, std::string_view nameTemplate,
    std::string_view projectName, int rows, int columns);

} // namespace sw
