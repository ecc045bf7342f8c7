#pragma once

// The project being edited, apart from the widgets that show it: the state
// as last recorded, its undo history, whether it has unsaved changes, the
// values of its file the editor keeps without editing them, and saving. The
// main window hands it each change and shows what an undo brings back.

#include "core/project/project_file.h"
#include "desktop/editor/edit_history.h"

#include <QObject>

#include <optional>
#include <string>

class QUndoStack;

namespace sw {

class TEditorDocument : public QObject {
    Q_OBJECT
public:
    explicit TEditorDocument(QObject* parent = nullptr);

    QUndoStack* UndoStack() const { return m_undoStack; }

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

private:
    void SetModifiedFlag(bool modified);

    QUndoStack* m_undoStack = nullptr;
    TProjectState m_state;
    bool m_modified = false;
};

} // namespace sw
