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
        painter.setPen(palette().color(QPalette::WindowText));
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
