#pragma once

// The project being edited, apart from the widgets that show it: the cut
// lines, the state as last recorded, its undo history, whether it has
// unsaved changes, the values of its file the editor keeps without editing
// them, and saving. The lists and the picture view show the lines and send
// the commands that change them; the main window records each change and
// shows what an undo brings back.

#include "core/project/project_file.h"
#include "desktop/editor/edit_history.h"

#include <QObject>

#include <cstdint>
#include <optional>
#include <string>

class QUndoStack;

namespace sw {

class TEditorDocument : public QObject {
    Q_OBJECT
public:
    explicit TEditorDocument(QObject* parent = nullptr);

    QUndoStack* UndoStack() const { return m_undoStack; }

    // The cut lines, columns (vertical) or rows, each in ascending order.
    // They run ahead of State() while a change of several steps is made.
    const TEditorLines& Lines(bool vertical) const { return vertical ? m_columns : m_rows; }
    // The commands on the lines, each told to the views by a signal below.
    // Indexes count within one list; positions and ticks are taken as they
    // are: the bounds and duplicate tests are the caller's. A new line goes
    // after those at its place; a moved one keeps its rank among equals.
    int AddLine(bool vertical, int32_t position, bool checked);
    // Gives the line's new index.
    int MoveLine(bool vertical, int index, int32_t position);
    void CheckLine(bool vertical, int index, bool checked);
    void RemoveLine(bool vertical, int index);
    // Removes every line, or the unticked ones; gives how many went.
    int RemoveLines(bool all);
    // Shows the lines of a state, as an undo brings them back.
    void ShowLines(const TEditorLines& columns, const TEditorLines& rows);

    // The state as last recorded.
    const TProjectState& State() const { return m_state; }
    // The project's [Cells] properties. The document is their store: they
    // change by a recorded state, by New (none) and by Loaded (the file's).
    const TCellPropertyMap& Cells() const { return m_state.Cells; }
    // The transparent colour, stored the same way.
    TColor TransparentColor() const { return m_state.TransparentColor; }
    // Takes state, already shown, as one undo step when it differs from
    // the last recorded; the step's undo and redo emit Restored.
    void Record(TProjectState state);
    // Forgets the history: state becomes the saved one.
    void Reset(TProjectState state);
    // The picture's file was read again: every state, recorded or in the
    // history, that showed stale shows the picture and grid size of fresh,
    // so no undo brings back pixels the file no longer has.
    void ReplacePicture(const TBitmap* stale, const TProjectState& fresh);

    // Whether there are unsaved changes: an undo step since the last save
    // or reset, or a change that has none (a picture that could not be
    // read, the Generate dialog's values). Clearing it makes the state
    // shown the saved one, which an undo can leave again.
    bool IsModified() const { return m_modified; }
    void SetModified(bool modified);
    // Modified exactly when the history has steps since the saved state:
    // after a change taken back by hand, such as a drag that ends where it
    // began, nothing is left unsaved.
    void TakeModifiedFromHistory();

    // A new project: no stored picture path and no cell properties, the
    // values a project made here starts with.
    void New();
    // The kept values, the cell properties and the transparent colour of a
    // project just read.
    void Loaded(const TLoadedProject& project, TColor transparentColor);
    // Writes project, with the kept values and the transparent colour the
    // window shows, to fileName and clears the modified state; a failed save
    // leaves both as they were.
    void Save(const std::string& fileName, TProjectData project, TColor transparentColor);

    // The [Output] section: the cell format and run settings, written back
    // as read; a project made here starts on the auto format.
    std::optional<TOutputValues> Output;
    // The picture path as the project file held it, written back unchanged
    // while it names the same picture.
    std::string StoredPictureFileName;

signals:
    // An undo or redo brought state back; the viewers show it.
    void Restored(const sw::TProjectState& state);
    void ModifiedChanged(bool modified);
    void LineInserted(bool vertical, int index);
    void LineRemoved(bool vertical, int index);
    void LineMoved(bool vertical, int from, int to);
    void LineChecked(bool vertical, int index);
    // Every line may have changed.
    void LinesReset();

private:
    void SetModifiedFlag(bool modified);

    TEditorLines& LinesOf(bool vertical) { return vertical ? m_columns : m_rows; }

    QUndoStack* m_undoStack = nullptr;
    TEditorLines m_columns;
    TEditorLines m_rows;
    TProjectState m_state;
    bool m_modified = false;
};

} // namespace sw
