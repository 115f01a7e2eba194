#include "TakeOverview.h"

#include "RiffIO.h"
#include "SampleDecoder.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Audio read whole goes through a buffer of this size, so memory stays fixed
// and a cancel is seen between reads.
constexpr std::size_t kBlockBytes = std::size_t{256} << 10;

double Decibels(double dLevel)
{
    return dLevel > 0 ? 20.0 * std::log10(dLevel) : -std::numeric_limits<double>::infinity();
}

// What the frames read so far add up to, per channel.
class Levels
{
public:
    Levels(std::size_t nChannels, std::size_t nColumns, uint64_t nFrames)
        : m_nChannels(nChannels), m_nColumns(nColumns), m_starts(nColumns + 1), m_peak(nChannels),
          m_squares(nChannels),
          m_columns(nChannels * nColumns, {std::numeric_limits<float>::infinity(),
                                           -std::numeric_limits<float>::infinity()})
    {
        // In long doubles: frames times columns may pass 64 bits.
        for (std::size_t c = 0; c < nColumns; ++c)
            m_starts[c] = static_cast<uint64_t>(static_cast<long double>(c) * nFrames / nColumns);
        m_starts[nColumns] = std::numeric_limits<uint64_t>::max();
    }

    // Adds decoded frames whose first is frame nFirst of the take; frames come
    // in the take's order. Each stretch of frames within one column is summed
    // channel by channel, in registers.
    void Add(std::span<const float> samples, uint64_t nFirst)
    {
        const std::size_t nFrames = samples.size() / m_nChannels;
        for (std::size_t i = 0; i < nFrames;)
        {
            while (m_starts[m_nColumn + 1] <= nFirst + i)
                ++m_nColumn;
            const auto nEnd = static_cast<std::size_t>(
                std::min<uint64_t>(nFrames, m_starts[m_nColumn + 1] - nFirst));
            for (std::size_t k = 0; k < m_nChannels; ++k)
            {
                TakeOverview::Column& c = m_columns[k * m_nColumns + m_nColumn];
                float fMin = c.fMin, fMax = c.fMax;
                double dSquares = 0;
                for (std::size_t j = i; j < nEnd; ++j)
                {
                    const float f = samples[j * m_nChannels + k];
                    fMin = std::min(fMin, f);
                    fMax = std::max(fMax, f);
                    dSquares += static_cast<double>(f) * f;
                }
                c = {fMin, fMax};
                m_peak[k] =
                    std::max({m_peak[k], static_cast<double>(-fMin), static_cast<double>(fMax)});
                m_squares[k] += dSquares;
            }
            i = nEnd;
        }
        m_nCounted += nFrames;
    }

    std::vector<TakeOverview::Channel> Channels() const
    {
        std::vector<TakeOverview::Channel> channels(m_nChannels);
        for (std::size_t k = 0; k < m_nChannels; ++k)
        {
            TakeOverview::Channel& channel = channels[k];
            channel.dPeakDb = Decibels(m_peak[k]);
            channel.dRmsDb = Decibels(
                m_nCounted == 0 ? 0.0 : std::sqrt(m_squares[k] / static_cast<double>(m_nCounted)));
            channel.envelope.assign(m_columns.begin() + static_cast<std::ptrdiff_t>(k * m_nColumns),
                                    m_columns.begin() +
                                        static_cast<std::ptrdiff_t>((k + 1) * m_nColumns));
            FillUnreached(channel.envelope);
        }
        return channels;
    }

private:
    // Columns no frame read fell in (more columns than frames, or than
    // windows) take the column before them, the first the one after it;
    // silence when nothing was read at all.
    static void FillUnreached(std::vector<TakeOverview::Column>& envelope)
    {
        const auto reached = [](const TakeOverview::Column& c) { return c.fMin <= c.fMax; };
        const auto first = std::find_if(envelope.begin(), envelope.end(), reached);
        const TakeOverview::Column silence;
        TakeOverview::Column last = first == envelope.end() ? silence : *first;
        for (TakeOverview::Column& c : envelope)
            last = reached(c) ? c : (c = last);
    }

    std::size_t m_nChannels, m_nColumns;
    std::vector<uint64_t> m_starts; // each column's first frame, and past the last
    std::size_t m_nColumn = 0;      // the column the frames added last fell in
    uint64_t m_nCounted = 0;
    std::vector<double> m_peak, m_squares;
    std::vector<TakeOverview::Column> m_columns; // channel by channel
};

// No overview: a failed read's errno, or a cancel.
TakeOverview Stopped(bool bFailed, int nError)
{
    TakeOverview overview;
    overview.bFailed = bFailed;
    overview.nError = nError;
    overview.bCancelled = !bFailed;
    return overview;
}

// The stretches of frames read: all of them in blocks when they fit the
// budget, else windows spread evenly from the first frame to the last.
struct Window
{
    uint64_t nFirst;
    std::size_t nFrames;
};

std::vector<Window> WindowsOf(uint64_t nFrames, std::size_t nFrameBytes, std::size_t nColumns,
                              bool& bSampled)
{
    std::vector<Window> windows;
    bSampled = nFrames > TakeOverview::kReadBudget / nFrameBytes;
    if (!bSampled)
    {
        const std::size_t nBlockFrames = std::max<std::size_t>(1, kBlockBytes / nFrameBytes);
        for (uint64_t n = 0; n < nFrames; n += nBlockFrames)
            windows.push_back(
                {n, static_cast<std::size_t>(std::min<uint64_t>(nBlockFrames, nFrames - n))});
        return windows;
    }
    const std::size_t nWanted = std::max(TakeOverview::kWindows, nColumns);
    const std::size_t nWindowFrames =
        std::max<std::size_t>(1, TakeOverview::kReadBudget / nWanted / nFrameBytes);
    // Wide frames and many columns may hold fewer windows than columns.
    const auto nWindows = static_cast<std::size_t>(
        std::min<uint64_t>({nWanted, nFrames / nWindowFrames,
                            TakeOverview::kReadBudget / (nWindowFrames * nFrameBytes)}));
    // The first window starts at the first frame and the last ends at the last.
    const double dStep = static_cast<double>(nFrames - nWindowFrames) /
                         static_cast<double>(std::max<std::size_t>(1, nWindows - 1));
    for (std::size_t w = 0; w < nWindows; ++w)
        windows.push_back({static_cast<uint64_t>(static_cast<double>(w) * dStep), nWindowFrames});
    return windows;
}
} // namespace

TakeOverview TakeOverview::Read(int fd, uint64_t nOffset, uint64_t nBytes, const WavFormat& format,
                                std::size_t nColumns, const std::atomic<bool>* cancel)
{
    nColumns = std::max<std::size_t>(1, nColumns);
    const SampleDecoder decoder(format);
    const std::size_t nFrameBytes = decoder.FrameBytes();
    TakeOverview overview;
    overview.nFrames = nBytes / nFrameBytes;
    overview.dSeconds =
        format.nSampleRate == 0 ? 0.0 : static_cast<double>(overview.nFrames) / format.nSampleRate;
    Levels levels(format.nChannels, nColumns, overview.nFrames);
    const std::vector<Window> windows =
        WindowsOf(overview.nFrames, nFrameBytes, nColumns, overview.bSampled);
    // Every window is asked of the disk at once, so that a take not in the
    // cache costs one queue of reads rather than a thousand waits in a row.
    // (macOS has no such advice: there the reads wait in turn.)
#ifdef POSIX_FADV_WILLNEED
    for (const Window& window : windows)
        ::posix_fadvise(fd, static_cast<off_t>(nOffset + window.nFirst * nFrameBytes),
                        static_cast<off_t>(window.nFrames * nFrameBytes), POSIX_FADV_WILLNEED);
#endif
    std::vector<uint8_t> bytes;
    std::vector<float> samples;
    for (const Window& window : windows)
    {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed))
            return Stopped(false, 0);
        bytes.resize(window.nFrames * nFrameBytes);
        samples.resize(window.nFrames * format.nChannels);
        if (!riff::ReadAt(fd, nOffset + window.nFirst * nFrameBytes, bytes.data(), bytes.size()))
            return Stopped(true, errno);
        overview.nBytesRead += bytes.size();
        decoder.Decode(bytes, samples);
        levels.Add(samples, window.nFirst);
    }
    overview.channels = levels.Channels();
    return overview;
}

TakeOverview TakeOverview::Read(const std::filesystem::path& path, uint64_t nOffset,
                                uint64_t nBytes, const WavFormat& format, std::size_t nColumns,
                                const std::atomic<bool>* cancel)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return Stopped(true, errno);
    const auto close = [](const int* pFd) { ::close(*pFd); };
    const std::unique_ptr<const int, decltype(close)> closer(&fd, close);
    struct stat info = {};
    if (fstat(fd, &info) != 0)
        return Stopped(true, errno);
    if (!S_ISREG(info.st_mode))
        return Stopped(true, EINVAL);
    return Read(fd, nOffset, nBytes, format, nColumns, cancel);
}
