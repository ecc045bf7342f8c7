#pragma once

// Cut and flipped copies of a good file, for readers that must read each
// one or refuse it with their own exception (run under the sanitizers too).

#include <cstdint>
#include <vector>

namespace sw::test {

// Calls read with every truncation of good, then with good with each byte
// flipped in its lowest bit, its highest bit and all of them.
template <typename Read> void ForEachDamagedCopy(const std::vector<uint8_t>& good, Read read)
{
    for (size_t size = 0; size < good.size(); ++size)
        read(std::vector<uint8_t>(good.begin(), good.begin() + std::ptrdiff_t(size)));
    for (size_t at = 0; at < good.size(); ++at) {
        for (const uint8_t flip : { 0x01, 0x80, 0xFF }) {
            std::vector<uint8_t> bytes = good;
            bytes[at] ^= flip;
            read(bytes);
        }
    }
}

} // namespace sw::test
