#pragma once

// What the pointer and the keys do on the grid, apart from a plain click:
// taking hold of a drawn line and dragging it, accepting or dismissing a
// suggested cut, the lines' context menu, arrow keys that nudge the selected
// line or move the selected cell, and the wheel's zoom and sideways scroll.
// A drag changes nothing until it ends: the guide shows where the line would
// go, and the release moves it in one step.

#include "core/layout/line_suggestions.h"
#include "desktop/editor/main_actions.h"

#include <QPointF>

#include <cstdint>
#include <optional>

class QAction;
class QEvent;
class QKeyEvent;
class QPoint;
class QScrollArea;
class QTreeWidgetItem;
class QWheelEvent;
class QWidget;

namespace sw {

class TCutLineList;
class TEditorDocument;
class TPaintBox;

// What the interaction needs of the window that shows the grid.
class TGridHost {
public:
    virtual QWidget& Window() = 0;
    virtual TPaintBox& Grid() const = 0;
    virtual QScrollArea& View() const = 0;
    virtual const TEditorDocument& Document() const = 0;
    virtual TCutLineList& List(bool vertical) const = 0;
    virtual TDrawMode Mode() const = 0;
    virtual const TLineSuggestions& Suggestions() const = 0;
    virtual void AcceptSuggestion(bool vertical, int32_t position) = 0;
    virtual void DismissSuggestion(bool vertical, int32_t position) = 0;
    // The list holding the selected line and its entry, or nulls.
    virtual TCutLineList* SelectedList() const = 0;
    virtual QTreeWidgetItem* SelectedLine() const = 0;
    virtual void SelectLine(TCutLineList& list, QTreeWidgetItem* item) = 0;
    virtual bool MoveLine(TCutLineList& list, QTreeWidgetItem* item, int32_t position) = 0;
    virtual void NudgeSelectedLine(int delta) = 0;
    virtual bool CellKey(QKeyEvent* key) = 0;
    virtual QAction* DeleteLineAction() const = 0;
    virtual void InvalidateGrid() = 0;
    // The pointer's place on the picture, or none once it has left.
    virtual void UpdatePointer(QPointF at) = 0;
    virtual void ClearPointer() = 0;
    virtual int ZoomPercent() const = 0;
    virtual void SetZoom(int percent) = 0;
    virtual void ApplyZoom(int percent, QPointF anchor) = 0;

protected:
    ~TGridHost() = default;
};

class TGridInteraction {
public:
    explicit TGridInteraction(TGridHost& host)
        : m_host(host)
    { }

    // A line of the current mode's list under the pointer, within a few
    // pixels of where it is drawn.
    struct TLineHit {
        TCutLineList* List = nullptr;
        QTreeWidgetItem* Item = nullptr;
    };

    // Handles an event of the grid; true when it was taken.
    bool GridEvent(QEvent* event);
    // Handles a wheel turn over the view; true when it was taken.
    bool ViewportWheel(QWheelEvent* event);
    // The menu of a line, a suggestion or both at globalAt.
    void ShowLineMenu(const TLineHit& hit, int32_t suggestion, const QPoint& globalAt);

    bool Dragging() const { return m_drag.has_value(); }
    // Where the dragged line would go, once it has moved: vertical for a
    // column.
    struct TGuide {
        bool Vertical = true;
        int32_t Position = 0;
    };
    std::optional<TGuide> Guide() const;
    // Ends a drag where it started, as an undo in its middle does.
    void CancelDrag();

private:
    TLineHit LineUnder(QPointF at) const;
    // The suggestion of the current mode under the pointer, or -1.
    int32_t SuggestionUnder(QPointF at) const;
    bool Near(QPointF at, int32_t position, bool vertical) const;
    bool Press(QEvent* event);
    bool Move(QEvent* event);
    bool Release();
    bool Key(QEvent* event);

    bool EditsLines() const
    {
        return m_host.Mode() == TDrawMode::dmColumn || m_host.Mode() == TDrawMode::dmRow;
    }
    bool IsVerticalMode() const { return m_host.Mode() == TDrawMode::dmColumn; }

    TGridHost& m_host;
    // A press taken here (a drag, a menu, an accepted suggestion) owns its
    // release: it adds no line.
    bool m_pressTaken = false;
    struct TDrag {
        TCutLineList* List = nullptr;
        QTreeWidgetItem* Item = nullptr;
        int32_t From = 0;
        int32_t To = 0;
        bool Moved = false;
    };
    std::optional<TDrag> m_drag;
};

} // namespace sw
