// New files and appends from any source bytes. The first 8 input bytes are the
// frame range, the rest is the source. A refused CreateNewFile leaves no file;
// a written one reads back with exactly the frames asked for, and appending the
// same range to it doubles them; a refused append leaves the file as it was.
#include <cstdlib>
#include <filesystem>

#include "FuzzScratch.h"
#include "WavBuilder.h"
#include "WavFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize < 8)
        return 0;
    const uint32_t nStart = pData[0] | pData[1] << 8 | pData[2] << 16 | uint32_t{pData[3]} << 24;
    const uint32_t nEnd = pData[4] | pData[5] << 8 | pData[6] << 16 | uint32_t{pData[7]} << 24;
    const FuzzScratch& scratch = FuzzScratch::Get();
    CWavFile source(scratch.Write("source.wav", pData + 8, nSize - 8).c_str());
    const auto out = scratch.Path("new.wav");
    std::filesystem::remove(out);

    if (!source.CreateNewFile(out.c_str(), nStart, nEnd))
    {
        if (std::filesystem::exists(out))
            abort();
        return 0;
    }
    const uint64_t nBytes = uint64_t{nEnd - nStart} * source.m_nBlockAlign;
    if (CWavFile(out.c_str()).GetDataLength() != nBytes)
        abort();
    const auto before = fixture::readFile(out);
    const bool bAppended = source.AppendToFile(out.c_str(), nStart, nEnd);
    if (CWavFile(out.c_str()).GetDataLength() != (bAppended ? 2 * nBytes : nBytes) ||
        (!bAppended && fixture::readFile(out) != before))
        abort();
    return 0;
}
