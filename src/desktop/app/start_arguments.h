#pragma once

// What the desktop program was started with, read before any window (or
// display) exists, so that --help and --version work without one.

#include <string>
#include <vector>

namespace sw {

struct TStartRequest {
    enum class TKind { Open, Help, Version };
    TKind Kind = TKind::Open;
    // The files to open, in the order given; "--" ends the options, so a
    // file whose name starts with "-" can follow it.
    std::vector<std::string> Files;
};

// arguments as main receives them, without the program's own name.
// Anything but --help, -h and --version is left to the caller: Qt's own
// options and the files.
TStartRequest ReadStartArguments(const std::vector<std::string>& arguments);

// What --help prints; --version prints VersionText.
std::string StartUsageText();
std::string VersionText();

} // namespace sw
