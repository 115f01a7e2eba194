#include "RiffFile.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "RiffIO.h"
#include "Trace.h"

namespace
{
// The stepping rule, shared by every walk over the chunk headers: where the
// walk stands and how far the file goes. Positions are 64-bit and only ever
// grow, so a walk cannot wrap and always ends at the end of the file.
//
// Headers are read with pread through a window of their own, so that a walk
// over the headers near the start of a file costs one read instead of a seek
// and a read per chunk; the stream's own buffer and position are not used.
struct ChunkStep
{
    static constexpr uint64_t kWindowSize = 4096;

    int fd = -1;
    bool bIntelByteOrder = true;
    uint64_t nPos = 0; // offset of the header to read next
    uint64_t nWindowStart = 0;
    uint64_t nWindowLength = 0;
    uint8_t window[kWindowSize];

    // Copies nBytes (at most the window's size) from nOffset; false when the
    // file ends first.
    bool Read(uint64_t nOffset, void* pOut, uint64_t nBytes)
    {
        if (nOffset < nWindowStart || nOffset + nBytes > nWindowStart + nWindowLength)
        {
            const ssize_t nRead = pread(fd, window, kWindowSize, static_cast<off_t>(nOffset));
            if (nRead < 0)
                return false;
            nWindowStart = nOffset;
            nWindowLength = static_cast<uint64_t>(nRead);
            if (nBytes > nWindowLength)
                return false;
        }
        memcpy(pOut, window + (nOffset - nWindowStart), nBytes);
        return true;
    }
};

// Starts a walk at nStart. Anything the stream still holds unwritten goes to the
// file first, so that the walk sees what the stream's user sees. The walk needs
// no file length: a header read that comes up short is the end of the file.
bool BeginWalk(FILE* pFile, uint64_t nStart, bool bIntelByteOrder, ChunkStep& step)
{
    if (fflush(pFile) != 0)
        return false;
    step.fd = fileno(pFile);
    step.bIntelByteOrder = bIntelByteOrder;
    step.nPos = nStart;
    return true;
}

// Reads the identifier of the next header; false when fewer than 4 bytes are
// left for it (room for the identifier is all that is asked, not a whole header).
bool ReadNextId(ChunkStep& step, char (&szId)[5])
{
    if (!step.Read(step.nPos, szId, 4))
        return false;
    szId[4] = '\0';
    return true;
}

// Reads the size behind the identifier just read; false when it is cut off.
bool ReadSize(ChunkStep& step, uint32_t& nSize)
{
    uint32_t nRead = 0;
    if (!step.Read(step.nPos + 4, &nRead, 4))
        return false;
    nSize = step.bIntelByteOrder ? nRead : riff::Swap32(nRead);
    step.nPos += riff::kChunkHeaderSize;
    return true;
}

// Moves behind the payload of the chunk whose header was just read.
void SkipPayload(ChunkStep& step, const char* szId, uint32_t nSize)
{
    uint64_t nSkip = nSize;
    // Only a data chunk is followed by a pad byte when its size is odd.
    if (strcmp(szId, "data") == 0 && nSize % 2 == 1)
        ++nSkip;
    step.nPos += nSkip;
}
} // namespace

uint32_t CRiffFile::SearchForChunk(FILE* pFile, uint64_t nStart, const char* pszChunk, bool bNoSkip,
                                   bool bIntelByteOrder)
{
    CTrace::Line("In CRiffFile::SearchForChunk");
    CTrace::Line("pszChunk = ", pszChunk);

    ChunkStep step;
    if (!BeginWalk(pFile, nStart, bIntelByteOrder, step))
        return 0;
    char szId[5];
    while (ReadNextId(step, szId))
    {
        CTrace::Line("** Chunk = ", std::string_view(szId, strnlen(szId, 4)));
        if (strcmp(szId, pszChunk) == 0)
        {
            // The result is 32-bit: a chunk beyond 4 GiB cannot be reported.
            if (step.nPos > UINT32_MAX)
                return 0;
            CTrace::Line("   --- Found at: ", std::to_string(step.nPos));
            return static_cast<uint32_t>(step.nPos);
        }
        uint32_t nSize = 0;
        if (!ReadSize(step, nSize))
            return 0;
        // Without skipping, the next identifier is read right behind the size.
        if (!bNoSkip)
            SkipPayload(step, szId, nSize);
    }
    return 0;
}

std::vector<CRiffFile::ChunkEntry> CRiffFile::ListChunks(FILE* pFile, uint64_t nStart,
                                                         bool bIntelByteOrder)
{
    std::vector<ChunkEntry> chunks;
    ChunkStep step;
    struct stat info;
    if (!BeginWalk(pFile, nStart, bIntelByteOrder, step) || fstat(step.fd, &info) != 0)
        return chunks;
    const auto nFileLength = static_cast<uint64_t>(info.st_size);
    char szId[5];
    while (ReadNextId(step, szId))
    {
        ChunkEntry& entry = chunks.emplace_back();
        entry.id.assign(szId, 4);
        entry.nOffset = step.nPos;
        if (!ReadSize(step, entry.nSize))
        {
            entry.bCutOff = true;
            break;
        }
        entry.bCutOff = step.nPos + entry.nSize > nFileLength;
        SkipPayload(step, szId, entry.nSize);
    }
    return chunks;
}

namespace
{

// Moves nLength bytes from nFrom down to nTo (nTo < nFrom) in ascending
// blocks: every block lands below the bytes still to be read.
bool MoveTailDown(FILE* pFile, uint64_t nFrom, uint64_t nTo, uint64_t nLength, uint8_t* pBuffer)
{
    for (uint64_t nDone = 0; nDone < nLength;)
    {
        const uint64_t nBlock = std::min<uint64_t>(CRiffFile::kBlockSize, nLength - nDone);
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
    const std::unique_ptr<uint8_t[]> pBuffer(new (std::nothrow) uint8_t[CRiffFile::kBlockSize]());
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
