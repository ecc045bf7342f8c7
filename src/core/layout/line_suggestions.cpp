#include "core/layout/line_suggestions.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <utility>

namespace sw {

namespace {

int Difference(const uint8_t* a, const uint8_t* b)
{
    return std::max({ std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2]) });
}

// Ink fewer rows high than this (plus the row past it) is a rule or a
// speck, not a glyph.
constexpr int32_t kLeastText = 5;

// The ground text stands on stays within this of one colour (paper grain
// and noise included).
constexpr int kTextGround = 20;

// How far on each side the changes around a line are looked at.
constexpr int32_t kNeighbourhood = 8;

struct TCandidate {
    int32_t Position;
    int64_t Strength;
};

// What one axis collected: per line, how many of its pixels differ from the
// line before (clearly, and at all), whether the line is flat, and its
// colour when it is.
struct TAxis {
    std::vector<int64_t> Changes;
    std::vector<int64_t> Steps;
    std::vector<uint8_t> Flat;
    std::vector<uint8_t> Colour;

    explicit TAxis(int32_t count)
        : Changes(static_cast<size_t>(count), 0)
        , Steps(static_cast<size_t>(count), 0)
        , Flat(static_cast<size_t>(count), 1)
        , Colour(static_cast<size_t>(count) * 3, 0)
    { }
};

// Collects the columns' axis of the rectangle [x0, x1) x [y0, ...), a row at
// a time.
void AddColumnsOfRow(
    TAxis& axis, const uint8_t* row, int32_t x0, int32_t x1, bool first, const TSuggestionSettings& settings)
{
    for (int32_t x = x0; x < x1; ++x) {
        const uint8_t* pixel = row + static_cast<size_t>(x) * 3;
        const auto at = static_cast<size_t>(x - x0);
        if (x > x0) {
            const int step = Difference(pixel - 3, pixel);
            axis.Changes[at] += step > settings.ChangeThreshold ? 1 : 0;
            axis.Steps[at] += step > settings.FlatTolerance ? 1 : 0;
        }
        uint8_t* colour = &axis.Colour[at * 3];
        if (first)
            std::memcpy(colour, pixel, 3);
        else if (Difference(colour, pixel) > settings.FlatTolerance)
            axis.Flat[at] = 0;
    }
}

// Adds row `at` of the rows' axis of the columns [x0, x1).
void AddRowOfColumns(TAxis& axis, size_t at, const uint8_t* row, const uint8_t* previous, int32_t x0,
    int32_t x1, const TSuggestionSettings& settings)
{
    int64_t changes = 0;
    int64_t steps = 0;
    bool flat = true;
    const uint8_t* start = row + static_cast<size_t>(x0) * 3;
    for (int32_t x = x0; x < x1; ++x) {
        const size_t offset = static_cast<size_t>(x) * 3;
        if (previous) {
            const int step = Difference(previous + offset, row + offset);
            changes += step > settings.ChangeThreshold ? 1 : 0;
            steps += step > settings.FlatTolerance ? 1 : 0;
        }
        if (Difference(start, row + offset) > settings.FlatTolerance)
            flat = false;
    }
    axis.Changes[at] = changes;
    axis.Steps[at] = steps;
    axis.Flat[at] = flat ? 1 : 0;
    std::memcpy(&axis.Colour[at * 3], start, 3);
}

// The runs [first, end) of flat lines whose colours stay within `tolerance`
// of the run's first: a band ends where a line is not flat or changes colour.
std::vector<std::pair<int32_t, int32_t>> FlatBands(const TAxis& axis, int tolerance)
{
    const auto count = static_cast<int32_t>(axis.Flat.size());
    std::vector<std::pair<int32_t, int32_t>> bands;
    for (int32_t first = 0; first < count;) {
        if (!axis.Flat[static_cast<size_t>(first)]) {
            ++first;
            continue;
        }
        int32_t end = first + 1;
        while (end < count && axis.Flat[static_cast<size_t>(end)]
            && Difference(
                   &axis.Colour[static_cast<size_t>(first) * 3], &axis.Colour[static_cast<size_t>(end) * 3])
                <= tolerance)
            ++end;
        bands.push_back({ first, end });
        first = end;
    }
    return bands;
}

// `length` is how long the lines are; a line needs `least` changes along it
// to be taken, whatever its neighbours; `blocked` lines are never taken.
std::vector<int32_t> Choose(const TAxis& axis, int64_t length, int64_t least,
    const std::vector<uint8_t>& blocked, const TSuggestionSettings& settings)
{
    const auto count = static_cast<int32_t>(axis.Flat.size());
    std::vector<TCandidate> candidates;
    const auto edge
        = std::max<int64_t>(static_cast<int64_t>(static_cast<double>(length) * settings.EdgeShare), 1);
    const auto open = [&](int32_t at) {
        return !blocked[static_cast<size_t>(at)] && axis.Steps[static_cast<size_t>(at)] >= least;
    };
    std::vector<int64_t> around;
    // Measured against the changes nearby, so a texture that changes
    // everywhere suggests nothing, while a soft edge two pixels wide still
    // stands out from its surroundings.
    const auto standsOut = [&](const std::vector<int64_t>& changes, int32_t at) {
        around.clear();
        for (int32_t near = std::max(at - kNeighbourhood, 1);
             near <= std::min(at + kNeighbourhood, count - 1); ++near)
            if (std::abs(near - at) > 1)
                around.push_back(changes[static_cast<size_t>(near)]);
        int64_t background = 0;
        if (!around.empty()) {
            std::nth_element(around.begin(), around.begin() + static_cast<std::ptrdiff_t>(around.size() / 2),
                around.end());
            background = around[around.size() / 2];
        }
        return changes[static_cast<size_t>(at)] - background;
    };
    for (int32_t at = 1; at < count; ++at) {
        // A faint edge (a white card on a light grey page) counts too.
        const int64_t strength = std::max(standsOut(axis.Changes, at), standsOut(axis.Steps, at));
        if (strength >= edge && open(at))
            candidates.push_back({ at, strength });
    }

    for (const auto& [first, end] : FlatBands(axis, settings.FlatTolerance)) {
        if (end - first >= settings.MinBand) {
            // Band edges beat edges of the same place found by change. A
            // band that merely fades into the next (a gradient) has no edge,
            // one that meets a faintly different ground (white on light
            // grey) has.
            for (const int32_t at : { first, end })
                if (at > 0 && at < count && axis.Steps[static_cast<size_t>(at)] > 0 && open(at))
                    candidates.push_back({ at, length + 1 });
        }
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

struct TBox {
    int32_t Left;
    int32_t Top;
    int32_t Right;
    int32_t Bottom;
};

// The boxes around the marks of the picture: 8-connected pixels that differ
// from their left or upper neighbour, labelled run by run. A pixel is marked
// by the step into it, so a mark's box reaches one pixel past its last
// row and column of ink.
class TMarks {
public:
    explicit TMarks(int32_t width)
        : m_width(width)
    { }

    void AddRow(int32_t y, const uint8_t* row, const uint8_t* previous, int threshold)
    {
        m_current.clear();
        m_scan = 0;
        for (int32_t x = 0; x < m_width;) {
            if (!Marked(x, row, previous, threshold)) {
                ++x;
                continue;
            }
            int32_t end = x + 1;
            while (end < m_width && Marked(end, row, previous, threshold))
                ++end;
            m_current.push_back({ x, end, Join(x, end, y) });
            x = end;
        }
        std::swap(m_current, m_previous);
    }

    // The marks no line should cross: text, icons, thumbnails. A mark
    // taller than `height` is a picture or a box's side; a wider one, or one
    // that is not dense, is a box's outline or rules meeting (lines may run
    // along them), unless it is text; a mark thinner than three pixels is a
    // rule. Each comes with whether it may be text: not in a picture (a
    // photo's speckles), tall enough and dense enough.
    std::vector<std::pair<TBox, bool>> Small(int32_t height, int32_t width) const
    {
        const auto dense = [this](size_t n) {
            const TBox& box = m_box[n];
            return m_count[n] * kPictureShare >= int64_t { box.Right - box.Left } * (box.Bottom - box.Top);
        };
        std::vector<TBox> pictures;
        for (size_t n = 0; n < m_parent.size(); ++n) {
            const TBox& box = m_box[n];
            if (m_parent[n] == n && (box.Bottom - box.Top > height || box.Right - box.Left > width)
                && dense(n))
                pictures.push_back(box);
        }
        std::vector<std::pair<TBox, bool>> small;
        for (size_t n = 0; n < m_parent.size(); ++n) {
            const TBox& box = m_box[n];
            const int32_t tall = box.Bottom - box.Top;
            const int32_t wide = box.Right - box.Left;
            if (m_parent[n] != n || tall > height || (wide > width && !dense(n)))
                continue;
            const bool inPicture = std::any_of(pictures.begin(), pictures.end(), [&](const TBox& picture) {
                return picture.Left <= box.Left && picture.Top <= box.Top && picture.Right >= box.Right
                    && picture.Bottom >= box.Bottom;
            });
            // A glyph is mostly edge; a button or a box is an outline.
            const bool text
                = !inPicture && tall >= kLeastText && m_count[n] * kTextShare >= int64_t { wide } * tall;
            if (!text && (tall < 3 || wide < 3 || !dense(n)))
                continue;
            small.push_back({ box, text });
        }
        KeepLines(small);
        return small;
    }

private:
    // Text comes in lines: a mark that may be text is text only with another
    // beside it, a glyph's height away at most, or a word's width. A lone
    // one is an icon or a small box, whose edges lines may follow.
    static void KeepLines(std::vector<std::pair<TBox, bool>>& marks)
    {
        std::vector<size_t> order;
        for (size_t n = 0; n < marks.size(); ++n)
            if (marks[n].second)
                order.push_back(n);
        std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return marks[a].first.Left < marks[b].first.Left; });
        std::vector<uint8_t> paired(marks.size(), 0);
        for (size_t i = 0; i < order.size(); ++i) {
            const TBox& box = marks[order[i]].first;
            const int32_t tall = box.Bottom - box.Top;
            for (size_t j = i + 1; j < order.size() && marks[order[j]].first.Left <= box.Right + tall; ++j) {
                const TBox& other = marks[order[j]].first;
                const int32_t overlap = std::min(box.Bottom, other.Bottom) - std::max(box.Top, other.Top);
                if (overlap * 2 >= std::min(tall, other.Bottom - other.Top)) {
                    paired[order[i]] = 1;
                    paired[order[j]] = 1;
                }
            }
        }
        // A word whose glyphs ran together is a line of its own.
        for (size_t n = 0; n < marks.size(); ++n) {
            const TBox& box = marks[n].first;
            marks[n].second
                = marks[n].second && (paired[n] || box.Right - box.Left >= 2 * (box.Bottom - box.Top));
        }
    }

    struct TRun {
        int32_t Begin;
        int32_t End;
        size_t Label;
    };

    bool Marked(int32_t x, const uint8_t* row, const uint8_t* previous, int threshold) const
    {
        const uint8_t* pixel = row + static_cast<size_t>(x) * 3;
        return (x > 0 && Difference(pixel - 3, pixel) > threshold)
            || (previous && Difference(previous + static_cast<size_t>(x) * 3, pixel) > threshold);
    }

    size_t Root(size_t n)
    {
        while (m_parent[n] != n) {
            m_parent[n] = m_parent[m_parent[n]];
            n = m_parent[n];
        }
        return n;
    }

    size_t Join(int32_t begin, int32_t end, int32_t y)
    {
        size_t label = m_parent.size();
        // Runs come left to right in both rows: those that end before this
        // one (diagonals included) are passed for good.
        while (m_scan < m_previous.size() && m_previous[m_scan].End < begin)
            ++m_scan;
        for (size_t n = m_scan; n < m_previous.size() && m_previous[n].Begin <= end; ++n) {
            const TRun& above = m_previous[n];
            const size_t other = Root(above.Label);
            if (label == m_parent.size()) {
                label = other;
                continue;
            }
            const size_t mine = Root(label);
            if (mine == other)
                continue;
            m_parent[other] = mine;
            m_count[mine] += m_count[other];
            TBox& box = m_box[mine];
            const TBox& merged = m_box[other];
            box = { std::min(box.Left, merged.Left), std::min(box.Top, merged.Top),
                std::max(box.Right, merged.Right), std::max(box.Bottom, merged.Bottom) };
        }
        if (label == m_parent.size()) {
            m_parent.push_back(label);
            m_box.push_back({ begin, y, end, y + 1 });
            m_count.push_back(end - begin);
            return label;
        }
        label = Root(label);
        m_count[label] += end - begin;
        TBox& box = m_box[label];
        box = { std::min(box.Left, begin), box.Top, std::max(box.Right, end), std::max(box.Bottom, y + 1) };
        return label;
    }

    // A large mark is a picture when at least one pixel in this many of its
    // box is marked; a box's outline is far thinner.
    static constexpr int64_t kPictureShare = 8;
    // Text is marked at one pixel in this many of its box at least.
    static constexpr int64_t kTextShare = 10;

    int32_t m_width;
    size_t m_scan = 0;
    std::vector<TRun> m_previous;
    std::vector<TRun> m_current;
    std::vector<size_t> m_parent;
    std::vector<TBox> m_box;
    std::vector<int64_t> m_count;
};

// Where lines would cross marks: per position, the spans across it that
// are closed. A line at p runs between pixels p - 1 and p; it crosses a
// mark with ink on both sides. Text's own box is taller than its ink (room
// for accents and descenders) and runs on over the spaces between words,
// so each mark closes a margin around it in proportion to its height.
class TClosed {
public:
    TClosed(int32_t columns, int32_t rows)
        : m_columns(static_cast<size_t>(columns))
        , m_rows(static_cast<size_t>(rows))
    { }

    void Add(const TBox& box, bool bare)
    {
        const int32_t height = box.Bottom - box.Top;
        const int32_t above = bare ? 0 : height * 7 / 20;
        const int32_t aside = bare ? 0 : height / 2;
        const int32_t left = std::max(box.Left - aside, 0);
        const int32_t right = std::min(box.Right + aside, static_cast<int32_t>(m_columns.size()));
        const int32_t top = std::max(box.Top - above, 0);
        const int32_t bottom = std::min(box.Bottom + above, static_cast<int32_t>(m_rows.size()));
        // The box reaches one pixel past the ink on its right and bottom.
        for (int32_t x = left + 1; x < right - 1; ++x)
            m_columns[static_cast<size_t>(x)].push_back({ top, bottom });
        for (int32_t y = top + 1; y < bottom - 1; ++y)
            m_rows[static_cast<size_t>(y)].push_back({ left, right });
    }

    std::vector<uint8_t> Whole(bool vertical) const
    {
        const auto& spans = vertical ? m_columns : m_rows;
        std::vector<uint8_t> closed(spans.size(), 0);
        for (size_t n = 0; n < spans.size(); ++n)
            closed[n] = spans[n].empty() ? 0 : 1;
        return closed;
    }

    // Positions [begin, begin + count) closed somewhere in [from, to).
    std::vector<uint8_t> Within(bool vertical, int32_t begin, int32_t count, int32_t from, int32_t to) const
    {
        const auto& spans = vertical ? m_columns : m_rows;
        std::vector<uint8_t> closed(static_cast<size_t>(count), 0);
        for (int32_t n = 0; n < count; ++n)
            for (const auto& [low, high] : spans[static_cast<size_t>(begin + n)])
                if (low < to && high > from)
                    closed[static_cast<size_t>(n)] = 1;
        return closed;
    }

private:
    std::vector<std::vector<std::pair<int32_t, int32_t>>> m_columns;
    std::vector<std::vector<std::pair<int32_t, int32_t>>> m_rows;
};

// Tells text from other small marks (an icon's details, a thumbnail): text
// stands on a plain ground, so the row above its ink and the row below are
// flat. Keeps the flag of the marks that may be text only for those that are.
bool FindText(const TPixelRows& picture, std::vector<std::pair<TBox, bool>>& marks)
{
    // Per row, the marks whose edge rows it is: (mark, segment start, end).
    std::vector<std::vector<size_t>> checks(static_cast<size_t>(picture.Height));
    std::vector<int> flatRows(marks.size(), 0);
    for (size_t n = 0; n < marks.size(); ++n) {
        const TBox& box = marks[n].first;
        if (!marks[n].second)
            continue;
        for (const int32_t y : { box.Top - 1, box.Bottom - 1 })
            if (y >= 0)
                checks[static_cast<size_t>(y)].push_back(n);
            else
                ++flatRows[n];
    }
    for (int32_t y = 0; y < picture.Height; ++y) {
        if (checks[static_cast<size_t>(y)].empty())
            continue;
        const uint8_t* row = picture.Row(y);
        if (!row)
            return false;
        for (const size_t n : checks[static_cast<size_t>(y)]) {
            const TBox& box = marks[n].first;
            const uint8_t* first = row + static_cast<size_t>(box.Left) * 3;
            bool flat = true;
            for (int32_t x = box.Left + 1; x < box.Right && flat; ++x)
                flat = Difference(first, row + static_cast<size_t>(x) * 3) <= kTextGround;
            flatRows[n] += flat ? 1 : 0;
        }
    }
    for (size_t n = 0; n < marks.size(); ++n)
        marks[n].second = flatRows[n] == 2;
    return true;
}

// The bands between lines: [start, end) pairs covering begin to end.
std::vector<std::pair<int32_t, int32_t>> Bands(const std::vector<int32_t>& lines, int32_t begin, int32_t end)
{
    std::vector<std::pair<int32_t, int32_t>> bands;
    int32_t start = begin;
    for (const int32_t line : lines) {
        bands.push_back({ start, line });
        start = line;
    }
    bands.push_back({ start, end });
    return bands;
}

int64_t Least(int32_t length, const TSuggestionSettings& settings)
{
    return std::max<int64_t>(static_cast<int64_t>(static_cast<double>(length) * settings.PartialShare), 1);
}

// How deep the cells between lines are searched for lines of their own: a
// section, a block in it, a card in the block, a picture in the card.
constexpr int kPartialDepth = 5;

// A blank gap that splits a cell is at least this many flat lines.
constexpr int32_t kGap = 8;

// The middles of the runs of flat lines of one colour, kGap long or more,
// that do not touch the ends.
std::vector<int32_t> GapMiddles(const TAxis& axis)
{
    const auto count = static_cast<int32_t>(axis.Flat.size());
    std::vector<int32_t> middles;
    for (const auto& [first, end] : FlatBands(axis, 0))
        if (first > 0 && end < count && end - first >= kGap)
            middles.push_back((first + end) / 2);
    return middles;
}

// Looks for the lines of the cell [x0, x1) x [y0, y1), then in the cells
// they make, as the whole lines make the first cells.
bool SuggestInCell(const TPixelRows& picture, const TBox& cell, int depth, const TClosed& closed,
    const TSuggestionSettings& settings, std::vector<TPartialLine>& lines)
{
    const int32_t width = cell.Right - cell.Left;
    const int32_t height = cell.Bottom - cell.Top;
    if (width < settings.MinPartialBand || height < settings.MinPartialBand || depth > kPartialDepth)
        return true;
    TAxis columns(width);
    TAxis rows(height);
    const uint8_t* previous = nullptr;
    std::vector<uint8_t> kept(static_cast<size_t>(picture.Width) * 3);
    for (int32_t y = cell.Top; y < cell.Bottom; ++y) {
        const uint8_t* row = picture.Row(y);
        if (!row)
            return false;
        AddColumnsOfRow(columns, row + static_cast<size_t>(cell.Left) * 3, 0, width, y == cell.Top, settings);
        AddRowOfColumns(
            rows, static_cast<size_t>(y - cell.Top), row, previous, cell.Left, cell.Right, settings);
        std::memcpy(kept.data(), row, kept.size());
        previous = kept.data();
    }
    std::vector<int32_t> across = Choose(columns, height, Least(height, settings),
        closed.Within(true, cell.Left, width, cell.Top, cell.Bottom), settings);
    std::vector<int32_t> down = Choose(rows, width, Least(width, settings),
        closed.Within(false, cell.Top, height, cell.Left, cell.Right), settings);
    for (int32_t& at : across)
        at += cell.Left;
    for (int32_t& at : down)
        at += cell.Top;
    for (const int32_t at : across)
        lines.push_back({ true, at, cell.Top, cell.Bottom, 0, 0 });
    for (const int32_t at : down)
        lines.push_back({ false, at, cell.Left, cell.Right, 0, 0 });
    if (across.empty() && down.empty()) {
        // No line runs through the whole cell: split it along the middle of
        // its blank gaps (the space between a mail's blocks), so the edges
        // of a box in one part span enough of that part to show.
        down = GapMiddles(rows);
        for (int32_t& at : down)
            at += cell.Top;
        if (down.empty()) {
            across = GapMiddles(columns);
            for (int32_t& at : across)
                at += cell.Left;
        }
        if (down.empty() && across.empty())
            return true;
    }
    for (const auto& [top, bottom] : Bands(down, cell.Top, cell.Bottom))
        for (const auto& [left, right] : Bands(across, cell.Left, cell.Right))
            if (!SuggestInCell(picture, { left, top, right, bottom }, depth + 1, closed, settings, lines))
                return false;
    return true;
}

// The band of `lines` (numbered from 1) that holds pixel `at`.
int32_t BandOf(const std::vector<int32_t>& lines, int32_t at)
{
    return static_cast<int32_t>(std::upper_bound(lines.begin(), lines.end(), at) - lines.begin()) + 1;
}

// The partial lines of every cell the whole lines make; lines of
// neighbouring cells that go on at the same place become one.
bool SuggestPartial(const TPixelRows& picture, TLineSuggestions& found, const TClosed& closed,
    const TSuggestionSettings& settings)
{
    std::vector<TPartialLine> lines;
    for (const auto& [top, bottom] : Bands(found.Rows, 0, picture.Height))
        for (const auto& [left, right] : Bands(found.Columns, 0, picture.Width))
            if (!SuggestInCell(picture, { left, top, right, bottom }, 1, closed, settings, lines))
                return false;
    std::sort(lines.begin(), lines.end(), [](const TPartialLine& a, const TPartialLine& b) {
        return std::tuple(!a.Vertical, a.Position, a.From) < std::tuple(!b.Vertical, b.Position, b.From);
    });
    std::vector<TPartialLine> merged;
    for (const TPartialLine& line : lines) {
        const auto& whole = line.Vertical ? found.Columns : found.Rows;
        const bool taken = std::any_of(whole.begin(), whole.end(),
            [&](int32_t at) { return std::abs(at - line.Position) < settings.MinGap; });
        if (taken)
            continue;
        // Cells side by side find the same gutter a pixel apart at most.
        const auto going = std::find_if(merged.rbegin(), merged.rend(), [&](const TPartialLine& before) {
            return before.Vertical == line.Vertical && std::abs(before.Position - line.Position) <= 1
                && before.From <= line.To && line.From <= before.To;
        });
        if (going != merged.rend()) {
            going->From = std::min(going->From, line.From);
            going->To = std::max(going->To, line.To);
            continue;
        }
        merged.push_back(line);
    }
    for (TPartialLine& line : merged) {
        const auto& other = line.Vertical ? found.Rows : found.Columns;
        line.FromBand = BandOf(other, line.From);
        line.ToBand = BandOf(other, line.To - 1);
    }
    std::sort(merged.begin(), merged.end(), [](const TPartialLine& a, const TPartialLine& b) {
        return std::tuple(!a.Vertical, a.Position, a.From) < std::tuple(!b.Vertical, b.Position, b.From);
    });
    found.Partial = std::move(merged);
    return true;
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
    TMarks marks(width);
    std::vector<uint8_t> previous(rowBytes);
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = picture.Row(y);
        if (!row)
            return {};
        AddColumnsOfRow(columns, row, 0, width, y == 0, settings);
        AddRowOfColumns(
            rows, static_cast<size_t>(y), row, y > 0 ? previous.data() : nullptr, 0, width, settings);
        marks.AddRow(y, row, y > 0 ? previous.data() : nullptr, settings.InkThreshold);
        std::memcpy(previous.data(), row, rowBytes);
    }
    TClosed closed(width, height);
    std::vector<std::pair<TBox, bool>> small = marks.Small(settings.MarkHeight, settings.MarkWidth);
    if (!FindText(picture, small))
        return {};
    for (const auto& [box, text] : small)
        closed.Add(box, !text);
    TLineSuggestions found { Choose(columns, height, 0, closed.Whole(true), settings),
        Choose(rows, width, 0, closed.Whole(false), settings), {} };
    if (settings.Partial && !SuggestPartial(picture, found, closed, settings))
        return {};
    return found;
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
