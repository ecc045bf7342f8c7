#pragma once

// Cells for the cell-writer benchmarks, and the clocks they are timed by.
// The sample design and three photographs from the third-party corpus
// (public-domain museum pictures and a photo of bricks) are each cut into
// a 10 x 10 grid, as a designer's page would be cut.

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/pixel_view.h"
#include "core/imaging/png/png_reader.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace sw::bench {

struct TCellPicture {
    std::string Name;
    TBitmap Bitmap; // 24-bit
    std::vector<TPixelView> Cells;
};

inline std::vector<TPixelView> GridCells(const TBitmap& bitmap, int columns, int rows)
{
    std::vector<TPixelView> cells;
    const int width = bitmap.Width();
    const int height = bitmap.Height();
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const int left = column * width / columns;
            const int top = row * height / rows;
            TPixelView cell;
            cell.Data = bitmap.ScanLine(top) + left * 3;
            cell.Width = (column + 1) * width / columns - left;
            cell.Height = (row + 1) * height / rows - top;
            cell.Stride = bitmap.ScanLine(1) - bitmap.ScanLine(0);
            cell.Layout = TPixelLayout::Bgr24;
            if (cell.Width > 0 && cell.Height > 0)
                cells.push_back(cell);
        }
    }
    return cells;
}

// The pictures found; a missing corpus leaves only the sample design.
inline std::vector<TCellPicture> LoadCellPictures()
{
    namespace fs = std::filesystem;
    std::vector<TCellPicture> pictures;
    auto add = [&](const std::string& name, TBitmap bitmap) {
        pictures.push_back({ name, std::move(bitmap), {} });
    };
    TBitmap design;
    design.LoadFromFile(std::string(SLICEWRIGHT_SOURCE_DIR) + "/data/sample/design.bmp");
    design.SetPixelFormat(TPixelFormat::pf24bit);
    add("design", design);
    for (const char* photo : { "harvesters.png", "hibiscus.regular.png", "bricks-color.png" }) {
        const fs::path path = fs::path(SLICEWRIGHT_CORPUS_DIR) / "wuffs" / photo;
        if (!fs::exists(path)) {
            std::printf("(not found: %s)\n", path.string().c_str());
            continue;
        }
        TMemoryStream stream;
        stream.LoadFromFile(path.string());
        TBitmap bitmap;
        LoadPngBitmap(stream, bitmap);
        add(fs::path(photo).stem().stem().string(), bitmap);
    }
    for (TCellPicture& picture : pictures) {
        // Rows are read through a const bitmap from here on, so the views
        // stay valid.
        picture.Cells = GridCells(std::as_const(picture.Bitmap), 10, 10);
    }
    return pictures;
}

// Wall and CPU seconds; CPU of this process or of its finished children.
struct TTimes {
    double Wall = 0;
    double Cpu = 0;
};

inline double ProcessCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

inline double ChildrenCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Times work() run in this process (children = false) or in programs it
// starts (children = true).
template <typename Work> TTimes Measure(bool children, Work&& work)
{
    const auto cpu = children ? ChildrenCpuSeconds : ProcessCpuSeconds;
    const double cpuStart = cpu();
    const auto wallStart = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
    return { wall.count(), cpu() - cpuStart };
}

inline std::filesystem::path ScratchFolder(const std::string& name)
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    TMemoryStream stream(bytes);
    stream.SaveToFile(path.string());
}

} // namespace sw::bench
