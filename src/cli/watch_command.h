#pragma once

// generate --watch: the projects are generated once, then again whenever a
// project file or its picture changes. Runs keep files whose bytes did not
// change, so only cells whose pixels changed get new files.

#include "cli/generate_command.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace sw::cli {

class TProjectWatch {
public:
    TProjectWatch(std::vector<GenerateOptions> runs, std::FILE* out, std::FILE* err, std::FILE* progress);

    // Generates every project; a failure is printed as "PROJECT: message."
    // and the others go on. 0 when all were generated, else 1.
    int RunAll();
    // Generates the projects that read any of changed (names as
    // WatchedFiles gives them); the project file is read again. A changed
    // picture is read only once it has stopped changing for the settle
    // time and reads whole (a file closed half-written is waited for).
    int Regenerate(const std::set<std::string>& changed);
    void SetSettleTime(std::chrono::milliseconds settle) { m_settle = settle; }
    // The project files and their pictures, absolute and normalised.
    std::set<std::string> WatchedFiles() const;

private:
    struct TWatched {
        GenerateOptions Options;
        std::string Project;
        std::string Picture; // empty while the project cannot be read
    };
    int Generate(TWatched& watched);
    void AwaitWholePicture(const std::string& picture) const;

    std::vector<TWatched> m_watched;
    std::FILE* m_out;
    std::FILE* m_err;
    std::FILE* m_progress;
    std::chrono::milliseconds m_settle { 300 };
};

// Runs once, then watches the folders of the watched files (editors save
// by writing a new file and renaming it) and regenerates after quiet
// passed without a further change. Ends on SIGINT, SIGTERM or SIGHUP, or
// when stop is set, with 0; fails (sw::Exception) only when the folders
// cannot be watched.
int WatchProjects(TProjectWatch& watch, std::chrono::milliseconds quiet, const std::atomic<bool>& stop);

} // namespace sw::cli
