#pragma once

// Byte helpers shared by the GIF writer and reader.

#include "core/base/byte_reader.h"
#include "core/base/errors.h"
#include "core/imaging/gif/gif_messages.h"

#include <cstddef>
#include <cstdint>
#include <span>

namespace sw::gif_io {

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;

inline void PutU16(uint8_t* out, int value)
{
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutU32(uint8_t* out, uint32_t value)
{
    PutU16(out, static_cast<int>(value & 0xFFFF));
    PutU16(out + 2, static_cast<int>(value >> 16));
}

// A reader over GIF bytes: a short read is GIFException "Premature end of
// data".
inline TByteReader Reader(std::span<const uint8_t> bytes)
{
    return TByteReader(bytes, ThrowAs<GIFException>, gif_message::kPrematureEndOfData);
}

} // namespace sw::gif_io
