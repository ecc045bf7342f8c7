#pragma once

// The version record an executable carries (company, description, file
// version, ...), and GetVersionString, which reads one string of it back from
// a file.
//
// Byte layout, little-endian throughout:
//   marker     16 bytes, kVersionRecordMarker
//   bodySize   u32, the size of the entries; at most kMaxVersionRecordBody
//   count      u16, the number of entries
//   entries    count times: u16 pathLength, u16 valueLength, path, value
// The entries fill bodySize exactly. Paths are texts such as
// "\VarFileInfo\Translation" (value: pairs of u16 language, u16 code page) and
// "\StringFileInfo\040904E4\FileVersion" (value: the text and its zero byte).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sw {

inline constexpr std::string_view kVersionRecordMarker { "SwVersionRecord\x01", 16 };
inline constexpr size_t kMaxVersionRecordBody = 64 * 1024;

// Key indexes of GetVersionString.
inline constexpr std::array<std::string_view, 8> kVersionKeys = {
    "CompanyName",
    "FileDescription",
    "FileVersion",
    "InternalName",
    "LegalCopyright",
    "OriginalFilename",
    "ProductName",
    "ProductVersion",
};

// One string of fileName's version record: the key is kVersionKeys[keyIndex],
// "FileVersion" for an index of 8 or more. The string table is the one of the
// record's first translation. Empty when the file cannot be read, carries no
// well-formed record, or lacks the table or the key.
std::string GetVersionString(const std::string& fileName, uint8_t keyIndex);

struct VersionRecordEntry {
    std::string_view path;
    std::string_view value;
    bool addZeroByte = true; // texts are stored with their terminating zero
};

// Size and bytes of a record for the given entries; usable at compile time so
// that a program can carry its record as constant data. The record fills the
// first VersionRecordSize(entries) bytes of the result; Size may be larger.
template <size_t N> constexpr size_t VersionRecordSize(const std::array<VersionRecordEntry, N>& entries)
{
    size_t size = kVersionRecordMarker.size() + 4 + 2;
    for (const VersionRecordEntry& entry : entries)
        size += 4 + entry.path.size() + entry.value.size() + (entry.addZeroByte ? 1 : 0);
    return size;
}

template <size_t Size, size_t N>
constexpr std::array<unsigned char, Size> BuildVersionRecord(const std::array<VersionRecordEntry, N>& entries)
{
    static_assert(N <= 0xFFFF);
    std::array<unsigned char, Size> out {};
    size_t at = 0;
    auto put16 = [&](size_t value) {
        out[at++] = static_cast<unsigned char>(value & 0xFF);
        out[at++] = static_cast<unsigned char>((value >> 8) & 0xFF);
    };
    for (char c : kVersionRecordMarker)
        out[at++] = static_cast<unsigned char>(c);
    const size_t size = VersionRecordSize(entries);
    const size_t body = size - kVersionRecordMarker.size() - 4 - 2;
    if (size > Size || body > kMaxVersionRecordBody)
        throw "version record does not fit"; // a compile-time error where built as a constant
    put16(body & 0xFFFF);
    put16(body >> 16);
    put16(N);
    for (const VersionRecordEntry& entry : entries) {
        put16(entry.path.size());
        put16(entry.value.size() + (entry.addZeroByte ? 1 : 0));
        for (char c : entry.path)
            out[at++] = static_cast<unsigned char>(c);
        for (char c : entry.value)
            out[at++] = static_cast<unsigned char>(c);
        if (entry.addZeroByte)
            out[at++] = 0;
    }
    return out;
}

} // namespace sw
