#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/layout/zoom_mapping.h"
#include "core/project/cut_lines.h"
#include "core/project/ini_file.h"
#include "desktop/editor/file_dialogs.h"
#include "desktop/editor/form_children.h"
#include "desktop/editor/main_actions.h"
#include "desktop/editor/main_form.h"
#include "desktop/generate/generate_dialog.h"
#include "desktop/shell/fake_services.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

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
        QWidget* content = Child<QScrollArea>(form, "ScrollBox1")->widget();
        return content->grab(area.isNull() ? QRect(QPoint(0, 0), content->size()) : area).toImage();
    }

    // The title as the window system shows it, modified marker resolved.
    QString Caption() const { return form.windowHandle()->title(); }

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
    Child<QToolButton>(form, "tbtnRow")->click();
    form.ProjectFileName = "/projects/page.swr";
    form.ShowProjectCaption();

    const std::string fileName = WritePicture(folder, "page.bmp", 64, 48);
    OpenPicture(fileName);
    EXPECT_EQ(shownDialogs, QStringList { "OpenImageDlg" });
    EXPECT_EQ(form.PictureFileName, fileName);
    EXPECT_EQ(form.PictureView()->size(), QSize(64, 48));
    EXPECT_EQ(form.GridBox()->size(), QSize(64, 48));
    EXPECT_EQ(form.PictureView()->Shown().pixel(0, 0), kPaperShown);
    EXPECT_EQ(form.PictureView()->Shown().pixel(3, 2), qRgb(1, 2, 3));
    // Lines beyond the new picture stay; caption, project and mode are
    // untouched but for the modified marker.
    EXPECT_EQ(Positions(form.ColumnList()), std::vector<int32_t> { 100 });
    EXPECT_EQ(Positions(form.RowList()), std::vector<int32_t> { 90 });
    EXPECT_EQ(Caption(), "Slicewright - [page.swr]*");
    EXPECT_EQ(form.ProjectFileName, "/projects/page.swr");
    EXPECT_EQ(form.DrawMode, TDrawMode::dmRow);

    // Cancelling changes nothing.
    OpenPicture("");
    EXPECT_EQ(form.PictureFileName, fileName);
    EXPECT_EQ(form.GridBox()->size(), QSize(64, 48));
}

TEST_F(PictureViewTest, JpegPicturesBecomeBitmaps)
{
    OpenPicture(SLICEWRIGHT_SOURCE_DIR "/data/sample/design.jpg");
    const TGraphic* graphic = form.PictureView()->Image().Picture().Graphic();
    ASSERT_NE(dynamic_cast<const TBitmap*>(graphic), nullptr);
    EXPECT_EQ(form.GridBox()->size(), QSize(600, 400));
    EXPECT_EQ(Child<QScrollArea>(form, "ScrollBox1")->widget()->size(), QSize(600, 400));
    // Decoded once: the screen shows the held bitmap's own rows.
    EXPECT_EQ(form.PictureView()->Shown().constBits(),
        std::as_const(form.PictureView()->PictureBitmap()).ScanLine(0));
}

TEST_F(PictureViewTest, EveryPixelLayoutIsShownAndPaintedAsTheBitmapReadsIt)
{
    struct Case {
        const char* name;
        TPixelFormat format;
    };
    // 24 and 8 bits are shown from the bitmap's own rows, 4 bits through a
    // converted copy.
    const Case cases[] = {
        { "true.bmp", TPixelFormat::pf24bit },
        { "indexed.bmp", TPixelFormat::pf8bit },
        { "sixteen.bmp", TPixelFormat::pf4bit },
    };
    QImage previous;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TBitmap written;
        written.SetPixelFormat(c.format);
        written.SetSize(7, 5);
        if (c.format == TPixelFormat::pf8bit) {
            // A short table, and an index past it, which reads as black.
            written.SetColorTable({ { 10, 20, 30, 0 }, { 200, 150, 100, 0 } });
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x)
                    written.ScanLine(y)[x] = static_cast<uint8_t>((x + y) % 2);
            written.ScanLine(4)[6] = 9;
        } else {
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x)
                    written.Canvas().SetPixel(x, y, RGB(x * 36, y * 50, 255 - x * y));
        }
        const std::string fileName = folder / c.name;
        written.SaveToFile(fileName);
        OpenPicture(fileName);
        TBitmap& held = form.PictureView()->PictureBitmap();
        const QImage& shown = form.PictureView()->Shown();
        ASSERT_EQ(shown.size(), QSize(7, 5));
        EXPECT_EQ(shown.constBits() == std::as_const(held).ScanLine(0), c.format != TPixelFormat::pf4bit);
        for (const int percent : { 100, 300 }) {
            form.SetZoom(percent);
            const QImage screen = Screen();
            const TZoomMapping zoom(percent, 1);
            for (int y = 0; y < 5; ++y)
                for (int x = 0; x < 7; ++x) {
                    const TColor color = held.Canvas().Pixel(x, y);
                    const QRgb expected = qRgb(GetRValue(color), GetGValue(color), GetBValue(color));
                    EXPECT_EQ(shown.pixel(x, y), expected) << x << "," << y;
                    const auto at = [&zoom](int pixel) { return static_cast<int>(zoom.DeviceStart(pixel)); };
                    EXPECT_EQ(screen.pixel(at(x), at(y)), expected) << percent << "% " << x << "," << y;
                    EXPECT_EQ(screen.pixel(at(x + 1) - 1, at(y + 1) - 1), expected) << percent << "%";
                }
        }
        if (c.format == TPixelFormat::pf8bit) {
            EXPECT_EQ(shown.pixel(6, 4), qRgb(0, 0, 0));
        }
        form.SetZoom(100);
        previous = shown;
    }
    // A copy of the screen image outlives the picture it showed.
    const QRgb first = previous.pixel(0, 0);
    form.New1Click();
    EXPECT_FALSE(form.PictureView()->HasPicture());
    EXPECT_EQ(previous.pixel(0, 0), first);
}

TEST_F(PictureViewTest, APictureThatCannotBeReadKeepsTheOldPictureAndGrid)
{
    const std::string good = WritePicture(folder, "good.bmp", 64, 48);
    OpenPicture(good);
    const QImage before = form.PictureView()->Shown();

    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const Case cases[] = {
        { "damaged.bmp", "BM not really a bitmap",
            "Bitmap image is not valid (an information header of 1768038497 bytes)" },
        { "page.tif", "II*", "Unknown picture file extension (.tif)" },
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
        EXPECT_EQ(form.PictureView()->Shown(), before);
        EXPECT_EQ(form.GridBox()->size(), QSize(64, 48));
    }
    // Chosen from the menu, the failure reaches the user as the error box.
    answers = { folder / "damaged.bmp" };
    form.Actions().mnuOpenImage->trigger();
    EXPECT_EQ(services.errors,
        QStringList { "Bitmap image is not valid (an information header of 1768038497 bytes)" });
    EXPECT_EQ(form.PictureView()->Shown(), before);
}

TEST_F(PictureViewTest, ReleasesAddLinesInTheCurrentModeWithTheBoundsTest)
{
    OpenPicture(WritePicture(folder, "page.bmp", 640, 480));
    // Any button adds; the release point is in grid pixels.
    QTest::mouseRelease(form.GridBox(), Qt::LeftButton, {}, QPoint(639, 5));
    QTest::mouseRelease(form.GridBox(), Qt::RightButton, Qt::ShiftModifier, QPoint(20, 5));
    form.pbGridMouseUp(Qt::LeftButton, {}, 640, 5);
    form.pbGridMouseUp(Qt::LeftButton, {}, -3, 5);
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 20, 639 }));
    EXPECT_EQ(services.exclamations, 2);

    form.Actions().Row1->trigger();
    QTest::mouseRelease(form.GridBox(), Qt::MiddleButton, {}, QPoint(5, 479));
    form.pbGridMouseUp(Qt::LeftButton, {}, 5, 480);
    EXPECT_EQ(Positions(form.RowList()), std::vector<int32_t> { 479 });
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 20, 639 }));
    EXPECT_EQ(services.exclamations, 3);
    for (const TCutLineEntry& line : form.ColumnList()->Lines())
        EXPECT_TRUE(line.Checked);
}

TEST_F(PictureViewTest, ReleasesOnAScaledScreenLandOnThePixelTheyLieIn)
{
    OpenPicture(WritePicture(folder, "page.bmp", 640, 480));
    // The toolkit hands over device pixels divided by the scale; a point in
    // the right or lower half of a pixel still belongs to that pixel.
    struct Case {
        double scale;
        int device;
        int32_t pixel;
    };
    const Case cases[] = {
        { 1.0, 389, 389 }, { 1.5, 580, 386 }, // 386.67
        { 1.5, 581, 387 }, // 387.33
        { 1.5, 718, 478 }, // 478.67
        { 2.0, 779, 389 }, // 389.5
        { 2.0, 1157, 578 }, // 578.5; below the picture for a row
        { 2.0, 959, 479 }, // 479.5: still on the picture
        { 2.0, 1279, 639 }, // 639.5: a column still on the picture
        { 2.0, -1, -1 }, // -0.5: left of or above the picture
    };
    for (const Case& c : cases) {
        for (TDrawMode mode : { TDrawMode::dmColumn, TDrawMode::dmRow }) {
            SCOPED_TRACE(testing::Message()
                << c.scale << "x, device " << c.device << ", row " << (mode == TDrawMode::dmRow));
            form.ClearLines(true);
            form.DrawMode = mode;
            const double at = c.device / c.scale;
            const QPointF point = mode == TDrawMode::dmColumn ? QPointF(at, 5.0) : QPointF(5.0, at);
            QMouseEvent release(QEvent::MouseButtonRelease, point, form.GridBox()->mapToGlobal(point),
                Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(form.GridBox(), &release);
            const TCutLineList* list = mode == TDrawMode::dmColumn ? form.ColumnList() : form.RowList();
            const int32_t extent = mode == TDrawMode::dmColumn ? 640 : 480;
            EXPECT_EQ(Positions(list),
                IsInsideGrid(c.pixel, extent) ? std::vector<int32_t> { c.pixel } : std::vector<int32_t> {});
        }
    }
}

TEST_F(PictureViewTest, TransparentModePicksUntilColumnOrRowIsChosen)
{
    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    Child<QToolButton>(form, "tbtnRow")->click();
    form.TransparentPanel()->clicked(); // the panel does what the menu item does
    EXPECT_EQ(form.DrawMode, TDrawMode::dmTransparent);
    EXPECT_EQ(form.GridBox()->cursor().shape(), Qt::CrossCursor);
    EXPECT_TRUE(Child<QToolButton>(form, "tbtnRow")->isChecked());
    EXPECT_TRUE(form.Actions().Row1->isChecked());
    EXPECT_FALSE(Child<QToolButton>(form, "tbtnColumn")->isChecked());

    QTest::mouseRelease(form.GridBox(), Qt::LeftButton, {}, QPoint(3, 2));
    EXPECT_EQ(form.TransparentPanel()->Color(), RGB(1, 2, 3));
    EXPECT_EQ(form.GridBox()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(form.DrawMode, TDrawMode::dmTransparent);

    // The next release picks again; one beyond the picture keeps the colour.
    form.pbGridMouseUp(Qt::LeftButton, {}, 10, 10);
    EXPECT_EQ(form.TransparentPanel()->Color(), kPaper);
    form.pbGridMouseUp(Qt::LeftButton, {}, 64, 10);
    form.pbGridMouseUp(Qt::LeftButton, {}, 10, -1);
    EXPECT_EQ(form.TransparentPanel()->Color(), kPaper);
    EXPECT_TRUE(form.ColumnList()->Lines().empty());
    EXPECT_TRUE(form.RowList()->Lines().empty());

    Child<QToolButton>(form, "tbtnColumn")->click();
    form.pbGridMouseUp(Qt::LeftButton, {}, 10, 10);
    EXPECT_EQ(Positions(form.ColumnList()), std::vector<int32_t> { 10 });
    EXPECT_EQ(form.TransparentPanel()->Color(), kPaper);
}

// The pick lives in the project, none is a choice of its own, and both undo.
TEST_F(PictureViewTest, TheTransparentColourIsSavedLoadedAndCanBeNone)
{
    const std::string picture = WritePicture(folder, "page.bmp", 64, 48);
    OpenPicture(picture);
    EXPECT_EQ(form.GenerationInput().TransparentColor, clNone);
    form.Actions().Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 3, 2);
    const std::string project = folder / "page.swr";
    form.SaveProject(project);
    EXPECT_NE(test::ReadFileBytes(project).find("[Output]\r\nFormat=auto\r\nTransparent=010203\r\n"),
        std::string::npos);

    form.Actions().New1->trigger();
    EXPECT_EQ(form.TransparentPanel()->Color(), clNone);
    form.LoadProject(project);
    EXPECT_EQ(form.TransparentPanel()->Color(), RGB(1, 2, 3));
    EXPECT_EQ(form.GenerationInput().TransparentColor, RGB(1, 2, 3));

    form.TransparentPanel()->noneChosen();
    EXPECT_EQ(form.TransparentPanel()->Color(), clNone);
    EXPECT_TRUE(form.IsModified());
    form.SaveProject(project);
    EXPECT_EQ(test::ReadFileBytes(project).find("Transparent"), std::string::npos);
    form.Actions().Undo1->trigger();
    EXPECT_EQ(form.TransparentPanel()->Color(), RGB(1, 2, 3));
}

TEST_F(PictureViewTest, ThePreviewDecodesNoPictureWhoseHeaderClaimsMoreThanFourMegapixels)
{
    TOpenPictureDialog dialog;
    dialog.ShowPreview(QString::fromStdString(WritePicture(folder, "small.bmp", 64, 48)));
    EXPECT_EQ(dialog.lblPreviewSize->text(), QStringLiteral("64 \u00D7 48 pixels"));
    EXPECT_FALSE(dialog.imgPreview->pixmap().isNull());

    // A 24-bit BMP header claiming 2049 x 2048 pixels over a few bytes.
    std::string bytes = "BM";
    auto put = [&bytes](uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    put(54 + 16, 4), put(0, 4), put(54, 4);
    put(40, 4), put(2049, 4), put(2048, 4), put(1, 2), put(24, 2);
    for (int i = 0; i < 6; ++i)
        put(0, 4);
    bytes.append(16, '\0');
    const std::string large = folder / "large.bmp";
    test::WriteFileBytes(large, bytes);
    dialog.ShowPreview(QString::fromStdString(large));
    EXPECT_EQ(dialog.lblPreviewSize->text(), QStringLiteral("No preview (2049 \u00D7 2048 pixels)"));
    EXPECT_TRUE(dialog.imgPreview->pixmap().isNull());
}

TEST_F(PictureViewTest, APickWithoutAPictureReadsABlankDesignSizeBitmap)
{
    form.Actions().Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 104, 104);
    EXPECT_EQ(form.TransparentPanel()->Color(), clWhite);
    const TGraphic* graphic = form.PictureView()->Image().Picture().Graphic();
    ASSERT_NE(graphic, nullptr);
    EXPECT_EQ(graphic->Width(), 105);
    EXPECT_EQ(graphic->Height(), 105);
}

TEST_F(PictureViewTest, CheckedLinesAreDottedColumnsXorAndRowsFollowThePen)
{
    const std::string picture = WritePicture(folder, "page.bmp", 64, 48);
    OpenPicture(picture);
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

    // A click where a line is adds no second one, which would cancel it.
    form.DrawColumn(true, true, 10, 0);
    EXPECT_EQ(Screen().pixel(10, 0), kPaperXor);
    EXPECT_EQ(services.exclamations, 1);

    // A project file may still hold two: they load, cancel each other, and
    // unticking one shows the other.
    const std::string project = folder / "twice.swr";
    test::WriteFileBytes(project,
        "[Settings]\r\nGraphicImage=" + picture + "\r\n[Columns]\r\nPosition1=10\r\nPosition2=10\r\n");
    form.LoadProject(project);
    ASSERT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 10, 10 }));
    screen = Screen();
    EXPECT_EQ(screen.pixel(10, 0), kPaperShown);
    EXPECT_EQ(screen.pixel(10, 46), kPaperShown);
    form.ColumnList()->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
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
    form.Actions().Save1->trigger();
    EXPECT_EQ(shownDialogs.last(), "SaveDialog");
    EXPECT_EQ(form.ProjectFileName, project);
    EXPECT_EQ(Caption(), "Slicewright - [page.swr]");
    // The picture beside the project is stored without a folder, so both can move.
    EXPECT_EQ(test::ReadFileBytes(project),
        "[Settings]\r\nGraphicImage=page.bmp"
        "\r\n[Columns]\r\nPosition1=12\r\nChecked1=0\r\nPosition2=40\r\nChecked2=1\r\n"
        "[Rows]\r\nPosition1=30\r\nChecked1=1\r\n[Output]\r\nFormat=auto\r\n");
    // Once it exists, Save writes to it without asking.
    const int dialogs = static_cast<int>(shownDialogs.size());
    form.Actions().Save1->trigger();
    EXPECT_EQ(shownDialogs.size(), dialogs);
    EXPECT_TRUE(std::filesystem::exists(folder / "page.bak"));

    form.New1Click();
    EXPECT_FALSE(form.PictureView()->HasPicture());
    EXPECT_EQ(form.GridBox()->size(), QSize(64, 48));
    answers = { project };
    form.Actions().Open1->trigger();
    EXPECT_EQ(shownDialogs.last(), "OpenDialog");
    EXPECT_EQ(form.ProjectFileName, project);
    EXPECT_EQ(form.PictureFileName, picture);
    EXPECT_EQ(form.PictureView()->Shown().pixel(3, 2), qRgb(1, 2, 3));
    EXPECT_EQ(form.ColumnList()->Lines(), (TCutLines { { "12", false }, { "40", true } }));
    EXPECT_EQ(form.RowList()->Lines(), (TCutLines { { "30", true } }));
    EXPECT_EQ(Caption(), "Slicewright - [page.swr]");
    EXPECT_EQ(services.exclamations, 0);

    // A picture stored beside the project is saved back the way it was stored.
    test::WriteFileBytes(project, "[Settings]\r\nGraphicImage=page.bmp\r\n");
    form.LoadProject(project);
    EXPECT_EQ(form.PictureFileName, picture);
    form.Actions().Save1->trigger();
    EXPECT_EQ(test::ReadFileBytes(project), "[Settings]\r\nGraphicImage=page.bmp\r\n");
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
    EXPECT_EQ(Positions(form.ColumnList()), std::vector<int32_t> { 40 });
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
    EXPECT_FALSE(form.PictureView()->HasPicture());
    EXPECT_EQ(form.GridBox()->size(), QSize(64, 48));
    EXPECT_EQ(form.PictureFileName, folder / "gone.bmp");
    EXPECT_EQ(form.ColumnList()->Lines(), (TCutLines { { "63", false } }));
    // A line that is no position is passed over; the lines after it count.
    EXPECT_EQ(form.RowList()->Lines(), (TCutLines { { "5", true }, { "16", true } }));
    EXPECT_EQ(services.exclamations, 4); // 500, 64, row 0 and row -1
    EXPECT_EQ(Caption(), "Slicewright - [big.swr]");
    // Said once the lines are in, and Generate then refuses to cut a blank page.
    ASSERT_EQ(services.errors.size(), 1);
    EXPECT_TRUE(services.errors[0].startsWith(QString::fromStdString("The picture \"" + folder / "gone.bmp")))
        << services.errors[0].toStdString();
    EXPECT_FALSE(form.HasPicture());
    form.Generate1Click();
    EXPECT_EQ(GenerateDlg, nullptr);
    EXPECT_EQ(services.errors.size(), 2);
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
    EXPECT_EQ(Positions(form.ColumnList()), std::vector<int32_t> { 9 }); // cancel: New did not run

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
    EXPECT_EQ(input.TransparentColor, clNone);

    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    form.Actions().Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 3, 2);
    input = form.GenerationInput();
    EXPECT_EQ(input.Picture->Width(), 64);
    EXPECT_EQ(input.TransparentColor, RGB(1, 2, 3));
}

TEST_F(PictureViewTest, GenerateShowsAFreshDialogEachTimeOnceThereIsAPicture)
{
    // A pick makes a blank picture, which is still nothing to cut.
    form.Actions().Transparentcolor1->trigger();
    form.pbGridMouseUp(Qt::LeftButton, {}, 5, 5);
    QTimer::singleShot(0, [] {
        if (GenerateDlg)
            GenerateDlg->close();
    });
    form.Actions().Generate1->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(services.errors,
        QStringList { "There is no picture to cut up. Open one with \"Open image...\" first." });

    OpenPicture(WritePicture(folder, "page.bmp", 64, 48));
    for (int run = 0; run < 2; ++run) {
        QPointer<QDialog> seen;
        bool modal = false;
        QTimer::singleShot(0, [&] {
            seen = GenerateDlg;
            ASSERT_NE(GenerateDlg, nullptr);
            modal = QApplication::activeModalWidget() == GenerateDlg;
            GenerateDlg->close();
        });
        form.Actions().Generate1->trigger();
        EXPECT_TRUE(modal);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(seen.isNull());
        EXPECT_EQ(GenerateDlg, nullptr);
    }
}

} // namespace
} // namespace sw
