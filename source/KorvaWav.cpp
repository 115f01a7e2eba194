#include "KorvaWav.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "RiffIO.h"
#include "Trace.h"

namespace
{
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kMono = 1;
constexpr uint32_t kFormatBodySize = 16;

// A chunk identifier is four printable ASCII bytes; the remains of a lost
// format chunk (zeros, a wiped identifier) are not.
bool IsPrintableId(const char (&szId)[5])
{
    return std::all_of(szId, szId + 4, [](char c) { return c >= 0x20 && c <= 0x7E; });
}
} // namespace

bool KorvaWavFile::SetPath(const char* pszPath, bool bIntelByteOrder)
{
    const bool bSet = CAudioFile::SetPath(pszPath, bIntelByteOrder);
    if (bSet)
        DoGetProperties(true);
    return bSet;
}

bool KorvaWavFile::RepairFMTChunk(uint32_t nSampleRate, uint16_t nBitsPerSample)
{
    Close();
    if (!Open("r+"))
    {
        m_eOutcome = RepairOutcome::OpenFailed;
        return false;
    }
    const auto finish = [this](RepairOutcome eOutcome, bool bResult)
    {
        // A write that only fails when the buffer reaches the disk fails the repair too.
        if (fflush(m_pFile) != 0 && bResult)
        {
            eOutcome = RepairOutcome::WriteFailed;
            bResult = false;
        }
        Close();
        m_eOutcome = eOutcome;
        return bResult;
    };

    if (SearchForChunk(m_pFile, riff::kHeaderSize, "fmt ", false, m_bIntelByteOrder) != 0)
    {
        CTrace::Line("FMT Chunk Exists - return");
        return finish(RepairOutcome::FormatExists, false);
    }
    const uint64_t nBextOffset =
        SearchForChunk(m_pFile, riff::kHeaderSize, "bext", false, m_bIntelByteOrder);
    if (nBextOffset == 0)
        return finish(RepairOutcome::NoBext, true);

    char szId[5];
    uint32_t nBextSize = 0;
    if (!riff::Seek(m_pFile, nBextOffset) || !riff::ReadId(m_pFile, szId) ||
        strcmp(szId, "bext") != 0 || !riff::ReadU32(m_pFile, m_bIntelByteOrder, nBextSize))
        return finish(RepairOutcome::BextUnreadable, false);

    // The new chunk goes straight behind the last declared byte of bext, or behind
    // the pad byte a writer put there.
    const uint64_t nBehindBext = nBextOffset + riff::kChunkHeaderSize + nBextSize;
    const uint64_t nFileLength = m_nFileLength;
    if (nBehindBext > nFileLength)
        return finish(RepairOutcome::BextUnreadable, false);

    const Placement place = PlaceFormatChunk(nBehindBext, nFileLength, nBextSize % 2 == 1);
    if (!place.bInsert)
    {
        // The remains of the lost chunk are written over; the RIFF size already counts them.
        if (!riff::Seek(m_pFile, place.nOffset) || !WriteFormatChunk(nSampleRate, nBitsPerSample))
            return finish(RepairOutcome::WriteFailed, false);
        return finish(RepairOutcome::Written, true);
    }

    // A live chunk stands there (data, JUNK, ...): make room instead of destroying it.
    uint32_t nRiffSize = 0;
    if (!riff::Seek(m_pFile, 4) || !riff::ReadU32(m_pFile, m_bIntelByteOrder, nRiffSize))
        return finish(RepairOutcome::WriteFailed, false);
    if (nRiffSize > UINT32_MAX - kFormatChunkSize ||
        nFileLength + kFormatChunkSize > riff::kMaxRiffLength)
        return finish(RepairOutcome::TooLarge, false);
    if (!MoveTailUp(place.nOffset, nFileLength, kFormatChunkSize) ||
        !riff::Seek(m_pFile, place.nOffset) || !WriteFormatChunk(nSampleRate, nBitsPerSample) ||
        !riff::Seek(m_pFile, 4) ||
        !riff::WriteU32(m_pFile, m_bIntelByteOrder, nRiffSize + kFormatChunkSize))
        return finish(RepairOutcome::WriteFailed, false);
    return finish(RepairOutcome::Inserted, true);
}

KorvaWavFile::Placement KorvaWavFile::PlaceFormatChunk(uint64_t nBehindBext, uint64_t nFileLength,
                                                       bool bOddBext)
{
    // A live chunk right behind bext, or one 24 bytes on behind the remains.
    if (IsLiveChunkHeaderAt(nBehindBext, nFileLength))
        return {nBehindBext, true};
    if (IsLiveChunkHeaderAt(nBehindBext + kFormatChunkSize, nFileLength))
        return {nBehindBext, false};
    // A writer that pads odd chunks left a zero byte behind bext: the lost
    // chunk stood behind that pad byte, and so does what follows it.
    uint8_t nPad = 0xFF;
    if (bOddBext && riff::Seek(m_pFile, nBehindBext) && riff::ReadBytes(m_pFile, &nPad, 1) &&
        nPad == 0)
    {
        if (IsLiveChunkHeaderAt(nBehindBext + 1, nFileLength))
            return {nBehindBext + 1, true};
        if (IsLiveChunkHeaderAt(nBehindBext + 1 + kFormatChunkSize, nFileLength))
            return {nBehindBext + 1, false};
    }
    return {nBehindBext, false};
}

bool KorvaWavFile::IsLiveChunkHeaderAt(uint64_t nOffset, uint64_t nFileLength)
{
    char szId[5];
    uint32_t nSize = 0;
    if (nOffset + riff::kChunkHeaderSize > nFileLength || !riff::Seek(m_pFile, nOffset) ||
        !riff::ReadId(m_pFile, szId) || !riff::ReadU32(m_pFile, m_bIntelByteOrder, nSize))
        return false;
    return IsPrintableId(szId) && nSize <= nFileLength - nOffset - riff::kChunkHeaderSize;
}

bool KorvaWavFile::WriteFormatChunk(uint32_t nSampleRate, uint16_t nBitsPerSample)
{
    const uint16_t nBlockAlign = nBitsPerSample == 16 ? 2 : 3;
    const uint32_t nBytesPerSec = nSampleRate * nBlockAlign;
    // Field by field, each through the byte-order flag, so the file is
    // little-endian whatever the host.
    return riff::WriteBytes(m_pFile, "fmt ", 4) &&
           riff::WriteU32(m_pFile, m_bIntelByteOrder, kFormatBodySize) &&
           riff::WriteU16(m_pFile, m_bIntelByteOrder, kFormatPcm) &&
           riff::WriteU16(m_pFile, m_bIntelByteOrder, kMono) &&
           riff::WriteU32(m_pFile, m_bIntelByteOrder, nSampleRate) &&
           riff::WriteU32(m_pFile, m_bIntelByteOrder, nBytesPerSec) &&
           riff::WriteU16(m_pFile, m_bIntelByteOrder, nBlockAlign) &&
           riff::WriteU16(m_pFile, m_bIntelByteOrder, nBitsPerSample);
}

bool KorvaWavFile::MoveTailUp(uint64_t nFrom, uint64_t nFileLength, uint64_t nDistance)
{
    const std::unique_ptr<uint8_t[]> pBuffer(new (std::nothrow) uint8_t[kBlockSize]);
    if (!pBuffer)
        return false;
    // From the end downwards, so that no byte is overwritten before it has moved.
    uint64_t nPos = nFileLength;
    while (nPos > nFrom)
    {
        const uint64_t nBlock = std::min<uint64_t>(kBlockSize, nPos - nFrom);
        nPos -= nBlock;
        if (!riff::Seek(m_pFile, nPos) || !riff::ReadBytes(m_pFile, pBuffer.get(), nBlock) ||
            !riff::Seek(m_pFile, nPos + nDistance) ||
            !riff::WriteBytes(m_pFile, pBuffer.get(), nBlock))
            return false;
    }
    return true;
}

const char* KorvaWavFile::DescribeOutcome(RepairOutcome eOutcome)
{
    switch (eOutcome)
    {
    case RepairOutcome::NotRun:
        return "not repaired";
    case RepairOutcome::Written:
        return "fmt chunk written behind bext";
    case RepairOutcome::Inserted:
        return "fmt chunk inserted behind bext";
    case RepairOutcome::FormatExists:
        return "already has a format chunk";
    case RepairOutcome::NoBext:
        return "no bext chunk";
    case RepairOutcome::OpenFailed:
        return "could not be opened for update";
    case RepairOutcome::BextUnreadable:
        return "bext chunk runs past the end of the file";
    case RepairOutcome::TooLarge:
        return "no room for a fmt chunk within the 4 GiB RIFF limit";
    case RepairOutcome::WriteFailed:
        return "a read or write failed during the repair";
    }
    return "not repaired";
}
