#include "core/project/cut_lines.h"

#include "core/base/sysutils.h"

#include <algorithm>
#include <utility>

namespace sw {

std::optional<int32_t> CutLinePosition(std::string_view caption)
{
    return TryStrToInt(caption);
}

int CompareCutLines(std::string_view caption1, std::string_view caption2)
{
    const std::optional<int32_t> a = CutLinePosition(caption1);
    const std::optional<int32_t> b = CutLinePosition(caption2);
    if (!a || !b)
        return a ? -1 : (b ? 1 : 0);
    if (*a == *b)
        return 0;
    return *a < *b ? -1 : 1;
}

void SortCutLines(TCutLines& lines)
{
    std::stable_sort(lines.begin(), lines.end(), [](const TCutLineEntry& x, const TCutLineEntry& y) {
        return CompareCutLines(x.Caption, y.Caption) < 0;
    });
}

bool IsSortedByPosition(const TCutLines& lines)
{
    return std::is_sorted(lines.begin(), lines.end(), [](const TCutLineEntry& x, const TCutLineEntry& y) {
        return CompareCutLines(x.Caption, y.Caption) < 0;
    });
}

void AddCutLine(TCutLines& lines, int32_t position, bool checked)
{
    std::string caption = IntToStr(position);
    const size_t at = CutLineInsertionIndex(
        lines.size(), [&lines](size_t i) -> std::string_view { return lines[i].Caption; }, caption);
    lines.insert(
        lines.begin() + static_cast<std::ptrdiff_t>(at), TCutLineEntry { std::move(caption), checked });
}

bool IsInsideGrid(int32_t position, int32_t extent)
{
    return position > 0 && position < extent;
}

std::optional<std::string> AcceptCaptionEdit(std::string_view text, int32_t extent)
{
    const std::optional<int32_t> position = CutLinePosition(text);
    if (!position || !IsInsideGrid(*position, extent))
        return std::nullopt;
    return IntToStr(*position);
}

} // namespace sw
