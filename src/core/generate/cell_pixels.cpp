#include "core/generate/cell_pixels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace sw {

TBitmap CutOut(TBitmap& source, TBand columns, TBand rows)
{
    TBitmap cell;
    // In the form the writers read, so that none of them converts a copy.
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    // The copy covers every pixel: the pieces lie inside the picture.
    cell.SetSizeForOverwrite(columns.Length(), rows.Length());
    cell.Canvas().CopyRect({ 0, 0, columns.Length(), rows.Length() }, source.Canvas(),
        { columns.Start, rows.Start, columns.End, rows.End });
    return cell;
}

// The same from 24-bit rows anywhere, a strip's file mapped in memory included.
TBitmap CutOut(const TPixelView& source, TBand columns, TBand rows)
{
    TBitmap cell;
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    cell.SetSizeForOverwrite(columns.Length(), rows.Length());
    const size_t rowBytes = size_t(columns.Length()) * 3;
    for (int y = 0; y < rows.Length(); ++y)
        std::memcpy(cell.ScanLine(y), source.Row(rows.Start + y) + ptrdiff_t(columns.Start) * 3, rowBytes);
    return cell;
}

// The cell's one colour, or nothing when it has two, or a pixel that is not
// opaque (a fill would lose its transparency).
std::optional<TColor> FlatColor(const TBitmap& cell, const std::optional<TPixelView>& rgba)
{
    if (cell.Width() <= 0 || cell.Height() <= 0)
        return std::nullopt;
    const uint8_t* first = cell.ScanLine(0);
    for (int y = 0; y < cell.Height(); ++y) {
        const uint8_t* row = cell.ScanLine(y);
        for (int x = 0; x < cell.Width(); ++x)
            if (!std::equal(row + 3 * x, row + 3 * x + 3, first))
                return std::nullopt;
        if (rgba)
            for (int x = 0; x < rgba->Width; ++x)
                if (rgba->Row(y)[4 * x + 3] != 255)
                    return std::nullopt;
    }
    return RGB(first[2], first[1], first[0]);
}

TColor DominantColor(const TBitmap& cell)
{
    const int64_t pixels = int64_t(cell.Width()) * cell.Height();
    if (pixels <= 0)
        return RGB(0, 0, 0);
    std::unordered_map<uint32_t, int64_t> counts;
    uint64_t sum[3] = { 0, 0, 0 };
    uint32_t mostFrequent = 0;
    int64_t mostCount = 0;
    for (int y = 0; y < cell.Height(); ++y) {
        const uint8_t* row = cell.ScanLine(y);
        for (int x = 0; x < cell.Width(); ++x) {
            const uint8_t* bgr = row + 3 * x;
            for (int c = 0; c < 3; ++c)
                sum[c] += bgr[c];
            const uint32_t key = uint32_t(bgr[0]) | uint32_t(bgr[1]) << 8 | uint32_t(bgr[2]) << 16;
            const int64_t count = ++counts[key];
            if (count > mostCount) {
                mostCount = count;
                mostFrequent = key;
            }
        }
    }
    if (mostCount * 5 >= pixels * 2)
        return RGB(uint8_t(mostFrequent >> 16), uint8_t(mostFrequent >> 8), uint8_t(mostFrequent));
    const auto mean = [&](int c) { return uint8_t((sum[c] + uint64_t(pixels) / 2) / uint64_t(pixels)); };
    return RGB(mean(2), mean(1), mean(0));
}

namespace {

TColor MeanColor(const TBitmap& cell)
{
    const int64_t pixels = int64_t(cell.Width()) * cell.Height();
    if (pixels <= 0)
        return RGB(0, 0, 0);
    uint64_t sum[3] = { 0, 0, 0 };
    for (int y = 0; y < cell.Height(); ++y) {
        const uint8_t* row = cell.ScanLine(y);
        for (int x = 0; x < 3 * cell.Width(); ++x)
            sum[x % 3] += row[x];
    }
    const auto mean = [&](int c) { return uint8_t((sum[c] + uint64_t(pixels) / 2) / uint64_t(pixels)); };
    return RGB(mean(2), mean(1), mean(0));
}

} // namespace

TColor StandInColor(const TBitmap& cell)
{
    // Levels per channel the dominant colour may stray from the mean.
    constexpr int kCloseToMean = 6;
    const TColor dominant = DominantColor(cell);
    const TColor mean = MeanColor(cell);
    const int apart = std::max({ std::abs(GetRValue(dominant) - GetRValue(mean)),
        std::abs(GetGValue(dominant) - GetGValue(mean)), std::abs(GetBValue(dominant) - GetBValue(mean)) });
    return apart <= kCloseToMean ? dominant : mean;
}

// Each 2 x 2 block of a 24-bit bitmap as one pixel of their mean, rounded.
TBitmap HalfSize(const TBitmap& cell)
{
    TBitmap half;
    half.SetSize(cell.Width() / 2, cell.Height() / 2);
    for (int y = 0; y < half.Height(); ++y) {
        const uint8_t* upper = cell.ScanLine(2 * y);
        const uint8_t* lower = cell.ScanLine(2 * y + 1);
        uint8_t* out = half.ScanLine(y);
        for (int i = 0; i < 3 * half.Width(); ++i) {
            const int at = (i / 3) * 6 + i % 3;
            out[i] = static_cast<uint8_t>((upper[at] + upper[at + 3] + lower[at] + lower[at + 3] + 2) / 4);
        }
    }
    return half;
}

// The same for straight RGBA: colours are weighed by their alpha, so the
// colour under a transparent pixel does not bleed into its neighbours.
std::vector<uint8_t> HalfSize(const TPixelView& rgba)
{
    const int width = rgba.Width / 2;
    const int height = rgba.Height / 2;
    std::vector<uint8_t> half(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t* p[4] = { rgba.Row(2 * y) + 8 * x, rgba.Row(2 * y) + 8 * x + 4,
                rgba.Row(2 * y + 1) + 8 * x, rgba.Row(2 * y + 1) + 8 * x + 4 };
            const int alpha = p[0][3] + p[1][3] + p[2][3] + p[3][3];
            uint8_t* out = &half[(size_t(y) * size_t(width) + size_t(x)) * 4];
            for (int c = 0; c < 3; ++c) {
                const int sum = alpha == 0
                    ? p[0][c] + p[1][c] + p[2][c] + p[3][c]
                    : p[0][c] * p[0][3] + p[1][c] * p[1][3] + p[2][c] * p[2][3] + p[3][c] * p[3][3];
                const int weight = alpha == 0 ? 4 : alpha;
                out[c] = static_cast<uint8_t>((sum + weight / 2) / weight);
            }
            out[3] = static_cast<uint8_t>((alpha + 2) / 4);
        }
    return half;
}

std::optional<TPixelView> PixelsAt(const std::optional<TPixelView>& picture, TGridRect rect)
{
    if (!picture)
        return std::nullopt;
    TPixelView view = *picture;
    view.Data += view.Stride * rect.Rows.Start + ptrdiff_t(rect.Columns.Start) * view.BytesPerPixel();
    view.Width = rect.Columns.Length();
    view.Height = rect.Rows.Length();
    return view;
}

} // namespace sw
