#include "StopSignal.h"

#include <atomic>
#include <unistd.h>

namespace
{
std::atomic<int> g_nInterrupts = 0;
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs a lock-free counter");

extern "C" void OnInterrupt(int)
{
    // The copy being repaired carries a temporary name until it is complete,
    // so ending here leaves nothing partial under a final name.
    if (g_nInterrupts.fetch_add(1) > 0)
        _exit(StopSignal::kExitStatus);
}
} // namespace

StopSignal::StopSignal()
{
    g_nInterrupts = 0;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Restart interrupted reads and writes: the first Ctrl-C must not turn
    // into a failed write of a file or of the report.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &m_previous);
}

StopSignal::~StopSignal()
{
    sigaction(SIGINT, &m_previous, nullptr);
}

bool StopSignal::requested() const
{
    return g_nInterrupts > 0;
}
