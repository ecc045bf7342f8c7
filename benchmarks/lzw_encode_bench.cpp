// GIF image data from the same 8-bit index images, written by our LZW
// encoder and by giflib's EGifPutLine, both into memory, in the same run.
// The index images are the frames of the photo-like and the flat mock-up-like
// pictures, whole and as 400 x 300 cells. Besides Mpixel/s each side reports
// the bytes of image data it wrote.

#include "bench_peers.h"
#include "bench_pictures.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/gif/lzw_encoder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;

const std::vector<TIndexImage>& Images(TPictureKind kind, bool cells)
{
    static std::map<std::pair<TPictureKind, bool>, std::vector<TIndexImage>> cache;
    std::vector<TIndexImage>& images = cache[{ kind, cells }];
    if (images.empty()) {
        if (cells)
            for (const TBitmap& cell : MakeCells(kind))
                images.push_back(IndexImageOf(cell));
        else
            images.push_back(IndexImageOf(Picture(kind)));
    }
    return images;
}

int64_t PixelCount(const std::vector<TIndexImage>& images)
{
    int64_t count = 0;
    for (const TIndexImage& image : images)
        count += int64_t(image.Width) * image.Height;
    return count;
}

void EncodeOurs(benchmark::State& state, TPictureKind kind, bool cells)
{
    const std::vector<TIndexImage>& images = Images(kind, cells);
    TMemoryStream stream;
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const TIndexImage& image : images) {
            stream.Clear();
            EncodeFrame(stream, image.Bits(), image.ColorCount, image.Pixels.data(), false, image.Height,
                image.Width);
            bytes += stream.Bytes().size();
            benchmark::DoNotOptimize(stream.Bytes().data());
        }
    }
    state.counters["bytes"] = double(bytes);
    SetPixelRate(state, PixelCount(images));
}

// The bytes of the image data alone, without the file's framing.
size_t GiflibImageBytes(const TIndexImage& image, std::vector<uint8_t>& out)
{
    bench::EncodeWithGiflib(image, out);
    const size_t framing = 6 + 7 + 10 + 3 * image.Colors.size() + 1;
    return out.size() - framing;
}

void EncodeGiflib(benchmark::State& state, TPictureKind kind, bool cells)
{
    const std::vector<TIndexImage>& images = Images(kind, cells);
    std::vector<uint8_t> out;
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = 0;
        for (const TIndexImage& image : images) {
            bytes += GiflibImageBytes(image, out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    state.counters["bytes"] = double(bytes);
    SetPixelRate(state, PixelCount(images));
}

} // namespace

int main(int argc, char** argv)
{
    for (const TPictureKind kind : { TPictureKind::Photo, TPictureKind::Flat })
        for (const bool cells : { false, true }) {
            const std::string suffix = std::string("/") + KindName(kind) + (cells ? "/cells" : "/whole");
            benchmark::RegisterBenchmark(("LzwEncode/ours" + suffix).c_str(), EncodeOurs, kind, cells)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark(("LzwEncode/giflib" + suffix).c_str(), EncodeGiflib, kind, cells)
                ->Unit(benchmark::kMillisecond);
        }
    return RunWithRatios(argc, argv);
}
