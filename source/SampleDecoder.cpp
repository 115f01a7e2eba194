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

namespace
{
// Every sample of bytes through read, at nStep bytes apart: one loop per
// encoding, so that the compiler sees each one's few instructions.
template <typename Read>
void DecodeEach(const uint8_t* p, std::size_t nSamples, std::size_t nStep, float* out, Read read)
{
    for (std::size_t i = 0; i < nSamples; ++i, p += nStep)
        out[i] = read(p);
}

float Finite(float f)
{
    return std::isfinite(f) ? f : 0.0f;
}
} // namespace

std::size_t SampleDecoder::Decode(std::span<const uint8_t> bytes, std::span<float> out) const
{
    const std::size_t nFrames = std::min(bytes.size() / FrameBytes(), out.size() / m_nChannels);
    const std::size_t n = nFrames * m_nChannels;
    const float fScale = m_fScale;
    const auto integer = [fScale](int32_t nValue) { return static_cast<float>(nValue) * fScale; };
    const uint8_t* p = bytes.data();
    float* o = out.data();
    if (m_bFloat && m_nSampleBytes == 4)
        DecodeEach(p, n, 4, o,
                   [](const uint8_t* q)
                   {
                       return Finite(std::bit_cast<float>(static_cast<uint32_t>(
                           q[0] | q[1] << 8 | q[2] << 16 | static_cast<uint32_t>(q[3]) << 24)));
                   });
    else if (m_bFloat)
        DecodeEach(p, n, 8, o,
                   [](const uint8_t* q)
                   { return Finite(static_cast<float>(SampleDecoder::Raw(q, true, 8))); });
    else if (m_nSampleBytes == 1)
        DecodeEach(p, n, 1, o, [&](const uint8_t* q) { return integer(q[0] - 128); });
    else if (m_nSampleBytes == 2)
        DecodeEach(p, n, 2, o,
                   [&](const uint8_t* q)
                   { return integer(static_cast<int16_t>(q[0] | q[1] << 8)); });
    else if (m_nSampleBytes == 3)
        // The sign bit moved to the top, then shifted back arithmetically.
        DecodeEach(p, n, 3, o,
                   [&](const uint8_t* q)
                   {
                       return integer(static_cast<int32_t>(static_cast<uint32_t>(q[0]) << 8 |
                                                           static_cast<uint32_t>(q[1]) << 16 |
                                                           static_cast<uint32_t>(q[2]) << 24) >>
                                      8);
                   });
    else
        DecodeEach(p, n, 4, o,
                   [&](const uint8_t* q)
                   {
                       return integer(static_cast<int32_t>(q[0] | q[1] << 8 | q[2] << 16 |
                                                           static_cast<uint32_t>(q[3]) << 24));
                   });
    return nFrames;
}

std::size_t SampleDecoder::DecodeMixed(std::span<const uint8_t> bytes, uint16_t nOutChannels,
                                       std::span<float> out) const
{
    const std::size_t nFrames = std::min(bytes.size() / FrameBytes(), out.size() / nOutChannels);
    std::vector<float> decoded(nFrames * m_nChannels);
    Decode(bytes, decoded);
    // The weight that makes each output channel the mean of its inputs.
    std::vector<float> weights(nOutChannels);
    for (uint16_t k = 0; k < m_nChannels; ++k)
        weights[k % nOutChannels] += 1.0f;
    for (float& w : weights)
        w = w > 0 ? 1.0f / w : 0.0f;
    for (std::size_t frame = 0; frame < nFrames; ++frame)
    {
        const float* in = &decoded[frame * m_nChannels];
        float* mixed = &out[frame * nOutChannels];
        std::fill(mixed, mixed + nOutChannels, 0.0f);
        for (uint16_t k = 0; k < m_nChannels; ++k)
            mixed[k % nOutChannels] += weights[k % nOutChannels] * in[k];
        // Fewer channels than the output takes: the missing ones repeat the
        // ones there are, as mono goes to both sides.
        for (uint16_t j = m_nChannels; j < nOutChannels; ++j)
            mixed[j] = mixed[j % m_nChannels];
    }
    return nFrames;
}
