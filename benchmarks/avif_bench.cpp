// AVIF cells side by side in one run: our writer encoding every cell of a
// picture on the run's pool (one worker per hardware thread, as a generate
// run does), and avifenc at the same speed, quantizer and chroma on the same
// cells (given as lossless PNGs), once cell after cell with all its threads
// (-j all) and once with as many single-thread avifenc processes at a time
// as we have workers. Bytes and CPU and wall time per picture cut into
// 10 x 10 cells; ratio = peer wall / our wall (above 1: we are faster).

#include "bench_cells.h"

#include "core/base/thread_pool.h"
#include "core/imaging/avif/avif_writer.h"
#include "core/imaging/png/png_writer.h"

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

struct TRow {
    size_t OurBytes = 0;
    size_t PeerBytes = 0;
    TTimes Ours;
    TTimes PeerAllThreads;
    TTimes PeerProcesses;
    void Add(const TRow& other)
    {
        OurBytes += other.OurBytes;
        PeerBytes += other.PeerBytes;
        for (auto [to, from] :
            { std::pair { &Ours, &other.Ours }, std::pair { &PeerAllThreads, &other.PeerAllThreads },
                std::pair { &PeerProcesses, &other.PeerProcesses } }) {
            to->Cpu += from->Cpu;
            to->Wall += from->Wall;
        }
    }
};

void Print(const std::string& name, const TRow& r)
{
    std::printf("%-18s %9zu %9zu %8.2f %8.2f %8.2f %8.2f %8.2f %8.2f %6.2fx %6.2fx\n", name.c_str(),
        r.OurBytes, r.PeerBytes, r.Ours.Cpu, r.Ours.Wall, r.PeerAllThreads.Cpu, r.PeerAllThreads.Wall,
        r.PeerProcesses.Cpu, r.PeerProcesses.Wall, r.PeerAllThreads.Wall / r.Ours.Wall,
        r.PeerProcesses.Wall / r.Ours.Wall);
}

int RunScript(const fs::path& file, const std::string& script)
{
    WriteFile(file, std::vector<uint8_t>(script.begin(), script.end()));
    return std::system(("sh " + file.string()).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (std::system("avifenc --version > /dev/null 2>&1") != 0) {
        std::printf("avifenc not found: run scripts/install-deps\n");
        return 1;
    }
    const int speed = argc > 1 ? std::atoi(argv[1]) : kDefaultAvifSpeed;
    const std::vector<TCellPicture> pictures = LoadCellPictures();
    const fs::path folder = ScratchFolder("slicewright-avif-bench");
    TThreadPool pool;
    const std::string quantizer = std::to_string(AvifQuantizer(kQuality));
    std::printf("quality %d (quantizer %s), speed %d, 4:2:0, %d workers; times in seconds\n", kQuality,
        quantizer.c_str(), speed, pool.Threads());
    std::printf("%-18s %9s %9s %8s %8s %8s %8s %8s %8s %7s %7s\n", "picture", "ours B", "peer B", "ours cpu",
        "wall", "-j all", "wall", "-j 1 xN", "wall", "ratio", "ratio");
    TRow total;
    for (const TCellPicture& picture : pictures) {
        TRow row;
        std::vector<std::vector<uint8_t>> files(picture.Cells.size());
        TAvifOptions options;
        options.Quality = kQuality;
        options.Speed = speed;
        row.Ours = Measure(false, [&] {
            TTaskBatch batch(pool);
            for (size_t i = 0; i < picture.Cells.size(); ++i)
                batch.Run([&, i] { files[i] = WriteAvif(picture.Cells[i], options); });
            batch.Wait();
        });
        std::string serial;
        std::string list;
        for (size_t i = 0; i < files.size(); ++i) {
            row.OurBytes += files[i].size();
            const fs::path cell = folder / (picture.Name + std::to_string(i) + ".png");
            WriteFile(cell, WritePng(picture.Cells[i]));
            const std::string common = " -s " + std::to_string(speed) + " -y 420 --min " + quantizer
                + " --max " + quantizer + " " + cell.string() + " " + cell.string() + ".avif";
            serial += "avifenc -j all" + common + " >/dev/null || exit 1\n";
            list += "-j 1" + common + "\n";
        }
        if (RunScript(folder / "serial.sh", serial) != 0) // warms the file cache
            return 1;
        int status = 0;
        row.PeerAllThreads = Measure(true, [&] { status = RunScript(folder / "serial.sh", serial); });
        WriteFile(folder / "list.txt", std::vector<uint8_t>(list.begin(), list.end()));
        row.PeerProcesses = Measure(true, [&] {
            status |= RunScript(folder / "parallel.sh",
                "xargs -P " + std::to_string(pool.Threads()) + " -L 1 avifenc < "
                    + (folder / "list.txt").string() + " >/dev/null\n");
        });
        if (status != 0) {
            std::printf("avifenc failed on %s\n", picture.Name.c_str());
            return 1;
        }
        for (size_t i = 0; i < files.size(); ++i)
            row.PeerBytes += static_cast<size_t>(
                fs::file_size(folder / (picture.Name + std::to_string(i) + ".png.avif")));
        Print(picture.Name, row);
        total.Add(row);
    }
    Print("all", total);
    fs::remove_all(folder);
    return 0;
}
