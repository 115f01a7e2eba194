#pragma once

#include <csignal>

// Ctrl-C for the length of a batch. The first SIGINT only raises a flag that
// the main thread polls (nothing else is safe inside a signal handler); the
// second ends the process at once with status 130. The previous handler comes
// back when the object goes. One object at a time.
class StopSignal
{
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    // True once the first SIGINT has arrived.
    bool requested() const;

    static constexpr int kExitStatus = 130; // 128 + SIGINT, as shells report it

private:
    struct sigaction m_previous;
};
