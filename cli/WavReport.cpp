#include "WavReport.h"

#include "RiffIO.h"
#include "WavFile.h"

#include <algorithm>
#include <bit>

namespace
{
constexpr bool kHostIsIntel = std::endian::native == std::endian::little;

bool listsChunk(const std::vector<CRiffFile::ChunkEntry>& chunks, const char* pszId)
{
    return std::any_of(chunks.begin(), chunks.end(),
                       [pszId](const auto& entry) { return entry.id == pszId; });
}
} // namespace

WavReport WavReport::Of(const std::string& path)
{
    WavReport report;
    report.path = path;
    CWavFile file;
    if (!file.CAudioFile::SetPath(path.c_str(), kHostIsIntel))
    {
        report.error = "path too long";
        return report;
    }
    if (!file.Open("r"))
    {
        report.error = file.FileExists() ? "cannot be opened" : "no such file";
        return report;
    }
    report.nLength = file.GetLength();
    report.bRiff = !file.CheckHeader();
    report.chunks = CRiffFile::ListChunks(file.m_pFile, riff::kHeaderSize, kHostIsIntel);
    const uint64_t nBextOffset =
        CRiffFile::SearchForChunk(file.m_pFile, riff::kHeaderSize, "bext", false, kHostIsIntel);
    if (nBextOffset != 0)
        report.nTimeReference = file.GetTimeStampFromBWF(nBextOffset);
    report.bHasBext = nBextOffset != 0 && file.m_bHasBext;
    file.Close();

    file.DoGetProperties(true);
    report.bHasFormat = listsChunk(report.chunks, "fmt ");
    report.nFormatTag = file.m_nFormatTag;
    report.nChannels = file.m_nChannels;
    report.nSampleRate = file.m_nSampleRate;
    report.nBytesPerSec = file.m_nBytesPerSec;
    report.nBlockAlign = file.m_nBlockAlign;
    report.nBitsPerSample = file.m_nBitsPerSample;
    report.bHasData = file.m_nDataOffset != 0;
    report.nDataOffset = file.m_nDataOffset;
    report.nDataLength = file.GetDataLength();
    report.nFrames = report.bHasFormat && report.bHasData ? file.GetFullFileRegionEnd() : 0;
    report.nRegions = file.GetNumberOfProToolsRegions();
    report.bHasCue = file.m_bHasCue;
    report.bHasAfjx = file.m_bHasAfjx;
    return report;
}

std::string WavReport::verdict() const
{
    if (!bRiff)
        return "not a RIFF file";
    if (bHasFormat)
        return "intact";
    if (!bHasBext)
        return "no bext chunk: not repairable";
    return "repairable: bext present, format chunk missing";
}
