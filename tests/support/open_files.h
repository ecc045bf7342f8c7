#pragma once

// How many files the test process holds open, to show that a failing
// operation leaves none behind.

#include <cstddef>
#include <filesystem>
#include <iterator>

namespace sw::test {

inline size_t OpenFileCount()
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
}

} // namespace sw::test
