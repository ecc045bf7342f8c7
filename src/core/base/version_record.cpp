#include "core/base/version_record.h"

#include "core/base/byte_reader.h"
#include "core/base/errors.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>

namespace sw {

namespace {

constexpr size_t kHeaderSize = 4 + 2; // bodySize, count
constexpr size_t kScanChunk = 64 * 1024;

// A record that only looks like one; never leaves this file, where it means
// "no record".
class EMalformedRecord : public Exception {
public:
    using Exception::Exception;
};

TByteReader RecordReader(const std::vector<char>& bytes)
{
    return TByteReader({ reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() },
        ThrowAs<EMalformedRecord>, "Malformed version record");
}

struct Entry {
    std::string_view path;
    std::string_view value;
};

// The entries of a record body; EMalformedRecord unless the entries fill the
// body exactly.
std::vector<Entry> ParseEntries(const std::vector<char>& body, uint16_t count)
{
    TByteReader reader = RecordReader(body);
    std::vector<Entry> entries;
    for (uint16_t i = 0; i < count; ++i) {
        const size_t pathLength = reader.U16LE();
        const size_t valueLength = reader.U16LE();
        const size_t at = reader.Position();
        reader.Skip(pathLength);
        reader.Skip(valueLength);
        entries.push_back(Entry { std::string_view(body.data() + at, pathLength),
            std::string_view(body.data() + at + pathLength, valueLength) });
    }
    if (!reader.AtEnd())
        reader.Fail();
    return entries;
}

std::optional<std::string_view> LookUp(const std::vector<Entry>& entries, std::string_view path)
{
    for (const Entry& entry : entries) {
        if (entry.path == path)
            return entry.value;
    }
    return std::nullopt;
}

// A record's body and its entries, which point into the body's bytes. A
// move takes the bytes along; a copy would leave the entries behind, so
// there is none.
struct Record {
    Record() = default;
    Record(Record&&) = default;
    Record& operator=(Record&&) = default;
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    std::vector<char> body;
    std::vector<Entry> entries;
};

// Reads the record whose marker starts at offset; nothing when the bytes
// there are not a well-formed record but only happen to look like the marker.
std::optional<Record> ReadRecordAt(std::ifstream& file, uint64_t offset, uint64_t fileSize)
{
    const uint64_t headerAt = offset + kVersionRecordMarker.size();
    if (fileSize < headerAt || fileSize - headerAt < kHeaderSize)
        return std::nullopt;
    file.clear();
    file.seekg(static_cast<std::streamoff>(headerAt));
    std::vector<char> header(kHeaderSize);
    if (!file.read(header.data(), static_cast<std::streamsize>(header.size())))
        return std::nullopt;
    TByteReader fields = RecordReader(header);
    const uint32_t bodySize = fields.U32LE();
    const uint16_t count = fields.U16LE();
    if (bodySize > kMaxVersionRecordBody || fileSize - headerAt - kHeaderSize < bodySize)
        return std::nullopt;
    Record record;
    record.body.resize(bodySize);
    if (bodySize > 0 && !file.read(record.body.data(), static_cast<std::streamsize>(bodySize)))
        return std::nullopt;
    try {
        record.entries = ParseEntries(record.body, count);
    } catch (const EMalformedRecord&) {
        return std::nullopt;
    }
    return record;
}

// The first well-formed record in the file, found by scanning for its marker.
std::optional<Record> FindRecord(const std::string& fileName)
{
    std::ifstream scan(fileName, std::ios::binary);
    std::ifstream reader(fileName, std::ios::binary);
    if (!scan || !reader)
        return std::nullopt;
    reader.seekg(0, std::ios::end);
    const std::streamoff end = reader.tellg();
    if (end <= 0)
        return std::nullopt;
    const uint64_t fileSize = static_cast<uint64_t>(end);

    const size_t keep = kVersionRecordMarker.size() - 1;
    std::vector<char> window;
    uint64_t windowStart = 0;
    std::vector<char> chunk(kScanChunk);
    while (scan) {
        scan.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const size_t got = static_cast<size_t>(scan.gcount());
        if (got == 0)
            break;
        window.insert(window.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(got));
        auto from = window.begin();
        while (true) {
            const auto hit
                = std::search(from, window.end(), kVersionRecordMarker.begin(), kVersionRecordMarker.end());
            if (hit == window.end())
                break;
            const uint64_t offset = windowStart + static_cast<uint64_t>(hit - window.begin());
            if (std::optional<Record> record = ReadRecordAt(reader, offset, fileSize))
                return record;
            from = hit + 1;
        }
        // Keep the tail so a marker split across two chunks is still found.
        if (window.size() > keep) {
            const size_t drop = window.size() - keep;
            window.erase(window.begin(), window.begin() + static_cast<std::ptrdiff_t>(drop));
            windowStart += drop;
        }
    }
    return std::nullopt;
}

std::string HexDigits4(uint16_t value)
{
    return Format("%04X", static_cast<unsigned>(value));
}

} // namespace

std::string GetVersionString(const std::string& fileName, uint8_t keyIndex)
{
    const std::string_view key = keyIndex < kVersionKeys.size() ? kVersionKeys[keyIndex] : kVersionKeys[2];

    const std::optional<Record> record = FindRecord(fileName);
    if (!record)
        return std::string();
    const std::vector<Entry>& entries = record->entries;
    const std::optional<std::string_view> translation = LookUp(entries, "\\VarFileInfo\\Translation");
    if (!translation || translation->size() < 4)
        return std::string();
    const auto* pair = reinterpret_cast<const uint8_t*>(translation->data());
    const uint16_t language = DecodeU16LE(pair);
    const uint16_t codePage = DecodeU16LE(pair + 2);

    const std::string path
        = "\\StringFileInfo\\" + HexDigits4(language) + HexDigits4(codePage) + "\\" + std::string(key);
    const std::optional<std::string_view> value = LookUp(entries, path);
    if (!value)
        return std::string();
    return std::string(value->substr(0, value->find('\0')));
}

} // namespace sw
