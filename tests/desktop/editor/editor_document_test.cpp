#include "desktop/editor/editor_document.h"

#include "support/temp_folder.h"

#include <QUndoStack>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sw {
namespace {

TProjectState WithColumns(std::initializer_list<int32_t> positions)
{
    TProjectState state;
    for (const int32_t position : positions)
        state.Columns.push_back({ position, true });
    return state;
}

// Undo and redo hand the viewers the states recorded, and the modified
// state follows the history from the last save.
TEST(EditorDocument, UndoBringsBackRecordedStatesAndModifiedFollowsTheSave)
{
    TEditorDocument document;
    std::vector<TProjectState> restored;
    QObject::connect(&document, &TEditorDocument::Restored,
        [&](const TProjectState& state) { restored.push_back(state); });
    document.Reset(WithColumns({}));
    document.Record(WithColumns({ 10 }));
    document.Record(WithColumns({ 10 })); // no change, no step
    document.Record(WithColumns({ 10, 20 }));
    EXPECT_EQ(document.UndoStack()->count(), 2);
    EXPECT_TRUE(document.IsModified());

    const test::TempFolder folder;
    const std::string project = folder / "p.swr";
    document.StoredPictureFileName = "page.png";
    document.Output = TOutputValues { { "Format", "png" } };
    document.Save(project, TProjectData { "/elsewhere/page.png", {}, {} }, clNone);
    EXPECT_FALSE(document.IsModified());
    const TLoadedProject saved = ReadProjectFile(project, "");
    EXPECT_EQ(saved.PictureFileName, "/elsewhere/page.png");
    EXPECT_EQ(saved.Output, document.Output);

    document.UndoStack()->undo();
    EXPECT_EQ(restored.back(), WithColumns({ 10 }));
    EXPECT_EQ(document.State(), WithColumns({ 10 }));
    EXPECT_TRUE(document.IsModified());
    document.UndoStack()->redo();
    EXPECT_EQ(restored.back(), WithColumns({ 10, 20 }));
    EXPECT_FALSE(document.IsModified());

    // A change without a step, then one taken back by hand.
    document.SetModified(true);
    EXPECT_TRUE(document.IsModified());
    document.TakeModifiedFromHistory();
    EXPECT_FALSE(document.IsModified());

    // A save that fails leaves the project unsaved.
    document.SetModified(true);
    EXPECT_THROW(document.Save(folder / "missing/p.swr", TProjectData {}, clNone), std::exception);
    EXPECT_TRUE(document.IsModified());
}

TEST(EditorDocument, APictureReadAgainReplacesTheOldOneInEveryState)
{
    TEditorDocument document;
    auto stale = std::make_shared<const TBitmap>();
    TProjectState before = WithColumns({});
    before.Picture = stale;
    document.Reset(before);
    TProjectState after = WithColumns({ 5 });
    after.Picture = stale;
    document.Record(after);

    TProjectState fresh;
    fresh.Picture = std::make_shared<const TBitmap>();
    fresh.GridWidth = 30;
    fresh.GridHeight = 20;
    document.ReplacePicture(stale.get(), fresh);
    EXPECT_EQ(document.State().Picture, fresh.Picture);
    EXPECT_EQ(document.State().GridWidth, 30);
    std::vector<TProjectState> restored;
    QObject::connect(&document, &TEditorDocument::Restored,
        [&](const TProjectState& state) { restored.push_back(state); });
    document.UndoStack()->undo();
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0].Picture, fresh.Picture);
    EXPECT_TRUE(restored[0].Columns.empty());
}

// The views follow the lines by the document's signals alone: each names
// the list and the indexes a list of entries needs to stay in step.
TEST(EditorDocument, LineCommandsTellTheViewsWhereTheyLanded)
{
    TEditorDocument document;
    std::vector<std::string> told;
    QObject::connect(&document, &TEditorDocument::LineInserted,
        [&](bool vertical, int index) { told.push_back((vertical ? "+c" : "+r") + std::to_string(index)); });
    QObject::connect(&document, &TEditorDocument::LineMoved, [&](bool, int from, int to) {
        told.push_back("m" + std::to_string(from) + ">" + std::to_string(to));
    });
    QObject::connect(&document, &TEditorDocument::LineChecked,
        [&](bool, int index) { told.push_back("c" + std::to_string(index)); });
    QObject::connect(&document, &TEditorDocument::LineRemoved,
        [&](bool, int index) { told.push_back("-" + std::to_string(index)); });
    QObject::connect(&document, &TEditorDocument::LinesReset, [&] { told.push_back("reset"); });

    EXPECT_EQ(document.AddLine(true, 40, true), 0);
    EXPECT_EQ(document.AddLine(true, 10, false), 0);
    EXPECT_EQ(document.AddLine(false, 7, true), 0);
    EXPECT_EQ(document.MoveLine(true, 0, 50), 1);
    document.CheckLine(true, 1, true);
    document.RemoveLine(false, 0);
    EXPECT_EQ(document.RemoveLines(false), 0);
    document.CheckLine(true, 0, false);
    EXPECT_EQ(document.RemoveLines(false), 1);
    EXPECT_EQ(told, (std::vector<std::string> { "+c0", "+c0", "+r0", "m0>1", "c1", "-0", "c0", "reset" }));
    EXPECT_EQ(document.Lines(true), (TEditorLines { { 50, true } }));
    EXPECT_TRUE(document.Lines(false).empty());
}

} // namespace
} // namespace sw
