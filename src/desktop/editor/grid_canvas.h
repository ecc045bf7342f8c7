#pragma once

// The grid's canvas: one pen that lives as long as the view, whose style and
// mix mode carry over from one drawing step to the next, also across
// repaints. Lines are one pixel wide and drawn only while a paint event
// lends the canvas its painter; outside one, a drawing step still sets the
// pen, and the repaint that follows every list change shows the line.
// Positions are picture pixels; a line is one device pixel wide at the
// left or top edge of its pixel, whatever the zoom.

#include "core/layout/zoom_mapping.h"

#include <QColor>
#include <QPainter>
#include <QRect>

namespace sw {

enum class TPenStyle { psSolid, psDot };
enum class TPenMode { pmCopy, pmXor };
// The editor's own marks over the grid, drawn apart from the pen: the
// selected line solid, the guide of a line being dragged, a suggested cut.
enum class TMarkStyle { Selected, Guide, Suggestion };

class TGridCanvas {
public:
    TPenStyle PenStyle = TPenStyle::psSolid;
    TPenMode PenMode = TPenMode::pmCopy;

    // Lends the canvas a painter for the area being repainted; End returns it.
    void Begin(QPainter& painter, const QRect& area, const TZoomMapping& zoom = TZoomMapping());
    void End();
    bool Painting() const { return m_painter != nullptr; }

    // Lines from (x, top) down to (x, bottom) and from (left, y) across to
    // (right, y), end points excluded, in the pen's current style and mode.
    void VerticalLine(int x, int top, int bottom);
    void HorizontalLine(int y, int left, int right);
    // A mark along a column (vertical) or a row, from and to in picture
    // pixels; the pen stays as it was.
    void Mark(bool vertical, int fixed, int from, int to, TMarkStyle style);

private:
    // Every step-th device pixel of a line, counted from its start, in
    // device pixels; an odd phase takes the pixels between.
    void Plot(bool vertical, int64_t fixed, int64_t from, int64_t to, int step, int phase, TPenMode mode,
        const QColor& colour);

    QPainter* m_painter = nullptr;
    QRect m_area;
    TZoomMapping m_zoom;
};

} // namespace sw
