#include "core/base/sysutils.h"

#include "core/base/errors.h"

#include <cstdio>
#include <sys/stat.h>

namespace sw {

namespace {

size_t ExtensionDot(std::string_view fileName)
{
    const size_t dot = fileName.rfind('.');
    const size_t separator = fileName.rfind(kPathSeparator);
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator))
        return std::string_view::npos;
    return dot;
}

} // namespace

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string ExtractFileExt(std::string_view fileName)
{
    const size_t dot = ExtensionDot(fileName);
    return dot == std::string_view::npos ? std::string() : std::string(fileName.substr(dot));
}

std::string ChangeFileExt(std::string_view fileName, std::string_view newExt)
{
    const size_t dot = ExtensionDot(fileName);
    std::string result(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
    result += newExt;
    return result;
}

std::string ExtractFileName(std::string_view fileName)
{
    const size_t separator = fileName.rfind(kPathSeparator);
    return std::string(separator == std::string_view::npos ? fileName : fileName.substr(separator + 1));
}

std::string ExtractFilePath(std::string_view fileName)
{
    const size_t separator = fileName.rfind(kPathSeparator);
    return separator == std::string_view::npos ? std::string()
                                               : std::string(fileName.substr(0, separator + 1));
}

std::string UpperCaseAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string LowerCaseAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string IntToStr(int64_t value)
{
    return std::to_string(value);
}

std::optional<int32_t> TryStrToInt(std::string_view text)
{
    std::string s(text);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s.replace(0, 2, "$");

    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i == s.size())
        return std::nullopt;

    bool hex = false;
    if (s[i] == '$' || s[i] == 'x' || s[i] == 'X') {
        hex = true;
        ++i;
    } else if (s[i] == '0' && i + 1 < s.size() && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }

    if (hex) {
        if (i == s.size())
            return std::nullopt;
        uint64_t value = 0;
        for (; i < s.size(); ++i) {
            const int digit = HexDigit(s[i]);
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFu)
                return std::nullopt;
        }
        return static_cast<int32_t>(static_cast<uint32_t>(value));
    }

    bool negative = false;
    if (s[i] == '+' || s[i] == '-') {
        negative = s[i] == '-';
        ++i;
    }
    if (i == s.size())
        return std::nullopt;
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9')
            return std::nullopt;
        value = value * 10 + (s[i] - '0');
        if (value > 2147483648LL)
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > 2147483647LL)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t StrToInt(std::string_view text)
{
    if (const auto value = TryStrToInt(text))
        return *value;
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text).c_str()));
}

int32_t StrToIntDef(std::string_view text, int32_t fallback)
{
    return TryStrToInt(text).value_or(fallback);
}

bool FileExists(const std::string& fileName)
{
    struct stat info { };
    return !fileName.empty() && ::stat(fileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool DeleteFile(const std::string& fileName)
{
    return std::remove(fileName.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace sw
