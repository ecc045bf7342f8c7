#include "core/imaging/bitmap.h"

#include "cli/cli_runner.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::CliRun;
using test::ReadFileBytes;
using test::RunResult;
using test::TempFolder;

TEST_F(CliRun, HelpAndVersionGoToStandardOutput)
{
    const RunResult help = Run({ "--help" });
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("slicewright-cli convert INPUT OUTPUT"), std::string::npos) << help.Out;
    EXPECT_EQ(help.Err, "");

    const RunResult version = Run({ "--version" });
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Out.rfind("slicewright-cli ", 0), 0u) << version.Out;
}

TEST_F(CliRun, UsageErrorsExitWithTwoAndTheUsage)
{
    const std::vector<std::vector<std::string>> cases = {
        {},
        { "convert", "only-one.bmp" },
        { "convert", "a.bmp", "b.bmp", "--transparent", "red" },
        { "unknown" },
    };
    for (const auto& args : cases) {
        const RunResult result = Run(args);
        EXPECT_EQ(result.Status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_NE(result.Err.find("usage: slicewright-cli"), std::string::npos) << result.Err;
        EXPECT_EQ(result.Out, "");
    }
}

TEST_F(CliRun, FailuresExitWithOneAndTheMessageAlone)
{
    const std::string missing = m_folder / "missing.bmp";
    const RunResult result = Run({ "convert", missing, m_folder / "out.bmp" });
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Err, "Cannot open file " + missing + " (No such file or directory).\n");
    EXPECT_FALSE(fs::exists(m_folder / "out.bmp"));

    const RunResult unsupported = Run({ "convert", missing, m_folder / "out.tiff" });
    EXPECT_EQ(unsupported.Status, 1);
    EXPECT_EQ(unsupported.Err, "Unsupported output extension (.tiff)\n");
}

// A 3 x 2 picture, 24 bits per pixel, rows stored bottom-up, each padded to 12 bytes.
std::string ThreeByTwoBmp()
{
    const unsigned char bytes[] = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 24, 0, 0, 0, // info header
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0, // bottom row: red, green, blue
        255, 255, 255, 0, 0, 0, 10, 20, 30, 0, 0, 0, // top row: white, black, (30, 20, 10)
    };
    return std::string(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

TEST_F(CliRun, BmpToBmpKeepsEveryPixel)
{
    const std::string input = m_folder / "in.bmp";
    std::ofstream(input, std::ios::binary) << ThreeByTwoBmp();
    const std::string output = m_folder / "OUT.BMP";
    const RunResult result = Run({ "convert", input, output, "--transparent", "FF00FF" });
    ASSERT_EQ(result.Status, 0) << result.Err;
    EXPECT_EQ(result.Out, "");

    TBitmap converted;
    converted.LoadFromFile(output);
    ASSERT_EQ(converted.Width(), 3);
    ASSERT_EQ(converted.Height(), 2);
    const TColor expected[2][3] = {
        { RGB(255, 255, 255), RGB(0, 0, 0), RGB(30, 20, 10) },
        { RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255) },
    };
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(converted.Canvas().Pixel(x, y), expected[y][x]) << x << ',' << y;
}

// The small designs of fuzz/seeds/svg and pdf: red on the left half, blue on
// the right; the PDF's second page is 100 x 50 points of green.
TEST_F(CliRun, VectorDesignsAreDrawnAtTheScaleAndPageAsked)
{
    const fs::path seeds = fs::path(SLICEWRIGHT_SOURCE_DIR) / "fuzz/seeds";
    struct TCase {
        std::vector<std::string> Args;
        int Width;
        int Height;
    };
    const TCase cases[] = {
        { { (seeds / "svg/design.svg").string() }, 200, 100 },
        { { (seeds / "svg/design.svg").string(), "--scale", "2" }, 400, 200 },
        { { (seeds / "pdf/design.pdf").string(), "--picture-page", "2" }, 100, 50 },
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = { "convert", c.Args[0], m_folder / "out.bmp" };
        args.insert(args.end(), c.Args.begin() + 1, c.Args.end());
        const RunResult result = Run(args);
        ASSERT_EQ(result.Status, 0) << result.Err;
        TBitmap converted;
        converted.LoadFromFile(m_folder / "out.bmp");
        EXPECT_EQ(converted.Width(), c.Width) << c.Args.back();
        EXPECT_EQ(converted.Height(), c.Height) << c.Args.back();
    }
    const RunResult past = Run(
        { "convert", (seeds / "pdf/design.pdf").string(), m_folder / "out.bmp", "--picture-page", "3" });
    EXPECT_EQ(past.Status, 1);
    EXPECT_EQ(past.Err, "PDF document has 2 pages; there is no page 3.\n");

    // The project's Scale draws the design; its cut positions are in the
    // pixels of that drawing.
    std::ofstream(m_folder / "design.swr")
        << "[Settings]\nGraphicImage=" << (seeds / "svg/design.svg").string()
        << "\n[Columns]\nPosition1=200\n[Output]\nScale=2\n";
    const RunResult run = Run({ "generate", m_folder / "design.swr", "--keep-temp" });
    ASSERT_EQ(run.Status, 0) << run.Err;
    TBitmap strip;
    strip.LoadFromFile(m_folder / "r1.bmp");
    EXPECT_EQ(strip.Width(), 400);
    EXPECT_EQ(strip.Height(), 200);
    EXPECT_EQ(strip.Canvas().Pixel(199, 100), RGB(255, 0, 0));
    EXPECT_EQ(strip.Canvas().Pixel(200, 100), RGB(0, 0, 255));
}

TEST_F(CliRun, SuggestReadsTheGuidesAndSlicesOfADesign)
{
    const std::string psd = (fs::path(SLICEWRIGHT_SOURCE_DIR) / "fuzz/seeds/psd/rgb8_rle.psd").string();
    const RunResult design = Run({ "suggest", psd, "--design" });
    ASSERT_EQ(design.Status, 0) << design.Err;
    EXPECT_EQ(design.Out, "columns: 1 3 4\nrows: 2\n");
    const RunResult flat = Run({ "suggest", m_folder / "none.bmp", "--design" });
    EXPECT_EQ(flat.Status, 1);
}

TEST_F(CliRun, OutputKindFollowsTheExtensionInAnyCase)
{
    const std::string input = m_folder / "in.bmp";
    std::ofstream(input, std::ios::binary) << ThreeByTwoBmp();
    const std::pair<const char*, std::string> cases[] = {
        { "a.gif", "GIF8" },
        { "b.GIF", "GIF8" },
        { "c.jpg", "\xFF\xD8\xFF" },
        { "d.Jpeg", "\xFF\xD8\xFF" },
        { "e.bmp", "BM" },
        { "f.PNG", "\x89PNG" },
        { "g.webp", "RIFF" },
    };
    for (const auto& [name, magic] : cases) {
        const RunResult result = Run({ "convert", input, m_folder / name, "--transparent", "000000" });
        ASSERT_EQ(result.Status, 0) << name << ": " << result.Err;
        EXPECT_EQ(ReadFileBytes(m_folder / name).substr(0, magic.size()), magic) << name;
    }
}

TEST_F(CliRun, AFailedWriteKeepsThePreviousOutput)
{
    const std::string input = m_folder / "in.bmp";
    TBitmap picture;
    picture.SetSize(64, 64);
    picture.SaveToFile(input);
    const std::string output = m_folder / "out.bmp";
    const std::string previous(4096, 'x');
    std::ofstream(output, std::ios::binary) << previous;
    // A file size limit of 512 bytes makes the write fail as a full disk would.
    const std::string command = "sh -c " + test::ShellQuote("trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"")
        + " " + test::ShellQuote(m_cli) + " convert " + test::ShellQuote(input) + " "
        + test::ShellQuote(output) + " 2>/dev/null";
    ASSERT_NE(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadFileBytes(output), previous);
    EXPECT_EQ(m_folder.EntryCount(), 2u);
}

// A GIF cut short is read as far as it goes, and every way out says so:
// convert on standard error, generate in its log and its JSON lines.
TEST_F(CliRun, CutShortPicturesAreReadWithAWarning)
{
    TBitmap design;
    design.SetPixelFormat(TPixelFormat::pf24bit);
    design.SetSize(200, 150);
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 600; ++x)
            design.ScanLine(y)[x] = static_cast<uint8_t>(x * 7 + y * 13);
    design.SaveToFile(m_folder / "design.bmp");
    const std::string whole = m_folder / "whole.gif";
    ASSERT_EQ(Run({ "convert", m_folder / "design.bmp", whole }).Status, 0);
    const std::string bytes = ReadFileBytes(whole);
    const std::string half = m_folder / "half.gif";
    std::ofstream(half, std::ios::binary) << bytes.substr(0, bytes.size() / 2);

    const RunResult converted = Run({ "convert", half, m_folder / "out.png" });
    EXPECT_EQ(converted.Status, 0);
    EXPECT_EQ(converted.Err.rfind("slicewright-cli: warning: " + half + ": cut short: ", 0), 0u)
        << converted.Err;

    const std::string project = m_folder / "p.swr";
    std::ofstream(project) << "[Settings]\nGraphicImage=half.gif\n";
    const RunResult logged = Run({ "generate", project, "--out", m_folder / "a" });
    EXPECT_EQ(logged.Status, 0);
    EXPECT_EQ(logged.Out.rfind("Warning: " + half + ": cut short: ", 0), 0u) << logged.Out;
    const RunResult quiet = Run({ "generate", project, "--out", m_folder / "c", "--quiet" });
    EXPECT_EQ(quiet.Err.rfind("slicewright-cli: warning: " + half + ": cut short: ", 0), 0u) << quiet.Err;
    const RunResult json = Run({ "generate", project, "--out", m_folder / "b", "--json" });
    EXPECT_EQ(json.Status, 0);
    EXPECT_NE(json.Out.find("\"warning\":\"" + half + ": cut short: "), std::string::npos) << json.Out;
}

// What the output cannot hold is refused from the header, before decoding:
// here the header claims far more than the file's bytes could fill.
TEST_F(CliRun, ASizeTheOutputCannotHoldIsRefusedBeforeDecoding)
{
    const unsigned char png[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D',
        'R', 0, 0, 0, 1, 0, 1, 0x11, 0x70, 8, 0, 0, 0, 0 };
    const std::string input = m_folder / "tall.png";
    std::ofstream(input, std::ios::binary) << std::string(reinterpret_cast<const char*>(png), sizeof png);
    const RunResult result = Run({ "convert", input, m_folder / "out.gif" });
    EXPECT_EQ(result.Status, 1);
    EXPECT_EQ(result.Err, "Image too large for GIF: 1 x 70000 (at most 65535 x 65535)\n");

    // A run whose lines leave a cell taller than GIF allows, likewise; lines
    // that make every cell small enough let it go on to the picture.
    const std::string project = m_folder / "p.swr";
    std::ofstream(project) << "[Settings]\nGraphicImage=tall.png\n[Rows]\nPosition1=2000\nChecked1=1\n";
    const RunResult refused = Run({ "generate", project, "--out", m_folder / "a" });
    EXPECT_EQ(refused.Err, "Image too large for GIF: 1 x 68000 (at most 65535 x 65535)\n");
    std::ofstream(project, std::ios::app) << "Position2=40000\nChecked2=1\n";
    const RunResult read = Run({ "generate", project, "--out", m_folder / "b" });
    EXPECT_EQ(read.Err.rfind("PNG image is not valid", 0), 0u) << read.Err;
}

TEST_F(CliRun, AltFromTextReadsAPictureOfAnyDepthIntoThePage)
{
    // A GIF picture has 8-bit rows: the reading needs them as 24-bit ones.
    const std::string sample = SLICEWRIGHT_SOURCE_DIR "/data/sample/design.bmp";
    ASSERT_EQ(Run({ "convert", sample, m_folder / "design.gif" }).Status, 0);
    std::string project = ReadFileBytes(SLICEWRIGHT_SOURCE_DIR "/data/sample/design.swr");
    project.replace(project.find("design.bmp"), 10, "design.gif");
    std::ofstream(m_folder / "design.swr", std::ios::binary) << project;

    const RunResult result = Run({ "generate", m_folder / "design.swr", "--alt-from-text", "--json", "--page",
        "index.html", "--page-style", "html5", "--threads", "2" });
    ASSERT_EQ(result.Status, 0) << result.Err;
    const size_t proposal = result.Out.find("\"text_proposal\":\"");
    ASSERT_NE(proposal, std::string::npos) << result.Out;
    const size_t start = proposal + 17;
    const std::string text = result.Out.substr(start, result.Out.find('"', start) - start);
    EXPECT_NE(ReadFileBytes(m_folder / "index.html").find("alt=\"" + text), std::string::npos) << text;
}

} // namespace
} // namespace sw
