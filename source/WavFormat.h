#pragma once

#include <cstdint>

// The format a PCM fmt chunk states: integer PCM or IEEE float, the channels,
// the rate and the bits of one sample. Block align and bytes per second follow.
struct WavFormat
{
    static constexpr uint16_t kPcm = 1;
    static constexpr uint16_t kFloat = 3;
    static constexpr uint16_t kExtensible = 0xFFFE;

    uint16_t nFormatTag = kPcm; // kPcm or kFloat
    uint16_t nChannels = 1;
    uint32_t nSampleRate = 48000;
    uint16_t nBitsPerSample = 24;

    uint16_t BlockAlign() const
    {
        return static_cast<uint16_t>(nChannels * ((nBitsPerSample + 7) / 8));
    }
    uint32_t BytesPerSecond() const { return nSampleRate * BlockAlign(); }
    bool IsFloat() const { return nFormatTag == kFloat; }
    bool operator==(const WavFormat&) const = default;
};
