#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "desktop/app/application.h"
#include "desktop/editor/form_children.h"
#include "desktop/editor/main_actions.h"
#include "desktop/editor/main_form.h"
#include "desktop/shell/fake_services.h"
#include "desktop/shell/handler_guard.h"
#include "support/temp_folder.h"

#include <QApplication>
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QTest>
#include <QToolButton>
#include <QWindow>
#include <gtest/gtest.h>

#include <functional>

namespace sw {

void PrintTo(const TCutLineEntry& line, std::ostream* out)
{
    *out << line.Caption << (line.Checked ? " (checked)" : "");
}

namespace {

TCutLines Entries(std::initializer_list<std::pair<const char*, bool>> entries)
{
    TCutLines lines;
    for (const auto& [caption, checked] : entries)
        lines.push_back(TCutLineEntry { caption, checked });
    return lines;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    }

    // Types text over an entry's caption and presses Return, as a user does.
    void EditCaption(TCutLineList* list, int row, const QString& text)
    {
        QTreeWidgetItem* item = list->topLevelItem(row);
        list->setCurrentItem(item);
        list->editItem(item, 0);
        auto* editor = list->viewport()->findChild<QLineEdit*>();
        ASSERT_NE(editor, nullptr);
        editor->setText(text);
        QTest::keyClick(editor, Qt::Key_Return);
        // The delegate commits and closes the editor through a queued call.
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Unticked columns at 12, 34, 48 and rows at 20, 60.
    void AddUncheckedLines()
    {
        for (int x : { 12, 34, 48 })
            form.DrawColumn(true, false, x, 0);
        for (int y : { 20, 60 })
            form.DrawRow(true, false, 0, y);
    }

    // The title as the window system shows it, modified marker resolved.
    QString Caption() const { return form.windowHandle()->title(); }

    FakeServices services;
    TMainForm form;
};

TEST_F(MainFormTest, StartsWithoutLinesInColumnMode)
{
    EXPECT_EQ(MainForm, &form);
    EXPECT_EQ(Caption(), "Slicewright");
    EXPECT_FALSE(form.IsModified());
    // The dialogs' font.
    EXPECT_EQ(form.font().family(), QApplication::font().family());
    EXPECT_EQ(form.font().pointSize(), 8);
    // Lines left over from the window's making would cut the next picture.
    EXPECT_TRUE(form.ColumnList()->Lines().empty());
    EXPECT_TRUE(form.RowList()->Lines().empty());
    EXPECT_EQ(Child<QLabel>(form, "lblCounts")->text(), "0 columns, 0 rows, 1 cells");
    EXPECT_EQ(form.DrawMode, TDrawMode::dmColumn);
    EXPECT_TRUE(Child<QToolButton>(form, "tbtnColumn")->isChecked());
    EXPECT_FALSE(Child<QToolButton>(form, "tbtnRow")->isChecked());
    EXPECT_EQ(form.GridBox()->size(), QSize(105, 105));
    // The transparent colour is the unresolved button-face reference.
    EXPECT_EQ(form.TransparentPanel()->Color(), clNone);
    EXPECT_EQ(form.TransparentPanel()->size(), QSize(89, 22));
    EXPECT_EQ(form.TransparentPanel()->Caption(), "Transparent");
    EXPECT_EQ(form.ColumnList()->headerItem()->text(0), "Position");
    form.DrawColumn(true, true, 12, 0);
    form.DrawRow(true, true, 0, 20);
    EXPECT_EQ(form.ColumnList()->topLevelItem(0)->icon(0).cacheKey(), form.ilstImages[1].cacheKey());
    EXPECT_EQ(form.RowList()->topLevelItem(0)->icon(0).cacheKey(), form.ilstImages[2].cacheKey());
}

TEST_F(MainFormTest, CommandsShareOneActionWithTheirToolButtons)
{
    struct Command {
        const char* name;
        const char* caption;
        int icon;
        const char* button;
        bool enabled;
        const char* hint;
        const char* shortcut = "";
    };
    const Command commands[] = {
        { "New1", "&New", 3, "ToolButton1", true, nullptr, "Ctrl+N" },
        { "Open1", "&Open...", 4, "ToolButton3", true, nullptr, "Ctrl+O" },
        { "Save1", "&Save", 5, "ToolButton4", true, nullptr, "Ctrl+S" },
        { "Saveas1", "Save &as...", -1, nullptr, true, nullptr, "Ctrl+Shift+S" },
        { "Transparentcolor1", "&Transparent color", -1, nullptr, true,
            "The next color that you click on on the image will be set as the transparent color" },
        { "mnuOpenImage", "O&pen image...", 0, "tbtnOpenImage", true,
            "Open an image|Open an image to be cut up" },
        { "Generate1", "&Generate...", -1, nullptr, true, nullptr },
        { "mnuExit", "E&xit", -1, nullptr, true, "Exit|Exit this application", "Ctrl+Q" },
        { "Column1", "&Column", 1, "tbtnColumn", true, "Column|Insert a column" },
        { "Row1", "&Row", 2, "tbtnRow", true, "Row|Insert a row" },
        { "Clear1", "&Clear...", -1, nullptr, true, nullptr },
        { "Clearunchecked1", "C&lear unchecked...", -1, nullptr, true, nullptr },
        { "About1", "&About...", -1, nullptr, true, nullptr, "F1" },
    };
    for (const Command& c : commands) {
        SCOPED_TRACE(c.name);
        auto* action = form.findChild<QAction*>(c.name);
        ASSERT_NE(action, nullptr);
        EXPECT_EQ(action->text(), c.caption);
        EXPECT_EQ(action->isEnabled(), c.enabled);
        EXPECT_EQ(action->shortcut().toString(), c.shortcut);
        if (c.button) {
            EXPECT_FALSE(action->toolTip().isEmpty());
        }
        if (c.icon >= 0) {
            EXPECT_EQ(action->icon().cacheKey(), form.ilstImages[c.icon].cacheKey());
        } else {
            EXPECT_TRUE(action->icon().isNull());
        }
        EXPECT_EQ(action->property("hint").toString(), c.hint ? c.hint : "");
        if (c.button) {
            auto* button = form.findChild<QToolButton*>(c.button);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->defaultAction(), action);
        }
    }
}

TEST_F(MainFormTest, ModeCommandsKeepMenuAndButtonsInStep)
{
    Child<QToolButton>(form, "tbtnRow")->click();
    EXPECT_EQ(form.DrawMode, TDrawMode::dmRow);
    EXPECT_TRUE(form.Actions().Row1->isChecked());
    EXPECT_FALSE(form.Actions().Column1->isChecked());
    EXPECT_FALSE(Child<QToolButton>(form, "tbtnColumn")->isChecked());

    form.Actions().Column1->trigger();
    EXPECT_EQ(form.DrawMode, TDrawMode::dmColumn);
    EXPECT_TRUE(Child<QToolButton>(form, "tbtnColumn")->isChecked());
    EXPECT_FALSE(Child<QToolButton>(form, "tbtnRow")->isChecked());
}

TEST_F(MainFormTest, AddedLinesSortNumericallyAndALineWhereOneIsIsRefused)
{
    form.New1Click();
    for (int x : { 100, 20, 5 })
        form.DrawColumn(true, true, x, 0);
    EXPECT_EQ(form.ColumnList()->Lines(), Entries({ { "5", true }, { "20", true }, { "100", true } }));
    EXPECT_EQ(services.exclamations, 0);

    // Two lines at one place would cancel each other's XOR dots.
    form.DrawColumn(true, false, 20, 0);
    form.DrawColumn(true, true, 10, 0);
    EXPECT_EQ(form.ColumnList()->Lines(),
        Entries({ { "5", true }, { "10", true }, { "20", true }, { "100", true } }));
    EXPECT_EQ(services.exclamations, 1);

    // Rows and columns are apart: a row may lie where a column does.
    for (int y : { 60, 9, 60, 20 })
        form.DrawRow(true, y != 9, 0, y);
    EXPECT_EQ(form.RowList()->Lines(), Entries({ { "9", false }, { "20", true }, { "60", true } }));
    EXPECT_EQ(services.exclamations, 2);
}

TEST_F(MainFormTest, LinesOutsideTheGridAreRefusedWithABeep)
{
    form.New1Click();
    // A column uses only x and a row only y; the other coordinate is ignored.
    for (int x : { 0, -1, 105, 1000 })
        form.DrawColumn(true, true, x, 50);
    for (int y : { 0, 105 })
        form.DrawRow(true, true, 50, y);
    EXPECT_EQ(services.exclamations, 6);
    EXPECT_TRUE(form.ColumnList()->Lines().empty());
    EXPECT_TRUE(form.RowList()->Lines().empty());

    form.DrawColumn(true, true, 104, 500);
    form.DrawColumn(true, true, 1, 0);
    form.DrawRow(true, false, 500, 104);
    EXPECT_EQ(form.ColumnList()->Lines(), Entries({ { "1", true }, { "104", true } }));
    EXPECT_EQ(form.RowList()->Lines(), Entries({ { "104", false } }));
    EXPECT_EQ(services.exclamations, 6);

    // Without the add flag nothing is added and nothing beeps.
    form.DrawColumn(false, true, 50, 0);
    form.DrawColumn(false, true, 0, 0);
    EXPECT_EQ(form.ColumnList()->Lines().size(), 2u);
    EXPECT_EQ(services.exclamations, 6);
}

TEST_F(MainFormTest, ClearCommandsAskFirstAndRemoveWhatTheySay)
{
    struct Case {
        void (TMainForm::*command)();
        const char* question;
        bool answer;
        TCutLines columns;
        TCutLines rows;
    };
    const Case cases[] = {
        { &TMainForm::Clear1Click, "Remove all items?", false, Entries({ { "7", true }, { "30", false } }),
            Entries({ { "40", false } }) },
        { &TMainForm::Clear1Click, "Remove all items?", true, {}, {} },
        { &TMainForm::Clearunchecked1Click, "Remove unchecked items?", false,
            Entries({ { "7", true }, { "30", false } }), Entries({ { "40", false } }) },
        { &TMainForm::Clearunchecked1Click, "Remove unchecked items?", true, Entries({ { "7", true } }), {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question + std::string(c.answer ? " Yes" : " No"));
        form.New1Click();
        form.DrawColumn(true, false, 30, 0);
        form.DrawColumn(true, true, 7, 0);
        form.DrawRow(true, false, 0, 40);
        services.questions = 0;
        services.confirmations.clear();
        services.answer = c.answer;
        const int repaints = form.GridRepaintRequests();

        (form.*c.command)();
        EXPECT_EQ(services.questions, 1);
        EXPECT_EQ(services.confirmations, QStringList { c.question });
        EXPECT_EQ(form.ColumnList()->Lines(), c.columns);
        EXPECT_EQ(form.RowList()->Lines(), c.rows);
        EXPECT_EQ(form.GridRepaintRequests() > repaints, c.answer);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
}

TEST_F(MainFormTest, ClearUncheckedWithOnlyCheckedLinesStillRepaints)
{
    form.New1Click();
    form.DrawColumn(true, true, 8, 0);
    form.DrawRow(true, true, 0, 9);
    const int repaints = form.GridRepaintRequests();
    form.ClearLines(false);
    EXPECT_EQ(form.ColumnList()->Lines(), Entries({ { "8", true } }));
    EXPECT_EQ(form.RowList()->Lines(), Entries({ { "9", true } }));
    EXPECT_GT(form.GridRepaintRequests(), repaints);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainFormTest, UntickingKeepsTheEntryAndMarksTheGridForRepaint)
{
    AddUncheckedLines();
    QTreeWidgetItem* item = form.ColumnList()->topLevelItem(1);
    item->setCheckState(0, Qt::Checked);
    const int repaints = form.GridRepaintRequests();
    item->setCheckState(0, Qt::Unchecked);
    EXPECT_GT(form.GridRepaintRequests(), repaints);
    EXPECT_EQ(form.ColumnList()->Lines(), Entries({ { "12", false }, { "34", false }, { "48", false } }));
}

TEST_F(MainFormTest, ListColumnFollowsTheLeftPanelWidth)
{
    Child<QSplitter>(form, "Splitter1")
        ->setSizes({ 300, Child<QSplitter>(form, "Splitter1")->width() - 300 });
    ASSERT_EQ(Child<QFrame>(form, "pnlInfo")->width(), 300);
    EXPECT_EQ(form.ColumnList()->columnWidth(0), 270);
    EXPECT_EQ(form.RowList()->columnWidth(0), 270);
}

TEST_F(MainFormTest, CaptionEditsAreStoredAsNumbersAndResorted)
{
    AddUncheckedLines();
    EditCaption(form.ColumnList(), 0, QStringLiteral(" 0x3C")); // 12 becomes 60
    EXPECT_EQ(form.ColumnList()->Lines(), Entries({ { "34", false }, { "48", false }, { "60", false } }));
    EXPECT_EQ(services.exclamations, 0);

    // Text that is no whole number, a position off the 105-pixel grid or
    // one another entry holds leaves the caption as it was and beeps.
    const QString refused[] = { "abc", "12px", "", "0", "105", "0x14" };
    for (const QString& text : refused) {
        SCOPED_TRACE(text.toStdString());
        EditCaption(form.RowList(), 1, text);
        EXPECT_EQ(form.RowList()->Lines(), Entries({ { "20", false }, { "60", false } }));
    }
    EXPECT_EQ(services.exclamations, 6);

    EditCaption(form.RowList(), 1, QStringLiteral("60"));
    EditCaption(form.RowList(), 1, QStringLiteral("104"));
    EXPECT_EQ(form.RowList()->Lines(), Entries({ { "20", false }, { "104", false } }));
}

TEST_F(MainFormTest, NewEmptiesBothListsAndResetsTheProject)
{
    form.DrawColumn(true, true, 70, 0);
    Child<QToolButton>(form, "tbtnRow")->click();
    form.PictureFileName = "/pictures/page.jpg";
    form.ProjectFileName = "/projects/page.swr";
    form.ShowProjectCaption();
    EXPECT_EQ(Caption(), "Slicewright - [page.swr]*");

    form.Actions().New1->trigger();
    EXPECT_TRUE(form.ColumnList()->Lines().empty());
    EXPECT_TRUE(form.RowList()->Lines().empty());
    EXPECT_EQ(form.ProjectFileName, "*");
    EXPECT_EQ(Caption(), "Slicewright");
    // Only the unsaved-changes question, answered Discard.
    EXPECT_EQ(services.saveQuestions, QStringList { "Save the changes to \"page.swr\"?" });
    EXPECT_TRUE(services.confirmations.isEmpty());
    // What New leaves alone.
    EXPECT_EQ(form.PictureFileName, "/pictures/page.jpg");
    EXPECT_EQ(form.DrawMode, TDrawMode::dmRow);
    EXPECT_EQ(form.GridBox()->size(), QSize(105, 105));
}

TEST_F(MainFormTest, ExitAsksAboutUnsavedChangesOnlyWhenThereAreSome)
{
    form.Actions().mnuExit->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(services.saveQuestions.isEmpty());

    form.show();
    form.DrawColumn(true, true, 70, 0);
    services.saveAnswer = SaveChangesAnswer::Cancel;
    form.Actions().mnuExit->trigger();
    EXPECT_TRUE(form.isVisible());
    services.saveAnswer = SaveChangesAnswer::Discard;
    form.Actions().mnuExit->trigger();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(services.saveQuestions.size(), 2);
    EXPECT_TRUE(services.confirmations.isEmpty());
}

TEST_F(MainFormTest, EveryChangeToTheProjectMarksItModified)
{
    struct Change {
        const char* name;
        std::function<void()> make;
    };
    const test::TempFolder folder;
    const std::string project = folder / "marks.swr";
    const Change changes[] = {
        { "add", [&] { form.DrawRow(true, true, 0, 50); } },
        { "tick", [&] { form.ColumnList()->topLevelItem(0)->setCheckState(0, Qt::Checked); } },
        { "edit", [&] { EditCaption(form.ColumnList(), 0, QStringLiteral("13")); } },
        { "clear", [&] { form.ClearLines(true); } },
        { "clear unchecked", [&] { form.ClearLines(false); } },
        { "colour",
            [&] {
                form.Actions().Transparentcolor1->trigger();
                form.pbGridMouseUp(Qt::LeftButton, {}, 5, 5);
            } },
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        form.New1Click();
        for (int x : { 12, 34 })
            form.DrawColumn(true, false, x, 0);
        form.SaveProject(project);
        ASSERT_FALSE(form.IsModified());
        change.make();
        EXPECT_TRUE(form.IsModified());
        EXPECT_TRUE(Caption().endsWith('*'));
    }
    // What leaves the project as it was does not.
    form.New1Click();
    form.DrawColumn(true, true, 5, 0);
    form.SaveProject(project);
    form.DrawColumn(true, true, 5, 0); // refused: one is there
    form.DrawColumn(true, true, 0, 0); // refused: off the grid
    form.ClearLines(false); // nothing unchecked
    EXPECT_FALSE(form.IsModified());
}

TEST_F(MainFormTest, TheSaveQuestionDecidesWhetherNewGoesOn)
{
    struct Case {
        SaveChangesAnswer answer;
        bool saveDialogConfirmed;
        bool emptied;
        int dialogs;
    };
    const Case cases[] = {
        { SaveChangesAnswer::Cancel, true, false, 0 },
        { SaveChangesAnswer::Discard, true, true, 0 },
        { SaveChangesAnswer::Save, true, true, 1 },
        // Save as cancelled saves nothing, so nothing may be thrown away.
        { SaveChangesAnswer::Save, false, false, 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer) * 2 + c.saveDialogConfirmed);
        const test::TempFolder folder;
        const std::string project = folder / "modified.swr";
        int dialogs = 0;
        form.RunFileDialog = [&](QFileDialog& dialog) {
            ++dialogs;
            dialog.selectFile(QString::fromStdString(project));
            return c.saveDialogConfirmed;
        };
        form.New1Click();
        form.DrawColumn(true, true, 70, 0);
        services.saveAnswer = c.answer;
        form.Actions().New1->trigger();
        EXPECT_EQ(form.ColumnList()->Lines().empty(), c.emptied);
        EXPECT_EQ(form.IsModified(), !c.emptied);
        EXPECT_EQ(dialogs, c.dialogs);
        EXPECT_EQ(FileExists(project), c.answer == SaveChangesAnswer::Save && c.saveDialogConfirmed);
        services.saveAnswer = SaveChangesAnswer::Discard;
    }
}

TEST(ApplicationIconTest, TheBuiltInIconIsThereInEverySize)
{
    const QIcon icon = ApplicationIcon();
    ASSERT_FALSE(icon.isNull());
    for (const int size : { 16, 32, 256 })
        EXPECT_EQ(icon.pixmap(size).width(), size);
}

TEST(ErrorBoxTest, ShowsTheMessageWithTheFullStopRule)
{
    FakeServices services;
    ShowException(EConvertError("'abc' is not a valid integer value"));
    ShowException(EJPEG("Done!"));
    ShowException(EInOutError("File not found (2)"));
    EXPECT_EQ(services.errors,
        (QStringList { "'abc' is not a valid integer value.", "Done!", "File not found (2)" }));
}

} // namespace
} // namespace sw
