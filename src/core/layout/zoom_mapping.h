#pragma once

// How the picture view maps picture pixels to device pixels and back at a
// zoom and a device pixel ratio. Picture pixel p covers the device pixels
// from DeviceStart(p) up to DeviceStart(p + 1), so drawing and clicking
// agree exactly: the pixel drawn under a device pixel is the one a click
// there picks, at every zoom and ratio.

#include <cstdint>
#include <span>

namespace sw {

// The steps zooming in and out goes through, in percent.
std::span<const int> ZoomSteps();
inline constexpr int kMinZoom = 25;
inline constexpr int kMaxZoom = 800;

// The next step above or below percent (which need not be a step itself),
// staying at the ends.
int NextZoomStep(int percent);
int PreviousZoomStep(int percent);
// The largest whole percent at which a picture of the given size fits a view
// of the given size, within kMinZoom..kMaxZoom; 100 for an empty picture.
int FitZoom(int64_t pictureWidth, int64_t pictureHeight, int64_t viewWidth, int64_t viewHeight);

class TZoomMapping {
public:
    // percent is clamped to kMinZoom..kMaxZoom; the ratio is taken to
    // hundredths, at least 0.01.
    explicit TZoomMapping(int percent = 100, double devicePixelRatio = 1.0);

    int Percent() const { return m_percent; }
    // The device pixel ratio the mapping was made for, in hundredths.
    int RatioHundredths() const { return m_ratio; }
    // One picture pixel is one logical pixel: the view draws as it always did.
    bool IsNatural() const { return m_percent == 100; }

    // The first device pixel of picture pixel p (its left or top edge).
    int64_t DeviceStart(int64_t pixel) const;
    // The picture pixel under device pixel d (either may be negative).
    int64_t PixelAt(int64_t device) const;
    // The device pixel under a logical coordinate as a pointer event gives it.
    int64_t DeviceAtLogical(double logical) const;
    int64_t PixelAtLogical(double logical) const { return PixelAt(DeviceAtLogical(logical)); }
    // The logical size that holds `pixels` picture pixels.
    int64_t LogicalExtent(int64_t pixels) const;
    // The logical coordinate of a device pixel's start.
    double LogicalOfDevice(int64_t device) const;

private:
    int m_percent = 100;
    int m_ratio = 100;
};

} // namespace sw
