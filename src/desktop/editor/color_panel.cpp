#include "desktop/editor/color_panel.h"

#include <QMouseEvent>
#include <QPainter>

namespace sw {

TColorPanel::TColorPanel(const QString& caption, TColor color, QWidget* parent)
    : QFrame(parent)
    , m_caption(caption)
    , m_color(color)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
}

void TColorPanel::SetColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TColorPanel::paintEvent(QPaintEvent* event)
{
    {
        QPainter painter(this);
        const TColor rgb = ColorToRGB(m_color);
        painter.fillRect(rect(), QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)));
        // Dark colours get a light caption so it stays readable.
        const int lightness = (GetRValue(rgb) * 299 + GetGValue(rgb) * 587 + GetBValue(rgb) * 114) / 1000;
        painter.setPen(lightness < 128 ? QColor(Qt::white) : palette().color(QPalette::WindowText));
        painter.drawText(contentsRect(), Qt::AlignCenter, m_caption);
    }
    QFrame::paintEvent(event);
}

void TColorPanel::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}

} // namespace sw
