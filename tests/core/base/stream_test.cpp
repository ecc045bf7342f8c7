#include "core/base/errors.h"
#include "core/base/stream.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <span>
#include <sys/stat.h>
#include <vector>

namespace sw {
namespace {

// Only regular files are read: a folder opens like a file, and its size can
// read as 2^63 - 1, which every reader would take for the bytes still to
// come; opening a named pipe would wait for a writer for ever.
TEST(TFileStream, RefusesAnythingButARegularFileToRead)
{
    test::TempFolder folder;
    const std::string named = folder / "looks-like.bmp";
    std::filesystem::create_directory(named);
    const std::string pipe = folder / "pipe.bmp";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const std::string missing = folder / "missing.bmp";
    const std::pair<std::string, const char*> cases[] = {
        { folder.Path().string(), "Is a directory" },
        { named, "Is a directory" },
        { pipe, "not a regular file" },
        { missing, "No such file or directory" },
    };
    for (const auto& [name, reason] : cases) {
        try {
            TFileStream stream(name, FileMode::OpenRead);
            FAIL() << "opened as a file: " << name;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.what(), "Cannot open file " + name + " (" + reason + ").");
        }
        TMemoryStream memory;
        EXPECT_THROW(memory.LoadFromFile(name), EFOpenError) << name;
    }
}

TEST(TFileStream, WriteFailuresNameTheFileAndTheReason)
{
    struct stat info { };
    if (::stat("/dev/full", &info) != 0 || !S_ISCHR(info.st_mode))
        GTEST_SKIP() << "/dev/full is not available";
    TMemoryStream bytes(std::vector<uint8_t>(100000, 7));
    try {
        bytes.SaveToFile("/dev/full");
        FAIL() << "a full device took the bytes";
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "Stream write error (/dev/full: No space left on device).");
    }
    test::TempFolder folder;
    try {
        bytes.SaveToFile(folder / "missing/out.bin");
        FAIL() << "created in a missing folder";
    } catch (const EFCreateError& e) {
        EXPECT_EQ(e.what(), "Cannot create file " + folder / "missing/out.bin (No such file or directory).");
    }
}

// Pieces go to the system together, past stdio's buffer: what is read and
// written around them, and where the stream stands after them, must be as if
// each piece had gone through ReadBuffer or WriteBuffer.
TEST(TFileStream, PiecesMixWithPlainReadsAndWrites)
{
    std::vector<std::vector<uint8_t>> parts;
    for (size_t k = 0; k < 2500; ++k) // more than one batch of the system's
        parts.emplace_back(k % 7 == 0 ? 0 : 1 + k % 13, static_cast<uint8_t>(k));
    std::vector<uint8_t> expected { 1, 2, 3 };
    std::vector<std::span<const uint8_t>> out;
    for (const std::vector<uint8_t>& part : parts) {
        out.emplace_back(part);
        expected.insert(expected.end(), part.begin(), part.end());
    }
    expected.push_back(9);

    test::TempFolder folder;
    const std::string name = folder / "pieces.bin";
    TFileStream file(name, FileMode::Create);
    file.WriteBuffer(expected.data(), 3);
    file.WritePieces(out);
    file.WriteByte(9);
    EXPECT_EQ(file.Position(), static_cast<int64_t>(expected.size()));
    file.Close();

    TFileStream in(name, FileMode::OpenRead);
    EXPECT_EQ(in.ReadByte(), 1);
    std::vector<std::vector<uint8_t>> back;
    back.emplace_back(2);
    for (const std::vector<uint8_t>& part : parts)
        back.emplace_back(part.size());
    std::vector<std::span<uint8_t>> pieces;
    for (std::vector<uint8_t>& part : back)
        pieces.emplace_back(part);
    in.ReadPieces(pieces);
    std::vector<uint8_t> read { 1 };
    for (const std::vector<uint8_t>& part : back)
        read.insert(read.end(), part.begin(), part.end());
    read.push_back(in.ReadByte());
    EXPECT_EQ(read, expected);
    // Past the end: a short read fails as ReadBuffer does.
    in.SetPosition(static_cast<int64_t>(expected.size()) - 2);
    std::vector<uint8_t> three(3);
    const std::span<uint8_t> tooLong[] = { three };
    EXPECT_THROW(in.ReadPieces(tooLong), EReadError);
}

// A large read goes to the system in two halves side by side: each byte
// must land in its own place, the stream must stand after all of them,
// and a file that ends in either half must fail the read.
TEST(TFileStream, LargeReadsInHalvesLandInPlace)
{
    constexpr size_t kPiece = 12000;
    constexpr size_t kPieces = 1500; // 18 MB
    std::vector<uint8_t> bytes(kPiece * kPieces + 1);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    test::TempFolder folder;
    const std::string name = folder / "large.bin";
    {
        TFileStream file(name, FileMode::Create);
        file.WriteBuffer(bytes.data(), bytes.size());
        file.Close();
    }
    std::vector<uint8_t> back(kPiece * kPieces);
    std::vector<std::span<uint8_t>> pieces;
    for (size_t k = 0; k < kPieces; ++k)
        pieces.emplace_back(back.data() + k * kPiece, kPiece);
    {
        TFileStream in(name, FileMode::OpenRead);
        EXPECT_EQ(in.ReadByte(), bytes[0]);
        in.ReadPieces(pieces);
        EXPECT_TRUE(std::equal(back.begin(), back.end(), bytes.begin() + 1));
        EXPECT_EQ(in.Position(), static_cast<int64_t>(bytes.size()));
    }
    for (const size_t length : { bytes.size() / 4, bytes.size() / 2, bytes.size() - 5 }) {
        SCOPED_TRACE(length);
        std::filesystem::resize_file(name, length);
        TFileStream in(name, FileMode::OpenRead);
        in.ReadByte();
        EXPECT_THROW(in.ReadPieces(pieces), EReadError);
    }
}

} // namespace
} // namespace sw
