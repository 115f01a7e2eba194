#pragma once

#include "WavFormat.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

// What one take holds under a format, as a person checks it before trusting a
// repair: its length, each channel's peak and RMS level, and the min/max
// envelope of the whole take for a waveform, each channel a lane. Plain
// values: the window paints them and korva-cli prints them or writes a PNG.
//
// Any take, ten seconds or 4 GiB, costs at most kReadBudget bytes of reads:
// audio that fits is read whole, and its levels are exact; longer audio is
// read in windows of whole frames spread evenly over it (bSampled), at least
// kWindows of them and one in every envelope column where the budget holds a
// frame for each, and each column takes what the windows inside it show (a
// column none reached, what the one before it shows).
struct TakeOverview
{
    static constexpr std::size_t kReadBudget = std::size_t{4} << 20; // 4 MiB
    static constexpr std::size_t kWindows = 1024;

    // The lowest and highest sample of one column of one channel, in -1 .. 1
    // (float overs beyond).
    struct Column
    {
        float fMin = 0;
        float fMax = 0;
    };
    struct Channel
    {
        // dBFS; -infinity for a channel of digital silence. Full scale (1.0)
        // is 0 dBFS, and the RMS of a full-scale sine is -3 dBFS, as sox's
        // stats gives it.
        double dPeakDb = 0;
        double dRmsDb = 0;
        std::vector<Column> envelope; // nColumns columns, first to last
    };

    uint64_t nFrames = 0;  // whole frames in the audio
    double dSeconds = 0;   // nFrames at the format's rate
    bool bSampled = false; // levels and envelope come from spread windows, not every frame
    uint64_t nBytesRead = 0;
    std::vector<Channel> channels; // one per channel of the format

    // No overview: a read failed or came up short, or cancel turned true.
    bool bFailed = false;
    int nError = 0; // the read's errno; 0 when the audio ended early (SystemErrorWords words it)
    bool bCancelled = false;

    // The overview of the nBytes of audio at nOffset of fd, read under format
    // (SampleDecoder::Reads must accept it) with nColumns envelope columns
    // (at least 1). Reads with pread and moves no file position, so any thread
    // may call it on its own descriptor. When cancel turns true it stops at
    // the next read and returns bCancelled set, nothing else. A read that
    // fails or ends early returns bFailed set and nError, nothing else.
    static TakeOverview Read(int fd, uint64_t nOffset, uint64_t nBytes, const WavFormat& format,
                             std::size_t nColumns, const std::atomic<bool>* cancel = nullptr);
    // The same on the file at path, opened read-only and without waiting (a
    // FIFO or a folder is refused with EINVAL): bFailed and nError say when it
    // cannot be opened.
    static TakeOverview Read(const std::filesystem::path& path, uint64_t nOffset, uint64_t nBytes,
                             const WavFormat& format, std::size_t nColumns,
                             const std::atomic<bool>* cancel = nullptr);
};
