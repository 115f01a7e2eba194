#include "StopSignal.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace
{
sigset_t interruptOnly()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    return set;
}
} // namespace

StopSignal::StopSignal(std::function<void()> onFirst) : m_onFirst(std::move(onFirst))
{
    if (pipe2(m_wake, O_CLOEXEC) != 0)
        m_wake[0] = m_wake[1] = -1;
    const sigset_t interrupt = interruptOnly();
    pthread_sigmask(SIG_BLOCK, &interrupt, &m_previousMask);
    m_taker = std::thread(&StopSignal::takeSignals, this);
}

StopSignal::~StopSignal()
{
    // Wake the taker with a signal of its own; a Ctrl-C now changes nothing.
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
    const sigset_t interrupt = interruptOnly();
    for (int nSignal = 0; sigwait(&interrupt, &nSignal) == 0 && !m_bClosing;)
    {
        // A copy being made has no name (or a temporary one) until it is
        // complete, so ending here leaves nothing partial under a final name.
        if (m_bRequested.exchange(true))
            _exit(kExitStatus);
        m_onFirst();
        [[maybe_unused]] const auto nWritten = write(m_wake[1], "!", 1);
    }
}
