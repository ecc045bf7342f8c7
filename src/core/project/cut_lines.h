#pragma once

// The rules of the two cut-line lists that do not depend on how the lists are
// shown: the numeric order of positions, the bounds a position must respect,
// and what an in-place caption edit may turn into. A list is plain data here:
// the caption and check mark of every entry, in list order.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// One entry of a cut-line list: its caption (the position as decimal text,
// kept as it stands even when it is not a whole number) and its check mark.
struct TCutLineEntry {
    std::string Caption;
    bool Checked = false;
    bool operator==(const TCutLineEntry&) const = default;
};

using TCutLines = std::vector<TCutLineEntry>;

// The position a caption stands for, by the project's whole-number rule;
// empty when the caption is not a whole number.
std::optional<int32_t> CutLinePosition(std::string_view caption);

// -1, 0 or 1 as the first caption's position is below, equal to or above
// the second's. Positions compare as numbers, so "20" comes before "100". A
// caption that is no whole number sorts after every number and equal to any
// other such caption, so a damaged entry can never break the order.
int CompareCutLines(std::string_view caption1, std::string_view caption2);

// Sorts ascending by CompareCutLines; entries with equal positions keep the
// order in which they were added.
void SortCutLines(TCutLines& lines);
bool IsSortedByPosition(const TCutLines& lines);

// Where an entry with this caption goes in a list that is in order: after
// every entry that does not sort after it, which is where a stable sort puts
// it. captionAt(i) gives the caption of entry i of count.
template <typename CaptionAt>
size_t CutLineInsertionIndex(size_t count, const CaptionAt& captionAt, std::string_view caption)
{
    size_t first = 0;
    size_t last = count;
    while (first < last) {
        const size_t middle = first + (last - first) / 2;
        if (CompareCutLines(captionAt(middle), caption) <= 0)
            first = middle + 1;
        else
            last = middle;
    }
    return first;
}

// Inserts an entry for position (as plain decimal text) into a list that is
// in order, at its CutLineInsertionIndex.
void AddCutLine(TCutLines& lines, int32_t position, bool checked);

// A line fits the grid when 0 < position < extent, extent being the grid's
// width for a column and its height for a row.
bool IsInsideGrid(int32_t position, int32_t extent);

// The caption stored for text the user typed over an entry: the position in
// plain decimal ("0x1F" and " 31" both give "31"), or empty when the text is
// no whole number or the position does not fit the grid.
std::optional<std::string> AcceptCaptionEdit(std::string_view text, int32_t extent);

} // namespace sw
