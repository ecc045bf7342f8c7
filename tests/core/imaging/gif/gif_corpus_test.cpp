// The reader against giflib over the third-party picture corpus: the same
// indices for every frame of every file giflib accepts, and for the rest a
// clean GIFException or a tolerant result, never a crash.

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"
#include "core/imaging/gif/gif_messages.h"
#include "lzw_reference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#if SLICEWRIGHT_HAVE_GIFLIB
#include "support/giflib_memory.h"
#endif

namespace sw {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

std::vector<fs::path> CorpusGifs()
{
    std::vector<fs::path> files;
    const fs::path root(SLICEWRIGHT_CORPUS_DIR);
    if (!fs::exists(root))
        return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file())
            continue;
        const fs::path& path = entry.path();
        std::string extension = path.extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        const bool fuzzGif = path.string().find("go-fuzz-corpus/gif/") != std::string::npos;
        if (extension == ".gif" || fuzzGif)
            files.push_back(path);
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct TFrameIndices {
    int Left, Top, Width, Height;
    bool Interlaced;
    Bytes Pixels;
};

// Where each frame's image data starts, for files whose block structure is
// sound (giflib accepted them).
std::vector<size_t> ImageDataOffsets(const Bytes& b)
{
    std::vector<size_t> offsets;
    if (b.size() < 13)
        return offsets;
    size_t at = 13;
    if ((b[10] & 0x80) != 0)
        at += 3u * (2u << (b[10] & 7));
    auto skipBlocks = [&] {
        while (at < b.size() && b[at] != 0)
            at += b[at] + 1u;
        ++at;
    };
    while (at < b.size()) {
        if (b[at] == 0x21) {
            at += 2;
            skipBlocks();
        } else if (b[at] == 0x2C && at + 10 <= b.size()) {
            const uint8_t packed = b[at + 9];
            at += 10;
            if ((packed & 0x80) != 0)
                at += 3u * (2u << (packed & 7));
            offsets.push_back(at);
            ++at;
            skipBlocks();
        } else {
            break;
        }
    }
    return offsets;
}

#if SLICEWRIGHT_HAVE_GIFLIB
// giflib's frames, or false when it rejects the file.
bool DecodeWithGiflib(const Bytes& gif, std::vector<TFrameIndices>& frames)
{
    test::TGiflibFile giflib(gif);
    if (!giflib.Slurp())
        return false;
    const GifFileType* file = giflib.File();
    for (int i = 0; i < file->ImageCount; ++i) {
        const SavedImage& image = file->SavedImages[i];
        const GifImageDesc& d = image.ImageDesc;
        TFrameIndices frame { d.Left, d.Top, d.Width, d.Height, d.Interlace, {} };
        if (image.RasterBits != nullptr)
            frame.Pixels.assign(image.RasterBits, image.RasterBits + size_t(d.Width) * size_t(d.Height));
        frames.push_back(std::move(frame));
    }
    return true;
}
#endif

TEST(GifCorpus, SamePixelsAsGiflibAndNoCrash)
{
    const std::vector<fs::path> files = CorpusGifs();
    if (files.empty())
        GTEST_SKIP() << "corpus not found in " << SLICEWRIGHT_CORPUS_DIR;
    int accepted = 0;
    int compared = 0;
    for (const fs::path& path : files) {
        TMemoryStream stream;
        stream.LoadFromFile(path.string());
        const Bytes bytes = stream.Bytes();
        TGIFImage image;
        bool loaded = true;
        try {
            image.LoadFromStream(stream);
        } catch (const GIFException&) {
            loaded = false;
        }
        if (loaded) {
            // Turning it into a bitmap may fail only for want of a colour table.
            TBitmap bitmap;
            try {
                bitmap.Assign(image);
            } catch (const GIFException& e) {
                EXPECT_STREQ(e.what(), gif_message::kNoColorTable) << path;
            }
        }
#if SLICEWRIGHT_HAVE_GIFLIB
        std::vector<TFrameIndices> expected;
        if (!DecodeWithGiflib(bytes, expected))
            continue;
        ++accepted;
        if (!loaded) {
            // Files the decoding rules refuse although giflib reads them.
            try {
                TMemoryStream again(bytes);
                TGIFImage strict;
                strict.LoadFromStream(again);
            } catch (const GIFException& e) {
                const std::string message = e.what();
                EXPECT_TRUE(message == gif_message::kUnknownExtensionType
                    || message == gif_message::kUnsupportedApplicationBlockSize)
                    << path << ": " << message;
            }
            continue;
        }
        std::vector<const TGIFSubImage*> ours;
        for (const auto& frame : image.Images())
            if (!frame->Data().empty() || frame->Width() > 0)
                ours.push_back(frame.get());
        // An unknown block ends our frame list; giflib reads on.
        const size_t count = std::min(ours.size(), expected.size());
        const std::vector<size_t> offsets = ImageDataOffsets(bytes);
        for (size_t i = 0; i < count; ++i) {
            const TGIFSubImage& frame = *ours[i];
            const TFrameIndices& want = expected[i];
            if (want.Width == 0 || want.Height == 0)
                continue; // we give such a frame the screen's size
            EXPECT_EQ(frame.Left(), want.Left) << path << " frame " << i;
            EXPECT_EQ(frame.Top(), want.Top) << path << " frame " << i;
            ASSERT_EQ(frame.Width(), want.Width) << path << " frame " << i;
            ASSERT_EQ(frame.Height(), want.Height) << path << " frame " << i;
            ++compared;
            if (frame.Data() == want.Pixels)
                continue;
            // Codes above the next free entry are resolved by our rules,
            // not giflib's: then the plain decoder must agree with us.
            ASSERT_LT(i, offsets.size()) << path;
            TMemoryStream data(bytes);
            data.SetPosition(static_cast<int64_t>(offsets[i]));
            std::vector<std::string> warnings;
            test::TReferenceLzw reference(data, warnings);
            Bytes pixels(frame.Data().size());
            const uint8_t fill = frame.Transparent() && frame.GraphicControlExtension() != nullptr
                ? static_cast<uint8_t>(frame.GraphicControlExtension()->TransparentColorIndex())
                : 0;
            reference.Decode(pixels.data(), frame.Width(), frame.Height(), frame.Interlaced(), fill);
            EXPECT_TRUE(reference.BeyondTable()) << path << " frame " << i << " differs from giflib";
            EXPECT_TRUE(pixels == frame.Data())
                << path << " frame " << i << " differs from the plain decoder";
        }
#endif
    }
    std::printf("%zu files, %d read by giflib, %d frames compared\n", files.size(), accepted, compared);
}

} // namespace
} // namespace sw
