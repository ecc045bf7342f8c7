#include "core/imaging/palette/palette.h"

#include "core/base/errors.h"
#include "core/imaging/palette/color_histogram.h"
#include "core/imaging/palette/nearest_color.h"

#include <algorithm>
#include <array>
#include <tuple>

namespace sw {

using palette::TColorPoint;

namespace {

// Refinement passes at most; most pictures settle in fewer.
constexpr int kRefinePasses = 8;
// A histogram has far fewer points than a picture has pixels: coarse cells
// for its nearest-colour searches.
constexpr int kRefineCellBits = 4;

struct TWeightedColor {
    TPaletteColor Color;
    uint64_t Count = 0;
};

void SortByUse(std::vector<TWeightedColor>& colors)
{
    std::sort(colors.begin(), colors.end(), [](const TWeightedColor& a, const TWeightedColor& b) {
        if (a.Count != b.Count)
            return a.Count > b.Count;
        return std::tie(a.Color.Red, a.Color.Green, a.Color.Blue)
            < std::tie(b.Color.Red, b.Color.Green, b.Color.Blue);
    });
}

uint8_t Channel(const TColorPoint& point, int axis)
{
    return axis == 0 ? point.Red : axis == 1 ? point.Green : point.Blue;
}

// Sums over a set of points, enough for its squared error about its mean:
// Squares is the sum over points of count x mean^2, so the error is
// Squares - |Sum|^2 / Count (the spread inside a histogram box is left out).
struct TMoments {
    double Count = 0;
    double Sum[3] = { 0, 0, 0 };
    double Squares = 0;

    void Add(const TColorPoint& point)
    {
        const double sums[3] = { double(point.SumRed), double(point.SumGreen), double(point.SumBlue) };
        Count += point.Count;
        for (int c = 0; c < 3; ++c) {
            Sum[c] += sums[c];
            Squares += sums[c] * sums[c] / point.Count;
        }
    }
    void Add(const TMoments& other)
    {
        Count += other.Count;
        for (int c = 0; c < 3; ++c)
            Sum[c] += other.Sum[c];
        Squares += other.Squares;
    }
    TMoments Minus(const TMoments& other) const
    {
        TMoments result = *this;
        result.Count -= other.Count;
        for (int c = 0; c < 3; ++c)
            result.Sum[c] -= other.Sum[c];
        result.Squares -= other.Squares;
        return result;
    }
    double Error() const
    {
        if (Count <= 0)
            return 0;
        return Squares - (Sum[0] * Sum[0] + Sum[1] * Sum[1] + Sum[2] * Sum[2]) / Count;
    }
    TPaletteColor Mean() const
    {
        auto channel = [this](int c) { return uint8_t(std::clamp(Sum[c] / Count + 0.5, 0.0, 255.0)); };
        return { channel(0), channel(1), channel(2) };
    }
};

struct TBox {
    size_t Begin = 0;
    size_t End = 0;
    TMoments Moments;
};

// Cuts the box in two where the summed squared error of the halves is least,
// over the three axes. False when every point of it has one colour.
bool SplitBox(std::vector<TColorPoint>& points, const TBox& box, TBox& low, TBox& high)
{
    double bestError = -1;
    int bestAxis = 0;
    int bestCut = 0;
    TMoments bestLow;
    for (int axis = 0; axis < 3; ++axis) {
        std::array<TMoments, 256> levels {};
        for (size_t i = box.Begin; i < box.End; ++i)
            levels[Channel(points[i], axis)].Add(points[i]);
        TMoments below;
        for (int cut = 0; cut < 255; ++cut) {
            below.Add(levels[size_t(cut)]);
            if (below.Count <= 0 || below.Count >= box.Moments.Count)
                continue;
            const double error = below.Error() + box.Moments.Minus(below).Error();
            if (bestError < 0 || error < bestError) {
                bestError = error;
                bestAxis = axis;
                bestCut = cut;
                bestLow = below;
            }
        }
    }
    if (bestError < 0)
        return false;
    const auto middle
        = std::partition(points.begin() + ptrdiff_t(box.Begin), points.begin() + ptrdiff_t(box.End),
            [&](const TColorPoint& point) { return Channel(point, bestAxis) <= bestCut; });
    const size_t split = size_t(middle - points.begin());
    low = { box.Begin, split, bestLow };
    high = { split, box.End, box.Moments.Minus(bestLow) };
    return true;
}

// Seeds: the boxes of a variance-driven median cut, always splitting the box
// with the largest squared error.
std::vector<TPaletteColor> CutBoxes(std::vector<TColorPoint>& points, int colors)
{
    std::vector<TBox> boxes(1);
    boxes[0].End = points.size();
    for (const TColorPoint& point : points)
        boxes[0].Moments.Add(point);
    std::vector<bool> settled(1, false);
    while (int(boxes.size()) < colors) {
        int worst = -1;
        double worstError = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (settled[i] || boxes[i].End - boxes[i].Begin < 2)
                continue;
            const double error = boxes[i].Moments.Error();
            if (worst < 0 || error > worstError) {
                worst = int(i);
                worstError = error;
            }
        }
        if (worst < 0)
            break;
        TBox low, high;
        if (!SplitBox(points, boxes[size_t(worst)], low, high)) {
            settled[size_t(worst)] = true;
            continue;
        }
        boxes[size_t(worst)] = low;
        boxes.push_back(high);
        settled.push_back(false);
    }
    std::vector<TPaletteColor> seeds;
    for (const TBox& box : boxes)
        seeds.push_back(box.Moments.Mean());
    return seeds;
}

// Lloyd's k-means over the histogram, each point weighted by its pixels: every
// colour moves to the mean of the points nearest to it, until none moves.
std::vector<TWeightedColor> Refine(const std::vector<TColorPoint>& points, std::vector<TPaletteColor> colors)
{
    struct TCluster {
        uint64_t Count = 0;
        uint64_t Sum[3] = { 0, 0, 0 };
    };
    std::vector<TCluster> clusters;
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        palette::TNearestColor nearest(colors, kRefineCellBits);
        clusters.assign(colors.size(), TCluster {});
        for (const TColorPoint& point : points) {
            TCluster& cluster = clusters[size_t(nearest.Find(point.Red, point.Green, point.Blue))];
            cluster.Count += point.Count;
            cluster.Sum[0] += point.SumRed;
            cluster.Sum[1] += point.SumGreen;
            cluster.Sum[2] += point.SumBlue;
        }
        bool moved = false;
        for (size_t i = 0; i < colors.size(); ++i) {
            const TCluster& cluster = clusters[i];
            if (cluster.Count == 0)
                continue;
            const uint64_t half = cluster.Count / 2;
            const TPaletteColor mean { uint8_t((cluster.Sum[0] + half) / cluster.Count),
                uint8_t((cluster.Sum[1] + half) / cluster.Count),
                uint8_t((cluster.Sum[2] + half) / cluster.Count) };
            moved = moved || !(mean == colors[i]);
            colors[i] = mean;
        }
        if (!moved)
            break;
    }
    // Colours no point chose are dropped; two that ended equal become one.
    std::vector<TWeightedColor> result;
    for (size_t i = 0; i < colors.size(); ++i) {
        if (clusters[i].Count == 0)
            continue;
        auto same = std::find_if(result.begin(), result.end(),
            [&](const TWeightedColor& other) { return other.Color == colors[i]; });
        if (same != result.end())
            same->Count += clusters[i].Count;
        else
            result.push_back({ colors[i], clusters[i].Count });
    }
    return result;
}

} // namespace

TPalette MakePalette(const TPixelView& view, int maxColors, std::optional<TPaletteColor> transparent)
{
    if (maxColors < kMinPaletteColors || maxColors > kMaxPaletteColors)
        throw EInvalidGraphicOperation(Format("Invalid palette size %d (expected %d to %d colours)",
            maxColors, kMinPaletteColors, kMaxPaletteColors));
    palette::CheckPixelView(view);

    const palette::TColorHistogram histogram(view, transparent);
    TPalette result;
    int opaqueColors = maxColors;
    if (histogram.TransparentCount() > 0) {
        result.TransparentIndex = 0;
        result.Colors.push_back(*transparent);
        --opaqueColors;
    }

    std::vector<TColorPoint> points = histogram.Points();
    std::vector<TWeightedColor> colors;
    if (histogram.Exact() && points.size() <= size_t(opaqueColors)) {
        result.Exact = true;
        for (const TColorPoint& point : points)
            colors.push_back({ { point.Red, point.Green, point.Blue }, point.Count });
    } else {
        colors = Refine(points, CutBoxes(points, opaqueColors));
    }
    SortByUse(colors);
    for (const TWeightedColor& color : colors)
        result.Colors.push_back(color.Color);
    return result;
}

} // namespace sw
