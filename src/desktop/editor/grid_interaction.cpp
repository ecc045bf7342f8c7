#include "desktop/editor/grid_interaction.h"

#include "desktop/editor/cut_line_list.h"
#include "desktop/editor/editor_document.h"
#include "desktop/editor/picture_view.h"
#include "desktop/shell/handler_guard.h"
#include "desktop/shell/platform_services.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QTreeWidgetItem>
#include <QWheelEvent>

#include <cstdlib>
#include <utility>
#include <vector>

namespace sw {

namespace {

// How near, in logical pixels, the pointer must be to take hold of a line.
constexpr int kGrabDistance = 2;

} // namespace

bool TGridInteraction::Near(QPointF at, int32_t position, bool vertical) const
{
    const TZoomMapping& zoom = m_host.Grid().Zoom();
    const int64_t pointer = zoom.DeviceAtLogical(vertical ? at.x() : at.y());
    const int64_t reach = int64_t { kGrabDistance } * zoom.RatioHundredths() / 100;
    return std::abs(pointer - zoom.DeviceStart(position)) <= reach;
}

TGridInteraction::TLineHit TGridInteraction::LineUnder(QPointF at) const
{
    if (!EditsLines())
        return {};
    const bool vertical = IsVerticalMode();
    TCutLineList* list = &m_host.List(vertical);
    const TZoomMapping& zoom = m_host.Grid().Zoom();
    const int64_t pointer = zoom.DeviceAtLogical(vertical ? at.x() : at.y());
    TLineHit best;
    int64_t bestDistance = 0;
    const TEditorLines& lines = m_host.Document().Lines(vertical);
    for (size_t i = 0; i < lines.size(); ++i) {
        // Only drawn lines can be taken hold of.
        if (!lines[i].Checked || !Near(at, lines[i].Position, vertical))
            continue;
        const int64_t distance = std::abs(pointer - zoom.DeviceStart(lines[i].Position));
        if (!best.Item || distance < bestDistance) {
            best = TLineHit { list, list->topLevelItem(static_cast<int>(i)) };
            bestDistance = distance;
        }
    }
    return best;
}

int32_t TGridInteraction::SuggestionUnder(QPointF at) const
{
    if (!EditsLines())
        return -1;
    const bool vertical = IsVerticalMode();
    for (const int32_t position : vertical ? m_host.Suggestions().Columns : m_host.Suggestions().Rows)
        if (Near(at, position, vertical))
            return position;
    return -1;
}

std::optional<TGridInteraction::TGuide> TGridInteraction::Guide() const
{
    if (!m_drag || !m_drag->Moved)
        return std::nullopt;
    return TGuide { m_drag->List->Vertical(), m_drag->To };
}

void TGridInteraction::CancelDrag()
{
    if (!m_drag)
        return;
    m_drag.reset();
    m_pressTaken = false;
}

bool TGridInteraction::GridEvent(QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return Press(event);
    case QEvent::MouseMove:
        return Move(event);
    case QEvent::MouseButtonRelease:
        return Release();
    case QEvent::KeyPress:
        return Key(event);
    case QEvent::Leave:
        m_host.ClearPointer();
        return false;
    case QEvent::ScreenChangeInternal:
        // Another screen may have another device pixel ratio.
        QTimer::singleShot(0, &m_host.Window(), [form = &m_host] { form->SetZoom(form->ZoomPercent()); });
        return false;
    default:
        return false;
    }
}

bool TGridInteraction::Press(QEvent* event)
{
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF at = mouse->position();
    const TLineHit hit = LineUnder(at);
    const int32_t suggestion = hit.Item ? -1 : SuggestionUnder(at);
    if (mouse->button() == Qt::LeftButton && suggestion >= 0) {
        m_pressTaken = true;
        RunHandler([&] { m_host.AcceptSuggestion(IsVerticalMode(), suggestion); });
        return true;
    }
    if (mouse->button() == Qt::LeftButton && hit.Item) {
        m_pressTaken = true;
        m_host.SelectLine(*hit.List, hit.Item);
        const int32_t position
            = m_host.Document()
                  .Lines(hit.List->Vertical())[size_t(hit.List->indexOfTopLevelItem(hit.Item))]
                  .Position;
        m_drag = TDrag { hit.List, hit.Item, position, position, false };
        return true;
    }
    if (mouse->button() == Qt::RightButton && (hit.Item || suggestion >= 0)) {
        m_pressTaken = true;
        if (hit.Item)
            m_host.SelectLine(*hit.List, hit.Item);
        ShowLineMenu(hit, suggestion, mouse->globalPosition().toPoint());
        return true;
    }
    return false;
}

bool TGridInteraction::Move(QEvent* event)
{
    auto* mouse = static_cast<QMouseEvent*>(event);
    m_host.UpdatePointer(mouse->position());
    TPaintBox& grid = m_host.Grid();
    if (m_drag) {
        const QPoint pixel = grid.PixelAt(mouse->position());
        m_drag->To = m_drag->List->Vertical() ? pixel.x() : pixel.y();
        m_drag->Moved = m_drag->Moved || m_drag->To != m_drag->From;
        m_host.InvalidateGrid();
        return true;
    }
    if (m_host.Mode() != TDrawMode::dmTransparent) {
        if (LineUnder(mouse->position()).Item)
            grid.setCursor(IsVerticalMode() ? Qt::SizeHorCursor : Qt::SizeVerCursor);
        else
            grid.unsetCursor();
    }
    return false;
}

bool TGridInteraction::Release()
{
    if (!m_pressTaken)
        return false;
    m_pressTaken = false;
    if (m_drag) {
        const TDrag drag = *std::exchange(m_drag, std::nullopt);
        // A place outside the grid or on another line beeps and leaves the
        // line where it was.
        if (drag.Moved && drag.To != drag.From)
            RunHandler([&] { m_host.MoveLine(*drag.List, drag.Item, drag.To); });
        m_host.InvalidateGrid();
    }
    return true;
}

bool TGridInteraction::Key(QEvent* event)
{
    auto* key = static_cast<QKeyEvent*>(event);
    if (m_host.Mode() == TDrawMode::dmCells)
        return m_host.CellKey(key);
    const int step = key->modifiers().testFlag(Qt::ShiftModifier) ? 10 : 1;
    const bool column = m_host.SelectedList() && m_host.SelectedList()->Vertical();
    int delta = 0;
    switch (key->key()) {
    case Qt::Key_Left:
        delta = column ? -step : 0;
        break;
    case Qt::Key_Right:
        delta = column ? step : 0;
        break;
    case Qt::Key_Up:
        delta = !column ? -step : 0;
        break;
    case Qt::Key_Down:
        delta = !column ? step : 0;
        break;
    default:
        break;
    }
    if (delta == 0 || !m_host.SelectedLine())
        return false;
    RunHandler([&] { m_host.NudgeSelectedLine(delta); });
    return true;
}

bool TGridInteraction::ViewportWheel(QWheelEvent* event)
{
    const QPoint delta = event->angleDelta();
    QScrollArea& view = m_host.View();
    if (event->modifiers().testFlag(Qt::ControlModifier)) {
        if (delta.y() != 0) {
            const int percent = m_host.ZoomPercent();
            const QPointF anchor = m_host.Grid().mapFrom(view.viewport(), event->position());
            m_host.ApplyZoom(delta.y() > 0 ? NextZoomStep(percent) : PreviousZoomStep(percent), anchor);
        }
        return true;
    }
    if (event->modifiers().testFlag(Qt::ShiftModifier) && delta.y() != 0) {
        QScrollBar* bar = view.horizontalScrollBar();
        bar->setValue(bar->value() - delta.y() * QApplication::wheelScrollLines() * bar->singleStep() / 120);
        return true;
    }
    return false;
}

void TGridInteraction::ShowLineMenu(const TLineHit& hit, int32_t suggestion, const QPoint& globalAt)
{
    QMenu menu(&m_host.Window());
    if (hit.Item)
        menu.addAction(m_host.DeleteLineAction());
    if (suggestion >= 0) {
        TGridHost* form = &m_host;
        const bool vertical = IsVerticalMode();
        menu.addAction(QCoreApplication::translate("TMainForm", "&Accept this suggestion"), &m_host.Window(),
            [form, vertical, suggestion] {
                RunHandler([&] { form->AcceptSuggestion(vertical, suggestion); });
            });
        menu.addAction(QCoreApplication::translate("TMainForm", "D&ismiss this suggestion"), &m_host.Window(),
            [form, vertical, suggestion] { form->DismissSuggestion(vertical, suggestion); });
    }
    menu.exec(globalAt);
}

} // namespace sw
