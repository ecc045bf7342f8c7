// Reading GIF files to colour indices: our reader (LoadFromStream) and
// giflib's DGifSlurp on the same bytes in the same run. The files are the
// photo-like and the flat mock-up-like 12-megapixel pictures reduced to the
// web cube and written by our writer, as our own cells are.

#include "bench_pictures.h"
#include "core/imaging/gif/gif_image.h"
#include "support/giflib_memory.h"

#include <benchmark/benchmark.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;

const std::vector<uint8_t>& GifFile(TPictureKind kind)
{
    static std::vector<uint8_t> files[2];
    std::vector<uint8_t>& file = files[kind == TPictureKind::Photo ? 0 : 1];
    if (file.empty()) {
        TGIFImage image;
        image.Assign(Picture(kind));
        TMemoryStream stream;
        image.SaveToStream(stream);
        file = stream.Bytes();
    }
    return file;
}

void DecodeOurs(benchmark::State& state, TPictureKind kind)
{
    TMemoryStream stream(GifFile(kind));
    for (auto _ : state) {
        stream.SetPosition(0);
        TGIFImage image;
        image.LoadFromStream(stream);
        benchmark::DoNotOptimize(image.Images()[0].Data().data());
    }
    state.counters["file KiB"] = double(GifFile(kind).size()) / 1024;
    SetPixelRate(state, int64_t(kWidth) * kHeight);
}

void DecodeGiflib(benchmark::State& state, TPictureKind kind)
{
    const std::vector<uint8_t>& bytes = GifFile(kind);
    for (auto _ : state) {
        test::TGiflibFile giflib(bytes);
        if (!giflib.Slurp()) {
            state.SkipWithError("giflib failed");
            break;
        }
        benchmark::DoNotOptimize(giflib.File()->SavedImages[0].RasterBits);
    }
    SetPixelRate(state, int64_t(kWidth) * kHeight);
}

} // namespace

int main(int argc, char** argv)
{
    for (const TPictureKind kind : { TPictureKind::Photo, TPictureKind::Flat }) {
        const std::string prefix = std::string("Decode/") + KindName(kind);
        benchmark::RegisterBenchmark((prefix + "/ours/whole").c_str(), DecodeOurs, kind)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((prefix + "/giflib/whole").c_str(), DecodeGiflib, kind)
            ->Unit(benchmark::kMillisecond);
    }
    return RunWithRatios(argc, argv);
}
