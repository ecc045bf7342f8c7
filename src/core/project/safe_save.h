#pragma once

// Replacing a file so that a failure at any step leaves the old one whole:
// the new bytes go to a temporary file beside it, reach the disk, and only
// then take its name. A name that is a symbolic link is written through:
// the link stays and the file it points to is replaced.

#include <functional>
#include <string>

namespace sw {

// The two calls whose failure decides what a save leaves behind. Tests
// replace them to make one fail; everything else uses the system's.
struct TFileSystemCalls {
    // Another name for from (following from when it is a symbolic link).
    int (*Link)(const char* from, const char* to);
    int (*Rename)(const char* from, const char* to);
};
TFileSystemCalls& FileSystemCalls();

// The file a name finally stands for once every symbolic link on the way is
// followed (the name itself when it is none). A link to a file that does not
// exist yet gives that file's name; a loop of links gives the name itself.
std::string ResolveSymbolicLinks(const std::string& fileName);

// Replaces fileName (through its links) with bytes. beforeReplace, when
// given, runs once the bytes are safe on the disk and before the old file
// is replaced; what it throws stops the replace. False, with fileName as it
// was and no temporary file left behind, when the file cannot be written.
bool ReplaceFile(const std::string& fileName, const std::string& bytes,
    const std::function<void()>& beforeReplace = nullptr);

// Makes target a regular file holding what source holds now, replacing any
// earlier target only once the copy is complete: a hard link where the file
// system has them, a copy of the bytes where it has not. False, with target
// as it was and no temporary file left behind, on any failure.
bool ReplaceWithCopy(const std::string& source, const std::string& target);

} // namespace sw
