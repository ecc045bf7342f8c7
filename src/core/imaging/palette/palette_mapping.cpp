#include "core/base/errors.h"
#include "core/imaging/palette/color_histogram.h"
#include "core/imaging/palette/nearest_color.h"
#include "core/imaging/palette/palette.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace sw {
namespace {

// Pictures have many pixels per colour: fine cells for short candidate lists.
constexpr int kMappingCellBits = 4;

// Picks entries for pixels: the transparent colour's own entry for exactly
// its pixels, the nearest of the other entries for the rest.
class TEntryChooser {
public:
    explicit TEntryChooser(const TPalette& palette)
    {
        std::vector<TPaletteColor> opaque;
        for (size_t i = 0; i < palette.Colors.size(); ++i) {
            if (int(i) == palette.TransparentIndex)
                continue;
            opaque.push_back(palette.Colors[i]);
            m_entries.push_back(uint8_t(i));
        }
        if (palette.TransparentIndex >= 0) {
            const TPaletteColor& color = palette.Colors[size_t(palette.TransparentIndex)];
            m_transparentKey = Key(color.Red, color.Green, color.Blue);
            m_transparentEntry = uint8_t(palette.TransparentIndex);
        }
        if (!opaque.empty())
            m_nearest = std::make_unique<palette::TNearestColor>(opaque, kMappingCellBits);
        m_opaque = std::move(opaque);
    }

    const std::vector<TPaletteColor>& Opaque() const { return m_opaque; }

    static uint32_t Key(int red, int green, int blue) { return uint32_t((red << 16) | (green << 8) | blue); }

    bool IsTransparent(uint32_t key) const { return key == m_transparentKey; }
    uint8_t TransparentEntry() const { return m_transparentEntry; }

    // The nearest opaque entry; its colour through chosen.
    uint8_t Nearest(int red, int green, int blue, const TPaletteColor*& chosen)
    {
        if (!m_nearest)
            throw EInvalidGraphicOperation("The palette has no colour for the picture's opaque pixels");
        const int found = m_nearest->Find(red, green, blue);
        chosen = &m_opaque[size_t(found)];
        return m_entries[size_t(found)];
    }

private:
    std::vector<TPaletteColor> m_opaque;
    std::vector<uint8_t> m_entries;
    std::unique_ptr<palette::TNearestColor> m_nearest;
    uint32_t m_transparentKey = 0xFFFFFFFF;
    uint8_t m_transparentEntry = 0;
};

void MapPlain(const TPixelView& view, TEntryChooser& chooser, uint8_t* indices, ptrdiff_t indexStride)
{
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* pixel = view.Data + y * view.Stride;
        uint8_t* out = indices + y * indexStride;
        uint32_t lastKey = 0xFFFFFFFF;
        uint8_t lastEntry = 0;
        for (int x = 0; x < view.Width; ++x, pixel += 3) {
            const uint32_t key = TEntryChooser::Key(pixel[2], pixel[1], pixel[0]);
            if (key != lastKey) {
                const TPaletteColor* chosen = nullptr;
                lastEntry = chooser.IsTransparent(key)
                    ? chooser.TransparentEntry()
                    : chooser.Nearest(pixel[2], pixel[1], pixel[0], chosen);
                lastKey = key;
            }
            out[x] = lastEntry;
        }
    }
}

// Error in sixteenths of a level, as the weights 7, 3, 5 and 1 give it out.
void MapFloydSteinberg(
    const TPixelView& view, TEntryChooser& chooser, uint8_t* indices, ptrdiff_t indexStride)
{
    // Column x is slot x + 1, so the neighbours of both ends have a slot.
    const size_t slots = (size_t(view.Width) + 2) * 3;
    std::vector<int> current(slots, 0);
    std::vector<int> below(slots, 0);
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* row = view.Data + y * view.Stride;
        uint8_t* out = indices + y * indexStride;
        const int step = (y % 2 == 0) ? 1 : -1;
        int x = step > 0 ? 0 : view.Width - 1;
        for (int i = 0; i < view.Width; ++i, x += step) {
            const uint8_t* pixel = row + size_t(x) * 3;
            if (chooser.IsTransparent(TEntryChooser::Key(pixel[2], pixel[1], pixel[0]))) {
                out[x] = chooser.TransparentEntry();
                continue;
            }
            int* here = &current[size_t(x + 1) * 3];
            int value[3];
            for (int c = 0; c < 3; ++c)
                value[c] = std::clamp(int(pixel[2 - c]) + ((here[c] + 8) >> 4), 0, 255);
            const TPaletteColor* chosen = nullptr;
            out[x] = chooser.Nearest(value[0], value[1], value[2], chosen);
            const int error[3]
                = { value[0] - chosen->Red, value[1] - chosen->Green, value[2] - chosen->Blue };
            int* ahead = &current[size_t(x + 1 + step) * 3];
            int* belowBehind = &below[size_t(x + 1 - step) * 3];
            int* belowHere = &below[size_t(x + 1) * 3];
            int* belowAhead = &below[size_t(x + 1 + step) * 3];
            for (int c = 0; c < 3; ++c) {
                ahead[c] += error[c] * 7;
                belowBehind[c] += error[c] * 3;
                belowHere[c] += error[c] * 5;
                belowAhead[c] += error[c];
            }
        }
        std::swap(current, below);
        std::fill(below.begin(), below.end(), 0);
    }
}

// The classic 8 x 8 threshold matrix: every value 0..63 once, neighbours far
// apart, so flat areas break into an even pattern.
constexpr uint8_t kBayer[8][8] = {
    { 0, 32, 8, 40, 2, 34, 10, 42 },
    { 48, 16, 56, 24, 50, 18, 58, 26 },
    { 12, 44, 4, 36, 14, 46, 6, 38 },
    { 60, 28, 52, 20, 62, 30, 54, 22 },
    { 3, 35, 11, 43, 1, 33, 9, 41 },
    { 51, 19, 59, 27, 49, 17, 57, 25 },
    { 15, 47, 7, 39, 13, 45, 5, 37 },
    { 63, 31, 55, 23, 61, 29, 53, 21 },
};

// How far the pattern pushes a pixel: the median distance from an entry to
// its nearest other entry, so a pixel between two neighbouring entries is
// split between them in proportion.
int PatternStrength(const std::vector<TPaletteColor>& colors)
{
    if (colors.size() < 2)
        return 0;
    std::vector<int> nearest;
    for (size_t i = 0; i < colors.size(); ++i) {
        int best = 3 * 255 * 255 + 1;
        for (size_t j = 0; j < colors.size(); ++j) {
            if (i == j)
                continue;
            const int dr = colors[i].Red - colors[j].Red;
            const int dg = colors[i].Green - colors[j].Green;
            const int db = colors[i].Blue - colors[j].Blue;
            best = std::min(best, dr * dr + dg * dg + db * db);
        }
        nearest.push_back(best);
    }
    std::nth_element(nearest.begin(), nearest.begin() + ptrdiff_t(nearest.size() / 2), nearest.end());
    // Integer square root, so the strength does not hang on floating point.
    const int squared = nearest[nearest.size() / 2];
    int root = 0;
    while ((root + 1) * (root + 1) <= squared)
        ++root;
    return root;
}

void MapOrdered(const TPixelView& view, TEntryChooser& chooser, uint8_t* indices, ptrdiff_t indexStride)
{
    const int strength = PatternStrength(chooser.Opaque());
    for (int y = 0; y < view.Height; ++y) {
        const uint8_t* pixel = view.Data + y * view.Stride;
        uint8_t* out = indices + y * indexStride;
        for (int x = 0; x < view.Width; ++x, pixel += 3) {
            if (chooser.IsTransparent(TEntryChooser::Key(pixel[2], pixel[1], pixel[0]))) {
                out[x] = chooser.TransparentEntry();
                continue;
            }
            // Thresholds centred on zero: -63/128 .. +63/128 of the strength.
            const int offset = (2 * int(kBayer[y & 7][x & 7]) - 63) * strength / 128;
            const TPaletteColor* chosen = nullptr;
            out[x] = chooser.Nearest(std::clamp(pixel[2] + offset, 0, 255),
                std::clamp(pixel[1] + offset, 0, 255), std::clamp(pixel[0] + offset, 0, 255), chosen);
        }
    }
}

} // namespace

void MapToPalette(
    const TPixelView& view, const TPalette& palette, TDither dither, uint8_t* indices, ptrdiff_t indexStride)
{
    palette::CheckPixelView(view);
    if (palette.Colors.empty() || palette.Colors.size() > size_t(kMaxPaletteColors))
        throw EInvalidGraphicOperation(Format(
            "Invalid palette of %zu colours (expected 1 to %d)", palette.Colors.size(), kMaxPaletteColors));
    if (palette.TransparentIndex < -1 || palette.TransparentIndex >= int(palette.Colors.size()))
        throw EInvalidGraphicOperation(Format("Invalid transparent entry %d", palette.TransparentIndex));
    if (view.Width == 0 || view.Height == 0)
        return;
    if (indices == nullptr || std::abs(indexStride) < view.Width)
        throw EInvalidGraphicOperation(Format("Invalid index rows (%lld bytes apart for %d pixels)",
            static_cast<long long>(indexStride), view.Width));

    TEntryChooser chooser(palette);
    // An exact palette has every colour already: dithering could only move
    // pixels off their own entries.
    switch (palette.Exact ? TDither::None : dither) {
    case TDither::None:
        MapPlain(view, chooser, indices, indexStride);
        break;
    case TDither::FloydSteinberg:
        MapFloydSteinberg(view, chooser, indices, indexStride);
        break;
    case TDither::Ordered:
        MapOrdered(view, chooser, indices, indexStride);
        break;
    }
}

} // namespace sw
