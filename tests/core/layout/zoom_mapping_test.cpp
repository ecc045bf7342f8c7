#include "core/layout/zoom_mapping.h"

#include <gtest/gtest.h>

#include <cmath>

namespace sw {
namespace {

TEST(ZoomMappingTest, EveryDevicePixelMapsToThePixelDrawnThere)
{
    for (const double ratio : { 1.0, 1.25, 1.5, 2.0 }) {
        for (const int percent : ZoomSteps()) {
            SCOPED_TRACE(testing::Message() << percent << " % at ratio " << ratio);
            const TZoomMapping zoom(percent, ratio);
            for (int64_t device = -40; device < 2000; ++device) {
                const int64_t pixel = zoom.PixelAt(device);
                ASSERT_LE(zoom.DeviceStart(pixel), device);
                ASSERT_GT(zoom.DeviceStart(pixel + 1), device);
                // A pointer event reports the device pixel divided by the
                // ratio, as a float.
                const auto logical = static_cast<double>(static_cast<float>(device / ratio));
                ASSERT_EQ(zoom.DeviceAtLogical(logical), device);
                ASSERT_EQ(zoom.PixelAtLogical((device + 0.5) / ratio), pixel);
            }
            // Every picture pixel above 100 % gets its own device pixels.
            if (percent >= 100) {
                for (int64_t pixel = 0; pixel < 500; ++pixel)
                    ASSERT_EQ(zoom.PixelAt(zoom.DeviceStart(pixel)), pixel);
            }
            const int64_t extent = zoom.LogicalExtent(640);
            EXPECT_GE(std::ceil(static_cast<double>(extent) * ratio), zoom.DeviceStart(640));
            EXPECT_LT((static_cast<double>(extent) - 1) * ratio, zoom.DeviceStart(640));
        }
    }
}

TEST(ZoomMappingTest, KnownPlaces)
{
    struct Case {
        int percent;
        double ratio;
        double logical;
        int64_t pixel;
        int64_t lineDevice; // where the pixel's left edge is drawn
    };
    const Case cases[] = {
        { 100, 1.0, 37.9, 37, 37 },
        { 100, 2.0, 37.9, 37, 74 },
        { 25, 1.0, 3.0, 12, 3 },
        { 25, 2.0, 3.0, 12, 6 },
        { 200, 1.0, 75.0, 37, 74 },
        { 300, 1.0, 299.0, 99, 297 },
        { 300, 1.0, 300.0, 100, 300 },
        { 300, 2.0, 150.0, 50, 300 },
        { 300, 1.5, 200.0, 66, 297 },
        { 150, 1.0, 2.0, 1, 2 },
        { 150, 1.0, 1.9, 0, 0 },
        { 150, 1.0, 1.0, 0, 0 },
        { 800, 1.0, -0.5, -1, -8 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.percent << " % ratio " << c.ratio << " at " << c.logical);
        const TZoomMapping zoom(c.percent, c.ratio);
        EXPECT_EQ(zoom.PixelAtLogical(c.logical), c.pixel);
        EXPECT_EQ(zoom.DeviceStart(c.pixel), c.lineDevice);
    }
}

TEST(ZoomMappingTest, StepsAndFit)
{
    EXPECT_EQ(NextZoomStep(100), 150);
    EXPECT_EQ(NextZoomStep(120), 150);
    EXPECT_EQ(NextZoomStep(800), 800);
    EXPECT_EQ(PreviousZoomStep(100), 75);
    EXPECT_EQ(PreviousZoomStep(120), 100);
    EXPECT_EQ(PreviousZoomStep(25), 25);
    EXPECT_EQ(TZoomMapping(5).Percent(), 25);
    EXPECT_EQ(TZoomMapping(5000).Percent(), 800);
    EXPECT_EQ(FitZoom(400, 200, 200, 200), 50);
    EXPECT_EQ(FitZoom(400, 200, 1000, 300), 150);
    EXPECT_EQ(FitZoom(10, 10, 100000, 100000), 800);
    EXPECT_EQ(FitZoom(100000, 10, 10, 10), 25);
    EXPECT_EQ(FitZoom(0, 0, 10, 10), 100);
}

} // namespace
} // namespace sw
