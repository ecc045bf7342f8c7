// The page's real reader is a browser: slice the sample design with
// slicewright-cli, let headless Chromium render the page, and compare the
// screenshot with the picture the cells came from.

#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/picture_formats.h"

#include "cli/cli_runner.h"
#include "support/browser_shot.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::RunResult;
using test::ShellQuote;

const std::string kSampleFolder = std::string(SLICEWRIGHT_SOURCE_DIR) + "/data/sample";
// The design's background, given as the transparent colour so that the
// page's own white shows through wherever it was.
constexpr TColor kBackground = RGB(0xF4, 0xF1, 0xEA);
constexpr TColor kPageWhite = RGB(255, 255, 255);
// The body margin of a page without style puts the table here.
constexpr int kTableLeft = 8;
constexpr int kTableTop = 8;

uint8_t CubeLevel(uint8_t c)
{
    return static_cast<uint8_t>((c + 3) / 51 * 51);
}

TColor WebCube(TColor c)
{
    return RGB(CubeLevel(GetRValue(c)), CubeLevel(GetGValue(c)), CubeLevel(GetBValue(c)));
}

int ChannelDistance(TColor a, TColor b)
{
    return std::max({ std::abs(GetRValue(a) - GetRValue(b)), std::abs(GetGValue(a) - GetGValue(b)),
        std::abs(GetBValue(a) - GetBValue(b)) });
}

class BrowserPage : public CliRun {
protected:
    void SetUp() override
    {
        CliRun::SetUp();
        if (IsSkipped())
            return;
        m_browser = test::TBrowser::Find();
        if (m_browser.Chromium.empty())
            GTEST_SKIP() << "chromium is not installed (scripts/install-deps installs it): the browser check "
                            "did not run";
        if (m_browser.Convert.empty())
            GTEST_SKIP() << "ImageMagick's convert is not installed: the browser check did not run";
        m_source.LoadFromFile(kSampleFolder + "/design.bmp");
    }

    // Slices the sample into its own folder (the cells into cellFolder below
    // it when one is named), renders index.html and returns the screenshot
    // as a bitmap.
    TBitmap Render(const std::string& type, const std::string& cellFolder = "")
    {
        const std::string out = m_folder / type;
        fs::create_directory(out);
        const RunResult run = Run({ "generate", kSampleFolder + "/design.swr", "--out",
            cellFolder.empty() ? out : out + "/" + cellFolder, "--format", type, "--page",
            out + "/index.html", "--transparent", "F4F1EA" });
        EXPECT_EQ(run.Status, 0) << run.Err;

        // A window well larger than the page: small windows render only part of it.
        const int windowWidth = std::max(400, m_source.Width() + 100);
        const int windowHeight = std::max(400, m_source.Height() + 200);
        return m_browser.Shoot(
            "file://" + out + "/index.html", windowWidth, windowHeight, m_folder.Path().string(), type);
    }

    // Every pixel of the table shows the sample's web-cube colour, or the
    // page's white where the sample had its background.
    void ExpectWebCubePicture(TBitmap& screen);

    test::TBrowser m_browser;
    TBitmap m_source;
};

void BrowserPage::ExpectWebCubePicture(TBitmap& screen)
{
    ASSERT_GE(screen.Width(), kTableLeft + m_source.Width() + 1);
    ASSERT_GE(screen.Height(), kTableTop + m_source.Height() + 1);

    int mismatches = 0;
    int transparent = 0;
    std::string first;
    for (int y = 0; y < m_source.Height(); ++y)
        for (int x = 0; x < m_source.Width(); ++x) {
            const TColor source = m_source.Canvas().Pixel(x, y);
            const TColor expected = source == kBackground ? kPageWhite : WebCube(source);
            transparent += source == kBackground;
            const TColor shown = screen.Canvas().Pixel(kTableLeft + x, kTableTop + y);
            if (shown != expected && mismatches++ == 0)
                first = "first at " + std::to_string(x) + "," + std::to_string(y);
        }
    EXPECT_EQ(mismatches, 0) << first;
    EXPECT_GT(transparent, m_source.Width() * m_source.Height() / 10) << "the background should show through";

    // Nothing of the page lies beyond the table's right and bottom edges.
    for (int y = 0; y < kTableTop + m_source.Height(); ++y)
        ASSERT_EQ(screen.Canvas().Pixel(kTableLeft + m_source.Width(), y), kPageWhite) << y;
    for (int x = 0; x < kTableLeft + m_source.Width(); ++x)
        ASSERT_EQ(screen.Canvas().Pixel(x, kTableTop + m_source.Height()), kPageWhite) << x;
}

TEST_F(BrowserPage, GifCellsShowTheWebCubePicture)
{
    TBitmap screen = Render("gif");
    ExpectWebCubePicture(screen);
}

TEST_F(BrowserPage, PageFindsCellsInAnotherFolder)
{
    TBitmap screen = Render("gif", "img/cells");
    ExpectWebCubePicture(screen);
}

TEST_F(BrowserPage, JpegCellsShowThePictureClosely)
{
    TBitmap screen = Render("jpg");
    ASSERT_GE(screen.Width(), kTableLeft + m_source.Width());
    ASSERT_GE(screen.Height(), kTableTop + m_source.Height());

    // The cells as our own decoder reads them, laid side by side at the
    // sample's cut lines.
    RegisterPictureFormats();
    const int columns[] = { 0, 24, 376, 400, 576, 600 };
    const int rows[] = { 0, 78, 100, 300, 330, 400 };
    int worstAgainstCells = 0;
    int64_t totalAgainstSource = 0;
    for (int k = 0; k < 5; ++k)
        for (int m = 0; m < 5; ++m) {
            const std::string name
                = m_folder / ("jpg/r" + std::to_string(k + 1) + "_c" + std::to_string(m + 1) + ".jpg");
            TPicture picture;
            picture.LoadFromFile(name);
            TBitmap cell;
            cell.Assign(*picture.Graphic());
            ASSERT_EQ(cell.Width(), columns[m + 1] - columns[m]) << name;
            ASSERT_EQ(cell.Height(), rows[k + 1] - rows[k]) << name;
            for (int y = 0; y < cell.Height(); ++y)
                for (int x = 0; x < cell.Width(); ++x) {
                    const TColor shown
                        = screen.Canvas().Pixel(kTableLeft + columns[m] + x, kTableTop + rows[k] + y);
                    worstAgainstCells
                        = std::max(worstAgainstCells, ChannelDistance(shown, cell.Canvas().Pixel(x, y)));
                    totalAgainstSource
                        += ChannelDistance(shown, m_source.Canvas().Pixel(columns[m] + x, rows[k] + y));
                }
        }
    // Two decoders of one file may round a little differently; a gap or a
    // misplaced cell would shift whole areas.
    EXPECT_LE(worstAgainstCells, 4);
    // Compression itself stays small on average, though it blurs text edges.
    EXPECT_LT(double(totalAgainstSource) / (m_source.Width() * m_source.Height()), 5.0);
}

// Lossless cells show the design pixel for pixel and lossy ones stay above
// a floor; in every format with transparency the background lets the
// page's white through.
TEST_F(BrowserPage, EveryCellFormatReassemblesThePicture)
{
    const struct {
        const char* format;
        double floor; // dB over the whole table; 0 asks for every pixel exact
    } cases[] = {
        { "png", 0 },
        { "webp-lossless", 0 },
        { "gif-adaptive", 50 },
        { "png8", 50 },
        { "webp", 34 },
        { "auto", 40 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        TBitmap screen = Render(c.format);
        ASSERT_GE(screen.Width(), kTableLeft + m_source.Width());
        ASSERT_GE(screen.Height(), kTableTop + m_source.Height());
        int mismatches = 0;
        double squares = 0;
        for (int y = 0; y < m_source.Height(); ++y)
            for (int x = 0; x < m_source.Width(); ++x) {
                const TColor source = m_source.Canvas().Pixel(x, y);
                const TColor expected = source == kBackground ? kPageWhite : source;
                const TColor shown = screen.Canvas().Pixel(kTableLeft + x, kTableTop + y);
                mismatches += shown != expected;
                for (int shift : { 0, 8, 16 }) {
                    const double error = double((expected >> shift) & 0xFF) - double((shown >> shift) & 0xFF);
                    squares += error * error;
                }
            }
        const double meanSquare = squares / (3.0 * m_source.Width() * m_source.Height());
        const double psnr = meanSquare == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / meanSquare);
        if (c.floor == 0)
            EXPECT_EQ(mismatches, 0);
        else
            EXPECT_GE(psnr, c.floor);
        std::cout << c.format << ": " << psnr << " dB, " << mismatches << " pixels differ\n";
    }
}

} // namespace
} // namespace sw
