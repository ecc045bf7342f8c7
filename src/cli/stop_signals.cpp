#include "cli/stop_signals.h"

#include "core/base/errors.h"

#include <atomic>
#include <cstring>

namespace sw::cli {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;
constexpr int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP };
std::atomic<bool> g_stopSignalsInstalled { false };

extern "C" void NoteStopSignal(int signal)
{
    g_stopSignal = signal;
}

} // namespace

TStopSignals::TStopSignals()
{
    if (g_stopSignalsInstalled.exchange(true))
        return;
    m_outermost = true;
    g_stopSignal = 0;
    struct sigaction note { };
    note.sa_handler = NoteStopSignal;
    note.sa_flags = SA_RESETHAND;
    sigemptyset(&note.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) {
        m_installed[i] = ::sigaction(kStopSignals[i], nullptr, &m_previous[i]) == 0
            && m_previous[i].sa_handler != SIG_IGN && ::sigaction(kStopSignals[i], &note, nullptr) == 0;
    }
}

TStopSignals::~TStopSignals()
{
    if (!m_outermost)
        return;
    for (int i = 0; i < kSignalCount; ++i)
        if (m_installed[i])
            ::sigaction(kStopSignals[i], &m_previous[i], nullptr);
    g_stopSignalsInstalled = false;
}

bool TStopSignals::Stopped()
{
    return g_stopSignal != 0;
}

int TStopSignals::Signal()
{
    return g_stopSignal;
}

void TStopSignals::ThrowIfStopped()
{
    if (const int signal = g_stopSignal)
        throw EAbort(WithDetail("Stopped by a signal", ::strsignal(signal)));
}

} // namespace sw::cli
