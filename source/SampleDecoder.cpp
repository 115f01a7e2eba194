#include "SampleDecoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

bool SampleDecoder::Reads(const WavFormat& format)
{
    const uint16_t nBits = format.nBitsPerSample;
    if (format.nChannels == 0)
        return false;
    if (format.nFormatTag == WavFormat::kFloat)
        return nBits == 32 || nBits == 64;
    return format.nFormatTag == WavFormat::kPcm &&
           (nBits == 8 || nBits == 16 || nBits == 24 || nBits == 32);
}

SampleDecoder::SampleDecoder(const WavFormat& format)
    : m_bFloat(format.IsFloat()), m_nChannels(format.nChannels),
      m_nSampleBytes(format.nBitsPerSample / 8u),
      m_fScale(m_bFloat ? 1.0f : std::ldexp(1.0f, 1 - format.nBitsPerSample))
{
}

double SampleDecoder::Raw(const uint8_t* p, bool bFloat, std::size_t nBytes)
{
    uint64_t n = 0;
    for (std::size_t i = nBytes; i-- > 0;)
        n = n << 8 | p[i];
    if (bFloat)
        return nBytes == 4 ? std::bit_cast<float>(static_cast<uint32_t>(n))
                           : std::bit_cast<double>(n);
    if (nBytes == 1)
        return p[0] - 128.0;
    // The sign bit moved to the top, then shifted back arithmetically.
    const auto nShift = static_cast<int>(64 - 8 * nBytes);
    return static_cast<double>(static_cast<int64_t>(n << nShift) >> nShift);
}

float SampleDecoder::Sample(const uint8_t* p) const
{
    const auto f = static_cast<float>(Raw(p, m_bFloat, m_nSampleBytes)) * m_fScale;
    return std::isfinite(f) ? f : 0.0f;
}

std::size_t SampleDecoder::Decode(std::span<const uint8_t> bytes, std::span<float> out) const
{
    const std::size_t nFrames = std::min(bytes.size() / FrameBytes(), out.size() / m_nChannels);
    const std::size_t nSamples = nFrames * m_nChannels;
    for (std::size_t i = 0; i < nSamples; ++i)
        out[i] = Sample(&bytes[i * m_nSampleBytes]);
    return nFrames;
}

std::size_t SampleDecoder::DecodeMixed(std::span<const uint8_t> bytes, uint16_t nOutChannels,
                                       std::span<float> out) const
{
    const std::size_t nFrames = std::min(bytes.size() / FrameBytes(), out.size() / nOutChannels);
    // Each input channel's output, and the weight that makes each output a mean.
    std::vector<float> weights(nOutChannels);
    for (uint16_t k = 0; k < m_nChannels; ++k)
        weights[k % nOutChannels] += 1.0f;
    for (float& w : weights)
        w = w > 0 ? 1.0f / w : 0.0f;
    for (std::size_t frame = 0; frame < nFrames; ++frame)
    {
        const uint8_t* p = &bytes[frame * FrameBytes()];
        float* mixed = &out[frame * nOutChannels];
        std::fill(mixed, mixed + nOutChannels, 0.0f);
        for (uint16_t k = 0; k < m_nChannels; ++k)
            mixed[k % nOutChannels] += weights[k % nOutChannels] * Sample(p + k * m_nSampleBytes);
        // Fewer channels than the output takes: the missing ones repeat the
        // ones there are, as mono goes to both sides.
        for (uint16_t j = m_nChannels; j < nOutChannels; ++j)
            mixed[j] = mixed[j % m_nChannels];
    }
    return nFrames;
}
