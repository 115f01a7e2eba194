#include "RiffLayout.h"

#include <algorithm>
#include <cstring>
#include <map>

#include "ChunkReader.h"
#include "RiffIO.h"

namespace
{
constexpr uint32_t kUnsetSize = 0xFFFFFFFF;
constexpr uint32_t kMinFormatBody = 16;
// The bodies a damaged format chunk can hold: the plain one, with cbSize 0,
// the old one without the bits field, the extensible one.
constexpr uint32_t kFormatBodies[] = {16, 18, 14, 40};
constexpr uint32_t kBodyWithoutBits = 14;
constexpr uint32_t kExtensibleBody = 40;
constexpr uint16_t kExtensibleExtra = 22; // cbSize of an extensible body
constexpr uint16_t kMaxChannels = 64;
constexpr uint32_t kMinRate = 1000;
constexpr uint32_t kMaxRate = 768000;
// KSDATAFORMAT_SUBTYPE_PCM and _IEEE_FLOAT behind their first four bytes.
constexpr uint8_t kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                        0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// How far a search for the next header runs through a hole in front of the audio.
constexpr uint64_t kMaxHoleSearch = 1 << 20;
// How much of the end of the file can hold chunks behind the audio.
constexpr uint64_t kTailWindow = 1 << 20;

// Identifiers that recorders and editors write. A header found by searching a
// hole must carry one of these, or lead to one, so that text in a damaged
// chunk is not taken for a header.
constexpr std::string_view kKnownIds[] = {
    "fmt ", "data", "bext", "LIST", "JUNK", "junk", "iXML", "cue ", "regn", "umid", "minf",
    "elm1", "smpl", "inst", "PAD ", "FLLR", "_PMX", "acid", "aXML", "axml", "chna", "ds64",
    "fact", "plst", "cart", "levl", "mext", "MEXT", "DISP", "AFJx", "id3 ", "ID3 ", "SyLp",
    "ResU", "qlty", "link", "ovwf", "r64m", "bxml", "sxml", "peak", "PEAK", "afsp"};

bool IsKnownId(const char* pId)
{
    const std::string_view id(pId, 4);
    return std::find(std::begin(kKnownIds), std::end(kKnownIds), id) != std::end(kKnownIds);
}

// The format a format body of nBody bytes states, when its fields are plausible
// and agree with each other: integer PCM of 8 to 32 bits or float of 32 or 64,
// 1 to 64 channels, a rate from 1000 to 768000 Hz, the block align of whole
// bytes per sample, the byte rate of that block align.
std::optional<RiffLayout::DamagedFormat> PlausibleFormat(const uint8_t* p, uint32_t nBody,
                                                         bool bIntel)
{
    RiffLayout::DamagedFormat damaged;
    WavFormat& format = damaged.format;
    damaged.nFormatTag = riff::Get16(p, bIntel);
    format.nChannels = riff::Get16(p + 2, bIntel);
    format.nSampleRate = riff::Get32(p + 4, bIntel);
    const uint32_t nBytesPerSecond = riff::Get32(p + 8, bIntel);
    const uint16_t nBlockAlign = riff::Get16(p + 12, bIntel);
    if (format.nChannels == 0 || format.nChannels > kMaxChannels || format.nSampleRate < kMinRate ||
        format.nSampleRate > kMaxRate || nBlockAlign % format.nChannels != 0)
        return std::nullopt;
    damaged.bBitsMissing = nBody == kBodyWithoutBits;
    format.nBitsPerSample = damaged.bBitsMissing
                                ? static_cast<uint16_t>(nBlockAlign / format.nChannels * 8)
                                : riff::Get16(p + 14, bIntel);
    format.nFormatTag = damaged.nFormatTag;
    const bool bExtensible = damaged.nFormatTag == WavFormat::kExtensible;
    if (bExtensible != (nBody == kExtensibleBody))
        return std::nullopt;
    if (bExtensible)
    {
        const uint16_t nValidBits = riff::Get16(p + 18, bIntel);
        const uint32_t nSubFormat = riff::Get32(p + 24, bIntel);
        if (riff::Get16(p + 16, bIntel) != kExtensibleExtra || nValidBits == 0 ||
            nValidBits > format.nBitsPerSample || nSubFormat > WavFormat::kFloat ||
            std::memcmp(p + 28, kSubFormatTail, sizeof kSubFormatTail) != 0)
            return std::nullopt;
        format.nFormatTag = static_cast<uint16_t>(nSubFormat);
    }
    else if (nBody == kMinFormatBody + 2 && riff::Get16(p + 16, bIntel) != 0)
        return std::nullopt; // an 18-byte body says it holds nothing more
    const uint16_t nBits = format.nBitsPerSample;
    const bool bDepth =
        format.nFormatTag == WavFormat::kPcm
            ? nBits == 8 || nBits == 16 || nBits == 24 || nBits == 32
            : format.nFormatTag == WavFormat::kFloat && (nBits == 32 || nBits == 64);
    if (!bDepth || nBlockAlign != format.BlockAlign() ||
        uint64_t{nBytesPerSecond} != uint64_t{format.nSampleRate} * nBlockAlign)
        return std::nullopt;
    return damaged;
}

class Walk
{
public:
    Walk(ChunkReader& reader, RiffLayout& layout) : m_reader(reader), m_layout(layout) {}

    void ReadHeader();
    void ReadDs64();
    void Run(const char* pszStopAt, uint64_t nStart);

private:
    uint64_t SizeOf(const ChunkReader::Header& header) const;
    bool IsLive(const ChunkReader::Header& header) const;
    RiffLayout::Entry LiveEntry(const ChunkReader::Header& header);
    uint64_t NextHeaderInHole(uint64_t nFrom);
    bool IsHeaderFoundInHole(uint64_t nOffset);
    bool AddDamagedFormat(const ChunkReader::Header& header);
    uint64_t TailChainStart(uint64_t nFrom);
    void AddHole(uint64_t nOffset, uint64_t nLength);

    ChunkReader& m_reader;
    RiffLayout& m_layout;
    std::map<std::string, uint64_t> m_ds64Table; // further 64-bit sizes of RF64
};

void Walk::ReadHeader()
{
    m_layout.nLength = m_reader.Length();
    const uint8_t* p = m_reader.View(0, riff::kHeaderSize);
    if (p == nullptr)
        return;
    if (std::memcmp(p, "RIFF", 4) == 0)
        m_layout.form = RiffLayout::Form::Riff;
    else if (std::memcmp(p, "RF64", 4) == 0 || std::memcmp(p, "BW64", 4) == 0)
        m_layout.form = RiffLayout::Form::Rf64;
    m_layout.nRiffSize = riff::Get32(p + 4, m_reader.IntelByteOrder());
}

// ds64: RIFF size, data size and sample count (64-bit each), then a table of
// further chunks' 64-bit sizes (identifier and size, 12 bytes an entry).
void Walk::ReadDs64()
{
    constexpr uint64_t kFixedBody = 28;
    ChunkReader::Header header;
    if (m_layout.form != RiffLayout::Form::Rf64 ||
        !m_reader.ReadHeader(riff::kHeaderSize, header) || std::memcmp(header.id, "ds64", 4) != 0 ||
        header.nSize < kFixedBody || header.bCutOff)
        return;
    const bool bIntel = m_reader.IntelByteOrder();
    const uint8_t* p = m_reader.View(riff::kHeaderSize + 8, header.nSize);
    if (p == nullptr)
        return;
    m_layout.bHasDs64 = true;
    m_layout.nDs64RiffSize = riff::Get64(p, bIntel);
    m_layout.nDs64DataSize = riff::Get64(p + 8, bIntel);
    m_layout.nDs64SampleCount = riff::Get64(p + 16, bIntel);
    const uint64_t nTable = riff::Get32(p + 24, bIntel);
    for (uint64_t i = 0; i < nTable && kFixedBody + 12 * (i + 1) <= header.nSize; ++i)
    {
        const uint8_t* pEntry = p + kFixedBody + 12 * i;
        m_ds64Table.emplace(std::string(reinterpret_cast<const char*>(pEntry), 4),
                            riff::Get64(pEntry + 4, bIntel));
    }
}

// The payload size, with RF64's 64-bit sizes where the header says 0xFFFFFFFF.
uint64_t Walk::SizeOf(const ChunkReader::Header& header) const
{
    if (header.nSize != kUnsetSize || !m_layout.bHasDs64)
        return header.nSize;
    const std::string id(header.id, 4);
    if (id == "data")
        return m_layout.nDs64DataSize;
    const auto found = m_ds64Table.find(id);
    return found == m_ds64Table.end() ? header.nSize : found->second;
}

bool Walk::IsLive(const ChunkReader::Header& header) const
{
    if (!ChunkReader::IsPrintableId(reinterpret_cast<const uint8_t*>(header.id)))
        return false;
    const std::string_view id(header.id, 4);
    if (id == "data")
        return true; // a recorder may never have finished its size
    const uint64_t nSize = SizeOf(header);
    // A format chunk too short for the format is what is left of one.
    if (id == "fmt " && nSize < kMinFormatBody)
        return false;
    return nSize <= m_layout.nLength - header.nOffset - riff::kChunkHeaderSize;
}

RiffLayout::Entry Walk::LiveEntry(const ChunkReader::Header& header)
{
    RiffLayout::Entry entry;
    entry.id.assign(header.id, 4);
    entry.nOffset = header.nOffset;
    entry.nSize = SizeOf(header);
    entry.nPayload = entry.nSize;
    if (entry.id == "data")
    {
        // Compared without adding, for RF64 sizes close to 2^64.
        const bool bUnset = header.nSize == kUnsetSize && entry.nSize == kUnsetSize;
        if (entry.nSize == 0 || bUnset || entry.nSize > m_layout.nLength - entry.PayloadOffset())
        {
            // The audio runs to the next live chunk, or to the end of the file.
            entry.nPayload = TailChainStart(entry.PayloadOffset()) - entry.PayloadOffset();
            entry.bUnfinished = entry.nPayload != entry.nSize;
            return entry;
        }
    }
    entry.bPad = m_reader.PadFollows(entry.PayloadOffset() + entry.nSize, entry.nSize);
    if (entry.id == "fmt " && m_layout.nBlockAlign == 0)
    {
        uint8_t align[2];
        if (m_reader.Read(entry.PayloadOffset() + 12, align, sizeof align))
            m_layout.nBlockAlign = riff::Get16(align, m_reader.IntelByteOrder());
        // A body of another size is read as the plain one it begins with.
        const bool bKnownBody = std::find(std::begin(kFormatBodies), std::end(kFormatBodies),
                                          entry.nSize) != std::end(kFormatBodies);
        const uint32_t nBody = bKnownBody ? static_cast<uint32_t>(entry.nSize) : kMinFormatBody;
        const uint8_t* p = entry.nSize < kMinFormatBody && !bKnownBody
                               ? nullptr
                               : m_reader.View(entry.PayloadOffset(), nBody);
        if (p != nullptr)
            if (const auto stated = PlausibleFormat(p, nBody, m_reader.IntelByteOrder()))
                m_layout.format = stated->format;
    }
    return entry;
}

// A header found by searching a hole: a well-known chunk that fits the file,
// or any plausible one that leads to a well-known one or to the end.
bool Walk::IsHeaderFoundInHole(uint64_t nOffset)
{
    ChunkReader::Header header;
    if (!m_reader.ReadHeader(nOffset, header) || !IsLive(header))
        return false;
    if (IsKnownId(header.id))
        return true;
    const uint64_t nEnd = header.End();
    if (nEnd == m_layout.nLength)
        return true;
    ChunkReader::Header next;
    return m_reader.ReadHeader(nEnd, next) && IsKnownId(next.id) && IsLive(next);
}

uint64_t Walk::NextHeaderInHole(uint64_t nFrom)
{
    const uint64_t nLast = std::min(m_layout.nLength, nFrom + kMaxHoleSearch);
    for (uint64_t nOffset = nFrom + 1; nOffset < nLast; ++nOffset)
    {
        // Zeros and 0xFF, what wiped remains are made of, start no identifier.
        uint8_t c = 0;
        if (!m_reader.Read(nOffset, &c, 1))
            break;
        if (c > 0x20 && c < 0x7F && IsHeaderFoundInHole(nOffset))
            return nOffset;
    }
    return m_layout.nLength;
}

// The first offset from nFrom at which a chain of headers steps, pad bytes and
// all, exactly to the end of the file; the end itself when none does. Chance
// bytes among samples practically never do: their size would have to name
// the distance to the end to the byte. Worked backwards from the end, so that
// every offset is looked at once.
uint64_t Walk::TailChainStart(uint64_t nFrom)
{
    const uint64_t nLength = m_layout.nLength;
    if (nFrom >= nLength)
        return nLength;
    const uint64_t nStart = std::max(nFrom, nLength - std::min(nLength, kTailWindow));
    const auto nBytes = static_cast<std::size_t>(nLength - nStart);
    const uint8_t* pTail = m_reader.View(nStart, nBytes);
    if (pTail == nullptr)
        return nLength;
    // reaches[i]: the headers from nStart + i step exactly to the end.
    std::vector<bool> reaches(nBytes + 1);
    reaches[nBytes] = true;
    for (std::size_t i = nBytes; i-- > 0;)
    {
        if (nBytes - i < riff::kChunkHeaderSize || !ChunkReader::IsPrintableId(pTail + i))
            continue;
        const uint64_t nEnd =
            i + riff::kChunkHeaderSize + riff::Get32(pTail + i + 4, m_reader.IntelByteOrder());
        if (nEnd > nBytes)
            continue;
        const bool bPadded =
            (nEnd - i) % 2 == 1 && nEnd < nBytes && pTail[nEnd] == 0 && reaches[nEnd + 1];
        reaches[i] = reaches[nEnd] || bPadded;
    }
    for (std::size_t i = 0; i < nBytes; ++i)
        if (reaches[i])
            return nStart + i;
    return nLength;
}

// A format chunk whose size leads to no header, or that is too short for its
// bits, is damaged when one of the bodies a format chunk can hold states a
// plausible format and a header follows it. The first such chunk only, and
// only where no live one came before.
bool Walk::AddDamagedFormat(const ChunkReader::Header& header)
{
    if (std::string_view(header.id, 4) != "fmt " || m_layout.nBlockAlign != 0 ||
        m_layout.damagedFormat ||
        (IsLive(header) && (header.End() == m_layout.nLength || IsHeaderFoundInHole(header.End()))))
        return false;
    for (const uint32_t nBody : kFormatBodies)
    {
        const uint8_t* p = m_reader.View(header.nOffset + riff::kChunkHeaderSize, nBody);
        std::optional<RiffLayout::DamagedFormat> damaged =
            p == nullptr ? std::nullopt : PlausibleFormat(p, nBody, m_reader.IntelByteOrder());
        if (!damaged || !IsHeaderFoundInHole(header.nOffset + riff::kChunkHeaderSize + nBody))
            continue;
        damaged->nEntry = m_layout.entries.size();
        m_layout.damagedFormat = damaged;
        RiffLayout::Entry& entry = m_layout.entries.emplace_back();
        entry.id.assign(header.id, 4);
        entry.nOffset = header.nOffset;
        entry.nSize = SizeOf(header);
        entry.nPayload = nBody;
        entry.bDamagedFormat = true;
        return true;
    }
    return false;
}

void Walk::AddHole(uint64_t nOffset, uint64_t nLength)
{
    RiffLayout::Entry& hole = m_layout.entries.emplace_back();
    hole.bHole = true;
    hole.nOffset = nOffset;
    hole.nSize = hole.nPayload = nLength;
    char id[4] = {};
    const auto nIdBytes = static_cast<std::size_t>(std::min<uint64_t>(4, nLength));
    m_reader.Read(nOffset, id, nIdBytes);
    hole.id.assign(id, nIdBytes);
}

void Walk::Run(const char* pszStopAt, uint64_t nStart)
{
    bool bBehindAudio = false;
    uint64_t nOffset = nStart;
    while (nOffset < m_layout.nLength && !m_reader.Failed())
    {
        ChunkReader::Header header;
        const bool bHeader = m_reader.ReadHeader(nOffset, header);
        if (bHeader && !bBehindAudio && AddDamagedFormat(header))
        {
            nOffset = m_layout.entries.back().End();
            continue;
        }
        if (!bHeader || !IsLive(header))
        {
            // No header stands here, so the search starts one byte on.
            const uint64_t nNext =
                bBehindAudio ? TailChainStart(nOffset + 1) : NextHeaderInHole(nOffset);
            AddHole(nOffset, nNext - nOffset);
            nOffset = nNext;
            continue;
        }
        const RiffLayout::Entry& entry = m_layout.entries.emplace_back(LiveEntry(header));
        nOffset = entry.End();
        bBehindAudio = bBehindAudio || entry.id == "data";
        if (pszStopAt != nullptr && entry.id == pszStopAt)
            return;
    }
}
} // namespace

RiffLayout RiffLayout::Read(ChunkReader& reader, const char* pszStopAt, uint64_t nStart)
{
    RiffLayout layout;
    Walk walk(reader, layout);
    walk.ReadHeader();
    walk.ReadDs64();
    walk.Run(pszStopAt, nStart);
    return layout;
}

std::size_t RiffLayout::IndexOf(std::string_view id) const
{
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [id](const Entry& entry) { return entry.Is(id); });
    return found == entries.end() ? std::string::npos
                                  : static_cast<std::size_t>(found - entries.begin());
}

const RiffLayout::Entry* RiffLayout::Find(std::string_view id) const
{
    const std::size_t nIndex = IndexOf(id);
    return nIndex == std::string::npos ? nullptr : &entries[nIndex];
}
