#pragma once

// The nearest of up to 256 colours to any colour, by squared distance in red,
// green and blue. The colour space is cut into cells; the first search in a
// cell lists the colours that can be nearest to anything in it, so later
// searches there try only those. Fine cells suit many searches (every pixel
// of a picture), coarse ones few (a histogram), as each listing costs a pass
// over all the colours.

#include "core/imaging/palette/palette_color.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sw::palette {

class TNearestColor {
public:
    // 1 to 256 colours; Find returns positions in this list. Cells are
    // 2^cellBits to a channel (1..8).
    TNearestColor(const std::vector<TPaletteColor>& colors, int cellBits);

    // Channels 0..255. Of equally near colours, the one found first; the same
    // for the same colours and query.
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

    struct TAxisDistances {
        uint32_t Least[256];
        uint32_t Most[256];
    };

    const TCellList& Cell(int red, int green, int blue);

    int m_cellBits;
    int m_cellShift;
    size_t m_count;
    int32_t m_channels[3][256] = {}; // red, green, blue
    std::vector<TCellList> m_cells;
    std::vector<TAxisDistances> m_axisDistances; // red cells, then green, then blue
    std::vector<TCandidate> m_candidates;
};

} // namespace sw::palette
