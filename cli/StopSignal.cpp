#include "StopSignal.h"

#include <fcntl.h>
#include <pthread.h>
#include <string>
#include <unistd.h>

namespace
{
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int nSignal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, nSignal);
    return set;
}
} // namespace

StopSignal::StopSignal()
{
    if (pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    const sigset_t stops = stopSignals();
    pthread_sigmask(SIG_BLOCK, &stops, &m_previousMask);
    m_taker = std::thread(&StopSignal::takeSignals, this);
}

StopSignal::~StopSignal()
{
    // Wake the taker with a signal of its own; a signal now changes nothing.
    m_bClosing = true;
    pthread_kill(m_taker.native_handle(), SIGINT);
    m_taker.join();
    pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    for (const int fd : m_wake)
        if (fd >= 0)
            close(fd);
}

void StopSignal::takeSignals()
{
    const sigset_t stops = stopSignals();
    for (int nSignal = 0; sigwait(&stops, &nSignal) == 0 && !m_bClosing;)
    {
        // A copy being made has no name (or a temporary one) until it is
        // complete, so ending here leaves nothing partial under a final name.
        if (int nFirst = 0; !m_nFirst.compare_exchange_strong(nFirst, nSignal))
            _exit(128 + nFirst);
        // Straight to the descriptor, in one write: std::cerr might wait
        // behind a writer of the batch.
        const std::string stopping =
            nSignal == SIGINT
                ? "korva-cli: stopping after the current file; Ctrl-C again ends at once\n"
                : std::string("korva-cli: ") + (nSignal == SIGTERM ? "told to end" : "hung up") +
                      ": stopping after the current file; a second signal ends at once\n";
        [[maybe_unused]] const auto nSaid = write(STDERR_FILENO, stopping.data(), stopping.size());
        [[maybe_unused]] const auto nWritten = write(m_wake[1], "!", 1);
    }
}
