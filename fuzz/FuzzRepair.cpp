// The repair on any bytes, in any of three depths (the first input byte picks
// it): a file it leaves alone stays byte for byte as it was; one it changes has
// the plan's length and walks as a repaired file must. The check inside the
// repair never fails: a failing one is a plan that does not do what it says.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "ChunkReader.h"
#include "FuzzScratch.h"
#include "KorvaWav.h"
#include "WavBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    if (nSize == 0)
        return 0;
    const auto path = FuzzScratch::Get().Write("repair.wav", pData + 1, nSize - 1);
    WavFormat format;
    format.nBitsPerSample = static_cast<uint16_t>(8 * (1 + pData[0] % 3));
    KorvaWavFile file;
    file.SetPath(path.c_str(), true);
    file.RepairFMTChunk(format);
    const auto after = fixture::readFile(path);

    using Outcome = KorvaWavFile::RepairOutcome;
    const Outcome eOutcome = file.GetRepairOutcome();
    const RepairPlan& plan = file.GetRepairPlan();
    if (eOutcome == Outcome::CheckFailed || eOutcome == Outcome::IoFailed || file.m_bFileOpen)
    {
        // What went wrong, for the report beside the input that did it.
        std::fprintf(stderr, "repair outcome %d, check: %s, errno %d\n", static_cast<int>(eOutcome),
                     file.GetCheckProblem().c_str(), errno);
        abort();
    }
    const bool bChanged = eOutcome == Outcome::Written || eOutcome == Outcome::Inserted ||
                          eOutcome == Outcome::Mended || eOutcome == Outcome::SizesRepaired;
    if (bChanged != plan.Changes())
        abort();
    if (!bChanged &&
        (after.size() != nSize - 1 || !std::equal(after.begin(), after.end(), pData + 1)))
        abort();
    if (bChanged && after.size() != plan.nLength)
        abort();
    return 0;
}
