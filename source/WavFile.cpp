#include "WavFile.h"

#include <cstring>

#include "RiffIO.h"

namespace
{
constexpr uint32_t kFmtFieldBytes = 16; // the six fields the reader takes from a fmt body
} // namespace

CWavFile::CWavFile(const char* pszPath) : CRiffFile(pszPath)
{
    DoGetProperties(true);
}

bool CWavFile::CheckHeader()
{
    char szId[5];
    if (!riff::Seek(m_pFile, 0) || !riff::ReadId(m_pFile, szId))
        return true;
    return strcmp(szId, "RIFF") != 0;
}

bool CWavFile::GetProperties(uint64_t nOffset)
{
    char szId[5];
    if (!riff::Seek(m_pFile, nOffset) || !riff::ReadId(m_pFile, szId) || strcmp(szId, "fmt ") != 0)
        return false;
    uint32_t nSize = 0;
    if (!riff::ReadU32(m_pFile, m_bIntelByteOrder, nSize))
        return true;

    // A body shorter than 16 bytes, or one cut off by the end of the file,
    // gives only the fields whose bytes are all there; the rest keep their values.
    uint8_t body[kFmtFieldBytes];
    const size_t nWanted = nSize < kFmtFieldBytes ? nSize : kFmtFieldBytes;
    const size_t nHave = fread(body, 1, nWanted, m_pFile);
    const auto u16 = [&](size_t at, uint16_t& field)
    {
        if (at + 2 <= nHave)
        {
            uint16_t n;
            memcpy(&n, body + at, 2);
            field = m_bIntelByteOrder ? n : riff::Swap16(n);
        }
    };
    const auto u32 = [&](size_t at, uint32_t& field)
    {
        if (at + 4 <= nHave)
        {
            uint32_t n;
            memcpy(&n, body + at, 4);
            field = m_bIntelByteOrder ? n : riff::Swap32(n);
        }
    };
    u16(0, m_nFormatTag);
    u16(2, m_nChannels);
    u32(4, m_nSampleRate);
    u32(8, m_nBytesPerSec);
    u16(12, m_nBlockAlign);
    u16(14, m_nBitsPerSample);
    return true;
}

bool CWavFile::GetDataProperties(uint64_t nOffset)
{
    char szId[5];
    if (!riff::Seek(m_pFile, nOffset) || !riff::ReadId(m_pFile, szId) || strcmp(szId, "data") != 0)
        return false;
    uint32_t nSize = 0;
    if (riff::ReadU32(m_pFile, m_bIntelByteOrder, nSize))
        m_nDataLength = nSize;
    return true;
}

void CWavFile::DoGetProperties(bool bClose)
{
    if (!Open("r"))
        return;
    m_bNotRiff = CheckHeader();

    const auto search = [this](const char* pszChunk) -> uint64_t
    { return SearchForChunk(m_pFile, riff::kHeaderSize, pszChunk, false, m_bIntelByteOrder); };
    GetProperties(search("fmt "));
    search("bext"); // walked for its trace; the Broadcast Wave readers are given its offset
    m_nRegnOffset = search("regn");
    m_nDataOffset = search("data");
    GetDataProperties(m_nDataOffset);
    m_nCueOffset = search("cue ");
    m_bHasCue = m_nCueOffset != 0;
    m_nAfjxOffset = search("AFJx");
    m_bHasAfjx = m_nAfjxOffset != 0;

    if (bClose)
        Close();
}

bool CWavFile::SetPath(const char* pszPath)
{
    const bool bSet = CAudioFile::SetPath(pszPath, true);
    if (bSet)
        DoGetProperties(true);
    return bSet;
}

bool CWavFile::SetPath(const char& rPath)
{
    return SetPath(&rPath);
}
