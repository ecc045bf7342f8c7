// The main window's cut-line commands: adding, selecting, moving, nudging,
// deleting and clearing lines, and the suggested cuts.

#include "desktop/editor/main_form.h"

#include "core/layout/design_cuts.h"
#include "core/project/cut_lines.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/main_actions.h"
#include "desktop/shell/platform_services.h"

#include <QScopeGuard>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTreeWidgetItem>

#include <utility>

namespace sw {

void TMainForm::Clear1Click()
{
    Services().MessageBeep(BeepType::Question);
    if (Services().Confirm(QStringLiteral("Remove all items?")))
        ClearLines(true);
}

void TMainForm::Clearunchecked1Click()
{
    Services().MessageBeep(BeepType::Question);
    if (Services().Confirm(QStringLiteral("Remove unchecked items?")))
        ClearLines(false);
}

void TMainForm::DrawColumn(bool add, bool checked, int32_t x, int32_t /*y*/)
{
    PlaceColumn(add, checked, x, TDuplicates::Refuse);
}

void TMainForm::DrawRow(bool add, bool checked, int32_t /*x*/, int32_t y)
{
    PlaceRow(add, checked, y, TDuplicates::Refuse);
}

void TMainForm::PlaceColumn(bool add, bool checked, int32_t x, TDuplicates duplicates)
{
    // Drawn before the bounds test; outside a repaint only the pen changes.
    m_gridPainter.StrokeLine(true, x, pbGrid->GridWidth(), pbGrid->GridHeight());
    if (add)
        AddLineInside(*lvColumns, x, checked, pbGrid->GridWidth(), duplicates);
}

void TMainForm::PlaceRow(bool add, bool checked, int32_t y, TDuplicates duplicates)
{
    m_gridPainter.StrokeLine(false, y, pbGrid->GridWidth(), pbGrid->GridHeight());
    if (add)
        AddLineInside(*lvRows, y, checked, pbGrid->GridHeight(), duplicates);
}

void TMainForm::AddLineInside(
    TCutLineList& list, int32_t position, bool checked, int extent, TDuplicates duplicates)
{
    // Two lines at one place would cancel each other's XOR dots and vanish.
    if (!IsInsideGrid(position, extent) || (duplicates == TDuplicates::Refuse && list.HasLineAt(position))) {
        Services().MessageBeep(BeepType::Exclamation);
        return;
    }
    m_document->AddLine(list.Vertical(), position, checked);
    DataChange();
}

void TMainForm::ClearLines(bool all)
{
    int removed = 0;
    {
        HourglassCursor hourglass;
        removed = m_document->RemoveLines(all);
    }
    if (removed > 0)
        m_document->SetModified(true);
    InvalidateGrid();
    Record();
}

// Selecting, moving and deleting lines.

void TMainForm::SelectLine(TCutLineList& list, QTreeWidgetItem* item)
{
    list.setCurrentItem(item);
    item->setSelected(true);
    list.scrollToItem(item);
}

void TMainForm::SelectionChanged(TCutLineList* list)
{
    // One selected line over both lists.
    if (!list->selectedItems().isEmpty()) {
        TCutLineList* other = list == lvColumns ? lvRows : lvColumns;
        const QSignalBlocker quiet(other);
        other->clearSelection();
        other->viewport()->update();
    }
    UpdateActions();
    InvalidateGrid();
}

TCutLineList* TMainForm::SelectedList() const
{
    for (TCutLineList* list : { lvColumns, lvRows })
        if (!list->selectedItems().isEmpty())
            return list;
    return nullptr;
}

QTreeWidgetItem* TMainForm::SelectedLine() const
{
    TCutLineList* list = SelectedList();
    return list ? list->selectedItems().front() : nullptr;
}

std::optional<TEditorLine> TMainForm::SelectedEditorLine() const
{
    TCutLineList* list = SelectedList();
    if (!list)
        return std::nullopt;
    const int index = list->indexOfTopLevelItem(list->selectedItems().front());
    const TEditorLines& lines = m_document->Lines(list->Vertical());
    if (index < 0 || size_t(index) >= lines.size())
        return std::nullopt;
    return lines[size_t(index)];
}

bool TMainForm::MoveLine(TCutLineList& list, QTreeWidgetItem* item, int32_t position)
{
    const int extent = &list == lvColumns ? pbGrid->GridWidth() : pbGrid->GridHeight();
    if (!IsInsideGrid(position, extent) || list.HasLineAt(position, item)) {
        Services().MessageBeep(BeepType::Exclamation);
        return false;
    }
    m_document->MoveLine(list.Vertical(), list.indexOfTopLevelItem(item), position);
    DataChange();
    return true;
}

void TMainForm::NudgeSelectedLine(int delta)
{
    TCutLineList* list = SelectedList();
    QTreeWidgetItem* item = SelectedLine();
    if (!list || !item)
        return;
    const int32_t position
        = m_document->Lines(list->Vertical())[size_t(list->indexOfTopLevelItem(item))].Position;
    MoveLine(*list, item, position + delta);
    list->scrollToItem(item);
}

void TMainForm::DeleteLineClick()
{
    TCutLineList* list = SelectedList();
    QTreeWidgetItem* item = SelectedLine();
    if (!list || !item || m_interaction.Dragging())
        return;
    m_document->RemoveLine(list->Vertical(), list->indexOfTopLevelItem(item));
    DataChange();
    UpdateActions();
}

// Suggested cuts.

void TMainForm::SuggestClick()
{
    if (!HasPicture()) {
        Services().ShowError(QStringLiteral(
            "There is no picture to suggest cuts for. Open one with \"Open image...\" first."));
        return;
    }
    HourglassCursor hourglass;
    TBitmap rows(imgInterface->PictureBitmap());
    rows.SetPixelFormat(TPixelFormat::pf24bit);
    // Read-only rows: a writable row would copy the store the view and the
    // history share, the whole picture once more.
    TLineSuggestions found = SuggestCutLines(TPixelRows {
        rows.Width(), rows.Height(), [&rows](int32_t y) { return std::as_const(rows).ScanLine(y); } });
    if (m_design)
        AddLayerEdges(found, *m_design);
    // A place that has a line already needs no proposal.
    std::erase_if(found.Columns, [this](int32_t x) { return lvColumns->HasLineAt(x); });
    std::erase_if(found.Rows, [this](int32_t y) { return lvRows->HasLineAt(y); });
    m_suggestions = std::move(found);
    UpdateActions();
    InvalidateGrid();
    StatusBar1->showMessage(m_suggestions.Columns.empty() && m_suggestions.Rows.empty()
            ? QStringLiteral("No cuts to suggest.")
            : QStringLiteral("%1 columns and %2 rows suggested: click one to take it, or accept all.")
                  .arg(m_suggestions.Columns.size())
                  .arg(m_suggestions.Rows.size()),
        5000);
}

void TMainForm::AcceptSuggestion(bool vertical, int32_t position)
{
    std::erase(vertical ? m_suggestions.Columns : m_suggestions.Rows, position);
    if (vertical)
        DrawColumn(true, true, position, 0);
    else
        DrawRow(true, true, 0, position);
    UpdateActions();
    InvalidateGrid();
}

void TMainForm::AcceptSuggestionsClick()
{
    const TLineSuggestions accepted = std::exchange(m_suggestions, {});
    {
        // One step to undo for the lot.
        ++m_recordingPaused;
        const auto resume = qScopeGuard([this] { --m_recordingPaused; });
        for (const int32_t x : accepted.Columns)
            PlaceColumn(true, true, x, TDuplicates::Refuse);
        for (const int32_t y : accepted.Rows)
            PlaceRow(true, true, y, TDuplicates::Refuse);
    }
    Record();
    UpdateActions();
    InvalidateGrid();
}

void TMainForm::DismissSuggestion(bool vertical, int32_t position)
{
    std::erase(vertical ? m_suggestions.Columns : m_suggestions.Rows, position);
    UpdateActions();
    InvalidateGrid();
}

QAction* TMainForm::DeleteLineAction() const
{
    return m_actions->DeleteLine1;
}

void TMainForm::DismissSuggestionsClick()
{
    m_suggestions = {};
    UpdateActions();
    InvalidateGrid();
}

} // namespace sw
