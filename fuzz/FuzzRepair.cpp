// The repair on any bytes: a file it refuses stays byte for byte as it was;
// one it changes grows by the 24 bytes it inserts at most.
#include <cstdlib>

#include "FuzzScratch.h"
#include "KorvaWav.h"
#include "WavBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    const auto path = FuzzScratch::Get().Write("repair.wav", pData, nSize);
    KorvaWavFile file;
    file.SetPath(path.c_str(), true);
    const bool bResult = file.RepairFMTChunk(48000, 24);
    const auto after = fixture::readFile(path);

    using Outcome = KorvaWavFile::RepairOutcome;
    const Outcome eOutcome = file.GetRepairOutcome();
    const bool bChanged = eOutcome == Outcome::Written || eOutcome == Outcome::Inserted;
    if (bResult != (bChanged || eOutcome == Outcome::NoBext))
        abort();
    if (!bChanged && (after.size() != nSize || !std::equal(after.begin(), after.end(), pData)))
        abort();
    if (eOutcome == Outcome::Inserted && after.size() != nSize + KorvaWavFile::kFormatChunkSize)
        abort();
    if (eOutcome == Outcome::Written && after.size() > nSize + KorvaWavFile::kFormatChunkSize)
        abort();
    return 0;
}
