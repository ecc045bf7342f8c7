// Opening a picture in the desktop program and painting the window once,
// beside Qt's own reader showing the same file in a label in a scroll area
// of the same size. Both run on the offscreen platform, so the paint is
// the real widget paint into the window's backing store.
//
// desktop_open_bench --open-once ours|qt FILE opens one picture that way
// and prints the process's peak resident memory (with FILE "-" no picture,
// for the window alone). After the timings the benchmark runs itself that
// way for every picture and prints the peaks side by side.

#include "bench_pictures.h"

#include "core/imaging/gif/gif_image.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "core/picture_formats.h"
#include "desktop/editor/main_form.h"

#include <QApplication>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QPixmap>
#include <QScrollArea>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace sw::bench {
namespace {

const QSize kWindowSize(1280, 800);

// The user's pick from the open-picture dialog, without showing it.
class TOurWindow {
public:
    TOurWindow()
    {
        m_form.RunFileDialog = [this](QFileDialog& dialog) {
            dialog.selectFile(QString::fromStdString(m_fileName));
            return true;
        };
        m_form.resize(kWindowSize);
        m_form.show();
        QApplication::processEvents();
    }
    bool Open(const std::string& fileName)
    {
        m_fileName = fileName;
        m_form.mnuOpenImageClick();
        m_form.repaint();
        return true;
    }
    // Drops the picture and the history that holds it, without asking
    // whether to save.
    void Reset()
    {
        m_form.setWindowModified(false);
        m_form.New1Click();
    }

private:
    TMainForm m_form;
    std::string m_fileName;
};

class TQtWindow {
public:
    TQtWindow()
    {
        m_label = new QLabel;
        m_area.setWidget(m_label);
        m_area.resize(kWindowSize);
        m_area.show();
        QApplication::processEvents();
    }
    bool Open(const std::string& fileName)
    {
        QImageReader reader(QString::fromStdString(fileName));
        QImage image = reader.read();
        if (image.isNull())
            return false;
        m_label->setPixmap(QPixmap::fromImage(std::move(image)));
        m_label->adjustSize();
        m_area.repaint();
        return true;
    }
    void Reset()
    {
        m_label->setPixmap(QPixmap());
        m_label->adjustSize();
    }

private:
    QScrollArea m_area;
    QLabel* m_label;
};

struct TSize {
    int Width;
    int Height;
};
constexpr TSize kSizes[] = { { 4000, 3000 }, { 8000, 6000 } };
const char* const kKinds[] = { "jpeg", "bmp", "gif" };

// The photo-like picture of bench_pictures.h, tiled up to the size asked.
TBitmap TiledPhoto(TSize size)
{
    const TBitmap& tile = Picture(TPictureKind::Photo);
    TBitmap bitmap;
    bitmap.SetPixelFormat(TPixelFormat::pf24bit);
    bitmap.SetSizeForOverwrite(size.Width, size.Height);
    for (int y = 0; y < size.Height; ++y) {
        const uint8_t* source = tile.ScanLine(y % kHeight);
        uint8_t* target = bitmap.ScanLine(y);
        for (int x = 0; x < size.Width; x += kWidth)
            std::memcpy(target + size_t(x) * 3, source, size_t(std::min(kWidth, size.Width - x)) * 3);
    }
    return bitmap;
}

// SLICEWRIGHT_BENCH_PICTURES names a folder where the pictures are written
// and kept, for the --open-once runs.
const char* KeptFolder()
{
    return std::getenv("SLICEWRIGHT_BENCH_PICTURES");
}

std::filesystem::path Folder()
{
    static const std::filesystem::path folder = KeptFolder() != nullptr
        ? std::filesystem::path(KeptFolder())
        : std::filesystem::temp_directory_path() / ("slicewright-open-bench-" + std::to_string(getpid()));
    return folder;
}

std::string PictureFile(const char* kind, TSize size)
{
    return Folder() / (std::to_string(size.Width) + "x" + std::to_string(size.Height) + "." + kind);
}

void WritePictures()
{
    std::filesystem::create_directories(Folder());
    for (const TSize size : kSizes) {
        TBitmap bitmap = TiledPhoto(size);
        bitmap.SaveToFile(PictureFile("bmp", size));
        TJPEGImage jpeg;
        jpeg.Assign(bitmap);
        jpeg.SaveToFile(PictureFile("jpeg", size));
        TGIFImage gif;
        gif.Assign(bitmap);
        gif.SaveToFile(PictureFile("gif", size));
    }
}

template <class TWindow>
void OpenAndPaint(benchmark::State& state, const std::string& fileName, int64_t pixels)
{
    TWindow window;
    for (auto _ : state) {
        if (!window.Open(fileName)) {
            state.SkipWithError("the picture could not be read");
            break;
        }
        state.PauseTiming();
        window.Reset();
        state.ResumeTiming();
    }
    SetPixelRate(state, pixels);
}

void RegisterAll()
{
    for (const TSize size : kSizes)
        for (const char* kind : kKinds) {
            const std::string file = PictureFile(kind, size);
            const std::string suffix
                = std::string(kind) + "/" + std::to_string(size.Width) + "x" + std::to_string(size.Height);
            const int64_t pixels = int64_t { size.Width } * size.Height;
            benchmark::RegisterBenchmark(("BM_OpenAndPaint/ours/" + suffix).c_str(),
                [file, pixels](benchmark::State& state) { OpenAndPaint<TOurWindow>(state, file, pixels); })
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime()
                ->MinTime(1.0);
            benchmark::RegisterBenchmark(("BM_OpenAndPaint/qt/" + suffix).c_str(),
                [file, pixels](benchmark::State& state) { OpenAndPaint<TQtWindow>(state, file, pixels); })
                ->Unit(benchmark::kMillisecond)
                ->MeasureProcessCPUTime()
                ->MinTime(1.0);
        }
}

// The peak resident memory of this process in KiB, from the kernel's
// high-water mark of its own address space (-1 when unknown).
long OwnPeak()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr)
        return -1;
    long peak = -1;
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "VmHWM: %ld kB", &peak) == 1)
            break;
    std::fclose(status);
    return peak;
}

template <class TWindow> int OpenOnceIn(const char* fileName)
{
    TWindow window;
    if (std::strcmp(fileName, "-") != 0 && !window.Open(fileName))
        return 1;
    std::printf("peak %ld KiB\n", OwnPeak());
    return 0;
}

int OpenOnce(const char* who, const char* fileName)
{
    return std::strcmp(who, "ours") == 0 ? OpenOnceIn<TOurWindow>(fileName) : OpenOnceIn<TQtWindow>(fileName);
}

// The peak of this program run with --open-once, as the run reports it
// (-1 when it could not run or failed). The run's own figure counts: a
// spawned child's resource usage starts from its parent's peak.
long PeakOfOpenOnce(const char* who, const std::string& fileName)
{
    int channel[2];
    if (pipe(channel) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, channel[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, channel[0]);
    const char* argv[] = { "/proc/self/exe", "--open-once", who, fileName.c_str(), nullptr };
    pid_t child = 0;
    const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(channel[1]);
    std::string output;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        output.append(buffer, size_t(got));
    close(channel[0]);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    long peak = -1;
    const size_t at = output.rfind("peak ");
    if (at == std::string::npos || std::sscanf(output.c_str() + at, "peak %ld KiB", &peak) != 1)
        return -1;
    return peak;
}

// What the program holds for a picture is its peak less the window's own
// peak without one, set against the picture's 24 bits per pixel.
void PrintPeakMemory()
{
    const long oursAlone = PeakOfOpenOnce("ours", "-");
    const long qtAlone = PeakOfOpenOnce("qt", "-");
    std::printf("\npeak memory (MiB), --open-once; held = peak less the window alone (ours %.1f, qt %.1f)\n",
        double(oursAlone) / 1024, double(qtAlone) / 1024);
    std::printf("%-16s %9s %9s %9s %11s %11s\n", "picture", "24-bit", "ours", "qt", "ours held", "qt held");
    for (const TSize size : kSizes)
        for (const char* kind : kKinds) {
            const std::string file = PictureFile(kind, size);
            const double picture = double(size.Width) * size.Height * 3 / (1024 * 1024);
            const long ours = PeakOfOpenOnce("ours", file);
            const long qt = PeakOfOpenOnce("qt", file);
            const std::string name
                = std::string(kind) + " " + std::to_string(size.Width) + "x" + std::to_string(size.Height);
            if (ours < 0 || qt < 0 || oursAlone < 0 || qtAlone < 0) {
                std::printf("%-16s %9.1f  (a run failed)\n", name.c_str(), picture);
                continue;
            }
            std::printf("%-16s %9.1f %9.1f %9.1f %10.2fx %10.2fx\n", name.c_str(), picture,
                double(ours) / 1024, double(qt) / 1024, double(ours - oursAlone) / 1024 / picture,
                double(qt - qtAlone) / 1024 / picture);
        }
}

} // namespace
} // namespace sw::bench

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    sw::RegisterPictureFormats();
    QApplication application(argc, argv);
    // Qt refuses pictures above 128 MB by default; ours takes up to 64
    // megapixels.
    QImageReader::setAllocationLimit(0);
    if (argc == 4 && std::strcmp(argv[1], "--open-once") == 0)
        return sw::bench::OpenOnce(argv[2], argv[3]);
    std::fprintf(stderr, "Writing the pictures...\n");
    sw::bench::WritePictures();
    sw::bench::RegisterAll();
    const int result = sw::bench::RunWithRatios(argc, argv);
    if (result == 0)
        sw::bench::PrintPeakMemory();
    if (sw::bench::KeptFolder() == nullptr)
        std::filesystem::remove_all(sw::bench::Folder());
    return result;
}
