#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/gif_sub_blocks.h"
#include "core/imaging/gif/lzw_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#if SLICEWRIGHT_HAVE_GIFLIB
#include "support/giflib_memory.h"
#endif

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(int codeSize, int colorLimit, const Bytes& pixels, int height, int width, bool interlace = false,
    bool runLength = false)
{
    TMemoryStream stream;
    (runLength ? EncodeFrameRunLength : EncodeFrame)(
        stream, codeSize, colorLimit, pixels.empty() ? nullptr : pixels.data(), interlace, height, width);
    return stream.Bytes();
}

// The code bytes of image data (code size byte first), with the sub-block
// structure checked: full blocks of 255, one shorter last block, terminator.
Bytes CodeBytes(const Bytes& data, bool terminated = true)
{
    Bytes codes;
    size_t at = 1;
    bool shortSeen = false;
    while (at < data.size()) {
        const size_t size = data[at++];
        if (size == 0) {
            EXPECT_EQ(at, data.size()) << "bytes after the terminator";
            return codes;
        }
        EXPECT_FALSE(shortSeen) << "a short sub-block before the last";
        shortSeen = size < 255;
        EXPECT_LE(at + size, data.size());
        codes.insert(
            codes.end(), data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + size));
        at += size;
    }
    EXPECT_FALSE(terminated) << "no terminator";
    return codes;
}

// Reads codes the way a GIF decoder does: the width grows once the decoder's
// own next free entry reaches 2^width, at most 12 bits. Returns the codes and,
// for each clear code, the decoder's next free entry when it arrived.
struct TCodeTrace {
    std::vector<int> codes;
    std::vector<int> widths;
    std::vector<int> nextFreeAtClear;
};

TCodeTrace TraceCodes(int codeSize, const Bytes& bytes)
{
    TCodeTrace trace;
    const int clear = 1 << codeSize;
    int width = codeSize + 1;
    int nextFree = clear + 2;
    bool afterClear = true;
    size_t bit = 0;
    while (bit + static_cast<size_t>(width) <= bytes.size() * 8) {
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((bytes[bit / 8] >> (bit % 8)) & 1) << i;
        trace.codes.push_back(code);
        trace.widths.push_back(width);
        if (code == clear) {
            trace.nextFreeAtClear.push_back(nextFree);
            width = codeSize + 1;
            nextFree = clear + 2;
            afterClear = true;
            continue;
        }
        if (code == clear + 1)
            break;
        if (!afterClear && nextFree < 4096) {
            ++nextFree;
            if (nextFree == (1 << width) && width < 12)
                ++width;
        }
        afterClear = false;
    }
    return trace;
}

TEST(LzwEncoder, WritesExactImageData)
{
    struct Case {
        const char* name;
        int codeSize;
        int colorLimit;
        Bytes pixels;
        int height;
        int width;
        Bytes expected;
    };
    const Case cases[] = {
        // codes 4, 0, 0, 2 at 3 bits, then 3 and 5 at 4 bits
        { "four colours", 2, 4, { 0, 0, 2, 3 }, 2, 2, { 0x02, 0x03, 0x04, 0x34, 0x05, 0x00 } },
        // code size 1 is raised to 2: clear 4, pixel 0, end 5, all 3 bits
        { "one colour", 1, 1, { 0 }, 1, 1, { 0x02, 0x02, 0x44, 0x01, 0x00 } },
        { "two colours", 1, 2, { 1 }, 1, 1, { 0x02, 0x02, 0x4C, 0x01, 0x00 } },
        // 256 colours: clear 256, 255, end 257, 9 bits each
        { "256 colours", 8, 256, { 255 }, 1, 1, { 0x08, 0x04, 0x00, 0xFF, 0x05, 0x04, 0x00 } },
        { "no pixels", 2, 4, {}, 0, 0, { 0x02, 0x01, 0x05, 0x00 } },
        { "zero width", 2, 4, { 1 }, 1, 0, { 0x02, 0x01, 0x05, 0x00 } },
    };
    for (const Case& c : cases)
        EXPECT_EQ(Encode(c.codeSize, c.colorLimit, c.pixels, c.height, c.width), c.expected) << c.name;
}

TEST(LzwEncoder, ColorNotInColorTableFlushesButDoesNotTerminate)
{
    struct Case {
        const char* name;
        Bytes pixels;
        Bytes expected;
    };
    const Case cases[] = {
        // the clear code (3 bits) is waiting, no byte is complete
        { "first pixel", { 4, 0, 0, 0 }, { 0x02 } },
        // clear, 0, 0 make one byte; the 9th bit waits
        { "fourth pixel", { 0, 0, 2, 4 }, { 0x02, 0x01, 0x04 } },
    };
    for (const Case& c : cases) {
        TMemoryStream stream;
        try {
            EncodeFrame(stream, 2, 4, c.pixels.data(), false, 2, 2);
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), gif_message::kColorNotInTable) << c.name;
        }
        EXPECT_EQ(stream.Bytes(), c.expected) << c.name;
    }
}

TEST(LzwEncoder, ClearsAfterCode4094At12Bits)
{
    std::mt19937 random(7);
    Bytes pixels(200000);
    for (uint8_t& p : pixels)
        p = static_cast<uint8_t>(random() % 200);
    const Bytes data = Encode(8, 200, pixels, 400, 500);
    const TCodeTrace trace = TraceCodes(8, CodeBytes(data));
    ASSERT_GE(trace.nextFreeAtClear.size(), 3u);
    EXPECT_EQ(trace.nextFreeAtClear[0], 258); // the opening clear
    for (size_t i = 1; i < trace.nextFreeAtClear.size(); ++i)
        EXPECT_EQ(trace.nextFreeAtClear[i], 4095) << "clear " << i;
    for (size_t i = 1; i < trace.codes.size(); ++i) {
        if (trace.codes[i] == 256) {
            EXPECT_EQ(trace.widths[i], 12);
            ASSERT_LT(i + 1, trace.codes.size());
            EXPECT_EQ(trace.widths[i + 1], 9);
        }
    }
    EXPECT_EQ(trace.codes.back(), 257);
}

TEST(LzwEncoder, SubBlocksAtExactBoundaries)
{
    // Random 256-colour pixels give about one 9-bit code each, so every code
    // data length near the boundaries is met by some pixel count.
    std::mt19937 random(3);
    Bytes pool(700);
    for (uint8_t& p : pool)
        p = static_cast<uint8_t>(random());
    struct Case {
        size_t codeBytes;
        std::vector<size_t> blocks;
    };
    const Case cases[] = {
        { 254, { 254 } },
        { 255, { 255 } },
        { 256, { 255, 1 } },
        { 510, { 255, 255 } },
        { 511, { 255, 255, 1 } },
    };
    for (const Case& c : cases) {
        bool found = false;
        for (int n = 1; n <= static_cast<int>(pool.size()) && !found; ++n) {
            const Bytes pixels(pool.begin(), pool.begin() + n);
            const Bytes data = Encode(8, 256, pixels, 1, n);
            if (CodeBytes(data).size() != c.codeBytes)
                continue;
            found = true;
            std::vector<size_t> blocks;
            for (size_t at = 1; data[at] != 0; at += data[at] + 1u)
                blocks.push_back(data[at]);
            EXPECT_EQ(blocks, c.blocks) << c.codeBytes << " code bytes";
        }
        EXPECT_TRUE(found) << "no pixel count gives " << c.codeBytes << " code bytes";
    }
}

// The image data the encoding rules give, built the plain way: an ordered
// map as the string table, one code at a time. pixels are in walk order.
Bytes ReferenceImageData(int codeSize, const Bytes& pixels)
{
    codeSize = std::max(codeSize, 2);
    const int clear = 1 << codeSize;
    const int initialWidth = codeSize + 1;
    int width = initialWidth;
    int maxCode = (1 << width) - 1;
    int nextFree = clear + 2;
    bool clearPending = false;
    Bytes codes;
    uint32_t bits = 0;
    int bitCount = 0;
    auto output = [&](int code) {
        bits |= static_cast<uint32_t>(code) << bitCount;
        for (bitCount += width; bitCount >= 8; bitCount -= 8, bits >>= 8)
            codes.push_back(static_cast<uint8_t>(bits));
        if (nextFree > maxCode || clearPending) {
            width = clearPending ? initialWidth : width + 1;
            maxCode = !clearPending && width == 12 ? 4096 : (1 << width) - 1;
            clearPending = false;
        }
    };
    std::map<std::pair<int, int>, int> table;
    auto restart = [&] {
        clearPending = true;
        output(clear);
        table.clear();
        nextFree = clear + 2;
    };
    if (!pixels.empty()) {
        restart();
        int prefix = pixels[0];
        for (size_t i = 1; i < pixels.size(); ++i) {
            const auto found = table.find({ prefix, pixels[i] });
            if (found != table.end()) {
                prefix = found->second;
                continue;
            }
            output(prefix);
            const int previous = prefix;
            prefix = pixels[i];
            if (nextFree >= 4095)
                restart();
            else
                table[{ previous, pixels[i] }] = nextFree++;
        }
        output(prefix);
    }
    output(clear + 1);
    if (bitCount > 0)
        codes.push_back(static_cast<uint8_t>(bits));

    Bytes data = { static_cast<uint8_t>(codeSize) };
    for (size_t at = 0; at < codes.size(); at += 255) {
        const size_t size = std::min<size_t>(255, codes.size() - at);
        data.push_back(static_cast<uint8_t>(size));
        data.insert(
            data.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + size));
    }
    data.push_back(0);
    return data;
}

// The string table's layout and the shortcut along runs of one pixel decide
// only speed. A lookup that missed a string would still decode correctly, so
// only the exact bytes show it.
TEST(LzwEncoder, WritesTheBytesOfThePlainStringTable)
{
    struct Case {
        const char* name;
        int width;
        int height;
        int colors;
        int minRun; // runs of equal pixels of minRun .. maxRun
        int maxRun;
        int noisyRun; // > 0: runs alternate with this many random pixels
        bool interlace;
    };
    const Case cases[] = {
        { "single pixel", 1, 1, 1, 1, 1, 0, false },
        { "short runs around word sizes", 61, 7, 2, 7, 17, 0, false },
        { "random 256 colours through clears", 400, 300, 256, 1, 1, 0, false },
        { "long runs of three colours", 1000, 1000, 3, 1, 600, 0, false },
        { "one colour, long row", 100000, 1, 1, 1, 1, 0, false },
        { "runs between noise, clears inside runs", 2000, 500, 200, 20000, 20000, 3000, false },
        { "two colours, interlaced", 300, 203, 2, 1, 40, 0, true },
        { "runs across rows, interlaced", 97, 450, 16, 50, 900, 0, true },
    };
    std::mt19937 random(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes pixels;
        pixels.reserve(static_cast<size_t>(c.width) * static_cast<size_t>(c.height));
        while (pixels.size() < pixels.capacity()) {
            const auto value = static_cast<uint8_t>(random() % static_cast<unsigned>(c.colors));
            const int run
                = c.minRun + static_cast<int>(random() % static_cast<unsigned>(c.maxRun - c.minRun + 1));
            for (int i = 0; i < run && pixels.size() < pixels.capacity(); ++i)
                pixels.push_back(value);
            for (int i = 0; i < c.noisyRun && pixels.size() < pixels.capacity(); ++i)
                pixels.push_back(static_cast<uint8_t>(random() % static_cast<unsigned>(c.colors)));
        }
        Bytes walked = pixels;
        if (c.interlace) {
            walked.clear();
            for (const auto& [start, step] : { std::pair { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } })
                for (int row = start; row < c.height; row += step)
                    walked.insert(walked.end(), pixels.begin() + static_cast<long>(row) * c.width,
                        pixels.begin() + static_cast<long>(row + 1) * c.width);
        }
        int bits = 1;
        while ((1 << bits) < c.colors)
            ++bits;
        const Bytes data = Encode(bits, c.colors, pixels, c.height, c.width, c.interlace);
        const Bytes expected = ReferenceImageData(bits, walked);
        ASSERT_EQ(data.size(), expected.size());
        EXPECT_TRUE(data == expected);
    }
}

TEST(GifWriterStream, CutsBytesIntoSubBlocks)
{
    TMemoryStream out;
    {
        TGIFWriter writer(out);
        Bytes bytes(600);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(i);
        writer.Write(bytes.data(), 100);
        for (size_t i = 100; i < 300; ++i)
            writer.PutByte(bytes[i]);
        writer.Write(bytes.data() + 300, 300);
        EXPECT_EQ(out.Bytes().size(), 512u); // two full blocks out, 90 waiting
        writer.Flush();
        writer.Flush();
    } // freeing with nothing waiting adds nothing
    ASSERT_EQ(out.Bytes().size(), 2 * 256u + 91u);
    EXPECT_EQ(out.Bytes()[0], 255);
    EXPECT_EQ(out.Bytes()[256], 255);
    EXPECT_EQ(out.Bytes()[512], 90);
    EXPECT_EQ(out.Bytes()[257], 255); // byte 255 of the input opens the second block
    EXPECT_EQ(out.Bytes()[513], static_cast<uint8_t>(510));

    TMemoryStream other;
    TGIFWriter writer(other);
    uint8_t byte = 0;
    for (auto operation : { +[](TGIFWriter&w, uint8_t*b) { w.Read(b, 1); },
             +[](TGIFWriter&w, uint8_t*) { w.Seek(0, SeekOrigin::Begin); } }) {
        try {
            operation(writer, &byte);
            ADD_FAILURE() << "no exception";
        } catch (const GIFException& e) {
            EXPECT_STREQ(e.what(), gif_message::kInvalidStreamOperation);
        }
    }
}

#if SLICEWRIGHT_HAVE_GIFLIB

// A complete single-frame GIF around our image data.
Bytes WrapGif(int width, int height, int colorBits, bool interlace, const Bytes& imageData)
{
    Bytes gif = { 'G', 'I', 'F', '8', '9', 'a' };
    auto u16 = [&](int v) {
        gif.push_back(static_cast<uint8_t>(v));
        gif.push_back(static_cast<uint8_t>(v >> 8));
    };
    u16(width);
    u16(height);
    gif.push_back(static_cast<uint8_t>(0x80 | ((colorBits - 1) << 4) | (colorBits - 1)));
    gif.push_back(0);
    gif.push_back(0);
    for (int i = 0; i < (1 << colorBits); ++i) {
        gif.push_back(static_cast<uint8_t>(i));
        gif.push_back(static_cast<uint8_t>(i * 7));
        gif.push_back(static_cast<uint8_t>(255 - i));
    }
    gif.push_back(0x2C);
    u16(0);
    u16(0);
    u16(width);
    u16(height);
    gif.push_back(interlace ? 0x40 : 0x00);
    gif.insert(gif.end(), imageData.begin(), imageData.end());
    gif.push_back(0x3B);
    return gif;
}

// giflib's decoding of the first frame, or an empty vector when it fails.
Bytes DecodeWithGiflib(const Bytes& gif)
{
    test::TGiflibFile giflib(gif);
    Bytes raster;
    if (giflib.Slurp() && giflib.File()->ImageCount > 0) {
        const SavedImage& image = giflib.File()->SavedImages[0];
        raster.assign(image.RasterBits, image.RasterBits + image.ImageDesc.Width * image.ImageDesc.Height);
    }
    return raster;
}

TEST(LzwEncoder, GiflibDecodesOurIndices)
{
    struct Case {
        int width;
        int height;
        int colors;
        int runLength; // average run of equal pixels
        bool interlace;
    };
    const Case cases[] = {
        { 1, 1, 1, 1, false },
        { 7, 3, 2, 1, false },
        { 33, 17, 3, 4, false },
        { 64, 64, 16, 1, false },
        { 100, 37, 5, 300, false },
        { 255, 9, 256, 1, true },
        { 640, 480, 216, 3, false },
        { 333, 251, 256, 1, false },
        { 1000, 600, 8, 50, false },
        { 2000, 1, 128, 2, false },
        { 1, 1500, 33, 1, true },
        { 97, 9, 64, 2, true },
        { 300, 300, 2, 4000, false },
        // every code size: the largest and smallest colour count of each
        { 45, 31, 4, 2, false },
        { 80, 50, 9, 3, false },
        { 120, 90, 17, 1, false },
        { 64, 200, 32, 7, true },
        { 500, 400, 65, 20, false },
        { 222, 111, 129, 1, false },
        { 1500, 700, 255, 900, false },
    };
    std::mt19937 random(11);
    for (const Case& c : cases) {
        Bytes pixels(static_cast<size_t>(c.width) * static_cast<size_t>(c.height));
        uint8_t value = 0;
        for (uint8_t& p : pixels) {
            if (random() % static_cast<unsigned>(c.runLength) == 0)
                value = static_cast<uint8_t>(random() % static_cast<unsigned>(c.colors));
            p = value;
        }
        int bits = 1;
        while ((1 << bits) < c.colors)
            ++bits;
        for (const bool runLength : { false, true }) {
            const Bytes data = Encode(bits, c.colors, pixels, c.height, c.width, c.interlace, runLength);
            const Bytes decoded = DecodeWithGiflib(WrapGif(c.width, c.height, bits, c.interlace, data));
            EXPECT_TRUE(decoded == pixels) << c.width << "x" << c.height << ", " << c.colors << " colours"
                                           << (runLength ? ", run-length" : "");
        }
    }
}

#endif

} // namespace
} // namespace sw
