// Decoding and encoding a 12-megapixel picture through TJPEGImage and
// through the bare library calls in the same run. The adapter's cost over
// the library is printed at the end as a ratio per operation (median CPU
// time of the adapter / of the library).

#include "bench_peers.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/jpeg/jpeg_image.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace {

using namespace sw;
using sw::bench::EncodeWithLibjpeg;

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

// Gradients, hard-edged blocks and a fine texture, so the entropy coder
// has photo-like work to do.
const TBitmap& Picture()
{
    static const TBitmap picture = [] {
        TBitmap bitmap;
        bitmap.SetPixelFormat(TPixelFormat::pf24bit);
        bitmap.SetSize(kWidth, kHeight);
        uint32_t noise = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = bitmap.ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                noise = noise * 1664525u + 1013904223u;
                const int grain = static_cast<int>(noise >> 28) - 8;
                const bool block = ((x / 97) + (y / 61)) % 4 == 0;
                row[3 * x + 0] = static_cast<uint8_t>(block ? 40 : (x * 255 / kWidth + grain) & 0xFF);
                row[3 * x + 1] = static_cast<uint8_t>((y * 255 / kHeight + grain) & 0xFF);
                row[3 * x + 2] = static_cast<uint8_t>(block ? 200 : ((x + y) / 16 + grain) & 0xFF);
            }
        }
        return bitmap;
    }();
    return picture;
}

const std::vector<uint8_t>& Compressed()
{
    static const std::vector<uint8_t> bytes = [] {
        TJPEGImage image;
        image.Assign(Picture());
        TMemoryStream stream;
        image.SaveToStream(stream);
        return stream.Bytes();
    }();
    return bytes;
}

void DecodeAdapter(benchmark::State& state)
{
    // The file as read into memory once; loading copies it into the image.
    TMemoryStream stream(Compressed());
    for (auto _ : state) {
        stream.SetPosition(0);
        TJPEGImage image;
        image.LoadFromStream(stream);
        TBitmap bitmap;
        bitmap.Assign(image);
        // Read-only access: a writable row would copy the shared pixels.
        benchmark::DoNotOptimize(std::as_const(bitmap).ScanLine(kHeight - 1));
    }
}

// What a program without the adapter writes: decode straight into one
// buffer of blue, green, red rows.
void DecodeLibrary(benchmark::State& state)
{
    const std::vector<uint8_t>& bytes = Compressed();
    for (auto _ : state) {
        jpeg_decompress_struct cinfo {};
        jpeg_error_mgr error {};
        cinfo.err = jpeg_std_error(&error);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&cinfo, TRUE);
        cinfo.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&cinfo);
        const size_t rowBytes = (size_t(cinfo.output_width) * 3 + 3) / 4 * 4;
        // Left unwritten: the library fills every row.
        std::unique_ptr<JSAMPLE[]> pixels(new JSAMPLE[rowBytes * cinfo.output_height]);
        std::vector<JSAMPROW> rows(cinfo.output_height);
        for (JDIMENSION y = 0; y < cinfo.output_height; ++y)
            rows[y] = pixels.get() + y * rowBytes;
        while (cinfo.output_scanline < cinfo.output_height)
            jpeg_read_scanlines(
                &cinfo, rows.data() + cinfo.output_scanline, cinfo.output_height - cinfo.output_scanline);
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        benchmark::DoNotOptimize(pixels.get());
    }
}

void EncodeAdapter(benchmark::State& state)
{
    const TBitmap& picture = Picture();
    for (auto _ : state) {
        TJPEGImage image;
        image.Assign(picture);
        TMemoryStream stream;
        image.SaveToStream(stream);
        benchmark::DoNotOptimize(stream.Bytes().data());
    }
}

void EncodeLibrary(benchmark::State& state)
{
    const TBitmap& picture = Picture();
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeWithLibjpeg(
            picture.ScanLine(0), picture.ScanLine(1) - picture.ScanLine(0), kWidth, kHeight));
}

// Keeps the CPU time per benchmark (the median when repeated) for the
// ratios printed after the table.
class TRatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")
                continue;
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate || !m_median.count(name))
                m_times[name] = run.GetAdjustedCPUTime();
            if (run.run_type == Run::RT_Aggregate)
                m_median[name] = true;
        }
    }

    void PrintRatio(const std::string& operation) const
    {
        const auto adapter = m_times.find(operation + "/TJPEGImage");
        const auto library = m_times.find(operation + "/library");
        if (adapter == m_times.end() || library == m_times.end() || library->second <= 0)
            return;
        std::printf(
            "%s: TJPEGImage / library = %.3f\n", operation.c_str(), adapter->second / library->second);
    }

private:
    std::map<std::string, double> m_times;
    std::map<std::string, bool> m_median;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Compressed();
    std::printf("picture %d x %d, %zu compressed bytes\n", kWidth, kHeight, Compressed().size());
    struct Entry {
        const char* name;
        void (*function)(benchmark::State&);
    };
    for (const Entry& entry :
        { Entry { "Decode/TJPEGImage", DecodeAdapter }, Entry { "Decode/library", DecodeLibrary },
            Entry { "Encode/TJPEGImage", EncodeAdapter }, Entry { "Encode/library", EncodeLibrary } })
        benchmark::RegisterBenchmark(entry.name, entry.function)->Unit(benchmark::kMillisecond);
    TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatio("Decode");
    reporter.PrintRatio("Encode");
    benchmark::Shutdown();
    return 0;
}
