#pragma once

#include <atomic>
#include <csignal>
#include <functional>
#include <thread>

// Ctrl-C for the length of a batch. SIGINT is blocked in the constructing
// thread and so in every thread started after it; a thread of this object's
// own takes it with sigwait, so the stop request runs as ordinary code and at
// once, not from a signal handler or at the next poll. The first SIGINT calls
// onFirst and makes WakeFd readable (a question waiting on the terminal
// returns); the second ends the process at once with status 130. One object
// at a time.
class StopSignal
{
public:
    explicit StopSignal(std::function<void()> onFirst);
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // True once the first SIGINT has arrived.
    bool requested() const { return m_bRequested; }
    // Readable once the first SIGINT has arrived.
    int wakeFd() const { return m_wake[0]; }

    static constexpr int kExitStatus = 130; // 128 + SIGINT, as shells report it

private:
    void takeSignals();

    std::function<void()> m_onFirst;
    std::atomic<bool> m_bRequested = false;
    std::atomic<bool> m_bClosing = false;
    int m_wake[2] = {-1, -1};
    sigset_t m_previousMask;
    std::thread m_taker;
};
