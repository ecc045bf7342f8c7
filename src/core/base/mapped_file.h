#pragma once

// A file's bytes mapped read-only into memory, for reading a file just
// written without copying it into fresh memory.

#include <cstdint>
#include <span>
#include <string>

namespace sw {

class TMappedFile {
public:
    // No bytes when the file cannot be opened or mapped, or is empty; the
    // caller then reads it the ordinary way, which reports why.
    explicit TMappedFile(const std::string& fileName);
    ~TMappedFile();
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;

    std::span<const uint8_t> Bytes() const { return { m_data, m_size }; }

private:
    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace sw
