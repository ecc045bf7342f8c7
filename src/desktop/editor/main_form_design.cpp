// The main window's side of layered and vector designs: the text a design
// offers for the selected cell, and drawing an SVG or PDF again at a new scale.

#include "desktop/editor/main_form.h"

#include "core/picture_formats.h"
#include "desktop/editor/design_import.h"
#include "desktop/editor/editor_document.h"

#include <QScopeGuard>

namespace sw {

QString TMainForm::SelectedCellDesignText() const
{
    if (!m_design || !m_selectedCell)
        return {};
    TCellProperties properties;
    if (const auto it = m_document->Cells().find(*m_selectedCell); it != m_document->Cells().end())
        properties = it->second;
    const TCellBounds bounds
        = CellGrid().Bounds(*m_selectedCell, properties.SpanColumns, properties.SpanRows);
    return DesignTextForCell(*m_design, TRect { bounds.Left, bounds.Top, bounds.Right, bounds.Bottom });
}

int TMainForm::DesignScale() const
{
    return m_hasPicture && IsDrawnAtScale(PictureFileName) ? PictureRenderOptions(m_document->Output).Scale
                                                           : 0;
}

void TMainForm::SetDesignScale(int from, int to)
{
    if (from == to || !m_hasPicture || !IsDrawnAtScale(PictureFileName))
        return;
    const TEditorLines columns = ScaleCutLines(m_document->Lines(true), from, to);
    const TEditorLines rows = ScaleCutLines(m_document->Lines(false), from, to);
    {
        // The render, the lines and the scale are one step.
        ++m_recordingPaused;
        const auto resume = qScopeGuard([this] { --m_recordingPaused; });
        m_document->Output = OutputAtScale(m_document->Output, to);
        try {
            LoadPicture(PictureFileName);
        } catch (...) {
            // Too large at the new scale, say: the old render and its scale stand.
            m_document->Output = OutputAtScale(m_document->Output, from);
            throw;
        }
        m_document->ShowLines(columns, rows);
        m_document->SetModified(true);
    }
    InvalidateGrid();
    Record();
}

} // namespace sw
