// Opening a picture in the desktop program and painting the window once,
// beside Qt's own reader showing the same file in a label in a scroll area
// of the same size. Both run on the offscreen platform, so the paint is
// the real widget paint into the window's backing store.
//
// desktop_open_bench --open-once ours|qt FILE opens one picture that way
// and quits: run under /usr/bin/time -v for the peak memory of each (with
// FILE "-" no picture, for the window alone).

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
#include <string>
#include <unistd.h>
#include <utility>

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
                ->MinTime(1.0);
            benchmark::RegisterBenchmark(("BM_OpenAndPaint/qt/" + suffix).c_str(),
                [file, pixels](benchmark::State& state) { OpenAndPaint<TQtWindow>(state, file, pixels); })
                ->Unit(benchmark::kMillisecond)
                ->MinTime(1.0);
        }
}

int OpenOnce(const char* who, const char* fileName)
{
    const bool none = std::strcmp(fileName, "-") == 0;
    if (std::strcmp(who, "ours") == 0) {
        TOurWindow window;
        return none || window.Open(fileName) ? 0 : 1;
    }
    TQtWindow window;
    return none || window.Open(fileName) ? 0 : 1;
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
    if (sw::bench::KeptFolder() == nullptr)
        std::filesystem::remove_all(sw::bench::Folder());
    return result;
}
