#include "TakeStream.h"

#include "FileOutcome.h"
#include "RiffIO.h"

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace
{
// About a tenth of a second of CD audio per block, and some two seconds read
// ahead: enough that a slow disk is never heard, little enough for any take.
constexpr std::size_t kBlockFrames = 4096;
constexpr qint64 kMostAhead = 512 * 1024;
} // namespace

TakeStream::TakeStream(const korva::PlayRequest& request, const QAudioFormat& device)
    : m_request(request), m_device(device), m_decoder(request.format),
      m_nMixed(static_cast<uint16_t>(std::min(device.channelCount(), 2))),
      m_reader([this](const std::stop_token& stop) { readAhead(stop); })
{
}

TakeStream::~TakeStream()
{
    m_reader.request_stop();
    m_room.notify_all();
}

void TakeStream::readAhead(const std::stop_token& stop)
{
    const int fd = ::open(m_request.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const auto fail = [this](int nError)
    {
        const std::lock_guard lock(m_mutex);
        m_problem = korva::SystemErrorWords(nError);
        m_bRead = true;
    };
    if (fd < 0)
        return fail(errno);
    const std::size_t nFrameBytes = m_decoder.FrameBytes();
    std::vector<uint8_t> bytes(kBlockFrames * nFrameBytes);
    std::vector<float> samples(kBlockFrames * m_nMixed);
    uint64_t nAt = std::min(m_request.nFromFrame * nFrameBytes, m_request.nBytes);
    while (nAt < m_request.nBytes && !stop.stop_requested())
    {
        const std::size_t nWant =
            static_cast<std::size_t>(std::min<uint64_t>(bytes.size(), m_request.nBytes - nAt));
        if (!riff::ReadAt(fd, m_request.nOffset + nAt, bytes.data(), nWant))
        {
            fail(errno);
            break;
        }
        nAt += nWant;
        const std::size_t nFrames =
            m_decoder.DecodeMixed(std::span(bytes.data(), nWant), m_nMixed, samples);
        QByteArray block = converted(samples, nFrames);
        std::unique_lock lock(m_mutex);
        m_room.wait(lock, stop, [this] { return m_nReady < kMostAhead; });
        m_nReady += block.size();
        m_ready.push_back(std::move(block));
    }
    ::close(fd);
    const std::lock_guard lock(m_mutex);
    m_bRead = true;
}

QByteArray TakeStream::converted(std::span<const float> samples, std::size_t nFrames) const
{
    const int nDeviceChannels = m_device.channelCount();
    const int nBytes = m_device.bytesPerSample();
    QByteArray block(static_cast<qsizetype>(nFrames) * nDeviceChannels * nBytes, '\0');
    char* out = block.data();
    for (std::size_t frame = 0; frame < nFrames; ++frame)
        for (int channel = 0; channel < nDeviceChannels; ++channel, out += nBytes)
        {
            // Channels beyond the mix-down's are silent.
            const float f = channel < m_nMixed
                                ? std::clamp(samples[frame * m_nMixed + channel], -1.0F, 1.0F)
                                : 0.0F;
            // n / 2^(bits-1), as the decoder reads it, back again: the top of
            // full scale, one step short of 1, is clipped.
            const auto scaled = [f](double dFull)
            { return std::clamp(std::round(f * dFull), -dFull, dFull - 1); };
            switch (m_device.sampleFormat())
            {
            case QAudioFormat::UInt8:
                *out = static_cast<char>(static_cast<uint8_t>(128 + scaled(128)));
                break;
            case QAudioFormat::Int16:
                qToUnaligned(static_cast<qint16>(scaled(32768)), out);
                break;
            case QAudioFormat::Int32:
                qToUnaligned(static_cast<qint32>(scaled(2147483648.0)), out);
                break;
            default:
                qToUnaligned(f, out);
                break;
            }
        }
    return block;
}

qint64 TakeStream::bytesAvailable() const
{
    const std::lock_guard lock(m_mutex);
    return m_nReady + QIODevice::bytesAvailable();
}

bool TakeStream::finished() const
{
    const std::lock_guard lock(m_mutex);
    return m_bRead && m_ready.empty();
}

std::string TakeStream::problem() const
{
    const std::lock_guard lock(m_mutex);
    return m_problem;
}

qint64 TakeStream::readData(char* data, qint64 nMax)
{
    qint64 nCopied = 0;
    {
        const std::lock_guard lock(m_mutex);
        while (nCopied < nMax && !m_ready.empty())
        {
            const QByteArray& block = m_ready.front();
            const qint64 n = std::min<qint64>(nMax - nCopied, block.size() - m_nTaken);
            std::copy_n(block.constData() + m_nTaken, n, data + nCopied);
            nCopied += n;
            m_nTaken += n;
            m_nReady -= n;
            if (m_nTaken == block.size())
            {
                m_ready.pop_front();
                m_nTaken = 0;
            }
        }
    }
    m_room.notify_one();
    return nCopied;
}
