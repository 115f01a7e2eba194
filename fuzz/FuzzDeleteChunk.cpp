// Chunk deletion on any bytes. The first input byte picks the identifier, the
// rest is the file. A refused deletion leaves the file as it was; a done one
// only ever shortens it, leaves the bytes in front of the chunk alone and
// makes the RIFF size the new length minus 8.
#include <algorithm>
#include <cstdlib>

#include "FuzzScratch.h"
#include "RiffFile.h"
#include "WavBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const char* const kIds[] = {"data", "fmt ", "bext", "JUNK", "LIST", "RIFF"};
    if (nSize == 0)
        return 0;
    const char* pszId = kIds[pData[0] % std::size(kIds)];
    const uint8_t* pFile = pData + 1;
    const size_t nFile = nSize - 1;
    const auto path = FuzzScratch::Get().Write("delete.wav", pFile, nFile);

    CRiffFile file;
    file.SetPath(path.c_str(), true);
    const bool bDeleted = file.DeleteChunk(pszId);
    const auto after = fixture::readFile(path);
    if (file.m_bFileOpen)
        abort();
    if (!bDeleted && (after.size() != nFile || !std::equal(after.begin(), after.end(), pFile)))
        abort();
    if (bDeleted &&
        (after.size() < 12 || after.size() >= nFile || after.size() != file.GetLength() ||
         !std::equal(after.begin() + 8, after.begin() + 12, pFile + 8) ||
         (after[4] | after[5] << 8 | after[6] << 16 | uint32_t{after[7]} << 24) !=
             after.size() - 8))
        abort();
    return 0;
}
