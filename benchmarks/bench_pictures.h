#pragma once

// Pictures shared by the GIF benchmarks: a photo-like and a flat page
// mock-up-like 24-bit picture of 12 megapixels, the same cut into 400 x 300
// cells, and a console reporter that prints each of our results as a ratio
// to its giflib counterpart from the same run.

#include "core/imaging/bitmap.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace sw::bench {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kCellWidth = 400;
constexpr int kCellHeight = 300;
// The page background of the mock-up: a designer's usual pick as the
// transparent colour.
constexpr TColor kTransparent = RGB(240, 240, 240);

enum class TPictureKind { Photo, Flat };

inline const char* KindName(TPictureKind kind)
{
    return kind == TPictureKind::Photo ? "photo" : "flat";
}

inline TBitmap MakePicture(TPictureKind kind, int width = kWidth, int height = kHeight)
{
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSize(width, height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            int r, g, b;
            if (kind == TPictureKind::Photo) {
                // Smooth shading with sensor-like noise of about +-12.
                const uint32_t noise = random();
                r = int(128 + 100 * std::sin(x * 0.003) * std::cos(y * 0.002)) + int(noise % 25) - 12;
                g = int(128 + 90 * std::sin((x + y) * 0.0021)) + int((noise >> 8) % 25) - 12;
                b = int(100 + 80 * std::cos(x * 0.0013 - y * 0.0031)) + int((noise >> 16) % 25) - 12;
            } else {
                // Header band, side column, white boxes holding text lines,
                // on the light page background.
                r = g = b = 240;
                if (y < 300) {
                    r = 30, g = 60, b = 120;
                } else if (x < 800) {
                    r = 220, g = 225, b = 235;
                } else if ((x / 600) % 2 == 0 && (y / 400) % 2 == 1) {
                    r = g = b = 255;
                    if ((y % 24) < 12 && (x % 600) < 520 && (x % 97) != 0)
                        r = g = b = 40;
                }
            }
            row[x * 3] = static_cast<uint8_t>(std::clamp(b, 0, 255));
            row[x * 3 + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
            row[x * 3 + 2] = static_cast<uint8_t>(std::clamp(r, 0, 255));
        }
    }
    bitmap.SetTransparent(true);
    bitmap.SetTransparentColor(kTransparent);
    return bitmap;
}

inline const TBitmap& Picture(TPictureKind kind)
{
    static const TBitmap photo = MakePicture(TPictureKind::Photo);
    static const TBitmap flat = MakePicture(TPictureKind::Flat);
    return kind == TPictureKind::Photo ? photo : flat;
}

// The picture as the slicing pipeline hands it over: 400 x 300 cells with the
// transparent flag set.
inline std::vector<TBitmap> MakeCells(TPictureKind kind)
{
    const TBitmap& picture = Picture(kind);
    std::vector<TBitmap> cells;
    for (int top = 0; top < kHeight; top += kCellHeight)
        for (int left = 0; left < kWidth; left += kCellWidth) {
            TBitmap cell;
            cell.SetPixelFormat(TPixelFormat::pf24bit);
            cell.SetSize(kCellWidth, kCellHeight);
            for (int y = 0; y < kCellHeight; ++y)
                std::memcpy(cell.ScanLine(y), picture.ScanLine(top + y) + left * 3, size_t(kCellWidth) * 3);
            cell.SetTransparent(true);
            cell.SetTransparentColor(kTransparent);
            cells.push_back(std::move(cell));
        }
    return cells;
}

inline void SetPixelRate(benchmark::State& state, int64_t pixelsPerIteration)
{
    state.counters["Mpixel/s"]
        = benchmark::Counter(double(pixelsPerIteration) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Prints the usual table, then for every benchmark whose name holds "/ours/"
// its Mpixel/s beside each peer's in its place ("/giflib/", "/memcpy/", "/qt/"),
// with the ratio in CPU time and in wall time. The pair process the same
// pixels per iteration.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const auto rate = run.counters.find("Mpixel/s");
            if (run.run_type == Run::RT_Iteration && rate != run.counters.end())
                m_results[run.benchmark_name()]
                    = TResult { rate->second.value, run.GetAdjustedCPUTime(), run.GetAdjustedRealTime() };
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        bool header = false;
        for (const auto& [name, ours] : m_results) {
            const size_t at = name.find("/ours/");
            if (at == std::string::npos)
                continue;
            for (const char* peerName : { "/giflib/", "/memcpy/", "/qt/" }) {
                std::string peer = name;
                peer.replace(at, 6, peerName);
                const auto other = m_results.find(peer);
                if (other == m_results.end() || other->second.Rate <= 0 || ours.Cpu <= 0 || ours.Wall <= 0)
                    continue;
                if (!header)
                    std::printf("\n%-40s %-8s %10s %10s %8s %8s\n", "ours vs peer (Mpixel/s, CPU)", "peer",
                        "ours", "peer", "CPU", "wall");
                header = true;
                std::printf("%-40s %-8s %10.1f %10.1f %7.3fx %7.3fx\n", name.c_str(),
                    std::string(peerName).substr(1, std::strlen(peerName) - 2).c_str(), ours.Rate,
                    other->second.Rate, other->second.Cpu / ours.Cpu, other->second.Wall / ours.Wall);
            }
        }
        std::fflush(stdout);
    }

private:
    struct TResult {
        double Rate = 0;
        double Cpu = 0;
        double Wall = 0;
    };
    std::map<std::string, TResult> m_results;
};

inline int RunWithRatios(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace sw::bench
