#pragma once

// The nearest of up to 256 colours to any colour, by squared distance in red,
// green and blue. The colour space is cut into 32 x 32 x 32 cells; the first
// search in a cell lists the colours that can be nearest to anything in it,
// so later searches there try only those.

#include "core/imaging/palette/palette.h"

#include <cstdint>
#include <vector>

namespace sw::palette {

class TNearestColor {
public:
    // 1 to 256 colours; Find returns positions in this list.
    explicit TNearestColor(const std::vector<TPaletteColor>& colors);

    // Of equally near colours, the one found first; the same for the same
    // colours and query.
    int Find(int red, int green, int blue);

private:
    struct TCandidate {
        uint32_t LeastDistance; // from the colour to the nearest point of the cell
        uint32_t Index;
    };
    struct TCellList {
        uint32_t Start = 0;
        uint32_t Count = 0; // 0 until the cell is first searched
    };

    const TCellList& Cell(int red, int green, int blue);

    std::vector<TPaletteColor> m_colors;
    std::vector<TCellList> m_cells;
    std::vector<TCandidate> m_candidates;
};

} // namespace sw::palette
