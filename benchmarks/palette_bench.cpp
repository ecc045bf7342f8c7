// Our palette maker against pngquant (run as a program on a PNG of the same
// picture, dithering off), at 256, 64 and 16 colours, per design picture:
// wall and CPU time, and the PSNR of each result against the picture. Ours
// is timed from pixels in memory to indices; pngquant's time also holds its
// reading and writing of the PNG files, which it cannot do without. The
// side-by-side table with ratios follows the usual output.

#include "bench_pictures.h"
#include "core/imaging/palette/palette.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace sw;

struct TPixels {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Bgr; // rows packed

    TPixelView View() const { return { Bgr.data(), Width, Height, ptrdiff_t(Width) * 3 }; }
};

TPixels ReadPng(const fs::path& path)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()))
        throw std::runtime_error("cannot read " + path.string() + ": " + image.message);
    image.format = PNG_FORMAT_BGR;
    TPixels pixels;
    pixels.Width = int(image.width);
    pixels.Height = int(image.height);
    pixels.Bgr.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.Bgr.data(), 0, nullptr))
        throw std::runtime_error("cannot decode " + path.string() + ": " + image.message);
    return pixels;
}

void WritePng(const fs::path& path, const TPixels& pixels)
{
    png_image image {};
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(pixels.Width);
    image.height = png_uint_32(pixels.Height);
    image.format = PNG_FORMAT_BGR;
    if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.Bgr.data(), 0, nullptr))
        throw std::runtime_error("cannot write " + path.string() + ": " + image.message);
}

// Runs a program and waits for it; the CPU time its process used is added
// to cpuSeconds.
int Run(const std::vector<std::string>& arguments, double& cpuSeconds)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    rusage before {}, after {};
    getrusage(RUSAGE_CHILDREN, &before);
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    getrusage(RUSAGE_CHILDREN, &after);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    cpuSeconds += seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime)
        - seconds(before.ru_stime);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Psnr(const TPixels& source, const std::function<void(size_t, uint8_t*)>& mappedPixel)
{
    double sum = 0;
    const size_t count = size_t(source.Width) * size_t(source.Height);
    for (size_t i = 0; i < count; ++i) {
        uint8_t bgr[3];
        mappedPixel(i, bgr);
        for (int c = 0; c < 3; ++c) {
            const double difference = double(source.Bgr[i * 3 + size_t(c)]) - bgr[c];
            sum += difference * difference;
        }
    }
    if (sum == 0)
        return 99.99; // lossless
    return 10 * std::log10(255.0 * 255.0 / (sum / double(count * 3)));
}

double CpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// ---- the design pictures -------------------------------------------------

const fs::path kCorpus = SLICEWRIGHT_CORPUS_DIR;
const fs::path kSource = SLICEWRIGHT_SOURCE_DIR;

// Any picture ImageMagick reads, as 8-bit RGB.
TPixels Converted(const fs::path& file, const fs::path& work)
{
    const fs::path png = work / (file.stem().string() + ".source.png");
    double unused = 0;
    if (Run({ "convert", file.string(), "-alpha", "off", "-depth", "8", "-type", "TrueColor", png.string() },
            unused)
        != 0)
        throw std::runtime_error("ImageMagick could not convert " + file.string());
    return ReadPng(png);
}

TPixels FromBitmap(const TBitmap& bitmap)
{
    TPixels pixels;
    pixels.Width = bitmap.Width();
    pixels.Height = bitmap.Height();
    pixels.Bgr.resize(size_t(pixels.Width) * size_t(pixels.Height) * 3);
    for (int y = 0; y < pixels.Height; ++y)
        std::copy_n(
            bitmap.ScanLine(y), size_t(pixels.Width) * 3, &pixels.Bgr[size_t(y) * size_t(pixels.Width) * 3]);
    return pixels;
}

// A page mock-up: a gradient header, flat panels, lines of anti-aliased
// "text", round icons, a gradient button and a photograph.
TPixels MockUp(const fs::path& work)
{
    constexpr int kMockWidth = 1600;
    constexpr int kMockHeight = 1000;
    TPixels page;
    page.Width = kMockWidth;
    page.Height = kMockHeight;
    page.Bgr.resize(size_t(kMockWidth) * kMockHeight * 3);
    auto blend = [&](int x, int y, double r, double g, double b, double cover) {
        uint8_t* p = &page.Bgr[(size_t(y) * kMockWidth + size_t(x)) * 3];
        cover = std::clamp(cover, 0.0, 1.0);
        p[0] = uint8_t(std::lround(p[0] * (1 - cover) + b * cover));
        p[1] = uint8_t(std::lround(p[1] * (1 - cover) + g * cover));
        p[2] = uint8_t(std::lround(p[2] * (1 - cover) + r * cover));
    };
    for (int y = 0; y < kMockHeight; ++y)
        for (int x = 0; x < kMockWidth; ++x) {
            blend(x, y, 244, 245, 247, 1);
            if (y < 140) {
                const double t = y / 140.0 + x / 16000.0;
                blend(x, y, 18 + 22 * t, 38 + 48 * t, 84 + 76 * t, 1);
            } else if (x < 280) {
                blend(x, y, 230, 234, 240, 1);
            }
        }
    // Text: glyph-like strokes whose edges cover pixels partly.
    auto text = [&](int left, int top, int width, double r, double g, double b) {
        for (int y = top; y < top + 14; ++y)
            for (int x = left; x < left + width; ++x) {
                const double stroke = std::abs(std::sin(x * 0.85) * std::cos((y - top) * 0.55 + x * 0.13));
                if ((x - left) % 53 > 45)
                    continue; // word gap
                blend(x, y, r, g, b, (stroke - 0.35) * 2.2);
            }
    };
    text(40, 50, 300, 255, 255, 255);
    for (int line = 0; line < 18; ++line)
        text(30, 180 + line * 40, 200, 60, 70, 90);
    for (int line = 0; line < 14; ++line)
        text(1000, 200 + line * 26, 540 - (line % 3) * 60, 40, 40, 40);
    // Icons: discs with soft edges.
    const double icons[][3] = { { 220, 60, 60 }, { 60, 170, 90 }, { 60, 110, 220 }, { 240, 180, 40 },
        { 150, 80, 200 }, { 30, 160, 170 } };
    for (int i = 0; i < 6; ++i) {
        const double cx = 1040 + i * 90, cy = 640, radius = 28;
        for (int y = int(cy - radius - 2); y <= int(cy + radius + 2); ++y)
            for (int x = int(cx - radius - 2); x <= int(cx + radius + 2); ++x)
                blend(x, y, icons[i][0], icons[i][1], icons[i][2], radius + 0.5 - std::hypot(x - cx, y - cy));
    }
    // A button with a diagonal gradient.
    for (int y = 740; y < 800; ++y)
        for (int x = 1000; x < 1300; ++x) {
            const double t = ((x - 1000) + (y - 740)) / 360.0;
            blend(x, y, 250 - 20 * t, 130 - 60 * t, 50 + 110 * t, 1);
        }
    // The photograph, scaled to fit 640 x 560 at (320, 180).
    const fs::path photoFile = kCorpus / "wuffs/harvesters.jpeg";
    if (fs::exists(photoFile)) {
        const TPixels photo = Converted(photoFile, work);
        for (int y = 0; y < 560; ++y)
            for (int x = 0; x < 640; ++x) {
                const uint8_t* p = &photo.Bgr[(size_t(y * photo.Height / 560) * size_t(photo.Width)
                                                  + size_t(x * photo.Width / 640))
                    * 3];
                blend(320 + x, 180 + y, p[2], p[1], p[0], 1);
            }
    }
    return page;
}

struct TDesign {
    const char* Name;
    std::function<TPixels(const fs::path& work)> Make;
};

// The pictures compared; one line per design.
const std::vector<TDesign>& Designs()
{
    static const std::vector<TDesign> designs = {
        { "sample",
            [](const fs::path& work) { return Converted(kSource / "data/sample/design.bmp", work); } },
        { "harvesters",
            [](const fs::path& work) { return Converted(kCorpus / "wuffs/harvesters.jpeg", work); } },
        { "hibiscus",
            [](const fs::path& work) { return Converted(kCorpus / "wuffs/hibiscus.regular.jpeg", work); } },
        { "mockup", MockUp },
        { "photo12mp",
            [](const fs::path&) { return FromBitmap(bench::Picture(bench::TPictureKind::Photo)); } },
        { "flat12mp", [](const fs::path&) { return FromBitmap(bench::Picture(bench::TPictureKind::Flat)); } },
    };
    return designs;
}

struct TPrepared {
    std::string Name;
    TPixels Pixels;
    fs::path Png;
};

const fs::path& WorkFolder()
{
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("slicewright-palette-bench-" + std::to_string(getpid()));
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

// ---- the benchmarks --------------------------------------------------------

void SetFigures(benchmark::State& state, double cpuSeconds, double psnr)
{
    state.counters["cpu_ms"] = benchmark::Counter(cpuSeconds * 1e3, benchmark::Counter::kAvgIterations);
    state.counters["psnr"] = psnr;
}

void Ours(benchmark::State& state, const TPrepared* design, int colors)
{
    const TPixels& pixels = design->Pixels;
    std::vector<uint8_t> indices(size_t(pixels.Width) * size_t(pixels.Height));
    TPalette palette;
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        palette = MakePalette(pixels.View(), colors);
        MapToPalette(pixels.View(), palette, TDither::None, indices.data(), pixels.Width);
        cpu += CpuSeconds() - cpuStart;
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const double psnr = Psnr(pixels, [&](size_t i, uint8_t* bgr) {
        const TPaletteColor& c = palette.Colors[indices[i]];
        bgr[0] = c.Blue, bgr[1] = c.Green, bgr[2] = c.Red;
    });
    SetFigures(state, cpu, psnr);
    state.counters["colours"] = double(palette.Colors.size());
}

void Pngquant(benchmark::State& state, const TPrepared* design, int colors)
{
    const fs::path output = WorkFolder() / (design->Name + "-" + std::to_string(colors) + ".pngquant.png");
    double cpu = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = Run({ "pngquant", "--nofs", "--speed", "3", "--force", "--output", output.string(),
                                   std::to_string(colors), "--", design->Png.string() },
            cpu);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (status != 0) {
            state.SkipWithError("pngquant failed (is it installed?)");
            return;
        }
    }
    const TPixels result = ReadPng(output);
    const double psnr
        = Psnr(design->Pixels, [&](size_t i, uint8_t* bgr) { std::copy_n(&result.Bgr[i * 3], 3, bgr); });
    SetFigures(state, cpu, psnr);
}

// Prints the usual table, then ours beside pngquant for every design and size.
class TSideBySideReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            TFigures figures;
            figures.WallMs = run.GetAdjustedRealTime();
            for (const auto& [name, counter] : run.counters) {
                if (name == "cpu_ms")
                    figures.CpuMs = counter.value;
                if (name == "psnr")
                    figures.Psnr = counter.value;
            }
            if (m_figures.find(run.benchmark_name()) == m_figures.end())
                m_order.push_back(run.benchmark_name());
            m_figures[run.benchmark_name()] = figures;
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-24s %9s %8s %7s | %9s %9s %6s | %9s %9s %6s\n", "design/colours", "PSNR ours",
            "pngquant", "diff", "wall ours", "pngquant", "ratio", "CPU ours", "pngquant", "ratio");
        for (const std::string& name : m_order) {
            const TFigures& ours = m_figures[name];
            const size_t at = name.find("/ours");
            if (at == std::string::npos)
                continue;
            std::string peerName = name;
            peerName.replace(at, 5, "/pngquant");
            const auto peer = m_figures.find(peerName);
            if (peer == m_figures.end())
                continue;
            const TFigures& theirs = peer->second;
            std::printf("%-24s %9.2f %8.2f %+7.2f | %9.1f %9.1f %5.2fx | %9.1f %9.1f %5.2fx\n",
                name.substr(8, at - 8).c_str(), ours.Psnr, theirs.Psnr, ours.Psnr - theirs.Psnr, ours.WallMs,
                theirs.WallMs, ours.WallMs / theirs.WallMs, ours.CpuMs, theirs.CpuMs,
                ours.CpuMs / theirs.CpuMs);
        }
        std::printf("(times in ms; ratio = ours / pngquant)\n");
        std::fflush(stdout);
    }

private:
    struct TFigures {
        double WallMs = 0;
        double CpuMs = 0;
        double Psnr = 0;
    };
    std::map<std::string, TFigures> m_figures;
    std::vector<std::string> m_order;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::vector<std::unique_ptr<TPrepared>> prepared;
    for (const TDesign& design : Designs()) {
        try {
            auto entry = std::make_unique<TPrepared>();
            entry->Name = design.Name;
            entry->Pixels = design.Make(WorkFolder());
            entry->Png = WorkFolder() / (entry->Name + ".png");
            WritePng(entry->Png, entry->Pixels);
            prepared.push_back(std::move(entry));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "skipping %s: %s\n", design.Name, e.what());
        }
    }
    for (const auto& design : prepared)
        for (const int colors : { 256, 64, 16 }) {
            const std::string prefix = "Palette/" + design->Name + "/" + std::to_string(colors);
            benchmark::RegisterBenchmark((prefix + "/ours").c_str(), Ours, design.get(), colors)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((prefix + "/pngquant").c_str(), Pngquant, design.get(), colors)
                ->UseManualTime()
                ->Unit(benchmark::kMillisecond);
        }
    TSideBySideReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(WorkFolder(), ignored);
    return 0;
}
