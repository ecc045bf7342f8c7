#pragma once

// A small INI file: "[Section]" lines open sections, "Key=Value" lines give
// values. Section and key names match without regard to ASCII case; the
// first of duplicate keys wins (a section named twice is read as one).
// Blank lines, lines starting with ';' and lines with neither brackets nor
// '=' are ignored. Names and values lose surrounding blanks and tabs, as
// the files' home platform reads them; values are otherwise kept byte for
// byte. A UTF-8 byte-order mark at the start is skipped. Lines end in CR LF
// when written; CR LF and LF are read.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sw {

// Files above this size are refused rather than read: a project file is a
// few hundred bytes, and the limit bounds the memory and time one read costs.
constexpr size_t kMaxIniFileSize = size_t(4) << 20;

class TIniFile {
public:
    // Reads fileName when it exists (a missing file is an empty INI file).
    // A file larger than kMaxIniFileSize, one that cannot be read, and one
    // that is UTF-16 or holds zero bytes fail with EIniFileException naming
    // the file.
    explicit TIniFile(std::string fileName);

    // An INI file parsed from text, bound to fileName for UpdateFile.
    static TIniFile FromText(std::string_view text, std::string fileName = std::string());

    const std::string& FileName() const { return m_fileName; }

    bool ValueExists(std::string_view section, std::string_view key) const;
    // The section's keys in file order, each once (as its first line spells
    // it); empty when the section is missing.
    std::vector<std::string> KeysOf(std::string_view section) const;
    // The value, or fallback when the key is missing (a present but empty
    // value gives the empty text).
    std::string ReadString(std::string_view section, std::string_view key, const std::string& fallback) const;
    // The value by the whole-number rule (TryStrToInt), or fallback when the
    // key is missing or its text is no whole number.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
    // ReadInteger(...) != 0, with fallback for a missing or non-numeric value.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

    // Sets the value of the first matching key, or appends the key to the
    // section (appending the section when it is new). Values and names that
    // cannot be stored on one line (CR, LF; '=' or a leading '[' or ';' in a
    // key; ']' in a section name) fail with "Unable to write to %s".
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    void WriteInteger(std::string_view section, std::string_view key, int32_t value);
    // Writes "1" or "0".
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // The whole file as written: sections in order of first appearance,
    // sections without keys left out, CR LF after every line.
    std::string Text() const;

    // Replaces the file atomically with Text(): the bytes go to a new file in
    // the same folder, are flushed to the disk, and only then take the
    // file's name. beforeReplace, when given, runs between those two steps.
    // Any failure gives EIniFileException "Unable to write to %s" with the
    // file unchanged and no temporary file left behind.
    void UpdateFile(const std::function<void()>& beforeReplace = nullptr) const;

private:
    struct Entry {
        std::string Key;
        std::string Value;
    };
    struct Section {
        std::string Name;
        std::vector<Entry> Entries;
        std::unordered_map<std::string, size_t> KeyIndex; // folded key -> first entry
    };

    TIniFile() = default;
    void Parse(std::string_view text);
    Section& SectionFor(std::string_view name);
    const Entry* Find(std::string_view section, std::string_view key) const;
    [[noreturn]] void FailWrite() const;

    std::string m_fileName;
    std::vector<Section> m_sections;
    std::unordered_map<std::string, size_t> m_sectionIndex; // folded name -> section
};

} // namespace sw
