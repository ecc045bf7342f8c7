#include "core/base/errors.h"
#include "core/base/stream.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

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

} // namespace
} // namespace sw
