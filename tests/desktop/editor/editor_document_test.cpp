#include "desktop/editor/editor_document.h"

#include "support/temp_folder.h"

#include <QUndoStack>
#include <gtest/gtest.h>

#include <vector>

namespace sw {
namespace {

TProjectState WithColumns(std::initializer_list<const char*> captions)
{
    TProjectState state;
    for (const char* caption : captions)
        state.Columns.push_back({ caption, true });
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
    document.Record(WithColumns({ "10" }));
    document.Record(WithColumns({ "10" })); // no change, no step
    document.Record(WithColumns({ "10", "20" }));
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
    EXPECT_EQ(restored.back(), WithColumns({ "10" }));
    EXPECT_EQ(document.State(), WithColumns({ "10" }));
    EXPECT_TRUE(document.IsModified());
    document.UndoStack()->redo();
    EXPECT_EQ(restored.back(), WithColumns({ "10", "20" }));
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
    TProjectState after = WithColumns({ "5" });
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

} // namespace
} // namespace sw
