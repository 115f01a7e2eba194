#include "RepairPlan.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "RiffIO.h"

namespace
{
using Entry = RiffLayout::Entry;

constexpr uint32_t kPlainBody = 16;
constexpr uint32_t kExBody = 18;         // with cbSize 0
constexpr uint32_t kExtensibleBody = 40; // WAVE_FORMAT_EXTENSIBLE
constexpr uint64_t kChunkHeader = riff::kChunkHeaderSize;
constexpr uint64_t kPlainChunk = kChunkHeader + kPlainBody;
constexpr uint32_t kUnsetSize = 0xFFFFFFFF;
constexpr uint64_t kDs64RiffSize = 20; // offsets of the ds64 fields in the file
constexpr uint64_t kDs64DataSize = 28;
constexpr uint64_t kDs64SampleCount = 36;

std::vector<uint8_t> Bytes32(uint32_t n, bool bIntel)
{
    std::vector<uint8_t> bytes(4);
    riff::Put32(bytes.data(), n, bIntel);
    return bytes;
}

std::vector<uint8_t> Bytes64(uint64_t n, bool bIntel)
{
    std::vector<uint8_t> bytes(8);
    riff::Put64(bytes.data(), n, bIntel);
    return bytes;
}

std::vector<uint8_t> JunkHeader(uint64_t nSize, bool bIntel)
{
    std::vector<uint8_t> bytes = {'J', 'U', 'N', 'K', 0, 0, 0, 0};
    riff::Put32(bytes.data() + 4, static_cast<uint32_t>(nSize), bIntel);
    return bytes;
}

// Builds the edits and patches in file order, so that an offset in the
// shaped file is known as soon as everything in front of it is decided.
class Builder
{
public:
    Builder(RepairPlan& plan, bool bIntel) : m_plan(plan), m_bIntel(bIntel) {}

    // Puts n zero bytes in at source offset nAt, behind any put in there
    // before; returns where they begin in the shaped file.
    uint64_t Insert(uint64_t nAt, uint64_t n)
    {
        const uint64_t nShaped = Shaped(nAt);
        if (!m_plan.edits.empty() && m_plan.edits.back().nAt == nAt)
            m_plan.edits.back().nInsert += n;
        else
            m_plan.edits.push_back({nAt, 0, n});
        m_plan.nInserted += n;
        return nShaped;
    }
    void Drop(uint64_t nAt, uint64_t n) { m_plan.edits.push_back({nAt, n, 0}); }
    // Where the source byte at nOffset (one not left out) lands.
    uint64_t Shaped(uint64_t nOffset) const
    {
        uint64_t nShaped = nOffset;
        for (const RepairPlan::Edit& edit : m_plan.edits)
            if (edit.nAt <= nOffset)
                nShaped = nShaped + edit.nInsert - (edit.nAt < nOffset ? edit.nDrop : 0);
        return nShaped;
    }
    void Patch(uint64_t nShaped, std::vector<uint8_t> bytes)
    {
        m_plan.patches.push_back({nShaped, std::move(bytes)});
    }
    bool Intel() const { return m_bIntel; }

private:
    RepairPlan& m_plan;
    bool m_bIntel;
};

// The damaged format chunk, its body grown to the bits field where it ends
// before it: its size and bits set where it states the format, the format
// written over it where it does not.
void MendFormat(const RiffLayout::DamagedFormat& damaged, const Entry& entry,
                const WavFormat& format, Builder& build, RepairPlan& plan)
{
    const auto nBody = static_cast<uint32_t>(std::max<uint64_t>(entry.nPayload, kPlainBody));
    if (nBody > entry.nPayload)
        build.Insert(entry.End(), nBody - entry.nPayload);
    plan.nDamagedOffset = entry.nOffset;
    plan.nDamagedSize = entry.nSize;
    plan.nDamagedBody = entry.nPayload;
    plan.nFormatOffset = build.Shaped(entry.nOffset);
    plan.nFormatBody = nBody;
    plan.bFieldsKept = damaged.format == format;
    if (!plan.bFieldsKept)
    {
        build.Patch(plan.nFormatOffset, RepairPlan::FormatChunk(format, nBody, build.Intel()));
        return;
    }
    build.Patch(plan.nFormatOffset + 4, Bytes32(nBody, build.Intel()));
    if (damaged.bBitsMissing)
    {
        std::vector<uint8_t> bits(2);
        riff::Put16(bits.data(), format.nBitsPerSample, build.Intel());
        build.Patch(plan.nFormatOffset + kChunkHeader + kPlainBody - 2, std::move(bits));
    }
}

// A new plain format chunk put in at source offset nAt. Where the copy can
// share blocks, a JUNK chunk behind it makes everything inserted so far a whole
// number of blocks, so that the bytes behind keep their place in a block and
// the copy can share them instead of writing them. An odd number of bytes
// inserted in front (a missing pad byte) cannot be made whole by chunks, which
// are even: the plain chunk then goes in alone.
void InsertFormat(uint64_t nAt, const WavFormat& format, uint64_t nShareBlock, Builder& build,
                  RepairPlan& plan)
{
    uint64_t nRoom = kPlainChunk;
    if (nShareBlock > 0 && plan.nInserted % 2 == 0)
    {
        const uint64_t nLeast = plan.nInserted + kPlainChunk + kChunkHeader;
        nRoom = (nLeast + nShareBlock - 1) / nShareBlock * nShareBlock - plan.nInserted;
    }
    plan.nInsertAt = nAt;
    plan.nFormatOffset = build.Insert(nAt, nRoom);
    plan.nFormatBody = kPlainBody;
    build.Patch(plan.nFormatOffset, RepairPlan::FormatChunk(format, kPlainBody, build.Intel()));
    if (nRoom > kPlainChunk)
        build.Patch(plan.nFormatOffset + kPlainChunk,
                    JunkHeader(nRoom - kPlainChunk - kChunkHeader, build.Intel()));
}

// Everything in front of the audio: pad bytes behind odd sizes, the lost
// format chunk's remains filled (or a new chunk inserted) or the damaged one
// mended, other holes made JUNK. Nothing is left that a reader would stumble on.
void MendFront(const RiffLayout& layout, std::size_t nData, const WavFormat* pFormat,
               uint64_t nShareBlock, Builder& build, RepairPlan& plan)
{
    std::vector<Entry> front(layout.entries.begin(),
                             layout.entries.begin() + static_cast<std::ptrdiff_t>(nData));
    // With no remains, the chunk goes behind bext when bext stands in front of
    // the audio, otherwise in front of the audio.
    const bool bRemains =
        std::any_of(front.begin(), front.end(), [](const Entry& e) { return e.bHole; });
    const std::size_t nBext = layout.IndexOf("bext");
    const bool bDamaged = layout.damagedFormat && layout.damagedFormat->nEntry < nData;
    const bool bInsertBehindBext = pFormat != nullptr && !bRemains && !bDamaged && nBext < nData;
    bool bFormatPlaced = pFormat == nullptr || bDamaged;

    for (std::size_t i = 0; i < front.size(); ++i)
    {
        Entry& entry = front[i];
        if (entry.bDamagedFormat && pFormat != nullptr)
            MendFormat(*layout.damagedFormat, entry, *pFormat, build, plan);
        if (!entry.bHole)
        {
            if (entry.nPayload % 2 == 1 && !entry.bPad)
            {
                // A hole behind gives its first byte to the pad; otherwise one goes in.
                if (i + 1 < front.size() && front[i + 1].bHole)
                {
                    build.Patch(build.Shaped(front[i + 1].nOffset), {0});
                    ++front[i + 1].nOffset;
                    --front[i + 1].nSize;
                }
                else
                    build.Insert(entry.End(), 1);
            }
            if (bInsertBehindBext && i == nBext)
            {
                plan.bBehindBext = true;
                InsertFormat(entry.End(), *pFormat, nShareBlock, build, plan);
                bFormatPlaced = true;
            }
            continue;
        }
        if (entry.nSize == 0)
            continue;
        const uint64_t nEnd = entry.nOffset + entry.nSize;
        const uint64_t nAt = build.Shaped(entry.nOffset);
        uint64_t nRoom = entry.nSize;
        const auto grow = [&](uint64_t nTo)
        {
            if (nRoom < nTo)
                build.Insert(nEnd, nTo - nRoom), nRoom = nTo;
        };
        grow(nRoom + nRoom % 2); // the next header stays at an even distance
        uint64_t nJunkAt = nAt;
        if (!bFormatPlaced)
        {
            bFormatPlaced = true;
            const Entry& remains = layout.entries[i];
            plan.nRemainsOffset = remains.nOffset;
            plan.nRemainsLength = remains.nSize;
            // The body fills the remains exactly where a format chunk of that
            // size exists; otherwise a plain one, and JUNK behind it.
            uint32_t nBody = kPlainBody;
            if (nRoom == kChunkHeader + kExBody || nRoom == kChunkHeader + kExtensibleBody)
                nBody = static_cast<uint32_t>(nRoom - kChunkHeader);
            else if (nRoom != kPlainChunk)
                grow(nRoom < kPlainChunk ? kPlainChunk
                                         : std::max(nRoom, kPlainChunk + kChunkHeader));
            plan.nFormatOffset = nAt;
            plan.nFormatBody = nBody;
            build.Patch(nAt, RepairPlan::FormatChunk(*pFormat, nBody, build.Intel()));
            nJunkAt += kChunkHeader + nBody;
            nRoom -= kChunkHeader + nBody;
            if (nRoom == 0)
                continue;
        }
        grow(kChunkHeader);
        build.Patch(nJunkAt, JunkHeader(nRoom - kChunkHeader, build.Intel()));
    }
    if (!bFormatPlaced)
        InsertFormat(layout.entries[nData].nOffset, *pFormat, nShareBlock, build, plan);
}

// An unfinished data chunk ends with the last whole frame before the next
// live chunk or the end of the file, and a finished one with the last whole
// frame inside its size; a partial frame's bytes, and the pad byte behind
// them, stay out.
void FinishData(const RiffLayout& layout, std::size_t nData, Builder& build, RepairPlan& plan)
{
    const Entry& data = layout.entries[nData];
    const uint64_t nWhole = data.nPayload / plan.nBlockAlign * plan.nBlockAlign;
    const uint64_t nPartial = data.nPayload - nWhole;
    const uint64_t nTail = nPartial + (data.bPad ? 1 : 0);
    const uint64_t nWholeEnd = data.PayloadOffset() + nWhole;
    const bool bFollowed = nData + 1 < layout.entries.size();
    plan.nDataSize = nWhole;
    plan.nPartialBytes = nPartial;
    if (bFollowed && nWhole % 2 == 1)
    {
        // A chunk follows: an odd size needs its pad byte, from the tail if there is one.
        if (nTail == 0)
            build.Insert(nWholeEnd, 1);
        else
        {
            build.Patch(build.Shaped(nWholeEnd), {0});
            if (nTail > 1)
                build.Drop(nWholeEnd + 1, nTail - 1);
        }
    }
    else if (nTail > 0)
        build.Drop(nWholeEnd, nTail);
    const bool bRf64 = layout.form == RiffLayout::Form::Rf64;
    build.Patch(build.Shaped(data.nOffset + 4),
                Bytes32(bRf64 ? kUnsetSize : static_cast<uint32_t>(nWhole), build.Intel()));
}

bool IsRiffSizeUnfinished(const RiffLayout& layout, const Entry& data)
{
    const uint64_t nDataEnd = data.End();
    if (layout.form == RiffLayout::Form::Rf64)
        return layout.nDs64RiffSize == 0 || layout.nDs64RiffSize + 8 > layout.nLength ||
               layout.nDs64RiffSize + 8 < nDataEnd;
    const uint64_t nSize = layout.nRiffSize;
    return nSize == 0 || nSize == kUnsetSize || nSize + 8 > layout.nLength || nSize + 8 < nDataEnd;
}
} // namespace

std::vector<uint8_t> RepairPlan::FormatChunk(const WavFormat& format, uint32_t nBody, bool bIntel)
{
    std::vector<uint8_t> bytes(kChunkHeader + nBody, 0);
    uint8_t* p = bytes.data();
    std::memcpy(p, "fmt ", 4);
    riff::Put32(p + 4, nBody, bIntel);
    riff::Put16(p + 8, nBody == kExtensibleBody ? WavFormat::kExtensible : format.nFormatTag,
                bIntel);
    riff::Put16(p + 10, format.nChannels, bIntel);
    riff::Put32(p + 12, format.nSampleRate, bIntel);
    riff::Put32(p + 16, format.BytesPerSecond(), bIntel);
    riff::Put16(p + 20, format.BlockAlign(), bIntel);
    riff::Put16(p + 22, format.nBitsPerSample, bIntel);
    if (nBody >= kExBody)
        riff::Put16(p + 24, static_cast<uint16_t>(nBody - kExBody), bIntel); // cbSize
    if (nBody == kExtensibleBody)
    {
        riff::Put16(p + 26, format.nBitsPerSample, bIntel); // valid bits
        riff::Put32(p + 28, 0, bIntel);                     // no speaker positions claimed
        // The sub-format GUID: the format tag in the KSDATAFORMAT_SUBTYPE pattern.
        riff::Put32(p + 32, format.nFormatTag, bIntel);
        riff::Put16(p + 36, 0x0000, bIntel);
        riff::Put16(p + 38, 0x0010, bIntel);
        const uint8_t tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        std::memcpy(p + 40, tail, sizeof tail);
    }
    return bytes;
}

bool RepairPlan::NeedsFormat(const RiffLayout& layout)
{
    return (layout.form == RiffLayout::Form::Riff ||
            (layout.form == RiffLayout::Form::Rf64 && layout.bHasDs64)) &&
           layout.Find("fmt ") == nullptr && layout.Find("bext") != nullptr &&
           layout.Find("data") != nullptr;
}

RepairPlan RepairPlan::Make(const RiffLayout& layout, const WavFormat& format, bool bIntel,
                            uint64_t nShareBlock, bool bLeaveOutPartialFrame)
{
    RepairPlan plan;
    plan.nSourceLength = plan.nLength = layout.nLength;
    const std::size_t nData = layout.IndexOf("data");
    const bool bHasData = nData != std::string::npos;
    const bool bHasFormat = layout.Find("fmt ") != nullptr;
    plan.bHasBext = layout.Find("bext") != nullptr;
    if (layout.form == RiffLayout::Form::NotRiff ||
        (layout.form == RiffLayout::Form::Rf64 && !layout.bHasDs64))
        return plan;
    if (bHasData)
    {
        const Entry& data = layout.entries[nData];
        plan.nDataOffset = data.nOffset;
        plan.nDataDeclared = data.nSize;
        plan.nDataPresent = plan.nDataSize = data.nPayload;
        plan.bDataSizeUnfinished = data.bUnfinished;
        plan.bRiffSizeUnfinished = IsRiffSizeUnfinished(layout, data);
    }
    plan.nBlockAlign = bHasFormat ? layout.nBlockAlign : format.BlockAlign();

    // Sizes are finished only where a reader finds one whole format chunk in
    // front of the audio; a file with a format chunk anywhere is not given
    // another. A damaged one in front, whose size leads nowhere, leaves the file
    // as it is: a reader meets it first.
    const auto nInFront =
        std::count_if(layout.entries.begin(),
                      layout.entries.begin() + static_cast<std::ptrdiff_t>(bHasData ? nData : 0),
                      [](const Entry& entry) { return entry.Is("fmt "); });
    const bool bDamagedInFront =
        bHasData && layout.damagedFormat && layout.damagedFormat->nEntry < nData;
    if (bHasFormat)
        plan.verdict = nInFront == 1 && !bDamagedInFront &&
                               (plan.bDataSizeUnfinished || plan.bRiffSizeUnfinished)
                           ? Verdict::SizesUnfinished
                           : Verdict::Intact;
    else if (!plan.bHasBext)
        plan.verdict = Verdict::NoBext;
    else if (!bHasData)
        plan.verdict = Verdict::NoData;
    else
        plan.verdict = layout.damagedFormat ? Verdict::FormatDamaged : Verdict::FormatMissing;
    // Audio the format cannot count in whole frames is not the format's: no
    // repair may end in a file that decoders read in part.
    const bool bChanges = plan.verdict == Verdict::SizesUnfinished ||
                          plan.verdict == Verdict::FormatMissing ||
                          plan.verdict == Verdict::FormatDamaged;
    const bool bPartialFrame = bChanges && plan.nBlockAlign != 0 && !plan.bDataSizeUnfinished &&
                               plan.nDataDeclared % plan.nBlockAlign != 0;
    if (bChanges && (plan.nBlockAlign == 0 || (bPartialFrame && !bLeaveOutPartialFrame)))
        plan.verdict = Verdict::NotWholeFrames;
    if (!bChanges || plan.verdict == Verdict::NotWholeFrames)
        return plan;

    Builder build(plan, bIntel);
    MendFront(layout, nData, bHasFormat ? nullptr : &format, nShareBlock, build, plan);
    const bool bFinishData = plan.bDataSizeUnfinished || bPartialFrame;
    if (bFinishData)
        FinishData(layout, nData, build, plan);
    for (const Edit& edit : plan.edits)
        plan.nLength = plan.nLength + edit.nInsert - edit.nDrop;
    // A size that already says so is not written again.
    if (layout.form == RiffLayout::Form::Rf64)
    {
        if (layout.nDs64RiffSize != plan.nLength - 8)
            build.Patch(kDs64RiffSize, Bytes64(plan.nLength - 8, bIntel));
        if (bFinishData)
        {
            build.Patch(kDs64DataSize, Bytes64(plan.nDataSize, bIntel));
            build.Patch(kDs64SampleCount, Bytes64(plan.nDataSize / plan.nBlockAlign, bIntel));
        }
    }
    else if (plan.nLength > riff::kMaxRiffLength)
    {
        RepairPlan tooLarge = plan;
        tooLarge.verdict = Verdict::TooLarge;
        tooLarge.edits.clear();
        tooLarge.patches.clear();
        tooLarge.nLength = plan.nSourceLength;
        return tooLarge;
    }
    else if (uint64_t{layout.nRiffSize} != plan.nLength - 8)
        build.Patch(4, Bytes32(static_cast<uint32_t>(plan.nLength - 8), bIntel));
    return plan;
}

std::string RepairPlan::Check(const RiffLayout& layout)
{
    if (layout.form == RiffLayout::Form::NotRiff)
        return "it is not a RIFF file";
    const std::size_t nData = layout.IndexOf("data");
    if (nData == std::string::npos)
        return "it has no data chunk";
    int nFormats = 0;
    for (std::size_t i = 0; i < nData; ++i)
    {
        const Entry& entry = layout.entries[i];
        if (entry.bHole)
            return "a gap of " + std::to_string(entry.nSize) + " bytes at offset " +
                   std::to_string(entry.nOffset) + " is in no chunk";
        if (entry.nPayload % 2 == 1 && !entry.bPad)
            return "the '" + entry.id + "' chunk at offset " + std::to_string(entry.nOffset) +
                   " lacks its pad byte";
        nFormats += entry.id == "fmt ";
    }
    if (nFormats != 1)
        return nFormats == 0 ? "no format chunk stands in front of the audio"
                             : "more than one format chunk stands in front of the audio";
    const Entry& data = layout.entries[nData];
    if (data.bUnfinished)
        return "its data size is unfinished";
    if (layout.nBlockAlign == 0 || data.nSize % layout.nBlockAlign != 0)
        return "its " + std::to_string(data.nSize) + " bytes of audio are not whole frames of " +
               std::to_string(layout.nBlockAlign) + " bytes";
    if (layout.form == RiffLayout::Form::Rf64)
    {
        if (!layout.bHasDs64 || layout.nDs64RiffSize != layout.nLength - 8)
            return "its ds64 RIFF size does not match its length";
        return "";
    }
    if (uint64_t{layout.nRiffSize} + 8 != layout.nLength)
        return "its RIFF size says " + std::to_string(uint64_t{layout.nRiffSize} + 8) +
               " bytes, the file holds " + std::to_string(layout.nLength);
    return "";
}
