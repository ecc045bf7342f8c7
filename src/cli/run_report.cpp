#include "cli/run_report.h"

#include "core/base/sysutils.h"

namespace sw::cli {

std::string JsonString(std::string_view text)
{
    std::string out = "\"";
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<uint8_t>(text[i]);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte < 0x20 || byte == 0x7F) {
            static const std::map<uint8_t, const char*> kShort
                = { { '\b', "\\b" }, { '\f', "\\f" }, { '\n', "\\n" }, { '\r', "\\r" }, { '\t', "\\t" } };
            const auto found = kShort.find(byte);
            out += found != kShort.end() ? std::string(found->second) : Format("\\u%04x", byte);
            ++i;
            continue;
        }
        // The length of a well-formed sequence starting here, 0 if none.
        size_t length = 0;
        if (byte < 0x80)
            length = 1;
        else if (byte >= 0xC2 && byte <= 0xDF)
            length = 2;
        else if (byte >= 0xE0 && byte <= 0xEF)
            length = 3;
        else if (byte >= 0xF0 && byte <= 0xF4)
            length = 4;
        if (length > 1) {
            const auto at = [&](size_t k) { return static_cast<uint8_t>(text[i + k]); };
            bool valid = i + length <= text.size();
            for (size_t k = 1; valid && k < length; ++k)
                valid = (at(k) & 0xC0) == 0x80;
            // No overlong forms, surrogates or code points past U+10FFFF.
            if (valid && byte == 0xE0)
                valid = at(1) >= 0xA0;
            if (valid && byte == 0xED)
                valid = at(1) < 0xA0;
            if (valid && byte == 0xF0)
                valid = at(1) >= 0x90;
            if (valid && byte == 0xF4)
                valid = at(1) < 0x90;
            if (!valid)
                length = 0;
        }
        if (length == 0) {
            out += Format("\\udc%02x", byte);
            ++i;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out + "\"";
}

std::string JsonNumber(double value)
{
    return Format("%.2f", value);
}

} // namespace sw::cli
