#pragma once

#include <csignal>

namespace sw::cli {

// Ctrl-C or a plain kill ends the run at its next piece, which then removes
// what it wrote instead of leaving strips and temporary files behind; a
// second one ends the program at once. A signal the caller ignores (nohup)
// stays ignored. Only the outermost holder installs the handlers, so the
// projects of a batch, run on several threads, share the first one's.
class TStopSignals {
public:
    TStopSignals();
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;
    static bool Stopped();
    // The signal that came, or 0.
    static int Signal();
    // EAbort "Stopped by a signal (NAME)" once a signal came.
    static void ThrowIfStopped();

private:
    static constexpr int kSignalCount = 3;
    struct sigaction m_previous[kSignalCount] { };
    bool m_installed[kSignalCount] {};
    bool m_outermost = false;
};

} // namespace sw::cli
