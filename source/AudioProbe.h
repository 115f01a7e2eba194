#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Tells from the first bytes of a data chunk alone how its samples are encoded
// and how many channels they interleave, or says that it cannot tell.
//
// Every reading of the bytes (one encoding at one channel count) is priced at
// the bits per byte a simple lossless coder would spend on the samples it
// gives: each sample is predicted from the two before it in its channel (the
// previous one, or the line through both, whichever misses less), and the
// misses are coded at their spread. Real audio read the right way is
// predictable and cheap. Read a wrong way, neighbouring values come from
// different bytes, channels or instants, and cost about what the raw bytes do.
// The probe answers unsure rather than guess; the constants below say when.
class AudioProbe
{
public:
    enum class Encoding : uint8_t
    {
        Unsigned8, // offset binary, as WAV stores 8-bit samples
        Int16,
        Int24,
        Int32,
        Float32, // IEEE 754, as every encoding here little-endian
        Float64,
    };
    static constexpr std::array kEncodings = {Encoding::Unsigned8, Encoding::Int16,
                                              Encoding::Int24,     Encoding::Int32,
                                              Encoding::Float32,   Encoding::Float64};
    static constexpr std::array<uint16_t, 13> kChannelCounts = {1, 2,  3,  4,  5,  6, 7,
                                                                8, 12, 16, 24, 32, 64};

    // The caller reads at most this many bytes from the start of the data
    // chunk; bytes past it are ignored.
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 20;
    // Below this, the widest reading has too few frames to price: no reading
    // is priced and nothing is settled.
    static constexpr std::size_t kMinBytes = std::size_t{32} << 10;

    // A field is settled only when the cheapest reading predicts its samples
    // with misses no wider than this share of their spread (white noise gives
    // about 1.4; a constant signal has no spread and settles nothing) ...
    static constexpr double kMaxResidualRatio = 0.5;
    // ... and every other reading priced within this many bits per sample of
    // the cheapest one agrees with it on that field.
    static constexpr double kMarginBits = 0.5;
    // A channel count is settled only when every reading of the same encoding
    // with a count that divides it mixes channels that do not continue each
    // other, and so predicts worse than this; and when the frames of the
    // cheapest reading do not come in groups of near copies. A sustained tone
    // whose period is a channel count, or channels that copy each other, leave
    // it unsure.
    static constexpr double kMaxMixedChannelsRatio = 1.0;
    // ... unless such a reading costs this many bits per sample more than the
    // cheapest: channels that differ enough for that do not copy each other.
    static constexpr double kMixedChannelsBits = 2.0;

    struct Reading
    {
        Encoding encoding;
        uint16_t nChannels;
        double dBitsPerByte;   // the price; lower is more predictable
        double dResidualRatio; // spread of the misses over spread of the samples
    };
    struct Result
    {
        std::optional<Encoding> encoding; // set only when settled
        std::optional<uint16_t> channels; // set only when settled
        // Every reading priced, cheapest first; none under kMinBytes. Float
        // readings whose values are not finite or not of the size of audio are
        // left out, and so are readings that cut wider samples into their
        // bytes: a signal in the top ones, garbage or nothing below.
        std::vector<Reading> readings;
        // The channels come in groups of this many exact copies (2: dual-mono):
        // the readings price each group once, and a settled count counts the
        // copies.
        uint16_t nCopies = 1;
    };

    // Reads at most kMaxBytes; the bytes start at a frame boundary.
    static Result Probe(std::span<const uint8_t> audio);

    static uint16_t BitsPerSample(Encoding encoding);
    static bool IsFloat(Encoding encoding);
};
