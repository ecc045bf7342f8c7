#pragma once

// Big-endian fields of a PSD file over the one bounds-checked byte reader: a
// read past the end of the file, or of the section or block being read,
// throws EInvalidGraphic with the PSD truncation message.

#include "core/base/byte_reader.h"

#include <cstdint>
#include <span>
#include <string>

namespace sw {

// "PSD image is not valid (REASON)": the wording of every corrupt file.
[[noreturn]] void ThrowInvalidPsd(const std::string& reason);

class TPsdBytes {
public:
    explicit TPsdBytes(std::span<const uint8_t> bytes);

    uint8_t U8() { return m_in.U8(); }
    uint16_t U16();
    int16_t I16() { return static_cast<int16_t>(U16()); }
    uint32_t U32();
    int32_t I32() { return static_cast<int32_t>(U32()); }
    uint64_t U64();
    double F64();
    // Four bytes as text, such as a signature or a block key.
    std::string Key4();
    // A 32-bit count of UTF-16 code units, then the units; given as UTF-8
    // without the terminating NUL some writers add.
    std::string UnicodeString();
    // A count byte, then that many bytes (taken as Latin-1, given as UTF-8),
    // then padding so that the whole takes a multiple of padTo bytes.
    std::string PascalString(size_t padTo);

    void Skip(uint64_t count);
    std::span<const uint8_t> Bytes(uint64_t count);
    // A reader over the next count bytes, which this reader steps past.
    TPsdBytes Sub(uint64_t count) { return TPsdBytes(Bytes(count)); }
    // The next four bytes without stepping past them, or 0 when fewer remain.
    uint32_t PeekU32() const;

    size_t Position() const { return m_in.Position(); }
    size_t Remaining() const { return m_in.Remaining(); }
    bool AtEnd() const { return m_in.AtEnd(); }

private:
    std::span<const uint8_t> m_bytes;
    TByteReader m_in;
};

// UTF-16 big-endian code units as UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16BeToUtf8(std::span<const uint8_t> units);

} // namespace sw
