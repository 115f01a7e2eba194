// The chunk walks and the property reader on any bytes: they must end, stay
// inside the file and record only offsets of chunks that are there. The
// tolerant walk accounts for every byte from offset 12: its entries follow one
// another without a gap or an overlap to the end of the file.
#include <cstdio>
#include <cstdlib>

#include "ChunkReader.h"
#include "FuzzScratch.h"
#include "RiffLayout.h"
#include "WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const auto path = FuzzScratch::Get().Write("walk.wav", pData, nSize);
    CWavFile file(path.c_str()); // six walks from offset 12
    for (const uint64_t nOffset :
         {file.m_nDataOffset, file.m_nRegnOffset, file.m_nCueOffset, file.m_nAfjxOffset})
        if (nOffset != 0 && (nOffset < 12 || nOffset + 8 > nSize))
            abort();
    if (file.m_bFileOpen)
        abort();
    file.GetNumberOfProToolsRegions();

    FILE* pFile = fopen(path.c_str(), "rb");
    if (pFile == nullptr)
        abort();
    ChunkReader reader(fileno(pFile), nSize, true);
    uint64_t nNext = 12;
    for (const RiffLayout::Entry& entry : RiffLayout::Read(reader).entries)
    {
        if (entry.nOffset != nNext || entry.End() <= entry.nOffset || entry.End() > nSize)
            abort();
        nNext = entry.End();
    }
    if (nSize > 12 && nNext != nSize)
        abort();
    // The byte-by-byte walk, and the Broadcast Wave reader on whatever it finds.
    const uint32_t nBext = CRiffFile::SearchForChunk(pFile, 12, "bext", true, false);
    bool bFound = false;
    CWavFile::GetTimeStampFromBWF(pFile, nBext, bFound, true);
    fclose(pFile);
    return 0;
}
