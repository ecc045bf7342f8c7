#pragma once

// The two layers of the picture view: the image control that shows the core
// image holder's picture at the view's zoom, and the paint box in front of
// it that draws the grid and takes the mouse releases. Both map picture
// pixels to device pixels through one zoom mapping, so a click lands on the
// pixel drawn under the pointer.

#include "core/imaging/bitmap.h"
#include "core/imaging/graphic.h"
#include "core/imaging/picture.h"
#include "core/layout/zoom_mapping.h"

#include <QImage>
#include <QWidget>

#include <functional>

namespace sw {

// imgInterface. The holder sizes itself to its picture (for pictures above
// 0 x 0) and the control follows it. The screen image reads the picture's
// own rows, so a picture is held once and never converted for display.
class TImageView : public QWidget {
    Q_OBJECT
public:
    explicit TImageView(QWidget* parent = nullptr);

    TImage& Image() { return m_image; }
    // The held bitmap. With no picture held, a white bitmap of the
    // control's current size becomes the picture first.
    TBitmap& PictureBitmap();
    bool HasPicture() const { return m_image.Picture().Graphic() != nullptr; }
    // What the control paints: the picture's rows (24-bit blue, green, red,
    // or 8-bit indexed), or a null image.
    const QImage& Shown() const { return m_shown; }
    // The control takes the picture's size times the zoom.
    void SetZoom(const TZoomMapping& zoom);
    const TZoomMapping& Zoom() const { return m_zoom; }

signals:
    // The picture or the control's size changed.
    void PictureChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void ImageChanged();

    void FitToZoom();

    TImage m_image;
    QImage m_shown;
    TZoomMapping m_zoom;
};

// A bitmap as a screen image that shares its pixel store (null for an empty
// bitmap); 24-bit and 8-bit bitmaps are not copied, others are converted
// to 24 bits once.
QImage BitmapToQImage(const TBitmap& bitmap);

// pbGrid: a transparent drawing surface whose painting and mouse releases
// are handled by its owner. Its grid size, in picture pixels, bounds the cut
// lines; the widget is that size times the zoom.
class TPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TPaintBox(QWidget* parent = nullptr);

    // Runs inside every paint event, after everything under the box has been
    // painted; the painter and the area to repaint are passed in.
    std::function<void(QPainter& painter, const QRect& area)> OnPaint;
    // Any button; x and y in picture pixels, also beyond its edges when the
    // button was pressed on the box and released outside it.
    std::function<void(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)> OnMouseUp;

    QSize GridSize() const { return m_gridSize; }
    int GridWidth() const { return m_gridSize.width(); }
    int GridHeight() const { return m_gridSize.height(); }
    void SetGridSize(QSize pixels);
    void SetZoom(const TZoomMapping& zoom);
    const TZoomMapping& Zoom() const { return m_zoom; }
    // The picture pixel under a point in widget coordinates.
    QPoint PixelAt(QPointF logical) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void FitToZoom();

    QSize m_gridSize;
    TZoomMapping m_zoom;
};

// The area of device pixels a logical area covers at a device pixel ratio
// given in hundredths.
QRect DeviceArea(const QRect& logical, int ratioHundredths);

} // namespace sw
