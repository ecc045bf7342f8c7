#include "core/project/ini_file.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/project/safe_save.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sw {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string Fold(std::string_view name)
{
    return LowerCaseAscii(name);
}

bool HasLineBreak(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

// The whole file or nothing: a missing file is empty, anything above the
// size limit or unreadable is refused before it is parsed.
std::string ReadWholeFile(const std::string& fileName)
{
    if (fileName.empty())
        return std::string();
    // Not blocking, so a named pipe in the file's place cannot hold the
    // program waiting for a writer; anything but a regular file is refused.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return std::string();
        throw EIniFileException(Format("Unable to read %s (%s)", fileName.c_str(), std::strerror(errno)));
    }
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw EIniFileException(Format("Unable to read %s (not a file)", fileName.c_str()));
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw EIniFileException(Format("Unable to read %s (%s)", fileName.c_str(), std::strerror(error)));
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<size_t>(n) > kMaxIniFileSize) {
            ::close(fd);
            throw EIniFileException(
                Format("Unable to read %s (larger than %zu bytes)", fileName.c_str(), kMaxIniFileSize));
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

} // namespace

TIniFile::TIniFile(std::string fileName)
    : m_fileName(std::move(fileName))
{
    const std::string text = ReadWholeFile(m_fileName);
    // Wide text would parse as nothing at all and every value would quietly
    // take its default; the user is told instead.
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF"))
        throw EIniFileException(
            Format("Unable to read %s (UTF-16 text; save it as UTF-8 or 8-bit text)", m_fileName.c_str()));
    if (text.find('\0') != std::string::npos)
        throw EIniFileException(Format("Unable to read %s (binary data, not INI text)", m_fileName.c_str()));
    Parse(text);
}

TIniFile TIniFile::FromText(std::string_view text, std::string fileName)
{
    TIniFile ini;
    ini.m_fileName = std::move(fileName);
    ini.Parse(text);
    return ini;
}

void TIniFile::Parse(std::string_view text)
{
    // Editors that save UTF-8 often put a byte-order mark first, which would
    // otherwise hide the first section.
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    Section* current = nullptr;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        const std::string_view trimmed = Trim(line);
        if (trimmed.empty() || trimmed.front() == ';')
            continue;
        if (trimmed.front() == '[') {
            const std::string_view inner = trimmed.substr(1);
            current = &SectionFor(Trim(inner.substr(0, inner.find(']'))));
            continue;
        }
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos || current == nullptr)
            continue;
        const std::string_view key = Trim(line.substr(0, equals));
        if (key.empty())
            continue;
        const auto [it, inserted] = current->KeyIndex.try_emplace(Fold(key), current->Entries.size());
        if (inserted)
            current->Entries.push_back({ std::string(key), std::string(Trim(line.substr(equals + 1))) });
    }
}

TIniFile::Section& TIniFile::SectionFor(std::string_view name)
{
    const auto [it, inserted] = m_sectionIndex.try_emplace(Fold(name), m_sections.size());
    if (inserted)
        m_sections.push_back({ std::string(name), {}, {} });
    return m_sections[it->second];
}

const TIniFile::Entry* TIniFile::Find(std::string_view section, std::string_view key) const
{
    const auto s = m_sectionIndex.find(Fold(section));
    if (s == m_sectionIndex.end())
        return nullptr;
    const Section& found = m_sections[s->second];
    const auto k = found.KeyIndex.find(Fold(key));
    return k == found.KeyIndex.end() ? nullptr : &found.Entries[k->second];
}

bool TIniFile::ValueExists(std::string_view section, std::string_view key) const
{
    return Find(section, key) != nullptr;
}

std::vector<std::string> TIniFile::KeysOf(std::string_view section) const
{
    std::vector<std::string> keys;
    const auto s = m_sectionIndex.find(Fold(section));
    if (s == m_sectionIndex.end())
        return keys;
    for (const Entry& entry : m_sections[s->second].Entries)
        keys.push_back(entry.Key); // duplicates were never stored
    return keys;
}

std::string TIniFile::ReadString(
    std::string_view section, std::string_view key, const std::string& fallback) const
{
    const Entry* entry = Find(section, key);
    return entry ? entry->Value : fallback;
}

int32_t TIniFile::ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const
{
    const Entry* entry = Find(section, key);
    return entry ? TryStrToInt(entry->Value).value_or(fallback) : fallback;
}

bool TIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const
{
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::FailWrite() const
{
    throw EIniFileException(Format("Unable to write to %s", m_fileName.c_str()));
}

void TIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value)
{
    // Anything that would read back as another name, another line or
    // another key is refused rather than silently changing the file.
    const bool badSection = section.empty() || Trim(section) != section || HasLineBreak(section)
        || section.find(']') != std::string_view::npos;
    const bool badKey = key.empty() || Trim(key) != key || HasLineBreak(key)
        || key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';';
    if (badSection || badKey || HasLineBreak(value))
        FailWrite();

    Section& target = SectionFor(section);
    const auto [it, inserted] = target.KeyIndex.try_emplace(Fold(key), target.Entries.size());
    if (inserted)
        target.Entries.push_back({ std::string(key), std::string(value) });
    else
        target.Entries[it->second].Value = std::string(value);
}

void TIniFile::WriteInteger(std::string_view section, std::string_view key, int32_t value)
{
    WriteString(section, key, IntToStr(value));
}

void TIniFile::WriteBool(std::string_view section, std::string_view key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

std::string TIniFile::Text() const
{
    std::string text;
    for (const Section& section : m_sections) {
        if (section.Entries.empty())
            continue;
        text += '[';
        text += section.Name;
        text += "]\r\n";
        for (const Entry& entry : section.Entries) {
            text += entry.Key;
            text += '=';
            text += entry.Value;
            text += "\r\n";
        }
    }
    return text;
}

void TIniFile::UpdateFile(const std::function<void()>& beforeReplace) const
{
    if (!ReplaceFile(m_fileName, Text(), beforeReplace))
        FailWrite();
}

} // namespace sw
