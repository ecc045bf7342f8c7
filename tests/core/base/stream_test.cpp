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
    for (const std::string& name : { folder.Path().string(), named, pipe }) {
        try {
            TFileStream stream(name, FileMode::OpenRead);
            FAIL() << "opened as a file: " << name;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.what(), "Cannot open file " + name);
        }
        TMemoryStream memory;
        EXPECT_THROW(memory.LoadFromFile(name), EFOpenError) << name;
    }
}

} // namespace
} // namespace sw
