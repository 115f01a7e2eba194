#include "RiffFile.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "ChunkReader.h"
#include "RiffIO.h"
#include "RiffLayout.h"
#include "Trace.h"

namespace
{
// The file under a stream, for a walk by descriptor: anything the stream still
// holds unwritten goes to the file first, so that the walk sees what the
// stream's user sees.
bool Measure(FILE* pFile, uint64_t& nLength)
{
    struct stat info;
    if (fflush(pFile) != 0 || fstat(fileno(pFile), &info) != 0)
        return false;
    nLength = static_cast<uint64_t>(info.st_size);
    return true;
}

void TraceHeader(std::string_view id)
{
    CTrace::Line("** Chunk = ", id.substr(0, strnlen(id.data(), id.size())));
}

uint32_t Found(uint64_t nOffset)
{
    // The result is 32-bit: a chunk beyond 4 GiB cannot be reported.
    if (nOffset > UINT32_MAX)
        return 0;
    CTrace::Line("   --- Found at: ", std::to_string(nOffset));
    return static_cast<uint32_t>(nOffset);
}
} // namespace

uint32_t CRiffFile::SearchForChunk(FILE* pFile, uint64_t nStart, const char* pszChunk, bool bNoSkip,
                                   bool bIntelByteOrder)
{
    CTrace::Line("In CRiffFile::SearchForChunk");
    CTrace::Line("pszChunk = ", pszChunk);
    uint64_t nLength = 0;
    if (!Measure(pFile, nLength))
        return 0;
    ChunkReader reader(fileno(pFile), nLength, bIntelByteOrder);
    if (bNoSkip)
    {
        // Every 8-byte step, payloads and all.
        for (uint64_t nOffset = nStart; const uint8_t* pId = reader.View(nOffset, 4); nOffset += 8)
        {
            const std::string_view id(reinterpret_cast<const char*>(pId), 4);
            TraceHeader(id);
            if (id == pszChunk)
                return Found(nOffset);
            if (reader.View(nOffset + 4, 4) == nullptr)
                break;
        }
        return 0;
    }
    for (const RiffLayout::Entry& entry : RiffLayout::Read(reader, pszChunk, nStart).entries)
    {
        TraceHeader(entry.id);
        if (entry.Is(pszChunk))
            return Found(entry.nOffset);
    }
    return 0;
}

namespace
{
// Removes the chunk at nOffset with its pad byte and reports the new length.
// Everything is checked before the first byte is written.
bool RemoveChunk(int fd, uint64_t nOffset, const char* pszChunk, uint64_t nLength,
                 bool bIntelByteOrder, uint64_t& nNewLength)
{
    ChunkReader reader(fd, nLength, bIntelByteOrder);
    ChunkReader::Header header;
    const uint8_t* pForm = reader.View(0, 4);
    if (pForm == nullptr || std::memcmp(pForm, "RIFF", 4) != 0 ||
        !reader.ReadHeader(nOffset, header) || std::string_view(header.id, 4) != pszChunk ||
        header.bCutOff)
        return false;
    const std::unique_ptr<uint8_t[]> pBuffer(new (std::nothrow) uint8_t[riff::kBlockSize]);
    if (!pBuffer)
        return false;
    const uint64_t nEnd = header.End();
    nNewLength = nLength - (nEnd - nOffset);
    uint8_t riffSize[4];
    riff::Put32(riffSize, static_cast<uint32_t>(nNewLength - 8), bIntelByteOrder);
    return riff::MoveBytes(fd, nEnd, fd, nOffset, nLength - nEnd, pBuffer.get(),
                           riff::kBlockSize) &&
           ftruncate(fd, static_cast<off_t>(nNewLength)) == 0 &&
           riff::WriteAt(fd, 4, riffSize, sizeof riffSize);
}
} // namespace

bool CRiffFile::DeleteChunk(const char* pszChunk)
{
    if (!m_bPathSet || pszChunk == nullptr)
        return false;
    const StreamUse stream(*this, true);
    // A file longer than a RIFF size can state would get a wrapped one.
    if (!stream || m_nFileLength > riff::kMaxRiffLength)
        return false;
    const uint64_t nOffset =
        SearchForChunk(m_pFile, riff::kHeaderSize, pszChunk, false, m_bIntelByteOrder);
    uint64_t nNewLength = 0;
    const bool bRemoved = nOffset != 0 && RemoveChunk(fileno(m_pFile), nOffset, pszChunk,
                                                      m_nFileLength, m_bIntelByteOrder, nNewLength);
    // The stream's buffer may hold bytes from before the move: drop them.
    fflush(m_pFile);
    if (bRemoved)
        m_nFileLength = nNewLength;
    return bRemoved;
}
