#include "core/layout/zoom_mapping.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace sw {

namespace {

constexpr std::array<int, 10> kSteps { 25, 50, 75, 100, 150, 200, 300, 400, 600, 800 };
// Percent times hundredths of the ratio: the scale's denominator.
constexpr int64_t kScaleDenominator = 100 * 100;

int64_t FloorDiv(int64_t numerator, int64_t denominator)
{
    const int64_t quotient = numerator / denominator;
    return (numerator % denominator != 0 && (numerator < 0) != (denominator < 0)) ? quotient - 1 : quotient;
}

int64_t CeilDiv(int64_t numerator, int64_t denominator)
{
    return -FloorDiv(-numerator, denominator);
}

} // namespace

std::span<const int> ZoomSteps()
{
    return kSteps;
}

int NextZoomStep(int percent)
{
    const auto* next = std::upper_bound(kSteps.begin(), kSteps.end(), percent);
    return next == kSteps.end() ? kSteps.back() : *next;
}

int PreviousZoomStep(int percent)
{
    const auto* next = std::lower_bound(kSteps.begin(), kSteps.end(), percent);
    return next == kSteps.begin() ? kSteps.front() : *(next - 1);
}

int FitZoom(int64_t pictureWidth, int64_t pictureHeight, int64_t viewWidth, int64_t viewHeight)
{
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return 100;
    const int64_t byWidth = FloorDiv(std::max<int64_t>(viewWidth, 0) * 100, pictureWidth);
    const int64_t byHeight = FloorDiv(std::max<int64_t>(viewHeight, 0) * 100, pictureHeight);
    return static_cast<int>(std::clamp<int64_t>(std::min(byWidth, byHeight), kMinZoom, kMaxZoom));
}

TZoomMapping::TZoomMapping(int percent, double devicePixelRatio)
    : m_percent(std::clamp(percent, kMinZoom, kMaxZoom))
    , m_ratio(std::isfinite(devicePixelRatio)
              ? static_cast<int>(std::clamp(std::lround(devicePixelRatio * 100), 1L, 10000L))
              : 100)
{ }

int64_t TZoomMapping::DeviceStart(int64_t pixel) const
{
    // Rounded up, so below 100 % the first of the pixels sharing a device
    // pixel owns it, as the pointer's logical position divided by the zoom
    // says.
    return CeilDiv(pixel * m_percent * m_ratio, kScaleDenominator);
}

int64_t TZoomMapping::PixelAt(int64_t device) const
{
    // The last pixel whose start is at or before the device pixel:
    // ceil(p * s) <= d  <=>  p * s <= d.
    return FloorDiv(device * kScaleDenominator, int64_t { m_percent } * m_ratio);
}

int64_t TZoomMapping::DeviceAtLogical(double logical) const
{
    // Pointer positions arrive as device pixel / ratio, which a float may
    // put a hair below the pixel's edge.
    const double device = logical * m_ratio / 100.0;
    if (!std::isfinite(device))
        return 0;
    return static_cast<int64_t>(std::floor(std::clamp(device, -1e12, 1e12) + 1e-4));
}

int64_t TZoomMapping::LogicalExtent(int64_t pixels) const
{
    return CeilDiv(DeviceStart(pixels) * 100, m_ratio);
}

double TZoomMapping::LogicalOfDevice(int64_t device) const
{
    return static_cast<double>(device) * 100.0 / m_ratio;
}

} // namespace sw
