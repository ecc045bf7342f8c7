#include "core/layout/line_suggestions.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace sw {

namespace {

int Difference(const uint8_t* a, const uint8_t* b)
{
    return std::max({ std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2]) });
}

// How far on each side the changes around a line are looked at.
constexpr int32_t kNeighbourhood = 8;

struct TCandidate {
    int32_t Position;
    int64_t Strength;
};

// What one axis collected: per line, how many of its pixels differ from the
// line before, whether the line is flat, and its colour when it is.
struct TAxis {
    std::vector<int64_t> Changes;
    std::vector<uint8_t> Flat;
    std::vector<uint8_t> Colour;

    explicit TAxis(int32_t count)
        : Changes(static_cast<size_t>(count), 0)
        , Flat(static_cast<size_t>(count), 1)
        , Colour(static_cast<size_t>(count) * 3, 0)
    { }
};

std::vector<int32_t> Choose(const TAxis& axis, int64_t length, const TSuggestionSettings& settings)
{
    const auto count = static_cast<int32_t>(axis.Flat.size());
    std::vector<TCandidate> candidates;
    const auto edge
        = std::max<int64_t>(static_cast<int64_t>(static_cast<double>(length) * settings.EdgeShare), 1);
    std::vector<int64_t> around;
    for (int32_t at = 1; at < count; ++at) {
        // Measured against the changes nearby, so a texture that changes
        // everywhere suggests nothing, while a soft edge two pixels wide
        // still stands out from its surroundings.
        around.clear();
        for (int32_t near = std::max(at - kNeighbourhood, 1);
             near <= std::min(at + kNeighbourhood, count - 1); ++near)
            if (std::abs(near - at) > 1)
                around.push_back(axis.Changes[static_cast<size_t>(near)]);
        int64_t background = 0;
        if (!around.empty()) {
            std::nth_element(around.begin(), around.begin() + static_cast<std::ptrdiff_t>(around.size() / 2),
                around.end());
            background = around[around.size() / 2];
        }
        const int64_t strength = axis.Changes[static_cast<size_t>(at)] - background;
        if (strength >= edge)
            candidates.push_back({ at, strength });
    }

    // A band ends where a line is not flat or changes colour.
    for (int32_t first = 0; first < count;) {
        if (!axis.Flat[static_cast<size_t>(first)]) {
            ++first;
            continue;
        }
        int32_t end = first + 1;
        while (end < count && axis.Flat[static_cast<size_t>(end)]
            && Difference(
                   &axis.Colour[static_cast<size_t>(first) * 3], &axis.Colour[static_cast<size_t>(end) * 3])
                <= settings.FlatTolerance)
            ++end;
        if (end - first >= settings.MinBand) {
            // Band edges beat edges of the same place found by change. A
            // band that merely fades into the next (a gradient) has no edge.
            for (const int32_t at : { first, end })
                if (at > 0 && at < count && axis.Changes[static_cast<size_t>(at)] > 0)
                    candidates.push_back({ at, length + 1 });
        }
        first = end;
    }

    std::stable_sort(candidates.begin(), candidates.end(),
        [](const TCandidate& a, const TCandidate& b) { return a.Strength > b.Strength; });
    std::vector<int32_t> chosen;
    for (const TCandidate& candidate : candidates) {
        const bool crowded = std::any_of(chosen.begin(), chosen.end(),
            [&](int32_t at) { return std::abs(at - candidate.Position) < settings.MinGap; });
        if (!crowded)
            chosen.push_back(candidate.Position);
    }
    std::sort(chosen.begin(), chosen.end());
    return chosen;
}

} // namespace

TLineSuggestions SuggestCutLines(const TPixelRows& picture, const TSuggestionSettings& settings)
{
    const int32_t width = picture.Width;
    const int32_t height = picture.Height;
    if (width <= 0 || height <= 0 || !picture.Row)
        return {};
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    TAxis columns(width);
    TAxis rows(height);
    std::vector<uint8_t> previous(rowBytes);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = picture.Row(y);
        if (!row)
            return {};
        auto& rowChanges = rows.Changes[static_cast<size_t>(y)];
        bool rowFlat = true;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* pixel = row + static_cast<size_t>(x) * 3;
            if (x > 0 && Difference(pixel - 3, pixel) > settings.ChangeThreshold)
                ++columns.Changes[static_cast<size_t>(x)];
            if (y > 0 && Difference(&previous[static_cast<size_t>(x) * 3], pixel) > settings.ChangeThreshold)
                ++rowChanges;
            if (Difference(row, pixel) > settings.FlatTolerance)
                rowFlat = false;
            uint8_t* columnColour = &columns.Colour[static_cast<size_t>(x) * 3];
            if (y == 0)
                std::memcpy(columnColour, pixel, 3);
            else if (Difference(columnColour, pixel) > settings.FlatTolerance)
                columns.Flat[static_cast<size_t>(x)] = 0;
        }
        rows.Flat[static_cast<size_t>(y)] = rowFlat ? 1 : 0;
        std::memcpy(&rows.Colour[static_cast<size_t>(y) * 3], row, 3);
        std::memcpy(previous.data(), row, rowBytes);
    }
    return TLineSuggestions { Choose(columns, height, settings), Choose(rows, width, settings) };
}

TSuggestionScore ScoreSuggestions(
    const std::vector<int32_t>& suggested, const std::vector<int32_t>& reference, int32_t tolerance)
{
    const auto near = [tolerance](const std::vector<int32_t>& lines, int32_t at) {
        return std::any_of(
            lines.begin(), lines.end(), [&](int32_t line) { return std::abs(line - at) <= tolerance; });
    };
    TSuggestionScore score;
    for (int32_t line : reference)
        ++(near(suggested, line) ? score.Found : score.Missed);
    for (int32_t line : suggested)
        score.Extra += near(reference, line) ? 0 : 1;
    return score;
}

} // namespace sw
