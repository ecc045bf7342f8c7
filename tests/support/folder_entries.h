#pragma once

// The names in a folder, for comparing what a run left behind with what it
// should have.

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>

namespace sw::test {

inline std::set<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// The bytes of the files directly in a folder, together.
inline uint64_t FolderBytes(const std::filesystem::path& folder)
{
    uint64_t bytes = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        bytes += entry.file_size();
    return bytes;
}

} // namespace sw::test
