#pragma once

#include "WavFormat.h"

#include <cstddef>
#include <cstdint>
#include <span>

// The one reader of interleaved little-endian samples laid out as a WavFormat
// states them: integer PCM at 8 (offset binary), 16, 24 or 32 bits and IEEE
// float at 32 or 64 bits, at any channel count. Everything that turns audio
// bytes into levels, a waveform or sound goes through it, so that a take is
// seen and heard exactly as the chosen format reads it: a wrong choice looks
// and sounds wrong.
//
// Integers come out as n / 2^(bits-1), so in -1 .. 1 - 2^(1-bits) (8-bit
// samples first lose their offset of 128); floats come out as they stand,
// so overs above full scale stay above 1. A float that is not finite (integer
// bytes read as float give such) comes out as 0.
class SampleDecoder
{
public:
    // Whether the format is one this reads: a tag of kPcm at 8, 16, 24 or 32
    // bits, or kFloat at 32 or 64, with at least one channel.
    static bool Reads(const WavFormat& format);

    // The format must be one Reads accepts.
    explicit SampleDecoder(const WavFormat& format);

    uint16_t Channels() const { return m_nChannels; }
    std::size_t FrameBytes() const { return m_nSampleBytes * m_nChannels; }

    // The whole frames in bytes that out can hold, decoded into out
    // interleaved as they stand (Channels() values a frame). Bytes of a
    // partial last frame are left alone. Returns the frames decoded.
    std::size_t Decode(std::span<const uint8_t> bytes, std::span<float> out) const;

    // The same frames brought down (or up) to nOutChannels, 1 or 2, as an
    // output device takes them. Output channel j is the mean of the input
    // channels k with k % nOutChannels == j: mono to stereo puts the one
    // channel on both sides, stereo to mono averages the two, and 5.1 or
    // 8 channels to stereo give the odd channels to the left and the even
    // ones to the right. A mean keeps a full-scale sample at full scale and
    // never clips: the levels are kept, never summed over the top.
    // Returns the frames decoded.
    std::size_t DecodeMixed(std::span<const uint8_t> bytes, uint16_t nOutChannels,
                            std::span<float> out) const;

    // One sample at p of nBytes, as it stands: an integer's value (an 8-bit
    // one without its offset, so -128 .. 127), or a float's, not-finite ones
    // included. For code that weighs the numbers themselves (AudioProbe).
    static double Raw(const uint8_t* p, bool bFloat, std::size_t nBytes);

private:
    bool m_bFloat;
    uint16_t m_nChannels;
    std::size_t m_nSampleBytes;
    float m_fScale; // what a raw integer is multiplied by to come within -1 .. 1
};
