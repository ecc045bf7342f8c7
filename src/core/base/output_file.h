#pragma once

// An output file that appears under its name only when it is complete.
// Bytes go to a new temporary file in the same folder, created without
// following any link; Publish renames it over the name, which replaces a
// file or a link of that name and never writes through the link. Until
// then the name keeps whatever it held, and a file that is dropped (or
// destroyed) unpublished removes its temporary file.
//
// A device or a pipe that already has the name (/dev/stdout, a FIFO with a
// reader) has nothing to replace: it is opened and written directly.
//
// Failures come back as errno values so that each caller can word them in
// its own message family.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sw {

class TOutputFile {
public:
    explicit TOutputFile(std::string fileName);
    ~TOutputFile();
    TOutputFile(const TOutputFile&) = delete;
    TOutputFile& operator=(const TOutputFile&) = delete;

    // A descriptor open for writing, owned by the caller from here on, or -1
    // with errno set. A folder of that name gives EISDIR at once, rather
    // than after all the writing.
    int Create();
    // Renames the finished temporary file into place; the caller has closed
    // the descriptor. False with errno set; the temporary file is then gone.
    bool Publish();
    // Removes the temporary file unless it was published; never throws.
    void Discard() noexcept;

    // The finished temporary file holds the same bytes as the regular file
    // under the name; false when there is no such pair.
    bool MatchesTarget() const;

    const std::string& FileName() const { return m_fileName; }
    // The hidden file the bytes go to until Publish; empty when there is none.
    const std::string& TemporaryFileName() const { return m_tempName; }
    bool Published() const { return m_published; }

private:
    std::string m_fileName;
    std::string m_tempName; // empty when written directly or not created
    bool m_published = false;
};

// The regular file fileName (not a link) holds exactly bytes. Reads no
// more than bytes.size() + 1 bytes of it.
bool FileHoldsBytes(const std::string& fileName, std::span<const uint8_t> bytes);

// The part of a target's file name a temporary file's name keeps (its
// first 200 bytes), when baseName (without folder) has the form TOutputFile
// gives its temporary files; empty otherwise.
std::optional<std::string> TemporaryFileTarget(std::string_view baseName);

// The system's text for an errno value, "I/O error N" when it has none.
std::string SystemErrorText(int error);

} // namespace sw
