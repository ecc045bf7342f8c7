#pragma once

// A raised panel that shows a colour value as its background, with its caption
// centred in the window-text colour. It keeps the value exactly as set, so a
// system-colour reference stays a reference and is resolved only for display.
// clNone is a value of its own, no colour at all: the panel shows the
// theme's button colour struck through, and its context menu offers it.

#include "core/base/colors.h"

#include <QFrame>
#include <QString>

namespace sw {

class TColorPanel : public QFrame {
    Q_OBJECT
public:
    TColorPanel(const QString& caption, TColor color, QWidget* parent = nullptr);

    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    QString Caption() const { return m_caption; }

signals:
    void clicked();
    // The context menu's None.
    void noneChosen();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QString m_caption;
    TColor m_color;
};

} // namespace sw
