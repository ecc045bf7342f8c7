#include "core/generate/page_content.h"
#include "core/generate/page_writer.h"
#include "core/imaging/bitmap.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace sw {
namespace {

using test::ReadFileBytes;
using test::TempFolder;

constexpr TColor kPaper = RGB(0xF4, 0xF1, 0xEA);
constexpr TColor kNavy = RGB(0x1D, 0x35, 0x57);

struct TPaint {
    TRect Box;
    TColor Color;
};

// A cell of the given size in ground, with rectangles painted over it.
TBitmap Cell(int width, int height, TColor ground, std::initializer_list<TPaint> paints)
{
    TBitmap cell;
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    cell.SetSize(width, height);
    cell.Canvas().SetBrushColor(ground);
    cell.Canvas().FillRect({ 0, 0, width, height });
    for (const TPaint& paint : paints) {
        cell.Canvas().SetBrushColor(paint.Color);
        cell.Canvas().FillRect(paint.Box);
    }
    return cell;
}

TCellProperties Text(const char* text)
{
    TCellProperties properties;
    properties.Text = text;
    return properties;
}

// What the project leaves open is read from the pixels: the text's line of
// ink gives its size, its side and margin, its colour when readable.
TEST(PageContent, TextTakesWhatTheProjectLeavesOpenFromThePixels)
{
    struct Case {
        const char* what;
        TBitmap pixels;
        TCellProperties properties;
        int scale;
        std::optional<TColor> fill;
        TColor background;
        TColor color;
        int size;
        const char* align;
        std::array<int, 4> padding;
    };
    const TBitmap leftLine = Cell(200, 40, kPaper, { { { 20, 10, 120, 30 }, kNavy } });
    const Case cases[] = {
        { "a line of navy ink on paper", leftLine, Text("Hi"), 1, {}, kPaper, kNavy, 21, "left",
            { 0, 0, 0, 20 } },
        { "the same drawn at twice the size", Cell(400, 80, kPaper, { { { 40, 20, 240, 60 }, kNavy } }),
            Text("Hi"), 2, {}, kPaper, kNavy, 21, "left", { 0, 0, 0, 20 } },
        { "ink in the middle", Cell(200, 40, kPaper, { { { 50, 10, 150, 30 }, kNavy } }), Text("Hi"), 1, {},
            kPaper, kNavy, 21, "center", { 0, 0, 0, 0 } },
        { "ink to the right", Cell(200, 40, kPaper, { { { 150, 10, 190, 30 }, kNavy } }), Text("Hi"), 1, {},
            kPaper, kNavy, 21, "right", { 0, 10, 0, 0 } },
        // Grey on white fails WCAG AA, so the text reads in black.
        { "pale ink", Cell(200, 40, clWhite, { { { 20, 10, 120, 30 }, RGB(0xA0, 0xA0, 0xA0) } }), Text("Hi"),
            1, {}, clWhite, clBlack, 21, "left", { 0, 0, 0, 20 } },
        { "two lines shrink to fit the cell", leftLine, Text("One\\nTwo"), 1, {}, kPaper, kNavy, 16, "left",
            { 0, 0, 0, 20 } },
        { "no ink: from the height", Cell(200, 40, kNavy, {}), Text("Hi"), 1, {}, kNavy, clWhite, 32, "left",
            { 0, 0, 0, 0 } },
        { "a fill is the background", leftLine, Text("Hi"), 1, RGB(0xFF, 0xFF, 0xFF), clWhite, kNavy, 21,
            "left", { 0, 0, 0, 20 } },
    };
    for (const Case& c : cases) {
        const TPageContent content = PageContentOf(c.properties, c.pixels.View24(), c.scale, c.fill);
        EXPECT_FALSE(content.Button) << c.what;
        EXPECT_EQ(content.Font, kDefaultTextFont) << c.what;
        EXPECT_EQ(content.Background, c.background) << c.what;
        EXPECT_EQ(content.Color, c.color) << c.what;
        EXPECT_EQ(content.Size, c.size) << c.what;
        EXPECT_EQ(content.Align, c.align) << c.what;
        EXPECT_EQ(content.Padding, c.padding) << c.what;
        EXPECT_FALSE(content.Bold) << c.what;
    }

    // Two lines of ink give their spacing.
    const TBitmap twoLines
        = Cell(200, 40, kPaper, { { { 20, 4, 120, 16 }, kNavy }, { { 20, 24, 100, 36 }, kNavy } });
    const TPageContent spaced = PageContentOf(Text("One\\nTwo"), twoLines.View24(), 1, std::nullopt);
    EXPECT_EQ(spaced.Size, 13);
    EXPECT_EQ(spaced.LineHeight, 20);

    // What the project says wins over the pixels.
    TCellProperties stated = Text("Hi");
    stated.TextFont = "Georgia, serif";
    stated.TextSize = 40;
    stated.TextColor = RGB(0xA0, 0xA0, 0xA0);
    stated.TextAlign = TTextAlign::Right;
    stated.TextWeight = TTextWeight::Bold;
    stated.TextPadding = std::array<int, 4> { 1, 2, 3, 4 };
    const TPageContent content = PageContentOf(stated, leftLine.View24(), 1, std::nullopt);
    EXPECT_EQ(content.Font, "Georgia, serif");
    EXPECT_EQ(content.Size, 40);
    EXPECT_EQ(content.LineHeight, 50);
    EXPECT_EQ(content.Color, RGB(0xA0, 0xA0, 0xA0));
    EXPECT_EQ(content.Align, "right");
    EXPECT_TRUE(content.Bold);
    EXPECT_EQ(content.Padding, (std::array<int, 4> { 1, 2, 3, 4 }));
    stated.TextPadding = std::array<int, 4> { 30, 150, 30, 150 };
    EXPECT_EQ(PageContentOf(stated, leftLine.View24(), 1, std::nullopt).Padding,
        (std::array<int, 4> { 30, 50, 10, 150 }));
}

// A button looks like the design's: its face's colour and size, its
// label's colour where it reads, the corners' rounding.
TEST(PageContent, ButtonLooksLikeTheDesignsButton)
{
    const TColor red = RGB(0xE6, 0x39, 0x46);
    TBitmap pixels = Cell(160, 50, clWhite,
        { { { 10, 5, 150, 45 }, kNavy }, { { 60, 18, 100, 32 }, clWhite }, { { 60, 32, 100, 35 }, red } });
    // Round the face's corners with a radius of 8.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            if ((8 - x) * (8 - x) + (8 - y) * (8 - y) > 64)
                for (const auto& [cx, cy] : { std::pair(10 + x, 5 + y), std::pair(149 - x, 5 + y),
                         std::pair(10 + x, 44 - y), std::pair(149 - x, 44 - y) })
                    pixels.Canvas().SetPixel(cx, cy, clWhite);
    TCellProperties properties;
    properties.Button = "Order\\nnow";
    const TPageContent content = PageContentOf(properties, pixels.View24(), 1, std::nullopt);
    EXPECT_TRUE(content.Button);
    EXPECT_EQ(content.Face, kNavy);
    EXPECT_EQ(content.Background, clWhite);
    EXPECT_EQ(content.FaceWidth, 140);
    EXPECT_EQ(content.FaceHeight, 40);
    EXPECT_EQ(content.LineHeight, 40);
    EXPECT_EQ(content.Size, 18); // the label's ink, white and red, is 17 rows tall
    EXPECT_TRUE(content.Bold);
    // White outnumbers the red underline, and reads on navy.
    EXPECT_EQ(content.Color, clWhite);
    EXPECT_NEAR(content.Radius, 8, 2);
    // Where the design has it.
    EXPECT_EQ(content.Align, "left");
    EXPECT_EQ(content.Padding, (std::array<int, 4> { 5, 10, 0, 10 }));

    // The stated colours and radius win; a fill is the background.
    properties.ButtonColor = red;
    properties.ButtonTextColor = RGB(0x11, 0x22, 0x33);
    properties.ButtonRadius = 100;
    const TPageContent stated = PageContentOf(properties, pixels.View24(), 1, RGB(1, 2, 3));
    EXPECT_EQ(stated.Face, red);
    EXPECT_EQ(stated.Color, RGB(0x11, 0x22, 0x33));
    EXPECT_EQ(stated.Background, RGB(1, 2, 3));
    EXPECT_EQ(stated.Radius, 20); // at most half the face's height

    // Stated padding never pushes the face out of its cell.
    properties.TextPadding = std::array<int, 4> { 30, 100, 30, 100 };
    EXPECT_EQ(PageContentOf(properties, pixels.View24(), 1, std::nullopt).Padding,
        (std::array<int, 4> { 10, 20, 0, 20 }));
}

TEST(PageContent, ContrastIsWcags)
{
    EXPECT_DOUBLE_EQ(ContrastRatio(clBlack, clWhite), 21.0);
    EXPECT_DOUBLE_EQ(ContrastRatio(kNavy, kNavy), 1.0);
    EXPECT_NEAR(ContrastRatio(RGB(0x76, 0x76, 0x76), clWhite), 4.54, 0.01);
}

// Every style writes a text cell and a button in place of an image, each
// value escaped, the text's lines broken, the button twice in e-mail.
TEST(PageContent, EveryStyleWritesTextAndButtons)
{
    TPageLayout layout;
    layout.Width = 300;
    layout.Height = 40;
    layout.ColumnWidths = { 100, 100, 100 };
    layout.RowHeights = { 40 };
    layout.Rows.resize(1);
    for (int c = 0; c < 3; ++c) {
        TPageCell cell;
        cell.Column = c;
        cell.Width = 100;
        cell.Height = 40;
        cell.Source = "r1_c1.png";
        layout.Rows[0].Cells.push_back(cell);
    }
    TPageContent text;
    text.Text = "Fish & <b>Chips</b>\\nDaily";
    text.Size = 12;
    text.LineHeight = 15;
    text.Color = kNavy;
    text.Background = kPaper;
    text.Font = kDefaultTextFont;
    text.Padding = { 1, 2, 3, 4 };
    layout.Rows[0].Cells[1].Content = text;
    layout.Rows[0].Cells[1].Link = "#menu";
    TPageContent button = text;
    button.Button = true;
    button.Text = "Order <now>";
    button.Face = RGB(0xE6, 0x39, 0x46);
    button.FaceWidth = 80;
    button.FaceHeight = 30;
    button.LineHeight = 30;
    button.Radius = 6;
    button.Align = "right";
    button.Padding = { 5, 10, 0, 0 };
    layout.Rows[0].Cells[2].Content = button;
    layout.Rows[0].Cells[2].Link = "https://example.org/order?a=1&b=2";

    TempFolder folder;
    for (const TPageStyle style :
        { TPageStyle::Classic, TPageStyle::Html5, TPageStyle::Email, TPageStyle::Grid }) {
        SCOPED_TRACE(PageStyleName(style));
        TPageOptions options;
        options.Style = style;
        TPageWriter writer;
        writer.WritePage(folder / "page.html", layout, options);
        writer.Publish();
        const std::string page = ReadFileBytes(folder / "page.html");
        const auto count = [&page](const std::string& what) {
            size_t n = 0;
            for (size_t at = page.find(what); at != std::string::npos; at = page.find(what, at + 1))
                ++n;
            return n;
        };
        EXPECT_EQ(count("<img"), 1u);
        EXPECT_EQ(count("<a href=\"#menu\" style=\"color:#1D3557;text-decoration:underline\">Fish &amp; "
                        "&lt;b&gt;Chips&lt;/b&gt;<br>Daily</a>"),
            1u);
        EXPECT_EQ(count("background-color:#F4F1EA"), 2u);
        const bool mail = style == TPageStyle::Email;
        EXPECT_EQ(count("href=\"https://example.org/order?a=1&amp;b=2\""), mail ? 2u : 1u);
        EXPECT_EQ(count(">Order &lt;now&gt;</"), mail ? 2u : 1u);
        EXPECT_EQ(count("<v:roundrect"), mail ? 1u : 0u);
        EXPECT_EQ(count("arcsize=\"20%\""), mail ? 1u : 0u);
        EXPECT_EQ(
            count(
                "margin:5px 10px 0 auto;width:80px;height:30px;background-color:#E63946;border-radius:6px;"),
            1u);
        EXPECT_EQ(
            count(
                "align=\"right\" valign=\"top\" style=\"background-color:#F4F1EA;mso-padding-alt:5px 10px 0 "
                "0px;vertical-align:top\""),
            mail ? 1u : 0u);
        EXPECT_EQ(count("padding:1px 2px 3px 4px;"), 1u);
        if (style == TPageStyle::Grid) {
            EXPECT_EQ(count("grid-area:1/2/2/3;background-color:#F4F1EA;display:flex"), 1u);
            EXPECT_EQ(count("box-sizing:border-box;width:100%;max-height:100%;overflow:hidden"), 1u);
        } else {
            // The text's box is the cell's less its padding, and clips
            // after its last whole line: two of 15 px in 36.
            EXPECT_EQ(count(";width:94px;max-height:30px;overflow:hidden"), 1u);
        }
        EXPECT_EQ(count("bgcolor=\"#F4F1EA\""), style == TPageStyle::Classic || mail ? 2u : 0u);
    }
}

} // namespace
} // namespace sw
