#include "core/base/version_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace sw {
namespace {

constexpr std::string_view kUsEnglish { "\x09\x04\xE4\x04", 4 };

#define TABLE "\\StringFileInfo\\040904E4\\"
constexpr std::array<VersionRecordEntry, 10> kFullRecord = { {
    { "\\VarFileInfo\\Translation", kUsEnglish, false },
    { TABLE "CompanyName", "Company" },
    { TABLE "FileDescription", "Description" },
    { TABLE "FileVersion", "2.5.1" },
    { TABLE "InternalName", "internal" },
    { TABLE "LegalCopyright", "Copyright" },
    { TABLE "OriginalFilename", "original" },
    { TABLE "ProductName", "Product" },
    { TABLE "ProductVersion", "2.5" },
    // A table for another translation, never consulted.
    { "\\StringFileInfo\\040704B0\\FileVersion", "9.9" },
} };
#undef TABLE

template <size_t N> std::string RecordBytes(const std::array<VersionRecordEntry, N>& entries)
{
    const auto bytes = BuildVersionRecord<4096>(entries);
    return std::string(reinterpret_cast<const char*>(bytes.data()), VersionRecordSize(entries));
}

class VersionRecordTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& bytes)
    {
        const std::filesystem::path path = std::filesystem::temp_directory_path()
            / ("sw_version_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + name);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        m_files.push_back(path);
        return path.string();
    }
    void TearDown() override
    {
        for (const auto& file : m_files)
            std::filesystem::remove(file);
    }

private:
    std::vector<std::filesystem::path> m_files;
};

TEST_F(VersionRecordTest, ReadsEveryKeyOfTheFirstTranslation)
{
    const std::string file = Write("full", std::string(1000, 'x') + RecordBytes(kFullRecord) + "trailing");
    const char* expected[]
        = { "Company", "Description", "2.5.1", "internal", "Copyright", "original", "Product", "2.5" };
    for (uint8_t key = 0; key < 8; ++key)
        EXPECT_EQ(GetVersionString(file, key), expected[key]) << int(key);
    EXPECT_EQ(GetVersionString(file, 8), "2.5.1");
    EXPECT_EQ(GetVersionString(file, 255), "2.5.1");
}

TEST_F(VersionRecordTest, HandWrittenRecordAndTranslationPath)
{
    // Language 0x0407, code page 0x04B0: the path uses upper-case hex digits.
    std::string body;
    auto entry = [&body](std::string_view path, std::string_view value) {
        body += static_cast<char>(path.size());
        body += '\0';
        body += static_cast<char>(value.size());
        body += '\0';
        body += path;
        body += value;
    };
    entry("\\VarFileInfo\\Translation", std::string_view("\x07\x04\xB0\x04\x09\x04\xE4\x04", 8));
    entry("\\StringFileInfo\\040704B0\\FileVersion", std::string_view("3.1\0junk", 8));
    entry("\\StringFileInfo\\040904E4\\FileVersion", std::string_view("wrong\0", 6));
    std::string record(kVersionRecordMarker);
    record += static_cast<char>(body.size());
    record += std::string("\0\0\0", 3);
    record += std::string("\x03\x00", 2);
    record += body;
    EXPECT_EQ(GetVersionString(Write("hand", record), 2), "3.1");
}

TEST_F(VersionRecordTest, MissingOrBrokenRecordsGiveEmptyText)
{
    const std::string good = RecordBytes(kFullRecord);
    std::string longBody = good;
    longBody[kVersionRecordMarker.size() + 2] = '\x01'; // body claims 64 KiB more than there is
    std::string entryPastBody = good;
    entryPastBody[kVersionRecordMarker.size() + 6 + 3] = '\x7F'; // first value runs past the body
    std::string extraCount = good;
    extraCount[kVersionRecordMarker.size() + 4] += 1; // one entry more than the body holds
    std::string missingCount = good;
    missingCount[kVersionRecordMarker.size() + 4] -= 1; // the last entry is left over in the body

    constexpr std::array<VersionRecordEntry, 1> kNoTranslation = { {
        { "\\StringFileInfo\\040904E4\\FileVersion", "1.0" },
    } };
    constexpr std::array<VersionRecordEntry, 2> kNoKey = { {
        { "\\VarFileInfo\\Translation", kUsEnglish, false },
        { "\\StringFileInfo\\040904E4\\CompanyName", "Company" },
    } };
    constexpr std::array<VersionRecordEntry, 2> kShortTranslation = { {
        { "\\VarFileInfo\\Translation", std::string_view("\x09\x04", 2), false },
        { "\\StringFileInfo\\040904E4\\FileVersion", "1.0" },
    } };

    const std::pair<const char*, std::string> cases[] = {
        { "empty", "" },
        { "no record", std::string(5000, '\0') + "plain bytes" },
        { "marker only", std::string(kVersionRecordMarker) },
        { "truncated", good.substr(0, good.size() - 1) },
        { "long body", longBody },
        { "entry past body", entryPastBody },
        { "extra count", extraCount },
        { "missing count", missingCount },
        { "no translation", RecordBytes(kNoTranslation) },
        { "no key", RecordBytes(kNoKey) },
        { "short translation", RecordBytes(kShortTranslation) },
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_EQ(GetVersionString(Write(name, bytes), 2), "") << name;
    EXPECT_EQ(GetVersionString("/nonexistent/sw/file", 2), "");
    EXPECT_EQ(GetVersionString(std::filesystem::temp_directory_path().string(), 2), "");
}

TEST_F(VersionRecordTest, SkipsLookalikeMarkersAndFindsRecordsAcrossChunkBorders)
{
    // A bare marker (as the reader's own code holds) before the real record,
    // and the real one straddling the reader's 64 KiB chunks.
    for (size_t padding : { size_t { 0 }, size_t { 65536 - 7 }, size_t { 65536 - 16 }, size_t { 65536 } }) {
        std::string bytes
            = std::string(kVersionRecordMarker) + "\xFF\xFF\xFF\xFF" + std::string(padding, 'p');
        bytes += RecordBytes(kFullRecord);
        EXPECT_EQ(GetVersionString(Write("chunk" + std::to_string(padding), bytes), 6), "Product") << padding;
    }
}

} // namespace
} // namespace sw
