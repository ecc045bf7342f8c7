#include "core/imaging/psd/psd_bytes.h"

#include "core/base/errors.h"
#include "core/base/utf8.h"

#include <bit>
#include <cstring>

namespace sw {

namespace {

const char* const kTruncated = "PSD image is not valid (the file ends too early)";

} // namespace

void ThrowInvalidPsd(const std::string& reason)
{
    throw EInvalidGraphic("PSD image is not valid (" + reason + ")");
}

TPsdBytes::TPsdBytes(std::span<const uint8_t> bytes)
    : m_bytes(bytes)
    , m_in(bytes, &ThrowAs<EInvalidGraphic>, kTruncated)
{ }

uint16_t TPsdBytes::U16()
{
    const auto b = m_in.Bytes(2);
    return static_cast<uint16_t>(b[0] << 8 | b[1]);
}

uint32_t TPsdBytes::U32()
{
    const auto b = m_in.Bytes(4);
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

uint64_t TPsdBytes::U64()
{
    const uint64_t high = U32();
    return high << 32 | U32();
}

double TPsdBytes::F64()
{
    return std::bit_cast<double>(U64());
}

std::string TPsdBytes::Key4()
{
    const auto b = m_in.Bytes(4);
    return std::string(b.begin(), b.end());
}

std::string TPsdBytes::UnicodeString()
{
    const uint32_t units = U32();
    std::string text = Utf16BeToUtf8(Bytes(uint64_t(units) * 2));
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::string TPsdBytes::PascalString(size_t padTo)
{
    const uint8_t length = U8();
    std::string text;
    for (const uint8_t byte : m_in.Bytes(length))
        AppendUtf8(text, byte);
    const size_t taken = size_t(length) + 1;
    Skip((padTo - taken % padTo) % padTo);
    return text;
}

void TPsdBytes::Skip(uint64_t count)
{
    Bytes(count);
}

std::span<const uint8_t> TPsdBytes::Bytes(uint64_t count)
{
    if (count > Remaining())
        m_in.Fail();
    return m_in.Bytes(static_cast<size_t>(count));
}

uint32_t TPsdBytes::PeekU32() const
{
    if (Remaining() < 4)
        return 0;
    const uint8_t* p = m_bytes.data() + Position();
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

std::string Utf16BeToUtf8(std::span<const uint8_t> units)
{
    std::string out;
    out.reserve(units.size() / 2);
    const size_t count = units.size() / 2;
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = uint32_t(units[2 * i]) << 8 | units[2 * i + 1];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < count) {
            const uint32_t low = uint32_t(units[2 * i + 2]) << 8 | units[2 * i + 3];
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        AppendUtf8(out, code);
    }
    return out;
}

} // namespace sw
