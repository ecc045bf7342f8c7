#include "core/generate/slicing_pipeline.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/picture_formats.h"

#include "support/folder_entries.h"
#include "support/open_files.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <tuple>

#if SLICEWRIGHT_HAVE_GIFLIB
#include <gif_lib.h>
#endif

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::FolderEntries;
using test::OpenFileCount;
using test::ReadFileBytes;
using test::TempFolder;
using test::WriteFileBytes;

// Every call in order, so a test can check the run's sequence of steps.
class RecordingSink : public IGenerationSink {
public:
    void LogLine(const std::string& line) override
    {
        Events.push_back("log " + line);
        Log.push_back(line);
        if (OnLogLine)
            OnLogLine(line);
    }
    void RowFileAdded(const std::string& fileName) override { Events.push_back("row " + fileName); }
    void FileFinished(const std::string& fileName) override
    {
        Events.push_back("finished " + fileName);
        Finished.push_back(fileName);
    }
    void ProcessMessages() override { Events.push_back("yield"); }
    void Beep() override { Events.push_back("beep"); }
    void Progress(const TGenerationCounts& counts) override
    {
        Last = counts;
        LastDone = counts.Done();
        LastTotal = counts.Total;
    }

    std::vector<std::string> Events;
    std::vector<std::string> Log;
    std::vector<std::string> Finished;
    std::function<void(const std::string&)> OnLogLine;
    TGenerationCounts Last;
    int LastDone = -1;
    int LastTotal = -1;
};

TColor NoisyColor(int x, int y)
{
    return RGB(static_cast<uint8_t>(x * 37 + y * 11), static_cast<uint8_t>(x * 13 + y * 29),
        static_cast<uint8_t>(x * 7 + y * 53));
}

constexpr TColor kMagenta = RGB(255, 0, 255);

// Distinct colours everywhere, and the transparent colour on a diagonal
// pattern so that most cells hold some of it.
TColor SourceColor(int x, int y)
{
    return (x + 2 * y) % 7 == 0 ? kMagenta : NoisyColor(x, y);
}

TBitmap MakePicture(int width, int height, TColor (*color)(int, int))
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const TColor c = color(x, y);
            row[x * 3] = GetBValue(c);
            row[x * 3 + 1] = GetGValue(c);
            row[x * 3 + 2] = GetRValue(c);
        }
    }
    return bitmap;
}

std::vector<std::string> Captions(std::initializer_list<int> positions)
{
    std::vector<std::string> captions;
    for (int p : positions)
        captions.push_back(std::to_string(p));
    return captions;
}

// The page's rows and image names, in file order.
std::vector<std::string> CellLinesOf(const std::string& page)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = page.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = page.substr(start, end - start);
        const std::string cellStart = "<td><img src=\"";
        if (line == "<tr>" || line == "</tr>")
            lines.push_back(line);
        else if (line.rfind(cellStart, 0) == 0)
            lines.push_back(
                line.substr(cellStart.size(), line.find('"', cellStart.size()) - cellStart.size()));
    }
    return lines;
}

class SlicingPipeline : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterPictureFormats(); }

    // Runs into m_folder unless the settings name another folder.
    void Generate(const TGenerationInput& input, TGenerationSettings settings, RecordingSink& sink)
    {
        if (settings.OutputFolder.empty())
            settings.OutputFolder = m_folder.Path().string();
        RunGeneration(input, settings, sink);
    }
    RecordingSink Generate(const TGenerationInput& input, const TGenerationSettings& settings = {})
    {
        RecordingSink sink;
        Generate(input, settings, sink);
        return sink;
    }

    TBitmap m_picture = MakePicture(40, 30, SourceColor);
    TempFolder m_folder;
};

TBitmap LoadBitmap(const std::string& fileName)
{
    TPicture picture;
    picture.LoadFromFile(fileName);
    TBitmap bitmap;
    bitmap.Assign(*picture.Graphic());
    return bitmap;
}

TEST(SlicingNames, TrailingSeparatorAndExtension)
{
    EXPECT_EQ(WithTrailingBackslash(""), "/");
    EXPECT_EQ(WithTrailingBackslash("/tmp/out"), "/tmp/out/");
    EXPECT_EQ(WithTrailingBackslash("/tmp/out/"), "/tmp/out/");
    EXPECT_EQ(WithTrailingBackslash("out\\"), "out\\/");
    EXPECT_EQ(ImageExtension(0), ".gif");
    EXPECT_EQ(ImageExtension(1), ".jpg");
    EXPECT_EQ(ImageExtension(2), ".jpeg");
    EXPECT_EQ(ImageExtension(-1), ".jpeg");
}

// The project file keeps exactly the keys the run reads, so that no
// setting is lost in a save.
TEST(SlicingNames, TheProjectFileKeepsEveryOutputKey)
{
    EXPECT_EQ(std::vector<std::string>(std::begin(kOutputSectionKeys), std::end(kOutputSectionKeys)),
        OutputSectionKeyNames());
}

TEST_F(SlicingPipeline, FileSetsNamesAndOrder)
{
    struct Case {
        const char* name;
        std::vector<std::string> columns;
        std::vector<std::string> rows;
        int imageType;
        bool trailingSeparator;
        bool deleteTemp;
        std::set<std::string> files; // besides index.html
        std::vector<std::string> finished; // without folder
        std::vector<std::string> page; // rows and image names
    };
    const std::vector<Case> cases = {
        { "no lines", {}, {}, 0, false, true, { "r1.gif" }, {}, { "<tr>", "r1.gif", "</tr>" } },
        { "rows only", {}, Captions({ 10, 20 }), 0, true, true, { "r1.gif", "r2.gif", "r3.gif" }, {},
            { "<tr>", "r1.gif", "</tr>", "<tr>", "r2.gif", "</tr>", "<tr>", "r3.gif", "</tr>" } },
        { "columns only", Captions({ 15 }), {}, 0, false, true, { "r1_c1.gif", "r1_c2.gif" },
            { "r1_c1.gif", "r1_c2.gif" }, { "<tr>", "r1_c1.gif", "r1_c2.gif", "</tr>" } },
        { "both, jpg", Captions({ 15, 30 }), Captions({ 10 }), 1, true, true,
            { "r1_c1.jpg", "r1_c2.jpg", "r1_c3.jpg", "r2_c1.jpg", "r2_c2.jpg", "r2_c3.jpg" },
            { "r1_c1.jpg", "r1_c2.jpg", "r1_c3.jpg", "r2_c1.jpg", "r2_c2.jpg", "r2_c3.jpg" },
            { "<tr>", "r1_c1.jpg", "r1_c2.jpg", "r1_c3.jpg", "</tr>", "<tr>", "r2_c1.jpg", "r2_c2.jpg",
                "r2_c3.jpg", "</tr>" } },
        { "jpeg, strips kept", Captions({ 20 }), Captions({ 12 }), 2, false, false,
            { "r1.bmp", "r2.bmp", "r1_c1.jpeg", "r1_c2.jpeg", "r2_c1.jpeg", "r2_c2.jpeg" },
            { "r1_c1.jpeg", "r1_c2.jpeg", "r2_c1.jpeg", "r2_c2.jpeg" },
            { "<tr>", "r1_c1.jpeg", "r1_c2.jpeg", "</tr>", "<tr>", "r2_c1.jpeg", "r2_c2.jpeg", "</tr>" } },
        { "strips kept, no columns", {}, Captions({ 5 }), 0, false, false,
            { "r1.bmp", "r2.bmp", "r1.gif", "r2.gif" }, {},
            { "<tr>", "r1.gif", "</tr>", "<tr>", "r2.gif", "</tr>" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const std::string base = folder.Path().string();
        const RecordingSink sink = Generate({ &m_picture, c.columns, c.rows, kMagenta },
            { .OutputFolder = c.trailingSeparator ? base + "/" : base,
                .WriteHTML = true,
                .PageFileName = folder / "index.html",
                .CellFormat = { .Type = ImageTypeOfIndex(c.imageType) },
                .DeleteTemp = c.deleteTemp });

        std::set<std::string> expectedFiles = c.files;
        expectedFiles.insert("index.html");
        EXPECT_EQ(FolderEntries(folder.Path()), expectedFiles);
        std::vector<std::string> finished;
        for (const std::string& name : c.finished)
            finished.push_back(base + "/" + name);
        EXPECT_EQ(sink.Finished, finished);
        EXPECT_EQ(CellLinesOf(ReadFileBytes(folder / "index.html")), c.page);
        const int cells = static_cast<int>((c.rows.size() + 1) * (c.columns.size() + 1));
        EXPECT_EQ(sink.LastDone, cells);
        EXPECT_EQ(sink.LastTotal, cells);
    }
}

TEST_F(SlicingPipeline, StepsComeInTheirOrder)
{
    const std::string base = m_folder.Path().string();
    const RecordingSink sink = Generate({ &m_picture, Captions({ 15 }), Captions({ 10 }), kMagenta });
    const std::vector<std::string> expected = {
        "yield",
        "log Generating temporary images...",
        "row " + base + "/r1.bmp",
        "row " + base + "/r2.bmp",
        "log Temporary images created, creating final images...",
        "log ",
        "yield",
        "finished " + base + "/r1_c1.gif",
        "finished " + base + "/r1_c2.gif",
        "yield",
        "finished " + base + "/r2_c1.gif",
        "finished " + base + "/r2_c2.gif",
        "beep",
        "log Done.",
    };
    EXPECT_EQ(sink.Events, expected);
    // No page was asked for, and the strips are gone.
    EXPECT_EQ(FolderEntries(m_folder.Path()),
        (std::set<std::string> { "r1_c1.gif", "r1_c2.gif", "r2_c1.gif", "r2_c2.gif" }));
}

TEST_F(SlicingPipeline, StripsHoldThePictureRowsExactly)
{
    Generate({ &m_picture, {}, Captions({ 7, 19 }), kMagenta }, { .DeleteTemp = false });

    const int bounds[] = { 0, 7, 19, 30 };
    for (int k = 0; k < 3; ++k) {
        TBitmap bitmap = LoadBitmap(m_folder / ("r" + std::to_string(k + 1) + ".bmp"));
        ASSERT_EQ(bitmap.Width(), 40);
        ASSERT_EQ(bitmap.Height(), bounds[k + 1] - bounds[k]);
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(bitmap.Canvas().Pixel(x, y), SourceColor(x, bounds[k] + y))
                    << k << ' ' << x << ',' << y;
    }
}

#if SLICEWRIGHT_HAVE_GIFLIB

uint8_t CubeLevel(uint8_t c)
{
    return static_cast<uint8_t>((c + 3) / 51 * 51);
}

// Every GIF cell, read by giflib, shows the web-cube colour of its source
// pixel, or the transparency entry exactly where the source held the
// transparent colour; cells laid side by side cover the picture.
void ExpectGifCellsReassemble(const std::string& folder, const std::vector<int>& columnBounds,
    const std::vector<int>& rowBounds, bool noColumns)
{
    for (size_t k = 0; k + 1 < rowBounds.size(); ++k)
        for (size_t m = 0; m + 1 < columnBounds.size(); ++m) {
            const std::string name = folder + "/r" + std::to_string(k + 1)
                + (noColumns ? std::string() : "_c" + std::to_string(m + 1)) + ".gif";
            SCOPED_TRACE(name);
            int error = 0;
            GifFileType* gif = DGifOpenFileName(name.c_str(), &error);
            ASSERT_NE(gif, nullptr) << GifErrorString(error);
            ASSERT_EQ(DGifSlurp(gif), GIF_OK);
            ASSERT_EQ(gif->ImageCount, 1);
            const SavedImage& frame = gif->SavedImages[0];
            const int width = columnBounds[m + 1] - columnBounds[m];
            const int height = rowBounds[k + 1] - rowBounds[k];
            EXPECT_EQ(frame.ImageDesc.Width, width);
            EXPECT_EQ(frame.ImageDesc.Height, height);
            GraphicsControlBlock control {};
            control.TransparentColor = NO_TRANSPARENT_COLOR;
            DGifSavedExtensionToGCB(gif, 0, &control);
            const ColorMapObject* map = frame.ImageDesc.ColorMap ? frame.ImageDesc.ColorMap : gif->SColorMap;
            ASSERT_NE(map, nullptr);
            int mismatches = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    const TColor source = SourceColor(columnBounds[m] + x, rowBounds[k] + y);
                    const int index = frame.RasterBits[y * width + x];
                    if (source == kMagenta) {
                        mismatches += index != control.TransparentColor;
                        continue;
                    }
                    const GifColorType color = map->Colors[index];
                    mismatches += index == control.TransparentColor
                        || color.Red != CubeLevel(GetRValue(source))
                        || color.Green != CubeLevel(GetGValue(source))
                        || color.Blue != CubeLevel(GetBValue(source));
                }
            EXPECT_EQ(mismatches, 0);
            DGifCloseFile(gif, &error);
        }
}

TEST_F(SlicingPipeline, GifCellsReassembleThePicture)
{
    Generate({ &m_picture, Captions({ 9, 25 }), Captions({ 13 }), kMagenta });
    ExpectGifCellsReassemble(m_folder.Path().string(), { 0, 9, 25, 40 }, { 0, 13, 30 }, false);

    // A whole strip read back from its BMP file goes the same way.
    TempFolder strips;
    Generate({ &m_picture, {}, Captions({ 13 }), kMagenta }, { .OutputFolder = strips.Path().string() });
    ExpectGifCellsReassemble(strips.Path().string(), { 0, 40 }, { 0, 13, 30 }, true);
}

// Without a colour picked nothing is transparent, not even the theme's grey.
TEST_F(SlicingPipeline, TransparencyOnlyForAPickedColour)
{
    TBitmap grey = MakePicture(4, 2, [](int x, int) { return x < 2 ? RGB(240, 240, 240) : RGB(10, 20, 30); });
    for (const TColor picked : { clNone, RGB(240, 240, 240) }) {
        SCOPED_TRACE(picked);
        TGenerationInput input { &grey, {}, {} };
        if (picked != clNone)
            input.TransparentColor = picked;
        Generate(input);

        int error = 0;
        GifFileType* gif = DGifOpenFileName((m_folder / "r1.gif").c_str(), &error);
        ASSERT_NE(gif, nullptr);
        ASSERT_EQ(DGifSlurp(gif), GIF_OK);
        GraphicsControlBlock control {};
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        DGifSavedExtensionToGCB(gif, 0, &control);
        const GifByteType* pixels = gif->SavedImages[0].RasterBits;
        if (picked == clNone) {
            EXPECT_EQ(control.TransparentColor, NO_TRANSPARENT_COLOR);
        } else {
            EXPECT_EQ(pixels[0], control.TransparentColor);
            EXPECT_EQ(pixels[4], control.TransparentColor);
            EXPECT_NE(pixels[2], control.TransparentColor);
        }
        DGifCloseFile(gif, &error);
    }
}

#endif

TColor SmoothColor(int x, int y)
{
    return RGB(static_cast<uint8_t>(40 + x * 4), static_cast<uint8_t>(30 + y * 5), 128);
}

TEST_F(SlicingPipeline, JpegCellsStayCloseToThePicture)
{
    const TBitmap smooth = MakePicture(40, 30, SmoothColor);
    for (int type : { 1, 2 }) {
        TempFolder folder;
        Generate({ &smooth, Captions({ 16 }), Captions({ 8 }), kMagenta },
            { .OutputFolder = folder.Path().string(), .CellFormat = { .Type = ImageTypeOfIndex(type) } });

        const int columns[] = { 0, 16, 40 };
        const int rows[] = { 0, 8, 30 };
        for (int k = 0; k < 2; ++k)
            for (int m = 0; m < 2; ++m) {
                const std::string name = folder
                    / ("r" + std::to_string(k + 1) + "_c" + std::to_string(m + 1) + ImageExtension(type));
                ASSERT_EQ(ReadFileBytes(name).substr(0, 2), "\xFF\xD8") << name;
                TBitmap cell = LoadBitmap(name);
                ASSERT_EQ(cell.Width(), columns[m + 1] - columns[m]) << name;
                ASSERT_EQ(cell.Height(), rows[k + 1] - rows[k]) << name;
                int worst = 0;
                for (int y = 0; y < cell.Height(); ++y)
                    for (int x = 0; x < cell.Width(); ++x) {
                        const TColor got = cell.Canvas().Pixel(x, y);
                        const TColor want = SmoothColor(columns[m] + x, rows[k] + y);
                        worst = std::max({ worst, std::abs(GetRValue(got) - GetRValue(want)),
                            std::abs(GetGValue(got) - GetGValue(want)),
                            std::abs(GetBValue(got) - GetBValue(want)) });
                    }
                EXPECT_LE(worst, 12) << name;
            }
    }
}

TEST_F(SlicingPipeline, EmptyPiecesAreSkippedAndLogged)
{
    // Two rows at one place, a row and a column beyond the picture (40 x 30)
    // and two columns at one place.
    const RecordingSink sink
        = Generate({ &m_picture, Captions({ 20, 20, 60 }), Captions({ 10, 10, 45 }), kMagenta },
            { .WriteHTML = true, .PageFileName = m_folder / "page.txt", .DeleteTemp = false });

    const std::vector<std::string> skipped = {
        "Skipped r2.bmp: rows 10 to 10 give it no height.",
        "Skipped r4.bmp: rows 45 to 30 give it no height.",
        "Skipped r1_c2.gif: columns 20 to 20 give it no width.",
        "Skipped r1_c4.gif: columns 60 to 40 give it no width.",
        "Skipped r3_c2.gif: columns 20 to 20 give it no width.",
        "Skipped r3_c4.gif: columns 60 to 40 give it no width.",
    };
    std::vector<std::string> logged;
    std::copy_if(sink.Log.begin(), sink.Log.end(), std::back_inserter(logged),
        [](const std::string& line) { return line.rfind("Skipped", 0) == 0; });
    EXPECT_EQ(logged, skipped);
    EXPECT_EQ(FolderEntries(m_folder.Path()),
        (std::set<std::string> {
            "page.txt", "r1.bmp", "r3.bmp", "r1_c1.gif", "r1_c3.gif", "r3_c1.gif", "r3_c3.gif" }));
    EXPECT_EQ(CellLinesOf(ReadFileBytes(m_folder / "page.txt")),
        (std::vector<std::string> {
            "<tr>", "r1_c1.gif", "r1_c3.gif", "</tr>", "<tr>", "r3_c1.gif", "r3_c3.gif", "</tr>" }));
    EXPECT_EQ(sink.Last.Written, 4);
    EXPECT_EQ(sink.Last.Skipped, 12);
    EXPECT_EQ(sink.Last.Total, 16);

    // The pieces that reach past the picture are cut at its edge.
    TBitmap strip = LoadBitmap(m_folder / "r3.bmp");
    EXPECT_EQ(strip.Width(), 40);
    EXPECT_EQ(strip.Height(), 20);
    EXPECT_EQ(strip.Canvas().Pixel(39, 19), SourceColor(39, 29));
}

TEST_F(SlicingPipeline, LinesWhollyOutsideThePictureAreSkipped)
{
    const RecordingSink sink = Generate({ &m_picture, Captions({ 50, 70 }), Captions({ 35 }), kMagenta });
    EXPECT_NE(std::find(sink.Log.begin(), sink.Log.end(),
                  "Skipped r1_c2.gif: columns 50 to 70 lie outside the picture's width of 40."),
        sink.Log.end());
    EXPECT_EQ(FolderEntries(m_folder.Path()), (std::set<std::string> { "r1_c1.gif" }));
}

TEST_F(SlicingPipeline, FailuresLeaveNoOpenFile)
{
    const std::string missing = m_folder / "missing";
    const size_t before = OpenFileCount();

    struct Case {
        const char* name;
        std::vector<std::string> rows;
        std::string folder;
        bool page;
        std::string pageFile;
        std::string message;
    };
    const std::vector<Case> cases = {
        { "missing output folder", Captions({ 10 }), missing, false, "",
            "Cannot create file " + missing + "/r1.gif (No such file or directory)." },
        { "caption not a number", { "10", "12a" }, m_folder.Path().string(), true, m_folder / "p.html",
            "'12a' is not a valid integer value" },
        { "page in a missing folder", {}, m_folder.Path().string(), true, missing + "/p.html",
            "No such file or directory (" + missing + "/p.html)." },
        { "page on a full device", {}, m_folder.Path().string(), true, "/dev/full",
            "No space left on device (/dev/full)." },
        { "no page name", {}, m_folder.Path().string(), true, "", "No page file name was given" },
        { "too many cells", std::vector<std::string>(100000, "5"), m_folder.Path().string(), false, "",
            "The cut lines make 100001 cells, more than the 100000 a run makes" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingSink sink;
        try {
            Generate({ &m_picture, {}, c.rows, kMagenta },
                { .OutputFolder = c.folder, .WriteHTML = c.page, .PageFileName = c.pageFile }, sink);
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
        EXPECT_EQ(OpenFileCount(), before);
        EXPECT_EQ(std::find(sink.Events.begin(), sink.Events.end(), "beep"), sink.Events.end());
    }
    // Refused before the strips, or the strips removed after the failure.
    EXPECT_TRUE(FolderEntries(m_folder.Path()).empty());
}

TEST_F(SlicingPipeline, StripRemovedBeforeItIsReadBack)
{
    RecordingSink sink;
    sink.OnLogLine = [this](const std::string& line) {
        if (line.empty())
            fs::remove(m_folder / "r2.bmp");
    };
    const size_t before = OpenFileCount();
    try {
        Generate({ &m_picture, {}, Captions({ 10 }), kMagenta }, { .DeleteTemp = false }, sink);
        ADD_FAILURE() << "no exception";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(
            std::string(e.what()), "Cannot open file " + m_folder / "r2.bmp (No such file or directory).");
    }
    EXPECT_EQ(OpenFileCount(), before);
    // The first strip and its cell went with the failed run.
    EXPECT_TRUE(FolderEntries(m_folder.Path()).empty());
}

// Strips the user did not ask to keep are never files: a file of the user's
// with a strip's name stays as it was, and no other strip appears at any step.
TEST_F(SlicingPipeline, StripsNotKeptNeverReachTheFolder)
{
    for (const int threads : { 1, 2 }) {
        SCOPED_TRACE(threads);
        TempFolder folder;
        WriteFileBytes(folder / "r1.bmp", "mine");
        std::set<std::string> seen;
        RecordingSink sink;
        sink.OnLogLine = [&](const std::string&) {
            for (const std::string& name : FolderEntries(folder.Path()))
                seen.insert(name);
        };
        Generate({ &m_picture, Captions({ 15 }), Captions({ 10, 20 }), kMagenta },
            { .OutputFolder = folder.Path().string(), .Threads = threads }, sink);
        EXPECT_EQ(ReadFileBytes(folder / "r1.bmp"), "mine");
        for (const std::string& name : seen)
            EXPECT_TRUE(name == "r1.bmp" || name.find(".bmp") == std::string::npos) << name;
        EXPECT_EQ(FolderEntries(folder.Path()).size(), 7u);
    }
}

// A picture kept in the output folder under a name the run gives one of its
// files would be overwritten by it and then deleted with the strips.
TEST_F(SlicingPipeline, RefusesToReplaceThePicture)
{
    struct Case {
        const char* pictureName;
        std::vector<std::string> columns;
        std::string folderSuffix; // another spelling of the same folder
    };
    const std::vector<Case> cases = {
        { "r1.bmp", Captions({ 15 }), "" },
        { "r2_c2.gif", Captions({ 15 }), "" },
        { "r2.gif", {}, "" },
        { "r1.bmp", {}, "/./" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pictureName) + c.folderSuffix);
        TempFolder folder;
        const std::string picture = folder / c.pictureName;
        WriteFileBytes(picture, "the picture");
        TGenerationInput input { &m_picture, c.columns, Captions({ 10 }), kMagenta };
        input.PictureFileName = picture;
        try {
            Generate(input,
                { .OutputFolder = folder.Path().string() + c.folderSuffix,
                    .WriteHTML = true,
                    .PageFileName = folder / "index.html",
                    .DeleteTemp = false });
            ADD_FAILURE() << "no exception";
        } catch (const EFCreateError& e) {
            const std::string message = e.what();
            EXPECT_EQ(message.rfind("Cannot create file ", 0), 0u) << message;
            EXPECT_NE(
                message.find(std::string(c.pictureName) + " (it is the picture being cut"), std::string::npos)
                << message;
        }
        EXPECT_EQ(FolderEntries(folder.Path()), (std::set<std::string> { c.pictureName }));
        EXPECT_EQ(ReadFileBytes(picture), "the picture");
    }
}

// Links planted in a shared output folder are replaced, never written
// through; a link to the picture itself is no reason to refuse the run.
TEST_F(SlicingPipeline, NeverWritesThroughALink)
{
    TempFolder outside;
    const std::string victim = outside / "victim";
    WriteFileBytes(victim, "keep me");
    const char* const planted[] = { "r1.bmp", "r1_c1.gif", "r2_c2.gif", "index.html" };
    for (const char* name : planted)
        fs::create_symlink(victim, m_folder / name);
    TGenerationInput input { &m_picture, Captions({ 15 }), Captions({ 10 }), kMagenta };
    input.PictureFileName = victim;
    Generate(input, { .WriteHTML = true, .PageFileName = m_folder / "index.html", .DeleteTemp = false });

    EXPECT_EQ(ReadFileBytes(victim), "keep me");
    for (const char* name : planted)
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(m_folder / name))) << name;
    EXPECT_EQ(ReadFileBytes(m_folder / "r1_c1.gif").substr(0, 3), "GIF");
}

// A run that fails part way leaves the files of the run before it exactly
// as they were, and nothing of its own: no strip, no cell, no temporary file.
TEST_F(SlicingPipeline, AFailedRunLeavesTheEarlierOutputAlone)
{
    TBitmap tooWide; // wider than a JPEG can be
    tooWide.SetSize(65501, 2);
    struct Case {
        const char* name;
        const TBitmap* picture;
        std::string removeOnLog; // a strip removed once the strips are written
        std::string stoppedAt;
    };
    const std::vector<Case> cases = {
        { "first cell cannot be encoded", &tooWide, "", "r1.jpg" },
        { "second strip lost", &m_picture, "r2.bmp", "r2.bmp" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const TGenerationSettings settings { .OutputFolder = folder.Path().string(),
            .WriteHTML = true,
            .PageFileName = folder / "index.html",
            .CellFormat = { .Type = TImageType::Jpg },
            .DeleteTemp = c.removeOnLog.empty() };
        TGenerationSettings earlier = settings;
        earlier.DeleteTemp = true;
        Generate({ &m_picture, {}, Captions({ 1 }), kMagenta }, earlier);
        std::map<std::string, std::string> before;
        for (const std::string& name : FolderEntries(folder.Path()))
            before[name] = ReadFileBytes(folder / name);
        ASSERT_EQ(before.size(), 3u);

        RecordingSink sink;
        sink.OnLogLine = [&](const std::string& line) {
            if (line.empty() && !c.removeOnLog.empty())
                fs::remove(folder / c.removeOnLog);
        };
        EXPECT_THROW(Generate({ c.picture, {}, Captions({ 1 }), kMagenta }, settings, sink), Exception);

        std::map<std::string, std::string> after;
        for (const std::string& name : FolderEntries(folder.Path()))
            after[name] = ReadFileBytes(folder / name);
        EXPECT_EQ(after, before);
        EXPECT_EQ(sink.Log.back(), "Stopped at " + c.stoppedAt + "; the files of this run were removed.");
    }
}

} // namespace
} // namespace sw

namespace sw {
namespace {

constexpr TColor kFlat = RGB(10, 20, 30);

// Flat in the top left 10 x 10 pixels, varied everywhere else.
TColor FlatCornerColor(int x, int y)
{
    return x < 10 && y < 10 ? kFlat : NoisyColor(x, y);
}

TCellPropertyMap CellsOf(std::initializer_list<std::tuple<int, int, const char*, const char*>> values)
{
    TCellPropertyMap cells;
    for (const auto& [row, column, property, value] : values)
        SetCellProperty(cells[{ row, column }], { row, column }, property, value);
    return cells;
}

// A 3 x 3 grid: a flat cell filled by its own colour, a span with a link, a
// skipped cell, a cell of its own format, one filled by a given colour, a
// text cell and a button, which have no image file.
TEST_F(SlicingPipeline, CellPropertiesShapeFilesAndPageInEveryStyle)
{
    TBitmap picture = MakePicture(40, 30, FlatCornerColor);
    const TCellPropertyMap cells = CellsOf({ { 1, 1, "Fill", "auto" }, { 1, 2, "Span", "2x1" },
        { 1, 2, "Link", "?a=1&b=2" }, { 1, 2, "Alt", "A <b>" }, { 2, 1, "Skip", "1" },
        { 2, 2, "Format", "png" }, { 3, 3, "Fill", "336699" }, { 3, 1, "Text", "Open <daily>" },
        { 3, 2, "Button", "Order" }, { 3, 2, "Link", "#order" } });
    for (const TPageStyle style :
        { TPageStyle::Classic, TPageStyle::Html5, TPageStyle::Email, TPageStyle::Grid }) {
        SCOPED_TRACE(PageStyleName(style));
        TempFolder folder;
        const RecordingSink sink
            = Generate({ &picture, Captions({ 10, 25 }), Captions({ 10, 20 }), kMagenta },
                { .OutputFolder = folder.Path().string(),
                    .WriteHTML = true,
                    .PageFileName = folder / "index.html",
                    .PageStyle = style,
                    .Cells = cells });
        EXPECT_EQ(FolderEntries(folder.Path()),
            (std::set<std::string> { "index.html", "r1_c2.gif", "r2_c2.png", "r2_c3.gif" }));
        EXPECT_EQ(sink.Last.Written, 3);
        EXPECT_EQ(sink.Last.WithoutImage, 6);
        EXPECT_EQ(sink.Last.Done(), sink.Last.Total);

        TBitmap spanned = LoadBitmap(folder / "r1_c2.gif");
        EXPECT_EQ(spanned.Width(), 30);
        EXPECT_EQ(spanned.Height(), 10);
        TBitmap own = LoadBitmap(folder / "r2_c2.png");
        EXPECT_EQ(own.Canvas().Pixel(14, 9), FlatCornerColor(24, 19));

        const std::string page = ReadFileBytes(folder / "index.html");
        for (const char* expected : { "\"r1_c2.gif\"", "\"r2_c2.png\"", "#0A141E", "#336699", "?a=1&amp;b=2",
                 ">Open &lt;daily&gt;</div>", "href=\"#order\"", ">Order</a>" })
            EXPECT_NE(page.find(expected), std::string::npos) << expected << "\n" << page;
        EXPECT_EQ(page.find("r1_c3"), std::string::npos);
        EXPECT_EQ(page.find("A &lt;b&gt;") != std::string::npos, style != TPageStyle::Classic);
    }
}

TEST_F(SlicingPipeline, CellRefusalsNameTheCellAndWriteNothing)
{
    TBitmap picture = MakePicture(40, 30, FlatCornerColor);
    struct Case {
        TCellPropertyMap cells;
        int scale;
        std::vector<std::string> rows;
        std::string message;
    };
    const std::vector<Case> cases = {
        { CellsOf({ { 2, 2, "Fill", "auto" } }), 1, Captions({ 10, 20 }),
            "Cell R2C2 is not one flat colour, so Fill=auto cannot paint it" },
        { CellsOf({ { 1, 1, "Format", "bmp" } }), 1, Captions({ 10, 20 }), "Cell R1C1: Format expects" },
        { CellsOf({ { 1, 2, "Span", "3x1" } }), 1, Captions({ 10, 20 }), "R1C2" },
        { CellsOf({ { 1, 1, "Name", "R1_C2" } }), 1, Captions({ 10, 20 }), "Cells R1C1 and R1C2" },
        { {}, 2, Captions({ 10, 21 }), "The row line at 21 is odd" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        TempFolder folder;
        try {
            Generate({ &picture, Captions({ 10, 25 }), c.rows, kMagenta },
                { .OutputFolder = folder.Path().string(),
                    .WriteHTML = true,
                    .PageFileName = folder / "index.html",
                    .Scale = c.scale,
                    .Cells = c.cells });
            ADD_FAILURE() << "not refused";
        } catch (const Exception& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_TRUE(FolderEntries(folder.Path()).empty());
    }
}

// Without column lines a cell keeps the strip's name unless it has its own;
// the half-size image of a design at scale 2 is the mean of each 2 x 2 block.
TEST_F(SlicingPipeline, HalfSizeImagesAverageAndStripNamesStay)
{
    const RecordingSink sink = Generate({ &m_picture, {}, Captions({ 10 }), kMagenta },
        { .WriteHTML = true,
            .PageFileName = m_folder / "index.html",
            .CellFormat = { .Type = TImageType::Png },
            .PageStyle = TPageStyle::Html5,
            .Scale = 2,
            .AlsoHalfSize = true,
            .Cells = CellsOf({ { 2, 1, "Name", "footer" } }) });
    EXPECT_EQ(FolderEntries(m_folder.Path()),
        (std::set<std::string> { "index.html", "r1.png", "r1@1x.png", "footer.png", "footer@1x.png" }));
    TBitmap half = LoadBitmap(m_folder / "footer@1x.png");
    ASSERT_EQ(half.Width(), 20);
    ASSERT_EQ(half.Height(), 10);
    for (const auto& [x, y] : { std::pair(0, 0), std::pair(7, 3), std::pair(19, 9) }) {
        int sum[3] = {};
        for (int k = 0; k < 4; ++k) {
            const TColor c = SourceColor(2 * x + k % 2, 10 + 2 * y + k / 2);
            sum[0] += GetRValue(c);
            sum[1] += GetGValue(c);
            sum[2] += GetBValue(c);
        }
        EXPECT_EQ(half.Canvas().Pixel(x, y), RGB((sum[0] + 2) / 4, (sum[1] + 2) / 4, (sum[2] + 2) / 4));
    }
    EXPECT_NE(ReadFileBytes(m_folder / "index.html").find("width=\"20\" height=\"5\""), std::string::npos);
}

// Each image cell gets one more file per source beside its own and its @1x
// one, and the page offers them; the e-mail page has no use for them, so
// they are not written for it.
TEST_F(SlicingPipeline, SourcesBesideEachImage)
{
    for (const TPageStyle style : { TPageStyle::Html5, TPageStyle::Grid, TPageStyle::Email }) {
        SCOPED_TRACE(PageStyleName(style));
        TempFolder folder;
        Generate({ &m_picture, {}, Captions({ 10 }), kMagenta },
            { .OutputFolder = folder.Path().string(),
                .WriteHTML = true,
                .PageFileName = folder / "index.html",
                .CellFormat = { .Type = TImageType::Png },
                .PageStyle = style,
                .Scale = 2,
                .AlsoHalfSize = true,
                .Cells = CellsOf({ { 2, 1, "Skip", "1" }, { 2, kRowColumn, "Stack", "1" } }),
                .Sources = { TImageType::Webp } });
        std::set<std::string> files { "index.html", "r1.png", "r1@1x.png" };
        if (style != TPageStyle::Email)
            files.insert({ "r1.webp", "r1@1x.webp" });
        EXPECT_EQ(FolderEntries(folder.Path()), files);
        const std::string page = ReadFileBytes(folder / "index.html");
        EXPECT_EQ(
            page.find("<source type=\"image/webp\" srcset=\"r1@1x.webp 1x, r1.webp 2x\"><img src=\"r1.png\" "
                      "srcset=\"r1@1x.png 1x, r1.png 2x\"")
                != std::string::npos,
            style != TPageStyle::Email)
            << page;
        EXPECT_EQ(page.find(" stack\"") != std::string::npos, style != TPageStyle::Email);
    }
}

// Under sources an auto cell's own image is one every browser shows, and a
// source no smaller than it or than the next source is left out.
TEST_F(SlicingPipeline, AutoCellsUnderSourcesFallBackOnEveryBrowsersFormats)
{
    TBitmap picture = MakePicture(40, 30, FlatCornerColor);
    Generate({ &picture, Captions({ 10 }), Captions({ 10 }), clNone },
        { .WriteHTML = true,
            .PageFileName = m_folder / "index.html",
            .CellFormat = { .Type = TImageType::Auto },
            .PageStyle = TPageStyle::Html5,
            .Sources = { TImageType::Avif, TImageType::Webp } });
    const std::string page = ReadFileBytes(m_folder / "index.html");
    int sources = 0;
    for (const std::string& name : FolderEntries(m_folder.Path())) {
        const std::string extension = ExtractFileExt(name);
        if (extension == ".webp" || extension == ".avif") {
            ++sources;
            EXPECT_NE(page.find("srcset=\"" + name + "\""), std::string::npos) << name;
            const std::string stem = ChangeFileExt(name, "");
            uint64_t fallback = 0;
            for (const char* own : { ".png", ".gif", ".jpg" })
                if (fs::exists(m_folder / (stem + own)))
                    fallback = fs::file_size(m_folder / (stem + own));
            EXPECT_LT(fs::file_size(m_folder / name), fallback) << name;
            if (extension == ".avif" && fs::exists(m_folder / (stem + ".webp"))) {
                EXPECT_LT(fs::file_size(m_folder / name), fs::file_size(m_folder / (stem + ".webp"))) << name;
            }
        } else {
            EXPECT_TRUE(
                extension == ".png" || extension == ".gif" || extension == ".jpg" || name == "index.html")
                << name;
        }
    }
    // The noisy cells gain from a lossy source, the flat corner does not.
    EXPECT_GT(sources, 0);
    EXPECT_EQ(page.find("<source type=\"image/avif\" srcset=\"r1_c1.avif\">"), std::string::npos);
}

TEST(SlicingNames, PageKeysAreCheckedAsTheyAreRead)
{
    const struct {
        const char* key;
        const char* text;
        bool good;
    } cases[] = {
        { "Sources", "avif, webp", true },
        { "Sources", "", true },
        { "Sources", "webp-lossless,avif", true },
        { "Sources", "webp,webp-lossless", false },
        { "Sources", "png", false },
        { "Sources", "avif,", false },
        { "Lang", "pt-BR", true },
        { "Lang", "zh-Hant-TW", true },
        { "Lang", "", false },
        { "Lang", "1en", false },
        { "Lang", "en-", false },
        { "Lang", "en\"x", false },
        { "Fold", "0", true },
        { "Fold", "-1", false },
        { "Breakpoint", "100001", false },
    };
    for (const auto& c : cases) {
        TGenerationSettings settings;
        const auto apply = [&] { ApplyRunValues(settings, { { c.key, c.text } }, "P"); };
        if (c.good)
            EXPECT_NO_THROW(apply()) << c.key << "=" << c.text;
        else
            EXPECT_THROW(apply(), Exception) << c.key << "=" << c.text;
    }
    TGenerationSettings settings;
    ApplyRunValues(settings, { { "Sources", "AVIF , webp" } }, "P");
    EXPECT_EQ(settings.Sources, (std::vector<TImageType> { TImageType::Avif, TImageType::Webp }));
    EXPECT_EQ(SourceListText(settings.Sources), "avif,webp");
}

// Cells are encoded on several threads but written, logged and counted in
// cell order: the run's every trace is the one thread's, failures included.
TEST_F(SlicingPipeline, ThreadCountChangesNothingOutside)
{
    struct ProgressSink : RecordingSink {
        void Progress(const TGenerationCounts& counts) override
        {
            Events.push_back(
                Format("progress %d %d %d", counts.Written, counts.Skipped, counts.WithoutImage));
        }
    };
    struct Outcome {
        std::vector<std::string> Events;
        std::map<std::string, std::string> Files;
        std::string Error;
        bool operator==(const Outcome&) const = default;
    };
    TBitmap flatCorner = MakePicture(40, 30, FlatCornerColor);
    TBitmap tooWide; // as wide as a GIF may be, wider than a JPEG can be
    tooWide.SetSize(65501, 6);
    struct Case {
        const char* name;
        const TBitmap* picture;
        TGenerationInput input;
        TGenerationSettings settings;
        std::string lastEvent;
        const char* blocked = nullptr; // a folder of this name is in the way
    };
    const std::vector<Case> cases = {
        { "mixed formats, a span, fills, a skipped column", &flatCorner,
            { nullptr, Captions({ 10, 16, 16, 25, 33 }), Captions({ 10, 18, 24 }), kMagenta },
            { .WriteHTML = true,
                .PageFileName = "index.html",
                .CellFormat = { .Type = TImageType::Auto },
                .PageStyle = TPageStyle::Html5,
                .AutoFill = true,
                .Cells
                = CellsOf({ { 1, 2, "Format", "jpg" }, { 2, 1, "Format", "png8" }, { 2, 2, "Span", "2x2" },
                    { 2, 5, "Format", "gif" }, { 4, 6, "Fill", "336699" }, { 4, 1, "Format", "jpg" } }) },
            "log Done." },
        { "a middle strip and a later one fail", &tooWide, { nullptr, {}, Captions({ 2, 4 }), kMagenta },
            { .Cells = CellsOf({ { 2, 1, "Format", "jpg" }, { 3, 1, "Format", "jpg" } }) },
            "log Stopped at r2.jpg; the files of this run were removed." },
        { "a middle strip cannot be written", &m_picture, { nullptr, {}, Captions({ 10, 20 }), kMagenta },
            { .DeleteTemp = false }, "log Stopped at r2.bmp; the files of this run were removed.", "r2.bmp" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Outcome> outcomes;
        for (const int threads : { 1, 3 }) {
            TempFolder folder;
            if (c.blocked)
                fs::create_directory(folder / c.blocked);
            TGenerationInput input = c.input;
            input.Picture = c.picture;
            TGenerationSettings settings = c.settings;
            settings.OutputFolder = folder.Path().string();
            if (settings.WriteHTML)
                settings.PageFileName = folder / settings.PageFileName;
            settings.Threads = threads;
            ProgressSink sink;
            Outcome outcome;
            try {
                RunGeneration(input, settings, sink);
            } catch (const Exception& e) {
                outcome.Error = e.what();
            }
            outcome.Events = sink.Events;
            std::vector<std::string*> texts { &outcome.Error }; // a message may name the folder too
            for (std::string& event : outcome.Events)
                texts.push_back(&event);
            for (std::string* text : texts)
                if (const size_t at = text->find(folder.Path().string()); at != std::string::npos)
                    text->erase(at, folder.Path().string().size());
            for (const std::string& name : FolderEntries(folder.Path()))
                outcome.Files[name]
                    = fs::is_directory(folder / name) ? "(folder)" : ReadFileBytes(folder / name);
            outcomes.push_back(outcome);
        }
        EXPECT_EQ(outcomes[0], outcomes[1]);
        EXPECT_EQ(outcomes[0].Events.back(), c.lastEvent);
    }
}

// Two files of one run under one name, or a file of the run over the
// project or the picture, are refused before anything is written.
TEST_F(SlicingPipeline, RefusesEveryNameCollision)
{
    struct Case {
        const char* name;
        TGenerationSettings settings;
        std::string page; // in the folder
        std::string message; // after the file's name
    };
    const std::vector<Case> cases = {
        { "page over the project", {}, "design.swr", " (it is the project file" },
        { "page over a cell", {}, "r1_c2.gif",
            " (the run would write it as the page and as cell R1C2's image)" },
        { "page over an auto cell", { .CellFormat = { .Type = TImageType::Auto } }, "r2_c1.webp",
            " (the run would write it as the page and as cell R2C1's image)" },
        { "page over a source", { .PageStyle = TPageStyle::Grid, .Sources = { TImageType::Avif } },
            "r2_c1.avif", " (the run would write it as the page and as cell R2C1's image)" },
        { "page over a kept strip", { .DeleteTemp = false }, "r2.bmp",
            " (the run would write it as the page and as row 2's strip)" },
        { "page over the picture", {}, "design.bmp", " (it is the picture being cut" },
        { "a name and another's @1x",
            { .Scale = 2,
                .AlsoHalfSize = true,
                .Cells = CellsOf({ { 1, 1, "Name", "logo@1x" }, { 1, 2, "Name", "logo" } }) },
            "", " (the run would write it as cell R1C1's image and as cell R1C2's @1x image)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        WriteFileBytes(folder / "design.swr", "the project");
        WriteFileBytes(folder / "design.bmp", "the picture");
        WriteFileBytes(folder / "r1.bmp", "the user's");
        TGenerationInput input { &m_picture, Captions({ 20 }), Captions({ 10 }), kMagenta };
        input.PictureFileName = folder / "design.bmp";
        input.ProjectFileName = folder / "design.swr";
        TGenerationSettings settings = c.settings;
        settings.OutputFolder = folder.Path().string();
        settings.WriteHTML = !c.page.empty();
        settings.PageFileName = c.page.empty() ? "" : folder / c.page;
        try {
            Generate(input, settings);
            ADD_FAILURE() << "no exception";
        } catch (const EFCreateError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_EQ(
            FolderEntries(folder.Path()), (std::set<std::string> { "design.bmp", "design.swr", "r1.bmp" }));
        EXPECT_EQ(ReadFileBytes(folder / "design.swr"), "the project");
        EXPECT_EQ(ReadFileBytes(folder / "r1.bmp"), "the user's");
    }
}

// Two runs that keep their strips never write into one folder at once: the
// second waits for the first and then cuts its own picture.
TEST_F(SlicingPipeline, RunsKeepingStripsTakeTurnsInAFolder)
{
    const TBitmap other = MakePicture(40, 30, NoisyColor);
    const TGenerationInput first { &m_picture, Captions({ 15 }), Captions({ 10 }), kMagenta };
    const TGenerationInput second { &other, Captions({ 15 }), Captions({ 10 }), kMagenta };
    TempFolder alone;
    Generate(second, { .OutputFolder = alone.Path().string(), .DeleteTemp = false });

    std::mutex mutex;
    std::condition_variable changed;
    bool secondWaits = false;
    std::thread secondRun;
    RecordingSink secondSink;
    secondSink.OnLogLine = [&](const std::string& line) {
        if (line.rfind("Another run is writing into ", 0) == 0) {
            std::lock_guard lock(mutex);
            secondWaits = true;
            changed.notify_all();
        }
    };
    RecordingSink firstSink;
    firstSink.OnLogLine = [&](const std::string& line) {
        if (!line.empty() || secondRun.joinable())
            return;
        // The first run's strips are written; the second starts now.
        secondRun = std::thread([&] { Generate(second, { .DeleteTemp = false }, secondSink); });
        // Bounded only so that a run that does not wait fails instead of hanging.
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::minutes(1), [&] { return secondWaits; }));
    };
    Generate(first, { .DeleteTemp = false }, firstSink);
    secondRun.join();
    EXPECT_EQ(secondSink.Log.back(), "Done.");
    for (const std::string& name : FolderEntries(alone.Path()))
        EXPECT_EQ(ReadFileBytes(m_folder / name), ReadFileBytes(alone / name)) << name;
}

} // namespace
} // namespace sw
