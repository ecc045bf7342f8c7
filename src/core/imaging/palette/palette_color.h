#pragma once

// One colour of an adaptive palette: what the palette maker, the colour
// histogram and the nearest-colour search all hand each other.

#include <cstdint>

namespace sw {

struct TPaletteColor {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    bool operator==(const TPaletteColor&) const = default;
};

} // namespace sw
