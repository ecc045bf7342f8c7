#include "desktop/editor/editor_document.h"

#include "core/generate/cell_format.h"

#include <QUndoStack>

#include <algorithm>
#include <utility>

namespace sw {

TEditorDocument::TEditorDocument(QObject* parent)
    : QObject(parent)
    , m_undoStack(new QUndoStack(this))
{
    m_undoStack->setObjectName(QStringLiteral("UndoStack"));
    // The saved state is the clean one: undoing back to it clears the marker.
    connect(m_undoStack, &QUndoStack::cleanChanged, this, [this](bool clean) { SetModifiedFlag(!clean); });
    New();
}

int TEditorDocument::AddLine(bool vertical, int32_t position, bool checked)
{
    const int index = static_cast<int>(InsertEditorLine(LinesOf(vertical), { position, checked }));
    emit LineInserted(vertical, index);
    return index;
}

int TEditorDocument::MoveLine(bool vertical, int index, int32_t position)
{
    const int to = static_cast<int>(MoveEditorLine(LinesOf(vertical), static_cast<size_t>(index), position));
    emit LineMoved(vertical, index, to);
    return to;
}

void TEditorDocument::CheckLine(bool vertical, int index, bool checked)
{
    LinesOf(vertical)[static_cast<size_t>(index)].Checked = checked;
    emit LineChecked(vertical, index);
}

void TEditorDocument::RemoveLine(bool vertical, int index)
{
    TEditorLines& lines = LinesOf(vertical);
    lines.erase(lines.begin() + index);
    emit LineRemoved(vertical, index);
}

int TEditorDocument::RemoveLines(bool all)
{
    int removed = 0;
    for (const bool vertical : { true, false }) {
        TEditorLines& lines = LinesOf(vertical);
        const size_t before = lines.size();
        if (all)
            lines.clear();
        else
            std::erase_if(lines, [](const TEditorLine& line) { return !line.Checked; });
        removed += static_cast<int>(before - lines.size());
    }
    if (removed > 0)
        emit LinesReset();
    return removed;
}

void TEditorDocument::ShowLines(const TEditorLines& columns, const TEditorLines& rows)
{
    m_columns = columns;
    m_rows = rows;
    emit LinesReset();
}

void TEditorDocument::Record(TProjectState state)
{
    if (state == m_state)
        return;
    TProjectState before = std::exchange(m_state, state);
    m_undoStack->push(
        new TStateCommand(std::move(before), std::move(state), [this](const TProjectState& target) {
            m_state = target;
            emit Restored(target);
        }));
}

void TEditorDocument::Reset(TProjectState state)
{
    m_undoStack->clear();
    m_state = std::move(state);
    SetModified(false);
}

void TEditorDocument::ReplacePicture(const TBitmap* stale, const TProjectState& fresh)
{
    if (m_state.Picture.get() == stale) {
        m_state.Picture = fresh.Picture;
        m_state.GridWidth = fresh.GridWidth;
        m_state.GridHeight = fresh.GridHeight;
    }
    for (int i = 0; i < m_undoStack->count(); ++i)
        if (auto* command = dynamic_cast<TStateCommand*>(const_cast<QUndoCommand*>(m_undoStack->command(i))))
            command->ReplacePicture(stale, fresh);
}

void TEditorDocument::SetModified(bool modified)
{
    if (!modified)
        m_undoStack->setClean();
    SetModifiedFlag(modified);
}

void TEditorDocument::TakeModifiedFromHistory()
{
    SetModifiedFlag(!m_undoStack->isClean());
}

void TEditorDocument::SetModifiedFlag(bool modified)
{
    if (modified == m_modified)
        return;
    m_modified = modified;
    emit ModifiedChanged(modified);
}

void TEditorDocument::New()
{
    // A project file that names no format keeps the web-cube GIF it was
    // made with; one made here starts on the format that keeps cells good.
    Output = TOutputValues { { "Format", ImageTypeName(TImageType::Auto) } };
    StoredPictureFileName.clear();
    m_state.Cells.clear();
    m_state.TransparentColor = clNone;
}

void TEditorDocument::Loaded(const TLoadedProject& project, TColor transparentColor)
{
    Output = project.Output;
    StoredPictureFileName = project.PictureFileName;
    m_state.Cells = project.Cells;
    m_state.TransparentColor = transparentColor;
}

void TEditorDocument::Save(const std::string& fileName, TProjectData project, TColor transparentColor)
{
    project.StoredPictureFileName = StoredPictureFileName;
    project.Output = Output;
    SetTransparentColor(project.Output, transparentColor);
    WriteProjectFile(fileName, project);
    SetModified(false);
}

} // namespace sw
