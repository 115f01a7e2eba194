#include "AudioProbe.h"

#include "SampleDecoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

namespace
{
using Encoding = AudioProbe::Encoding;

// Each reading is priced on at most this many samples, in runs of kRunFrames
// frames spread evenly over the bytes: a probe then costs about the same at
// any size, and every reading is priced over the same stretch of recording.
constexpr std::size_t kSamplesPerReading = std::size_t{1} << 15;
constexpr std::size_t kRunFrames = 64;
// What a Gaussian miss costs beyond log2 of its spread in steps: 0.5 log2(2 pi e).
constexpr double kGaussianBits = 2.047;
// Float audio lies within 48 dB over full scale; values under 240 dB below it
// are the garbage that integer bytes give when read as floats, and real float
// audio holds few of them.
constexpr double kFloatCeiling = 256.0;
constexpr double kFloatFloor = 0x1p-40;
constexpr double kMaxTinyShare = 0.01;
// Frames that copy each other change within a group by less than this share
// of what they change across groups; real audio changes alike everywhere.
constexpr double kMaxCopyShare = 0.25;
// Bytes below a wider sample's top ones vary at random over their whole range:
// a channel whose misses exceed its spread (white noise gives twice it) and
// whose spread passes this share of the range (uniform bytes give 0.29) is such bytes, not audio,
// which keeps well inside its range.
constexpr double kMinGarbageMiss = 1.5;
constexpr double kMinGarbageSpread = 0.2;

std::size_t BytesPerSample(Encoding encoding)
{
    return AudioProbe::BitsPerSample(encoding) / 8u;
}

// One sample, and the bits whose trailing zeros tell how much of the encoding's
// resolution it uses: the integer itself, or a float's significand.
struct Sample
{
    double dValue;
    uint64_t nResolution;
};

Sample Decode(Encoding encoding, const uint8_t* p)
{
    const bool bFloat = AudioProbe::IsFloat(encoding);
    const double d = SampleDecoder::Raw(p, bFloat, BytesPerSample(encoding));
    if (encoding == Encoding::Float32)
    {
        const auto f = static_cast<float>(d);
        return {d, f == 0 ? 0 : (std::bit_cast<uint32_t>(f) & 0x7FFFFF) | 0x800000};
    }
    if (encoding == Encoding::Float64)
        return {d, d == 0 ? 0 : (std::bit_cast<uint64_t>(d) & 0xFFFFFFFFFFFFF) | 0x10000000000000};
    return {d, static_cast<uint64_t>(static_cast<int64_t>(d))};
}

// Integer bytes read as floats give NaNs, infinities, and magnitudes scattered
// over the whole exponent range; float audio does not.
bool LooksLikeFloatAudio(std::span<const uint8_t> bytes, Encoding encoding)
{
    const std::size_t nBytes = BytesPerSample(encoding), nSamples = bytes.size() / nBytes;
    std::size_t nTiny = 0;
    for (std::size_t i = 0; i < nSamples; ++i)
    {
        const double x = std::fabs(Decode(encoding, &bytes[i * nBytes]).dValue);
        if (!(x <= kFloatCeiling)) // NaN fails every comparison
            return false;
        nTiny += x > 0 && x < kFloatFloor;
    }
    return static_cast<double>(nTiny) <= kMaxTinyShare * static_cast<double>(nSamples);
}

// Walks the frames a reading is priced on, calling
// visit(frame, place of the frame in its run, channel, sample) for every
// sample: all frames when they hold no more than kSamplesPerReading samples,
// else runs of kRunFrames frames spread evenly over the bytes.
template <typename Visit>
void VisitFrames(std::span<const uint8_t> bytes, Encoding encoding, std::size_t nChannels,
                 Visit visit)
{
    const std::size_t nSampleBytes = BytesPerSample(encoding);
    const std::size_t nFrames = bytes.size() / (nSampleBytes * nChannels);
    std::size_t nRuns = 1, nRunFrames = nFrames;
    if (nFrames * nChannels > kSamplesPerReading)
    {
        nRunFrames = kRunFrames;
        nRuns = std::max<std::size_t>(1, kSamplesPerReading / (nChannels * kRunFrames));
    }
    for (std::size_t run = 0; run < nRuns; ++run)
    {
        const std::size_t first = run * nFrames / nRuns; // runs fit: nFrames >= nRuns * nRunFrames
        for (std::size_t i = 0; i < nRunFrames; ++i)
            for (std::size_t k = 0; k < nChannels; ++k)
                visit(first + i, i, k,
                      Decode(encoding, &bytes[((first + i) * nChannels + k) * nSampleBytes]));
    }
}

// The sums of one channel of a reading. Values are taken relative to the
// channel's first one, so that a large offset does not swamp the spread.
struct ChannelSums
{
    double dReference = 0;
    double dCount = 0, dSum = 0, dSumSquares = 0;
    // Squared misses of two predictions: the previous sample, and the line
    // through the two previous ones.
    double dPrevious = 0, dLine = 0;
    uint64_t nResolution = 0; // every sample's resolution bits, or-ed
};

// The misses and spread of every channel over the frames priced.
std::vector<ChannelSums> SumChannels(std::span<const uint8_t> bytes, Encoding encoding,
                                     std::size_t nChannels)
{
    std::vector<ChannelSums> sums(nChannels);
    for (std::size_t k = 0; k < nChannels; ++k)
        sums[k].dReference = Decode(encoding, &bytes[k * BytesPerSample(encoding)]).dValue;
    std::vector<double> last(nChannels), beforeLast(nChannels);
    VisitFrames(bytes, encoding, nChannels,
                [&](std::size_t, std::size_t nInRun, std::size_t k, const Sample& sample)
                {
                    ChannelSums& s = sums[k];
                    const double x = sample.dValue - s.dReference;
                    const double dChange = x - last[k], dLastChange = last[k] - beforeLast[k];
                    if (nInRun >= 2)
                    {
                        s.dCount += 1;
                        s.dSum += x;
                        s.dSumSquares += x * x;
                        s.dPrevious += dChange * dChange;
                        s.dLine += (dChange - dLastChange) * (dChange - dLastChange);
                        s.nResolution |= sample.nResolution;
                    }
                    beforeLast[k] = last[k];
                    last[k] = x;
                });
    return sums;
}

// Whether the frames of a reading come in groups of near copies, as they do
// when the bytes hold a whole multiple of its channels and those copy each
// other: the changes from frame to frame within a group are then far smaller
// than those from one group to the next.
bool FramesComeInCopies(std::span<const uint8_t> bytes, Encoding encoding, uint16_t nChannels)
{
    struct Grouping
    {
        std::size_t nFrames;
        double dWithin = 0, dAcross = 0, dWithinCount = 0, dAcrossCount = 0;
    };
    std::vector<Grouping> groupings;
    for (uint16_t nWider : AudioProbe::kChannelCounts)
        if (nWider > nChannels && nWider % nChannels == 0)
            groupings.push_back({static_cast<std::size_t>(nWider / nChannels)});
    std::vector<double> last(nChannels);
    VisitFrames(bytes, encoding, nChannels,
                [&](std::size_t frame, std::size_t nInRun, std::size_t k, const Sample& sample)
                {
                    const double dChange = sample.dValue - last[k];
                    last[k] = sample.dValue;
                    if (nInRun == 0)
                        return;
                    for (Grouping& g : groupings)
                    {
                        const bool bAcross = frame % g.nFrames == 0;
                        (bAcross ? g.dAcross : g.dWithin) += dChange * dChange;
                        (bAcross ? g.dAcrossCount : g.dWithinCount) += 1;
                    }
                });
    return std::any_of(
        groupings.begin(), groupings.end(),
        [](const Grouping& g)
        { return g.dWithin / g.dWithinCount < kMaxCopyShare * g.dAcross / g.dAcrossCount; });
}

// The bits one sample of a channel costs: log2 of the misses' spread in steps
// of the resolution the channel uses, plus what coding a Gaussian takes.
// Trailing zeros every sample shares are not paid for, as when 16-bit audio
// was widened to 32 bits or a float holds fewer significant bits than it could.
double ChannelBits(const ChannelSums& s, Encoding encoding, double dMiss, double dVariance)
{
    if (dMiss <= 0 || dVariance <= 0)
        return 0; // a constant channel costs nothing
    const int nUnused = std::countr_zero(s.nResolution);
    double dLog2Spread = 0.5 * std::log2(dMiss) - nUnused;
    // A float keeps its significant bits at whatever level the signal has:
    // its misses count relative to the channel's spread.
    if (AudioProbe::IsFloat(encoding))
        dLog2Spread = 0.5 * std::log2(dMiss / dVariance) + std::bit_width(s.nResolution) - nUnused;
    return std::clamp(dLog2Spread + kGaussianBits, 0.0, 8.0 * BytesPerSample(encoding));
}

// What a channel of a reading holds, as far as telling a whole sample from its
// bytes goes.
enum class Content
{
    Constant, // one value throughout: an idle track, or bytes a narrower signal leaves zero
    Garbage,  // unpredictable and spread over the whole range: the low bytes of wider samples
    Signal,   // anything else
};

struct Priced
{
    AudioProbe::Reading reading;
    std::vector<Content> channels;
};

Priced Price(std::span<const uint8_t> bytes, Encoding encoding, uint16_t nChannels)
{
    const std::vector<ChannelSums> sums = SumChannels(bytes, encoding, nChannels);
    const double dRange = std::ldexp(1.0, AudioProbe::BitsPerSample(encoding));
    Priced priced;
    double dBits = 0, dMisses = 0, dSpread = 0;
    for (const ChannelSums& s : sums)
    {
        const double dMean = s.dSum / s.dCount;
        const double dVariance = std::max(0.0, s.dSumSquares / s.dCount - dMean * dMean);
        const double dMiss = std::min(s.dPrevious, s.dLine) / s.dCount;
        dMisses += dMiss;
        dSpread += dVariance;
        dBits += ChannelBits(s, encoding, dMiss, dVariance);
        priced.channels.push_back(
            dVariance <= 0 ? Content::Constant
            : !AudioProbe::IsFloat(encoding) && dMiss > kMinGarbageMiss * dVariance &&
                    dVariance > kMinGarbageSpread * kMinGarbageSpread * dRange * dRange
                ? Content::Garbage
                : Content::Signal);
    }
    const double dRatio =
        dSpread > 0 ? std::sqrt(dMisses / dSpread) : std::numeric_limits<double>::infinity();
    const double dFrameBytes = static_cast<double>(BytesPerSample(encoding) * nChannels);
    priced.reading = {encoding, nChannels, dBits / dFrameBytes, dRatio};
    return priced;
}

// Whether a reading cuts wider samples into their bytes: its channels come in
// groups whose last (the most significant bytes, little-endian) carries a
// signal while the others are constant or garbage, and at least one is
// garbage. Constant low parts alone leave it open: a 16-bit signal widened to
// 32 bits and a stereo take whose first channel is idle are the same bytes.
bool SplitsWiderSamples(const Priced& priced)
{
    const std::size_t nBytes = BytesPerSample(priced.reading.encoding);
    const std::size_t nChannels = priced.channels.size();
    for (std::size_t nParts = 2; nParts * nBytes <= 8; ++nParts)
    {
        if (nChannels % nParts != 0)
            continue;
        bool bSplit = true, bGarbage = false;
        for (std::size_t k = 0; k < nChannels && bSplit; ++k)
        {
            const Content content = priced.channels[k];
            bSplit = (k % nParts == nParts - 1) == (content == Content::Signal);
            bGarbage = bGarbage || content == Content::Garbage;
        }
        if (bSplit && bGarbage)
            return true;
    }
    return false;
}

// The bytes as blocks of nBlock bytes, each repeated nCopies times, as
// channels that copy each other lay them: the blocks once each. Nothing when
// some block is not an exact copy of the one before it.
std::optional<std::vector<uint8_t>> WithoutCopies(std::span<const uint8_t> bytes,
                                                  std::size_t nBlock, std::size_t nCopies)
{
    const std::size_t nGroups = bytes.size() / (nBlock * nCopies);
    std::vector<uint8_t> kept;
    for (std::size_t group = 0; group < nGroups; ++group)
    {
        const uint8_t* first = &bytes[group * nBlock * nCopies];
        for (std::size_t copy = 1; copy < nCopies; ++copy)
            if (!std::equal(first, first + nBlock, first + copy * nBlock))
                return std::nullopt;
    }
    kept.reserve(nGroups * nBlock);
    for (std::size_t group = 0; group < nGroups; ++group)
        kept.insert(kept.end(), &bytes[group * nBlock * nCopies],
                    &bytes[group * nBlock * nCopies] + nBlock);
    return kept;
}

// The sizes of a frame of every encoding at every count, smallest first.
std::vector<std::size_t> FrameSizes()
{
    std::vector<std::size_t> sizes;
    for (Encoding encoding : AudioProbe::kEncodings)
        for (uint16_t nChannels : AudioProbe::kChannelCounts)
            sizes.push_back(BytesPerSample(encoding) * nChannels);
    std::sort(sizes.begin(), sizes.end());
    sizes.erase(std::unique(sizes.begin(), sizes.end()), sizes.end());
    return sizes;
}
} // namespace

uint16_t AudioProbe::BitsPerSample(Encoding encoding)
{
    switch (encoding)
    {
    case Encoding::Unsigned8:
        return 8;
    case Encoding::Int16:
        return 16;
    case Encoding::Int24:
        return 24;
    case Encoding::Int32:
    case Encoding::Float32:
        return 32;
    case Encoding::Float64:
        return 64;
    }
    return 0;
}

bool AudioProbe::IsFloat(Encoding encoding)
{
    return encoding == Encoding::Float32 || encoding == Encoding::Float64;
}

AudioProbe::Result AudioProbe::Probe(std::span<const uint8_t> audio)
{
    Result result;
    const std::span<const uint8_t> bytes = audio.first(std::min(audio.size(), kMaxBytes));
    if (bytes.size() < kMinBytes)
        return result;
    // Channels that are exact copies of each other (dual-mono) make the bytes
    // come in repeated blocks, which read cheaper as fewer channels at a
    // multiple of the rate, and leave the low bytes of a split sample looking
    // predictable. A recorder copies channels; it does not repeat each sample:
    // the blocks are read once, and the count is theirs times the copies.
    static const std::vector<std::size_t> kFrameSizes = FrameSizes();
    for (std::size_t nBlock : kFrameSizes)
        for (std::size_t nCopies = 2; nBlock * nCopies <= kFrameSizes.back(); ++nCopies)
            if (const auto kept = WithoutCopies(bytes, nBlock, nCopies))
            {
                result = Probe(*kept);
                if (!result.encoding || nBlock % BytesPerSample(*result.encoding) != 0)
                    return Result{{}, {}, std::move(result.readings), 1};
                if (result.channels)
                    result.channels = static_cast<uint16_t>(*result.channels * nCopies);
                result.nCopies *= static_cast<uint16_t>(nCopies);
                return result;
            }
    for (Encoding encoding : kEncodings)
    {
        if (IsFloat(encoding) && !LooksLikeFloatAudio(bytes, encoding))
            continue;
        for (uint16_t nChannels : kChannelCounts)
            if (Priced priced = Price(bytes, encoding, nChannels); !SplitsWiderSamples(priced))
                result.readings.push_back(priced.reading);
    }
    std::stable_sort(result.readings.begin(), result.readings.end(),
                     [](const Reading& a, const Reading& b)
                     { return a.dBitsPerByte < b.dBitsPerByte; });

    const Reading& best = result.readings.front();
    if (!(best.dResidualRatio <= kMaxResidualRatio))
        return result;
    const double dMargin = kMarginBits / static_cast<double>(BytesPerSample(best.encoding));
    bool bSameEncoding = true, bSameChannels = true;
    for (const Reading& other : result.readings)
    {
        const bool bSameEncodingAsBest = other.encoding == best.encoding;
        if (other.dBitsPerByte <= best.dBitsPerByte + dMargin)
        {
            bSameEncoding = bSameEncoding && bSameEncodingAsBest;
            // A multiple of the count reads each channel at a fraction of
            // its rate, which costs little more where the signal is smooth;
            // it says nothing against the count.
            bSameChannels =
                bSameChannels && (other.nChannels == best.nChannels ||
                                  (bSameEncodingAsBest && other.nChannels % best.nChannels == 0));
        }
        // Fewer channels that still read as audio, at nearly the price: one
        // periodic signal whose period the wider reading takes for its channel
        // count, or channels that copy each other.
        if (bSameEncodingAsBest && other.nChannels < best.nChannels &&
            best.nChannels % other.nChannels == 0 &&
            other.dResidualRatio <= kMaxMixedChannelsRatio &&
            other.dBitsPerByte <= best.dBitsPerByte + kMixedChannelsBits * dMargin / kMarginBits)
            bSameChannels = false;
    }
    if (!bSameEncoding)
        return result;
    result.encoding = best.encoding;
    if (bSameChannels && !FramesComeInCopies(bytes, best.encoding, best.nChannels))
        result.channels = best.nChannels;
    return result;
}
