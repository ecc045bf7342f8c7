#pragma once

// Byte helpers shared by the GIF writer and reader.

#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/gif/gif_messages.h"

#include <cstddef>
#include <cstdint>

namespace sw::gif_io {

constexpr uint8_t kExtensionIntroducer = 0x21;
constexpr uint8_t kImageSeparator = 0x2C;
constexpr uint8_t kTrailer = 0x3B;

inline void PutU16(uint8_t* out, int value)
{
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

inline uint16_t GetU16(const uint8_t* in)
{
    return static_cast<uint16_t>(in[0] | in[1] << 8);
}

inline void PutU32(uint8_t* out, uint32_t value)
{
    PutU16(out, static_cast<int>(value & 0xFFFF));
    PutU16(out + 2, static_cast<int>(value >> 16));
}

inline uint32_t GetU32(const uint8_t* in)
{
    return GetU16(in) | uint32_t(GetU16(in + 2)) << 16;
}

// Exactly count bytes, or GIFException gif_message::kPrematureEndOfData.
inline void ReadExact(TStream& stream, void* buffer, size_t count)
{
    if (stream.Read(buffer, count) != count)
        throw GIFException(gif_message::kPrematureEndOfData);
}

} // namespace sw::gif_io
