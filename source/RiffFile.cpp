#include "RiffFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unistd.h>

#include "RiffIO.h"
#include "Trace.h"

uint32_t CRiffFile::SearchForChunk(FILE* pFile, uint64_t nStart, const char* pszChunk, bool bNoSkip,
                                   bool bIntelByteOrder)
{
    CTrace::Line("In CRiffFile::SearchForChunk");
    CTrace::Line("pszChunk = ", pszChunk);

    uint64_t nFileLength = 0;
    if (!riff::SeekEnd(pFile, nFileLength) || !riff::Seek(pFile, nStart))
        return 0;

    // Positions are 64-bit and only ever grow, so the walk cannot wrap and
    // always ends at the end of the file.
    uint64_t nPos = nStart;
    while (nPos + 4 <= nFileLength)
    {
        char szId[5];
        if (!riff::ReadId(pFile, szId))
            return 0;
        CTrace::Line("** Chunk = ", std::string_view(szId, strnlen(szId, 4)));
        if (strcmp(szId, pszChunk) == 0)
        {
            // The result is 32-bit: a chunk beyond 4 GiB cannot be reported.
            if (nPos > UINT32_MAX)
                return 0;
            CTrace::Line("   --- Found at: ", std::to_string(nPos));
            return static_cast<uint32_t>(nPos);
        }

        uint32_t nSize = 0;
        if (!riff::ReadU32(pFile, bIntelByteOrder, nSize))
            return 0;
        nPos += riff::kChunkHeaderSize;
        if (!bNoSkip)
        {
            uint64_t nSkip = nSize;
            // Only a data chunk is followed by a pad byte when its size is odd.
            if (strcmp(szId, "data") == 0 && nSize % 2 == 1)
                ++nSkip;
            nPos += nSkip;
            if (nPos + 4 > nFileLength || !riff::Seek(pFile, nPos))
                return 0;
        }
    }
    return 0;
}

namespace
{
constexpr uint64_t kMoveBlockSize = 614400; // 600 KiB: memory stays fixed whatever the file size

// Moves nLength bytes from nFrom down to nTo (nTo < nFrom) in ascending
// blocks: every block lands below the bytes still to be read.
bool MoveTailDown(FILE* pFile, uint64_t nFrom, uint64_t nTo, uint64_t nLength, uint8_t* pBuffer)
{
    for (uint64_t nDone = 0; nDone < nLength;)
    {
        const uint64_t nBlock = std::min(kMoveBlockSize, nLength - nDone);
        if (!riff::Seek(pFile, nFrom + nDone) || !riff::ReadBytes(pFile, pBuffer, nBlock) ||
            !riff::Seek(pFile, nTo + nDone) || !riff::WriteBytes(pFile, pBuffer, nBlock))
            return false;
        nDone += nBlock;
    }
    return true;
}

// Removes the chunk from the open stream and reports the new file length.
// Everything is checked before the first byte is written.
bool RemoveChunk(FILE* pFile, const char* pszChunk, bool bIntelByteOrder, uint64_t& nNewLength)
{
    const uint64_t nOffset =
        CRiffFile::SearchForChunk(pFile, riff::kHeaderSize, pszChunk, false, bIntelByteOrder);
    if (nOffset == 0)
        return false;
    char szId[5];
    uint32_t nSize = 0;
    uint64_t nFileLength = 0;
    if (!riff::Seek(pFile, nOffset) || !riff::ReadId(pFile, szId) || strcmp(szId, pszChunk) != 0 ||
        !riff::ReadU32(pFile, bIntelByteOrder, nSize) || !riff::SeekEnd(pFile, nFileLength))
        return false;

    // The pad byte behind an odd-sized chunk is not part of it and stays.
    const uint64_t nChunkEnd = nOffset + riff::kChunkHeaderSize + nSize;
    if (nChunkEnd > nFileLength)
        return false; // the size runs past the end: moving would underflow
    const std::unique_ptr<uint8_t[]> pBuffer(new (std::nothrow) uint8_t[kMoveBlockSize]());
    if (!pBuffer)
        return false;

    nNewLength = nFileLength - (nChunkEnd - nOffset);
    // The moved bytes are flushed before the cut so that none lands behind it.
    return MoveTailDown(pFile, nChunkEnd, nOffset, nFileLength - nChunkEnd, pBuffer.get()) &&
           fflush(pFile) == 0 && ftruncate(fileno(pFile), static_cast<off_t>(nNewLength)) == 0 &&
           riff::Seek(pFile, 4) &&
           riff::WriteU32(pFile, bIntelByteOrder, static_cast<uint32_t>(nNewLength - 8)) &&
           fflush(pFile) == 0;
}
} // namespace

bool CRiffFile::DeleteChunk(const char* pszChunk)
{
    if (!m_bPathSet || pszChunk == nullptr)
        return false;
    Close();
    if (!Open("r+"))
        return false;
    uint64_t nNewLength = 0;
    const bool bRemoved = RemoveChunk(m_pFile, pszChunk, m_bIntelByteOrder, nNewLength);
    if (bRemoved)
        m_nFileLength = nNewLength;
    Close();
    return bRemoved;
}
