// Opening design files in the window: a PSD's guides and slices become cut
// lines only when the user agrees, and a PDF of several pages asks which.

#include "core/project/project_file.h"
#include "desktop/editor/cut_line_list.h"
#include "desktop/editor/design_import.h"
#include "desktop/editor/main_form.h"
#include "desktop/editor/picture_view.h"
#include "desktop/generate/generate_dialog.h"
#include "desktop/generate/generate_settings_form.h"
#include "desktop/shell/fake_services.h"
#include "support/temp_folder.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QTimer>
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

TEST(ScaleCutLines, LinesMoveWithTheScale)
{
    const struct {
        TEditorLines Lines;
        int From, To;
        TEditorLines Expected;
    } cases[] = {
        { { { 100, true }, { 37, false } }, 1, 2, { { 200, true }, { 74, false } } },
        // Halving drops the fraction; a line that lands on another or on the edge goes.
        { { { 1, true }, { 6, true }, { 7, false }, { 9, true } }, 2, 1, { { 3, true }, { 4, true } } },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaleCutLines(c.Lines, c.From, c.To), c.Expected) << c.From << " to " << c.To;
}

// Ticking the Generate dialog's 2x design draws an SVG again at twice its
// size, and the designer's lines stay on the same parts of the drawing.
TEST_F(DesignImportTest, ANewScaleDrawsTheDesignAgainWithItsLines)
{
    const test::TempFolder folder;
    fs::copy_file(kSeeds / "svg/design.svg", folder / "design.svg");
    test::WriteFileBytes(folder / "design.swr",
        "[Settings]\r\nGraphicImage=design.svg\r\n[Columns]\r\nPosition1=100\r\nChecked1=1\r\n"
        "[Rows]\r\nPosition1=30\r\nChecked1=1\r\n");
    form.LoadProject(folder / "design.swr");
    ASSERT_EQ(form.PictureView()->Image().Width(), 200);

    const auto choose = [&](bool retina) {
        QTimer::singleShot(0, &form, [retina] {
            GenerateDlg->Form->cbxRetina->setChecked(retina);
            GenerateDlg->close();
        });
        form.Generate1Click();
    };
    choose(true);
    EXPECT_EQ(form.PictureView()->Image().Width(), 400);
    EXPECT_EQ(form.PictureView()->Image().Height(), 200);
    EXPECT_EQ(Captions(form.ColumnList()), (std::vector<std::string> { "200" }));
    EXPECT_EQ(Captions(form.RowList()), (std::vector<std::string> { "60" }));
    // Drawn, not enlarged: the green square's edge is sharp at 20 and 60.
    EXPECT_EQ(form.PictureView()->PictureBitmap().Canvas().Pixel(19, 40),
        form.PictureView()->PictureBitmap().Canvas().Pixel(0, 0));
    EXPECT_NE(form.PictureView()->PictureBitmap().Canvas().Pixel(20, 40),
        form.PictureView()->PictureBitmap().Canvas().Pixel(0, 0));

    // One step back: the first render, its lines and its scale.
    form.UndoStack()->undo();
    EXPECT_EQ(form.PictureView()->Image().Width(), 200);
    EXPECT_EQ(Captions(form.ColumnList()), (std::vector<std::string> { "100" }));
    form.SaveProject(folder / "design.swr");
    const TLoadedProject saved = ReadProjectFile(folder / "design.swr", "");
    EXPECT_FALSE(saved.Output && saved.Output->contains("Scale"));

    form.UndoStack()->redo();
    choose(false);
    EXPECT_EQ(form.PictureView()->Image().Width(), 200);
    EXPECT_EQ(Captions(form.RowList()), (std::vector<std::string> { "30" }));
}

} // namespace
} // namespace sw
