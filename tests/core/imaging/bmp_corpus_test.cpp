// Third-party BMP files: the bmpsuite good files must show the colours of
// their reference renderings; everything else must load or fail cleanly.

#include "core/base/errors.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/bmp_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace sw {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = SLICEWRIGHT_CORPUS_DIR;
const fs::path kSuite = kCorpus / "bmpsuite";

struct TRgbPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgb; // rows top to bottom, red, green, blue
    std::vector<uint8_t> Alpha; // references only: pixels of alpha 0 are not compared
};

TRgbPicture Pixels(const TBitmap& bitmap)
{
    // One conversion of the whole store reads every pixel the way Pixel()
    // does, far faster than asking pixel by pixel on huge pictures.
    TBitmap copy(bitmap);
    copy.SetPixelFormat(TPixelFormat::pf24bit);
    const TBitmap& rows = copy;
    TRgbPicture picture { copy.Width(), copy.Height(), {}, {} };
    picture.Rgb.reserve(size_t(3) * size_t(picture.Width) * size_t(picture.Height));
    for (int y = 0; y < picture.Height; ++y) {
        const uint8_t* row = rows.ScanLine(y);
        for (int x = 0; x < picture.Width; ++x) {
            picture.Rgb.push_back(row[3 * x + 2]);
            picture.Rgb.push_back(row[3 * x + 1]);
            picture.Rgb.push_back(row[3 * x]);
        }
    }
    return picture;
}

bool HaveConvert()
{
    static const bool found = std::system("convert -version >/dev/null 2>&1") == 0;
    return found;
}

// Decodes a reference PNG through ImageMagick.
std::optional<TRgbPicture> Reference(const fs::path& png)
{
    const std::string size = "identify -format '%w %h' '" + png.string() + "' 2>/dev/null";
    TRgbPicture picture;
    if (FILE* pipe = popen(size.c_str(), "r")) {
        if (std::fscanf(pipe, "%d %d", &picture.Width, &picture.Height) != 2)
            picture.Width = 0;
        pclose(pipe);
    }
    if (picture.Width <= 0)
        return std::nullopt;
    const std::string command = "convert '" + png.string() + "' -depth 8 rgba:- 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::vector<uint8_t> rgba(size_t(picture.Width) * picture.Height * 4);
    const size_t got = std::fread(rgba.data(), 1, rgba.size(), pipe);
    pclose(pipe);
    if (got != rgba.size())
        return std::nullopt;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        picture.Rgb.insert(picture.Rgb.end(), rgba.begin() + i, rgba.begin() + i + 3);
        picture.Alpha.push_back(rgba[i + 3]);
    }
    return picture;
}

// Largest difference of one channel, or -1 when the sizes differ.
int Difference(const TRgbPicture& ours, const TRgbPicture& reference)
{
    if (ours.Width != reference.Width || ours.Height != reference.Height)
        return -1;
    int most = 0;
    for (size_t i = 0; i < ours.Rgb.size(); ++i)
        if (reference.Alpha[i / 3] != 0)
            most = std::max(most, std::abs(int(ours.Rgb[i]) - int(reference.Rgb[i])));
    return most;
}

struct TReference {
    std::string File;
    std::vector<std::string> Pictures;
};

std::vector<TReference> References()
{
    std::vector<TReference> result;
    std::ifstream in(kSuite / "REFERENCES.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const size_t tab = line.find('\t');
        TReference reference { line.substr(0, tab), {} };
        if (tab != std::string::npos) {
            std::istringstream names(line.substr(tab + 1));
            std::string name;
            while (names >> name)
                if (name != "|")
                    reference.Pictures.push_back(name);
        }
        result.push_back(reference);
    }
    return result;
}

// The BMP refusal, alone or with the size and the limit added.
bool IsBitmapRefusal(const std::string& message)
{
    return message.rfind(kBitmapNotValidMessage, 0) == 0;
}

// Loads a file; "" on success, else the message.
std::string Load(const fs::path& file, TBitmap& bitmap)
{
    try {
        bitmap.LoadFromFile(file.string());
        return "";
    } catch (const EInvalidGraphic& e) {
        return e.what();
    }
}

// The questionable files this reader is known to read with the reference
// colours (the rest may differ or fail, but must not crash).
const std::set<std::string> kQuestionableMatches = {
    "q/pal2.bmp",
    "q/pal2color.bmp",
    "q/pal4rletrns.bmp",
    "q/pal8rletrns.bmp",
    "q/pal8rlecut.bmp",
    "q/pal8oversizepal.bmp",
    "q/pal8os2-sz.bmp",
    "q/pal8os2-hs.bmp",
    "q/pal8os2sp.bmp",
    "q/pal8os2v2-16.bmp",
    "q/pal8os2v2-sz.bmp",
    "q/pal8os2v2-40sz.bmp",
    "q/rgb16faketrns.bmp",
    "q/rgb16-3103.bmp",
    "q/rgb24largepal.bmp",
    "q/rgb24prof.bmp",
    "q/rgb24lprof.bmp",
    "q/rgb32-xbgr.bmp",
    "q/rgb32-111110.bmp",
    "q/rgb32-7187.bmp",
    "q/rgba16-4444.bmp",
    "q/rgba16-1924.bmp",
    "q/rgba32-2.bmp",
    "q/rgba32-81284.bmp",
    "q/rgba32-61754.bmp",
    "q/rgba32h56.bmp",
};

TEST(BmpSuite, FilesShowTheReferenceColours)
{
    if (!fs::exists(kSuite / "REFERENCES.tsv"))
        GTEST_SKIP() << "bmpsuite not found under " << kSuite;
    if (!HaveConvert())
        GTEST_SKIP() << "ImageMagick convert is missing";
    int checked = 0;
    for (const TReference& reference : References()) {
        const fs::path file = kSuite / reference.File;
        if (!fs::exists(file) || reference.Pictures.empty())
            continue;
        const bool good = reference.File.rfind("g/", 0) == 0;
        const bool expectMatch = good || kQuestionableMatches.count(reference.File) != 0;
        TBitmap bitmap;
        const std::string error = Load(file, bitmap);
        if (!error.empty()) {
            EXPECT_FALSE(expectMatch) << reference.File << ": " << error;
            EXPECT_TRUE(IsBitmapRefusal(error)) << reference.File << ": " << error;
            continue;
        }
        const TRgbPicture ours = Pixels(bitmap);
        // Channels of fewer than 8 bits round differently between readers.
        const int tolerance = reference.File.find("rgb") != std::string::npos ? 1 : 0;
        int best = -1;
        for (const std::string& name : reference.Pictures) {
            const auto expected = Reference(kSuite / "html" / name);
            if (!expected)
                continue;
            const int difference = Difference(ours, *expected);
            if (difference >= 0 && (best < 0 || difference < best))
                best = difference;
        }
        if (expectMatch) {
            EXPECT_TRUE(best >= 0 && best <= tolerance)
                << reference.File << ": largest channel difference " << best << " (-1: size)";
            ++checked;
        }
    }
    EXPECT_GT(checked, 10);
}

TEST(BmpSuite, BadFilesFailCleanlyOrGiveAPicture)
{
    if (!fs::exists(kSuite / "b"))
        GTEST_SKIP() << "bmpsuite not found under " << kSuite;
    int count = 0;
    for (const auto& entry : fs::directory_iterator(kSuite / "b")) {
        TBitmap bitmap;
        const std::string error = Load(entry.path(), bitmap);
        EXPECT_TRUE(error.empty() || IsBitmapRefusal(error)) << entry.path() << ": " << error;
        ++count;
    }
    EXPECT_GT(count, 0);
}

// Every BMP of the other suites, through the reader: a picture or the
// message, nothing else.
TEST(BmpCorpus, EveryFileLoadsOrFailsCleanly)
{
    if (!fs::exists(kCorpus))
        GTEST_SKIP() << "corpus not found at " << kCorpus;
    int count = 0;
    for (const char* suite : { "image-rs-image", "golang-image-testdata", "pillow", "wuffs", "go-fuzz-corpus",
             "libgd", "libjpeg-turbo-testimages", "bmpsuite" }) {
        if (!fs::exists(kCorpus / suite))
            continue;
        for (const auto& entry : fs::recursive_directory_iterator(kCorpus / suite)) {
            if (!entry.is_regular_file())
                continue;
            std::string extension = entry.path().extension().string();
            for (char& c : extension)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (extension != ".bmp" && extension != ".dib")
                continue;
            TBitmap bitmap;
            const std::string error = Load(entry.path(), bitmap);
            EXPECT_TRUE(error.empty() || IsBitmapRefusal(error)) << entry.path() << ": " << error;
            if (error.empty() && !bitmap.Empty()) {
                EXPECT_NO_THROW(Pixels(bitmap)) << entry.path();
            }
            ++count;
        }
    }
    EXPECT_GT(count, 0);
}

} // namespace
} // namespace sw
