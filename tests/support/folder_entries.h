#pragma once

// The names in a folder, for comparing what a run left behind with what it
// should have.

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

} // namespace sw::test
