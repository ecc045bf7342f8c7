#include "core/project/cell_properties.h"

#include "core/base/sysutils.h"
#include "core/project/ini_file.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <unordered_map>
#include <vector>

namespace sw {

namespace {

const char* const kProperties[] = { "Name", "Alt", "Link", "Span", "Fill", "Format", "Skip", "Text",
    "TextFont", "TextSize", "TextColor", "TextAlign", "TextWeight", "TextPadding", "Button", "ButtonColor",
    "ButtonTextColor", "ButtonRadius", "Stack" };
const char* const kAlignNames[] = { "", "left", "center", "right" };
const char* const kWeightNames[] = { "", "normal", "bold" };

[[noreturn]] void Fail(const std::string& message)
{
    throw ECellPropertyError(message);
}

// Decimal digits only: a cell reference or a span has no sign, no blanks and
// no hexadecimal form.
std::optional<int> Decimal(std::string_view text, int maximum)
{
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > maximum)
        return std::nullopt;
    return value;
}

std::string GridText(int rows, int columns)
{
    return "the grid of " + IntToStr(rows) + (rows == 1 ? " row" : " rows") + " and " + IntToStr(columns)
        + (columns == 1 ? " column" : " columns");
}

std::string SpanText(const TCellProperties& properties)
{
    return IntToStr(properties.SpanColumns) + "x" + IntToStr(properties.SpanRows);
}

std::string FillText(const TCellProperties& properties)
{
    if (properties.Fill == TCellFill::Auto)
        return "auto";
    return HexRgb(properties.FillColor);
}

std::string ColorText(const std::optional<TColor>& color)
{
    return color ? HexRgb(*color) : std::string();
}

std::string PaddingText(const std::optional<std::array<int, 4>>& padding)
{
    if (!padding)
        return std::string();
    const auto& [top, right, bottom, left] = *padding;
    // The shortest form CSS reads back as the same four sides.
    std::string text = IntToStr(top);
    if (right == top && bottom == top && left == top)
        return text;
    text += " " + IntToStr(right);
    if (bottom == top && left == right)
        return text;
    text += " " + IntToStr(bottom);
    if (left == right)
        return text;
    return text + " " + IntToStr(left);
}

std::string ValueOf(const TCellProperties& properties, size_t property)
{
    switch (property) {
    case 0:
        return properties.Name;
    case 1:
        return properties.Alt;
    case 2:
        return properties.Link;
    case 3:
        return properties.Spans() ? SpanText(properties) : std::string();
    case 4:
        return properties.Fill == TCellFill::None ? std::string() : FillText(properties);
    case 5:
        return properties.Format;
    case 6:
        return properties.Skip ? "1" : std::string();
    case 7:
        return properties.Text;
    case 8:
        return properties.TextFont;
    case 9:
        return properties.TextSize > 0 ? IntToStr(properties.TextSize) : std::string();
    case 10:
        return ColorText(properties.TextColor);
    case 11:
        return kAlignNames[static_cast<size_t>(properties.TextAlign)];
    case 12:
        return kWeightNames[static_cast<size_t>(properties.TextWeight)];
    case 13:
        return PaddingText(properties.TextPadding);
    case 14:
        return properties.Button;
    case 15:
        return ColorText(properties.ButtonColor);
    case 16:
        return ColorText(properties.ButtonTextColor);
    case 17:
        return properties.ButtonRadius >= 0 ? IntToStr(properties.ButtonRadius) : std::string();
    default:
        return properties.Stack ? "1" : std::string();
    }
}

// A whole number from 0 to maximum, digits only, "px" allowed after them.
std::optional<int> CssPixels(std::string_view text, int maximum)
{
    if (text.size() > 2 && LowerCaseAscii(text.substr(text.size() - 2)) == "px")
        text.remove_suffix(2);
    if (text == "0")
        return 0;
    return Decimal(text, maximum);
}

// Font names go into a style attribute, so nothing that could end a
// declaration or open a function is let through, nor a quote left open,
// which would swallow the declarations after it.
bool IsFontList(std::string_view text)
{
    char open = 0;
    for (const char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (c == '\'' || c == '"')
            open = open == 0 ? c : open == c ? 0 : open;
        else if (!letter && c != ' ' && c != ',' && c != '-' && c != '_')
            return false;
    }
    return open == 0;
}

template <typename Enum, size_t N>
std::optional<Enum> Keyword(std::string_view value, const char* const (&names)[N])
{
    const std::string folded = LowerCaseAscii(value);
    for (size_t k = 1; k < N; ++k)
        if (folded == names[k])
            return static_cast<Enum>(k);
    return std::nullopt;
}

// Each cell under a span, with the span's anchor. Covered cells come after
// their anchor, row by row, so one pass in that order finds each cell's
// cover already marked. Fails on overlaps; the grid check before it bounds
// the work by the grid's size.
std::map<TCellRef, TCellRef> CoveredCells(const TCellPropertyMap& cells)
{
    std::map<TCellRef, TCellRef> coveredBy;
    for (const auto& [cell, properties] : cells) {
        const auto cover = coveredBy.find(cell);
        if (cover != coveredBy.end()) {
            if (properties.Spans())
                Fail("The span of cell " + CellLabel(cell) + " overlaps the span of cell "
                    + CellLabel(cover->second));
            Fail("Cell " + CellLabel(cell) + " lies under the span of cell " + CellLabel(cover->second)
                + " and cannot have properties of its own");
        }
        if (!properties.Spans())
            continue;
        for (int r = cell.Row; r < cell.Row + properties.SpanRows; ++r)
            for (int c = cell.Column; c < cell.Column + properties.SpanColumns; ++c) {
                if (r == cell.Row && c == cell.Column)
                    continue;
                const auto [at, inserted] = coveredBy.try_emplace(TCellRef { r, c }, cell);
                if (!inserted)
                    Fail("The span of cell " + CellLabel(cell) + " overlaps the span of cell "
                        + CellLabel(at->second));
            }
    }
    return coveredBy;
}

} // namespace

std::string CellLabel(TCellRef cell)
{
    if (cell.Column == kRowColumn)
        return "R" + IntToStr(cell.Row);
    return "R" + IntToStr(cell.Row) + "C" + IntToStr(cell.Column);
}

bool IsSafeLink(std::string_view link)
{
    // Browsers drop tabs and line breaks anywhere in an address and blanks
    // and controls before it, so "java\tscript:" is still a scheme.
    std::string text;
    for (const char c : link)
        if (c != '\t' && c != '\n' && c != '\r' && (!text.empty() || static_cast<unsigned char>(c) > 0x20))
            text += c;
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (text.empty() || !isAlpha(text.front()))
        return true;
    size_t end = 1;
    while (end < text.size()
        && (isAlpha(text[end]) || (text[end] >= '0' && text[end] <= '9') || text[end] == '+'
            || text[end] == '-' || text[end] == '.'))
        ++end;
    // Without a colon right after them, the letters begin a relative path.
    if (end == text.size() || text[end] != ':')
        return true;
    const std::string scheme = LowerCaseAscii(std::string_view(text).substr(0, end));
    return scheme == "http" || scheme == "https" || scheme == "mailto" || scheme == "tel";
}

std::optional<TColor> ParseRgbHex(std::string_view text)
{
    const std::string_view digits = !text.empty() && text.front() == '#' ? text.substr(1) : text;
    if (digits.size() != 6)
        return std::nullopt;
    uint32_t rgb = 0;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return std::nullopt;
        rgb = (rgb << 4) | static_cast<uint32_t>(digit);
    }
    return RGB(static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8), static_cast<uint8_t>(rgb));
}

void SetCellProperty(
    TCellProperties& properties, TCellRef cell, std::string_view property, std::string_view value)
{
    const std::string folded = LowerCaseAscii(property);
    const auto bad = [&](const char* expected) {
        Fail("Cell " + CellLabel(cell) + " has " + std::string(property) + "=" + std::string(value)
            + "; expected " + expected);
    };
    if ((folded == "stack") != (cell.Column == kRowColumn))
        Fail(cell.Column == kRowColumn ? "Row " + CellLabel(cell) + " has an unknown property "
                    + std::string(property) + "; a row knows Stack only"
                                       : "Cell " + CellLabel(cell) + " has Stack, which belongs to its row: R"
                    + IntToStr(cell.Row) + ".Stack");
    if (folded == "stack") {
        const std::optional<int32_t> number = value.empty() ? std::optional<int32_t>(0) : TryStrToInt(value);
        if (!number)
            bad("1 or 0");
        properties.Stack = *number != 0;
    } else if (folded == "name") {
        if (!value.empty())
            CheckCellName(value, cell);
        properties.Name = value;
    } else if (folded == "alt") {
        properties.Alt = value;
    } else if (folded == "link") {
        if (!IsSafeLink(value))
            bad(kSafeLinkRule);
        properties.Link = value;
    } else if (folded == "format") {
        properties.Format = value;
    } else if (folded == "span") {
        properties.SpanColumns = properties.SpanRows = 1;
        if (value.empty())
            return;
        const size_t x = value.find_first_of("xX");
        const auto columns
            = x == std::string_view::npos ? std::nullopt : Decimal(value.substr(0, x), kMaxCellSpan);
        const auto rows
            = x == std::string_view::npos ? std::nullopt : Decimal(value.substr(x + 1), kMaxCellSpan);
        if (!columns || !rows)
            bad("COLUMNSxROWS, such as 2x1");
        properties.SpanColumns = *columns;
        properties.SpanRows = *rows;
    } else if (folded == "fill") {
        properties.Fill = TCellFill::None;
        properties.FillColor = 0;
        if (value.empty())
            return;
        if (LowerCaseAscii(value) == "auto") {
            properties.Fill = TCellFill::Auto;
            return;
        }
        const std::optional<TColor> color = ParseRgbHex(value);
        if (!color)
            bad("RRGGBB in hexadecimal or auto");
        properties.Fill = TCellFill::Color;
        properties.FillColor = *color;
    } else if (folded == "skip") {
        if (value.empty()) {
            properties.Skip = false;
            return;
        }
        const std::optional<int32_t> number = TryStrToInt(value);
        if (!number)
            bad("1 or 0");
        properties.Skip = *number != 0;
    } else if (folded == "text") {
        properties.Text = value;
    } else if (folded == "button") {
        properties.Button = value;
    } else if (folded == "textfont") {
        if (!IsFontList(value))
            bad("font names separated by commas, such as Georgia, serif");
        properties.TextFont = value;
    } else if (folded == "textcolor" || folded == "buttoncolor" || folded == "buttontextcolor") {
        std::optional<TColor>& target = folded == "textcolor" ? properties.TextColor
            : folded == "buttoncolor"                         ? properties.ButtonColor
                                                              : properties.ButtonTextColor;
        target.reset();
        if (value.empty())
            return;
        target = ParseRgbHex(value);
        if (!target)
            bad("RRGGBB in hexadecimal");
    } else if (folded == "textsize") {
        properties.TextSize = 0;
        if (value.empty())
            return;
        const std::optional<int> size = CssPixels(value, kMaxTextSize);
        if (!size || *size == 0)
            bad("a size in CSS pixels from 1 to 400");
        properties.TextSize = *size;
    } else if (folded == "buttonradius") {
        properties.ButtonRadius = -1;
        if (value.empty())
            return;
        const std::optional<int> radius = CssPixels(value, kMaxButtonRadius);
        if (!radius)
            bad("a radius in CSS pixels from 0 to 1000");
        properties.ButtonRadius = *radius;
    } else if (folded == "textalign") {
        const auto align = Keyword<TTextAlign>(value, kAlignNames);
        if (!align && !value.empty())
            bad("left, center or right");
        properties.TextAlign = align.value_or(TTextAlign::Auto);
    } else if (folded == "textweight") {
        const auto weight = Keyword<TTextWeight>(value, kWeightNames);
        if (!weight && !value.empty())
            bad("normal or bold");
        properties.TextWeight = weight.value_or(TTextWeight::Auto);
    } else if (folded == "textpadding") {
        properties.TextPadding.reset();
        std::vector<int> sides;
        size_t at = 0;
        while (at < value.size()) {
            const size_t end = std::min(value.find(' ', at), value.size());
            if (end > at) {
                const std::optional<int> side = CssPixels(value.substr(at, end - at), kMaxTextPadding);
                if (!side || sides.size() == 4)
                    bad("one to four sizes in CSS pixels from 0 to 1000, as CSS padding");
                sides.push_back(*side);
            }
            at = end + 1;
        }
        if (sides.empty())
            return;
        // CSS's shorthand: top, right, bottom, left, each missing side from its opposite.
        const int top = sides[0];
        const int right = sides.size() > 1 ? sides[1] : top;
        const int bottom = sides.size() > 2 ? sides[2] : top;
        const int left = sides.size() > 3 ? sides[3] : right;
        properties.TextPadding = std::array<int, 4> { top, right, bottom, left };
    } else {
        Fail("Cell " + CellLabel(cell) + " has an unknown property " + std::string(property)
            + "; known are Name, Alt, Link, Span, Fill, Format, Skip, Text, TextFont, TextSize, TextColor, "
              "TextAlign, TextWeight, TextPadding, Button, ButtonColor, ButtonTextColor and ButtonRadius");
    }
}

TCellPropertyMap ReadCellProperties(const TIniFile& ini)
{
    TCellPropertyMap cells;
    for (const std::string& key : ini.KeysOf(kCellsSection)) {
        // "R{r}C{c}.{Property}", any case.
        const std::string upper = UpperCaseAscii(key);
        const size_t dot = upper.find('.');
        const size_t c = std::min(upper.find('C', 1), dot);
        std::optional<int> row;
        std::optional<int> column;
        if (!upper.empty() && upper.front() == 'R' && dot != std::string::npos) {
            row = Decimal(std::string_view(upper).substr(1, c - 1), INT32_MAX);
            // "R{r}.Stack": the row's own, under kRowColumn.
            column = c != dot ? Decimal(std::string_view(upper).substr(c + 1, dot - c - 1), INT32_MAX)
                : upper.substr(dot + 1) == "STACK" ? std::optional<int>(kRowColumn)
                                                   : std::nullopt;
        }
        if (!row || !column)
            Fail("The [Cells] key " + key + " is not R{row}C{column}.{property}, such as R1C2.Alt");
        const TCellRef cell { *row, *column };
        TCellProperties& properties = cells[cell];
        SetCellProperty(properties, cell, std::string_view(key).substr(dot + 1),
            ini.ReadString(kCellsSection, key, std::string()));
        if (properties.IsPlain())
            cells.erase(cell);
    }
    return cells;
}

std::string CellPropertyText(const TCellProperties& properties, std::string_view property)
{
    const std::string folded = LowerCaseAscii(property);
    for (size_t p = 0; p < std::size(kProperties); ++p)
        if (folded == LowerCaseAscii(kProperties[p]))
            return ValueOf(properties, p);
    return std::string();
}

void WriteCellProperties(TIniFile& ini, const TCellPropertyMap& cells)
{
    for (const auto& [cell, properties] : cells)
        for (size_t p = 0; p < std::size(kProperties); ++p) {
            const std::string value = ValueOf(properties, p);
            if (!value.empty())
                ini.WriteString(kCellsSection, CellLabel(cell) + "." + kProperties[p], value);
        }
}

void CheckCellLayout(const TCellPropertyMap& cells, int rows, int columns)
{
    for (const auto& [cell, properties] : cells) {
        if (cell.Row > rows || cell.Column > columns)
            Fail("Cell " + CellLabel(cell) + " lies outside " + GridText(rows, columns));
        if (int64_t(cell.Row) + properties.SpanRows - 1 > rows
            || int64_t(cell.Column) + properties.SpanColumns - 1 > columns)
            Fail("Cell " + CellLabel(cell) + " spans " + SpanText(properties) + " cells, past "
                + GridText(rows, columns));
        if (properties.Skip && properties.Fill != TCellFill::None)
            Fail("Cell " + CellLabel(cell) + " cannot be both skipped and filled");
        if (properties.Skip && properties.HasContent())
            Fail("Cell " + CellLabel(cell) + " is skipped, so it cannot hold "
                + (properties.Text.empty() ? "a button" : "text"));
        if (!properties.Text.empty() && !properties.Button.empty())
            Fail("Cell " + CellLabel(cell) + " cannot hold both text and a button");
        if (!IsSafeLink(properties.Link))
            Fail("Cell " + CellLabel(cell) + ": the link " + properties.Link + " is not " + kSafeLinkRule);
    }
    CoveredCells(cells);
}

std::vector<std::string> CellTextLines(std::string_view value)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < value.size(); ++i) {
        const char next = i + 1 < value.size() ? value[i + 1] : '\0';
        if (value[i] == '\\' && next == 'n') {
            lines.emplace_back();
            ++i;
        } else if (value[i] == '\\' && next == '\\') {
            lines.back() += '\\';
            ++i;
        } else {
            lines.back() += value[i];
        }
    }
    return lines;
}

TCellRef CoveringCell(const TCellPropertyMap& cells, TCellRef cell)
{
    // Only an anchor above and to the left can cover a cell.
    for (auto it = cells.begin(); it != cells.end() && it->first <= cell; ++it) {
        const TCellRef anchor = it->first;
        const TCellProperties& p = it->second;
        if (anchor.Row <= cell.Row && cell.Row < anchor.Row + p.SpanRows && anchor.Column <= cell.Column
            && cell.Column < anchor.Column + p.SpanColumns)
            return anchor;
    }
    return cell;
}

void CheckCellName(std::string_view name, TCellRef cell)
{
    const auto refuse = [&](const std::string& why) {
        Fail("The name '" + std::string(name) + "' of cell " + CellLabel(cell) + " " + why);
    };
    if (name.empty())
        refuse("is empty");
    if (name == "." || name == "..")
        refuse("names a folder");
    if (name.size() > kMaxCellNameLength)
        refuse("is longer than " + IntToStr(int64_t(kMaxCellNameLength)) + " bytes");
    for (const char c : name) {
        if (c == '/' || c == '\\')
            refuse("holds a path separator");
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            refuse("holds a control character");
    }
}

std::string ExpandNameTemplate(std::string_view nameTemplate, TCellRef cell, std::string_view projectName)
{
    std::string out;
    size_t i = 0;
    while (i < nameTemplate.size()) {
        const char c = nameTemplate[i];
        if (c == '}')
            Fail("The name template '" + std::string(nameTemplate) + "' has a '}' without its '{'");
        if (c != '{') {
            out += c;
            ++i;
            continue;
        }
        const size_t end = nameTemplate.find('}', i);
        const std::string field
            = LowerCaseAscii(nameTemplate.substr(i + 1, end == std::string_view::npos ? end : end - i - 1));
        if (end == std::string_view::npos)
            Fail("The name template '" + std::string(nameTemplate) + "' has a '{' without its '}'");
        if (field == "row")
            out += IntToStr(cell.Row);
        else if (field == "col")
            out += IntToStr(cell.Column);
        else if (field == "project")
            out += projectName;
        else
            Fail("The name template '" + std::string(nameTemplate) + "' has an unknown field {" + field
                + "}; known are {row}, {col} and {project}");
        i = end + 1;
    }
    return out;
}

std::string CellBaseName(
    const TCellPropertyMap& cells, std::string_view nameTemplate, std::string_view projectName, TCellRef cell)
{
    const auto found = cells.find(cell);
    if (found != cells.end() && !found->second.Name.empty())
        return found->second.Name;
    const std::string name
        = ExpandNameTemplate(nameTemplate.empty() ? kDefaultNameTemplate : nameTemplate, cell, projectName);
    CheckCellName(name, cell);
    return name;
}

void CheckCellNames(const TCellPropertyMap& cells, std::string_view nameTemplate,
    std::string_view projectName, int rows, int columns)
{
    CheckCellLayout(cells, rows, columns);
    const std::map<TCellRef, TCellRef> covered = CoveredCells(cells);
    std::unordered_map<std::string, TCellRef> taken;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= columns; ++c) {
            const TCellRef cell { r, c };
            const auto found = cells.find(cell);
            if (found != cells.end() && !found->second.HasImage())
                continue;
            if (covered.count(cell))
                continue;
            const std::string name = CellBaseName(cells, nameTemplate, projectName, cell);
            const auto [at, inserted] = taken.try_emplace(LowerCaseAscii(name), cell);
            if (!inserted)
                Fail("Cells " + CellLabel(at->second) + " and " + CellLabel(cell) + " have the same name '"
                    + name + "'");
        }
}

} // namespace sw
