#include "core/imaging/palette/nearest_color.h"

#include <algorithm>
#include <limits>

namespace sw::palette {
namespace {

uint32_t Square(int value)
{
    return uint32_t(value * value);
}

} // namespace

TNearestColor::TNearestColor(const std::vector<TPaletteColor>& colors, int cellBits)
    : m_cellBits(cellBits)
    , m_cellShift(8 - cellBits)
    , m_count(std::min(colors.size(), size_t(256)))
    , m_cells(size_t(1) << (3 * cellBits))
    , m_axisDistances(size_t(3) << cellBits)
{
    for (size_t i = 0; i < m_count; ++i) {
        m_channels[0][i] = colors[i].Red;
        m_channels[1][i] = colors[i].Green;
        m_channels[2][i] = colors[i].Blue;
    }
    // Per channel and cell position along it, each colour's least and
    // greatest squared distance to the cell's span of that channel; a cell's
    // distances are then three sums.
    const int span = 1 << m_cellShift;
    for (int c = 0; c < 3; ++c)
        for (int position = 0; position < (1 << cellBits); ++position) {
            TAxisDistances& distances = m_axisDistances[size_t((c << cellBits) + position)];
            const int low = position * span;
            const int high = low + span - 1;
            for (size_t i = 0; i < m_count; ++i) {
                const int value = m_channels[c][i];
                distances.Least[i] = Square(std::max(low - value, 0) + std::max(value - high, 0));
                distances.Most[i] = Square(std::max(value - low, high - value));
            }
        }
}

int TNearestColor::Find(int red, int green, int blue)
{
    const TCellList& cell = Cell(red, green, blue);
    uint32_t best = std::numeric_limits<uint32_t>::max();
    int bestIndex = 0;
    // Candidates come by their least possible distance: once that reaches the
    // best found, no later one can beat it.
    for (const TCandidate *candidate = m_candidates.data() + cell.Start, *end = candidate + cell.Count;
         candidate != end && candidate->LeastDistance < best; ++candidate) {
        const uint32_t at = candidate->Index;
        const uint32_t distance = Square(red - m_channels[0][at]) + Square(green - m_channels[1][at])
            + Square(blue - m_channels[2][at]);
        if (distance < best) {
            best = distance;
            bestIndex = int(candidate->Index);
        }
    }
    return bestIndex;
}

const TNearestColor::TCellList& TNearestColor::Cell(int red, int green, int blue)
{
    TCellList& cell = m_cells[size_t(((red >> m_cellShift) << (2 * m_cellBits))
        | ((green >> m_cellShift) << m_cellBits) | (blue >> m_cellShift))];
    if (cell.Count > 0)
        return cell;

    const TAxisDistances& redDistances = m_axisDistances[size_t(red >> m_cellShift)];
    const TAxisDistances& greenDistances
        = m_axisDistances[size_t((1 << m_cellBits) + (green >> m_cellShift))];
    const TAxisDistances& blueDistances = m_axisDistances[size_t((2 << m_cellBits) + (blue >> m_cellShift))];
    const size_t count = m_count;
    uint32_t least[256];
    uint32_t most[256];
    for (size_t i = 0; i < count; ++i) {
        least[i] = redDistances.Least[i] + greenDistances.Least[i] + blueDistances.Least[i];
        most[i] = redDistances.Most[i] + greenDistances.Most[i] + blueDistances.Most[i];
    }
    // A colour is a candidate when its least distance to the cell is within
    // the greatest distance of the colour that is surely nearest somewhere.
    uint32_t bound = std::numeric_limits<uint32_t>::max();
    for (size_t i = 0; i < count; ++i)
        bound = std::min(bound, most[i]);
    const size_t start = m_candidates.size();
    for (size_t i = 0; i < count; ++i)
        if (least[i] <= bound)
            m_candidates.push_back({ least[i], uint32_t(i) });
    std::sort(m_candidates.begin() + ptrdiff_t(start), m_candidates.end(),
        [](const TCandidate& a, const TCandidate& b) {
            return a.LeastDistance != b.LeastDistance ? a.LeastDistance < b.LeastDistance : a.Index < b.Index;
        });
    cell.Start = uint32_t(start);
    cell.Count = uint32_t(m_candidates.size() - start);
    return cell;
}

} // namespace sw::palette
