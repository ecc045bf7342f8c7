#include "core/generate/size_estimate.h"

#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/picture.h"
#include "core/picture_formats.h"

#include "support/folder_entries.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace sw {
namespace {

namespace fs = std::filesystem;

class QuietSink : public IGenerationSink {
public:
    void LogLine(const std::string&) override { }
    void RowFileAdded(const std::string&) override { }
    void FileFinished(const std::string&) override { }
    void ProcessMessages() override { }
    void Beep() override { }
};

// The estimate weighs exactly the files a run writes: spans, a flat cell
// filled by its colour, a skipped and a painted cell, cells of their own
// format, and @1x copies of a design at scale 2.
TEST(SizeEstimate, WeighsTheFilesTheRunWrites)
{
    RegisterPictureFormats();
    TPicture loaded;
    loaded.LoadFromFile(SLICEWRIGHT_SOURCE_DIR "/data/sample/design.bmp");
    TBitmap picture;
    picture.Assign(*loaded.Graphic());
    TSizeEstimateInput input { &picture, std::nullopt, { "24", "376", "400", "576" },
        { "78", "100", "300", "330" }, RGB(0xF4, 0xF1, 0xEA) };
    TGenerationSettings settings;
    settings.Scale = 2;
    settings.AlsoHalfSize = true;
    const auto set = [&settings](TCellRef cell, const char* property, const char* value) {
        SetCellProperty(settings.Cells[cell], cell, property, value);
    };
    set({ 1, 1 }, "Span", "5x1");
    set({ 2, 2 }, "Format", "png8");
    set({ 3, 1 }, "Fill", "auto");
    set({ 3, 3 }, "Skip", "1");
    set({ 4, 2 }, "Span", "2x2");
    set({ 4, 2 }, "Format", "jpg");
    set({ 5, 5 }, "Fill", "336699");
    const std::vector<TImageType> types
        = { TImageType::Gif, TImageType::Png, TImageType::Webp, TImageType::Auto };
    const auto sizes = EstimateSizes(input, settings, types, [](int64_t, int64_t) { return true; });
    ASSERT_TRUE(sizes);
    ASSERT_EQ(sizes->size(), types.size());
    for (size_t k = 0; k < types.size(); ++k) {
        SCOPED_TRACE(ImageTypeName(types[k]));
        test::TempFolder folder;
        TGenerationSettings run = settings;
        run.OutputFolder = folder.Path().string();
        run.CellFormat.Type = types[k];
        QuietSink sink;
        RunGeneration(
            { &picture, input.ColumnCaptions, input.RowCaptions, input.TransparentColor }, run, sink);
        EXPECT_EQ((*sizes)[k].Bytes, test::FolderBytes(folder.Path()));
    }
    int autoFiles = 0;
    for (const auto& [type, count] : sizes->back().Chosen)
        autoFiles += count;
    // 25 cells less 7 under spans, 2 fills and a skip, each with its @1x copy.
    EXPECT_EQ(autoFiles, 2 * 15);
}

} // namespace
} // namespace sw
