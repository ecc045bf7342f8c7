#pragma once

// The one reader of outside bytes. Every parser reads its format's fields
// through it; a read past the end throws the format's own exception with the
// format's own message, never a quiet zero.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>

namespace sw {

// Throws an exception of type E carrying message; a format picks its own.
template <typename E> [[noreturn]] void ThrowAs(const std::string& message)
{
    throw E(message);
}

class TByteReader {
public:
    using Thrower = void (*)(const std::string& message);

    // onShortRead must throw; it receives shortReadMessage.
    TByteReader(std::span<const uint8_t> bytes, Thrower onShortRead, std::string shortReadMessage)
        : m_bytes(bytes)
        , m_onShortRead(onShortRead)
        , m_shortReadMessage(std::move(shortReadMessage))
    { }

    uint8_t U8() { return Take(1)[0]; }
    uint16_t U16LE()
    {
        const uint8_t* p = Take(2);
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t U32LE()
    {
        const uint8_t* p = Take(4);
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
    int32_t I32LE() { return static_cast<int32_t>(U32LE()); }
    void Skip(size_t count) { Take(count); }
    // The next count bytes, still owned by the caller's buffer.
    std::span<const uint8_t> Bytes(size_t count) { return { Take(count), count }; }
    void CopyTo(void* out, size_t count) { std::memcpy(out, Take(count), count); }

    size_t Position() const { return m_position; }
    size_t Remaining() const { return m_bytes.size() - m_position; }
    bool AtEnd() const { return m_position == m_bytes.size(); }
    // Moves to an absolute offset; an offset past the end is a short read.
    void Seek(size_t position)
    {
        if (position > m_bytes.size())
            Fail();
        m_position = position;
    }
    [[noreturn]] void Fail() const
    {
        m_onShortRead(m_shortReadMessage);
        std::abort(); // a thrower that returns is a programming error
    }

private:
    const uint8_t* Take(size_t count)
    {
        if (count > Remaining())
            Fail();
        const uint8_t* p = m_bytes.data() + m_position;
        m_position += count;
        return p;
    }

    std::span<const uint8_t> m_bytes;
    Thrower m_onShortRead;
    std::string m_shortReadMessage;
    size_t m_position = 0;
};

} // namespace sw
