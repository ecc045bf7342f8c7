#pragma once

// What undo and redo work on: the whole editable state of a project as
// plain data, and one undo command that swaps two such states. Every change
// is recorded the same way, by comparing the state after it with the state
// before, so a new kind of change needs no command of its own.

#include "core/base/colors.h"
#include "core/imaging/bitmap.h"
#include "core/layout/cell_grid.h"
#include "core/project/cell_properties.h"

#include <QString>
#include <QUndoCommand>

#include <functional>
#include <memory>
#include <string>

namespace sw {

struct TProjectState {
    TEditorLines Columns;
    TEditorLines Rows;
    std::string PictureFileName;
    // The picture shown; shared, never changed once made. Null for none.
    std::shared_ptr<const TBitmap> Picture;
    // The grid's size in picture pixels.
    int GridWidth = 0;
    int GridHeight = 0;
    TColor TransparentColor = clNone;
    TCellPropertyMap Cells;
    // The project's Scale while the picture is drawn at it (SVG, PDF), so
    // undoing a new scale restores the render with its scale; 0 otherwise.
    int DesignScale = 0;

    bool operator==(const TProjectState&) const = default;
};

// The undo text of the change from one state to the next, such as
// "Add column 120" or "Move row 40 to 44".
QString DescribeChange(const TProjectState& before, const TProjectState& after);

class TStateCommand : public QUndoCommand {
public:
    // The change has happened already: the first redo does nothing.
    TStateCommand(TProjectState before, TProjectState after, std::function<void(const TProjectState&)> apply);

    void undo() override;
    void redo() override;

    // Gives both states that show stale the picture and grid size of fresh,
    // once the picture's file was read again: the history never brings back
    // pixels the file no longer has.
    void ReplacePicture(const TBitmap* stale, const TProjectState& fresh);

private:
    TProjectState m_before;
    TProjectState m_after;
    std::function<void(const TProjectState&)> m_apply;
    bool m_done = true;
};

} // namespace sw
