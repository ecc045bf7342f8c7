#pragma once

// Checks a run makes before it writes anything: that none of its files
// would replace another of them, the picture it cuts or the project file.

#include <string>
#include <vector>

namespace sw {

// A file the run would write, and what it is, for messages ("the page",
// "cell R1C2's image").
struct TRunFile {
    std::string FileName;
    std::string What;
};

// Fails with EFCreateError "Cannot create file NAME (...)" when a file of
// files is the picture's or the project's file (compared as files, so
// another spelling of a folder or a link is caught), or when two of files
// are one name in one folder. Empty picture or project names are not
// compared.
void RefuseNameCollisions(const std::vector<TRunFile>& files, const std::string& pictureFileName,
    const std::string& projectFileName);

} // namespace sw
