// PNG cells side by side with optipng -o2 in one run: for each picture cut
// into 10 x 10 cells, the total bytes and time of our writer, and of
// optipng recompressing those same cells in one invocation (-force, so its
// own result is kept even where ours was smaller). Our time is the fastest
// of three passes; the pictures are read once, before any clock starts.

#include "bench_cells.h"

#include "core/imaging/png/png_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;
namespace fs = std::filesystem;

struct TResult {
    size_t OurBytes = 0;
    size_t PeerBytes = 0;
    TTimes Ours;
    TTimes Peer;
};

void Print(const char* name, size_t cells, const TResult& r)
{
    std::printf("%-12s %5zu %10zu %10zu %6.3fx %9.3f %9.3f %9.3f %9.3f %6.1fx %6.1fx\n", name, cells,
        r.OurBytes, r.PeerBytes, double(r.OurBytes) / double(r.PeerBytes), r.Ours.Cpu, r.Ours.Wall,
        r.Peer.Cpu, r.Peer.Wall, r.Peer.Cpu / r.Ours.Cpu, r.Peer.Wall / r.Ours.Wall);
}

} // namespace

int main()
{
    if (std::system("optipng -v > /dev/null 2>&1") != 0) {
        std::printf("optipng not found: run scripts/install-deps\n");
        return 1;
    }
    const std::vector<TCellPicture> pictures = LoadCellPictures();
    const fs::path folder = ScratchFolder("slicewright-png-bench");
    std::printf("%-12s %5s %10s %10s %7s %9s %9s %9s %9s %7s %7s\n", "picture", "cells", "ours B",
        "optipng B", "bytes", "ours cpu", "ours wall", "opti cpu", "opti wall", "cpu", "wall");
    TResult total;
    size_t totalCells = 0;
    for (const TCellPicture& picture : pictures) {
        TResult result;
        std::vector<std::vector<uint8_t>> files(picture.Cells.size());
        for (int pass = 0; pass < 3; ++pass) {
            const TTimes times = Measure(false, [&] {
                for (size_t i = 0; i < picture.Cells.size(); ++i)
                    files[i] = WritePng(picture.Cells[i]);
            });
            if (pass == 0 || times.Cpu < result.Ours.Cpu)
                result.Ours = times;
        }
        const fs::path in = folder / picture.Name;
        const fs::path out = folder / (picture.Name + "-optipng");
        fs::create_directories(in);
        fs::create_directories(out);
        std::string command = "optipng -o2 -force -quiet -dir " + out.string();
        for (size_t i = 0; i < files.size(); ++i) {
            const fs::path cell = in / (std::to_string(i) + ".png");
            WriteFile(cell, files[i]);
            command += " " + cell.string();
            result.OurBytes += files[i].size();
        }
        int status = 0;
        result.Peer = Measure(true, [&] { status = std::system(command.c_str()); });
        if (status != 0) {
            std::printf("optipng failed on %s\n", picture.Name.c_str());
            return 1;
        }
        for (const auto& entry : fs::directory_iterator(out))
            result.PeerBytes += static_cast<size_t>(entry.file_size());
        Print(picture.Name.c_str(), files.size(), result);
        total.OurBytes += result.OurBytes;
        total.PeerBytes += result.PeerBytes;
        total.Ours.Cpu += result.Ours.Cpu;
        total.Ours.Wall += result.Ours.Wall;
        total.Peer.Cpu += result.Peer.Cpu;
        total.Peer.Wall += result.Peer.Wall;
        totalCells += files.size();
    }
    Print("all", totalCells, total);
    std::printf("bytes: ours / optipng (target <= 1.05); cpu, wall: optipng time / ours (target >= 3)\n");
    fs::remove_all(folder);
    return 0;
}
