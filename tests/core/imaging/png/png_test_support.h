#pragma once

// An outside PNG decoder for the tests: libpng's simplified API, which
// shares no code with the reader (libspng) or the writer under test.

#include <png.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace sw::test {

struct TRgbaImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;
};

// The file's pixels as 8-bit straight RGBA, or nothing when libpng refuses it.
inline std::optional<TRgbaImage> DecodeWithLibpng(const std::vector<uint8_t>& file)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size()))
        return std::nullopt;
    image.format = PNG_FORMAT_RGBA;
    TRgbaImage out { static_cast<int>(image.width), static_cast<int>(image.height), {} };
    out.Rgba.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.Rgba.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    return out;
}

} // namespace sw::test
