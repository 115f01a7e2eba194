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
        if (!m_reader.ReadHeader(nOffset, header) || !IsLive(header))
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
