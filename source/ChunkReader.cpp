#include "ChunkReader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "RiffIO.h"

ChunkReader::ChunkReader(int fd, uint64_t nLength, bool bIntelByteOrder)
    : m_fd(fd), m_nLength(nLength), m_bIntelByteOrder(bIntelByteOrder)
{
}

const uint8_t* ChunkReader::View(uint64_t nOffset, std::size_t nBytes)
{
    if (nOffset > m_nLength || nBytes > m_nLength - nOffset)
        return nullptr;
    if (nOffset >= m_nWindowStart && nOffset + nBytes <= m_nWindowStart + m_nWindowLength)
        return m_window.data() + (nOffset - m_nWindowStart);

    const std::size_t nWanted = static_cast<std::size_t>(
        std::min<uint64_t>(std::max(nBytes, kWindowSize), m_nLength - nOffset));
    if (m_window.size() < nWanted)
        m_window.resize(nWanted);
    std::size_t nHave = 0;
    while (nHave < nWanted)
    {
        const ssize_t n = pread(m_fd, m_window.data() + nHave, nWanted - nHave,
                                static_cast<off_t>(nOffset + nHave));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            m_nError = errno;
        if (n <= 0)
            break;
        nHave += static_cast<std::size_t>(n);
    }
    m_nWindowStart = nOffset;
    m_nWindowLength = nHave;
    // A file that shrank since it was measured ends where the read ended.
    return nHave >= nBytes ? m_window.data() : nullptr;
}

bool ChunkReader::Read(uint64_t nOffset, void* pOut, std::size_t nBytes)
{
    const uint8_t* p = View(nOffset, nBytes);
    if (p != nullptr && nBytes != 0) // an empty payload may come with no buffer at all
        std::memcpy(pOut, p, nBytes);
    return p != nullptr;
}

bool ChunkReader::IsPrintableId(const uint8_t* pId)
{
    return pId[0] != ' ' &&
           std::all_of(pId, pId + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

bool ChunkReader::ReadHeader(uint64_t nOffset, Header& header)
{
    const uint8_t* p = View(nOffset, riff::kChunkHeaderSize);
    if (p == nullptr)
        return false;
    std::memcpy(header.id, p, 4);
    header.nOffset = nOffset;
    header.nSize = riff::Get32(p + 4, m_bIntelByteOrder);
    header.bCutOff = header.PayloadEnd() > m_nLength;
    header.bPad = !header.bCutOff && PadFollows(header.PayloadEnd(), header.nSize);
    return true;
}

bool ChunkReader::IsPlausibleHeader(uint64_t nOffset)
{
    const uint8_t* p = View(nOffset, riff::kChunkHeaderSize);
    if (p == nullptr || !IsPrintableId(p))
        return false;
    const uint64_t nEnd = nOffset + riff::kChunkHeaderSize + riff::Get32(p + 4, m_bIntelByteOrder);
    return nEnd <= m_nLength || std::memcmp(p, "data", 4) == 0;
}

bool ChunkReader::PadFollows(uint64_t nPayloadEnd, uint64_t nSize)
{
    if (nSize % 2 == 0 || nPayloadEnd >= m_nLength)
        return false;
    uint8_t nPad = 0xFF;
    return Read(nPayloadEnd, &nPad, 1) && nPad == 0 &&
           (nPayloadEnd + 1 == m_nLength || IsPlausibleHeader(nPayloadEnd + 1));
}
