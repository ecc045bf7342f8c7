#pragma once

// Text and file-name rules shared by every subsystem. File names use the
// platform's separator '/'; an extension is the part from the last '.' that
// stands after the last separator.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sw {

constexpr char kPathSeparator = '/';

// ".ext" with the dot, or empty when the name has none.
std::string ExtractFileExt(std::string_view fileName);
// The name with its extension (if any) replaced by newExt, which carries its own dot.
std::string ChangeFileExt(std::string_view fileName, std::string_view newExt);
// The part after the last separator.
std::string ExtractFileName(std::string_view fileName);
// The folder part including its trailing separator; empty when there is none.
std::string ExtractFilePath(std::string_view fileName);

std::string UpperCaseAscii(std::string_view text);
std::string LowerCaseAscii(std::string_view text);
std::string IntToStr(int64_t value);
// The value of a hexadecimal digit of either case, or -1.
int HexDigit(char c);

// The whole-number rule of captions and project values: optional leading
// blanks, then an optional sign and decimal digits, or a "$", "x", "X", "0x"
// or "0X" prefix and hexadecimal digits; nothing after the digits; no 32-bit
// overflow. Hexadecimal values from 0x80000000 read as negative numbers.
std::optional<int32_t> TryStrToInt(std::string_view text);
// The same, failing with EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);
int32_t StrToIntDef(std::string_view text, int32_t fallback);

bool FileExists(const std::string& fileName);
bool DeleteFile(const std::string& fileName);
bool RenameFile(const std::string& from, const std::string& to);

} // namespace sw
