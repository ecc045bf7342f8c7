#include "base/errors.h"
#include "base/stream.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace sw {
namespace {

// A folder opens for reading like a file, and its size can read as 2^63 - 1,
// which every reader would take for the bytes still to come.
TEST(TFileStream, RefusesAFolderAsTheFileToRead)
{
    test::TempFolder folder;
    const std::string named = folder / "looks-like.bmp";
    std::filesystem::create_directory(named);
    for (const std::string& name : { folder.Path().string(), named }) {
        try {
            TFileStream stream(name, FileMode::OpenRead);
            FAIL() << "a folder was opened as a file: " << name;
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.what(), "Cannot open file " + name);
        }
        TMemoryStream memory;
        EXPECT_THROW(memory.LoadFromFile(name), EFOpenError) << name;
    }
}

} // namespace
} // namespace sw
