#pragma once

#include <atomic>
#include <csignal>
#include <thread>

// Ctrl-C, and the SIGTERM and SIGHUP of a shutdown or a closed terminal, for
// the length of a batch. The signals are blocked in the constructing thread
// and so in every thread started after it; a thread of this object's own
// takes them with sigwait, so the stop request runs as ordinary code and at
// once, not from a signal handler or at the next poll. The first of them says
// on standard error that the batch stops after the current file and makes
// WakeFd readable (a question waiting on the terminal returns); a second ends
// the process at once with the status the shell reports for the first. One
// object at a time.
class StopSignal
{
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // True once the first signal has arrived.
    bool requested() const { return m_nFirst != 0; }
    // Readable once the first signal has arrived.
    int wakeFd() const { return m_wake[0]; }
    // 128 + the first signal's number, as shells report a process it ended
    // (130 for Ctrl-C, 143 for SIGTERM, 129 for SIGHUP); 0 before one.
    int exitStatus() const { return requested() ? 128 + m_nFirst : 0; }

private:
    void takeSignals();

    std::atomic<int> m_nFirst = 0;
    std::atomic<bool> m_bClosing = false;
    int m_wake[2] = {-1, -1};
    sigset_t m_previousMask;
    std::thread m_taker;
};
