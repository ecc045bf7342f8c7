#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/project/cut_lines.h"
#include "core/project/ini_file.h"
#include "desktop/editor/main_form.h"
#include "desktop/generate/generate_dialog.h"
#include "desktop/shell/fake_services.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QFileDialog>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <filesystem>

namespace sw {

void PrintTo(const TCutLineEntry& line, std::ostream* out);

namespace {

using test::TempFolder;

constexpr TColor kPaper = RGB(200, 100, 40);
// kPaper with the top bit of every channel flipped.
constexpr QRgb kPaperXor = 0xFF000000u | (72u << 16) | (228u << 8) | 168u;
constexpr QRgb kPaperShown = 0xFF000000u | (200u << 16) | (100u << 8) | 40u;

// A picture of one colour with one odd pixel at (3, 2), written as a BMP.
std::string WritePicture(const TempFolder& folder, const std::string& name, int width, int height)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    bitmap.Canvas().SetBrushColor(kPaper);
    bitmap.Canvas().FillRect(TRect { 0, 0, width, height });
    bitmap.Canvas().SetPixel(3, 2, RGB(1, 2, 3));
    const std::string fileName = folder / name;
    bitmap.SaveToFile(fileName);
    return fileName;
}

std::vector<int32_t> Positions(const TCutLineList* list)
{
    std::vector<int32_t> positions;
    for (const TCutLineEntry& line : list->Lines())
        positions.push_back(StrToInt(line.Caption));
    return positions;
}

class PictureViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.RunFileDialog = [this](QFileDialog& dialog) {
            shownDialogs << dialog.objectName();
            directories << dialog.directory().absolutePath();
            if (answers.empty())
                return false;
            const std::string answer = answers.front();
            answers.erase(answers.begin());
            if (answer.empty())
                return false;
            dialog.selectFile(QString::fromStdString(answer));
            return true;
        };
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        form.New1Click();
    }

    void OpenPicture(const std::string& fileName)
    {
        answers = { fileName };
        form.mnuOpenImageClick();
    }

    // The picture with the grid over it, as the screen shows them.
    QImage Screen(const QRect& area = QRect())
    {
        QWidget* content = form.ScrollBox1->widget();
        return content->grab(area.isNull() ? QRect(QPoint(0, 0), content->size()) : area).toImage();
    }

    FakeServices services;
    TMainForm form;
    TempFolder folder;
    std::vector<std::string> answers; // one per dialog shown; empty text cancels
    QStringList shownDialogs;
    QStringList directories;
};

TEST_F(PictureViewTest, OpeningAPictureSizesViewAndGridAndKeepsEverythingElse)
{
    form.DrawColumn(true, true, 100, 0);
    form.DrawRow(true, false, 0, 90);
    form.tbtnRow->click();
    form.ProjectFileName = "/projects/page.swr";
    form.ShowProjectCaption();

    const std::string fileName = WritePicture(folder, "page.bmp", 64, 48);
    OpenPicture(fileName);
    EXPECT_EQ(shownDialogs, QStringList { "OpenImageDlg" });
    EXPECT_EQ(form.PictureFileName, fileName);
    EXPECT_EQ(form.imgInterface->size(), QSize(64, 48));
    EXPECT_EQ(form.pbGrid->size(), QSize(64, 48));
    EXPECT_EQ(form.imgInterface->Shown().pixel(0, 0), kPaperShown);
    EXPECT_EQ(form.imgInterface->Shown().pixel(3, 2), qRgb(1, 2, 3));
    // Lines beyond the new picture stay; caption, project and mode are untouched.
    EXPECT_EQ(Positions(form.lvColumns), std::vector<int32_t> { 100 });
    EXPECT_EQ(Positions(form.lvRows), std::vector<int32_t> { 90 });
    EXPECT_EQ(form.windowTitle(), "Slicewright - [page.swr]");
    EXPECT_EQ(form.ProjectFileName, "/projects/page.swr");
    EXPECT_EQ(form.DrawMode, TDrawMode::dmRow);

    // Cancelling changes nothing.
    OpenPicture("");
    EXPECT_EQ(form.PictureFileName, fileName);
    EXPECT_EQ(form.pbGrid->size(), QSize(64, 48));
}

TEST_F(PictureViewTest, JpegPicturesBecomeBitmaps)
{
    OpenPicture(SLICEWRIGHT_SOURCE_DIR "/data/sample/design.jpg");
    const TGraphic* graphic = form.imgInterface->Image().Picture().Graphic();
    ASSERT_NE(dynamic_cast<const TBitmap*>(graphic), nullptr);
    EXPECT_EQ(form.pbGrid->size(), QSize(600, 400));
    EXPECT_EQ(form.ScrollBox1->widget()->size(), QSize(600, 400));
}

TEST_F(PictureViewTest, APictureThatCannotBeReadKeepsTheOldPictureAndGrid)
{
    const std::string good = WritePicture(folder, "good.bmp", 64, 48);
    OpenPicture(good);
    const QImage before = form.imgInterface->Shown();

    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        { "damaged.bmp", "BM not really a bitmap", "Bitmap image is not valid" },
        { "page.png", "\x89PNG", "Unknown picture file extension (.png)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string fileName = folder / c.name;
        test::WriteFileBytes(fileName, c.bytes);
        answers = { fileName };
        try {
            form.mnuOpenImageClick();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& error) {
            EXPECT_STREQ(error.what(), c.message);
        }
        EXPECT_EQ(form.PictureFileName, fileName);
        EXPECT_EQ(form.imgInterface->Shown(), before);
        EXPECT_EQ(form.pbGrid->size(), QSize(64, 48));
    }
    // Chosen from the menu, the failure reaches the user as the error box.
    answers = { folder / "damaged.bmp" };
    form.mnuOpenImage->trigger();
    EXPECT_EQ(services.errors, QStringList { "Bitmap image is not valid." });
    EXPECT_EQ(form.imgInterface->Shown(), before);
}

TEST_F(PictureViewTest, ReleasesAddLinesInTheCurrentModeWithTheBoundsTest)
{
    OpenPicture(WritePicture(folder, "page.bmp", 640, 480));
    // Any button adds; the release point is in grid pixels.
    QTest::mouseRelease(form.pbGrid, Qt::LeftButton, {}, QPoint(639, 5));
    QTest::mouseRelease(form.pbGrid, Qt::RightButton, Qt::ShiftModifier, QPoint(20, 5));
    form.pbGridMouseUp(Qt::LeftButton, {}, 640, 5);
    form.pbGridMouseUp(Qt::LeftButton, {}, -3, 5);
    // A point between pixels (a scaled screen) is in the pixel it lies in.
    QMouseEvent between(QEvent::MouseButtonRelease, QPointF(638.7, 5.2), QPointF(638.7, 5.2), Qt::LeftButton,
        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(form.pbGrid, &between);
    EXPECT_EQ(Positions(form.lvColumns), (std::vector<int32_t> { 20, 638, 639 }));
    EXPECT_EQ(services.exclamations, 2);

    form.Row1->trigger();
    QTest::mouseRelease(form.pbGrid, Qt::MiddleButton, {}, QPoint(5, 479));
    form.pbGridMouseUp(Qt::LeftButton, {}, 5, 480);
    EXPECT_EQ(Positions(form.lvRows), std::vector<int32_t> { 479 });
    EXPECT_EQ(Positions(form.lvColumns), (std::vector<int32_t> { 20, 638, 639 }));
    EXPECT_EQ(services.exclamations, 3);
    for (const TCutLineEntry& line : form.lvColumns->Lines())
        EXPECT_TRUE(line.Checked);
}

TEST_F(PictureViewTest, TransparentModePicksUntilColumnOrRowIsChosen)
{
    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    form.tbtnRow->click();
    form.pnlTransparent->clicked(); // the panel does what the menu item does
    EXPECT_EQ(form.DrawMode, TDrawMode::dmTransparent);
    EXPECT_EQ(form.pbGrid->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(form.tbtnRow->isChecked());
    EXPECT_TRUE(form.Row1->isChecked());
    EXPECT_FALSE(form.tbtnColumn->isChecked());

    QTest::mouseRelease(form.pbGrid, Qt::LeftButton, {}, QPoint(3, 2));
    EXPECT_EQ(form.pnlTransparent->Color(), RGB(1, 2, 3));
    EXPECT_EQ(form.pbGrid->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form.DrawMode, TDrawMode::dmTransparent);

    // The next release picks again; one beyond the picture keeps the colour.
    form.pbGridMouseUp(Qt::LeftButton, {}, 10, 10);
    EXPECT_EQ(form.pnlTransparent->Color(), kPaper);
    form.pbGridMouseUp(Qt::LeftButton, {}, 64, 10);
    form.pbGridMouseUp(Qt::LeftButton, {}, 10, -1);
    EXPECT_EQ(form.pnlTransparent->Color(), kPaper);
    EXPECT_TRUE(form.lvColumns->Lines().empty());
    EXPECT_TRUE(form.lvRows->Lines().empty());

    form.tbtnColumn->click();
    form.pbGridMouseUp(Qt::LeftButton, {}, 10, 10);
    EXPECT_EQ(Positions(form.lvColumns), std::vector<int32_t> { 10 });
    EXPECT_EQ(form.pnlTransparent->Color(), kPaper);
}

TEST_F(PictureViewTest, APickWithoutAPictureReadsABlankDesignSizeBitmap)
{
    form.Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 104, 104);
    EXPECT_EQ(form.pnlTransparent->Color(), clWhite);
    const TGraphic* graphic = form.imgInterface->Image().Picture().Graphic();
    ASSERT_NE(graphic, nullptr);
    EXPECT_EQ(graphic->Width(), 105);
    EXPECT_EQ(graphic->Height(), 105);
}

TEST_F(PictureViewTest, CheckedLinesAreDottedColumnsXorAndRowsFollowThePen)
{
    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    // Only rows so far: the pen is still in copy mode, the dots are black.
    form.DrawRow(true, true, 0, 20);
    QImage screen = Screen();
    EXPECT_EQ(screen.pixel(0, 20), qRgb(0, 0, 0));
    EXPECT_EQ(screen.pixel(1, 20), kPaperShown);
    EXPECT_EQ(screen.pixel(62, 20), qRgb(0, 0, 0));
    EXPECT_EQ(screen.pixel(0, 21), kPaperShown);

    form.DrawColumn(true, true, 10, 0);
    form.DrawColumn(true, false, 30, 0);
    screen = Screen();
    EXPECT_EQ(screen.pixel(10, 0), kPaperXor);
    EXPECT_EQ(screen.pixel(10, 1), kPaperShown);
    EXPECT_EQ(screen.pixel(10, 46), kPaperXor);
    EXPECT_EQ(screen.pixel(30, 0), kPaperShown); // unchecked: not drawn
    // From the first column on, rows are drawn in exclusive-or too.
    EXPECT_EQ(screen.pixel(0, 20), kPaperXor);
    EXPECT_EQ(screen.pixel(2, 20), kPaperXor);

    // A repaint of part of the grid puts every dot where a full one does.
    EXPECT_EQ(Screen(QRect(5, 7, 30, 21)), screen.copy(5, 7, 30, 21));

    // Two checked columns at one place cancel; unticking one shows the other.
    form.DrawColumn(true, true, 10, 0);
    screen = Screen();
    EXPECT_EQ(screen.pixel(10, 0), kPaperShown);
    EXPECT_EQ(screen.pixel(10, 46), kPaperShown);
    form.lvColumns->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(Screen().pixel(10, 0), kPaperXor);
}

TEST_F(PictureViewTest, SavedProjectsComeBackWithPictureLinesChecksAndCaption)
{
    const std::string picture = WritePicture(folder, "page.bmp", 64, 48);
    OpenPicture(picture);
    form.DrawColumn(true, true, 40, 0);
    form.DrawColumn(true, false, 12, 0);
    form.DrawRow(true, true, 0, 30);
    const std::string project = folder / "page.swr";

    // With no project file yet, Save asks for a name.
    answers = { project };
    form.Save1->trigger();
    EXPECT_EQ(shownDialogs.last(), "SaveDialog");
    EXPECT_EQ(form.ProjectFileName, project);
    EXPECT_EQ(form.windowTitle(), "Slicewright - [page.swr]");
    EXPECT_EQ(test::ReadFileBytes(project),
        "[Settings]\r\nGraphicImage=" + picture
            + "\r\n[Columns]\r\nPosition1=12\r\nChecked1=0\r\nPosition2=40\r\nChecked2=1\r\n"
              "[Rows]\r\nPosition1=30\r\nChecked1=1\r\n");
    // Once it exists, Save writes to it without asking.
    const int dialogs = static_cast<int>(shownDialogs.size());
    form.Save1->trigger();
    EXPECT_EQ(shownDialogs.size(), dialogs);
    EXPECT_TRUE(std::filesystem::exists(folder / "page.bak"));

    form.New1Click();
    EXPECT_FALSE(form.imgInterface->HasPicture());
    EXPECT_EQ(form.pbGrid->size(), QSize(64, 48));
    answers = { project };
    form.Open1->trigger();
    EXPECT_EQ(shownDialogs.last(), "OpenDialog");
    EXPECT_EQ(form.ProjectFileName, project);
    EXPECT_EQ(form.PictureFileName, picture);
    EXPECT_EQ(form.imgInterface->Shown().pixel(3, 2), qRgb(1, 2, 3));
    EXPECT_EQ(form.lvColumns->Lines(), (CutLineList { { "12", false }, { "40", true } }));
    EXPECT_EQ(form.lvRows->Lines(), (CutLineList { { "30", true } }));
    EXPECT_EQ(form.windowTitle(), "Slicewright - [page.swr]");
    EXPECT_EQ(services.exclamations, 0);
}

TEST_F(PictureViewTest, AProjectThatCannotBeReadLeavesSaveOnTheProjectShown)
{
    const std::string project = folder / "page.swr";
    form.DrawColumn(true, true, 40, 0);
    answers = { project };
    form.Saveas1Click();
    const std::string unreadable = folder / "huge.bmp";
    const std::string hugeBytes(kMaxIniFileSize + 1, 'x');
    test::WriteFileBytes(unreadable, hugeBytes);

    answers = { unreadable };
    EXPECT_THROW(form.Open1Click(), EIniFileException);
    EXPECT_EQ(form.ProjectFileName, project);
    EXPECT_EQ(Positions(form.lvColumns), std::vector<int32_t> { 40 });
    form.Save1Click();
    EXPECT_TRUE(test::ReadFileBytes(unreadable) == hugeBytes); // no 4 MB diff on failure
}

TEST_F(PictureViewTest, LoadingRefusesLinesThatDoNotFitWithOneBeepEach)
{
    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    // The picture is gone: the grid keeps its size and the view is empty.
    const std::string project = folder / "big.swr";
    test::WriteFileBytes(project,
        "[Settings]\r\nGraphicImage=" + (folder / "gone.bmp")
            + "\r\n[Columns]\r\nPosition1=500\r\nPosition2=63\r\nChecked2=0\r\nPosition3=64\r\n"
              "[Rows]\r\nPosition1=0x10\r\nPosition2=0\r\nPosition3=-1\r\nPosition4=5\r\n");
    form.LoadProject(project);
    EXPECT_FALSE(form.imgInterface->HasPicture());
    EXPECT_EQ(form.pbGrid->size(), QSize(64, 48));
    EXPECT_EQ(form.PictureFileName, folder / "gone.bmp");
    EXPECT_EQ(form.lvColumns->Lines(), (CutLineList { { "63", false } }));
    EXPECT_EQ(form.lvRows->Lines(), (CutLineList { { "16", true } }));
    EXPECT_EQ(services.exclamations, 3); // 500, 64 and row 0
    EXPECT_EQ(form.windowTitle(), "Slicewright - [big.swr]");
}

TEST_F(PictureViewTest, OpenStartsInTheProgramFolderUntilAProjectHasBeenOpened)
{
    const std::string project = folder / "page.swr";
    test::WriteFileBytes(project, "[Settings]\r\n");
    const QString programFolder = QCoreApplication::applicationDirPath();

    answers = { "" };
    form.DrawColumn(true, true, 9, 0);
    form.Open1Click();
    EXPECT_EQ(directories.last(), programFolder);
    EXPECT_EQ(Positions(form.lvColumns), std::vector<int32_t> { 9 }); // cancel: New did not run

    answers = { project };
    form.Open1Click();
    form.OpenDialog().setDirectory(QString::fromStdString(folder.Path().parent_path().string()));
    answers = { "" };
    form.Open1Click();
    EXPECT_NE(directories.last(), programFolder);

    std::filesystem::remove(project);
    answers = { "" };
    form.Open1Click();
    EXPECT_EQ(directories.last(), programFolder);
}

TEST_F(PictureViewTest, GenerationInputReadsEveryLineThePictureAndTheColour)
{
    form.DrawColumn(true, false, 50, 0);
    form.DrawColumn(true, true, 7, 0);
    form.DrawRow(true, false, 0, 8);
    TGenerationInput input = form.GenerationInput();
    ASSERT_NE(input.Picture, nullptr);
    EXPECT_EQ(input.Picture->Width(), 105);
    EXPECT_EQ(input.Picture->Height(), 105);
    EXPECT_EQ(const_cast<TBitmap*>(input.Picture)->Canvas().Pixel(50, 50), clWhite);
    EXPECT_EQ(input.ColumnCaptions, (std::vector<std::string> { "7", "50" }));
    EXPECT_EQ(input.RowCaptions, std::vector<std::string> { "8" });
    EXPECT_EQ(input.TransparentColor, clBtnFace);

    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    form.Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 3, 2);
    input = form.GenerationInput();
    EXPECT_EQ(input.Picture->Width(), 64);
    EXPECT_EQ(input.TransparentColor, RGB(1, 2, 3));
}

TEST_F(PictureViewTest, GenerateShowsAFreshDialogEachTime)
{
    for (int run = 0; run < 2; ++run) {
        QPointer<QDialog> seen;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            seen = GenerateDlg;
            ASSERT_NE(GenerateDlg, nullptr);
            modal = QApplication::activeModalWidget() == GenerateDlg;
            GenerateDlg->close();
        });
        form.Generate1->trigger();
        EXPECT_TRUE(modal);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(seen.isNull());
        EXPECT_EQ(GenerateDlg, nullptr);
    }
}

} // namespace
} // namespace sw
