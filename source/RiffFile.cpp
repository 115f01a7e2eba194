#include "RiffFile.h"

#include <cstring>
#include <string>

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
