#include "KorvaWav.h"

#include <memory>
#include <new>
#include <unistd.h>
#include <vector>

#include "ChunkReader.h"
#include "RiffIO.h"
#include "Trace.h"

bool KorvaWavFile::SetPath(const char* pszPath, bool bIntelByteOrder)
{
    const bool bSet = CAudioFile::SetPath(pszPath, bIntelByteOrder);
    if (bSet)
        DoGetProperties(true);
    return bSet;
}

bool KorvaWavFile::RepairFMTChunk(uint32_t nSampleRate, uint16_t nBitsPerSample)
{
    WavFormat format;
    format.nSampleRate = nSampleRate;
    format.nBitsPerSample = nBitsPerSample;
    return RepairFMTChunk(format);
}

bool KorvaWavFile::RepairFMTChunk(const WavFormat& format)
{
    m_plan = RepairPlan();
    m_sProblem.clear();
    m_eOutcome = Repair(format);
    return m_eOutcome == RepairOutcome::Written || m_eOutcome == RepairOutcome::Inserted ||
           m_eOutcome == RepairOutcome::Mended || m_eOutcome == RepairOutcome::NoBext;
}

KorvaWavFile::RepairOutcome KorvaWavFile::Repair(const WavFormat& format)
{
    const StreamUse stream(*this, true);
    if (!stream)
        return RepairOutcome::OpenFailed;
    // The walk and the writes go by the descriptor; the stream's buffer is
    // emptied before them and dropped after, so that it never holds old bytes.
    if (fflush(m_pFile) != 0)
        return RepairOutcome::IoFailed;
    const int fd = fileno(m_pFile);
    ChunkReader reader(fd, m_nFileLength, m_bIntelByteOrder);
    const RiffLayout layout = RiffLayout::Read(reader);
    if (SearchWalked(layout, "fmt ") == 0)
        SearchWalked(layout, "bext");
    m_plan = RepairPlan::Make(layout, format, m_bIntelByteOrder);
    if (reader.Failed())
        return RepairOutcome::IoFailed;

    using Verdict = RepairPlan::Verdict;
    switch (m_plan.verdict)
    {
    case Verdict::NotRiff:
        return RepairOutcome::NotRiff;
    case Verdict::NoBext:
        return RepairOutcome::NoBext;
    case Verdict::NoData:
        return RepairOutcome::NoData;
    case Verdict::TooLarge:
        return RepairOutcome::TooLarge;
    case Verdict::NotWholeFrames:
        return RepairOutcome::NotWholeFrames;
    case Verdict::Intact:
    case Verdict::SizesUnfinished:
        CTrace::Line("FMT Chunk Exists - return");
        break;
    case Verdict::FormatMissing:
    case Verdict::FormatDamaged:
        break;
    }
    if (!m_plan.Changes())
        return RepairOutcome::FormatExists;

    const bool bWritten = ShapeInPlace(fd, m_nFileLength, m_plan) && WriteRepair(fd, m_plan);
    fflush(m_pFile);
    m_nFileLength = m_plan.nLength;
    if (!bWritten)
        return RepairOutcome::IoFailed;
    ChunkReader check(fd, m_plan.nLength, m_bIntelByteOrder);
    m_sProblem = RepairPlan::Check(RiffLayout::Read(check));
    if (check.Failed())
        return RepairOutcome::IoFailed;
    if (!m_sProblem.empty())
        return RepairOutcome::CheckFailed;
    if (m_plan.verdict == Verdict::SizesUnfinished)
        return RepairOutcome::SizesRepaired;
    if (m_plan.verdict == Verdict::FormatDamaged)
        return RepairOutcome::Mended;
    return m_plan.nRemainsLength > 0 ? RepairOutcome::Written : RepairOutcome::Inserted;
}

bool KorvaWavFile::WriteRepair(int fd, const RepairPlan& plan)
{
    for (const RepairPlan::Patch& patch : plan.patches)
        if (!riff::WriteAt(fd, patch.nOffset, patch.bytes.data(), patch.bytes.size()))
            return false;
    return true;
}

bool KorvaWavFile::ShapeInPlace(int fd, uint64_t nLength, const RepairPlan& plan)
{
    if (plan.edits.empty())
        return true;
    const std::unique_ptr<uint8_t[]> pBuffer(new (std::nothrow) uint8_t[riff::kBlockSize]());
    if (!pBuffer)
        return false;
    // From the last edit to the first, so that each one's offsets still hold.
    for (auto edit = plan.edits.rbegin(); edit != plan.edits.rend(); ++edit)
    {
        const uint64_t nFrom = edit->nAt + edit->nDrop, nTo = edit->nAt + edit->nInsert;
        if (nFrom != nTo && riff::MoveBytes(fd, nFrom, fd, nTo, nLength - nFrom, pBuffer.get(),
                                            riff::kBlockSize) != riff::Moved::All)
            return false;
        nLength = nLength - nFrom + nTo;
        const std::vector<uint8_t> zeros(edit->nInsert, 0);
        if (!riff::WriteAt(fd, edit->nAt, zeros.data(), zeros.size()))
            return false;
    }
    return ftruncate(fd, static_cast<off_t>(nLength)) == 0;
}
