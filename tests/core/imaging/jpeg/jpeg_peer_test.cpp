// Our encoder and decoder side by side with the library's own command-line
// tools, which drive the same library with their defaults.

#include "jpeg_test_support.h"

#include "core/base/errors.h"
#include "core/imaging/jpeg/jpeg_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::DecodeBytes;
using test::MakePicture;
using test::SaveBytes;

int RunTool(const std::string& command)
{
    return std::system((command + " 2>/dev/null").c_str());
}

TEST(JpegPeers, EncodingEqualsCjpeg)
{
    if (!test::ToolAvailable("cjpeg"))
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
    struct Case {
        int width;
        int height;
        bool gray;
        bool progressive;
        const char* options;
    };
    const Case cases[] = {
        { 1, 1, false, false, "" },
        { 16, 16, false, false, "" },
        { 37, 23, false, false, "" },
        { 130, 67, false, false, "" },
        { 37, 23, true, false, "-grayscale" },
        { 37, 23, false, true, "-progressive" },
    };
    test::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ' ' << c.options);
        const TBitmap picture = MakePicture(c.width, c.height);
        test::WritePpm(dir / "in.ppm", picture);
        ASSERT_EQ(RunTool(std::string("cjpeg -quality 90 ") + c.options + " -outfile " + (dir / "peer.jpg")
                      + " " + (dir / "in.ppm")),
            0);
        TJPEGImage image;
        image.SetGrayOutput(c.gray);
        image.SetSaveProgressive(c.progressive);
        image.Assign(picture);
        EXPECT_EQ(SaveBytes(image), test::ReadFile(dir / "peer.jpg"));
    }
}

// The formats our decoder reads in without a JPEG file extension too.
bool LooksLikeJpeg(const fs::path& path)
{
    const std::string ext = path.extension().string();
    if (ext == ".jpg" || ext == ".jpeg" || ext == ".JPG" || ext == ".JPEG")
        return true;
    if (!ext.empty())
        return false;
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    in.read(magic, 2);
    return in && uint8_t(magic[0]) == 0xFF && uint8_t(magic[1]) == 0xD8;
}

// Every JPEG of the third-party corpus and of our own test data either decodes, equal pixel for pixel
// to djpeg wherever djpeg gives a picture, or fails with EJPEG.
TEST(JpegPeers, CorpusDecodesLikeDjpeg)
{
    const fs::path corpus = SLICEWRIGHT_CORPUS_DIR;
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "corpus folder " << corpus << " is absent";
    const bool haveDjpeg = test::ToolAvailable("djpeg");
    std::vector<fs::path> files;
    for (const fs::path& root : { corpus, fs::path(SLICEWRIGHT_TESTDATA_DIR) / "jpeg" })
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file() && entry.file_size() < 4'000'000 && LooksLikeJpeg(entry.path()))
                files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    test::TempFolder dir;
    int decoded = 0;
    int refused = 0;
    int compared = 0;
    std::vector<std::string> refusedButDjpegClean;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.string());
        TBitmap bitmap;
        bool gray = false;
        try {
            TJPEGImage image;
            TMemoryStream stream(test::ReadFile(file));
            image.LoadFromStream(stream);
            // Far beyond the corpus's real pictures; only a few damaged
            // files claim such sizes, and their decode would only be slow.
            if (int64_t(image.Width()) * image.Height() > 40'000'000)
                continue;
            gray = image.Data().Grayscale;
            bitmap.Assign(image);
            ++decoded;
        } catch (const EJPEG&) {
            ++refused;
            if (haveDjpeg
                && RunTool("djpeg -ppm -outfile " + (dir / "x.ppm") + " '" + file.string() + "'") == 0)
                refusedButDjpegClean.push_back(file.string());
            continue;
        }
        if (!haveDjpeg)
            continue;
        // Grey files come out quantised to 236 levels, as djpeg makes them
        // with -colors 236.
        const std::string options = gray ? "-colors 236 -pnm" : "-ppm";
        const std::string out = dir / "peer.pnm";
        fs::remove(out);
        const int status = RunTool("djpeg " + options + " -outfile " + out + " '" + file.string() + "'");
        const std::optional<test::Pnm> peer = test::ReadPnm(out);
        if (!peer || (status != 0 && status != 512))
            continue;
        ASSERT_EQ(bitmap.Width(), peer->Width);
        ASSERT_EQ(bitmap.Height(), peer->Height);
        EXPECT_TRUE(test::BitmapPixels(bitmap, peer->Channels) == peer->Pixels) << "pixels differ from djpeg";
        ++compared;
    }
    EXPECT_TRUE(refusedButDjpegClean.empty())
        << refusedButDjpegClean.size() << " files refused, e.g. " << refusedButDjpegClean.front();
    EXPECT_GT(decoded, 0);
    std::printf("corpus: %zu files, %d decoded (%d compared with djpeg), %d refused with EJPEG\n",
        files.size(), decoded, compared, refused);
}

} // namespace
} // namespace sw
