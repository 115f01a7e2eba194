// The chunk walk and the property reader on any bytes: they must end, stay
// inside the file and record only offsets of chunk headers that are there.
#include <cstdio>
#include <cstdlib>

#include "FuzzScratch.h"
#include "WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const auto path = FuzzScratch::Get().Write("walk.wav", pData, nSize);
    CWavFile file(path.c_str()); // six walks from offset 12
    for (const uint64_t nOffset :
         {file.m_nDataOffset, file.m_nRegnOffset, file.m_nCueOffset, file.m_nAfjxOffset})
        if (nOffset != 0 && (nOffset < 12 || nOffset + 4 > nSize))
            abort();
    if (file.m_bFileOpen)
        abort();
    file.GetNumberOfProToolsRegions();

    FILE* pFile = fopen(path.c_str(), "rb");
    if (pFile == nullptr)
        abort();
    // The byte-by-byte walk, and the Broadcast Wave reader on whatever it finds.
    const uint32_t nBext = CRiffFile::SearchForChunk(pFile, 12, "bext", true, false);
    bool bFound = false;
    CWavFile::GetTimeStampFromBWF(pFile, nBext, bFound, true);
    fclose(pFile);
    return 0;
}
