#include "core/imaging/metric/perceptual_distance.h"

#include "core/base/errors.h"

#include <jxl/butteraugli.h>

#include <algorithm>
#include <limits>
#include <memory>

namespace sw {

namespace {

struct TApiDeleter {
    void operator()(JxlButteraugliApi* api) const { JxlButteraugliApiDestroy(api); }
};
struct TResultDeleter {
    void operator()(JxlButteraugliResult* result) const { JxlButteraugliResultDestroy(result); }
};

// Both pictures as straight RGBA, the expected one with its transparent
// colour cleared.
std::vector<uint8_t> ExpectedRgba(const TPixelView& view, std::optional<TColor> transparent)
{
    std::vector<uint8_t> rgba(size_t(view.Width) * size_t(view.Height) * 4);
    const uint32_t key = transparent ? (*transparent & 0xFFFFFF) : 0x1000000;
    const bool bgr = view.Layout == TPixelLayout::Bgr24;
    uint8_t* out = rgba.data();
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* in = view.Row(y);
        for (int x = 0; x < view.Width; ++x, in += view.BytesPerPixel(), out += 4) {
            out[0] = bgr ? in[2] : in[0];
            out[1] = in[1];
            out[2] = bgr ? in[0] : in[2];
            out[3] = bgr ? 255 : in[3];
            if (RGB(out[0], out[1], out[2]) == key)
                out[3] = 0;
        }
    }
    return rgba;
}

// Straight RGBA laid over a grey level, as 8-bit RGB.
std::vector<uint8_t> Over(const std::vector<uint8_t>& rgba, int background)
{
    std::vector<uint8_t> rgb(rgba.size() / 4 * 3);
    for (size_t i = 0, o = 0; i < rgba.size(); i += 4, o += 3) {
        const int alpha = rgba[i + 3];
        for (size_t c = 0; c < 3; ++c)
            rgb[o + c] = uint8_t((rgba[i + c] * alpha + background * (255 - alpha) + 127) / 255);
    }
    return rgb;
}

double Distance(const JxlButteraugliApi* api, int width, int height, const std::vector<uint8_t>& expected,
    const std::vector<uint8_t>& decoded)
{
    const JxlPixelFormat format { 3, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
    const std::unique_ptr<JxlButteraugliResult, TResultDeleter> result(
        JxlButteraugliCompute(api, uint32_t(width), uint32_t(height), &format, expected.data(),
            expected.size(), &format, decoded.data(), decoded.size()));
    if (!result)
        throw EOutOfResources("The perceptual distance could not be computed");
    return JxlButteraugliResultGetMaxDistance(result.get());
}

} // namespace

double PerceptualDistance(const TPixelView& expected, std::optional<TColor> transparentColor,
    const std::vector<uint8_t>& decodedRgba)
{
    const size_t count = size_t(std::max(expected.Width, 0)) * size_t(std::max(expected.Height, 0));
    if (count == 0 || decodedRgba.size() != count * 4)
        return std::numeric_limits<double>::infinity();
    const std::vector<uint8_t> want = ExpectedRgba(expected, transparentColor);
    if (want == decodedRgba)
        return 0;
    const std::unique_ptr<JxlButteraugliApi, TApiDeleter> api(JxlButteraugliApiCreate(nullptr));
    if (!api)
        throw EOutOfResources("Out of memory");
    bool translucent = false;
    for (size_t i = 3; i < want.size() && !translucent; i += 4)
        translucent = want[i] != 255 || decodedRgba[i] != 255;
    double distance
        = Distance(api.get(), expected.Width, expected.Height, Over(want, 0), Over(decodedRgba, 0));
    if (translucent)
        distance = std::max(distance,
            Distance(api.get(), expected.Width, expected.Height, Over(want, 255), Over(decodedRgba, 255)));
    return distance;
}

} // namespace sw
