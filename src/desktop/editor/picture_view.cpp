#include "desktop/editor/picture_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QtMath>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace sw {

namespace {

// Each screen image holds its own share of the bitmap's store, released
// with the last copy of the image; a later change of the picture copies the
// store first, so the image never sees its rows change or go.
void ReleaseShare(void* share)
{
    delete static_cast<TBitmap*>(share);
}

QImage WrapRows(const TBitmap& bitmap, QImage::Format format)
{
    auto share = std::make_unique<TBitmap>(bitmap);
    const uint8_t* rows = std::as_const(*share).ScanLine(0);
    QImage image(rows, share->Width(), share->Height(), share->RowBytes(), format, ReleaseShare, share.get());
    if (image.isNull())
        return image;
    share.release();
    return image;
}

QImage WrapIndexed(const TBitmap& bitmap)
{
    QImage image = WrapRows(bitmap, QImage::Format_Indexed8);
    if (image.isNull())
        return image;
    // Indices past the table show black, as the bitmap reads them.
    QList<QRgb> colors(256, qRgb(0, 0, 0));
    const std::vector<TRGBQuad>& table = bitmap.ColorTable();
    for (size_t i = 0; i < std::min<size_t>(table.size(), 256); ++i)
        colors[static_cast<qsizetype>(i)] = qRgb(table[i].Red, table[i].Green, table[i].Blue);
    image.setColorTable(colors);
    return image;
}

bool HasBgrRows(const TBitmap& bitmap)
{
    const TPixelFormat format = bitmap.PixelFormat();
    return bitmap.BitsPerPixel() == 24
        && (format == TPixelFormat::pf24bit || format == TPixelFormat::pfDevice);
}

// Zoomed drawing: every device pixel takes the picture pixel chosen for its
// column and row, whole pixels of the shown image's own layout copied.
template <size_t PixelBytes>
void SampleRows(
    const QImage& shown, QImage& scaled, const std::vector<int>& columns, const std::vector<int>& rows)
{
    const size_t rowBytes = columns.size() * PixelBytes;
    for (size_t y = 0; y < rows.size(); ++y) {
        uchar* target = scaled.scanLine(static_cast<int>(y));
        // Zoomed in, neighbouring device rows often show the same picture row.
        if (y > 0 && rows[y] == rows[y - 1]) {
            std::memcpy(target, scaled.constScanLine(static_cast<int>(y - 1)), rowBytes);
            continue;
        }
        const uchar* source = shown.constScanLine(rows[y]);
        for (const int column : columns) {
            std::memcpy(target, source + static_cast<size_t>(column) * PixelBytes, PixelBytes);
            target += PixelBytes;
        }
    }
}

} // namespace

QImage BitmapToQImage(const TBitmap& bitmap)
{
    if (bitmap.Empty() || bitmap.Width() <= 0 || bitmap.Height() <= 0)
        return {};
    if (HasBgrRows(bitmap))
        return WrapRows(bitmap, QImage::Format_BGR888);
    if (bitmap.PixelFormat() == TPixelFormat::pf8bit)
        return WrapIndexed(bitmap);
    // Other layouts go through a 24-bit copy; the copy shares the store
    // until its conversion, so the original stays.
    TBitmap converted(bitmap);
    converted.SetPixelFormat(TPixelFormat::pf24bit);
    return WrapRows(converted, QImage::Format_BGR888);
}

TImageView::TImageView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("imgInterface"));
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_image.SetAutoSize(true);
    m_image.OnChange = [this] { ImageChanged(); };
    FitToZoom();
}

void TImageView::SetZoom(const TZoomMapping& zoom)
{
    m_zoom = zoom;
    FitToZoom();
    update();
}

void TImageView::FitToZoom()
{
    resize(static_cast<int>(m_zoom.LogicalExtent(m_image.Width())),
        static_cast<int>(m_zoom.LogicalExtent(m_image.Height())));
}

TBitmap& TImageView::PictureBitmap()
{
    if (!HasPicture())
        m_image.Canvas();
    return m_image.Picture().Bitmap();
}

void TImageView::ImageChanged()
{
    const TGraphic* graphic = m_image.Picture().Graphic();
    const auto* bitmap = dynamic_cast<const TBitmap*>(graphic);
    m_shown = bitmap ? BitmapToQImage(*bitmap) : QImage();
    FitToZoom();
    update();
    emit PictureChanged();
}

void TImageView::paintEvent(QPaintEvent* event)
{
    if (m_shown.isNull())
        return;
    QPainter painter(this);
    if (m_zoom.IsNatural() && m_zoom.RatioHundredths() == 100) {
        const QRect area = event->rect() & m_shown.rect();
        painter.drawImage(area.topLeft(), m_shown, area);
        return;
    }
    // Every device pixel takes the picture pixel a click there would pick,
    // so the pixels are sharp and line up with the grid at any zoom.
    const QRect device = DeviceArea(event->rect(), m_zoom.RatioHundredths())
        & QRect(0, 0, static_cast<int>(m_zoom.DeviceStart(m_shown.width())),
            static_cast<int>(m_zoom.DeviceStart(m_shown.height())));
    if (device.isEmpty())
        return;
    std::vector<int> sourceColumns(static_cast<size_t>(device.width()));
    for (int x = 0; x < device.width(); ++x)
        sourceColumns[static_cast<size_t>(x)]
            = std::clamp(static_cast<int>(m_zoom.PixelAt(device.left() + x)), 0, m_shown.width() - 1);
    std::vector<int> sourceRows(static_cast<size_t>(device.height()));
    for (int y = 0; y < device.height(); ++y)
        sourceRows[static_cast<size_t>(y)]
            = std::clamp(static_cast<int>(m_zoom.PixelAt(device.top() + y)), 0, m_shown.height() - 1);
    QImage scaled(device.size(), m_shown.format());
    if (scaled.isNull())
        return;
    switch (m_shown.depth()) {
    case 8:
        scaled.setColorTable(m_shown.colorTable());
        SampleRows<1>(m_shown, scaled, sourceColumns, sourceRows);
        break;
    case 24:
        SampleRows<3>(m_shown, scaled, sourceColumns, sourceRows);
        break;
    default:
        SampleRows<4>(m_shown, scaled, sourceColumns, sourceRows);
        break;
    }
    painter.setWorldTransform(QTransform::fromScale(1 / devicePixelRatioF(), 1 / devicePixelRatioF()));
    painter.drawImage(device.topLeft(), scaled);
}

QRect DeviceArea(const QRect& logical, int ratioHundredths)
{
    const auto toDevice = [ratioHundredths](int at, bool up) {
        const int64_t scaled = int64_t { at } * ratioHundredths;
        return static_cast<int>(up ? (scaled + 99) / 100 : scaled / 100);
    };
    // Outward: every device pixel the logical area touches.
    return QRect(QPoint(toDevice(logical.left(), false), toDevice(logical.top(), false)),
        QPoint(toDevice(logical.right() + 1, true) - 1, toDevice(logical.bottom() + 1, true) - 1));
}

TPaintBox::TPaintBox(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pbGrid"));
    setAttribute(Qt::WA_NoSystemBackground);
}

void TPaintBox::SetGridSize(QSize pixels)
{
    m_gridSize = pixels;
    FitToZoom();
}

void TPaintBox::SetZoom(const TZoomMapping& zoom)
{
    m_zoom = zoom;
    FitToZoom();
    update();
}

void TPaintBox::FitToZoom()
{
    QWidget::resize(static_cast<int>(m_zoom.LogicalExtent(m_gridSize.width())),
        static_cast<int>(m_zoom.LogicalExtent(m_gridSize.height())));
}

QPoint TPaintBox::PixelAt(QPointF logical) const
{
    const auto clampToInt
        = [](int64_t value) { return static_cast<int>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); };
    return QPoint(
        clampToInt(m_zoom.PixelAtLogical(logical.x())), clampToInt(m_zoom.PixelAtLogical(logical.y())));
}

void TPaintBox::paintEvent(QPaintEvent* event)
{
    if (!OnPaint)
        return;
    QPainter painter(this);
    OnPaint(painter, event->rect());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event)
{
    // The pixel the point lies in: on a scaled screen the point can fall
    // between pixels, and rounding would move it onto the next one.
    const QPoint at = PixelAt(event->position());
    if (OnMouseUp)
        OnMouseUp(event->button(), event->modifiers(), at.x(), at.y());
    event->accept();
}

} // namespace sw
