#include "core/project/cell_properties.h"
#include "core/project/ini_file.h"

#include <gtest/gtest.h>

#include <functional>

namespace sw {
namespace {

TCellPropertyMap FromCells(std::string_view text)
{
    return ReadCellProperties(TIniFile::FromText("[Cells]\r\n" + std::string(text)));
}

std::string MessageOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const ECellPropertyError& e) {
        return e.what();
    }
    return "(no error)";
}

// Whatever spelling was read, a save writes one canonical form, and cells
// brought back to their defaults leave no keys.
TEST(CellProperties, ReadsAndWritesTheCellsSection)
{
    const TCellPropertyMap cells = FromCells("r2c1.alt = Caf\xC3\xA9 & <b>\r\n"
                                             "R1C1.SPAN=2X3\r\n"
                                             "R1C1.Link=https://example.org/?a=1&b=2\r\n"
                                             "R2C1.Fill=#0a0B0c\r\n"
                                             "R3C4.Fill=AUTO\r\n"
                                             "R3C4.Skip=0\r\n"
                                             "R5C5.Span=1x1\r\n"
                                             "R5C6.Name=\r\n"
                                             "R4C1.Skip=1\r\n"
                                             "R4C2.Name=logo\r\n"
                                             "R4C2.Format=photo\r\n");
    ASSERT_EQ(cells.size(), 5u);
    const TCellProperties& span = cells.at({ 1, 1 });
    EXPECT_EQ(span.SpanColumns, 2);
    EXPECT_EQ(span.SpanRows, 3);
    EXPECT_EQ(cells.at({ 2, 1 }).FillColor, RGB(0x0A, 0x0B, 0x0C));
    EXPECT_EQ(cells.at({ 3, 4 }).Fill, TCellFill::Auto);

    TIniFile ini = TIniFile::FromText("[Output]\r\nPageStyle=email\r\n");
    WriteCellProperties(ini, cells);
    EXPECT_EQ(ini.Text(),
        "[Output]\r\nPageStyle=email\r\n[Cells]\r\n"
        "R1C1.Link=https://example.org/?a=1&b=2\r\nR1C1.Span=2x3\r\n"
        "R2C1.Alt=Caf\xC3\xA9 & <b>\r\nR2C1.Fill=0A0B0C\r\n"
        "R3C4.Fill=auto\r\n"
        "R4C1.Skip=1\r\n"
        "R4C2.Name=logo\r\nR4C2.Format=photo\r\n");
    EXPECT_EQ(ReadCellProperties(ini), cells);

    TIniFile plain = TIniFile::FromText("[Cells]\r\n");
    WriteCellProperties(plain, FromCells("R1C1.Span=1x1\r\n"));
    EXPECT_EQ(plain.Text(), "");
}

// Text and button cells: every property read in any accepted spelling is
// written back in one form, padding in CSS's shortest.
TEST(CellProperties, ReadsAndWritesTextAndButtons)
{
    const TCellPropertyMap cells = FromCells("R1C1.text=Harbour Lane 4\\nOpen daily\r\n"
                                             "R1C1.TextFont=Georgia, 'Times New Roman', serif\r\n"
                                             "R1C1.TextSize=18px\r\n"
                                             "R1C1.TextColor=#f1faee\r\n"
                                             "R1C1.TextAlign=CENTER\r\n"
                                             "R1C1.TextWeight=bold\r\n"
                                             "R1C1.TextPadding=4px  8 4\r\n"
                                             "R2C1.Button=Order now\r\n"
                                             "R2C1.Link=https://example.org/order\r\n"
                                             "R2C1.ButtonColor=E63946\r\n"
                                             "R2C1.ButtonTextColor=FFFFFF\r\n"
                                             "R2C1.ButtonRadius=0\r\n"
                                             "R3C1.TextPadding=5 5 5 5\r\n"
                                             "R3C2.TextPadding=1 2 1 2\r\n"
                                             "R3C3.TextAlign=\r\n");
    EXPECT_FALSE(cells.at({ 1, 1 }).HasImage());
    EXPECT_EQ(cells.at({ 1, 1 }).TextPadding, (std::array<int, 4> { 4, 8, 4, 8 }));
    EXPECT_EQ(cells.at({ 2, 1 }).ButtonRadius, 0);
    EXPECT_FALSE(cells.count({ 3, 3 }));

    TIniFile ini = TIniFile::FromText("");
    WriteCellProperties(ini, cells);
    EXPECT_EQ(ini.Text(),
        "[Cells]\r\n"
        "R1C1.Text=Harbour Lane 4\\nOpen daily\r\nR1C1.TextFont=Georgia, 'Times New Roman', serif\r\n"
        "R1C1.TextSize=18\r\nR1C1.TextColor=F1FAEE\r\nR1C1.TextAlign=center\r\nR1C1.TextWeight=bold\r\n"
        "R1C1.TextPadding=4 8\r\n"
        "R2C1.Link=https://example.org/order\r\nR2C1.Button=Order now\r\nR2C1.ButtonColor=E63946\r\n"
        "R2C1.ButtonTextColor=FFFFFF\r\nR2C1.ButtonRadius=0\r\n"
        "R3C1.TextPadding=5\r\nR3C2.TextPadding=1 2\r\n");
    EXPECT_EQ(ReadCellProperties(ini), cells);
}

// "\n" breaks a line and "\\" is a backslash; any other backslash stays.
TEST(CellProperties, TextValuesAndTheirLines)
{
    using TLines = std::vector<std::string>;
    const std::pair<const char*, TLines> cases[] = {
        { "", { "" } },
        { "One\\nTwo", { "One", "Two" } },
        { "C:\\\\new", { "C:\\new" } },
        { "a\\b\\", { "a\\b\\" } },
        { "end\\\\\\nnext", { "end\\", "next" } },
        { "\\n", { "", "" } },
    };
    for (const auto& [value, lines] : cases)
        EXPECT_EQ(CellTextLines(value), lines) << value;
}

TEST(CellProperties, RefusesKeysAndValuesItCannotRead)
{
    const std::pair<const char*, const char*> cases[] = {
        { "R0C1.Alt=x", "The [Cells] key R0C1.Alt is not R{row}C{column}.{property}, such as R1C2.Alt" },
        { "R1.Alt=x", "The [Cells] key R1.Alt is not R{row}C{column}.{property}, such as R1C2.Alt" },
        { "R1C-2.Alt=x", "The [Cells] key R1C-2.Alt is not R{row}C{column}.{property}, such as R1C2.Alt" },
        { "R1C2Alt=x", "The [Cells] key R1C2Alt is not R{row}C{column}.{property}, such as R1C2.Alt" },
        { "R1C2.Colour=red",
            "Cell R1C2 has an unknown property Colour; known are Name, Alt, Link, Span, Fill, Format, Skip, "
            "Text, TextFont, TextSize, TextColor, TextAlign, TextWeight, TextPadding, Button, ButtonColor, "
            "ButtonTextColor and ButtonRadius" },
        { "R1C2.TextSize=0", "Cell R1C2 has TextSize=0; expected a size in CSS pixels from 1 to 400" },
        { "R1C2.TextSize=12pt", "Cell R1C2 has TextSize=12pt; expected a size in CSS pixels from 1 to 400" },
        { "R1C2.TextAlign=justify", "Cell R1C2 has TextAlign=justify; expected left, center or right" },
        { "R1C2.TextWeight=700", "Cell R1C2 has TextWeight=700; expected normal or bold" },
        { "R1C2.TextPadding=1 2 3 4 5",
            "Cell R1C2 has TextPadding=1 2 3 4 5; expected one to four sizes in CSS pixels from 0 to 1000, "
            "as "
            "CSS padding" },
        { "R1C2.TextPadding=-1",
            "Cell R1C2 has TextPadding=-1; expected one to four sizes in CSS pixels from 0 to 1000, as CSS "
            "padding" },
        // Font names go into a style attribute: nothing may end the declaration.
        { "R1C2.TextFont=Arial;background:url(x)",
            "Cell R1C2 has TextFont=Arial;background:url(x); expected font names separated by commas, such "
            "as "
            "Georgia, serif" },
        { "R1C2.TextFont='Times New Roman, serif",
            "Cell R1C2 has TextFont='Times New Roman, serif; expected font names separated by commas, such "
            "as "
            "Georgia, serif" },
        { "R1C2.ButtonColor=red", "Cell R1C2 has ButtonColor=red; expected RRGGBB in hexadecimal" },
        { "R1C2.ButtonRadius=1001",
            "Cell R1C2 has ButtonRadius=1001; expected a radius in CSS pixels from 0 to 1000" },
        { "R1C2.Span=2", "Cell R1C2 has Span=2; expected COLUMNSxROWS, such as 2x1" },
        { "R1C2.Span=0x1", "Cell R1C2 has Span=0x1; expected COLUMNSxROWS, such as 2x1" },
        { "R1C2.Span=2x+1", "Cell R1C2 has Span=2x+1; expected COLUMNSxROWS, such as 2x1" },
        { "R1C2.Span=100001x1", "Cell R1C2 has Span=100001x1; expected COLUMNSxROWS, such as 2x1" },
        { "R1C2.Fill=FFF", "Cell R1C2 has Fill=FFF; expected RRGGBB in hexadecimal or auto" },
        { "R1C2.Fill=GG0000", "Cell R1C2 has Fill=GG0000; expected RRGGBB in hexadecimal or auto" },
        { "R1C2.Skip=yes", "Cell R1C2 has Skip=yes; expected 1 or 0" },
        { "R1C2.Name=a/b", "The name 'a/b' of cell R1C2 holds a path separator" },
        { "R1C2.Name=..", "The name '..' of cell R1C2 names a folder" },
        { "R2C3.Link=javascript:alert(1)",
            "Cell R2C3 has Link=javascript:alert(1); expected an http:, https:, mailto: or tel: address, a "
            "relative path or a #anchor" },
    };
    // An init-capture: Clang 14 cannot capture a structured binding itself.
    for (const auto& [line, message] : cases)
        EXPECT_EQ(MessageOf([&line = line] { FromCells(line); }), message) << line;
}

// Read as a browser reads them: case, blanks before and tabs inside do not
// hide a scheme; letters without a colon right after them are a path.
// A row's own property sits beside its cells' and reads back as written.
TEST(CellProperties, RowsStackByTheirOwnKey)
{
    const TCellPropertyMap cells = FromCells("r5.stack=1\r\nR2.Stack=0\r\nR5C1.Alt=x\r\n");
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_TRUE(cells.at({ 5, kRowColumn }).Stack);
    TIniFile ini = TIniFile::FromText("");
    WriteCellProperties(ini, cells);
    EXPECT_EQ(ini.Text(), "[Cells]\r\nR5.Stack=1\r\nR5C1.Alt=x\r\n");
    EXPECT_EQ(MessageOf([] { FromCells("R1C2.Stack=1"); }),
        "Cell R1C2 has Stack, which belongs to its row: R1.Stack");
    EXPECT_EQ(MessageOf([] { FromCells("R3.Stack=yes"); }), "Cell R3 has Stack=yes; expected 1 or 0");
    EXPECT_EQ(MessageOf([] { CheckCellLayout(FromCells("R9.Stack=1"), 4, 4); }),
        "Cell R9 lies outside the grid of 4 rows and 4 columns");
    EXPECT_NO_THROW(CheckCellLayout(FromCells("R4.Stack=1\r\nR3C1.Span=1x2"), 4, 4));
}

TEST(CellProperties, OnlyLinksThatCannotRunCode)
{
    const std::pair<const char*, bool> cases[] = {
        { "", true },
        { "https://example.org/a:b", true },
        { "HTTP://example.org/", true },
        { "mailto:shop@example.org", true },
        { "tel:+441234", true },
        { "#top", true },
        { "/shop/", true },
        { "../shop.html?a=b:c", true },
        { "shop.html#x:y", true },
        { "a b:c", true },
        { "javascript:alert(1)", false },
        { " \x01JavaScript:alert(1)", false },
        { "java\tscr\nipt:alert(1)", false },
        { "data:text/html,<script>", false },
        { "vbscript:x", false },
        { "file:///etc/passwd", false },
        { "c:x", false },
    };
    for (const auto& [link, safe] : cases)
        EXPECT_EQ(IsSafeLink(link), safe) << link;
}

TEST(CellProperties, ChecksCellsAgainstTheGrid)
{
    const std::pair<const char*, const char*> cases[] = {
        { "R1C1.Span=3x3\r\nR4C3.Span=1x1", "(no error)" },
        { "R5C1.Alt=x", "Cell R5C1 lies outside the grid of 4 rows and 3 columns" },
        { "R1C4.Alt=x", "Cell R1C4 lies outside the grid of 4 rows and 3 columns" },
        { "R2C2.Span=2x4", "Cell R2C2 spans 2x4 cells, past the grid of 4 rows and 3 columns" },
        { "R1C1.Span=2x2\r\nR2C2.Span=2x1", "The span of cell R2C2 overlaps the span of cell R1C1" },
        // A later span reaching over an earlier one's covered cells.
        { "R1C3.Span=1x3\r\nR2C2.Span=2x1", "The span of cell R2C2 overlaps the span of cell R1C3" },
        { "R1C2.Span=1x2\r\nR2C1.Span=2x1", "The span of cell R2C1 overlaps the span of cell R1C2" },
        { "R1C1.Span=2x2\r\nR2C1.Alt=x",
            "Cell R2C1 lies under the span of cell R1C1 and cannot have properties of its own" },
        { "R1C1.Fill=auto\r\nR1C1.Skip=1", "Cell R1C1 cannot be both skipped and filled" },
        { "R1C1.Text=Hi\r\nR1C1.Skip=1", "Cell R1C1 is skipped, so it cannot hold text" },
        { "R1C1.Button=Go\r\nR1C1.Skip=1", "Cell R1C1 is skipped, so it cannot hold a button" },
        { "R1C1.Text=Hi\r\nR1C1.Button=Go", "Cell R1C1 cannot hold both text and a button" },
        { "R1C1.Text=Hi\r\nR1C1.Fill=112233", "(no error)" },
    };
    for (const auto& [text, message] : cases)
        EXPECT_EQ(MessageOf([&text = text] { CheckCellLayout(FromCells(text), 4, 3); }), message) << text;
    // Cells made in the editor reach the run without a file read.
    TCellPropertyMap edited;
    edited[{ 2, 3 }].Link = "data:text/html,x";
    EXPECT_EQ(MessageOf([&] { CheckCellLayout(edited, 4, 3); }),
        "Cell R2C3: the link data:text/html,x is not an http:, https:, mailto: or tel: address, a relative "
        "path "
        "or a #anchor");
}

TEST(CellProperties, NamesCellsAndRefusesClashes)
{
    const TCellPropertyMap cells = FromCells("R1C1.Span=2x1\r\nR1C3.Name=Logo\r\nR2C1.Fill=FFFFFF\r\n");
    EXPECT_EQ(CellBaseName(cells, "", "home", { 2, 3 }), "r2_c3");
    EXPECT_EQ(CellBaseName(cells, "{project}-{ROW}x{col}", "home", { 2, 3 }), "home-2x3");
    EXPECT_EQ(CellBaseName(cells, "{project}-{ROW}x{col}", "home", { 1, 3 }), "Logo");

    const std::pair<const char*, const char*> cases[] = {
        { "{project}_{row}_{col}", "(no error)" },
        // The covered cell R1C2 and the filled R2C1 get no file, so no clash there.
        { "{project}_{row}", "Cells R2C2 and R2C3 have the same name 'home_2'" },
        { "logo", "Cells R1C1 and R1C3 have the same name 'Logo'" },
        { "{project}", "Cells R1C1 and R1C3 have the same name 'Logo'" },
        { "r{row}_c{column}",
            "The name template 'r{row}_c{column}' has an unknown field {column}; known are {row}, {col} and "
            "{project}" },
        { "r{row", "The name template 'r{row' has a '{' without its '}'" },
        { "r}", "The name template 'r}' has a '}' without its '{'" },
        { "a/{row}", "The name 'a/1' of cell R1C1 holds a path separator" },
    };
    for (const auto& [nameTemplate, message] : cases) {
        const std::string project = std::string_view(nameTemplate) == "{project}" ? "LOGO" : "home";
        EXPECT_EQ(MessageOf([&, &nameTemplate = nameTemplate] {
            CheckCellNames(cells, nameTemplate, project, 2, 3);
        }),
            message)
            << nameTemplate;
    }
}

} // namespace
} // namespace sw
