// Turning 24-bit pictures into GIF frames as the slicing pipeline does: map
// to the web cube, count, sort by use, remap and mark the transparent colour.
// A photo-like and a flat mock-up-like picture, whole and cut into 400 x 300
// cells, reported in Mpixel/s of source picture; beside them a memcpy of the
// same 24-bit bytes, the floor any pass over the picture pays.

#include "bench_pictures.h"
#include "core/imaging/gif/gif_image.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;

void ReduceWhole(benchmark::State& state, TPictureKind kind)
{
    const TBitmap& picture = Picture(kind);
    int colors = 0;
    for (auto _ : state) {
        TGIFImage image;
        image.Assign(picture);
        colors = image.Images()[0].ColorMap().Count();
        // Read-only, as the encoder reads it: the writable accessor first
        // makes the kept bitmap that only display callers ask for.
        benchmark::DoNotOptimize(std::as_const(image.Images()[0]).Data().data());
    }
    state.counters["colours"] = colors;
    SetPixelRate(state, int64_t(kWidth) * kHeight);
}

void ReduceCells(benchmark::State& state, TPictureKind kind)
{
    const std::vector<TBitmap> cells = MakeCells(kind);
    for (auto _ : state)
        for (const TBitmap& cell : cells) {
            TGIFImage image;
            image.Assign(cell);
            benchmark::DoNotOptimize(std::as_const(image.Images()[0]).Data().data());
        }
    SetPixelRate(state, int64_t(kWidth) * kHeight);
}

void CopyWhole(benchmark::State& state, TPictureKind kind)
{
    const TBitmap& picture = Picture(kind);
    const size_t bytes = size_t(picture.RowBytes()) * size_t(picture.Height());
    std::vector<uint8_t> target(bytes);
    for (auto _ : state) {
        std::memcpy(target.data(), picture.ScanLine(0), bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetPixelRate(state, int64_t(kWidth) * kHeight);
}

void CopyCells(benchmark::State& state, TPictureKind kind)
{
    const std::vector<TBitmap> cells = MakeCells(kind);
    const size_t bytes = size_t(cells[0].RowBytes()) * size_t(cells[0].Height());
    std::vector<uint8_t> target(bytes);
    for (auto _ : state)
        for (const TBitmap& cell : cells) {
            std::memcpy(target.data(), cell.ScanLine(0), bytes);
            benchmark::DoNotOptimize(target.data());
            benchmark::ClobberMemory();
        }
    SetPixelRate(state, int64_t(kWidth) * kHeight);
}

} // namespace

int main(int argc, char** argv)
{
    for (const TPictureKind kind : { TPictureKind::Photo, TPictureKind::Flat }) {
        const std::string suffix = std::string("/") + KindName(kind);
        benchmark::RegisterBenchmark(("Reduce/ours" + suffix + "/whole").c_str(), ReduceWhole, kind)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Reduce/memcpy" + suffix + "/whole").c_str(), CopyWhole, kind)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Reduce/ours" + suffix + "/cells").c_str(), ReduceCells, kind)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Reduce/memcpy" + suffix + "/cells").c_str(), CopyCells, kind)
            ->Unit(benchmark::kMillisecond);
    }
    return RunWithRatios(argc, argv);
}
