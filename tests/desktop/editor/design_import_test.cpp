// Opening design files in the window: a PSD's guides and slices become cut
// lines only when the user agrees, and a PDF of several pages asks which.

#include "core/project/project_file.h"
#include "desktop/editor/cut_line_list.h"
#include "desktop/editor/design_import.h"
#include "desktop/editor/main_form.h"
#include "desktop/editor/picture_view.h"
#include "desktop/shell/fake_services.h"
#include "support/temp_folder.h"

#include <QFileDialog>
#include <QUndoStack>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace sw {
namespace {

namespace fs = std::filesystem;

const fs::path kSeeds = fs::path(SLICEWRIGHT_SOURCE_DIR) / "fuzz/seeds";

std::vector<std::string> Captions(const TCutLineList* list)
{
    std::vector<std::string> captions;
    for (const TCutLineEntry& line : list->Lines())
        captions.push_back(line.Caption);
    return captions;
}

class DesignImportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.RunFileDialog = [this](QFileDialog& dialog) {
            dialog.selectFile(QString::fromStdString(answer));
            return true;
        };
    }
    void TearDown() override { AskDesignPage = nullptr; }

    void Open(const fs::path& fileName)
    {
        answer = fileName.string();
        form.mnuOpenImageClick();
    }

    FakeServices services;
    TMainForm form;
    std::string answer;
};

// rgb8_rle.psd is 6 x 4 with a guide at x 3 (another above the canvas) and a
// slice drawn from (1, 0) to (4, 2).
TEST_F(DesignImportTest, GuidesAndSlicesBecomeLinesOnlyWhenAsked)
{
    services.answer = false;
    Open(kSeeds / "psd/rgb8_rle.psd");
    ASSERT_TRUE(form.HasPicture());
    ASSERT_EQ(services.confirmations.size(), 1);
    EXPECT_TRUE(services.confirmations[0].contains(QStringLiteral("guides and slices")))
        << services.confirmations[0].toStdString();
    EXPECT_TRUE(Captions(form.ColumnList()).empty());

    services.answer = true;
    Open(kSeeds / "psd/rgb8_rle.psd");
    EXPECT_EQ(Captions(form.ColumnList()), (std::vector<std::string> { "1", "3", "4" }));
    EXPECT_EQ(Captions(form.RowList()), (std::vector<std::string> { "2" }));
    // The picture and its lines are one step.
    form.UndoStack()->undo();
    EXPECT_TRUE(Captions(form.ColumnList()).empty());

    // A picture without a design asks nothing.
    Open(kSeeds / "svg/design.svg");
    EXPECT_EQ(services.confirmations.size(), 2);
}

TEST_F(DesignImportTest, APdfOfSeveralPagesAsksWhichToOpen)
{
    std::vector<int> asked;
    std::optional<int> reply = 2;
    AskDesignPage = [&](int pages, int current) {
        asked.push_back(pages);
        asked.push_back(current);
        return reply;
    };
    Open(kSeeds / "pdf/design.pdf");
    EXPECT_EQ(asked, (std::vector<int> { 2, 1 }));
    ASSERT_TRUE(form.HasPicture());
    EXPECT_EQ(form.PictureView()->Image().Width(), 100);

    // The page is the project's, so the run cuts the same one.
    const test::TempFolder folder;
    form.SaveProject(folder / "design.swr");
    const TLoadedProject saved = ReadProjectFile(folder / "design.swr", "");
    ASSERT_TRUE(saved.Output.has_value());
    EXPECT_EQ(saved.Output->at("PicturePage"), "2");

    // Cancelled: the picture shown stays.
    reply = std::nullopt;
    Open(kSeeds / "svg/design.svg");
    Open(kSeeds / "pdf/design.pdf");
    EXPECT_EQ(form.PictureView()->Image().Width(), 200);
    EXPECT_EQ(form.PictureFileName, (kSeeds / "svg/design.svg").string());
}

} // namespace
} // namespace sw
