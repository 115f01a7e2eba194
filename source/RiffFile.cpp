#include "RiffFile.h"

#include <cerrno>
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

void TraceSearchStart(const char* pszChunk)
{
    CTrace::Line("In CRiffFile::SearchForChunk");
    CTrace::Line("pszChunk = ", pszChunk);
}

// A walk's entries up to the first live chunk named pszChunk, traced.
uint32_t FindTraced(const RiffLayout& layout, const char* pszChunk)
{
    for (const RiffLayout::Entry& entry : layout.entries)
    {
        TraceHeader(entry.id);
        if (entry.Is(pszChunk))
            return Found(entry.nOffset);
    }
    return 0;
}
} // namespace

uint32_t CRiffFile::SearchWalked(const RiffLayout& layout, const char* pszChunk)
{
    TraceSearchStart(pszChunk);
    return FindTraced(layout, pszChunk);
}

uint32_t CRiffFile::SearchForChunk(FILE* pFile, uint64_t nStart, const char* pszChunk, bool bNoSkip,
                                   bool bIntelByteOrder)
{
    TraceSearchStart(pszChunk);
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
    return FindTraced(RiffLayout::Read(reader, pszChunk, nStart), pszChunk);
}

namespace
{
// Removes the chunk at nOffset, which ends at nEnd, and reports the new length.
bool RemoveChunk(int fd, uint64_t nOffset, uint64_t nEnd, uint64_t nLength, bool bIntelByteOrder,
                 uint64_t& nNewLength)
{
    const std::unique_ptr<uint8_t[]> pBuffer(new (std::nothrow) uint8_t[riff::kBlockSize]);
    if (!pBuffer)
    {
        errno = ENOMEM;
        return false;
    }
    nNewLength = nLength - (nEnd - nOffset);
    uint8_t riffSize[4];
    riff::Put32(riffSize, static_cast<uint32_t>(nNewLength - 8), bIntelByteOrder);
    return riff::MoveBytes(fd, nEnd, fd, nOffset, nLength - nEnd, pBuffer.get(),
                           riff::kBlockSize) == riff::Moved::All &&
           ftruncate(fd, static_cast<off_t>(nNewLength)) == 0 &&
           riff::WriteAt(fd, 4, riffSize, sizeof riffSize);
}
} // namespace

// Everything is checked before the first byte is written, and in this order,
// so that a refusal names the first thing wrong: an RF64 file of 5 GiB is
// refused as RF64, not as too large.
CRiffFile::Deletion CRiffFile::Check(const char* pszChunk, ChunkSpan& span)
{
    if (!Measure(m_pFile, span.nLength))
        return WithSystemError(Deletion::IoFailed);
    ChunkReader reader(fileno(m_pFile), span.nLength, m_bIntelByteOrder);
    const uint8_t* pForm = reader.View(0, 4);
    const auto formIs = [pForm](const char* pszForm)
    { return pForm != nullptr && std::memcmp(pForm, pszForm, 4) == 0; };
    if (!formIs("RIFF"))
        return formIs("RF64") || formIs("BW64") ? Deletion::Rf64 : Deletion::NotRiff;
    // A file longer than a RIFF size can state would get a wrapped one.
    if (span.nLength > riff::kMaxRiffLength)
        return Deletion::TooLarge;
    span.nOffset = SearchForChunk(m_pFile, riff::kHeaderSize, pszChunk, false, m_bIntelByteOrder);
    ChunkReader::Header header;
    if (span.nOffset == 0 || !reader.ReadHeader(span.nOffset, header) ||
        std::string_view(header.id, 4) != pszChunk)
        return Deletion::NoSuchChunk;
    span.nEnd = header.End();
    return header.bCutOff ? Deletion::CutOff : Deletion::Deleted;
}

CRiffFile::Deletion CRiffFile::CheckDeleteChunk(const char* pszChunk)
{
    m_nSystemError = errno = 0;
    if (!m_bPathSet || pszChunk == nullptr)
        return Deletion::Unopened;
    const StreamUse stream(*this, false);
    if (!stream)
        return WithSystemError(Deletion::Unopened);
    ChunkSpan span;
    return Check(pszChunk, span);
}

bool CRiffFile::DeleteChunk(const char* pszChunk)
{
    m_nSystemError = errno = 0; // a failure that sets none is told as 0
    m_eDeletion = Deletion::Unopened;
    if (!m_bPathSet || pszChunk == nullptr)
        return false;
    const StreamUse stream(*this, true);
    if (!stream)
        return WithSystemError(false);
    ChunkSpan span;
    m_eDeletion = Check(pszChunk, span);
    if (m_eDeletion != Deletion::Deleted)
        return false;
    uint64_t nNewLength = 0;
    if (!RemoveChunk(fileno(m_pFile), span.nOffset, span.nEnd, span.nLength, m_bIntelByteOrder,
                     nNewLength))
        m_eDeletion = WithSystemError(Deletion::IoFailed);
    // The stream's buffer may hold bytes from before the move: drop them.
    fflush(m_pFile);
    if (m_eDeletion == Deletion::Deleted)
        m_nFileLength = nNewLength;
    return m_eDeletion == Deletion::Deleted;
}
