#include "TakeFinder.h"

#include "AudioProbe.h"
#include "ChunkReader.h"
#include "FileOutcome.h"
#include "FormatEvidence.h"
#include "RiffIO.h"
#include "RiffLayout.h"
#include "SampleDecoder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <string_view>
#include <unistd.h>

using Take = TakeFinder::Take;

namespace
{
// Recorders write whole sectors: a take that ends inside a cluster ends at one of these.
constexpr uint64_t kSectorSize = 512;
// The most a take's header is read for: the chunks in front of its audio.
constexpr uint64_t kHeadBytes = 16384;
// The frames in front of a boundary whose steps tell how much the take's
// samples moved just then.
constexpr std::size_t kLocalFrames = 32;
// The fewest frames a take must have for the next block's test: a recorder's
// header cluster leaves some tens of frames.
constexpr std::size_t kMinFrames = 8;
// The bytes of a headerless take's audio its format is told from.
constexpr std::size_t kHeadlessProbeBytes = std::size_t{128} << 10;
// The frames at a block's start whose steps are held against the take's.
constexpr std::size_t kInsideFrames = 64;
// What an octave between those steps weighs against a jump, where open
// takes contend for a block.
constexpr double kOctave = 4.0;
// The whole frames a take keeps of its end, for the next block's test.
constexpr std::size_t kTailFrames = kLocalFrames + 4;
// The frames a take's mean steps are taken over, the latest weighing most.
constexpr double kMemory = 1 << 20;

bool StartsTake(const uint8_t* p)
{
    return (std::memcmp(p, "RIFF", 4) == 0 || std::memcmp(p, "RF64", 4) == 0 ||
            std::memcmp(p, "BW64", 4) == 0) &&
           std::memcmp(p + 8, "WAVE", 4) == 0;
}

// The length of the bytes in front of a run of whole zero sectors to the end; all when none.
std::size_t BeforeZeroSectors(const std::vector<uint8_t>& bytes)
{
    std::size_t nEnd = bytes.size();
    while (nEnd > 0 && bytes[nEnd - 1] == 0)
        --nEnd;
    const std::size_t nZeroFrom = (nEnd + kSectorSize - 1) / kSectorSize * kSectorSize;
    return std::min(nZeroFrom, bytes.size());
}

// A checker's file for a chain no entry named: chkdsk's FILE0000.CHK (in
// FOUND.000), fsck.vfat's FSCK0000.REC, fsck.exfat's FILE0000000.CHK (in
// LOST+FOUND).
bool IsRecoveredChain(const std::string& path)
{
    std::string name = path.substr(path.rfind('/') + 1);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    // prefix, then nMin to nMax digits, then suffix
    const auto is = [&name](std::string_view prefix, std::size_t nMin, std::size_t nMax,
                            std::string_view suffix)
    {
        const std::size_t nDigits =
            name.size() - std::min(name.size(), prefix.size() + suffix.size());
        return name.starts_with(prefix) && name.ends_with(suffix) && nDigits >= nMin &&
               nDigits <= nMax &&
               std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                           name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                           [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    return is("FSCK", 4, 4, ".REC") || is("FILE", 4, 7, ".CHK");
}

// The fmt chunk's format: PCM or IEEE float, extensible ones by their sub-format.
bool ReadFormat(ChunkReader& reader, const RiffLayout::Entry& fmt, WavFormat& format)
{
    uint8_t body[26] = {};
    if (fmt.nSize < 16 ||
        !reader.Read(fmt.PayloadOffset(), body, std::min<uint64_t>(26, fmt.nSize)))
        return false;
    format.nFormatTag = riff::Get16(body, true);
    if (format.nFormatTag == WavFormat::kExtensible && fmt.nSize >= 26)
        format.nFormatTag = riff::Get16(body + 24, true);
    format.nChannels = riff::Get16(body + 2, true);
    format.nSampleRate = riff::Get32(body + 4, true);
    format.nBitsPerSample = riff::Get16(body + 14, true);
    const uint16_t nBits = format.nBitsPerSample;
    const bool bKnown =
        format.nFormatTag == WavFormat::kPcm
            ? nBits == 8 || nBits == 16 || nBits == 24 || nBits == 32
            : format.nFormatTag == WavFormat::kFloat && (nBits == 32 || nBits == 64);
    return bKnown && format.nChannels > 0 && format.nSampleRate > 0;
}
} // namespace

// One lost take while it is followed: the end of its audio, and how much
// its samples move from one frame to the next, channel by channel.
struct TakeFinder::Trail
{
    explicit Trail(Take& followed) : take(&followed), steps(followed.format.nChannels, 0.0) {}

    Take* take;
    uint64_t nChainEnd = 0; // the last cluster its entry's chain gave it
    uint64_t nRecorded = 0; // the bytes its entry gave it
    bool bLooksIntact = false;
    std::string cut; // why the last block absorbed was not taken whole
    bool bClosed = false;
    std::vector<uint8_t> tail; // from a frame's start to the take's end
    std::vector<double> steps; // the mean step of each channel over the whole take
    double dFrames = 0;        // the steps counted

    std::vector<uint8_t> frames; // the tail and the bytes of a block put behind it
    std::vector<float> values;   // their whole frames' samples, each decoded once

    std::size_t BlockAlign() const { return take->format.BlockAlign(); }
    bool Grew() const { return take->nLength > nRecorded; }

    // The tail and the first nBytes of the block from nFrom on, in frames and in values.
    void Join(const std::vector<uint8_t>& block, std::size_t nFrom, std::size_t nBytes)
    {
        frames = tail;
        frames.insert(frames.end(), block.begin() + static_cast<std::ptrdiff_t>(nFrom),
                      block.begin() + static_cast<std::ptrdiff_t>(nFrom + nBytes));
        values.resize(frames.size() / BlockAlign() * take->format.nChannels);
        SampleDecoder(take->format).Decode(frames, values);
    }

    // Channel c's sample in frame n of values.
    double X(std::size_t n, uint16_t c) const { return values[n * take->format.nChannels + c]; }

    // What a step of the take's samples is never held to be less than: half
    // the least step of an integer encoding, so that digital silence and a
    // quiet stretch are weighed alike.
    double Floor() const
    {
        const WavFormat& f = take->format;
        return f.IsFloat() ? 1e-7 : std::ldexp(0.5, 1 - f.nBitsPerSample);
    }

    // Where the take's line through frames t-2 and t-1 and the line through
    // frames t+1 and t+2 meet frame t (which a boundary may cut through): how
    // far apart they put its value and its slope, over the steps the take's
    // samples made just before (or over its whole, when it was quiet then);
    // the mean over the channels.
    double Jump(std::size_t t) const
    {
        const WavFormat& f = take->format;
        const double dFloor = Floor();
        double dSum = 0;
        for (uint16_t c = 0; c < f.nChannels; ++c)
        {
            const double a1 = X(t - 1, c), a2 = X(t - 2, c);
            const double b1 = X(t + 1, c), b2 = X(t + 2, c);
            const std::size_t nLocal = std::min(kLocalFrames, t - 2);
            double dStep = 0;
            for (std::size_t k = 1; k <= nLocal; ++k)
                dStep += std::fabs(X(t - k, c) - X(t - k - 1, c));
            const double dScale = std::max(dStep / static_cast<double>(nLocal), steps[c]) + dFloor;
            dSum += (std::fabs((2 * a1 - a2) - (2 * b1 - b2)) + std::fabs((a1 - a2) - (b2 - b1))) /
                    dScale;
        }
        return dSum / f.nChannels;
    }

    // The jump a block put behind the take makes; 0 when the take has too
    // few frames to tell.
    double Score(const std::vector<uint8_t>& block)
    {
        const std::size_t nAlign = BlockAlign(), t = tail.size() / nAlign;
        Join(block, 0, std::min(block.size(), 4 * nAlign));
        if (t < kMinFrames || (t + 3) * nAlign > frames.size())
            return 0;
        return Jump(t);
    }

    // How far the steps of the block's first frames, read as the take's, lie
    // from the steps its samples made just before, in octaves, the mean over
    // the channels; 0 when the take has too few frames to tell. Another
    // take's audio read in this one's frames mixes its channels and voices,
    // and moves by far more, or less, than this take's did.
    double Misfit(const std::vector<uint8_t>& block)
    {
        const WavFormat& f = take->format;
        const std::size_t nAlign = BlockAlign(), t = tail.size() / nAlign;
        Join(block, 0, std::min(block.size(), (kInsideFrames + 2) * nAlign));
        const std::size_t nWhole = frames.size() / nAlign;
        if (t < kMinFrames || nWhole < t + 4)
            return 0;
        const double dFloor = Floor();
        const std::size_t nBefore = std::min(kLocalFrames, t - 2);
        double dSum = 0;
        for (uint16_t c = 0; c < f.nChannels; ++c)
        {
            double dBefore = 0, dAfter = 0;
            for (std::size_t k = 1; k <= nBefore; ++k)
                dBefore += std::fabs(X(t - k, c) - X(t - k - 1, c));
            for (std::size_t n = t + 2; n < nWhole; ++n)
                dAfter += std::fabs(X(n, c) - X(n - 1, c));
            dSum += std::fabs(std::log2((dAfter / static_cast<double>(nWhole - t - 2) + dFloor) /
                                        (dBefore / static_cast<double>(nBefore) + dFloor)));
        }
        return dSum / f.nChannels;
    }

    // Takes the steps into frames nFirst to nWhole - 1 into each channel's
    // mean step: a plain mean until kMemory frames are counted, then one in
    // which each new step weighs 1/kMemory and the older ones fade by as
    // much. The sums run four abreast, so that no step waits for the one
    // before it (one running sum through every frame held the rescue to a
    // fraction of the card's reading speed).
    void Learn(std::size_t nFirst, std::size_t nWhole)
    {
        if (nFirst >= nWhole)
            return;
        const uint16_t nChannels = take->format.nChannels;
        const std::size_t nMean =
            std::min(nWhole - nFirst, static_cast<std::size_t>(kMemory - dFrames));
        const std::size_t nFading = nWhole - nFirst - nMean;
        const double a = 1 - 1 / kMemory, a4 = a * a * a * a;
        for (uint16_t c = 0; c < nChannels; ++c)
        {
            const auto step = [&](std::size_t n) { return std::fabs(X(n, c) - X(n - 1, c)); };
            double sum[4] = {};
            std::size_t n = nFirst;
            for (; n + 4 <= nFirst + nMean; n += 4)
                for (std::size_t k = 0; k < 4; ++k)
                    sum[k] += step(n + k);
            for (; n < nFirst + nMean; ++n)
                sum[0] += step(n);
            steps[c] = (steps[c] * dFrames + (sum[0] + sum[1]) + (sum[2] + sum[3])) /
                       (dFrames + static_cast<double>(nMean));
            if (nFading == 0)
                continue;
            // After m fading steps d1..dm: s a^m + (d1 a^(m-1) + ... + dm) / kMemory.
            double dHead = 0, fading[4] = {};
            for (const std::size_t nEnd = n + nFading % 4; n < nEnd; ++n)
                dHead = dHead * a + step(n);
            for (; n < nWhole; n += 4)
                for (std::size_t k = 0; k < 4; ++k)
                    fading[k] = fading[k] * a4 + step(n + k);
            const double dWeighed =
                dHead * std::pow(a, static_cast<double>(nFading - nFading % 4)) +
                ((fading[0] * a + fading[1]) * a + fading[2]) * a + fading[3];
            steps[c] = steps[c] * std::pow(a, static_cast<double>(nFading)) + dWeighed / kMemory;
        }
        dFrames += static_cast<double>(nMean);
    }

    // Puts the block from nFrom on behind the take; with bTest, only up to
    // the zeroed sectors at its end, or the first sector that does not
    // continue it, if any. The end of the bytes taken.
    std::size_t Absorb(const std::vector<uint8_t>& block, std::size_t nFrom, bool bTest)
    {
        const std::size_t nAlign = BlockAlign();
        std::size_t nEnd = bTest ? std::max(nFrom, BeforeZeroSectors(block)) : block.size();
        cut = "zeroed space follows";
        const std::size_t nTailBytes = tail.size(), nTail = nTailBytes / nAlign * nAlign;
        Join(block, nFrom, nEnd - nFrom);
        // A cluster the recorder wrote in part over other audio: the take ends
        // at the first sector whose samples do not continue it.
        for (std::size_t nAt = (nFrom / kSectorSize + 1) * kSectorSize; bTest && nAt < nEnd;
             nAt += kSectorSize)
        {
            const std::size_t t = (nTailBytes + nAt - nFrom) / nAlign;
            if (t >= kMinFrames && (t + 3) * nAlign <= frames.size() && Jump(t) > kMaxJump)
            {
                frames.resize(nTailBytes + nAt - nFrom), nEnd = nAt;
                cut = "the samples stop continuing it";
                break;
            }
        }
        const std::size_t nWhole = frames.size() / nAlign;
        Learn(std::max<std::size_t>(1, nTail / nAlign), nWhole);
        // The last whole frames, and the start of a frame the block's end cuts.
        const std::size_t nKeepFrom = nWhole > kTailFrames ? (nWhole - kTailFrames) * nAlign : 0;
        tail.assign(frames.begin() + static_cast<std::ptrdiff_t>(nKeepFrom), frames.end());
        return nEnd;
    }
};

bool TakeFinder::ReadHead(const CardImage::Entry& entry, Take& take)
{
    // The header in its first cluster, or in the clusters after it where
    // those are small (the raw bytes' sectors).
    const uint32_t nClusterSize = m_card.ClusterSize();
    const uint64_t nClusters = std::min<uint64_t>((kHeadBytes + nClusterSize - 1) / nClusterSize,
                                                  m_card.LastCluster() + 1 - entry.nFirstCluster);
    std::vector<uint8_t> head(nClusters * nClusterSize);
    if (!riff::ReadAt(m_fd, m_card.OffsetOf(entry.nFirstCluster), head.data(), head.size()))
        return false;
    if (!StartsTake(head.data()))
        return true;
    take.path = entry.path;
    take.modified = entry.modified;
    take.accessed = entry.accessed;
    // The chunk walk reads files: the head goes into an unnamed one.
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), &std::fclose);
    if (!file || std::fwrite(head.data(), 1, head.size(), file.get()) != head.size() ||
        std::fflush(file.get()) != 0)
        return false;
    ChunkReader reader(fileno(file.get()), head.size(), true);
    const RiffLayout layout = RiffLayout::Read(reader, "data");
    const RiffLayout::Entry* fmt = layout.Find("fmt ");
    const RiffLayout::Entry* data = layout.Find("data");
    if (fmt == nullptr || !ReadFormat(reader, *fmt, take.format))
        take.problem = "its header has no PCM format chunk";
    else if (data == nullptr)
        take.problem = "its header runs past its first " + std::to_string(head.size()) + " bytes";
    else
        take.nAudioOffset = data->PayloadOffset();
    const uint64_t nRecorded = layout.form == RiffLayout::Form::Rf64
                                   ? (layout.bHasDs64 ? layout.nDs64RiffSize + 8 : 0)
                                   : uint64_t{layout.nRiffSize} + 8;
    // A take the user deleted whole is no lost take.
    if (entry.bDeleted && entry.nSize > 0 && nRecorded == entry.nSize)
        return true;
    take.bRecoveredChain = !entry.bDeleted && IsRecoveredChain(entry.path);
    take.nStated = nRecorded;
    take.bIntact = !entry.bDeleted && entry.nSize > 0 && nRecorded == entry.nSize &&
                   entry.chain.size() * nClusterSize >= entry.nSize;
    take.nHeaderCluster = entry.nFirstCluster;
    if (take.bIntact)
    {
        take.clusters = entry.chain;
        take.nLength = entry.nSize;
    }
    return true;
}

bool TakeFinder::Find(std::vector<Take>& takes)
{
    // One take a header cluster: a live entry's before a deleted one's, and
    // one that records a size (closed after the header was written) before
    // one that records none (a power cut's, whose cluster a newer take took).
    std::map<uint64_t, const CardImage::Entry*> heads;
    const auto rank = [](const CardImage::Entry* p) { return !p->bDeleted * 2 + (p->nSize > 0); };
    for (const CardImage::Entry& entry : m_card.Entries())
    {
        const uint64_t nFirst = entry.nFirstCluster;
        if (nFirst < 2 || nFirst > m_card.LastCluster() ||
            (entry.bDeleted && m_card.IsAllocated(nFirst)))
            continue;
        auto [it, bNew] = heads.emplace(nFirst, &entry);
        if (!bNew && rank(&entry) > rank(it->second))
            it->second = &entry;
    }
    // Headers at the start of free clusters that no entry names: takes of a
    // card formatted since, or whose entries are gone.
    // A sparse image's holes hold zeros, and no header: they are stepped over.
    std::deque<CardImage::Entry> unnamed;
    uint8_t magic[12];
    uint64_t nDataEnd = 0; // the end of the stretch of data the scan is in
    m_nFollowed = m_card.LastCluster() - 1;
    m_emptyStart.assign(m_card.LastCluster() - 1, false);
    // The clusters from nFirst on, nCount of them, lie in a hole: each starts
    // empty, and counts as looked at (nFirst already does).
    const auto inHole = [this](uint64_t nFirst, uint64_t nCount)
    {
        std::fill_n(m_emptyStart.begin() + static_cast<std::ptrdiff_t>(nFirst - 2), nCount, true);
        m_nPassed += nCount - 1;
    };
    for (uint64_t nCluster = 2; nCluster <= m_card.LastCluster(); ++nCluster)
    {
        Passed();
        if (m_card.IsAllocated(nCluster) || heads.count(nCluster) != 0)
            continue;
        if (const uint64_t nAt = m_card.OffsetOf(nCluster); nAt >= nDataEnd)
        {
            const off_t nData = lseek(m_fd, static_cast<off_t>(nAt), SEEK_DATA);
            if (nData < 0 && errno == ENXIO)
            {
                inHole(nCluster, m_card.LastCluster() + 1 - nCluster);
                break; // a hole to the end
            }
            const off_t nHole = nData < 0 ? -1 : lseek(m_fd, nData, SEEK_HOLE);
            if (nData >= 0 && static_cast<uint64_t>(nData) - nAt >= m_card.ClusterSize())
            {
                const uint64_t nSkipped =
                    (static_cast<uint64_t>(nData) - nAt) / m_card.ClusterSize();
                inHole(nCluster, nSkipped);
                nCluster += nSkipped - 1;
                continue;
            }
            // Where the system cannot tell, all is data.
            nDataEnd =
                nHole < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(nHole);
        }
        if (!riff::ReadAt(m_fd, m_card.OffsetOf(nCluster), magic, sizeof magic))
            return false;
        m_emptyStart[nCluster - 2] =
            std::all_of(std::begin(magic), std::end(magic), [](uint8_t b) { return b == 0; });
        if (StartsTake(magic))
        {
            CardImage::Entry& entry = unnamed.emplace_back();
            entry.nFirstCluster = nCluster, entry.bDeleted = true;
            heads.emplace(nCluster, &entry);
        }
    }
    for (const auto& [nCluster, pEntry] : heads)
    {
        Take take;
        if (!ReadHead(*pEntry, take))
            return false;
        if (take.nHeaderCluster != 0)
            takes.push_back(std::move(take));
    }
    std::vector<Take*> followed;
    for (Take& take : takes)
        if (take.problem.empty())
            followed.push_back(&take);
    return Follow(followed) && FindHeadless(takes);
}

bool TakeFinder::FindHeadless(std::vector<Take>& takes)
{
    const uint32_t nClusterSize = m_card.ClusterSize();
    const uint64_t nLast = m_card.LastCluster();
    // The clusters of the takes found, and those a deleted take's entry
    // reaches over from its first on: old audio the user let go.
    std::vector<bool> claimed(nLast - 1, false);
    for (const Take& take : takes)
        for (const uint64_t nCluster : take.clusters)
            claimed[nCluster - 2] = true;
    for (const CardImage::Entry& entry : m_card.Entries())
        if (entry.bDeleted && entry.nFirstCluster >= 2 && entry.nFirstCluster <= nLast)
            for (uint64_t n = entry.nFirstCluster;
                 n <= nLast && (n - entry.nFirstCluster) * nClusterSize < entry.nSize; ++n)
                claimed[n - 2] = true;
    // The takes found with their headers, whose formats may settle a run's.
    std::vector<FormatEvidence::CardTake> siblings;
    for (const Take& other : takes)
        if (other.problem.empty())
            siblings.push_back({other.path.empty()
                                    ? "cluster " + std::to_string(other.nHeaderCluster)
                                    : other.path.substr(other.path.rfind('/') + 1),
                                other.format});
    std::vector<uint8_t> block(nClusterSize);
    Take run;
    const auto end = [&](const std::string& why)
    {
        if (run.clusters.empty())
            return true;
        run.ending = why;
        if (!SettleHeadless(run, siblings))
            return false;
        if (run.nHeaderCluster != 0)
            takes.push_back(std::move(run));
        run = Take();
        return true;
    };
    for (uint64_t nCluster = 2; nCluster <= nLast; ++nCluster)
    {
        if (m_card.IsAllocated(nCluster))
            continue;
        const std::string where = " at cluster " + std::to_string(nCluster);
        // A cluster that begins with zeros is read only inside a run, where
        // it may be quiet audio.
        if (claimed[nCluster - 2] || (m_emptyStart[nCluster - 2] && run.clusters.empty()))
        {
            if (!end("another take's clusters follow" + where))
                return false;
            continue;
        }
        if (!riff::ReadAt(m_fd, m_card.OffsetOf(nCluster), block.data(), block.size()))
            return false;
        if (StartsTake(block.data()) || BeforeZeroSectors(block) == 0)
        {
            if (!end(StartsTake(block.data()) ? "another take's header follows" + where
                                              : "zeroed space follows" + where))
                return false;
            continue;
        }
        if (run.clusters.empty())
            run.nHeaderCluster = nCluster, run.bHeaderless = true;
        run.clusters.push_back(nCluster);
    }
    return end("the card ends");
}

bool TakeFinder::SettleHeadless(Take& take, const std::vector<FormatEvidence::CardTake>& siblings)
{
    const uint32_t nClusterSize = m_card.ClusterSize();
    const std::string clusters =
        "audio with no header, clusters " + std::to_string(take.clusters.front()) + " on";
    // The first of its audio, as much as the probe needs to tell.
    std::vector<uint8_t> audio;
    for (std::size_t i = 0; i < take.clusters.size() && audio.size() < kHeadlessProbeBytes; ++i)
    {
        audio.resize(audio.size() + nClusterSize);
        if (!riff::ReadAt(m_fd, m_card.OffsetOf(take.clusters[i]),
                          audio.data() + audio.size() - nClusterSize, nClusterSize))
            return false;
    }
    // What its audio says of its frame when read from the byte nStart on.
    using Quantity = FormatEvidence::Quantity;
    const auto heard = [&](std::size_t nStart)
    {
        FormatEvidence::Input input;
        if (nStart < audio.size())
            input.audio = std::span<const uint8_t>(audio).subspan(nStart);
        return FormatEvidence(input);
    };
    const auto told = [](const FormatEvidence& evidence, Quantity quantity)
    { return evidence.Get(quantity).verdict == FormatEvidence::Verdict::Agreed; };
    // Bytes that read as no audio at any start (a folder's entries, a photo) are none.
    bool bAudio = false;
    for (std::size_t nStart = 0; nStart < 8 && !bAudio; ++nStart)
    {
        const FormatEvidence evidence = heard(nStart);
        bAudio = told(evidence, Quantity::BitsPerSample) && told(evidence, Quantity::Channels);
    }
    if (!bAudio)
    {
        take.nHeaderCluster = 0;
        return true;
    }
    FormatEvidence::Input input;
    input.cardTakes = [&siblings] { return std::span<const FormatEvidence::CardTake>(siblings); };
    const FormatEvidence others(input);
    for (const Quantity quantity : FormatEvidence::kQuantities)
        if (!told(others, quantity))
        {
            take.problem = clusters + ": the card's other takes do not settle its format";
            return true;
        }
    WavFormat format;
    format.nSampleRate = others.Get(Quantity::SampleRate).nValue;
    format.nBitsPerSample = static_cast<uint16_t>(others.Get(Quantity::BitsPerSample).nValue);
    format.nChannels = static_cast<uint16_t>(others.Get(Quantity::Channels).nValue);
    format.nFormatTag =
        others.Get(Quantity::IsFloat).nValue != 0 ? WavFormat::kFloat : WavFormat::kPcm;
    // Where its frames begin: the byte from which its audio reads as that
    // format. Read from another one of a frame's samples its channels read as
    // well, so a take of more than one channel cannot tell their order.
    std::vector<std::size_t> starts;
    for (std::size_t nStart = 0; nStart < format.BlockAlign(); ++nStart)
    {
        const FormatEvidence evidence = heard(nStart);
        const auto says = [&](Quantity quantity, uint32_t nValue)
        { return told(evidence, quantity) && evidence.Get(quantity).nValue == nValue; };
        if (says(Quantity::BitsPerSample, format.nBitsPerSample) &&
            says(Quantity::Channels, format.nChannels) &&
            (evidence.Get(Quantity::IsFloat).verdict == FormatEvidence::Verdict::Absent ||
             says(Quantity::IsFloat, format.IsFloat())))
            starts.push_back(nStart);
    }
    const std::string described = korva::DescribeFormat(format);
    if (starts.empty())
    {
        take.problem = clusters + ": its audio does not read as the " + described +
                       " the card's other takes settle";
        return true;
    }
    if (starts.size() > 1)
    {
        take.problem = clusters + ": its audio reads as the " + described +
                       " the card's other takes settle, but without its header the order of "
                       "its channels cannot be told";
        return true;
    }
    take.format = format;
    take.nAudioOffset = starts.front();
    take.formatFrom = "its header overwritten, its format from the card's other takes, which its "
                      "audio agrees with";
    // Followed as far as its samples continue it.
    Trail follow(take);
    const std::vector<uint64_t> run = std::move(take.clusters);
    take.clusters.clear();
    std::vector<uint8_t> block(nClusterSize);
    for (std::size_t i = 0; i < run.size(); ++i)
    {
        if (!riff::ReadAt(m_fd, m_card.OffsetOf(run[i]), block.data(), block.size()))
            return false;
        const std::string where = " at cluster " + std::to_string(run[i]);
        if (i > 0 && follow.Score(block) > kMaxJump)
        {
            take.ending = "the samples stop continuing it" + where;
            break;
        }
        const std::size_t nTaken = follow.Absorb(block, i == 0 ? take.nAudioOffset : 0, true);
        take.clusters.push_back(run[i]);
        take.nLength += nTaken;
        if (nTaken < block.size())
        {
            take.ending = follow.cut + " inside" + where;
            break;
        }
    }
    const uint64_t nAlign = format.BlockAlign();
    take.nLength = take.nAudioOffset + (take.nLength - take.nAudioOffset) / nAlign * nAlign;
    return true;
}

bool TakeFinder::Follow(std::vector<Take*>& followed)
{
    const uint32_t nClusterSize = m_card.ClusterSize();
    std::vector<Trail> follows;
    std::set<uint64_t> heads;   // the takes' header clusters
    std::set<uint64_t> claimed; // clusters of the takes' chains and headers
    std::vector<uint8_t> block(nClusterSize);
    for (Take* take : followed)
    {
        Trail follow(*take);
        take->clusters.clear();
        // The entry's chain, as far as it goes and as far as its size, is the
        // take's; what follows in its last cluster is the take's only when it
        // continues it.
        std::vector<uint64_t> chain = {take->nHeaderCluster};
        uint64_t nRecorded = 0;
        for (const CardImage::Entry& entry : m_card.Entries())
            if (entry.path == take->path && !entry.bDeleted && !entry.chain.empty() &&
                entry.chain.front() == take->nHeaderCluster)
                chain = entry.chain,
                nRecorded = std::min<uint64_t>(
                    entry.nSize, (entry.chain.size() - (take->bRecoveredChain ? 1 : 0)) *
                                     uint64_t{nClusterSize});
        nRecorded = std::max(nRecorded, take->nAudioOffset);
        // A header longer than a cluster fills the clusters after its first.
        while (chain.size() * uint64_t{nClusterSize} < nRecorded)
            chain.push_back(chain.back() + 1);
        claimed.insert(chain.begin(), chain.end());
        for (std::size_t i = 0; i < chain.size(); ++i)
        {
            if (!riff::ReadAt(m_fd, m_card.OffsetOf(chain[i]), block.data(), block.size()))
                return false;
            const uint64_t nAt = i * uint64_t{nClusterSize};
            const auto nFrom = static_cast<std::size_t>(
                std::min<uint64_t>(nClusterSize, std::max(nAt, take->nAudioOffset) - nAt));
            if (nAt + nClusterSize <= nRecorded)
            {
                follow.Absorb(block, nFrom, false);
                take->clusters.push_back(chain[i]), take->nLength = nAt + nClusterSize;
                continue;
            }
            // The last cluster the entry's size reaches into: its recorded bytes, then the rest
            // where it continues them.
            const auto nEnd = static_cast<std::size_t>(nRecorded - nAt);
            const std::vector<uint8_t> recorded(block.begin(),
                                                block.begin() + static_cast<std::ptrdiff_t>(nEnd));
            follow.Absorb(recorded, nFrom, false);
            take->clusters.push_back(chain[i]);
            const std::string where = " inside cluster " + std::to_string(chain[i]);
            std::size_t nTaken = nEnd;
            if (follow.Score({block.begin() + static_cast<std::ptrdiff_t>(nEnd), block.end()}) >
                kMaxJump)
                follow.bClosed = true, take->ending = "the samples stop continuing it" + where;
            else if (nTaken = follow.Absorb(block, nEnd, true); nTaken < block.size())
                follow.bClosed = true, take->ending = follow.cut + where;
            take->nLength = nAt + nTaken;
            break;
        }
        follow.nChainEnd = take->clusters.back();
        follow.nRecorded = take->nLength;
        follow.bLooksIntact = take->bIntact;
        heads.insert(take->nHeaderCluster);
        follows.push_back(std::move(follow));
    }
    const auto closeOpen = [&](uint64_t nCluster, const std::string& why)
    {
        for (Trail& follow : follows)
            if (!follow.bClosed && follow.nChainEnd < nCluster)
                follow.bClosed = true, follow.take->ending = why;
    };
    uint64_t nCluster = heads.empty() ? m_card.LastCluster() + 1 : *heads.begin();
    m_nFollowed = m_card.LastCluster() + 1 - nCluster;
    for (; nCluster <= m_card.LastCluster(); ++nCluster, Passed())
    {
        const bool bAnyLeft =
            std::any_of(follows.begin(), follows.end(), [](const Trail& f) { return !f.bClosed; });
        if (!bAnyLeft)
            break;
        if (m_card.IsAllocated(nCluster) || claimed.count(nCluster) != 0)
            continue;
        std::vector<Trail*> open;
        for (Trail& follow : follows)
            if (!follow.bClosed && follow.nChainEnd < nCluster)
                open.push_back(&follow);
        if (open.empty())
            continue;
        if (!riff::ReadAt(m_fd, m_card.OffsetOf(nCluster), block.data(), block.size()))
            return false;
        const std::string where = " at cluster " + std::to_string(nCluster);
        if (StartsTake(block.data()))
        {
            closeOpen(nCluster, "another take's header follows" + where);
            continue;
        }
        if (BeforeZeroSectors(block) == 0)
        {
            closeOpen(nCluster, "zeroed space follows" + where);
            continue;
        }
        // Takes whose entries look whole contend for a cluster, but only
        // lost ones, or ones found to go on, count as recorded at once.
        const auto contends = [](const Trail* f) { return !f->bLooksIntact || f->Grew(); };
        // The block goes to the take it continues best, its jump and its
        // steps together; it ends them all when it continues none.
        Trail* best = nullptr;
        double dBest = std::numeric_limits<double>::infinity();
        std::vector<double> fits;
        for (Trail* follow : open)
        {
            const double dJump = follow->Score(block);
            fits.push_back(dJump + kOctave * follow->Misfit(block));
            if (dJump <= kMaxJump && fits.back() < dBest)
                dBest = fits.back(), best = follow;
        }
        if (best == nullptr)
        {
            closeOpen(nCluster, "the samples stop continuing it" + where);
            continue;
        }
        double dSecond = std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < open.size(); ++i)
            if (open[i] != best && contends(open[i]))
                dSecond = std::min(dSecond, fits[i]);
        Take& take = *best->take;
        if (contends(best) && std::isfinite(dSecond))
        {
            const double dMargin = dSecond / std::max(dBest, 1e-9);
            take.dWeakestMargin =
                take.nContested == 0 ? dMargin : std::min(take.dWeakestMargin, dMargin);
            ++take.nContested;
        }
        const std::size_t nTaken = best->Absorb(block, 0, true);
        if (nTaken > 0)
            take.clusters.push_back(nCluster), take.nLength += nTaken;
        if (nTaken < block.size())
            best->bClosed = true, take.ending = best->cut + " inside" + where;
    }
    for (Trail& follow : follows)
    {
        if (!follow.bClosed)
            follow.take->ending = "the card ends";
        // A take whose header and entry agree is intact unless audio that
        // continues it follows what they state.
        if (follow.bLooksIntact)
            follow.take->bIntact = !follow.Grew();
        else if (!EndAsStated(*follow.take))
            return false;
    }
    return true;
}

void TakeFinder::Passed()
{
    ++m_nPassed;
    if (!m_progress || m_nStep == 0)
        return;
    const uint64_t nClusters = m_card.LastCluster() - 1;
    const uint64_t nTotal = nClusters * m_card.ClusterSize();
    const auto nDone = static_cast<uint64_t>(static_cast<double>(m_nPassed) /
                                             static_cast<double>(nClusters + m_nFollowed) *
                                             static_cast<double>(nTotal));
    if (nDone >= m_nReported + m_nStep && nDone < nTotal)
    {
        m_nReported = nDone / m_nStep * m_nStep;
        m_progress(nDone, nTotal);
    }
}

// A take its recorder closed (one found on a card formatted since) states its
// size, and the last sector written holds zeros behind it: it ends there.
bool TakeFinder::EndAsStated(Take& take)
{
    const uint64_t nLastFrom = (take.clusters.size() - 1) * uint64_t{m_card.ClusterSize()};
    if (take.nStated <= take.nAudioOffset || take.nStated >= take.nLength ||
        take.nLength - take.nStated >= kSectorSize || take.nStated < nLastFrom)
        return true;
    std::vector<uint8_t> behind(take.nLength - take.nStated);
    if (!riff::ReadAt(m_fd, m_card.OffsetOf(take.clusters.back()) + (take.nStated - nLastFrom),
                      behind.data(), behind.size()))
        return false;
    if (std::all_of(behind.begin(), behind.end(), [](uint8_t b) { return b == 0; }))
        take.nLength = take.nStated, take.ending = "the size its header states, zeros behind it";
    return true;
}
