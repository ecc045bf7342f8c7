// The whole run beside its peers, in the same process and run: a picture
// given as a BMP file, cut by 9 column and 9 row lines into 100 cells, as
// GIF and as JPEG cells, at one and two threads. Ours is load, strips,
// cells and files (RunGeneration as the command line drives it); the peers
// only encode the same cells from memory: giflib the same index images
// through EGifPutLine, libjpeg-turbo the same pixels at quality 90, 4:2:0.
// The 12 MP runs are repeated with the output folder in memory (tmpfs).
// A last row runs slicewright-cli as a child and reports its peak memory
// over the 24-bit picture's size.

#include "bench_peers.h"
#include "bench_pictures.h"
#include "core/base/stream.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/picture.h"
#include "core/picture_formats.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace sw;
using namespace sw::bench;
namespace fs = std::filesystem;

constexpr int kLines = 9; // each way: 10 x 10 cells

struct TSize {
    const char* Name;
    int Width;
    int Height;
};
constexpr TSize kSizes[] = { { "12MP", 4000, 3000 }, { "64MP", 9216, 6912 } };
// A run of a whole picture varies from one to the next more than the
// codecs alone; the ratios are taken from the median of this many.
constexpr int kRepetitions = 3;

struct TCellRect {
    int Left, Top, Width, Height;
};

// Marks a folder as the top of a hierarchy, so that ext4 places each
// folder made in it in a block group of its own; only a hint elsewhere.
void SpreadSubfolders(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    if (fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_TOPDIR_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    if (fd >= 0)
        ::close(fd);
}

fs::path WorkFolder()
{
    static const fs::path folder = [] {
        fs::path path = fs::temp_directory_path() / ("slicewright-run-bench-" + std::to_string(::getpid()));
        fs::create_directories(path);
        SpreadSubfolders(path);
        return path;
    }();
    return folder;
}

// A new output folder for each measurement, the last one removed first. On
// an ext4 file system without a journal, making a file scans past every
// inode of its block group deleted in the last minutes: in one folder that
// all runs share, each row would pay for the files the rows before it
// replaced, and later rows would read slower than earlier ones.
fs::path NewOutputFolder(const fs::path& root)
{
    static int made = 0;
    static fs::path last;
    std::error_code ignored;
    if (!last.empty())
        fs::remove_all(last, ignored);
    last = root / ("out" + std::to_string(++made));
    fs::create_directories(last);
    return last;
}

// The same runs with their output folder in memory, where the system has
// one: the difference to the rows above is what the file system costs
// (new files, their blocks, removing the strips), not the run's own work.
fs::path MemoryFolder()
{
    static const fs::path folder = [] {
        std::error_code error;
        const fs::path path = fs::path("/dev/shm") / ("slicewright-run-bench-" + std::to_string(::getpid()));
        return fs::is_directory("/dev/shm", error) && fs::create_directories(path, error) ? path : fs::path();
    }();
    return folder;
}

std::vector<int> LinePositions(int extent)
{
    std::vector<int> positions;
    for (int k = 1; k <= kLines; ++k)
        positions.push_back(extent * k / (kLines + 1));
    return positions;
}

std::vector<std::string> Captions(const std::vector<int>& positions)
{
    std::vector<std::string> captions;
    for (const int position : positions)
        captions.push_back(std::to_string(position));
    return captions;
}

// One design: the picture in memory, as a BMP file with its project, its
// cells and their GIF index images.
struct TDesign {
    TBitmap Picture;
    fs::path Bitmap;
    fs::path Project;
    std::vector<int> Columns;
    std::vector<int> Rows;
    std::vector<TCellRect> Cells;
    std::vector<TIndexImage> IndexCells;
    int64_t Pixels() const { return int64_t(Picture.Width()) * Picture.Height(); }
};

TIndexImage IndexCellOf(const TBitmap& picture, const TCellRect& rect)
{
    TBitmap cell;
    cell.SetPixelFormat(TPixelFormat::pf24bit);
    cell.SetSize(rect.Width, rect.Height);
    cell.Canvas().CopyRect({ 0, 0, rect.Width, rect.Height }, const_cast<TBitmap&>(picture).Canvas(),
        { rect.Left, rect.Top, rect.Left + rect.Width, rect.Top + rect.Height });
    // The same fixed transparent colour as the run's.
    cell.SetTransparent(true);
    cell.SetTransparentColor(kTransparent);
    return IndexImageOf(cell);
}

const TDesign& Design(TPictureKind kind, const TSize& size)
{
    static std::map<std::pair<TPictureKind, int>, TDesign> designs;
    TDesign& design = designs[{ kind, size.Width }];
    if (!design.Picture.Empty())
        return design;
    RegisterPictureFormats();
    design.Picture = MakePicture(kind, size.Width, size.Height);
    const std::string stem = std::string(KindName(kind)) + size.Name;
    design.Bitmap = WorkFolder() / (stem + ".bmp");
    design.Project = WorkFolder() / (stem + ".swr");
    design.Picture.SaveToFile(design.Bitmap);
    design.Columns = LinePositions(size.Width);
    design.Rows = LinePositions(size.Height);
    std::ofstream project(design.Project);
    project << "[Settings]\nGraphicImage=" << design.Bitmap.filename().string() << "\n[Columns]\n";
    for (size_t k = 0; k < design.Columns.size(); ++k)
        project << "Position" << k + 1 << "=" << design.Columns[k] << "\nChecked" << k + 1 << "=1\n";
    project << "[Rows]\n";
    for (size_t k = 0; k < design.Rows.size(); ++k)
        project << "Position" << k + 1 << "=" << design.Rows[k] << "\nChecked" << k + 1 << "=1\n";
    project.close();
    std::vector<int> xs = design.Columns;
    std::vector<int> ys = design.Rows;
    xs.insert(xs.begin(), 0);
    xs.push_back(size.Width);
    ys.insert(ys.begin(), 0);
    ys.push_back(size.Height);
    for (size_t r = 0; r + 1 < ys.size(); ++r)
        for (size_t c = 0; c + 1 < xs.size(); ++c)
            design.Cells.push_back({ xs[c], ys[r], xs[c + 1] - xs[c], ys[r + 1] - ys[r] });
    for (const TCellRect& rect : design.Cells)
        design.IndexCells.push_back(IndexCellOf(design.Picture, rect));
    return design;
}

class TQuietSink : public IGenerationSink {
public:
    void LogLine(const std::string&) override { }
    void RowFileAdded(const std::string&) override { }
    void FileFinished(const std::string&) override { }
    void ProcessMessages() override { }
    void Beep() override { }
};

void OurRun(
    benchmark::State& state, TPictureKind kind, TSize size, TImageType type, int threads, bool inMemory)
{
    const TDesign& design = Design(kind, size);
    const fs::path out = NewOutputFolder(inMemory ? MemoryFolder() : WorkFolder());
    TGenerationSettings settings;
    settings.OutputFolder = out.string();
    settings.CellFormat.Type = type;
    settings.Threads = threads;
    for (auto _ : state) {
        TPicture picture;
        picture.LoadFromFile(design.Bitmap.string());
        TBitmap bitmap;
        bitmap.Assign(*picture.Graphic());
        TGenerationInput input;
        input.Picture = &bitmap;
        input.ColumnCaptions = Captions(design.Columns);
        input.RowCaptions = Captions(design.Rows);
        input.TransparentColor = kTransparent;
        TQuietSink sink;
        RunGeneration(input, settings, sink);
    }
    SetPixelRate(state, design.Pixels());
}

void GiflibCells(benchmark::State& state, TPictureKind kind, TSize size)
{
    const TDesign& design = Design(kind, size);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const TIndexImage& cell : design.IndexCells) {
            EncodeWithGiflib(cell, out);
            benchmark::DoNotOptimize(out.data());
        }
    }
    SetPixelRate(state, design.Pixels());
}

void LibjpegCells(benchmark::State& state, TPictureKind kind, TSize size)
{
    const TDesign& design = Design(kind, size);
    for (auto _ : state)
        for (const TCellRect& cell : design.Cells)
            benchmark::DoNotOptimize(
                EncodeWithLibjpeg(design.Picture.ScanLine(cell.Top) + ptrdiff_t(cell.Left) * 3,
                    design.Picture.ScanLine(1) - design.Picture.ScanLine(0), cell.Width, cell.Height));
    SetPixelRate(state, design.Pixels());
}

// A child's peak memory counts what it shared with its parent when it was
// forked, and this process holds every design. So the command line is
// started by a small process forked before any of them: it reads one
// command line per request, runs it, and answers with the child's peak
// resident kilobytes (-1 when it failed).
struct TSpawner {
    int Requests = -1;
    int Answers = -1;
};
TSpawner g_spawner;

void RunSpawner(int requests, int answers)
{
    std::string line;
    char c;
    while (::read(requests, &c, 1) == 1) {
        if (c != '\n') {
            line += c;
            continue;
        }
        std::vector<std::string> words;
        for (size_t start = 0, end; start <= line.size(); start = end + 1) {
            end = line.find('\t', start);
            if (end == std::string::npos)
                end = line.size();
            words.push_back(line.substr(start, end - start));
        }
        line.clear();
        long peak = -1;
        const pid_t child = ::fork();
        if (child == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            std::vector<char*> argv;
            for (std::string& word : words)
                argv.push_back(word.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        int status = 0;
        rusage usage {};
        if (child > 0 && ::wait4(child, &status, 0, &usage) == child && WIFEXITED(status)
            && WEXITSTATUS(status) == 0)
            peak = usage.ru_maxrss;
        const std::string answer = std::to_string(peak) + "\n";
        if (::write(answers, answer.data(), answer.size()) != ssize_t(answer.size()))
            break;
    }
    ::_exit(0);
}

void StartSpawner()
{
    int requests[2];
    int answers[2];
    if (::pipe(requests) != 0 || ::pipe(answers) != 0)
        return;
    const pid_t spawner = ::fork();
    if (spawner == 0) {
        ::close(requests[1]);
        ::close(answers[0]);
        RunSpawner(requests[0], answers[1]);
    }
    ::close(requests[0]);
    ::close(answers[1]);
    if (spawner > 0)
        g_spawner = { requests[1], answers[0] };
}

long PeakOf(const std::vector<std::string>& command)
{
    std::string line;
    for (const std::string& word : command)
        line += (line.empty() ? "" : "\t") + word;
    line += '\n';
    if (g_spawner.Requests < 0
        || ::write(g_spawner.Requests, line.data(), line.size()) != ssize_t(line.size()))
        return -1;
    std::string answer;
    char c;
    while (::read(g_spawner.Answers, &c, 1) == 1 && c != '\n')
        answer += c;
    return answer.empty() ? -1 : std::stol(answer);
}

// slicewright-cli generate as a child; its peak resident memory over the
// picture's 24-bit pixels.
void PeakMemory(benchmark::State& state, TPictureKind kind, TSize size, const char* type)
{
    const TDesign& design = Design(kind, size);
    const std::string out = (WorkFolder() / "out").string();
    double ratio = 0;
    for (auto _ : state) {
        const long peak = PeakOf({ SLICEWRIGHT_CLI, "generate", design.Project.string(), "--out", out,
            "--type", type, "--threads", "2" });
        if (peak < 0) {
            state.SkipWithError("slicewright-cli failed");
            return;
        }
        ratio = double(peak) * 1024.0 / (double(design.Pixels()) * 3.0);
        state.counters["peak_MB"] = double(peak) / 1024.0;
    }
    state.counters["picture_MB"] = double(design.Pixels()) * 3.0 / (1024.0 * 1024.0);
    state.counters["peak/picture"] = ratio;
}

// Prints, after the table, each of our runs beside its peer: "/ours/" in
// the name stands for the peer's part, and the peer runs one thread.
class TRunReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With --benchmark_repetitions the median stands for the runs.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median)
                continue;
            // Without the "/process_time/real_time" the options append.
            std::string name = run.run_name.function_name;
            name = name.substr(0, name.find("/process_time"));
            TResult& result = m_results[name];
            if (median || !result.Median)
                result = { run.GetAdjustedCPUTime(), run.GetAdjustedRealTime(), median };
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n%-42s %-8s %12s %12s %12s %12s %8s %8s\n", "whole run (ms per run)", "peer",
            "ours CPU", "peer CPU", "ours wall", "peer wall", "CPU", "wall");
        for (const auto& [name, ours] : m_results) {
            const size_t at = name.find("/ours/");
            const size_t threads = name.find("/threads:");
            if (at == std::string::npos || threads == std::string::npos)
                continue;
            const bool gif = name.find("/gif/") != std::string::npos;
            std::string peerName = name.substr(0, threads);
            peerName.replace(at, 6, gif ? "/giflib/" : "/libjpeg/");
            const auto peer = m_results.find(peerName);
            if (peer == m_results.end() || ours.Cpu <= 0 || ours.Wall <= 0)
                continue;
            std::printf("%-42s %-8s %12.1f %12.1f %12.1f %12.1f %7.3fx %7.3fx\n", name.c_str(),
                gif ? "giflib" : "libjpeg", ours.Cpu, peer->second.Cpu, ours.Wall, peer->second.Wall,
                peer->second.Cpu / ours.Cpu, peer->second.Wall / ours.Wall);
        }
        std::fflush(stdout);
    }

private:
    struct TResult {
        double Cpu = 0;
        double Wall = 0;
        bool Median = false;
    };
    std::map<std::string, TResult> m_results;
};

} // namespace

int main(int argc, char** argv)
{
    StartSpawner();
    // Every run row the same way: repeated, process CPU time and wall time.
    const auto addRun = [](const std::string& name, auto&&... arguments) {
        benchmark::RegisterBenchmark(name.c_str(), arguments...)
            ->Repetitions(kRepetitions)
            ->MeasureProcessCPUTime()
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    };
    for (const TSize& size : kSizes)
        for (const TPictureKind kind : { TPictureKind::Photo, TPictureKind::Flat }) {
            const std::string suffix = std::string("/") + KindName(kind) + "/" + size.Name;
            for (const bool inMemory : { false, true }) {
                if (inMemory && (MemoryFolder().empty() || size.Width != kSizes[0].Width))
                    continue;
                for (const auto& [type, typeName] :
                    { std::pair(TImageType::Gif, "gif"), std::pair(TImageType::Jpg, "jpg") })
                    for (const int threads : { 1, 2 })
                        addRun("Run/ours/" + std::string(typeName) + suffix
                                + "/threads:" + std::to_string(threads) + (inMemory ? "/tmpfs" : ""),
                            OurRun, kind, size, type, threads, inMemory);
            }
            addRun("Run/giflib/gif" + suffix, GiflibCells, kind, size);
            addRun("Run/libjpeg/jpg" + suffix, LibjpegCells, kind, size);
        }
    for (const char* type : { "gif", "jpg" })
        benchmark::RegisterBenchmark((std::string("PeakMemory/ours/") + type + "/photo/64MP").c_str(),
            PeakMemory, TPictureKind::Photo, kSizes[1], type)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TRunReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(WorkFolder(), ignored);
    if (!MemoryFolder().empty())
        fs::remove_all(MemoryFolder(), ignored);
    return 0;
}
