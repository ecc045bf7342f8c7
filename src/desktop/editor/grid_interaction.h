#pragma once

// What the pointer and the keys do on the grid, apart from a plain click:
// taking hold of a drawn line and dragging it, accepting or dismissing a
// suggested cut, the lines' context menu, arrow keys that nudge the selected
// line or move the selected cell, and the wheel's zoom and sideways scroll.
// A drag changes nothing until it ends: the guide shows where the line would
// go, and the release moves it in one step.

#include <QPointF>

#include <cstdint>
#include <optional>

class QEvent;
class QPoint;
class QTreeWidgetItem;
class QWheelEvent;

namespace sw {

class TCutLineList;
class TMainForm;

class TGridInteraction {
public:
    explicit TGridInteraction(TMainForm& form)
        : m_form(form)
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

    TMainForm& m_form;
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
