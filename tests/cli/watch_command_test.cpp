#include "cli/watch_command.h"

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/picture_formats.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

namespace sw::cli {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempFolder;
using test::WriteFileBytes;

const std::string kSampleFolder = std::string(SLICEWRIGHT_SOURCE_DIR) + "/data/sample/";

// The sample design in a folder of its own, its cells and page in out/,
// and the run's output thrown away.
class WatchRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterPictureFormats();
        fs::copy_file(kSampleFolder + "design.swr", m_folder / "design.swr");
        fs::copy_file(kSampleFolder + "design.bmp", m_folder / "design.bmp");
        CliArguments arguments;
        arguments.Command = CliCommand::Generate;
        arguments.Positionals = { m_folder / "design.swr" };
        arguments.Options = { { "--out", m_folder / "out" }, { "--page", "index.html" }, { "--watch", "" } };
        m_runs = GenerateRunsFrom(arguments);
        m_sink = std::tmpfile();
        ASSERT_NE(m_sink, nullptr);
    }
    void TearDown() override
    {
        if (m_sink)
            std::fclose(m_sink);
    }

    // Every output file dated back a day, so a rewrite shows in its time.
    std::map<std::string, std::string> AgeOutput()
    {
        std::map<std::string, std::string> files;
        const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24);
        for (const fs::directory_entry& entry : fs::directory_iterator(m_folder / "out")) {
            fs::last_write_time(entry.path(), old);
            files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
        }
        return files;
    }
    // Files written in the last hour; the run may be removing files
    // while this looks.
    std::set<std::string> Rewritten()
    {
        std::set<std::string> names;
        const auto recent = fs::file_time_type::clock::now() - std::chrono::hours(1);
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_folder / "out", error)) {
            const auto time = fs::last_write_time(entry.path(), error);
            if (!error && time > recent)
                names.insert(entry.path().filename().string());
        }
        return names;
    }
    size_t OutputFileCount()
    {
        std::error_code error;
        return static_cast<size_t>(
            std::distance(fs::directory_iterator(m_folder / "out", error), fs::directory_iterator()));
    }
    // One pixel inside cell r3_c2 turned red, saved as an editor does: a
    // new file renamed over the old.
    void EditOnePixel()
    {
        std::string bmp = ReadFileBytes(m_folder / "design.bmp");
        constexpr size_t kWidth = 600;
        constexpr size_t kHeight = 400;
        constexpr size_t kX = 150;
        constexpr size_t kY = 200;
        const size_t stride = (kWidth * 3 + 3) / 4 * 4;
        ASSERT_EQ(bmp.size(), 54 + stride * kHeight);
        const size_t at = 54 + (kHeight - 1 - kY) * stride + kX * 3;
        bmp.replace(at, 3, std::string("\x00\x00\xFF", 3));
        WriteFileBytes(m_folder / "design.bmp.new", bmp);
        fs::rename(m_folder / "design.bmp.new", m_folder / "design.bmp");
    }

    TempFolder m_folder;
    std::vector<GenerateOptions> m_runs;
    std::FILE* m_sink = nullptr;
};

// Only the cell whose pixels changed gets a new file; the other cells and
// the page, whose markup is the same, keep theirs, time and all.
TEST_F(WatchRun, OnePixelRewritesOnlyItsCell)
{
    TProjectWatch watch(m_runs, m_sink, m_sink, nullptr);
    ASSERT_EQ(watch.RunAll(), 0);
    const std::map<std::string, std::string> before = AgeOutput();
    ASSERT_EQ(before.size(), 26u);

    EditOnePixel();
    ASSERT_EQ(watch.Regenerate({ fs::absolute(m_folder / "design.bmp").lexically_normal().string() }), 0);
    EXPECT_EQ(Rewritten(), std::set<std::string> { "r3_c2.gif" });
    EXPECT_NE(ReadFileBytes(m_folder / "out/r3_c2.gif"), before.at("r3_c2.gif"));
    EXPECT_EQ(AgeOutput().size(), 26u); // no temporary file left behind

    // A change to a file the project does not read regenerates nothing.
    ASSERT_EQ(watch.Regenerate({ m_folder / "other.bmp" }), 0);
    EXPECT_EQ(Rewritten(), std::set<std::string> {});
}

// A picture closed half-written (a slow copy, a writer in two steps) is
// waited for: the cells come from the whole picture, as a run of it gives.
TEST_F(WatchRun, APictureClosedHalfWrittenIsReadOnceWhole)
{
    TBitmap design;
    design.LoadFromFile(m_folder / "design.bmp");
    const auto gifOf = [](const TBitmap& bitmap) {
        TGIFImage gif;
        gif.Assign(bitmap);
        TMemoryStream stream;
        gif.SaveToStream(stream);
        return std::string(stream.Bytes().begin(), stream.Bytes().end());
    };
    WriteFileBytes(m_folder / "design.gif", gifOf(design));
    const auto runsOf = [&](const std::string& out) {
        CliArguments arguments;
        arguments.Command = CliCommand::Generate;
        arguments.Positionals = { m_folder / "design.swr" };
        arguments.Options = { { "--out", m_folder / out }, { "--picture", m_folder / "design.gif" } };
        return GenerateRunsFrom(arguments);
    };
    TProjectWatch watch(runsOf("out"), m_sink, m_sink, nullptr);
    watch.SetSettleTime(std::chrono::milliseconds(100));
    ASSERT_EQ(watch.RunAll(), 0);

    design.Canvas().SetBrushColor(RGB(200, 30, 30));
    design.Canvas().FillRect(TRect { 0, 150, 600, 400 });
    const std::string edited = gifOf(design);
    WriteFileBytes(m_folder / "design.gif", edited.substr(0, edited.size() / 2));
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        WriteFileBytes(m_folder / "design.gif", edited);
    });
    const int status
        = watch.Regenerate({ fs::absolute(m_folder / "design.gif").lexically_normal().string() });
    writer.join();
    ASSERT_EQ(status, 0);

    TProjectWatch reference(runsOf("reference"), m_sink, m_sink, nullptr);
    ASSERT_EQ(reference.RunAll(), 0);
    for (const fs::directory_entry& entry : fs::directory_iterator(m_folder / "reference"))
        EXPECT_EQ(ReadFileBytes(entry.path().string()),
            ReadFileBytes(m_folder / ("out/" + entry.path().filename().string())))
            << entry.path().filename();
}

// The real thing: the watcher on its own thread sees the picture replaced
// and regenerates after the quiet time.
TEST_F(WatchRun, InotifyNoticesAnEditorsSave)
{
    TProjectWatch watch(m_runs, m_sink, m_sink, nullptr);
    std::atomic<bool> stop { false };
    int status = -1;
    std::thread watcher([&] { status = WatchProjects(watch, std::chrono::milliseconds(50), stop); });
    const auto waitFor = [](const auto& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return done();
    };
    // The page takes its name last.
    const bool firstRun = waitFor([this] { return fs::exists(m_folder / "out/index.html"); });
    if (firstRun) {
        AgeOutput();
        EditOnePixel();
        // Done when the cell is new and the strips and the page's temporary
        // file are gone again.
        EXPECT_TRUE(
            waitFor([this] { return Rewritten().count("r3_c2.gif") != 0 && OutputFileCount() == 26; }));
        EXPECT_EQ(Rewritten(), std::set<std::string> { "r3_c2.gif" });
    }
    stop = true;
    watcher.join();
    ASSERT_TRUE(firstRun);
    EXPECT_EQ(status, 0);
}

} // namespace
} // namespace sw::cli
