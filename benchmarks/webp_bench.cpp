// WebP cells side by side in one run: our writer, the bare library call
// (WebPEncodeBGR and its lossless twin, the adapter's floor) and cwebp at the
// same quality, run on each cell (given as a lossless PNG). Bytes and CPU
// and wall time per picture cut into 10 x 10 cells; in-process times are the
// fastest of five passes, alternating between ours and the library's.

#include "bench_cells.h"

#include "core/imaging/png/png_writer.h"
#include "core/imaging/webp/webp_writer.h"

#include <webp/encode.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;
namespace fs = std::filesystem;

constexpr int kQuality = 90;

struct TResult {
    size_t OurBytes = 0;
    size_t LibraryBytes = 0;
    size_t CwebpBytes = 0;
    TTimes Ours;
    TTimes Library;
    TTimes Cwebp;
    void Add(const TResult& other)
    {
        OurBytes += other.OurBytes;
        LibraryBytes += other.LibraryBytes;
        CwebpBytes += other.CwebpBytes;
        for (auto [to, from] : { std::pair { &Ours, &other.Ours }, std::pair { &Library, &other.Library },
                 std::pair { &Cwebp, &other.Cwebp } }) {
            to->Cpu += from->Cpu;
            to->Wall += from->Wall;
        }
    }
};

size_t LibraryEncode(const TPixelView& cell, bool lossless)
{
    uint8_t* output = nullptr;
    const auto stride = static_cast<int>(cell.Stride);
    const size_t size = lossless
        ? WebPEncodeLosslessBGR(cell.Data, cell.Width, cell.Height, stride, &output)
        : WebPEncodeBGR(cell.Data, cell.Width, cell.Height, stride, kQuality, &output);
    WebPFree(output);
    return size;
}

void Print(const std::string& name, const TResult& r)
{
    std::printf("%-22s %9zu %9zu %9zu %8.3f %8.3f %7.1f%% %8.3f %8.3f\n", name.c_str(), r.OurBytes,
        r.LibraryBytes, r.CwebpBytes, r.Ours.Cpu, r.Library.Cpu, 100.0 * (r.Ours.Cpu / r.Library.Cpu - 1.0),
        r.Cwebp.Cpu, r.Cwebp.Wall);
}

} // namespace

int main()
{
    if (std::system("cwebp -version > /dev/null 2>&1") != 0) {
        std::printf("cwebp not found: run scripts/install-deps\n");
        return 1;
    }
    const std::vector<TCellPicture> pictures = LoadCellPictures();
    const fs::path folder = ScratchFolder("slicewright-webp-bench");
    std::printf("quality %d; times in seconds; overhead = our CPU / library CPU - 1\n", kQuality);
    std::printf("%-22s %9s %9s %9s %8s %8s %8s %8s %8s\n", "picture/mode", "ours B", "libwebp B", "cwebp B",
        "ours cpu", "lib cpu", "overhead", "cwebp cpu", "wall");
    for (const bool lossless : { false, true }) {
        TResult total;
        for (const TCellPicture& picture : pictures) {
            TResult result;
            std::vector<std::vector<uint8_t>> files(picture.Cells.size());
            TWebpOptions options;
            options.Lossless = lossless;
            options.Quality = kQuality;
            for (int pass = 0; pass < 5; ++pass) {
                const TTimes ours = Measure(false, [&] {
                    for (size_t i = 0; i < picture.Cells.size(); ++i)
                        files[i] = WriteWebp(picture.Cells[i], options);
                });
                size_t libraryBytes = 0;
                const TTimes library = Measure(false, [&] {
                    for (const TPixelView& cell : picture.Cells)
                        libraryBytes += LibraryEncode(cell, lossless);
                });
                if (pass == 0 || ours.Cpu < result.Ours.Cpu)
                    result.Ours = ours;
                if (pass == 0 || library.Cpu < result.Library.Cpu)
                    result.Library = library;
                result.LibraryBytes = libraryBytes;
            }
            std::string script;
            for (size_t i = 0; i < files.size(); ++i) {
                result.OurBytes += files[i].size();
                const fs::path cell = folder / (picture.Name + std::to_string(i) + ".png");
                WriteFile(cell, WritePng(picture.Cells[i]));
                script += "cwebp -quiet "
                    + std::string(lossless ? "-lossless" : "-q " + std::to_string(kQuality)) + " "
                    + cell.string() + " -o " + cell.string() + ".webp || exit 1\n";
            }
            const fs::path scriptFile = folder / "run.sh";
            WriteFile(scriptFile, std::vector<uint8_t>(script.begin(), script.end()));
            int status = 0;
            result.Cwebp
                = Measure(true, [&] { status = std::system(("sh " + scriptFile.string()).c_str()); });
            if (status != 0) {
                std::printf("cwebp failed on %s\n", picture.Name.c_str());
                return 1;
            }
            for (size_t i = 0; i < files.size(); ++i)
                result.CwebpBytes += static_cast<size_t>(
                    fs::file_size(folder / (picture.Name + std::to_string(i) + ".png.webp")));
            Print(picture.Name + (lossless ? "/lossless" : "/lossy"), result);
            total.Add(result);
        }
        Print(std::string("all") + (lossless ? "/lossless" : "/lossy"), total);
    }
    fs::remove_all(folder);
    return 0;
}
