#include "core/base/sysutils.h"
#include "core/imaging/bitmap.h"
#include "core/layout/zoom_mapping.h"
#include "core/project/project_file.h"
#include "desktop/editor/cell_panel.h"
#include "desktop/editor/form_children.h"
#include "desktop/editor/main_actions.h"
#include "desktop/editor/main_form.h"
#include "desktop/shell/fake_services.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <QUndoStack>
#include <QWindow>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

namespace sw {
namespace {

using test::TempFolder;

std::vector<int32_t> Positions(const TCutLineList* list)
{
    std::vector<int32_t> positions;
    for (const TCutLineEntry& line : list->Lines())
        positions.push_back(StrToInt(line.Caption));
    return positions;
}

std::string WritePicture(
    const TempFolder& folder, const std::string& name, int width, int height, TColor colour)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    bitmap.Canvas().SetBrushColor(colour);
    bitmap.Canvas().FillRect(TRect { 0, 0, width, height });
    const std::string fileName = folder / name;
    bitmap.SaveToFile(fileName);
    return fileName;
}

class EditingTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.RunFileDialog = [this](QFileDialog& dialog) {
            if (answer.empty())
                return false;
            dialog.selectFile(QString::fromStdString(answer));
            return true;
        };
        form.show();
        form.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
        form.New1Click();
        picture = WritePicture(folder, "page.bmp", 120, 80, RGB(200, 100, 40));
        answer = picture;
        form.mnuOpenImageClick();
        form.ProjectFileName = folder / "page.swr";
        form.SaveProject(form.ProjectFileName);
        form.UndoStack()->clear();
    }

    // A click as the user makes it: press and release at one place.
    void Click(QPointF at, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(form.GridBox(), button, {}, at.toPoint());
    }

    void Drag(QPoint from, QPoint to)
    {
        QTest::mousePress(form.GridBox(), Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(to), form.GridBox()->mapToGlobal(QPointF(to)),
            Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form.GridBox(), &move);
        QTest::mouseRelease(form.GridBox(), Qt::LeftButton, {}, to);
    }

    FakeServices services;
    TMainForm form;
    TempFolder folder;
    std::string picture;
    std::string answer;
};

// The ratio the screen gives; a second run of these tests sets it to 2.
double ScreenRatio()
{
    const char* expected = std::getenv("SLICEWRIGHT_EXPECTED_RATIO");
    return expected ? std::atof(expected) : 1.0;
}

TEST_F(EditingTest, EveryKindOfChangeIsUndoneAndRedone)
{
    form.DrawColumn(true, true, 40, 0);
    form.DrawColumn(true, false, 60, 0);
    form.DrawRow(true, true, 0, 30);
    form.SaveProject(form.ProjectFileName);
    form.UndoStack()->clear();
    const TCutLines columns = form.ColumnList()->Lines();
    const TCutLines rows = form.RowList()->Lines();
    const TColor colour = form.TransparentPanel()->Color();
    const std::string other = WritePicture(folder, "other.bmp", 50, 50, RGB(0, 0, 0));

    struct Change {
        const char* what;
        std::function<void()> make;
    };
    const Change changes[] = {
        { "add by a click", [&] { form.pbGridMouseUp(Qt::LeftButton, {}, 90, 5); } },
        { "move by a caption edit", [&] { form.ColumnList()->topLevelItem(0)->setText(0, "45"); } },
        { "move by dragging", [&] { Drag(QPoint(40, 50), QPoint(44, 50)); } },
        { "delete",
            [&] {
                form.ColumnList()->setCurrentItem(form.ColumnList()->topLevelItem(0));
                form.Actions().DeleteLine1->trigger();
            } },
        { "clear", [&] { form.ClearLines(true); } },
        { "clear unchecked", [&] { form.ClearLines(false); } },
        { "uncheck", [&] { form.ColumnList()->topLevelItem(0)->setCheckState(0, Qt::Unchecked); } },
        { "change the picture",
            [&] {
                answer = other;
                form.mnuOpenImageClick();
            } },
        { "pick the transparent colour",
            [&] {
                form.Actions().Transparentcolor1->trigger();
                form.pbGridMouseUp(Qt::LeftButton, {}, 3, 3);
                Child<QToolButton>(form, "tbtnColumn")->click();
            } },
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        change.make();
        ASSERT_EQ(form.UndoStack()->count(), 1);
        const TCutLines changedColumns = form.ColumnList()->Lines();
        const TCutLines changedRows = form.RowList()->Lines();
        const std::string changedPicture = form.PictureFileName;
        const TColor changedColour = form.TransparentPanel()->Color();
        EXPECT_TRUE(form.IsModified());

        form.Actions().Undo1->trigger();
        EXPECT_EQ(form.ColumnList()->Lines(), columns);
        EXPECT_EQ(form.RowList()->Lines(), rows);
        EXPECT_EQ(form.PictureFileName, picture);
        EXPECT_EQ(form.GridBox()->GridWidth(), 120);
        EXPECT_EQ(form.PictureView()->Shown().pixel(3, 3), qRgb(200, 100, 40));
        EXPECT_EQ(form.TransparentPanel()->Color(), colour);
        EXPECT_FALSE(form.IsModified());

        form.Actions().Redo1->trigger();
        EXPECT_EQ(form.ColumnList()->Lines(), changedColumns);
        EXPECT_EQ(form.RowList()->Lines(), changedRows);
        EXPECT_EQ(form.PictureFileName, changedPicture);
        EXPECT_EQ(form.TransparentPanel()->Color(), changedColour);
        EXPECT_TRUE(form.IsModified());

        form.Actions().Undo1->trigger();
        form.UndoStack()->clear();
    }
    EXPECT_EQ(services.exclamations, 0);
}

TEST_F(EditingTest, AClickLandsOnThePixelUnderThePointerAtEveryZoom)
{
    ASSERT_DOUBLE_EQ(form.GridBox()->devicePixelRatioF(), ScreenRatio());
    for (const int percent : { 25, 100, 200, 300 }) {
        SCOPED_TRACE(percent);
        form.SetZoom(percent);
        EXPECT_EQ(form.GridBox()->width(), TZoomMapping(percent, ScreenRatio()).LogicalExtent(120));
        const TZoomMapping zoom(percent, ScreenRatio());
        for (const int at : { 3, 17, 29, 59 }) {
            form.ClearLines(true);
            Click(QPointF(at, 10));
            const auto expected = static_cast<int32_t>(zoom.PixelAtLogical(at));
            EXPECT_LE(zoom.DeviceStart(expected), at * ScreenRatio());
            EXPECT_GT(zoom.DeviceStart(expected + 1), at * ScreenRatio());
            if (expected > 0 && expected < 120) {
                EXPECT_EQ(Positions(form.ColumnList()), std::vector<int32_t> { expected }) << at;
            }
        }
    }
    form.ClearLines(true);
    // The picture is drawn with the pixel under the pointer there too.
    TBitmap marked;
    marked.SetSize(8, 8);
    marked.Canvas().SetBrushColor(RGB(255, 255, 255));
    marked.Canvas().FillRect(TRect { 0, 0, 8, 8 });
    marked.Canvas().SetPixel(5, 2, RGB(0, 0, 255));
    marked.SaveToFile(folder / "marked.bmp");
    answer = folder / "marked.bmp";
    form.mnuOpenImageClick();
    form.SetZoom(300);
    const QImage shown = Child<QScrollArea>(form, "ScrollBox1")->widget()->grab().toImage();
    const TZoomMapping zoom(300, ScreenRatio());
    for (int64_t device = 0; device < zoom.DeviceStart(8); ++device) {
        const bool blue = zoom.PixelAt(device) == 5;
        EXPECT_EQ(shown.pixel(static_cast<int>(device), static_cast<int>(zoom.DeviceStart(2) + 1))
                == qRgb(0, 0, 255),
            blue)
            << device;
    }
}

TEST_F(EditingTest, DraggingMovesALineAndRefusesAPlaceOutside)
{
    form.DrawColumn(true, true, 40, 0);
    form.DrawColumn(true, true, 70, 0);
    form.SetZoom(200);
    Drag(QPoint(80, 20), QPoint(101, 20));
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 50, 70 }));
    EXPECT_EQ(form.SelectedLine()->text(0), "50");
    // Onto another line, then beyond the picture: each put back, with a beep.
    Drag(QPoint(100, 20), QPoint(140, 20));
    Drag(QPoint(100, 20), QPoint(500, 20));
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 50, 70 }));
    EXPECT_EQ(services.exclamations, 2);
    // A press on a line is no click that adds one.
    Click(QPoint(101, 60));
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 50, 70 }));
    form.Actions().Undo1->trigger();
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 40, 70 }));
}

TEST_F(EditingTest, ArrowKeysNudgeTheSelectedLine)
{
    form.DrawRow(true, true, 0, 30);
    form.DrawRow(true, true, 0, 41);
    Child<QToolButton>(form, "tbtnRow")->click();
    Click(QPoint(10, 30));
    ASSERT_EQ(form.SelectedList(), form.RowList());
    form.GridBox()->setFocus();
    QTest::keyClick(form.GridBox(), Qt::Key_Down);
    QTest::keyClick(form.GridBox(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(Positions(form.RowList()), (std::vector<int32_t> { 31, 41 }));
    EXPECT_EQ(services.exclamations, 1) << "onto the line at 41";
    QTest::keyClick(form.GridBox(), Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(form.GridBox(), Qt::Key_Left);
    EXPECT_EQ(Positions(form.RowList()), (std::vector<int32_t> { 21, 41 }));
    form.RowList()->setCurrentItem(form.RowList()->topLevelItem(1));
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(form.GridBox(), Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(Positions(form.RowList()), (std::vector<int32_t> { 21, 71 }));
    EXPECT_EQ(services.exclamations, 2) << "beyond the picture";
    QTest::keyClick(&form, Qt::Key_Delete);
    EXPECT_EQ(Positions(form.RowList()), (std::vector<int32_t> { 21 }));
}

TEST_F(EditingTest, SavingMarksTheCleanStateThatUndoReturnsTo)
{
    EXPECT_FALSE(form.IsModified());
    form.DrawColumn(true, true, 40, 0);
    EXPECT_TRUE(form.IsModified());
    EXPECT_EQ(form.windowHandle()->title(), "Slicewright - [page.swr]*");
    form.Save1Click();
    EXPECT_FALSE(form.IsModified());
    form.Actions().Undo1->trigger();
    EXPECT_TRUE(form.IsModified());
    form.Actions().Redo1->trigger();
    EXPECT_FALSE(form.IsModified());
    form.Actions().Undo1->trigger();
    form.DrawColumn(true, true, 50, 0);
    EXPECT_TRUE(form.IsModified()) << "the saved state cannot be reached again";
    EXPECT_FALSE(form.Actions().Redo1->isEnabled());
}

TEST_F(EditingTest, StartingOnAProjectThenClickUndoClickSaveKeepsTheSecondLine)
{
    TMainForm started;
    started.show();
    started.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&started));
    started.OpenStartFile(folder / "page.swr");
    EXPECT_EQ(started.PictureFileName, picture);
    started.ClearLines(true);
    started.Save1Click();
    started.SetZoom(200);
    Child<QToolButton>(started, "tbtnColumn")->click();
    QTest::mouseClick(started.GridBox(), Qt::LeftButton, {}, QPoint(21, 5));
    QTest::keyClick(&started, Qt::Key_Z, Qt::ControlModifier);
    QTest::mouseClick(started.GridBox(), Qt::LeftButton, {}, QPoint(61, 5));
    QTest::keyClick(&started, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(started.IsModified());
    const TLoadedProject saved = ReadProjectFile(folder / "page.swr", "");
    ASSERT_EQ(saved.Columns.size(), 1u);
    EXPECT_EQ(saved.Columns.front().Position, 30);
    EXPECT_TRUE(saved.Rows.empty());
}

TEST_F(EditingTest, AStartFileThatCannotBeOpenedLeavesTheWindowAsItStarted)
{
    TMainForm started;
    const TCutLines columns = started.ColumnList()->Lines();
    EXPECT_THROW(started.OpenStartFile(folder / "missing.bmp"), std::exception);
    EXPECT_EQ(started.ColumnList()->Lines(), columns);
    EXPECT_TRUE(started.PictureFileName.empty());
    EXPECT_FALSE(started.IsModified());
    EXPECT_EQ(started.UndoStack()->count(), 0);
}

// Replaces a file the way most editors save: a new file renamed over it.
void ReplaceByRename(const std::string& fileName, const std::function<void(const std::string&)>& write)
{
    const std::string fresh = fileName + ".new";
    write(fresh);
    std::filesystem::rename(fresh, fileName);
}

TEST_F(EditingTest, APictureChangedOnDiskIsReadAgainAndTheLinesStay)
{
    form.DrawColumn(true, true, 40, 0);
    form.DrawRow(true, true, 0, 30);
    const TCutLines columns = form.ColumnList()->Lines();
    const TCutLines rows = form.RowList()->Lines();
    const auto shown = [this] { return form.PictureView()->PictureBitmap().Canvas().Pixel(1, 1); };

    // Twice: the first rename takes the file away from the watcher.
    for (const TColor colour : { RGB(0, 0, 255), RGB(0, 255, 0) }) {
        ReplaceByRename(picture, [&](const std::string& name) {
            WritePicture(folder, std::filesystem::path(name).filename().string(), 100, 70, colour);
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown() == colour; }, 3000));
        EXPECT_EQ(form.GridBox()->GridWidth(), 100);
        EXPECT_EQ(form.ColumnList()->Lines(), columns);
        EXPECT_EQ(form.RowList()->Lines(), rows);
        EXPECT_TRUE(form.IsModified());
    }
    // Undo takes back the row, not the new pixels.
    form.UndoStack()->undo();
    EXPECT_EQ(shown(), RGB(0, 255, 0));
    EXPECT_EQ(form.GridBox()->GridHeight(), 70);

    ReplaceByRename(picture, [](const std::string& name) { test::WriteFileBytes(name, "BM not a bitmap"); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !services.errors.isEmpty(); }, 3000));
    EXPECT_EQ(shown(), RGB(0, 255, 0));
    EXPECT_TRUE(form.HasPicture());
}

TEST_F(EditingTest, AProjectChangedOnDiskIsLoadedAgainAskingFirstWhenModified)
{
    const auto writeLines = [&](std::initializer_list<int32_t> positions) {
        TProjectData data;
        data.PictureFileName = picture;
        for (const int32_t x : positions)
            data.Columns.push_back(TCutLineEntry { std::to_string(x), true });
        ReplaceByRename(form.ProjectFileName, [&](const std::string& name) { WriteProjectFile(name, data); });
    };
    const auto settle = [] { QTest::qWait(600); };

    // Our own save is no change.
    form.DrawColumn(true, true, 40, 0);
    form.Save1Click();
    settle();
    EXPECT_TRUE(services.confirmations.isEmpty());
    EXPECT_EQ(Positions(form.ColumnList()), std::vector<int32_t> { 40 });

    // Unmodified: loaded at once.
    writeLines({ 10, 20 });
    EXPECT_TRUE(QTest::qWaitFor([&] { return Positions(form.ColumnList()).size() == 2; }, 3000));
    EXPECT_TRUE(services.confirmations.isEmpty());

    // Modified: No keeps the changes, Yes loads the file like Open.
    form.DrawColumn(true, true, 50, 0);
    services.answer = false;
    writeLines({ 10, 20, 30 });
    EXPECT_TRUE(QTest::qWaitFor([&] { return services.confirmations.size() == 1; }, 3000));
    settle();
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 10, 20, 50 }));
    EXPECT_TRUE(form.IsModified());

    services.answer = true;
    writeLines({ 11, 21, 31, 41 });
    EXPECT_TRUE(QTest::qWaitFor([&] { return services.confirmations.size() == 2; }, 3000));
    EXPECT_EQ(Positions(form.ColumnList()), (std::vector<int32_t> { 11, 21, 31, 41 }));
    EXPECT_FALSE(form.IsModified());
    EXPECT_EQ(form.UndoStack()->count(), 0);
    EXPECT_TRUE(services.confirmations.back().contains("page.swr"))
        << services.confirmations.back().toStdString();
}

// The Cells mode.

void TypeInto(QLineEdit* edit, const QString& text)
{
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

std::string CoreRefusal(const std::function<void()>& check)
{
    try {
        check();
    } catch (const Exception& error) {
        return WithFullStop(error.what());
    }
    return "no refusal";
}

TEST_F(EditingTest, CellsModeSelectsTheCellUnderAClickAtAnyZoomAndArrowsMoveIt)
{
    form.DrawColumn(true, true, 40, 0);
    form.DrawColumn(true, true, 80, 0);
    form.DrawRow(true, true, 0, 30);
    form.UndoStack()->clear();
    form.Actions().Cells1->trigger();
    EXPECT_TRUE(Child<QDockWidget>(form, "dckCells")->isVisible());
    const TCutLines columns = form.ColumnList()->Lines();
    for (const int percent : { 50, 200, 300 }) {
        SCOPED_TRACE(percent);
        form.SetZoom(percent);
        const TZoomMapping zoom(percent, ScreenRatio());
        const auto at = [&zoom](int x, int y) {
            return QPointF(
                zoom.LogicalOfDevice(zoom.DeviceStart(x) + 1), zoom.LogicalOfDevice(zoom.DeviceStart(y) + 1));
        };
        Click(at(60, 50));
        EXPECT_EQ(form.SelectedCell(), (TCellRef { 2, 2 }));
        Click(at(100, 10));
        EXPECT_EQ(form.SelectedCell(), (TCellRef { 1, 3 }));
    }
    EXPECT_EQ(form.ColumnList()->Lines(), columns);
    EXPECT_EQ(form.UndoStack()->count(), 0);

    form.SelectCell(TCellRef { 1, 1 });
    const std::pair<Qt::Key, std::optional<TCellRef>> steps[] = { { Qt::Key_Right, TCellRef { 1, 2 } },
        { Qt::Key_Right, TCellRef { 1, 3 } }, { Qt::Key_Right, TCellRef { 1, 3 } },
        { Qt::Key_Down, TCellRef { 2, 3 } }, { Qt::Key_Down, TCellRef { 2, 3 } },
        { Qt::Key_Left, TCellRef { 2, 2 } }, { Qt::Key_Escape, std::nullopt } };
    for (const auto& [key, expected] : steps) {
        QTest::keyClick(form.GridBox(), key);
        EXPECT_EQ(form.SelectedCell(), expected) << key;
    }

    // A span is one cell to select and to step over, and no line crosses it.
    form.SelectCell(TCellRef { 1, 1 });
    form.CellPanel()->speSpanColumns->setValue(2);
    form.SetZoom(100);
    Click(QPointF(60, 10));
    EXPECT_EQ(form.SelectedCell(), (TCellRef { 1, 1 }));
    QTest::keyClick(form.GridBox(), Qt::Key_Right);
    EXPECT_EQ(form.SelectedCell(), (TCellRef { 1, 3 }));
    Child<QToolButton>(form, "tbtnColumn")->click();
    EXPECT_FALSE(Child<QDockWidget>(form, "dckCells")->isVisible());
    const QImage shown = Child<QScrollArea>(form, "ScrollBox1")->widget()->grab().toImage();
    const auto ratio = static_cast<int>(ScreenRatio());
    EXPECT_EQ(shown.pixel(40 * ratio, 2 * ratio), qRgb(200, 100, 40));
    EXPECT_NE(shown.pixel(40 * ratio, 32 * ratio), qRgb(200, 100, 40));
}

TEST_F(EditingTest, EveryCellEditIsOneUndoStepAndTheProjectKeepsIt)
{
    form.DrawColumn(true, true, 40, 0);
    form.DrawRow(true, true, 0, 30);
    form.SaveProject(form.ProjectFileName);
    form.UndoStack()->clear();
    form.Actions().Cells1->trigger();
    form.SelectCell(TCellRef { 1, 2 });
    TCellPanel& panel = *form.CellPanel();
    panel.ChooseColor = [](const QColor&) { return QColor(0x12, 0x34, 0x56); };

    struct Change {
        const char* what;
        std::function<void()> make;
        std::function<void(TCellProperties&)> expected;
    };
    const Change changes[] = {
        { "name", [&] { TypeInto(panel.edtName, "header"); }, [](TCellProperties& p) { p.Name = "header"; } },
        { "alt", [&] { TypeInto(panel.edtAlt, "Logo & \"co\""); },
            [](TCellProperties& p) { p.Alt = "Logo & \"co\""; } },
        { "link", [&] { TypeInto(panel.edtLink, "https://example.com/?a=1&b=2"); },
            [](TCellProperties& p) { p.Link = "https://example.com/?a=1&b=2"; } },
        { "span", [&] { panel.speSpanRows->setValue(2); }, [](TCellProperties& p) { p.SpanRows = 2; } },
        { "fill colour", [&] { panel.btnFillColor->click(); },
            [](TCellProperties& p) {
                p.Fill = TCellFill::Color;
                p.FillColor = RGB(0x12, 0x34, 0x56);
            } },
        { "fill auto", [&] { panel.cbFill->setCurrentIndex(2); },
            [](TCellProperties& p) { p.Fill = TCellFill::Auto; } },
        { "format", [&] { panel.cbFormat->setCurrentIndex(panel.cbFormat->findData("png")); },
            [](TCellProperties& p) { p.Format = "png"; } },
        { "skip", [&] { panel.cbxSkip->click(); }, [](TCellProperties& p) { p.Skip = true; } },
        { "text", [&] { TypeInto(panel.edtText, "Open daily\\n9 to 5"); },
            [](TCellProperties& p) { p.Text = "Open daily\\n9 to 5"; } },
        { "text size", [&] { panel.speTextSize->setValue(18); },
            [](TCellProperties& p) { p.TextSize = 18; } },
        { "text colour", [&] { TypeInto(panel.edtTextColor, "1d3557"); },
            [](TCellProperties& p) { p.TextColor = RGB(0x1D, 0x35, 0x57); } },
        { "align", [&] { panel.cbTextAlign->setCurrentIndex(2); },
            [](TCellProperties& p) { p.TextAlign = TTextAlign::Center; } },
        { "weight", [&] { panel.cbTextWeight->setCurrentIndex(2); },
            [](TCellProperties& p) { p.TextWeight = TTextWeight::Bold; } },
        { "padding", [&] { TypeInto(panel.edtTextPadding, "4 8"); },
            [](TCellProperties& p) {
                p.TextPadding = std::array<int, 4> { 4, 8, 4, 8 };
            } },
        { "button", [&] { TypeInto(panel.edtButton, "Order now"); },
            [](TCellProperties& p) { p.Button = "Order now"; } },
        { "radius", [&] { panel.speButtonRadius->setValue(0); },
            [](TCellProperties& p) { p.ButtonRadius = 0; } },
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        change.make();
        ASSERT_EQ(form.UndoStack()->count(), 1);
        TCellPropertyMap edited;
        change.expected(edited[TCellRef { 1, 2 }]);
        EXPECT_EQ(form.CellProperties(), edited);
        EXPECT_TRUE(form.IsModified());
        EXPECT_TRUE(panel.Refusal().isEmpty()) << panel.Refusal().toStdString();

        form.Actions().Undo1->trigger();
        EXPECT_TRUE(form.CellProperties().empty());
        EXPECT_FALSE(form.IsModified());
        EXPECT_TRUE(panel.edtName->text().isEmpty() && panel.edtAlt->text().isEmpty());
        EXPECT_EQ(panel.speSpanRows->value(), 1);

        form.Actions().Redo1->trigger();
        EXPECT_EQ(form.CellProperties(), edited);
        EXPECT_TRUE(form.IsModified());

        form.Actions().Undo1->trigger();
        form.UndoStack()->clear();
    }

    // A cell holds text or a button, not both; the fields show what it holds.
    TypeInto(panel.edtText, "Open");
    TypeInto(panel.edtButton, "Order");
    EXPECT_EQ(panel.Refusal(), "Cell R1C2 cannot hold both text and a button.");
    EXPECT_EQ(form.UndoStack()->count(), 1);
    EXPECT_EQ(panel.edtText->text(), "Open");
    EXPECT_TRUE(panel.edtButton->text().isEmpty());
    form.Actions().Undo1->trigger();
    form.UndoStack()->clear();

    form.SelectCell(TCellRef { 1, 1 });
    TypeInto(panel.edtAlt, "Logo");
    panel.speSpanColumns->setValue(2);
    panel.cbFill->setCurrentIndex(2);
    form.SelectCell(TCellRef { 2, 1 });
    TypeInto(panel.edtName, "footer");
    const TCellPropertyMap edited = form.CellProperties();
    ASSERT_EQ(edited.size(), 2u);
    form.SaveProject(form.ProjectFileName);
    EXPECT_EQ(ReadProjectFile(form.ProjectFileName, "").Cells, edited);
    const std::string project = form.ProjectFileName;
    form.New1Click();
    EXPECT_TRUE(form.CellProperties().empty());
    form.LoadProject(project);
    EXPECT_EQ(form.CellProperties(), edited);
    form.SelectCell(TCellRef { 1, 2 });
    EXPECT_EQ(form.SelectedCell(), (TCellRef { 1, 1 }));
    EXPECT_EQ(panel.edtAlt->text(), "Logo");
    EXPECT_EQ(panel.speSpanColumns->value(), 2);
}

TEST_F(EditingTest, ACellEditTheCoreRefusesKeepsTheLastValidStateAndShowsItsMessage)
{
    form.DrawColumn(true, true, 40, 0);
    form.DrawColumn(true, true, 80, 0);
    form.DrawRow(true, true, 0, 30);
    form.Actions().Cells1->trigger();
    TCellPanel& panel = *form.CellPanel();
    form.SelectCell(TCellRef { 1, 2 });
    panel.speSpanRows->setValue(2);
    form.UndoStack()->clear();
    const TCellPropertyMap valid = form.CellProperties();
    const auto with = [&valid](TCellRef cell, const std::function<void(TCellProperties&)>& change) {
        TCellPropertyMap cells = valid;
        change(cells[cell]);
        return cells;
    };

    struct Refusal {
        const char* what;
        TCellRef cell;
        std::function<void()> make;
        std::string expected;
    };
    const Refusal refusals[] = {
        { "a span over another", { 2, 1 }, [&] { panel.speSpanColumns->setValue(2); }, CoreRefusal([&] {
             CheckCellLayout(with({ 2, 1 }, [](auto& p) { p.SpanColumns = 2; }), 2, 3);
         }) },
        { "a span off the grid", { 1, 3 }, [&] { panel.speSpanColumns->setValue(2); }, CoreRefusal([&] {
             CheckCellLayout(with({ 1, 3 }, [](auto& p) { p.SpanColumns = 2; }), 2, 3);
         }) },
        { "a path in the name", { 1, 1 }, [&] { TypeInto(panel.edtName, "a/b"); }, CoreRefusal([] {
             CheckCellName("a/b", { 1, 1 });
         }) },
        { "a name another cell has", { 1, 1 }, [&] { TypeInto(panel.edtName, "R1_C3"); }, CoreRefusal([&] {
             CheckCellNames(with({ 1, 1 }, [](auto& p) { p.Name = "R1_C3"; }), "", "page", 2, 3);
         }) },
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        form.SelectCell(refusal.cell);
        refusal.make();
        EXPECT_EQ(panel.Refusal().toStdString(), refusal.expected);
        EXPECT_EQ(form.CellProperties(), valid);
        EXPECT_EQ(form.UndoStack()->count(), 0);
        EXPECT_EQ(panel.speSpanColumns->value(), 1);
        EXPECT_TRUE(panel.edtName->text().isEmpty());
    }
    EXPECT_EQ(services.exclamations, static_cast<int>(std::size(refusals)));
}

// What the run would refuse is refused at the edit, with its reason.
TEST_F(EditingTest, AnAutoFillOverTwoColoursOrALinkOnASkippedCellIsRefused)
{
    TBitmap halves;
    halves.SetSize(120, 80);
    halves.Canvas().SetBrushColor(RGB(200, 100, 40));
    halves.Canvas().FillRect(TRect { 0, 0, 120, 80 });
    halves.Canvas().SetBrushColor(RGB(20, 40, 60));
    halves.Canvas().FillRect(TRect { 60, 0, 120, 80 });
    answer = folder / "halves.bmp";
    halves.SaveToFile(answer);
    form.mnuOpenImageClick();
    form.DrawColumn(true, true, 40, 0);
    form.Actions().Cells1->trigger();
    TCellPanel& panel = *form.CellPanel();

    form.SelectCell(TCellRef { 1, 1 });
    panel.cbFill->setCurrentIndex(2);
    EXPECT_TRUE(panel.Refusal().isEmpty()) << panel.Refusal().toStdString();
    form.SelectCell(TCellRef { 1, 2 });
    panel.cbFill->setCurrentIndex(2);
    EXPECT_EQ(panel.Refusal(), "Cell R1C2 is not one flat colour, so Fill=auto cannot paint it.");
    panel.cbxSkip->click();
    TypeInto(panel.edtLink, "https://example.com/");
    EXPECT_EQ(panel.Refusal(), "Cell R1C2 is skipped, so a link on it would lead nowhere.");

    TCellPropertyMap expected;
    expected[TCellRef { 1, 1 }].Fill = TCellFill::Auto;
    expected[TCellRef { 1, 2 }].Skip = true;
    EXPECT_EQ(form.CellProperties(), expected);
}

} // namespace
} // namespace sw
