#pragma once

// The output folder as runs share it: who may write there at once, how a
// run's files take their names together, and what an interrupted run left.
//
// Lock: an advisory lock (flock) on the folder itself, so no lock file is
// left among the user's files. A run that writes files under fixed names
// before its end (kept strips) holds it exclusively for the whole run; any
// other run holds it shared from start to end. Only a run that finds the
// folder free looks after what an earlier run left, since a run still
// working owns its temporary files.
//
// Journal: before its first rename a run writes the list of its renames to
// a hidden file of its own, ".slicewright-renames-PID-N" in the output
// folder, locked (flock) by the run while it renames and removed after the
// last rename. It is written whole under another name
// (".slicewright-writing-PID-N") and then renamed, so a journal under its
// own name is always complete. Its bytes: the line "Slicewright renames 1",
// then one record per rename: the temporary file's name (no folder: it lies
// beside its target), a NUL byte, the target (a bare name for the output
// folder, else a full path), a NUL byte. A journal nobody holds locked is a
// dead run's: the next run to publish, or the next to find the folder free,
// finishes the renames whose temporary file is still there, so an
// interrupted hand-over ends with every file of the interrupted run in
// place rather than a mix of two runs.

#include <functional>
#include <string>
#include <vector>

namespace sw {

// A finished temporary file and the name it takes.
struct TRename {
    std::string From;
    std::string To;
};

inline constexpr const char* kRenameJournalPrefix = ".slicewright-renames-";
inline constexpr const char* kJournalWritingPrefix = ".slicewright-writing-";
// Journals larger than this are not read: no run writes one.
inline constexpr size_t kMaxRenameJournalBytes = 64u << 20;

class TRunFolder {
public:
    // Locks folder ("" or ending in '/': as the run names it). Waits, after
    // telling log, while another run holds the lock in a way this run
    // cannot share. When no other run is at work, first completes an
    // interrupted run's renames and removes stale temporary files (see
    // RemoveStaleTemporaries), each told to log. A folder that cannot be
    // opened is left to fail on the run's first file. While it waits,
    // waiting (when given) is called every tenth of a second; what it
    // throws ends the wait and passes on, so a run can be stopped then.
    TRunFolder(std::string folder, bool exclusive, const std::function<void(const std::string&)>& log,
        const std::function<void()>& waiting = {});
    ~TRunFolder();
    TRunFolder(const TRunFolder&) = delete;
    TRunFolder& operator=(const TRunFolder&) = delete;

    // Dead runs' journals first, then this run's journal, then rename() for
    // each in order (done by the caller, as each file's owner knows how),
    // then the journal removed. A failure in rename() leaves the journal
    // for Abandon.
    void Publish(const std::vector<TRename>& renames, const std::function<void(size_t index)>& rename);
    // Removes this run's journal after a failed hand-over; never throws.
    void Abandon() noexcept;

private:
    void Lock(int operation, const std::function<void(const std::string&)>& log,
        const std::function<void()>& waiting);
    void WriteJournal(const std::vector<TRename>& renames);
    void DropJournal() noexcept;

    std::string m_folder;
    int m_fd = -1;
    int m_journalFd = -1; // locked while this run renames
    std::string m_journal;
};

// Finishes, for each journal in folder that no live run holds, the renames
// whose temporary file is still there, then removes the journal; records
// that do not name a temporary file beside its target are passed over.
// Returns how many renames it made. A journal that cannot be read fails
// with EFOpenError.
int CompleteRenameJournals(const std::string& folder);

// Removes the hidden temporary files a run makes (".NAME.tmpXXXXXX") in
// folder whose NAME ends in one of extensions (".gif", ...), compared
// without regard to ASCII case, and journals left half written; regular
// files only. Returns how many.
int RemoveStaleTemporaries(const std::string& folder, const std::vector<std::string>& extensions);

} // namespace sw
