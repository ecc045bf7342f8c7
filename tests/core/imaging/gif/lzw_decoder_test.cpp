#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/gif/gif_io.h"
#include "core/imaging/gif/gif_messages.h"
#include "core/imaging/gif/gif_sub_blocks.h"
#include "core/imaging/gif/lzw_decoder.h"
#include "core/imaging/gif/lzw_encoder.h"
#include "lzw_reference.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace sw {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kSentinel = 0x3B;

Bytes RandomPixels(size_t count, int colors, int runLength, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes pixels(count);
    uint8_t value = 0;
    for (uint8_t& p : pixels) {
        if (random() % static_cast<unsigned>(runLength) == 0)
            value = static_cast<uint8_t>(random() % static_cast<unsigned>(colors));
        p = value;
    }
    return pixels;
}

Bytes Encode(int codeSize, const Bytes& pixels, int width, int height, bool interlace = false)
{
    TMemoryStream stream;
    EncodeFrame(stream, codeSize, 256, pixels.data(), interlace, height, width);
    return stream.Bytes();
}

// Image data from a code size and bare code bytes, cut into sub-blocks of
// blockSize bytes (the last may be shorter), with the terminator.
Bytes Frame(int codeSize, const Bytes& codes, size_t blockSize = 255, bool terminate = true)
{
    Bytes data = { static_cast<uint8_t>(codeSize) };
    for (size_t at = 0; at < codes.size(); at += blockSize) {
        const size_t n = std::min(blockSize, codes.size() - at);
        data.push_back(static_cast<uint8_t>(n));
        data.insert(
            data.end(), codes.begin() + static_cast<long>(at), codes.begin() + static_cast<long>(at + n));
    }
    if (terminate)
        data.push_back(0);
    return data;
}

// Packs codes at the width a decoder expects: it grows when the decoder's
// next free entry reaches 2^width (entries are added for every code but the
// first after a clear), at most 12 bits.
Bytes PackCodes(int codeSize, const std::vector<int>& codes)
{
    Bytes out;
    uint32_t accumulator = 0;
    int bits = 0;
    const int clear = 1 << codeSize;
    int width = codeSize + 1;
    int nextFree = clear + 2;
    bool afterClear = false;
    for (int code : codes) {
        accumulator |= static_cast<uint32_t>(code) << bits;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<uint8_t>(accumulator));
            accumulator >>= 8;
            bits -= 8;
        }
        if (code == clear) {
            width = codeSize + 1;
            nextFree = clear + 2;
            afterClear = true;
            continue;
        }
        if (!afterClear && nextFree < 4096 && ++nextFree >= (1 << width) && width < 12)
            ++width;
        afterClear = false;
    }
    if (bits > 0)
        out.push_back(static_cast<uint8_t>(accumulator));
    return out;
}

struct TResult {
    Bytes pixels;
    std::vector<std::string> warnings;
    int64_t position = 0;
    std::string error;
};

TResult Decode(const Bytes& data, int width, int height, bool interlaced = false, uint8_t fill = 0xEE)
{
    TByteReader reader = gif_io::Reader(data);
    TResult result;
    result.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0xAA);
    TLZWDecoder decoder(reader, [&](const std::string& message) { result.warnings.push_back(message); });
    try {
        decoder.DecodeFrame(result.pixels.data(), width, height, interlaced, fill);
    } catch (const GIFException& e) {
        result.error = e.what();
    }
    result.position = static_cast<int64_t>(reader.Position());
    return result;
}

TEST(LzwDecoder, RoundTripsEncoderOutput)
{
    struct Case {
        int width;
        int height;
        int colors;
        int runLength;
        bool interlace;
    };
    const Case cases[] = {
        { 1, 1, 1, 1, false },
        { 5, 4, 4, 1, false },
        { 64, 64, 16, 1, false },
        { 640, 480, 216, 3, false },
        { 333, 251, 256, 1, false },
        { 1000, 600, 8, 50, false },
        { 300, 300, 2, 100000, false }, // one colour: long strings, table full
        { 97, 1, 64, 2, true },
        { 97, 2, 64, 2, true },
        { 97, 3, 64, 2, true },
        { 97, 5, 64, 2, true },
        { 97, 9, 64, 2, true },
        { 41, 250, 200, 3, true },
    };
    unsigned seed = 1;
    for (const Case& c : cases) {
        const Bytes pixels
            = RandomPixels(static_cast<size_t>(c.width * c.height), c.colors, c.runLength, seed++);
        int bits = 2;
        while ((1 << bits) < c.colors)
            ++bits;
        Bytes data = Encode(bits, pixels, c.width, c.height, c.interlace);
        const size_t end = data.size();
        data.push_back(kSentinel);
        const TResult result = Decode(data, c.width, c.height, c.interlace);
        EXPECT_TRUE(result.pixels == pixels) << c.width << "x" << c.height;
        EXPECT_EQ(result.position, static_cast<int64_t>(end)) << "the terminator ends the frame's data";
        EXPECT_TRUE(result.warnings.empty());
        EXPECT_EQ(result.error, "");
    }
}

TEST(LzwDecoder, DecodesBareCodeStreamsOfTheCorpus)
{
    const std::filesystem::path folder = std::filesystem::path(SLICEWRIGHT_CORPUS_DIR) / "wuffs";
    if (!std::filesystem::exists(folder / "bricks-gray.indexes.giflzw"))
        GTEST_SKIP() << "corpus not found in " << folder;
    for (const char* name : { "bricks-gray", "bricks-dither" }) {
        TMemoryStream codes;
        codes.LoadFromFile((folder / (std::string(name) + ".indexes.giflzw")).string());
        TMemoryStream expected;
        expected.LoadFromFile((folder / (std::string(name) + ".indexes")).string());
        const Bytes& raw = codes.Bytes();
        const Bytes data = Frame(raw[0], Bytes(raw.begin() + 1, raw.end()));
        const TResult result = Decode(data, 160, 120);
        EXPECT_TRUE(result.pixels == expected.Bytes()) << name;
        EXPECT_EQ(result.error, "") << name;
    }
}

TEST(LzwDecoder, CodesSplitOverOneByteSubBlocks)
{
    // 12-bit codes then straddle up to three sub-blocks.
    const Bytes pixels = RandomPixels(20000, 256, 1, 5);
    const Bytes data = Encode(8, pixels, 200, 100);
    Bytes codes;
    for (size_t at = 1; data[at] != 0; at += data[at] + 1u)
        codes.insert(codes.end(), data.begin() + static_cast<long>(at) + 1,
            data.begin() + static_cast<long>(at) + 1 + data[at]);
    for (size_t blockSize : { 1u, 2u, 3u, 7u }) {
        const TResult result = Decode(Frame(8, codes, blockSize), 200, 100);
        EXPECT_TRUE(result.pixels == pixels) << "blocks of " << blockSize;
    }
}

TEST(LzwDecoder, CraftedCodeStreams)
{
    constexpr int F = 0xEE; // fill value
    struct Case {
        const char* name;
        int codeSize;
        std::vector<int> codes;
        int pixelCount;
        Bytes expected;
        std::string error;
    };
    const Case cases[] = {
        { "literals and strings", 2, { 4, 1, 2, 6, 7, 5 }, 7, { 1, 2, 1, 2, 2, 1, F }, "" },
        { "code being defined", 2, { 4, 1, 6, 5 }, 3, { 1, 1, 1 }, "" },
        // A code beyond the next free entry repeats the previous string plus
        // its first value, like the code being defined.
        { "code beyond the table", 2, { 4, 1, 7, 5 }, 3, { 1, 1, 1 }, "" },
        // ... but becomes the previous code, so the entry built on it is its
        // own prefix.
        { "circular entry", 2, { 4, 1, 7, 7, 7, 5 }, 9, {}, gif_message::kCircularTableEntry },
        // A code after a clear is handed out as it is, cut to 8 bits.
        { "end code after clear", 8, { 256, 257, 3, 5 }, 4, { 1, 3, 5, F }, "" },
        { "repeated clears", 2, { 4, 4, 4, 3, 4, 2, 5 }, 3, { 3, 2, F }, "" },
        { "end code early", 2, { 4, 1, 5, 2 }, 3, { 1, F, F }, "" },
        { "code size 0", 0, { 1, 0, 0, 3, 2 }, 5, { 0, 0, 0, 0, F }, "" },
        { "code size 11", 11, { 2048, 2047, 1, 2050, 2049 }, 6, { 0xFF, 1, 0xFF, 1, F, F }, "" },
    };
    for (const Case& c : cases) {
        const TResult result = Decode(Frame(c.codeSize, PackCodes(c.codeSize, c.codes)), c.pixelCount, 1);
        EXPECT_EQ(result.error, c.error) << c.name;
        if (c.error.empty()) {
            EXPECT_EQ(result.pixels, c.expected) << c.name;
        }
    }
}

TEST(LzwDecoder, DeferredClearKeepsDecodingAt12Bits)
{
    // Literals fill the table (entries 258 ... 4095); then no clear code
    // comes, and codes stay 12 bits wide and refer to the full table.
    std::vector<int> codes = { 256 };
    Bytes expected;
    for (int i = 0; i < 4000; ++i) {
        codes.push_back(i % 251);
        expected.push_back(static_cast<uint8_t>(i % 251));
    }
    for (int code : { 258, 4095, 17 }) {
        codes.push_back(code);
        // entry 258 is literal 0 then 1; entry 4095 is literal 3837 % 251 then the next
        const int first = code == 17 ? 17 : code - 258;
        expected.push_back(static_cast<uint8_t>(first % 251));
        if (code != 17)
            expected.push_back(static_cast<uint8_t>((first + 1) % 251));
    }
    codes.push_back(257);
    const TResult result = Decode(Frame(8, PackCodes(8, codes)), static_cast<int>(expected.size()), 1);
    EXPECT_EQ(result.error, "");
    EXPECT_TRUE(result.pixels == expected);
}

TEST(LzwDecoder, TruncatedDataKeepsTheFillValue)
{
    const Bytes pixels = RandomPixels(5000, 100, 3, 9);
    const Bytes data = Encode(7, pixels, 100, 50);
    for (size_t cut :
        { size_t { 0 }, size_t { 1 }, size_t { 2 }, size_t { 3 }, size_t { 100 }, size_t { 256 },
            size_t { 257 }, size_t { 258 }, data.size() / 2, data.size() - 3, data.size() - 1 }) {
        const Bytes truncated(data.begin(), data.begin() + static_cast<long>(cut));
        const TResult result = Decode(truncated, 100, 50, false, 7);
        ASSERT_EQ(result.error, "") << "cut " << cut;
        // Whatever came out before the cut is right; the rest is fill (the
        // last code may be cut short, giving a wrong pixel or two).
        size_t same = 0;
        while (same < pixels.size() && result.pixels[same] == pixels[same])
            ++same;
        size_t fill = pixels.size();
        while (fill > 0 && result.pixels[fill - 1] == 7)
            --fill;
        EXPECT_LE(fill, same + 4) << "cut " << cut;
        const bool insideBlock = cut > 1 && cut < data.size() - 1 && (cut - 1) % 256 != 0;
        EXPECT_EQ(result.warnings,
            insideBlock ? std::vector<std::string> { gif_message::kPrematureEndOfData }
                        : std::vector<std::string> {})
            << "cut " << cut;
    }
}

TEST(LzwDecoder, DataEndingBeforeTheFrameWarnsOfUnderRun)
{
    // Two pixels of data, terminator, no end code, for a frame of six.
    // The last byte's spare bits still make two codes of 0.
    const TResult result = Decode(Frame(2, PackCodes(2, { 4, 1, 2 })), 6, 1);
    EXPECT_EQ(result.pixels, (Bytes { 1, 2, 0, 0, 0xEE, 0xEE }));
    EXPECT_FALSE(result.warnings.empty());
    for (const std::string& warning : result.warnings)
        EXPECT_EQ(warning, gif_message::kBitBufferUnderRun);
}

TEST(LzwDecoder, FinalReadConsumesOnlyWhatAPixelDecoderWould)
{
    // Five literal pixels; a frame of four leaves the fifth code unread but
    // one: the last request decodes it, and the end code stays in the data.
    Bytes data = Frame(2, PackCodes(2, { 4, 0, 1, 2, 3, 0, 5 }));
    data.push_back(kSentinel);
    TResult result = Decode(data, 4, 1);
    EXPECT_EQ(result.pixels, (Bytes { 0, 1, 2, 3 }));
    EXPECT_EQ(result.position, static_cast<int64_t>(data.size() - 2)) << "the terminator stays unread";

    // When the last string runs past the frame, nothing more is read.
    data = Frame(2, PackCodes(2, { 4, 1, 1, 6, 5 }));
    result = Decode(data, 3, 1);
    EXPECT_EQ(result.pixels, (Bytes { 1, 1, 1 }));
    EXPECT_EQ(result.position, 1 + 1 + 2) << "only the first block was read";

    // No data at all: the block is filled and nothing fails.
    result = Decode({}, 3, 1, false, 9);
    EXPECT_EQ(result.pixels, (Bytes { 9, 9, 9 }));
    EXPECT_EQ(result.error, "");
}

// The string-copying decoder against the plain per-pixel one on damaged
// data: random codes, flipped bytes, odd sub-block sizes and cut streams.
TEST(LzwDecoder, AgreesWithThePlainDecoderOnDamagedData)
{
    std::mt19937 random(2024);
    for (int round = 0; round < 3000; ++round) {
        const int width = 1 + static_cast<int>(random() % 40);
        const int height = 1 + static_cast<int>(random() % 30);
        const int codeSize = static_cast<int>(random() % 9);
        const bool interlaced = random() % 3 == 0;
        Bytes data;
        switch (round % 3) {
        case 0: { // valid data with bytes flipped
            const int colors = 1 << std::max(codeSize, 1);
            const int bits = std::max(codeSize, 2);
            data = Encode(bits,
                RandomPixels(size_t(width * height), std::min(colors, 1 << bits), 1 + round % 7,
                    static_cast<unsigned>(round)),
                width, height, interlaced);
            for (int flips = static_cast<int>(random() % 4); flips > 0; --flips)
                data[random() % data.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            break;
        }
        case 1: { // random codes, packed at the widths a decoder expects
            std::vector<int> codes = { 1 << codeSize };
            for (int i = static_cast<int>(random() % 300); i > 0; --i)
                codes.push_back(static_cast<int>(random() % (4u << codeSize)));
            data = Frame(codeSize, PackCodes(codeSize, codes), 1 + random() % 255, random() % 4 != 0);
            break;
        }
        default: { // random bytes in random sub-blocks
            Bytes codes(random() % 600);
            for (uint8_t& b : codes)
                b = static_cast<uint8_t>(random());
            data = Frame(codeSize, codes, 1 + random() % 255, random() % 2 != 0);
        }
        }
        if (random() % 4 == 0)
            data.resize(random() % (data.size() + 1));
        data.push_back(kSentinel);

        const TResult fast = Decode(data, width, height, interlaced, 0xEE);
        TMemoryStream stream(data);
        std::vector<std::string> warnings;
        Bytes pixels(static_cast<size_t>(width * height));
        std::string error;
        try {
            test::TReferenceLzw(stream, warnings).Decode(pixels.data(), width, height, interlaced, 0xEE);
        } catch (const GIFException& e) {
            error = e.what();
        }
        ASSERT_EQ(fast.error, error) << "round " << round;
        if (!error.empty())
            continue;
        ASSERT_TRUE(fast.pixels == pixels) << "round " << round;
        ASSERT_EQ(fast.position, stream.Position()) << "round " << round;
        ASSERT_EQ(fast.warnings.empty(), warnings.empty()) << "round " << round;
    }
}

TEST(LzwDecoder, RejectsCodeSizesBeyondTheTable)
{
    const TResult result = Decode(Frame(12, { 0, 0 }), 2, 1);
    EXPECT_EQ(result.error, gif_message::kInvalidData);
}

} // namespace
} // namespace sw
