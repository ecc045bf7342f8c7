#include "core/base/errors.h"
#include "core/project/ini_file.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace sw {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempFolder;
using test::WriteFileBytes;

TEST(IniFile, ReadsByTheLineRules)
{
    const TIniFile ini = TIniFile::FromText("Orphan=before any section\n"
                                            "[Settings]\r\n"
                                            "GraphicImage= spaced path \t\r\n"
                                            "\r\n"
                                            "   \n"
                                            "; Comment=ignored\n"
                                            "no equals sign here\n"
                                            "  Padded Key\t=value\n"
                                            "Empty=\n"
                                            "DUP=first\n"
                                            "dup=second\n"
                                            "[ columns ]\n"
                                            "Position1=120\n"
                                            "[SETTINGS]\n"
                                            "Later=merged\n"
                                            "GraphicImage=ignored duplicate\n"
                                            "Last=no line end");

    struct Case {
        const char* section;
        const char* key;
        const char* expected;
    };
    const Case cases[] = {
        { "settings", "graphicimage", "spaced path" },
        { "Settings", "Padded Key", "value" },
        { "Settings", "Empty", "" },
        { "Settings", "Dup", "first" },
        { "Columns", "POSITION1", "120" },
        { "Settings", "Later", "merged" },
        { "Settings", "Last", "no line end" },
        { "Settings", "Orphan", "<default>" },
        { "Settings", "; Comment", "<default>" },
        { "Settings", "Missing", "<default>" },
        { "Nowhere", "GraphicImage", "<default>" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ini.ReadString(c.section, c.key, "<default>"), c.expected) << c.section << '/' << c.key;
}

TEST(IniFile, NumbersAndFlagsFallBackOnAnythingElse)
{
    const TIniFile ini = TIniFile::FromText("[S]\nHex=0x1F\nDollar=$1F\nBlank= 42\nUnit=42px\nEmpty=\n"
                                            "Zero=0\nTwo=2\nWord=false\nNegative=-5\n");
    EXPECT_EQ(ini.ReadInteger("S", "Hex", -999), 31);
    EXPECT_EQ(ini.ReadInteger("S", "Dollar", -999), 31);
    EXPECT_EQ(ini.ReadInteger("S", "Blank", -999), 42);
    EXPECT_EQ(ini.ReadInteger("S", "Unit", -999), -999);
    EXPECT_EQ(ini.ReadInteger("S", "Empty", -999), -999);
    EXPECT_EQ(ini.ReadInteger("S", "Negative", -999), -5);

    EXPECT_FALSE(ini.ReadBool("S", "Zero", true));
    EXPECT_TRUE(ini.ReadBool("S", "Two", false));
    EXPECT_TRUE(ini.ReadBool("S", "Word", true));
    EXPECT_FALSE(ini.ReadBool("S", "Word", false));
    EXPECT_TRUE(ini.ReadBool("S", "Missing", true));
}

TEST(IniFile, WritesCrLfAndUpdatesKeysInPlace)
{
    TIniFile ini = TIniFile::FromText("[Settings]\nGraphicImage=old\ngraphicimage=shadowed\n");
    ini.WriteString("Rows", "Position1", "80");
    ini.WriteString("SETTINGS", "GRAPHICIMAGE", "new");
    ini.WriteBool("Rows", "Checked1", true);
    ini.WriteInteger("Rows", "position1", -3);
    // The shadowed duplicate is never read, so it is not written either.
    EXPECT_EQ(ini.Text(),
        "[Settings]\r\nGraphicImage=new\r\n"
        "[Rows]\r\nPosition1=-3\r\nChecked1=1\r\n");
}

TEST(IniFile, RefusesWhatCannotBeReadBackTheSame)
{
    TIniFile ini = TIniFile::FromText("", "/some/project.swr");
    const std::pair<const char*, const char*> badNames[] = {
        { "Settings", "Key=Value" },
        { "Settings", "[Key" },
        { "Settings", " Key" },
        { "Settings", "" },
        { "Set]tings", "Key" },
        { "", "Key" },
    };
    for (const auto& [section, key] : badNames)
        EXPECT_THROW(ini.WriteString(section, key, "v"), EIniFileException) << section << '/' << key;
    try {
        ini.WriteString("Settings", "GraphicImage", "two\nlines");
        FAIL() << "a value with a line break was stored";
    } catch (const EIniFileException& e) {
        EXPECT_STREQ(e.what(), "Unable to write to /some/project.swr");
    }
    EXPECT_EQ(ini.Text(), "");
}

TEST(IniFile, MissingFileIsEmptyAndOversizedFileIsRefused)
{
    TempFolder folder;
    EXPECT_EQ(TIniFile(folder / "absent.ini").Text(), "");
    EXPECT_EQ(TIniFile(folder / "no-such-folder/absent.ini").Text(), "");

    const std::string big = folder / "big.ini";
    WriteFileBytes(big, "[S]\nK=v\n" + std::string(kMaxIniFileSize, 'x'));
    try {
        TIniFile ini(big);
        FAIL() << "an oversized file was read";
    } catch (const EIniFileException& e) {
        EXPECT_NE(std::string(e.what()).find(big), std::string::npos) << e.what();
    }
}

TEST(IniFile, SkipsAUtf8MarkAndRefusesWideOrBinaryText)
{
    TempFolder folder;
    const std::string name = folder / "p.swr";
    WriteFileBytes(name, "\xEF\xBB\xBF[Settings]\r\nGraphicImage=page.jpg\r\n");
    EXPECT_EQ(TIniFile(name).ReadString("Settings", "GraphicImage", "<default>"), "page.jpg");

    const std::pair<std::string, const char*> refused[] = {
        { std::string("\xFF\xFE[\0S\0]\0", 8), "UTF-16" },
        { std::string("\xFE\xFF\0[\0S\0]", 8), "UTF-16" },
        { std::string("[S]\nK=v\0w\n", 11), "binary" },
    };
    for (const auto& [bytes, reason] : refused) {
        WriteFileBytes(name, bytes);
        try {
            TIniFile ini(name);
            FAIL() << reason << " text was read";
        } catch (const EIniFileException& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(name), std::string::npos) << message;
            EXPECT_NE(message.find(reason), std::string::npos) << message;
        }
    }
}

TEST(IniFile, OnlyARegularFileIsRead)
{
    TempFolder folder;
    const std::string pipe = folder / "pipe.ini";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    // A pipe without a writer would hold the reader for ever.
    for (const std::string& name : { folder.Path().string(), pipe })
        EXPECT_THROW(TIniFile ini(name), EIniFileException) << name;
}

TEST(IniFile, UpdateFileReplacesTheWholeFile)
{
    TempFolder folder;
    const std::string name = folder / "p.ini";
    WriteFileBytes(name, "[Old]\nStale=1\n");
    TIniFile ini = TIniFile::FromText("", name);
    ini.WriteString("New", "Key", "value");
    ini.UpdateFile();
    EXPECT_EQ(ReadFileBytes(name), "[New]\r\nKey=value\r\n");
    EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(IniFile, FailedUpdateLeavesTheFileAndNoTemporaryFile)
{
    TempFolder folder;
    const std::string name = folder / "p.ini";
    WriteFileBytes(name, "[Old]\nKept=1\n");
    TIniFile ini = TIniFile::FromText("", name);
    ini.WriteString("New", "Key", "value");

    EXPECT_THROW(ini.UpdateFile([] { throw EInOutError("stop"); }), EInOutError);
    EXPECT_EQ(ReadFileBytes(name), "[Old]\nKept=1\n");
    EXPECT_EQ(folder.EntryCount(), 1u);

    // A folder in the file's place cannot be replaced by a file.
    const std::string occupied = folder / "occupied.ini";
    fs::create_directory(occupied);
    WriteFileBytes(occupied + "/inside", "x");
    try {
        TIniFile::FromText("[S]\nK=v\n", occupied).UpdateFile();
        FAIL() << "a folder was replaced";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.what(), "Unable to write to " + occupied);
    }
    EXPECT_EQ(ReadFileBytes(occupied + "/inside"), "x");
    EXPECT_EQ(folder.EntryCount(), 2u);
}

} // namespace
} // namespace sw
