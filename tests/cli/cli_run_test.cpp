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

    const RunResult unsupported = Run({ "convert", missing, m_folder / "out.png" });
    EXPECT_EQ(unsupported.Status, 1);
    EXPECT_EQ(unsupported.Err, "Unsupported output extension (.png)\n");
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
    };
    for (const auto& [name, magic] : cases) {
        const RunResult result = Run({ "convert", input, m_folder / name, "--transparent", "000000" });
        ASSERT_EQ(result.Status, 0) << name << ": " << result.Err;
        EXPECT_EQ(ReadFileBytes(m_folder / name).substr(0, magic.size()), magic) << name;
    }
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
