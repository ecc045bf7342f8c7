#include "core/imaging/palette/nearest_color.h"

#include <algorithm>
#include <limits>

namespace sw::palette {
namespace {

constexpr int kCellBits = 5;
constexpr int kCellShift = 8 - kCellBits;
constexpr int kCellSpan = 1 << kCellShift;

uint32_t Square(int value) { return uint32_t(value * value); }

} // namespace

TNearestColor::TNearestColor(const std::vector<TPaletteColor>& colors)
    : m_colors(colors)
    , m_cells(size_t(1) << (3 * kCellBits))
{
}

int TNearestColor::Find(int red, int green, int blue)
{
    const TCellList& cell = Cell(red, green, blue);
    uint32_t best = std::numeric_limits<uint32_t>::max();
    int bestIndex = 0;
    // Candidates come by their least possible distance: once that reaches the
    // best found, no later one can beat it.
    for (const TCandidate* candidate = m_candidates.data() + cell.Start,
                          *end = candidate + cell.Count;
         candidate != end && candidate->LeastDistance < best; ++candidate) {
        const TPaletteColor& color = m_colors[candidate->Index];
        const uint32_t distance = Square(red - color.Red) + Square(green - color.Green) + Square(blue - color.Blue);
        if (distance < best) {
            best = distance;
            bestIndex = int(candidate->Index);
        }
    }
    return bestIndex;
}

const TNearestColor::TCellList& TNearestColor::Cell(int red, int green, int blue)
{
    TCellList& cell = m_cells[size_t(((red >> kCellShift) << (2 * kCellBits))
        | ((green >> kCellShift) << kCellBits) | (blue >> kCellShift))];
    if (cell.Count > 0)
        return cell;

    const int low[3] = { red & ~(kCellSpan - 1), green & ~(kCellSpan - 1), blue & ~(kCellSpan - 1) };
    // A colour is a candidate when its least distance to the cell is within
    // the greatest distance of the colour that is surely nearest somewhere.
    uint32_t bound = std::numeric_limits<uint32_t>::max();
    const size_t start = m_candidates.size();
    for (size_t i = 0; i < m_colors.size(); ++i) {
        const int channel[3] = { m_colors[i].Red, m_colors[i].Green, m_colors[i].Blue };
        uint32_t least = 0;
        uint32_t most = 0;
        for (int c = 0; c < 3; ++c) {
            const int high = low[c] + kCellSpan - 1;
            if (channel[c] < low[c])
                least += Square(low[c] - channel[c]);
            else if (channel[c] > high)
                least += Square(channel[c] - high);
            most += Square(std::max(channel[c] - low[c], high - channel[c]));
        }
        bound = std::min(bound, most);
        m_candidates.push_back({ least, uint32_t(i) });
    }
    auto first = m_candidates.begin() + ptrdiff_t(start);
    auto last = std::remove_if(
        first, m_candidates.end(), [bound](const TCandidate& c) { return c.LeastDistance > bound; });
    m_candidates.erase(last, m_candidates.end());
    std::sort(first, m_candidates.end(), [](const TCandidate& a, const TCandidate& b) {
        return a.LeastDistance != b.LeastDistance ? a.LeastDistance < b.LeastDistance : a.Index < b.Index;
    });
    cell.Start = uint32_t(start);
    cell.Count = uint32_t(m_candidates.size() - start);
    return cell;
}

} // namespace sw::palette
