// Every page style in a real browser: the sample design is cut into
// lossless PNG cells with spans, a fill, a skipped cell and links, each
// style's page is rendered by headless Chromium, and the shot must show the
// design pixel for pixel (the fill's colour and the page's white where the
// design says so). tidy reads the standards-mode pages as well.

#include "core/base/errors.h"
#include "core/generate/page_writer.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/png/png_writer.h"

#include "support/browser_shot.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::QuotedForShell;
using test::TBrowser;
using test::TempFolder;

const std::string kDesign = std::string(SLICEWRIGHT_SOURCE_DIR) + "/data/sample/design.bmp";
const int kColumnCuts[] = { 0, 24, 376, 400, 576, 600 };
const int kRowCuts[] = { 0, 78, 100, 300, 330, 400 };
constexpr TColor kFill = RGB(0x33, 0x66, 0x99);
constexpr TColor kPageWhite = clWhite;

// What a cell of the 5 x 5 grid (from 0) is given.
struct TCellPlan {
    int Row;
    int Column;
    int ColumnSpan = 1;
    int RowSpan = 1;
    bool Fill = false;
    bool Skip = false;
    const char* Link = "";
    const char* Alt = "";
};

// Row 4 (from 0) is covered by spans alone, so tables must merge it.
const TCellPlan kPlans[] = {
    { 0, 0, 1, 1, false, false, "https://example.org/?a=1&b=<2>", "Fish & <Chips> \"caf\xC3\xA9\"" },
    { 0, 4, 1, 1, true },
    { 1, 1, 2, 2, false, false, "#top", "Spanned \xE2\x9C\x93" },
    { 2, 4, 1, 1, false, true },
    { 3, 0, 1, 2 },
    { 3, 1, 4, 2, false, false, "", "Footer" },
};

class PageStyles : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_browser = TBrowser::Find();
        if (!m_browser.Usable())
            GTEST_SKIP()
                << "chromium or ImageMagick's convert is not installed (scripts/install-deps installs "
                   "them): the page-style check did not run";
        m_design.LoadFromFile(kDesign);
    }

    // Cuts picture (the design at scale times its size) into PNG cells in
    // the test's folder and returns the page's layout of them.
    TPageLayout CutCells(TBitmap& picture, int scale, const std::string& prefix);
    // The design as the page must show it, at scale times its size.
    TBitmap Expected(int scale);
    TBitmap Enlarged(int scale);

    std::string WritePage(const std::string& name, const TPageLayout& layout, TPageStyle style)
    {
        TPageOptions options;
        options.Style = style;
        options.Title = "Caf\xC3\xA9 & friends";
        TPageWriter writer;
        writer.WritePage(m_folder / name, layout, options);
        writer.Publish();
        return m_folder / name;
    }

    TBitmap Shoot(const std::string& page, int width, int height, int deviceScale = 1)
    {
        return m_browser.Shoot("file://" + page, width, height, m_folder.Path().string(),
            fs::path(page).stem().string(), deviceScale);
    }

    void ExpectTidy(const std::string& page);
    // skip: areas of expected not compared; at: where the design was found.
    void ExpectPicture(TBitmap& screen, TBitmap& expected, int left, int top,
        const std::vector<TRect>& skip = {}, std::pair<int, int>* at = nullptr);

    TBrowser m_browser;
    TBitmap m_design;
    TempFolder m_folder;
};

TBitmap PageStyles::Enlarged(int scale)
{
    TBitmap out;
    out.SetSize(m_design.Width() * scale, m_design.Height() * scale);
    for (int y = 0; y < out.Height(); ++y)
        for (int x = 0; x < out.Width(); ++x)
            out.Canvas().SetPixel(x, y, m_design.Canvas().Pixel(x / scale, y / scale));
    return out;
}

TBitmap PageStyles::Expected(int scale)
{
    TBitmap expected = Enlarged(scale);
    for (const TCellPlan& plan : kPlans) {
        if (!plan.Fill && !plan.Skip)
            continue;
        for (int y = kRowCuts[plan.Row] * scale; y < kRowCuts[plan.Row + plan.RowSpan] * scale; ++y)
            for (int x = kColumnCuts[plan.Column] * scale;
                 x < kColumnCuts[plan.Column + plan.ColumnSpan] * scale; ++x)
                expected.Canvas().SetPixel(x, y, plan.Fill ? kFill : kPageWhite);
    }
    return expected;
}

TPageLayout PageStyles::CutCells(TBitmap& picture, int scale, const std::string& prefix)
{
    TPageLayout layout;
    layout.Width = picture.Width();
    layout.Height = picture.Height();
    layout.Scale = scale;
    for (int k = 0; k < 5; ++k) {
        layout.ColumnWidths.push_back((kColumnCuts[k + 1] - kColumnCuts[k]) * scale);
        layout.RowHeights.push_back((kRowCuts[k + 1] - kRowCuts[k]) * scale);
    }
    layout.Rows.resize(5);
    bool covered[5][5] = {};
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            if (covered[r][c])
                continue;
            TCellPlan plan { r, c };
            for (const TCellPlan& given : kPlans)
                if (given.Row == r && given.Column == c)
                    plan = given;
            for (int y = r; y < r + plan.RowSpan; ++y)
                for (int x = c; x < c + plan.ColumnSpan; ++x)
                    covered[y][x] = true;
            TPageCell cell;
            cell.Column = c;
            cell.ColumnSpan = plan.ColumnSpan;
            cell.RowSpan = plan.RowSpan;
            cell.Width = (kColumnCuts[c + plan.ColumnSpan] - kColumnCuts[c]) * scale;
            cell.Height = (kRowCuts[r + plan.RowSpan] - kRowCuts[r]) * scale;
            cell.Link = plan.Link;
            cell.Alt = plan.Alt;
            cell.Skip = plan.Skip;
            if (plan.Fill)
                cell.Fill = kFill;
            if (!plan.Fill && !plan.Skip) {
                TBitmap image;
                image.SetPixelFormat(TPixelFormat::pf24bit);
                image.SetSize(cell.Width, cell.Height);
                const int left = kColumnCuts[c] * scale;
                const int top = kRowCuts[r] * scale;
                image.Canvas().CopyRect({ 0, 0, cell.Width, cell.Height }, picture.Canvas(),
                    { left, top, left + cell.Width, top + cell.Height });
                cell.Source = prefix + "r" + std::to_string(r + 1) + "_c" + std::to_string(c + 1) + ".png";
                const std::vector<uint8_t> png = WritePng(image.View24());
                std::ofstream(m_folder / cell.Source, std::ios::binary)
                    .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
            }
            layout.Rows[size_t(r)].Cells.push_back(cell);
        }
    return layout;
}

void PageStyles::ExpectTidy(const std::string& page)
{
    const std::string tidy = test::FindProgram({ "tidy" });
    if (tidy.empty()) {
        ADD_FAILURE() << "tidy is not installed (scripts/install-deps installs it)";
        return;
    }
    const std::string report = page + ".tidy";
    const int status = std::system((QuotedForShell(tidy) + " -errors -quiet " + QuotedForShell(page) + " >"
        + QuotedForShell(report) + " 2>&1")
                                       .c_str());
    const std::string text = test::ReadFileBytes(report);
    // 1 means warnings (attributes the standard calls obsolete but mail
    // clients still need); 2 means errors.
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) < 2) << text;
    EXPECT_EQ(text.find("Error:"), std::string::npos) << text;
}

// The design's place on the screen is searched for near (left, top), since
// centring may round either way; there it must match pixel for pixel.
void PageStyles::ExpectPicture(TBitmap& screen, TBitmap& expected, int left, int top,
    const std::vector<TRect>& skip, std::pair<int, int>* at)
{
    const auto compared = [&skip](int x, int y) {
        return std::none_of(skip.begin(), skip.end(),
            [x, y](const TRect& r) { return x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom; });
    };
    ASSERT_GE(screen.Width(), left + expected.Width() + 2);
    ASSERT_GE(screen.Height(), top + expected.Height() + 2);
    const auto mismatches = [&](int dx, int dy, int step) {
        int count = 0;
        for (int y = 0; y < expected.Height(); y += step)
            for (int x = 0; x < expected.Width(); x += step)
                count += compared(x, y)
                    && screen.Canvas().Pixel(dx + x, dy + y) != expected.Canvas().Pixel(x, y);
        return count;
    };
    int bestX = left;
    int bestY = top;
    int best = INT32_MAX;
    for (int dy = std::max(0, top - 2); dy <= top + 2; ++dy)
        for (int dx = std::max(0, left - 2); dx <= left + 2; ++dx)
            if (const int count = mismatches(dx, dy, 3); count < best) {
                best = count;
                bestX = dx;
                bestY = dy;
            }
    EXPECT_EQ(mismatches(bestX, bestY, 1), 0) << "at " << bestX << "," << bestY;
    if (at)
        *at = { bestX, bestY };
    // Nothing of the page lies beyond the design's right and bottom edges.
    for (int y = bestY; y < bestY + expected.Height(); ++y)
        ASSERT_EQ(screen.Canvas().Pixel(bestX + expected.Width(), y), kPageWhite) << y;
    for (int x = bestX; x < bestX + expected.Width(); ++x)
        ASSERT_EQ(screen.Canvas().Pixel(x, bestY + expected.Height()), kPageWhite) << x;
}

TEST_F(PageStyles, EveryStyleShowsTheDesign)
{
    const TPageLayout layout = CutCells(m_design, 1, "");
    TBitmap expected = Expected(1);
    const int windowWidth = 800;
    const int windowHeight = 600;
    struct Case {
        TPageStyle style;
        int left;
        int top;
    };
    // The body's margin places the table; the mail page centres it.
    const Case cases[] = {
        { TPageStyle::Classic, 8, 8 },
        { TPageStyle::Html5, 8, 8 },
        { TPageStyle::Email, (windowWidth - expected.Width()) / 2, 0 },
        { TPageStyle::Grid, 8, 8 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(PageStyleName(c.style));
        const std::string page = WritePage(std::string(PageStyleName(c.style)) + ".html", layout, c.style);
        if (c.style != TPageStyle::Classic)
            ExpectTidy(page);
        TBitmap screen = Shoot(page, windowWidth, windowHeight);
        ExpectPicture(screen, expected, c.left, c.top);
    }
}

// Live text and a button take their cells' place: every image around them
// stays where it was, pixel for pixel, so no row or column moved, and what
// does not fit is clipped at the cell's edge.
TEST_F(PageStyles, TextAndButtonsKeepToTheirCells)
{
    TPageLayout layout = CutCells(m_design, 1, "");
    const auto cellAt = [&layout](int row, int column) -> TPageCell& {
        for (TPageCell& cell : layout.Rows[size_t(row)].Cells)
            if (cell.Column == column)
                return cell;
        throw Exception("no such cell");
    };
    constexpr TColor kPaper = RGB(0xF4, 0xF1, 0xEA);
    constexpr TColor kFace = RGB(0xC8, 0x40, 0x2E);
    TPageContent text;
    text.Font = "DejaVu Sans, sans-serif";
    for (int k = 0; k < 12; ++k)
        text.Text += "Harbour Days &amp; <b>Boat Show</b> on the quay, all weekend long\\n";
    text.Size = 20;
    text.LineHeight = 25;
    text.Color = RGB(0x1D, 0x35, 0x57);
    text.Background = kPaper;
    text.Padding = { 4, 4, 4, 10 };
    TPageCell& textCell = cellAt(0, 1);
    textCell.Content = text;
    TPageContent button = text;
    button.Button = true;
    button.Text = "Order now and see every boat of the whole show";
    button.Background = clWhite;
    button.Face = kFace;
    button.Color = clWhite;
    button.FaceWidth = 120;
    button.FaceHeight = 40;
    button.LineHeight = 40;
    button.Radius = 6;
    button.Padding = { 20, 0, 0, 28 };
    TPageCell& buttonCell = cellAt(2, 3);
    buttonCell.Content = button;
    buttonCell.Link = "https://example.org/order";
    const TRect textBox { kColumnCuts[1], kRowCuts[0], kColumnCuts[2], kRowCuts[1] };
    const TRect buttonBox { kColumnCuts[3], kRowCuts[2], kColumnCuts[4], kRowCuts[3] };
    // The face, well inside its rounded corners and clear of the label.
    const TRect face { buttonBox.Left + 28 + 8, buttonBox.Top + 20 + 2, buttonBox.Left + 28 + 120 - 8,
        buttonBox.Top + 20 + 8 };

    TBitmap expected = Expected(1);
    for (const TPageStyle style :
        { TPageStyle::Classic, TPageStyle::Html5, TPageStyle::Email, TPageStyle::Grid }) {
        SCOPED_TRACE(PageStyleName(style));
        const std::string page
            = WritePage(std::string("live-") + PageStyleName(style) + ".html", layout, style);
        if (style != TPageStyle::Classic)
            ExpectTidy(page);
        TBitmap screen = Shoot(page, 800, 600);
        const bool centred = style == TPageStyle::Email;
        std::pair<int, int> at;
        ExpectPicture(screen, expected, centred ? (800 - expected.Width()) / 2 : 8, centred ? 0 : 8,
            { textBox, buttonBox }, &at);
        const auto shown = [&](int x, int y) { return screen.Canvas().Pixel(at.first + x, at.second + y); };
        EXPECT_EQ(shown(textBox.Right - 1, textBox.Bottom - 1), kPaper);
        EXPECT_EQ(shown(buttonBox.Right - 1, buttonBox.Bottom - 1), clWhite);
        EXPECT_EQ(shown(buttonBox.Left + 27, buttonBox.Top + 30), clWhite);
        for (int y = face.Top; y < face.Bottom; ++y)
            for (int x = face.Left; x < face.Right; ++x)
                ASSERT_EQ(shown(x, y), kFace) << x << "," << y;
    }
}

// A design drawn at twice its size shows at its own size, sharp: at a device
// scale of 2 the browser shows the images' own pixels.
TEST_F(PageStyles, TwiceTheSizeShowsSharpAtItsOwnSize)
{
    TBitmap enlarged = Enlarged(2);
    const TPageLayout layout = CutCells(enlarged, 2, "x2-");
    TBitmap expected = Expected(2);
    for (const TPageStyle style : { TPageStyle::Html5, TPageStyle::Email, TPageStyle::Grid }) {
        SCOPED_TRACE(PageStyleName(style));
        const std::string page
            = WritePage(std::string("x2-") + PageStyleName(style) + ".html", layout, style);
        const int left = style == TPageStyle::Email ? (800 - m_design.Width()) / 2 : 8;
        const int top = style == TPageStyle::Email ? 0 : 8;
        TBitmap screen = Shoot(page, 800, 600, 2);
        ExpectPicture(screen, expected, left * 2, top * 2);
    }
}

// The same cells as a project's [Cells] section, cut by the command line.
TEST_F(PageStyles, ProjectCellsThroughTheCommandLine)
{
    const char* cli = std::getenv("SLICEWRIGHT_CLI");
    if (!cli || !fs::exists(cli))
        GTEST_SKIP() << "SLICEWRIGHT_CLI does not name the built slicewright-cli";
    std::ofstream project(m_folder / "cells.swr", std::ios::binary);
    project << "[Settings]\nGraphicImage=" << kDesign << "\n[Columns]\n";
    for (int k = 1; k < 5; ++k)
        project << "Position" << k << "=" << kColumnCuts[k] << "\n";
    project << "[Rows]\n";
    for (int k = 1; k < 5; ++k)
        project << "Position" << k << "=" << kRowCuts[k] << "\n";
    project << "[Cells]\n";
    for (const TCellPlan& plan : kPlans) {
        const std::string cell
            = "R" + std::to_string(plan.Row + 1) + "C" + std::to_string(plan.Column + 1) + ".";
        if (plan.ColumnSpan > 1 || plan.RowSpan > 1)
            project << cell << "Span=" << plan.ColumnSpan << "x" << plan.RowSpan << "\n";
        if (plan.Fill)
            project << cell << "Fill=336699\n";
        if (plan.Skip)
            project << cell << "Skip=1\n";
        if (*plan.Link)
            project << cell << "Link=" << plan.Link << "\n";
        if (*plan.Alt)
            project << cell << "Alt=" << plan.Alt << "\n";
    }
    project.close();

    TBitmap expected = Expected(1);
    for (const TPageStyle style :
        { TPageStyle::Classic, TPageStyle::Html5, TPageStyle::Email, TPageStyle::Grid }) {
        const std::string name = PageStyleName(style);
        SCOPED_TRACE(name);
        const std::string out = m_folder / ("cli-" + name);
        // FF00FF is nowhere in the design, so no pixel turns transparent.
        const std::string command = QuotedForShell(cli) + " generate "
            + QuotedForShell(m_folder / "cells.swr") + " --out " + QuotedForShell(out)
            + " --format png --transparent FF00FF --page index.html --page-style " + name + " >"
            + QuotedForShell(out + ".log") + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << test::ReadFileBytes(out + ".log");
        if (style != TPageStyle::Classic)
            ExpectTidy(out + "/index.html");
        TBitmap screen = Shoot(out + "/index.html", 800, 600);
        const bool centred = style == TPageStyle::Email;
        ExpectPicture(screen, expected, centred ? (800 - expected.Width()) / 2 : 8, centred ? 0 : 8);
    }
}

// What a phone-sized window makes of a page: the page's width beside the
// window's, and the boxes of the stacked section's cells in page order
// ("top bottom left width" each), read from the page in the browser.
struct TNarrowView {
    int ScrollWidth = -1;
    int WindowWidth = -1;
    int SectionWidth = -1;
    std::vector<std::array<double, 4>> Cells;
};

TNarrowView ViewAt(const TBrowser& browser, const std::string& page, int width, const std::string& work)
{
    // Headless windows have a least width; a frame of the page has none.
    // The page in it reports to the frame's holder, whatever its origin.
    const std::string probe = page + ".probe.html";
    std::string text = test::ReadFileBytes(page);
    const std::string script
        = "<script>addEventListener('load',()=>{const s=document.querySelector('.stack');"
          "let t='probe '+document.documentElement.scrollWidth+' '+innerWidth+' '+"
          "Math.round(s.getBoundingClientRect().width);"
          "for(const e of s.querySelectorAll(s.tagName=='TABLE'?'td':':scope>*')){"
          "const r=e.getBoundingClientRect();t+=' '+r.top+' '+r.bottom+' '+r.left+' '+"
          "r.width}parent.postMessage(t,'*')})</script>";
    text.insert(text.rfind("</body>"), script);
    std::ofstream(probe, std::ios::binary) << text;
    const std::string holder = page + ".holder.html";
    std::ofstream(holder, std::ios::binary)
        << "<!DOCTYPE html><html><body><iframe src=\"" << fs::path(probe).filename().string()
        << "\" style=\"border:0;width:" << width << "px;height:800px\"></iframe><script>addEventListener("
        << "'message',e=>document.body.setAttribute('data-probe',e.data))</script></body></html>";
    const std::string dom = work + "/probe.dom";
    const std::string command = "timeout 120 " + QuotedForShell(browser.Chromium)
        + " --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking"
          " --hide-scrollbars --force-device-scale-factor=1 --virtual-time-budget=5000 --user-data-dir="
        + QuotedForShell(work + "/probe-profile") + " --window-size=" + std::to_string(width + 200)
        + ",900 --dump-dom " + QuotedForShell("file://" + holder) + " >" + QuotedForShell(dom)
        + " 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const std::string out = test::ReadFileBytes(dom);
    TNarrowView view;
    const size_t at = out.find("data-probe=\"probe ");
    if (at == std::string::npos) {
        ADD_FAILURE() << "the page in the browser gave no measures:\n" << out;
        return view;
    }
    std::istringstream numbers(out.substr(at + 18, out.find('"', at + 18) - at - 18));
    numbers >> view.ScrollWidth >> view.WindowWidth >> view.SectionWidth;
    for (std::array<double, 4> box; numbers >> box[0] >> box[1] >> box[2] >> box[3];)
        view.Cells.push_back(box);
    return view;
}

// At 375 pixels the design (600 wide) scales down without a side scroll,
// and the stacked rows (the second and third, which a span ties) show their
// cells one under another at the section's full width, in order.
TEST_F(PageStyles, PhonesSeeNoSideScrollAndStackedCellsInOrder)
{
    TPageLayout layout = CutCells(m_design, 1, "");
    layout.Rows[2].Stack = true;
    for (const TPageStyle style : { TPageStyle::Html5, TPageStyle::Grid }) {
        SCOPED_TRACE(PageStyleName(style));
        const std::string page
            = WritePage(std::string("phone-") + PageStyleName(style) + ".html", layout, style);
        const TNarrowView view = ViewAt(m_browser, page, 375, m_folder.Path().string());
        EXPECT_EQ(view.WindowWidth, 375);
        EXPECT_LE(view.ScrollWidth, view.WindowWidth);
        EXPECT_EQ(view.SectionWidth, 375 - 16); // the body's margins
        // Row 2 holds four cells (one spanning into row 3), row 3 three.
        ASSERT_EQ(view.Cells.size(), 7u);
        for (size_t k = 0; k < view.Cells.size(); ++k) {
            EXPECT_NEAR(view.Cells[k][2], 8, 0.5) << k;
            EXPECT_NEAR(view.Cells[k][3], view.SectionWidth, 0.5) << k;
            EXPECT_GT(view.Cells[k][1], view.Cells[k][0]) << k;
            if (k > 0) {
                EXPECT_NEAR(view.Cells[k][0], view.Cells[k - 1][1], 0.5) << k;
            }
        }
    }
}

// In a window narrower than the design the grid page scales it down whole.
TEST_F(PageStyles, GridShrinksWithTheWindow)
{
    const std::string page = WritePage("narrow.html", CutCells(m_design, 1, ""), TPageStyle::Grid);
    TBitmap screen = Shoot(page, 316, 400);
    int right = 0;
    int bottom = 0;
    for (int y = 0; y < screen.Height(); ++y)
        for (int x = 0; x < screen.Width(); ++x)
            if (screen.Canvas().Pixel(x, y) != kPageWhite) {
                right = std::max(right, x);
                bottom = std::max(bottom, y);
            }
    // 300 pixels wide from the margin at 8, so 200 high.
    EXPECT_NEAR(right, 307, 1);
    EXPECT_NEAR(bottom, 207, 1);
}

} // namespace
} // namespace sw
